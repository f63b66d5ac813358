// The editor's window: the title bar with the project commands, the
// resource panel and the preview above the toolbar and the timeline, the
// window-wide keys, the wiring between the panels, the 30-second automatic
// copy and the question before closing. GUI thread only.
#pragma once

#include "project-file.h"

#include <memory>

#include <QList>
#include <QString>
#include <QWidget>

class CreateProjectDialog;
class ExportJobQueue;
class ExportParamWidget;
class ExportProcessDialog;
class JobsWindow;
struct MVParams;
class QKeyEvent;
class QLabel;
class QMenu;
class QPushButton;
class QShortcut;
class QSplitter;
class RenderManager;
class ResourceWidget;
class TimeLineWidget;
class ToolBarWidget;
class PreviewWidget;

// Hit tests of a frameless window's borders and title, in global points.
class ResizeInterface {
public:
    virtual ~ResizeInterface() = default;
    virtual bool hitTop(const QPoint& global) const = 0;
    virtual bool hitBottom(const QPoint& global) const = 0;
    virtual bool hitLeft(const QPoint& global) const = 0;
    virtual bool hitRight(const QPoint& global) const = 0;
    virtual bool hitTitle(const QPoint& global) const = 0;
    virtual void hitOther() {}
};

class MainWindow : public QWidget, public ResizeInterface {
    Q_OBJECT
public:
    static constexpr int kAutoSaveMs = 30000;

    explicit MainWindow(RenderManager* render, QWidget* parent = nullptr);
    ~MainWindow() override;

    ResourceWidget* resourceWidget() const { return m_resource; }
    TimeLineWidget* timelineWidget() const { return m_timeline; }
    ToolBarWidget* toolbarWidget() const { return m_toolbar; }
    PreviewWidget* previewWidget() const { return m_preview; }
    QLabel* projectNameLabel() const { return m_projectName; }
    bool autoSaveRunning() const { return m_autoSaveTimer != 0; }
    CreateProjectDialog* createDialog() const { return m_createDialog; }
    ExportParamWidget* exportWindow() const { return m_exportWindow; }
    // Queues the export the window asked for as a background job: a
    // snapshot of the project goes to a child process (ExportJobQueue); the
    // progress window follows it without holding the editor. Returns the
    // job's id, 0 when the snapshot could not be written (a message says why).
    int runExport(MVParams* params);
    ExportJobQueue* exportJobs() const { return m_jobs; }
    JobsWindow* jobsWindow() const { return m_jobsWindow; }
    // The progress window of the export asked for last; null once it ended.
    ExportProcessDialog* exportProgress() const;
    void showJobs();

    void setAutoSaveEnabled(bool enabled);
    // The project's name (isName) or a status text shown for one second.
    void showProjectName(const QString& text, bool isName);
    void showNameAndMark();
    // Why the automatic copy cannot be written; empty when it can.
    void showAutoSaveProblem(const QString& problem);
    void setPanelsVisible(bool visible);

    bool hitTop(const QPoint& global) const override;
    bool hitBottom(const QPoint& global) const override;
    bool hitLeft(const QPoint& global) const override;
    bool hitRight(const QPoint& global) const override;
    bool hitTitle(const QPoint& global) const override;

    // The project's parts: the canvas, the library and the timeline.
    ProjectSections* projectSections() const { return m_parts.get(); }

public slots:
    void on_pushButton_newbuild_clicked();
    void on_pushButton_open_clicked();
    void on_pushButton_save_clicked();
    void on_pushButton_file_clicked();
    void on_pushButton_export_clicked();
    void on_pushButton_setting_clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildTitleBar();
    void buildMenu();
    void installShortcuts();
    void wirePanels();
    void showInfo(const QString& title, const QString& text);
    bool inBand(const QPoint& global, int edge) const;

    RenderManager* m_render;
    std::unique_ptr<ProjectSections> m_parts; // made once the panels stand
    QWidget* m_title = nullptr;
    QList<QWidget*> m_titleExcluded;
    QLabel* m_projectName = nullptr;
    QString m_shownName; // the project's name, without the unsaved mark
    QString m_autoSaveProblem; // why the automatic copy fails; empty while it works
    int m_statusShown = 0; // the status text standing instead of the name, 0: none
    QPushButton* m_settingButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    QShortcut* m_leaveFullPreview = nullptr; // Escape, armed while the preview is full screen
    QMenu* m_menu = nullptr;
    CreateProjectDialog* m_createDialog = nullptr;
    ExportParamWidget* m_exportWindow = nullptr;
    ExportJobQueue* m_jobs = nullptr;
    JobsWindow* m_jobsWindow = nullptr;
    ExportProcessDialog* m_progress = nullptr; // the export asked for last, while it runs
    int m_progressJob = 0;
    bool m_progressShown = false; // once put aside it stays aside
    QString m_snapshotFile; // the snapshot being written: the library's paths are relative to it
    QSplitter* m_vertical = nullptr;
    QSplitter* m_horizontal = nullptr;
    QWidget* m_control = nullptr;
    ResourceWidget* m_resource = nullptr;
    PreviewWidget* m_preview = nullptr;
    ToolBarWidget* m_toolbar = nullptr;
    TimeLineWidget* m_timeline = nullptr;
    int m_autoSaveTimer = 0;
    int m_showMini = 0; // the "showMini" event subscription
    const QKeyEvent* m_lastKey = nullptr; // the key event last counted, while it travels
    ulong m_lastKeyTime = 0;
    int m_lastKeyType = 0;
    QString m_openFolder;
};
