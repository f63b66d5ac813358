// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the event loop,
// so that a desktop logout or a kill from the shell still shuts down cleanly.
// SIGUSR1 asks a running export to finish now, keeping what it has written
// (the editor sends it to its background export when the user presses
// "Done"); elsewhere it is ignored.
#pragma once

#include <QObject>

class QSocketNotifier;

class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;
    // While set, SIGTERM, SIGINT and SIGHUP end the process at once with
    // status 128 + the signal, from the handler itself: for work that holds
    // up the event loop and leaves nothing behind when cut off (a
    // command-line export reading its project).
    static void setQuitAtOnce(bool quit);

signals:
    void terminationRequested(int signal);
    void finishRequested();

private:
    QSocketNotifier* m_notifier = nullptr;
};
