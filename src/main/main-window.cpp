#include "main-window.h"
#include "export-jobs.h"
#include "jobs-window.h"

#include "project-parts.h"
#include "qssmanager.h"
#include "render/export/export-function.h"
#include "render/export/export-param-widget.h"
#include "render/export/export-process-dialog.h"
#include "render/export/export-thread.h"
#include "render/preview-widget.h"
#include "render/render-manager.h"
#include "resource/material-manager.h"
#include "resource/material-view.h"
#include "resource/project/archived-dialog.h"
#include "resource/project/createproject-dialog.h"
#include "resource/project/historylist-view.h"
#include "resource/resource-widget.h"
#include "resource/subtitle-template-widget.h"
#include "setting/setting-dialog.h"
#include "timeline/subtitle-import.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/toolbar-widget.h"
#include "undo/undo-controller.h"
#include "value/interface.h"
#include "values/panel-signals.h"
#include "project-file.h"
#include "zyapp.h"

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDebug>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

// The frame requests of the player, recorder and exporter reach the clip
// view; its answers go back to the render manager on the asking thread.
void connectTimelineToRender(TimeLineWidget* timeline, ToolBarWidget* toolbar, RenderManager* render) {
    TimeLineGraphicsView* view = timeline->view();
    QObject::connect(render, &RenderManager::sig_resetFrame, view, &TimeLineGraphicsView::slot_resetFrame);
    QObject::connect(render, &RenderManager::sig_frontFrameRequest, view,
                     &TimeLineGraphicsView::slot_frontFrameRequest);
    QObject::connect(render, &RenderManager::sig_backFrameRequest, view, &TimeLineGraphicsView::slot_backFrameRequest);
    QObject::connect(render, &RenderManager::sig_audioSourceItem, view, &TimeLineGraphicsView::slot_audioSourceItem);
    QObject::connect(render, &RenderManager::sig_recordCutShort, view, &TimeLineGraphicsView::slot_recordCutShort);
    QObject::connect(render, &RenderManager::sig_startExportPrepare, view,
                     &TimeLineGraphicsView::slot_startExportPrepare);
    QObject::connect(render, &RenderManager::sig_stopExportPrepare, view,
                     &TimeLineGraphicsView::slot_stopExportPrepare);
    QObject::connect(view, &TimeLineGraphicsView::sig_deliverAudio, render, &RenderManager::deliverAudio,
                     Qt::DirectConnection);
    QObject::connect(timeline, &TimeLineWidget::sig_opertorUi, render, &RenderManager::slot_opertorUi);
    QObject::connect(toolbar, &ToolBarWidget::sig_opertorUi, render, &RenderManager::slot_opertorUi);
    QObject::connect(toolbar, &ToolBarWidget::sig_recordAudio, render, &RenderManager::slot_recordAudio);
    QObject::connect(render, &RenderManager::sig_controlRecord, toolbar, &ToolBarWidget::slot_controlRecord);
}

void connectToolbarToTimeline(ToolBarWidget* toolbar, TimeLineWidget* timeline) {
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
    // The toolbar undoes and redoes itself; the preview then shows the result.
    QObject::connect(&zya::UndoController::instance()->stack, &QUndoStack::indexChanged, timeline,
                     [timeline] { timeline->slot_updatePreview(); });
}

// The panels' requests reach the timeline; the timeline's clicks open the panels.
void connectResourceToTimeline(ResourceWidget* resource, TimeLineWidget* timeline) {
    QObject::connect(timeline, &TimeLineWidget::sig_showMenu, resource, &ResourceWidget::slot_showMenu);
    QObject::connect(resource, &ResourceWidget::sig_updateData, timeline, &TimeLineWidget::slot_updateData);
    QObject::connect(resource, &ResourceWidget::sig_openProject, resource,
                     [](QString path) { ZyApp::instance()->openProject(path); });
    QObject::connect(resource, &ResourceWidget::sig_locateMissing, resource,
                     [] { ZyApp::instance()->offerMissingMedia(); }, Qt::QueuedConnection);
    QObject::connect(resource, &ResourceWidget::sig_openEarlierVersion, resource,
                     [](QString version, QString project) { ZyApp::instance()->openEarlierVersion(version, project); });
    // Subtitle files chosen with "Add" go onto the timeline, in the look of
    // the template selected in the library (also for files dropped there).
    QObject::connect(resource, &ResourceWidget::sig_importSubtitles, timeline,
                     [timeline](QStringList paths) { timeline->slot_importSubtitles(paths); });
    timeline->setSubtitleStyle([resource](QFont* font, QColor* color) {
        return resource->materialView()->selectedSubtitleTemplate(font, color);
    });
    // The crop views ask for the current frame and the preview sends it;
    // queued, so that a panel's edit is applied before the preview is asked.
    PanelSignals* notices = PanelSignals::instance();
    QObject::connect(notices, &PanelSignals::sig_updatePreivew, timeline, &TimeLineWidget::slot_updatePreview,
                     Qt::QueuedConnection);
    QObject::connect(notices, &PanelSignals::sig_updateCropMenu, resource, &ResourceWidget::slot_updateCropMenu,
                     Qt::QueuedConnection);
}

} // namespace

// ---- the project's parts ----

namespace {

// The window's parts add the media library to the canvas and the timeline.
class WindowProjectParts : public ProjectParts {
public:
    WindowProjectParts(RenderManager* render, ResourceWidget* resource, TimeLineWidget* timeline)
        : ProjectParts(render, timeline->model()), m_resource(resource), m_timelineWidget(timeline) {}

    void writeResource(QXmlStreamWriter& writer, bool archive) override {
        ZyApp* app = ZyApp::instance();
        if (!archive || !app) {
            m_resource->writeMaterials(writer, archive);
            return;
        }
        // An archive stores each material as its copy inside the archive.
        const auto store = app->mediaPathWriter(true);
        QList<MaterialData> stored;
        for (const MaterialData* m : m_resource->materialView()->materials()) {
            stored.append(*m);
            if (!stored.last().path.isEmpty())
                stored.last().path = store(stored.last().path);
        }
        QList<MaterialData*> pointers;
        for (MaterialData& m : stored)
            pointers.append(&m);
        MaterialManager::WriteMaterials(writer, pointers, false, QString());
    }
    void readResource(QXmlStreamReader& reader) override { m_resource->readMaterials(reader); }
    void readOldResource(QXmlStreamReader& objectMgr) override { m_resource->readOldMaterials(objectMgr); }
    void clearSections() override {
        m_resource->clearLibrary();
        ProjectParts::clearSections();
    }
    // The library's files, then the clips' that it does not name.
    static QStringList united(QStringList library, const QStringList& clips) {
        for (const QString& path : clips) {
            if (!library.contains(path))
                library.append(path);
        }
        return library;
    }
    QStringList missingMedia() const override {
        return united(m_resource->manager()->missingFiles(), ProjectParts::missingMedia());
    }
    QStringList unreadableMedia() const override {
        return united(m_resource->manager()->unusableFiles(), ProjectParts::unreadableMedia());
    }
    int relinkMedia(const QString& from, const QString& to) override {
        const int changed = m_resource->manager()->relinkMaterials(from, to) + ProjectParts::relinkMedia(from, to);
        if (changed > 0)
            m_timelineWidget->slot_updatePreview();
        return changed;
    }

private:
    ResourceWidget* m_resource;
    TimeLineWidget* m_timelineWidget;
};

} // namespace

MainWindow::MainWindow(RenderManager* render, QWidget* parent) : QWidget(parent), m_render(render) {
    const double dpi = QssManager::dpiScale();
    setObjectName(QStringLiteral("MainWindow"));
    setAttribute(Qt::WA_StyledBackground);
    setWindowTitle(tr("Mainwindow.Title"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildTitleBar());

    // Library and preview on top, toolbar and timeline below; the user moves both borders.
    m_vertical = new QSplitter(Qt::Vertical, this);
    m_vertical->setObjectName(QStringLiteral("splitter_vertical"));
    m_vertical->setChildrenCollapsible(false);
    m_horizontal = new QSplitter(Qt::Horizontal, m_vertical);
    m_horizontal->setObjectName(QStringLiteral("splitter_horizontal"));
    m_horizontal->setChildrenCollapsible(false);
    m_resource = new ResourceWidget(m_horizontal);
    m_resource->setObjectName(QStringLiteral("widget_resource"));
    m_resource->setMinimumWidth(int(580 * dpi));
    m_preview = new PreviewWidget(render, m_horizontal);
    m_preview->setObjectName(QStringLiteral("widget_preview"));
    m_preview->setMinimumHeight(int(160 * dpi));
    m_horizontal->addWidget(m_resource);
    m_horizontal->addWidget(m_preview);
    m_horizontal->setStretchFactor(0, 4);
    m_horizontal->setStretchFactor(1, 6);

    m_control = new QWidget(m_vertical);
    m_control->setObjectName(QStringLiteral("widget_control"));
    auto* controlLayout = new QVBoxLayout(m_control);
    controlLayout->setContentsMargins(0, 0, 0, 0);
    controlLayout->setSpacing(0);
    m_toolbar = new ToolBarWidget(m_control);
    m_toolbar->setObjectName(QStringLiteral("widget_toolbar"));
    m_timeline = new TimeLineWidget(m_control);
    m_timeline->setObjectName(QStringLiteral("widget_timeline"));
    controlLayout->addWidget(m_toolbar);
    controlLayout->addWidget(m_timeline, 1);
    m_control->setMinimumHeight(int(160 * dpi));
    m_vertical->addWidget(m_horizontal);
    m_vertical->addWidget(m_control);
    m_vertical->setStretchFactor(0, 4);
    m_vertical->setStretchFactor(1, 6);
    layout->addWidget(m_vertical, 1);

    auto* qss = new QssManager(this, false);
    qss->loadStyleSheet(QStringLiteral(":/qss/main-window.css"));
    resize(int(1200 * dpi), int(800 * dpi));
    m_vertical->setSizes({int(360 * dpi), int(440 * dpi)});
    m_horizontal->setSizes({int(580 * dpi), int(620 * dpi)});
    m_projectName->setMaximumWidth(int(500 * dpi));

    m_createDialog = new CreateProjectDialog(
        [](const QString& path, int width, int height, bool locked) {
            ZyApp* app = ZyApp::instance();
            return app && app->createProject(path, width, height, locked);
        },
        this);
    if (ZyApp* app = ZyApp::instance()) {
        connect(app, &ZyApp::sig_updateProjectName, this, &MainWindow::showProjectName);
        connect(app, &ZyApp::sig_autoSaveProblem, this, &MainWindow::showAutoSaveProblem);
        connect(&zya::UndoController::instance()->stack, &QUndoStack::cleanChanged, this,
                &MainWindow::showNameAndMark);
        connect(app, &ZyApp::sig_prependHistory, m_resource->historyList(), &HistoryListView::prependProject);
    }
    // The export window is made once and shown again for every export.
    m_exportWindow = new ExportParamWidget([this](MVParams* params) { runExport(params); }, this);
    // Exports run as background jobs, listed in the Jobs window.
    m_jobs = new ExportJobQueue(this);
    m_jobsWindow = new JobsWindow(m_jobs, this);
    m_exportWindow->setOutputInUse([this](const QString& path) { return m_jobs->writesTo(path); });
    m_exportWindow->setReadByProject([](const QString& path) {
        const ZyApp* app = ZyApp::instance();
        return app && app->projectSections() && project::readsFile(*app->projectSections(), app->projectPath(), path);
    });
    connect(m_jobs, &ExportJobQueue::jobChanged, this, [this](int id) {
        const ExportJob* job = m_jobs->job(id);
        if (!m_progress || id != m_progressJob || !job)
            return;
        m_progress->progress(job->done, job->total);
        // It opens with the first frame written: an export that cannot start
        // shows only its end, in the Jobs window.
        if (job->state == ExportJob::Running && job->done > 0 && !m_progressShown) {
            m_progressShown = true;
            m_progress->show();
        }
    });
    connect(m_jobs, &ExportJobQueue::jobEnded, this, [this](int id) {
        // The Jobs window says how it ended (and the desktop's notification).
        if (id == m_progressJob && m_progress) {
            m_progress->dismiss();
            m_progress->deleteLater();
            m_progress = nullptr;
            m_progressJob = 0;
        }
        if (!m_jobsWindow->isVisible()) {
            m_jobsWindow->setAttribute(Qt::WA_ShowWithoutActivating);
            m_jobsWindow->show();
        }
    });
    connect(m_render, &RenderManager::sig_updateSceneSize, m_exportWindow, &ExportParamWidget::slot_updateSceneSize);
    m_exportWindow->slot_updateSceneSize(int(m_render->sceneWidth()), int(m_render->sceneHeight()));
    connect(m_toolbar, &ToolBarWidget::sig_showExport, m_exportWindow, &ExportParamWidget::showForExport);
    m_resource->historyList()->setCurrentProjectQuery([] {
        ZyApp* app = ZyApp::instance();
        return app ? app->currentProjectPath() : QString();
    });
    buildMenu();
    installShortcuts();
    m_parts = std::make_unique<WindowProjectParts>(m_render, m_resource, m_timeline);
    wirePanels();
    m_showMini = bg::iface()->subscribe("showMini", [this](const std::string&, const bg::Value&,
                                                           const bg::Interface::Reply&) {
        QMetaObject::invokeMethod(this, &QWidget::showMinimized, Qt::QueuedConnection);
    });
    setAutoSaveEnabled(true);
    m_openFolder = QDir::homePath();
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    bg::iface()->unsubscribe(m_showMini);
    if (ZyApp* app = ZyApp::instance()) {
        if (app->projectSections() == m_parts.get())
            app->setProjectSections(nullptr);
    }
}

QWidget* MainWindow::buildTitleBar() {
    m_title = new QWidget(this);
    m_title->setObjectName(QStringLiteral("widget_title"));
    auto* row = new QHBoxLayout(m_title);
    row->setSpacing(1);
    row->setContentsMargins(10, 0, 17, 0);
    auto button = [this, row](const char* name, const QString& text) {
        auto* b = new QPushButton(text, m_title);
        b->setObjectName(QLatin1String(name));
        b->setFocusPolicy(Qt::NoFocus);
        row->addWidget(b);
        m_titleExcluded.append(b);
        return b;
    };
    connect(button("pushButton_newbuild", tr("MainWindow.New")), &QPushButton::clicked, this,
            &MainWindow::on_pushButton_newbuild_clicked);
    connect(button("pushButton_open", tr("MainWindow.Open")), &QPushButton::clicked, this,
            &MainWindow::on_pushButton_open_clicked);
    m_saveButton = button("pushButton_save", tr("MainWindow.Save"));
    connect(m_saveButton, &QPushButton::clicked, this, &MainWindow::on_pushButton_save_clicked);
    connect(button("pushButton_saveAs", tr("MainWindow.SaveAs")), &QPushButton::clicked, this, [] {
        if (ZyApp* app = ZyApp::instance())
            app->saveProjectAs();
    });
    QPushButton* archive = button("pushButton_file", tr("MainWindow.Archive"));
    connect(archive, &QPushButton::clicked, this, &MainWindow::on_pushButton_file_clicked);
    connect(button("pushButton_export", tr("titlebar.Export")), &QPushButton::clicked, this,
            &MainWindow::on_pushButton_export_clicked);
    connect(button("pushButton_jobs", tr("titlebar.Jobs")), &QPushButton::clicked, this, &MainWindow::showJobs);
    m_settingButton = button("pushButton_setting", tr("titlebar.More"));
    connect(m_settingButton, &QPushButton::clicked, this, &MainWindow::on_pushButton_setting_clicked);
    row->addStretch(1);
    m_projectName = new QLabel(tr("titlebar.Untitle"), m_title);
    m_projectName->setObjectName(QStringLiteral("label_project_name"));
    m_shownName = m_projectName->text();
    row->addWidget(m_projectName);
    row->addStretch(1);
    auto* account = new QHBoxLayout;
    account->setSpacing(10);
    // There is no account service: the buttons exist for the layout and stay hidden.
    for (const char* name : {"pushButton_member_name", "pushButton_login", "pushButton_login_accout"}) {
        auto* b = new QPushButton(m_title);
        b->setObjectName(QLatin1String(name));
        b->hide();
        account->addWidget(b);
        m_titleExcluded.append(b);
    }
    row->addLayout(account);
    return m_title;
}

void MainWindow::showInfo(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.button(QMessageBox::Ok)->setText(tr("MainWindow.Ok"));
    box.exec();
}

void MainWindow::buildMenu() {
    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("menu_main"));
    QAction* settings = m_menu->addAction(tr("titlebar.Settings"));
    connect(settings, &QAction::triggered, this, [this] {
        SettingDialog dialog(this);
        dialog.exec();
    });
    connect(m_menu->addAction(tr("titlebar.Help")), &QAction::triggered, this,
            [this] { showInfo(tr("titlebar.Help"), tr("titlebar.HelpText")); });
    connect(m_menu->addAction(tr("titlebar.Subscribe")), &QAction::triggered, this,
            [this] { showInfo(tr("titlebar.Subscribe"), tr("titlebar.SubscribeText")); });
    connect(m_menu->addAction(tr("titlebar.UpdateCheck")), &QAction::triggered, this, [this] {
        showInfo(tr("titlebar.UpdateCheck"), tr("titlebar.UpdateText").arg(QLatin1String(ZyApp::kVersion)));
    });
    connect(m_menu->addAction(tr("titlebar.AboutUs")), &QAction::triggered, this, [this] {
        showInfo(tr("titlebar.AboutUs"),
                 tr("titlebar.AboutText").arg(QLatin1String(ZyApp::kVersion), QLatin1String(ZyApp::kBuildDate),
                                              QLatin1String(qVersion())));
    });
}

namespace {
// The text field the user types in, if any (a spin box's own line).
QWidget* fieldBeingTyped() {
    QWidget* focus = QApplication::focusWidget();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(focus))
        return spin->isReadOnly() ? nullptr : spin->findChild<QLineEdit*>();
    if (auto* combo = qobject_cast<QComboBox*>(focus)) // its line is typed in where it is editable
        return combo->isEditable() ? combo->lineEdit() : nullptr;
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        return line->isReadOnly() ? nullptr : line;
    if (auto* text = qobject_cast<QTextEdit*>(focus))
        return text->isReadOnly() ? nullptr : text;
    if (auto* plain = qobject_cast<QPlainTextEdit*>(focus))
        return plain->isReadOnly() ? nullptr : plain;
    return nullptr;
}

// Whether the field the user types in has typing of its own to undo.
bool fieldHasUndo() {
    QWidget* field = fieldBeingTyped();
    if (auto* line = qobject_cast<QLineEdit*>(field))
        return line->isUndoAvailable();
    if (auto* text = qobject_cast<QTextEdit*>(field))
        return text->document()->isUndoAvailable();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(field))
        return plain->document()->isUndoAvailable();
    return false;
}

// Whether the focused control moves by Up, Down, Home and End itself: a
// number, a list, a choice, a slider, text.
bool movesByKeys(QWidget* focus) {
    return focus && (fieldBeingTyped() || qobject_cast<QAbstractSpinBox*>(focus) ||
                     qobject_cast<QAbstractItemView*>(focus) || qobject_cast<QComboBox*>(focus) ||
                     qobject_cast<QAbstractSlider*>(focus));
}
} // namespace

void MainWindow::installShortcuts() {
    auto key = [this](const QKeySequence& sequence, auto&& action) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
        return shortcut;
    };
    key(QKeySequence(QStringLiteral("Ctrl+Z")), [this] { emit m_toolbar->sig_pushButtonUndo(); });
    // Redo where the user types is the text's own redo: Linux text fields
    // take Ctrl+Shift+Z only, and Ctrl+Y would redo a timeline edit instead.
    key(QKeySequence(QStringLiteral("Ctrl+Y")), [this] {
        QWidget* field = fieldBeingTyped();
        if (auto* line = qobject_cast<QLineEdit*>(field))
            line->redo();
        else if (auto* text = qobject_cast<QTextEdit*>(field))
            text->redo();
        else if (auto* plain = qobject_cast<QPlainTextEdit*>(field))
            plain->redo();
        else
            emit m_toolbar->sig_pushButtonRedo();
    });
    // Redo as most Linux programs have it, too.
    key(QKeySequence(QStringLiteral("Ctrl+Shift+Z")), [this] { emit m_toolbar->sig_pushButtonRedo(); });
    key(QKeySequence(QStringLiteral("Ctrl+S")), [this] { m_saveButton->click(); });
    // The title bar's commands by keyboard, as in other editors.
    const auto titleKey = [this, &key](const char* button, const char* sequence) {
        if (auto* b = m_title->findChild<QPushButton*>(QLatin1String(button))) {
            key(QKeySequence(QLatin1String(sequence)), [b] { b->click(); });
            b->setToolTip(QStringLiteral("%1 (%2)").arg(b->text(), QKeySequence(QLatin1String(sequence))
                                                                       .toString(QKeySequence::NativeText)));
        }
    };
    titleKey("pushButton_newbuild", "Ctrl+N");
    titleKey("pushButton_open", "Ctrl+O");
    m_saveButton->setToolTip(QStringLiteral("%1 (%2)").arg(
        m_saveButton->text(), QKeySequence(QStringLiteral("Ctrl+S")).toString(QKeySequence::NativeText)));
    titleKey("pushButton_saveAs", "Ctrl+Shift+S");
    titleKey("pushButton_export", "Ctrl+E");
    key(QKeySequence(QStringLiteral("Ctrl+B")), [this] {
        if (!fieldBeingTyped()) // the key means nothing to the timeline while typing
            emit m_toolbar->sig_pushButtonSplit();
    });
    // Left and Right step a frame, Home and End go to the timeline's ends,
    // Up and Down step between clip edges, except where the focused control
    // moves by them itself (a slider, a number, a list; a drop-down list
    // takes Up and Down only).
    const QList<QShortcut*> sideways {
        key(QKeySequence(Qt::Key_Right), [this] { emit m_preview->sig_toolButtonFront(); }),
        key(QKeySequence(Qt::Key_Left), [this] { emit m_preview->sig_toolButtonBack(); })};
    connect(qApp, &QApplication::focusChanged, this, [sideways](QWidget*, QWidget* now) {
        for (QShortcut* move : sideways)
            move->setEnabled(!movesByKeys(now) || qobject_cast<QComboBox*>(now));
    });
    const QList<QShortcut*> moves {
        key(QKeySequence(Qt::Key_Home), [this] { m_timeline->view()->jumpToEnd(false); }),
        key(QKeySequence(Qt::Key_End), [this] { m_timeline->view()->jumpToEnd(true); }),
        key(QKeySequence(Qt::Key_Up), [this] { m_timeline->view()->jumpToEditPoint(false); }),
        key(QKeySequence(Qt::Key_Down), [this] { m_timeline->view()->jumpToEditPoint(true); })};
    connect(qApp, &QApplication::focusChanged, this, [moves](QWidget*, QWidget* now) {
        for (QShortcut* move : moves)
            move->setEnabled(!movesByKeys(now));
    });
    key(QKeySequence(Qt::Key_Space), [this] { emit m_preview->sig_toolButtonPlay(); });
    key(QKeySequence(QStringLiteral("Ctrl+Return")), [this] { emit m_preview->sig_toolButtonReplay(); });
    key(QKeySequence(Qt::Key_F5), [this] { emit m_preview->sig_toolButtonFull(); });
    // Escape leaves the full-screen preview, as in every player; it is
    // armed only then, so that Escape keeps its meaning everywhere else.
    m_leaveFullPreview = key(QKeySequence(Qt::Key_Escape), [this] { emit m_preview->sig_toolButtonFull(); });
    m_leaveFullPreview->setEnabled(false);
}

void MainWindow::wirePanels() {
    m_timeline->model()->setRenderManager(m_render);
    // The exporter's workers ask the play head's dispatcher for each frame, on their own threads.
    if (ExportManager* exporter = m_render->exportManager())
        exporter->setSource(m_timeline->view()->frames());
    m_resource->manager()->setProjectFileProvider([this] {
        ZyApp* app = ZyApp::instance();
        if (!m_snapshotFile.isEmpty())
            return m_snapshotFile;
        return app ? app->sectionFile() : QString();
    });
    m_preview->slot_setScene(m_render->scene());
    connect(m_preview, &PreviewWidget::sig_removeSourceItem, m_timeline, &TimeLineWidget::slot_removeSourceItem);
    connect(m_timeline, &TimeLineWidget::sig_showTime, m_preview, &PreviewWidget::slot_showTime);
    connect(m_preview, &PreviewWidget::sig_toolButtonFull, this, [this] {
        if (ZyApp* app = ZyApp::instance()) {
            app->toggleFullPreview();
            if (m_leaveFullPreview)
                m_leaveFullPreview->setEnabled(app->isFullPreview());
        }
    });
    connectToolbarToTimeline(m_toolbar, m_timeline);
    connectTimelineToRender(m_timeline, m_toolbar, m_render);
    connectResourceToTimeline(m_resource, m_timeline);
    connect(m_toolbar, &ToolBarWidget::sig_createSubtitle, m_resource, &ResourceWidget::slot_createSubtitle);
    // The template window is made once, as a window of its own, and goes with the toolbar.
    auto* templates = new SubtitleTemplateWidget;
    connect(m_toolbar, &QObject::destroyed, templates, [templates] { delete templates; });
    connect(templates, &SubtitleTemplateWidget::sig_createResSubtitle, m_toolbar, &ToolBarWidget::sig_createSubtitle);
    connect(m_toolbar, &ToolBarWidget::sig_showSubtitleTemplates, templates, [templates] {
        templates->reset();
        templates->show();
    });
    connect(m_toolbar, &ToolBarWidget::sig_pushButtonUndo, m_toolbar, &ToolBarWidget::on_pushButton_undo_clicked);
    connect(m_toolbar, &ToolBarWidget::sig_pushButtonRedo, m_toolbar, &ToolBarWidget::on_pushButton_redo_clicked);
    connect(m_toolbar, &ToolBarWidget::sig_pushButtonSplit, m_timeline, &TimeLineWidget::slot_splitSourceItem);
}

void MainWindow::setAutoSaveEnabled(bool enabled) {
    if (m_autoSaveTimer != 0)
        killTimer(m_autoSaveTimer);
    m_autoSaveTimer = enabled ? startTimer(kAutoSaveMs, Qt::CoarseTimer) : 0;
}

void MainWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_autoSaveTimer || m_autoSaveTimer == 0) {
        QWidget::timerEvent(event);
        return;
    }
    killTimer(m_autoSaveTimer);
    m_autoSaveTimer = 0;
    if (ZyApp* app = ZyApp::instance())
        app->saveProject(true, false, QString());
    m_autoSaveTimer = startTimer(kAutoSaveMs, Qt::CoarseTimer);
}

void MainWindow::showProjectName(const QString& text, bool isName) {
    const QFontMetrics metrics(m_projectName->font());
    // Room is left for the unsaved mark after a name.
    const int room = int(500 * QssManager::dpiScale()) - (isName ? metrics.horizontalAdvance(QStringLiteral(" *")) : 0);
    const QString shown = metrics.elidedText(text, Qt::ElideRight, room);
    if (isName) {
        m_shownName = shown;
        m_statusShown = 0;
        showNameAndMark();
        return;
    }
    // A status text stands for a second, then the name returns.
    m_projectName->setText(shown);
    const int status = ++m_statusShown;
    QTimer::singleShot(1000, this, [this, status] {
        if (m_statusShown == status) {
            m_statusShown = 0;
            showNameAndMark();
        }
    });
}

void MainWindow::showAutoSaveProblem(const QString& problem) {
    m_autoSaveProblem = problem;
    showNameAndMark();
}

// The name, with " *" while the project has changes not saved; while its
// automatic copy cannot be written, that warning stands in its place (the
// work is then protected by nothing).
void MainWindow::showNameAndMark() {
    if (m_statusShown != 0)
        return;
    const bool saved = zya::UndoController::instance()->isClean();
    if (!saved && !m_autoSaveProblem.isEmpty()) {
        const QFontMetrics metrics(m_projectName->font());
        m_projectName->setText(
            metrics.elidedText(m_autoSaveProblem, Qt::ElideRight, int(500 * QssManager::dpiScale())));
        m_projectName->setToolTip(m_autoSaveProblem);
        return;
    }
    m_projectName->setToolTip(QString());
    m_projectName->setText(saved ? m_shownName : m_shownName + QStringLiteral(" *"));
}

void MainWindow::setPanelsVisible(bool visible) {
    m_resource->setVisible(visible);
    m_toolbar->setVisible(visible);
    m_timeline->setVisible(visible);
    m_control->setVisible(visible);
}

void MainWindow::on_pushButton_newbuild_clicked() {
    m_createDialog->run();
}

void MainWindow::on_pushButton_open_clicked() {
    const QString path =
        QFileDialog::getOpenFileName(this, tr("titlebar.Open"), m_openFolder, QStringLiteral("*.zya2 *.zya"));
    if (path.isEmpty())
        return;
    m_openFolder = QFileInfo(path).absolutePath();
    if (ZyApp* app = ZyApp::instance())
        app->openProject(path);
}

void MainWindow::on_pushButton_save_clicked() {
    if (ZyApp* app = ZyApp::instance())
        app->saveProject(false, false, QString());
}

void MainWindow::on_pushButton_file_clicked() {
    ZyApp* app = ZyApp::instance();
    if (app && app->currentProjectPath().isEmpty()) {
        QMessageBox box(QMessageBox::Information, tr("MainWindow.Hint"), tr("Mainwindow.HintSave"),
                        QMessageBox::Ok, this);
        box.button(QMessageBox::Ok)->setText(tr("MainWindow.Ok"));
        box.exec();
        return;
    }
    if (!app)
        return;
    // Made once, so the target folder chosen last time stays.
    auto* dialog = findChild<ArchivedDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (!dialog) {
        dialog = new ArchivedDialog(
            [](const QString& path) {
                if (ZyApp* a = ZyApp::instance())
                    a->archiveProject(path);
            },
            this);
    }
    dialog->run(app->currentProjectPath());
}

int MainWindow::runExport(MVParams* params) {
    ZyApp* app = ZyApp::instance();
    if (!params || !m_parts)
        return 0;
    // The export would refuse a film with holes where media should be:
    // say so now, with the files, rather than after it started (files that
    // came back since are taken up first).
    if (app)
        app->relinkReturnedMedia();
    QStringList holes = m_timeline->model()->missingMedia() + m_timeline->model()->unreadableMedia();
    if (!holes.isEmpty()) {
        LOGW("export: %d media files are missing or cannot be read; not started", int(holes.size()));
        for (QString& path : holes)
            path = QDir::toNativeSeparators(path);
        auto* box = new QMessageBox(QMessageBox::NoIcon, tr("exportmvwindow.Hint"),
                                    tr("exportjobs.MediaMissing") + QLatin1Char('\n') + holes.join(QLatin1Char('\n')),
                                    QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("mediaMissingMessage"));
        box->button(QMessageBox::Ok)->setText(tr("exportmvwindow.Ok"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return 0;
    }
    // The child exports a copy of the project as it is now: the user's file
    // and its unsaved state are left alone. An archived project's media lie
    // relative to its folder, so its copy goes there, hidden.
    QString snapshot;
    const QString current = app ? app->currentProjectPath() : QString();
    const bool archived = app && app->isArchived() && !current.isEmpty();
    if (archived) {
        const QFileInfo file(current);
        snapshot = QStringLiteral("%1/.%2.korvel-export-%3.zya2")
                       .arg(file.absolutePath(), file.completeBaseName())
                       .arg(QDateTime::currentMSecsSinceEpoch());
    } else {
        snapshot = m_jobs->newSnapshotPath();
    }
    QString error = QStringLiteral("no folder for the project's copy");
    m_snapshotFile = snapshot;
    const bool written =
        !snapshot.isEmpty() &&
        project::writeProject(snapshot, *m_parts, archived ? project::ArchiveMark::Yes : project::ArchiveMark::No,
                              false, &error);
    m_snapshotFile.clear();
    if (!written) {
        LOGE("export: the project's copy %s could not be written: %s", qUtf8Printable(snapshot), qUtf8Printable(error));
        if (!snapshot.isEmpty())
            QFile::remove(snapshot);
        auto* box = new QMessageBox(QMessageBox::NoIcon, tr("exportmvwindow.Hint"),
                                    tr("exportjobs.SnapshotFailed").arg(error), QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("snapshotFailedMessage"));
        box->button(QMessageBox::Ok)->setText(tr("exportmvwindow.Ok"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return 0;
    }
    const int id = m_jobs->add(snapshot, exportfn::exportPath(*params),
                               ExportJobQueue::optionsFor(*params, m_exportWindow->writeSubtitles()));
    // One progress window, for the export asked for last; the others are in the Jobs window.
    if (m_progress) {
        m_progress->dismiss();
        m_progress->deleteLater();
    }
    m_progressJob = id;
    // "Done" (or closing the window) ends the export early, keeping what it wrote.
    m_progress = new ExportProcessDialog([this, id] { m_jobs->finish(id); }, this);
    m_progress->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(m_progress, &ExportProcessDialog::sig_putAside, this, &MainWindow::showJobs);
    m_progressShown = false;
    // A child that could not even start has ended already.
    const ExportJob* job = m_jobs->job(id);
    if (!job || job->ended()) {
        m_progress->deleteLater();
        m_progress = nullptr;
        m_progressJob = 0;
    }
    return id;
}

ExportProcessDialog* MainWindow::exportProgress() const {
    return m_progress;
}

void MainWindow::showJobs() {
    m_jobsWindow->setAttribute(Qt::WA_ShowWithoutActivating, false);
    m_jobsWindow->show();
    m_jobsWindow->raise();
}

void MainWindow::on_pushButton_export_clicked() {
    m_toolbar->on_pushButton_export_clicked();
}

void MainWindow::on_pushButton_setting_clicked() {
    const QPoint at = m_settingButton->mapToGlobal(
        QPoint(0, m_settingButton->height() + int(2 * QssManager::dpiScale())));
    m_menu->popup(at);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // Ctrl+Z in a field undoes its typing; once the field has nothing of
    // its own to undo (a value confirmed by Tab or Enter) the key is the
    // editor's, which a field would otherwise swallow doing nothing.
    if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Undo)) {
        if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->window() == this && !fieldHasUndo())
            return true;
    }
    // Shift is seen wherever the focus is inside this window: holding it
    // inverts auto-align for as long as it is held.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        const bool fresh = key != m_lastKey || key->timestamp() != m_lastKeyTime || key->type() != m_lastKeyType;
        if (fresh && widget && widget->window() == this) {
            // A key event travels up the parents; each is counted once.
            m_lastKey = key;
            m_lastKeyTime = key->timestamp();
            m_lastKeyType = key->type();
            if (event->type() == QEvent::KeyPress)
                qDebug() << "KeyPressEvent";
            if (key->key() == Qt::Key_Shift)
                m_toolbar->toggleAutoAlign();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Exports still running or queued end with the editor: the user chooses.
    if (const int pending = m_jobs ? m_jobs->pending() : 0) {
        QMessageBox box(QMessageBox::Question, tr("exportjobs.Title"), tr("exportjobs.CloseRunning").arg(pending),
                        QMessageBox::NoButton, this);
        box.setObjectName(QStringLiteral("jobsRunningMessage"));
        QPushButton* stop = box.addButton(tr("exportjobs.CloseAnyway"), QMessageBox::DestructiveRole);
        QPushButton* keep = box.addButton(tr("exportjobs.KeepOpen"), QMessageBox::RejectRole);
        box.setDefaultButton(keep);
        box.setEscapeButton(keep);
        box.exec();
        if (box.clickedButton() != stop) {
            event->ignore();
            return;
        }
    }
    ZyApp* app = ZyApp::instance();
    if (app && !app->maybeSave()) {
        event->ignore();
        return;
    }
    if (m_jobs)
        m_jobs->cancelAll();
    event->accept();
}

bool MainWindow::inBand(const QPoint& global, int edge) const {
    const QPoint p = mapFromGlobal(global);
    const int band = int(5 * QssManager::dpiScale());
    switch (edge) {
    case 0: return p.y() <= band;
    case 1: return p.y() >= height() - band;
    case 2: return p.x() <= band;
    default: return p.x() >= width() - band;
    }
}

bool MainWindow::hitTop(const QPoint& global) const { return inBand(global, 0); }
bool MainWindow::hitBottom(const QPoint& global) const { return inBand(global, 1); }
bool MainWindow::hitLeft(const QPoint& global) const { return inBand(global, 2); }
bool MainWindow::hitRight(const QPoint& global) const { return inBand(global, 3); }

bool MainWindow::hitTitle(const QPoint& global) const {
    if (!m_title->rect().contains(m_title->mapFromGlobal(global)))
        return false;
    return std::none_of(m_titleExcluded.begin(), m_titleExcluded.end(), [&global](QWidget* w) {
        return w->isVisible() && w->rect().contains(w->mapFromGlobal(global));
    });
}

