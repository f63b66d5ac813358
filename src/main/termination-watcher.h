// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the event loop,
// so that a desktop logout or a kill from the shell still shuts down cleanly.
#pragma once

#include <QObject>

class QSocketNotifier;

class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;

signals:
    void terminationRequested(int signal);

private:
    QSocketNotifier* m_notifier = nullptr;
};
