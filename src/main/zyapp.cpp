#include "zyapp.h"
#include "kept-copies.h"

#include "project-archive.h"
#include "project-file.h"
#include "project-parts.h"
#include "qssmanager.h"
#include "main-window.h"
#include "render/export/export-thread.h"
#include "render/record/record-manager.h"
#include "render/record/wav-encoder.h"
#include "resource/material-manager.h"
#include "resource/resource-widget.h"
#include "render/render-manager.h"
#include "startup-plan.h"
#include "termination-watcher.h"
#include "timeline/frame-dispatcher.h"
#include "timeline/timeline-tree-model.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kRecoveryPromptDelayMs = 800;

} // namespace

ZyApp::ZyApp(int& argc, char** argv)
    : SingleApplicationWrapper(argc, argv, true,
                               SingleApplication::User | SingleApplication::System |
                                   SingleApplication::SecondaryNotification,
                               1000) {
    if (isSecondary())
        return;
    // The environment's proxy before the program sets http_proxy itself.
    systemProxy();
    // The design's font family, served by the CJK font Linux desktops ship.
    QFont::insertSubstitution(QStringLiteral("Microsoft Yahei"), QStringLiteral("Noto Sans CJK SC"));
    m_archive = new ProjectArchive(this);
    connect(m_archive, &ProjectArchive::finished, this, &ZyApp::sig_archiveFinished);
    m_termination = new TerminationWatcher(this);
    connect(m_termination, &TerminationWatcher::terminationRequested, this, [this](int signal) {
        // A logout or a kill from the shell: work not saved goes into the
        // automatic copy first, offered at the next start as after a crash
        // (the last 30-second copy, or none, would lose the latest edits).
        if (m_interactive && m_sections && !zya::UndoController::instance()->isClean()) {
            LOGW("signal %d: the unsaved work is kept in the automatic copy before Korvel ends", signal);
            saveProject(true, false, QString());
        }
        m_endRequested = true;
        QCoreApplication::quit();
    });
}

ZyApp::~ZyApp() {
    // An archive still copying is told to stop and waited for: its thread
    // reports back to this object.
    if (m_archive)
        m_archive->stop();
    delete m_mainWindow;
    // The headless timeline's clips hold preview items of the render manager.
    m_headlessParts.reset();
    m_headlessFrames.reset();
    m_headlessTimeline.reset();
    delete m_renderManager;
    // The archive's progress window is a widget: it goes while the
    // application still stands.
    delete m_archive;
    GsDevice::DestroyDefaultDevice();
    // Objects the history owns go before the application does.
    zya::UndoController::destroyInstance();
}

bool ZyApp::initialize(bool showWindow) {
    loadProxySettings();
    auto* render = new RenderManager;
    if (!render->init()) {
        delete render;
        LOGE("---> 渲染管理器创建失败");
        return false;
    }
    m_renderManager = render;
    auto* window = new MainWindow(render);
    m_mainWindow = window;
    setProjectSections(window->projectSections());
    // Media that were missing or broken and came back are taken up again
    // when the user returns to the editor (from the file manager, say).
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            relinkReturnedMedia();
    });
    if (showWindow)
        window->show();
    m_projectPath = untitledProjectPath();
    zya::UndoController::instance()->setClean();
    LOGD("Korvel %s started, project %s", kVersion, qUtf8Printable(m_projectPath));
    return true;
}

bool ZyApp::initializeHeadless() {
    auto* render = new RenderManager;
    if (!render->init()) {
        delete render;
        LOGE("no graphics device for the export");
        return false;
    }
    m_renderManager = render;
    m_headlessTimeline = std::make_unique<TimeLineTreeModel>();
    m_headlessTimeline->setRenderManager(render);
    m_headlessFrames = std::make_unique<FrameDispatcher>(m_headlessTimeline.get());
    m_headlessParts = std::make_unique<ProjectParts>(render, m_headlessTimeline.get());
    setProjectSections(m_headlessParts.get());
    if (ExportManager* exporter = render->exportManager())
        exporter->setSource(m_headlessFrames.get());
    connect(render, &RenderManager::sig_startExportPrepare, this, [this] { m_headlessFrames->beginExport(); });
    connect(render, &RenderManager::sig_stopExportPrepare, this, [this] { m_headlessFrames->endExport(); });
    m_projectPath = untitledProjectPath();
    zya::UndoController::instance()->setClean();
    return true;
}

void ZyApp::startSession(const QStringList& arguments) {
    QString autoSave = QString::fromStdString(bg::configText("autoSavePath"));
    // A copy put off at an earlier start comes up when no newer one does
    // (a newer one first: the put-off ones wait for the starts after).
    QList<KeptCopy> kept = keptcopies::read();
    const auto first = std::find_if(kept.begin(), kept.end(), [](const KeptCopy& k) { return QFileInfo(k.copy).isFile(); });
    if (first != kept.end() && (autoSave.isEmpty() || !QFileInfo(autoSave).isFile())) {
        bg::iface()->configSet("autoSavePath", first->copy.toStdString());
        bg::iface()->configSet(kAutoSaveOwnerKey, first->owner.toStdString());
        autoSave = first->copy;
    }
    // The one offered now is kept again only when it is put off again.
    const auto offered = std::remove_if(kept.begin(), kept.end(), [&](const KeptCopy& k) { return k.copy == autoSave; });
    if (offered != kept.end()) {
        kept.erase(offered, kept.end());
        keptcopies::write(kept);
    }
    // This session's copies never take the place of those still put off.
    m_keptCopies = keptcopies::paths(kept);
    StartupPlan plan = planStartup(autoSave, arguments);
    if (!plan.recoveryPath.isEmpty()) {
        QTimer::singleShot(kRecoveryPromptDelayMs, this,
                           [this, plan] { showRecoveryPrompt(plan.recoveryPath, plan.projectToOpen); });
        return;
    }
    recordAutoSave(QString(), QString());
    if (!plan.projectToOpen.isEmpty())
        openProject(plan.projectToOpen);
    keepUnfinishedTake();
}

void ZyApp::keepUnfinishedTake() {
    const QStringList takes = RecordManager::unfinishedTakes();
    if (takes.isEmpty() || !m_interactive || m_endRequested)
        return;
    bg::iface()->configSet(RecordManager::kUnfinishedTakeKey, std::string());
    bg::iface()->configSave();
    auto* window = qobject_cast<MainWindow*>(m_mainWindow.data());
    MaterialManager* library = window ? window->resourceWidget()->manager() : nullptr;
    const QStringList used = m_sections ? m_sections->mediaFiles() : QStringList();
    QStringList kept;
    for (const QString& take : takes) {
        const QFileInfo file(take);
        if (!file.isFile() || file.size() <= wav::WavEncoder::kPlainHeaderBytes) {
            LOGW("record: the take %s cut off by the last crash holds nothing", qUtf8Printable(take));
            continue;
        }
        // Its header was last written up to a second before the crash: it
        // is made to say all the sound the file holds.
        wav::repairSizes(QFile::encodeName(take).constData());
        // A recovered copy made after the take already holds it.
        if (used.contains(take) ||
            (library && library->FindMaterial([&](const MaterialObject* o) { return o->path == take; })))
            continue;
        // Never saved in a project: the library keeps it.
        LOGW("record: the take %s was cut off by the last crash; it goes into the library", qUtf8Printable(take));
        kept.append(take);
    }
    if (kept.isEmpty())
        return;
    if (library)
        library->AddMaterialFiles(kept, false);
    QStringList shown;
    for (const QString& take : qAsConst(kept))
        shown.append(QDir::toNativeSeparators(take));
    showHint(tr("record.UnfinishedTake").arg(shown.join(QLatin1Char('\n'))));
}

void ZyApp::showRecoveryPrompt(const QString& tempPath, const QString& projectToOpen) {
    m_keptCopies.removeAll(tempPath); // offered now: kept again only when put off again
    QString text = tr("Mainwindow.restart").arg(tempPath);
    // A copy put off, then its project saved again: going on with the copy
    // would go back behind that save.
    const QFileInfo owner(QString::fromStdString(bg::configText(kAutoSaveOwnerKey)));
    if (owner.isAbsolute() && owner.isFile() && owner.lastModified() > QFileInfo(tempPath).lastModified())
        text += QStringLiteral("\n\n") + tr("Mainwindow.CopyOlder").arg(QDir::toNativeSeparators(owner.filePath()));
    QMessageBox box(QMessageBox::Information, tr("MainWindow.Hint"), text, QMessageBox::NoButton, m_mainWindow);
    box.setObjectName(QStringLiteral("recoveryPrompt"));
    QPushButton* resume = box.addButton(tr("Mainwindow.continue"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(tr("Mainwindow.discard"), QMessageBox::DestructiveRole);
    QPushButton* later = box.addButton(tr("titlebar.Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(resume);
    box.setEscapeButton(later);
    box.exec();
    // Only the user's own "discard" deletes the copy: Escape, closing the
    // box or a logout (a signal ends the loop) keep it for the next start.
    const bool putOff = box.clickedButton() != resume && box.clickedButton() != discard;
    bool resumed = false;
    if (box.clickedButton() == resume)
        resumed = resumeAutoSave(true, tempPath);
    else if (box.clickedButton() == discard)
        resumeAutoSave(false, tempPath);
    else
        keepCopyForLater(tempPath);
    // The project the program was started with, unless the user went on
    // with the recovered work instead.
    if (!projectToOpen.isEmpty() && resumed) {
        if (currentProjectPath() != projectToOpen)
            LOGW("recovery: %s is not opened; the recovered project is", qUtf8Printable(projectToOpen));
    } else if (!projectToOpen.isEmpty() && putOff &&
               (project::autoSavePath(projectToOpen) == tempPath ||
                project::autoSaveFallbackPath(projectToOpen) == tempPath)) {
        // The copy kept for later is this project's own: its next automatic
        // copy, or closing it, would replace or delete the kept one.
        LOGW("recovery: %s is not opened; its unsaved work kept in %s is offered again at the next start",
             qUtf8Printable(projectToOpen), qUtf8Printable(tempPath));
    } else if (!projectToOpen.isEmpty() && !m_endRequested) {
        openProject(projectToOpen); // a copy kept for later stays recorded
    }
    // Into the project the user goes on with.
    keepUnfinishedTake();
}

void ZyApp::keepCopyForLater(const QString& tempPath) {
    LOGD("recovery: %s kept for the next start", qUtf8Printable(tempPath));
    // This session's own copies go elsewhere, and closing or saving its
    // projects neither deletes it nor forgets it. Copies put off before it
    // stay put off, behind it.
    QList<KeptCopy> kept = keptcopies::read();
    kept.erase(std::remove_if(kept.begin(), kept.end(), [&](const KeptCopy& k) { return k.copy == tempPath; }),
               kept.end());
    kept.prepend({tempPath, QString::fromStdString(bg::configText(kAutoSaveOwnerKey))});
    // Kept under names of their own: this session's copy takes "autoSavePath".
    keptcopies::write(kept);
    m_keptCopies = keptcopies::paths(kept);
}

bool ZyApp::resumeAutoSave(bool resume, const QString& tempPath) {
    if (!resume) {
        if (!QFile::remove(tempPath))
            LOGW("recovery: %s cannot be deleted", qUtf8Printable(tempPath));
        recordAutoSave(QString(), QString());
        return false;
    }
    // The project the copy was made of. Copies recorded before the owner was
    // (their names were cut at the first dot, so two projects could share
    // one) belong to nobody for sure: they come back untitled.
    const QString owner = QString::fromStdString(bg::configText(kAutoSaveOwnerKey));
    // The copy is read before it is trusted, and it never replaces the
    // user's file: the recovered work opens modified, and the user's own
    // Save writes it.
    if (!readProjectFile(tempPath)) {
        // Set aside, where no later automatic copy writes: what it holds can
        // still be mended by hand. One that cannot even be opened is left.
        const QString aside = QFileInfo(tempPath).isReadable() ? setAside(tempPath) : tempPath;
        LOGE("recovery: the automatic copy %s cannot be read; it is kept as %s", qUtf8Printable(tempPath),
             qUtf8Printable(aside));
        recordAutoSave(QString(), QString());
        showHint(tr("Mainwindow.RecoveryFail")
                     .arg(QDir::toNativeSeparators(tempPath), QDir::toNativeSeparators(aside)));
        return false;
    }
    const QFileInfo project(owner);
    if (!owner.isEmpty() && project.isFile()) {
        m_projectPath = project.absoluteFilePath();
        emit sig_updateProjectName(project.completeBaseName(), true);
    } else {
        // Never saved (or its file is gone): still untitled, so Save asks where.
        m_projectPath = untitledProjectPath();
        m_archived = false;
        emit sig_updateProjectName(tr("titlebar.Untitle"), true);
    }
    emit sig_updateProjectName(tr("Mainwindow.Recovered").arg(QFileInfo(tempPath).fileName()), false);
    zya::UndoController::instance()->setModified();
    // Still pending until the user saves: a crash now offers it again.
    m_recoveredCopy = tempPath;
    LOGW("recovery: %s opened as %s", qUtf8Printable(tempPath), qUtf8Printable(m_projectPath));
    offerMissingMedia();
    return true;
}

QString ZyApp::setAside(const QString& copy) {
    for (int n = 1; n <= 100; ++n) {
        const QString aside = copy + (n == 1 ? QStringLiteral(".damaged") : QStringLiteral(".damaged-%1").arg(n));
        if (QFileInfo::exists(aside))
            continue;
        if (QFile::rename(copy, aside))
            return aside;
        break;
    }
    LOGW("recovery: %s cannot be set aside; it stays where it lies", qUtf8Printable(copy));
    return copy;
}

void ZyApp::toggleFullPreview() {
    m_fullPreview = !m_fullPreview;
    if (auto* window = qobject_cast<MainWindow*>(m_mainWindow.data()))
        window->setPanelsVisible(!m_fullPreview);
}

void ZyApp::loadProxySettings() {
    m_useSystemProxy = bg::configBool("use_system_proxy", false);
    m_proxyUrl = QByteArray::fromStdString(bg::configText("proxy_url"));
    m_proxyPort = QByteArray::fromStdString(bg::configText("proxy_port"));
    applyProxy();
}

QByteArray ZyApp::chooseProxyText(bool useSystem, const QByteArray& system, const QByteArray& url,
                                  const QByteArray& port) {
    if (useSystem)
        return system;
    if (!url.isEmpty() && !port.isEmpty())
        return url + ":" + port;
    return QByteArray();
}

void ZyApp::applyProxy() {
    QByteArray proxy = chooseProxyText(m_useSystemProxy, systemProxy(), m_proxyUrl, m_proxyPort);
    qputenv("http_proxy", proxy);
    bg::iface()->setServiceSetting("http_proxy", proxy.toStdString());
    if (proxy.isEmpty()) {
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    QUrl url = QUrl::fromUserInput(QString::fromUtf8(proxy));
    if (!url.isValid() || url.host().isEmpty()) {
        LOGW("proxy %s is not a host and port; no proxy is used", proxy.constData());
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, url.host(), quint16(url.port(8080)), QString(), QString()));
}

void ZyApp::setProxy(const QByteArray& url, const QByteArray& port) {
    m_proxyUrl = url;
    m_proxyPort = port;
    bg::iface()->configSet("proxy_url", url.toStdString());
    bg::iface()->configSet("proxy_port", port.toStdString());
    bg::iface()->configSave();
    applyProxy();
}

void ZyApp::setUseSystemProxy(bool use) {
    m_useSystemProxy = use;
    bg::configSetBool("use_system_proxy", use);
    bg::iface()->configSave();
    applyProxy();
}

QByteArray ZyApp::systemProxy() {
    if (m_systemProxyRead)
        return m_systemProxy;
    m_systemProxyRead = true;
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(QUrl(QStringLiteral("http://example.org/"))));
    for (const QNetworkProxy& p : proxies) {
        if (p.type() == QNetworkProxy::HttpProxy && !p.hostName().isEmpty()) {
            m_systemProxy = p.hostName().toUtf8() + ":" + QByteArray::number(p.port());
            break;
        }
    }
    return m_systemProxy;
}
