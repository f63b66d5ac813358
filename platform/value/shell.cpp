#include "interface.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace bg {

bool Interface::showInFileManager(const std::string& path) {
    QFileInfo info(QString::fromStdString(path));
    if (!info.exists()) {
        LOGW("show in file manager: %s does not exist", path.c_str());
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList {QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
        QDBusMessage answer = bus.call(call, QDBus::Block, 3000);
        if (answer.type() == QDBusMessage::ReplyMessage)
            return true;
        LOGD("file manager over D-Bus: %s", answer.errorMessage().toUtf8().constData());
    }
    // No file manager service: open the folder instead.
    QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace bg
