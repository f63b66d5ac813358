#include "resource/project/project-common.h"

#include "value/interface.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace project {

namespace {
const QChar kFullWidthQuestion(0xFF1F);
const QString kForbidden = QStringLiteral("\\/:*?\"<>|") + kFullWidthQuestion;
} // namespace

bool hasForbiddenCharacters(const QString& name) {
    for (const QChar c : name) {
        if (kForbidden.contains(c))
            return true;
    }
    return false;
}

QString forbiddenCharacterList() {
    return QStringLiteral(": ") + kForbidden;
}

bool samePath(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QFileInfo fa(a), fb(b);
    const QString ca = fa.canonicalFilePath(), cb = fb.canonicalFilePath();
    if (!ca.isEmpty() && !cb.isEmpty())
        return ca == cb;
    return QDir::cleanPath(fa.absoluteFilePath()) == QDir::cleanPath(fb.absoluteFilePath());
}

void loadStyleSheet(QWidget* widget, const QString& path) {
    QFile css(path);
    if (!css.open(QIODevice::ReadOnly)) {
        LOGW("style sheet %s cannot be read: %s", qUtf8Printable(path), qUtf8Printable(css.errorString()));
        return;
    }
    widget->setStyleSheet(QString::fromUtf8(css.readAll()));
}

void showMessage(QWidget* parent, const QString& title, const QString& text, const QString& button) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(button);
    box.exec();
}

} // namespace project
