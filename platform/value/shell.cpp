#include "interface.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace bg {

namespace {

// How long the file manager may take to answer before the folder is opened instead.
constexpr int kFileManagerAnswerMs = 3000;

void openFolderOf(const QFileInfo& info) {
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        LOGW("show in file manager: the folder %s cannot be opened", folder.toUtf8().constData());
}

} // namespace

// The request goes out and the call returns: the answer (or the silence of
// a file manager that hangs) is met later in the event loop, so the window
// never waits on it. Without an answer the folder is opened instead.
bool Interface::showInFileManager(const std::string& path) {
    QFileInfo info(QString::fromStdString(path));
    if (!info.exists()) {
        LOGW("show in file manager: %s does not exist", path.c_str());
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        LOGD("show in file manager: no session bus; opening the folder of %s", path.c_str());
        openFolderOf(info);
        return true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList {QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kFileManagerAnswerMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [info](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<> reply = *w;
        if (!reply.isError())
            return;
        LOGD("show in file manager over D-Bus: %s; opening the folder of %s",
             reply.error().message().toUtf8().constData(), info.absoluteFilePath().toUtf8().constData());
        openFolderOf(info);
    });
    return true;
}

} // namespace bg
