// The application object: start-up work, project-wide state and the network
// proxy. Reached everywhere through ZyApp::instance(). GUI thread only.
#pragma once

#include "single-application.h"
#include "render/preview-requests.h"
#include "render/render-manager.h"

#include <QPointer>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <QWidget>
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
    bool initialize();
    // After initialize(): the recovery prompt for a pending auto-save copy
    // (800 ms later), else the command-line project.
    void startSession(const QStringList& arguments);

    QWidget* mainWindow() const { return m_mainWindow; }
    RenderManager* renderManager() const { return m_renderManager; }

    // Proxy settings ("use_system_proxy", "proxy_url", "proxy_port").
    void loadProxySettings();
    void applyProxy();
    void setProxy(const QByteArray& url, const QByteArray& port);
    void setUseSystemProxy(bool use);
    // The desktop's proxy as "host:port"; empty when none. Read once, before
    // the program sets http_proxy itself.
    QByteArray systemProxy();
    // The proxy text applyProxy() uses for the given settings.
    static QByteArray chooseProxyText(bool useSystem, const QByteArray& system, const QByteArray& url,
                                      const QByteArray& port);

    bool isFullPreview() const { return m_fullPreview; }
    void toggleFullPreview();

    // Recovery of an auto-save copy: continue (rename it over the project it
    // belongs to and open that; open the copy in place when the project was
    // never saved) or discard (delete it). Clears "autoSavePath" either way.
    void resumeAutoSave(bool resume, const QString& tempPath);

    QString currentProjectPath() const { return m_projectPath; }
    bool isArchived() const { return m_archived; }
    // Makes the file the current project. Reading the project's sections
    // comes with the project-file support; for now the path is taken over.
    bool openProject(const QString& path);

signals:
    void sig_prependHistory(QString path);
    void sig_updateProjectName(QString text, bool isName);
    void sig_updatePreivew();
    void sig_updateCropMenu(QList<VFrameInfo> frames);

public slots:
    void slot_closeArchivedProcess(QString path);

private:
    void showRecoveryPrompt(const QString& tempPath);

    QPointer<QWidget> m_mainWindow;
    QPointer<RenderManager> m_renderManager;
    TerminationWatcher* m_termination = nullptr;
    bool m_fullPreview = false;
    QXmlStreamReader m_reader;
    QXmlStreamWriter m_writer;
    QString m_projectPath;
    QString m_archiveDir;
    bool m_archived = false;
    bool m_useSystemProxy = false;
    QByteArray m_proxyUrl;
    QByteArray m_proxyPort;
    bool m_systemProxyRead = false;
    QByteArray m_systemProxy;
};
