// The single-instance guard: the first process of a user becomes the primary
// instance; a later one finds it through a shared-memory block, tells it of
// its start over a local socket and is marked secondary. With the start comes
// the file it was asked to open (its first argument, made absolute), so that
// the running instance opens it instead.
//
// A primary that crashed or was killed leaves its block behind. A later start
// checks that the recorded primary still lives and answers on its socket, and
// takes over otherwise, so a dead instance never locks the user out.
#pragma once

#include <QApplication>
#include <QElapsedTimer>

class QLocalServer;
class QSharedMemory;

class SingleApplication : public QApplication {
    Q_OBJECT
public:
    enum Mode {
        User = 1 << 0,                  // one primary per user (the key includes the login name)
        System = 1 << 1,                // the block is visible system-wide
        SecondaryNotification = 1 << 2, // a secondary tells the primary of its start
    };
    Q_DECLARE_FLAGS(Options, Mode)

    // timeoutMs bounds each handshake step with the primary.
    SingleApplication(int& argc, char** argv, bool allowSecondary, Options options, int timeoutMs);
    ~SingleApplication() override;

    bool isPrimary() const { return m_primary; }
    // Stops answering and frees the block: a start from now on becomes the
    // primary, even while this process is still ending. Idempotent.
    void releaseGuard();
    bool isSecondary() const { return !m_primary; }
    // The key of the block and the name of the primary's socket.
    QString blockServerName() const { return m_key; }

    // A block whose primary is gone is taken over after at most this long.
    static constexpr int kTakeOverMs = 5000;

signals:
    // On the primary: another instance started (its message text).
    void instanceStarted(const QString& message);
    // On the primary, after that instance was answered (so it has ended or
    // is ending): bring the window up, and open file when it is not empty
    // (an absolute path). Delivered from the event loop, never from inside
    // the socket's handling.
    void activationRequested(const QString& file);

public:
    // The shared block's layout.
    struct InstancesInfo;

private:

    void startGuard();
    bool inspectBlockLocked(QElapsedTimer& staleFor);
    void becomePrimaryLocked();
    bool notifyPrimary();
    // "secondary:<pid>", then " <file URL>" when this start names a file, then a line end.
    QByteArray startMessage() const;
    void handleMessage(const QByteArray& message);
    bool lockBlock(const char* failureText);
    void unlockBlock(const char* failureText);
    void startServer();

    Options m_options;
    int m_timeoutMs;
    bool m_primary = false;
    QString m_key;
    QSharedMemory* m_memory = nullptr;
    QLocalServer* m_server = nullptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(SingleApplication::Options)

// The application object's immediate base; the seam for platform tweaks.
class SingleApplicationWrapper : public SingleApplication {
    Q_OBJECT
public:
    using SingleApplication::SingleApplication;
};
