// Korvel's part in the desktop session, on the running (primary) instance:
// a later start of the program (a project opened from the file manager, a
// click on the launcher) brings this window up and opens its file here; the
// projects the user opens and saves go into the desktop's recent files.
// GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class ZyApp;

namespace desktop {

// The reverse-DNS name of the launcher entry, the icon and the metainfo.
constexpr const char* kAppId = "io.github.korvel.Korvel";

// For the installer hooks: removes the launcher entry, file types and icons
// that earlier versions installed under the bare name "korvel", from the
// data folder beside the program and from the user's own. Logs each one.
void removeEarlierDesktopFiles();

} // namespace desktop

class DesktopIntegration : public QObject {
    Q_OBJECT
public:
    // Made by the interactive start, after ZyApp::initialize; owned by app.
    explicit DesktopIntegration(ZyApp* app);

    // What another start asked for: the window comes up; a project file (an
    // absolute path; empty for none) is opened as the Open button would,
    // after the question about unsaved work. The file already open is only
    // raised. While a dialog is open the request waits until it closes; a
    // newer request replaces a waiting one.
    void activate(const QString& file);

private:
    void raiseWindow();
    void openRequested(const QString& file);
    // A project file this program can read: a ".zya2" or ".zya" file whose
    // root element is a project's. Else the message the user sees.
    QString refusal(const QString& file) const;
    void showHint(const QString& text);

    ZyApp* m_app;
    QString m_waiting;   // the file of a request that waits for a dialog to close
    bool m_waitingSet = false;
    bool m_busy = false; // a request is being handled (its save question may be open)
    QTimer m_retry;
};
