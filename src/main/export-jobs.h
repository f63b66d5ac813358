// Exports as background jobs: each runs the program itself as a child
// process ("korvel --export SNAPSHOT OUTPUT options --progress"), one at a
// time, the others queued behind it. The child reads a snapshot of the
// project written when the export was asked for, so the editor goes on
// editing (and saving) while it runs, and a crash of the encoder ends the
// child, not the editor.
//
// While a job runs, the desktop is asked not to sleep (the session's
// screen-saver inhibition over D-Bus); each job that ends is announced by a
// desktop notification. Without those services the queue only logs it.
//
// GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

struct MVParams;
class QTemporaryDir;
class QTimer;

struct ExportJob {
    enum State { Queued, Running, Done, Failed, Cancelled };
    int id = 0;
    QString output;   // the file the export writes
    QString snapshot; // the project the child reads; removed when the job ends
    QStringList options;
    State state = Queued;
    int64_t done = 0; // output frames written, of total (0 while unknown)
    int64_t total = 0;
    bool finishedEarly = false; // asked to finish now: the file holds `done` frames
    qint64 pid = 0;   // the child's, while it runs
    QString reason;   // why it failed
    QByteArray log;   // the child's last words (standard error), trimmed
    QElapsedTimer clock; // from the first frame written
    int64_t clockFrom = 0;

    bool ended() const { return state == Done || state == Failed || state == Cancelled; }
    // Seconds until the end at the pace so far; -1 while unknown.
    int secondsLeft() const;
    // The last lines of the child's log, without its progress counter.
    QString logTail(int lines = 12) const;
};

// Speaks to the desktop session over D-Bus: notifications and the sleep
// inhibition. Every call is asynchronous; a missing service is logged.
class DesktopSession : public QObject {
    Q_OBJECT
public:
    explicit DesktopSession(QObject* parent = nullptr);
    ~DesktopSession() override;
    void notify(const QString& summary, const QString& body);
    // Inhibit is counted once: the second call while inhibited does nothing.
    void inhibit(const QString& reason);
    void uninhibit();
    bool inhibited() const { return m_inhibited; }

private:
    void release(uint cookie);

    bool m_inhibited = false; // wanted: jobs run or wait
    uint m_cookie = 0;
    bool m_haveCookie = false;
};

class ExportJobQueue : public QObject {
    Q_OBJECT
public:
    explicit ExportJobQueue(QObject* parent = nullptr);
    // Cancels what still runs: no child outlives the queue, no partial file stays.
    ~ExportJobQueue() override;

    // The program run with "--export"; this executable unless set (tests).
    void setProgram(const QString& program) { m_program = program; }
    QString program() const { return m_program; }
    // The children's environment; the editor's own unless set.
    void setEnvironment(const QProcessEnvironment& environment) { m_environment = environment; }

    // The command-line options that make the child export what params ask
    // (its size, rate, bit rate, key frames and speed), with --srt when the
    // subtitles go along.
    static QStringList optionsFor(const MVParams& params, bool subtitles);
    // What the user is told of a job that ended well: that it is exported,
    // or that it was finished early and how much it holds.
    static QString doneNote(const ExportJob& job);
    // A fresh path for a job's project snapshot in the queue's private
    // folder; empty when that folder cannot be made.
    QString newSnapshotPath();

    // Queues an export of snapshot to output; it starts at once when none
    // runs. The queue owns the snapshot from here on. Returns the job's id.
    int add(const QString& snapshot, const QString& output, const QStringList& options);
    // A queued job is dropped, a running one stopped: its child is asked to
    // end (and killed when it does not), and its partial file removed.
    void cancel(int id);
    // A running job ends now and keeps the frames written: its file is
    // closed whole and the job is done. A job with nothing written yet, or
    // still queued, is cancelled instead.
    void finish(int id);
    // Cancels every job and waits for the running child to end.
    void cancelAll();

    const QList<ExportJob>& jobs() const { return m_jobs; }
    const ExportJob* job(int id) const;
    // Jobs queued or running.
    int pending() const;
    // Whether a job queued or running writes to this absolute path.
    bool writesTo(const QString& path) const;

    // The hidden name the exporter writes under beside output until the file
    // is whole (see ExportManager::Export).
    static QString partialPath(const QString& output, qint64 pid);

signals:
    void jobAdded(int id);
    void jobChanged(int id);
    void jobEnded(int id);

private:
    ExportJob* find(int id);
    void startNext();
    void readProgress();
    void readLog();
    void childEnded(int exitCode, QProcess::ExitStatus status);
    void childFailedToStart(QProcess::ProcessError error);
    void end(ExportJob& job, ExportJob::State state, const QString& reason);

    QString m_program;
    QProcessEnvironment m_environment;
    std::unique_ptr<QTemporaryDir> m_folder;
    QList<ExportJob> m_jobs;
    QProcess* m_child = nullptr;
    QTimer* m_killTimer = nullptr;
    int m_running = 0; // the running job's id, 0 when none
    bool m_cancelling = false;
    int m_nextId = 1;
    QByteArray m_pendingOut;
    DesktopSession* m_session = nullptr;
};
