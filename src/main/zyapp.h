// The application object: start-up work, project-wide state and the network
// proxy. Reached everywhere through ZyApp::instance(). GUI thread only.
#pragma once

#include "single-application.h"
#include "render/preview-requests.h"
#include "render/render-manager.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <QWidget>

#include <functional>
#include <memory>

class ArchivedProcessDialog;
class FrameDispatcher;
class ProjectArchive;
class ProjectSections;
class TimeLineTreeModel;
class QTimer;
class TerminationWatcher;

class ZyApp : public SingleApplicationWrapper {
    Q_OBJECT
public:
    static constexpr const char* kVersion = "3.0.3";
    static constexpr const char* kBuildDate = "2025.05.15";

    ZyApp(int& argc, char** argv);
    ~ZyApp() override;

    static ZyApp* instance() { return qobject_cast<ZyApp*>(QCoreApplication::instance()); }

    // Sets up the proxy and the main window and marks the history clean.
    // False when the program cannot run.
    bool initialize(bool showWindow = true);
    // For the command-line export: the render manager, the timeline, its
    // frame dispatcher and the project's parts, and no widget at all.
    bool initializeHeadless();
    // Without a user (the command-line export): messages go to the log only.
    void setInteractive(bool interactive) { m_interactive = interactive; }
    // After initialize(): the recovery prompt for a pending auto-save copy
    // (800 ms later), else the command-line project.
    void startSession(const QStringList& arguments);

    QWidget* mainWindow() const { return m_mainWindow; }
    // Hears SIGTERM, SIGINT and SIGHUP while events are processed.
    TerminationWatcher* terminationWatcher() const { return m_termination; }
    // A signal asked the program to end; true also when it came before the
    // main event loop ran (a start-up question open), where quitting alone
    // would only close the question.
    bool endRequested() const { return m_endRequested; }
    RenderManager* renderManager() const { return m_renderManager; }

    // Proxy settings ("use_system_proxy", "proxy_url", "proxy_port").
    void loadProxySettings();
    void applyProxy();
    void setProxy(const QByteArray& url, const QByteArray& port);
    void setUseSystemProxy(bool use);
    bool useSystemProxy() const { return m_useSystemProxy; }
    QByteArray proxyUrl() const { return m_proxyUrl; }
    QByteArray proxyPort() const { return m_proxyPort; }
    // The desktop's proxy as "host:port"; empty when none. Read once, before
    // the program sets http_proxy itself.
    QByteArray systemProxy();
    // The proxy text applyProxy() uses for the given settings.
    static QByteArray chooseProxyText(bool useSystem, const QByteArray& system, const QByteArray& url,
                                      const QByteArray& port);

    bool isFullPreview() const { return m_fullPreview; }
    void toggleFullPreview();

    // Recovery of an auto-save copy: continue (read it and open it, modified,
    // as the project it was made of, or untitled when that is unknown; the
    // copy stays recorded until the user saves) or discard (delete it and
    // its record). A copy that cannot be read is set aside and reported.
    // True when the work was taken up (false for "discard" and for a copy
    // that cannot be read, which is set aside).
    bool resumeAutoSave(bool resume, const QString& tempPath);

    // The project file while it exists, else empty.
    QString currentProjectPath() const;
    // The current path even before the file exists (the untitled default).
    QString projectPath() const { return m_projectPath; }
    bool isArchived() const { return m_archived; }
    QString archiveDir() const { return m_archiveDir; }
    // The project file whose folder stored media paths are relative to: the
    // file being written during a save, else the current project file.
    QString sectionFile() const;
    // Media paths of an archived project are relative to its folder.
    QString resolveMediaPath(const QString& path) const;

    // The parts of a project; the main window, or a test's stand-in.
    void setProjectSections(ProjectSections* sections) { m_sections = sections; }
    ProjectSections* projectSections() const { return m_sections; }

    // Asks to save a modified project: false when the user cancelled, or
    // chose to save and the save did not happen.
    bool maybeSave();
    // Empties the library, the timeline and the undo history.
    void clearProject();
    // A new project file of that canvas; false (with a message) when the
    // file cannot be written, and the open project then stays.
    bool createProject(const QString& path, int width, int height, bool locked);
    // Opens a ".zya2" or an older ".zya" file; false when nothing was opened.
    bool openProject(const QString& path);
    // Opens a kept earlier version of projectPath as a new, untitled,
    // modified project (its media paths resolve as the project's did).
    bool openEarlierVersion(const QString& versionPath, const QString& projectPath);
    // A manual save (automatic false, archive false), the 30-second copy
    // (automatic true) or an archive into path. False when nothing was
    // written; the project then stays modified.
    bool saveProject(bool automatic, bool archive, const QString& path);
    // "Save as": the project under a name the user picks, which it keeps
    // from then on; the file it had stays as it was last saved.
    bool saveProjectAs();

    // Archives the current project into path (target folder + "/" + name);
    // ProjectArchive does the work. False (with a message) when it could not
    // start. Emits sig_archiveFinished at the end.
    bool archiveProject(const QString& path);
    bool isArchiving() const;
    // During an archive save: the copy of a media file inside the archive
    // (absolute), or the file's own absolute path when it has none (its copy
    // failed). Outside one, copies the file into archiveDir()/resource now.
    QString copyIntoArchive(const QString& mediaPath);
    // How the library's and the timeline's writers store a media path in
    // the file being written: its archive copy, relative, for an archive;
    // relative when it lies inside an archived project's folder; else as is
    // (an empty function).
    std::function<QString(const QString&)> mediaPathWriter(bool archive);
    // For the file being written: a media path relative to its folder where
    // the media lie inside it, else empty.
    std::function<QString(const QString&)> mediaBesideProject() const;
    // The files the last archive could not copy, "path: reason" each.
    QStringList lastArchiveFailures() const;
    // The progress window, made by the first archive.
    ArchivedProcessDialog* archivedProcessDialog() const;

    // A message to the user in an information box; to the log only when
    // there is no user (the command-line export).
    void showHint(const QString& text);
    // Asks whether a file named in `text` may be replaced: true for
    // "Replace", false for "Cancel" (the default) and when there is no user.
    bool askToReplace(const QString& text);
    // Tells the user why `path` is no project that opens; false when it is one.
    bool refuseUnreadable(const QString& path);
    // Finds media that the project's folder took along when it was moved.
    void relinkMovedMedia();
    // Reads again the project's media files that could not be read (they
    // were missing, or broken, and came back or were mended since) and
    // makes the clips and materials of each one that reads now usable.
    // Each unchanged file is read once. Returns how many became usable.
    int relinkReturnedMedia();

signals:
    void sig_prependHistory(QString path);
    void sig_updateProjectName(QString text, bool isName);
    // The automatic copy could not be written anywhere (why), or empty once
    // one was or the work was saved: the title bar keeps the warning up.
    void sig_autoSaveProblem(QString problem);
    // An archive ended; complete is false when files are missing from it or
    // its project file could not be written.
    void sig_archiveFinished(QString projectFile, bool complete);

public slots:
    void slot_closeArchivedProcess(QString path);
    // The window of the project's missing media files, if any: after a
    // project opened, and when the user asks to locate one.
    void offerMissingMedia();
    // A voice-over take that a crash cut off before it reached the timeline
    // goes into the library, and the user is told where it lies.
    void keepUnfinishedTake();

private:
    void showRecoveryPrompt(const QString& tempPath, const QString& projectToOpen);
    void forgetAutoSave();
    // The copy the recovery question was put off for is kept whole until a
    // later start: this session's copies do not take its place.
    void keepCopyForLater(const QString& tempPath);
    // The copy's path, or another beside it when it is a kept one.
    QString notKeptCopy(const QString& copy) const;
    // A copy that cannot be read, renamed to "<copy>.damaged" (or
    // ".damaged-N"); its new path, or the same when it cannot be renamed.
    static QString setAside(const QString& copy);
    // The pending automatic copy and the project file it was made of
    // ("autoSavePath", "autoSaveProject"); empty texts clear them.
    void recordAutoSave(const QString& copy, const QString& owner);
    static constexpr const char* kAutoSaveOwnerKey = "autoSaveProject";
    // Reads a project file into the sections, its path (or resolveAgainst,
    // which relative media paths then resolve against) becoming the
    // project's; false (the project then empty and untitled) when it is none.
    bool readProjectFile(const QString& path, const QString& resolveAgainst = QString());
    void announce(const QString& path, const char* statusKey);
    QString askSavePath(const QString& proposed);
    // Tells that a save the user asked for failed; true when the user then
    // chose to keep the project somewhere else.
    bool offerAnotherPlace(const QString& text);

    QPointer<QWidget> m_mainWindow;
    QPointer<RenderManager> m_renderManager;
    // What initializeHeadless() makes in place of the window.
    std::unique_ptr<TimeLineTreeModel> m_headlessTimeline;
    std::unique_ptr<FrameDispatcher> m_headlessFrames;
    std::unique_ptr<ProjectSections> m_headlessParts;
    ProjectSections* m_sections = nullptr;
    TerminationWatcher* m_termination = nullptr;
    bool m_fullPreview = false;
    QXmlStreamReader m_reader;
    QXmlStreamWriter m_writer;
    QString m_projectPath;
    QString m_sectionFile; // the file a save is writing
    // Unreadable media files as relinkReturnedMedia last read them: path ->
    // size and modification time.
    QHash<QString, QString> m_unreadableSeen;
    bool m_placeChosen = false; // the next save goes where the user just chose, without asking
    QString m_recoveredCopy; // the automatic copy this session recovered, until saved
    QStringList m_keptCopies; // the automatic copies put off to a later start (kept-copies.h)
    bool m_interactive = true;
    bool m_endRequested = false;
    // The last automatic copy: the history's generation it holds, and where.
    quint64 m_copiedGeneration = 0;
    QString m_copiedTo;
    QString m_archiveDir;
    bool m_archived = false;
    ProjectArchive* m_archive = nullptr;
    bool m_useSystemProxy = false;
    QByteArray m_proxyUrl;
    QByteArray m_proxyPort;
    bool m_systemProxyRead = false;
    QByteArray m_systemProxy;
};
