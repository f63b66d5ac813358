#include "zyapp.h"

#include "qssmanager.h"
#include "render/display-window.h"
#include "render/render-manager.h"
#include "startup-plan.h"
#include "termination-watcher.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/toolbar-widget.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QMainWindow>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kRecoveryPromptDelayMs = 800;

// The frame requests of the player, recorder and exporter reach the clip
// view; its answers go back to the render manager on the asking thread.
void connectTimelineToRender(TimeLineWidget* timeline, ToolBarWidget* toolbar, RenderManager* render) {
    TimeLineGraphicsView* view = timeline->view();
    QObject::connect(render, &RenderManager::sig_resetFrame, view, &TimeLineGraphicsView::slot_resetFrame);
    QObject::connect(render, &RenderManager::sig_frontFrameRequest, view,
                     &TimeLineGraphicsView::slot_frontFrameRequest);
    QObject::connect(render, &RenderManager::sig_backFrameRequest, view, &TimeLineGraphicsView::slot_backFrameRequest);
    QObject::connect(render, &RenderManager::sig_audioSourceItem, view, &TimeLineGraphicsView::slot_audioSourceItem);
    QObject::connect(render, &RenderManager::sig_startExportPrepare, view,
                     &TimeLineGraphicsView::slot_startExportPrepare);
    QObject::connect(render, &RenderManager::sig_stopExportPrepare, view,
                     &TimeLineGraphicsView::slot_stopExportPrepare);
    QObject::connect(view, &TimeLineGraphicsView::sig_deliverAudio, render, &RenderManager::deliverAudio,
                     Qt::DirectConnection);
    QObject::connect(view, &TimeLineGraphicsView::sig_deliverExportFrame, render, &RenderManager::deliverExportFrame,
                     Qt::DirectConnection);
    QObject::connect(timeline, &TimeLineWidget::sig_opertorUi, render, &RenderManager::slot_opertorUi);
    QObject::connect(toolbar, &ToolBarWidget::sig_opertorUi, render, &RenderManager::slot_opertorUi);
    QObject::connect(toolbar, &ToolBarWidget::sig_recordAudio, render, &RenderManager::slot_recordAudio);
}

// Stands in for the editor window until the editor's panels exist: the
// preview of the scene, and a line of text.
QWidget* createPlaceholderWindow(RenderManager* render) {
    auto* window = new QMainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setObjectName(QStringLiteral("MainWindow"));
    window->setWindowTitle(QCoreApplication::translate("MainWindow", "MainWindow.Title"));
    auto* central = new QWidget(window);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(12);
    auto* preview = new ZyeDisplayWindow(central);
    preview->setObjectName(QStringLiteral("widget_preview"));
    preview->setScene(render->scene());
    QObject::connect(render, &RenderManager::sig_sendScene, preview, &ZyeDisplayWindow::setScene);
    // Until the preview panel brings its zoom slider, the canvas fits the window.
    auto fit = [preview, render] {
        if (ZyeGsView* view = preview->view()) {
            double zoom = std::min(double(view->width()) / render->sceneWidth(),
                                   double(view->height()) / render->sceneHeight());
            view->setZoom(zoom * 0.95);
        }
    };
    QObject::connect(preview, &ZyeDisplayWindow::ViewCreated, preview, fit);
    QObject::connect(preview, &ZyeDisplayWindow::ViewResized, preview, fit);
    // The preview above, the toolbar and the timeline below it; the user
    // moves the border between them.
    auto* splitter = new QSplitter(Qt::Vertical, central);
    splitter->setObjectName(QStringLiteral("splitter_main"));
    splitter->setChildrenCollapsible(false);
    preview->setParent(splitter);
    splitter->addWidget(preview);
    auto* bottom = new QWidget(splitter);
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->setSpacing(0);
    auto* toolbar = new ToolBarWidget(bottom);
    toolbar->setObjectName(QStringLiteral("widget_toolbar"));
    auto* timeline = new TimeLineWidget(bottom);
    timeline->setObjectName(QStringLiteral("widget_timeline"));
    timeline->model()->setRenderManager(render);
    bottomLayout->addWidget(toolbar);
    bottomLayout->addWidget(timeline, 1);
    splitter->addWidget(bottom);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    const double dpi = QssManager::dpiScale();
    preview->setMinimumHeight(int(160 * dpi));
    bottom->setMinimumHeight(int(160 * dpi));
    splitter->setSizes({int(380 * dpi), int(300 * dpi)});
    layout->addWidget(splitter, 1);
    QObject::connect(toolbar, &ToolBarWidget::sig_splitSourceItem, timeline, &TimeLineWidget::slot_splitSourceItem);
    QObject::connect(toolbar, &ToolBarWidget::sig_editSourceItem, timeline, &TimeLineWidget::slot_editSourceItem);
    QObject::connect(toolbar, &ToolBarWidget::sig_clearSourceItems, timeline,
                     &TimeLineWidget::slot_clearSourceItems);
    QObject::connect(toolbar, &ToolBarWidget::sig_scaleSliderValue, timeline,
                     &TimeLineWidget::slot_scaleSliderValue);
    QObject::connect(toolbar, &ToolBarWidget::sig_autoAlign, timeline, &TimeLineWidget::slot_autoAlign);
    QObject::connect(timeline, &TimeLineWidget::sig_scaleSliderValueChanged, toolbar,
                     &ToolBarWidget::slot_scaleSliderValueChanged);
    QObject::connect(timeline, &TimeLineWidget::sig_splitButtonEnable, toolbar,
                     &ToolBarWidget::slot_splitButtonEnable);
    QObject::connect(timeline, &TimeLineWidget::sig_editButtonEnable, toolbar,
                     &ToolBarWidget::slot_editButtonEnable);
    QObject::connect(timeline, &TimeLineWidget::sig_showTime, toolbar, &ToolBarWidget::slot_showTime);
    connectTimelineToRender(timeline, toolbar, render);
    // The toolbar undoes and redoes itself; the preview then shows the result.
    QObject::connect(&zya::UndoController::instance()->stack, &QUndoStack::indexChanged, timeline,
                     [timeline] { timeline->slot_updatePreview(); });
    central->setStyleSheet(QStringLiteral("background-color: rgb(50, 50, 50);"));
    window->setCentralWidget(central);
    new QssManager(central, true);
    window->resize(int(1280 * QssManager::dpiScale()), int(720 * QssManager::dpiScale()));
    return window;
}

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
    m_termination = new TerminationWatcher(this);
    connect(m_termination, &TerminationWatcher::terminationRequested, this, [] { QCoreApplication::quit(); });
}

ZyApp::~ZyApp() {
    delete m_mainWindow;
    delete m_renderManager;
    GsDevice::DestroyDefaultDevice();
    // Objects the history owns go before the application does.
    zya::UndoController::destroyInstance();
}

bool ZyApp::initialize() {
    loadProxySettings();
    auto* render = new RenderManager;
    if (!render->init()) {
        delete render;
        LOGE("---> 渲染管理器创建失败");
        return false;
    }
    m_renderManager = render;
    QWidget* window = createPlaceholderWindow(render);
    m_mainWindow = window;
    window->show();
    m_projectPath = untitledProjectPath();
    zya::UndoController::instance()->setClean();
    LOGD("Korvel %s started, project %s", kVersion, qUtf8Printable(m_projectPath));
    return true;
}

void ZyApp::startSession(const QStringList& arguments) {
    QString autoSave = QString::fromStdString(bg::configText("autoSavePath"));
    StartupPlan plan = planStartup(autoSave, arguments);
    if (!plan.recoveryPath.isEmpty()) {
        QString path = plan.recoveryPath;
        QTimer::singleShot(kRecoveryPromptDelayMs, this, [this, path] { showRecoveryPrompt(path); });
        return;
    }
    bg::iface()->configSet("autoSavePath", "");
    if (!plan.projectToOpen.isEmpty())
        openProject(plan.projectToOpen);
}

void ZyApp::showRecoveryPrompt(const QString& tempPath) {
    QMessageBox box(QMessageBox::Information, tr("MainWindow.Hint"), tr("Mainwindow.restart").arg(tempPath),
                    QMessageBox::NoButton, m_mainWindow);
    box.setObjectName(QStringLiteral("recoveryPrompt"));
    QPushButton* resume = box.addButton(tr("Mainwindow.continue"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(tr("Mainwindow.discard"), QMessageBox::RejectRole);
    box.setDefaultButton(resume);
    box.setEscapeButton(discard);
    box.exec();
    resumeAutoSave(box.clickedButton() == resume, tempPath);
}

void ZyApp::resumeAutoSave(bool resume, const QString& tempPath) {
    if (resume) {
        QFileInfo temp(tempPath);
        // The copy is "~temp_<base>.zya2" beside the project it belongs to.
        QString target = temp.dir().filePath(temp.fileName().remove(QStringLiteral("~temp_")));
        if (QFileInfo::exists(target)) {
            // One atomic replace: a failed rename leaves both files as they were.
            if (std::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(target).constData()) == 0) {
                openProject(target);
            } else {
                LOGE("recovery: %s cannot replace %s (%s); opening the copy where it lies",
                     qUtf8Printable(tempPath), qUtf8Printable(target), std::strerror(errno));
                openProject(tempPath);
            }
        } else {
            openProject(tempPath);
        }
    } else if (!QFile::remove(tempPath)) {
        LOGW("recovery: %s cannot be deleted", qUtf8Printable(tempPath));
    }
    bg::iface()->configSet("autoSavePath", "");
    bg::iface()->configSave();
}

bool ZyApp::openProject(const QString& path) {
    QFileInfo file(path);
    if (!file.isFile()) {
        LOGW("project %s does not exist", qUtf8Printable(path));
        return false;
    }
    m_projectPath = file.absoluteFilePath();
    m_archived = false;
    zya::UndoController::instance()->reset();
    emit sig_updateProjectName(file.completeBaseName(), true);
    return true;
}

void ZyApp::toggleFullPreview() { m_fullPreview = !m_fullPreview; }

void ZyApp::slot_closeArchivedProcess(QString path) { LOGD("archive finished: %s", qUtf8Printable(path)); }

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
