#include "desktop-integration.h"

#include "project-file.h"
#include "recent-files.h"
#include "zyapp.h"

#include "value/interface.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QWidget>

namespace {

// How often a request that waits for a dialog looks again.
constexpr int kRetryMs = 300;

} // namespace

namespace desktop {

void removeEarlierDesktopFiles() {
    QStringList shares;
    // Beside the program: <prefix>/bin/korvel and <prefix>/share.
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!program.isEmpty())
        shares << QDir::cleanPath(QFileInfo(program).absolutePath() + QStringLiteral("/../share"));
    shares << QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    shares.removeDuplicates();
    for (const QString& share : shares) {
        QStringList old = {share + QStringLiteral("/applications/korvel.desktop"),
                           share + QStringLiteral("/mime/packages/korvel.xml"),
                           share + QStringLiteral("/icons/hicolor/scalable/apps/korvel.svg")};
        const QDir icons(share + QStringLiteral("/icons/hicolor"));
        for (const QString& size : icons.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            old << icons.filePath(size + QStringLiteral("/apps/korvel.png"));
        for (const QString& path : old) {
            if (!QFileInfo(path).isFile())
                continue;
            if (QFile::remove(path))
                LOGD("install: removed the earlier %s", qUtf8Printable(path));
            else
                LOGW("install: cannot remove the earlier %s", qUtf8Printable(path));
        }
    }
}

} // namespace desktop

DesktopIntegration::DesktopIntegration(ZyApp* app) : QObject(app), m_app(app) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (!m_waitingSet)
            return;
        if (m_busy || QApplication::activeModalWidget()) {
            m_retry.start();
            return;
        }
        const QString file = m_waiting;
        m_waiting.clear();
        m_waitingSet = false;
        openRequested(file);
    });
    connect(app, &SingleApplication::activationRequested, this, &DesktopIntegration::activate);
    // Whatever enters the Works list is the user's own project: the desktop
    // lists it too.
    connect(app, &ZyApp::sig_prependHistory, this, [](const QString& path) { recent::addProject(path); });
}

void DesktopIntegration::activate(const QString& file) {
    raiseWindow();
    if (file.isEmpty())
        return;
    if (m_busy || QApplication::activeModalWidget()) {
        LOGD("open request for %s waits for the open dialog", qUtf8Printable(file));
        // One project is open at a time: the last request is the one kept.
        if (m_waitingSet && m_waiting != file)
            LOGW("open request for %s is replaced by the later one for %s", qUtf8Printable(m_waiting),
                 qUtf8Printable(file));
        m_waiting = file;
        m_waitingSet = true;
        m_retry.start();
        return;
    }
    openRequested(file);
}

void DesktopIntegration::raiseWindow() {
    QWidget* window = m_app->mainWindow();
    if (!window)
        return;
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

void DesktopIntegration::openRequested(const QString& file) {
    m_busy = true;
    const QString current = m_app->currentProjectPath();
    if (!current.isEmpty() && QFileInfo(current).canonicalFilePath() == QFileInfo(file).canonicalFilePath()) {
        LOGD("open request: %s is the open project", qUtf8Printable(file));
    } else if (const QString refused = refusal(file); !refused.isEmpty()) {
        LOGW("open request: %s is not a project Korvel can read", qUtf8Printable(file));
        showHint(refused);
    } else {
        m_app->openProject(file);
    }
    m_busy = false;
}

QString DesktopIntegration::refusal(const QString& file) const {
    // Checked before the open project is given up for it.
    const QString why = project::unreadableReason(file);
    if (why.isEmpty())
        return QString();
    // A folder or a device is there, only not readable as a project.
    return (QFileInfo::exists(file) ? tr("titlebar.FileReadFail") : tr("titlebar.FileNoExist")) + QLatin1Char('\n') +
           QDir::toNativeSeparators(file) + QStringLiteral(": ") + why;
}

void DesktopIntegration::showHint(const QString& text) {
    QMessageBox box(QMessageBox::Information, tr("archivedialog.Hint"), text, QMessageBox::Ok, m_app->mainWindow());
    box.setObjectName(QStringLiteral("openRequestRefused"));
    box.button(QMessageBox::Ok)->setText(tr("archivedialog.Ok"));
    box.exec();
}
