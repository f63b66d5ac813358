#include "single-application.h"

#include "value/interface.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QSharedMemory>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <pwd.h>
#include <unistd.h>

struct SingleApplication::InstancesInfo {
    quint32 magic;
    quint32 primary;   // 1 while a primary runs
    qint64 primaryPid;
    quint16 checksum;  // over the fields above; a torn write shows as a mismatch
};

namespace {

constexpr quint32 kMagic = 0x4b4f5256; // "KORV"
constexpr char kAnswer[] = "running";
// A start message is one line; a longer one is not from a Korvel start.
constexpr int kMaxMessageBytes = 64 * 1024;

quint16 blockChecksum(const void* info) {
    return qChecksum(static_cast<const char*>(info), offsetof(SingleApplication::InstancesInfo, checksum));
}

QString loginName() {
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty()) {
        if (const passwd* pw = getpwuid(getuid()))
            name = QString::fromLocal8Bit(pw->pw_name);
    }
    return name;
}

bool processAlive(qint64 pid) {
    if (pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

SingleApplication::SingleApplication(int& argc, char** argv, bool allowSecondary, Options options, int timeoutMs)
    : QApplication(argc, argv), m_options(options), m_timeoutMs(timeoutMs) {
    Q_UNUSED(allowSecondary); // a secondary always exists long enough to report itself
    QByteArray identity = "SingleApplication|" + QCoreApplication::organizationName().toUtf8() + "|" +
                          QCoreApplication::applicationName().toUtf8();
    if (m_options.testFlag(User))
        identity += "|" + loginName().toUtf8();
    m_key = QStringLiteral("korvel-") +
            QString::fromLatin1(QCryptographicHash::hash(identity, QCryptographicHash::Sha256).toHex().left(40));
    startGuard();
}

SingleApplication::~SingleApplication() {
    releaseGuard();
    delete m_memory;
}

void SingleApplication::releaseGuard() {
    if (m_server)
        m_server->close();
    if (m_primary && m_memory && m_memory->isAttached()) {
        if (m_memory->lock()) {
            auto* info = static_cast<InstancesInfo*>(m_memory->data());
            if (info->primaryPid == QCoreApplication::applicationPid()) {
                info->magic = kMagic;
                info->primary = 0;
                info->primaryPid = 0;
                info->checksum = blockChecksum(info);
            }
            unlockBlock("SingleApplication: Unable to unlock memory at end of execution.");
        }
    }
}

bool SingleApplication::lockBlock(const char* failureText) {
    if (m_memory->lock())
        return true;
    LOGE("%s", failureText);
    return false;
}

void SingleApplication::unlockBlock(const char* failureText) {
    if (!m_memory->unlock())
        LOGE("%s", failureText);
}

void SingleApplication::startGuard() {
    m_memory = new QSharedMemory(m_key);
    bool locked = false;
    if (m_memory->create(sizeof(InstancesInfo))) {
        locked = lockBlock("SingleApplication: Unable to lock memory block after create.");
        if (locked) {
            auto* info = static_cast<InstancesInfo*>(m_memory->data());
            info->magic = kMagic;
            info->primary = 0;
            info->primaryPid = 0;
            info->checksum = blockChecksum(info);
        }
    } else if (m_memory->error() == QSharedMemory::AlreadyExists) {
        if (!m_memory->attach()) {
            LOGE("SingleApplication: Unable to attach to shared memory block.");
        } else {
            locked = lockBlock("SingleApplication: Unable to lock memory block after attach.");
        }
    } else {
        LOGE("SingleApplication: Unable to create block.");
    }

    if (!locked) {
        // Without a usable block the guard cannot decide; running beats refusing to start.
        m_primary = true;
        startServer();
        return;
    }

    QElapsedTimer staleFor; // how long the block has named no live, answering primary
    while (!inspectBlockLocked(staleFor)) {
        QThread::msleep(20 + QRandomGenerator::global()->bounded(30));
        if (!lockBlock("SingleApplication: Unable to lock memory block after attach.")) {
            m_primary = true;
            startServer();
            return;
        }
    }
}

// Called with the block locked. Returns true when the role is decided (the
// block is then unlocked); false to try again after a pause (also unlocked).
bool SingleApplication::inspectBlockLocked(QElapsedTimer& staleFor) {
    auto* info = static_cast<InstancesInfo*>(m_memory->data());
    auto overdue = [&] {
        if (!staleFor.isValid())
            staleFor.start();
        return staleFor.elapsed() > kTakeOverMs;
    };

    bool consistent = info->magic == kMagic && info->checksum == blockChecksum(info);
    if (!consistent) {
        if (overdue()) {
            LOGW("SingleApplication: Shared memory block has been in an inconsistent state from more than 5s. "
                 "Assuming primary instance failure.");
            becomePrimaryLocked();
            unlockBlock("SingleApplication: Unable to unlock memory after primary start.");
            return true;
        }
        unlockBlock("SingleApplication: Unable to unlock memory after secondary start.");
        return false;
    }

    if (!info->primary) {
        becomePrimaryLocked();
        unlockBlock("SingleApplication: Unable to unlock memory after primary start.");
        return true;
    }

    qint64 pid = info->primaryPid;
    if (!processAlive(pid)) {
        LOGW("SingleApplication: primary instance %lld is gone; taking over.", static_cast<long long>(pid));
        becomePrimaryLocked();
        unlockBlock("SingleApplication: Unable to unlock memory after primary start.");
        return true;
    }
    unlockBlock("SingleApplication: Unable to unlock memory after secondary start.");

    if (notifyPrimary()) {
        m_primary = false;
        return true;
    }
    // The recorded process lives but does not answer: hung, or its number was
    // given to another program. Give it the grace period, then take over.
    if (overdue()) {
        if (!lockBlock("SingleApplication: Unable to lock memory block after attach."))
            return false;
        LOGW("SingleApplication: Shared memory block has been in an inconsistent state from more than 5s. "
             "Assuming primary instance failure.");
        becomePrimaryLocked();
        unlockBlock("SingleApplication: Unable to unlock memory after primary start.");
        return true;
    }
    return false;
}

void SingleApplication::becomePrimaryLocked() {
    // Listen before publishing the block, so a secondary that reads it can connect.
    startServer();
    auto* info = static_cast<InstancesInfo*>(m_memory->data());
    info->magic = kMagic;
    info->primary = 1;
    info->primaryPid = QCoreApplication::applicationPid();
    info->checksum = blockChecksum(info);
    m_primary = true;
}

bool SingleApplication::notifyPrimary() {
    QLocalSocket socket;
    socket.connectToServer(m_key);
    if (!socket.waitForConnected(m_timeoutMs))
        return false;
    // The kernel accepts a connection for a process that is stopped or stuck;
    // only the primary's answer shows that it really runs.
    socket.write(m_options.testFlag(SecondaryNotification) ? startMessage() : QByteArray("hello\n"));
    socket.waitForBytesWritten(m_timeoutMs);
    QElapsedTimer waited;
    waited.start();
    while (!socket.bytesAvailable() && waited.elapsed() < m_timeoutMs &&
           socket.state() == QLocalSocket::ConnectedState)
        socket.waitForReadyRead(m_timeoutMs - int(waited.elapsed()));
    const bool answered = socket.readAll().startsWith(kAnswer);
    socket.disconnectFromServer();
    if (!answered)
        LOGW("SingleApplication: the running instance does not answer");
    return answered;
}

void SingleApplication::startServer() {
    if (m_server)
        return;
    // A killed primary leaves its socket file behind.
    QLocalServer::removeServer(m_key);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(m_options.testFlag(User) ? QLocalServer::UserAccessOption
                                                        : QLocalServer::WorldAccessOption);
    if (!m_server->listen(m_key)) {
        LOGW("SingleApplication: cannot listen on %s: %s", qUtf8Printable(m_key),
             qUtf8Printable(m_server->errorString()));
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                // The message may come in pieces; it is complete at its line end.
                QByteArray buffer = socket->property("message").toByteArray() + socket->readAll();
                const int end = buffer.indexOf('\n');
                if (end < 0) {
                    if (buffer.size() > kMaxMessageBytes) {
                        LOGW("SingleApplication: a start message of over %d bytes is refused", kMaxMessageBytes);
                        socket->abort();
                        return;
                    }
                    socket->setProperty("message", buffer);
                    return;
                }
                socket->setProperty("message", QVariant());
                // Sent now, not when the event loop next runs: what the
                // message asks (a large project to open) may hold the loop
                // for longer than the newcomer waits, and it would start a
                // second editor.
                socket->write(kAnswer);
                socket->flush();
                handleMessage(buffer.left(end));
            });
        }
    });
}

QByteArray SingleApplication::startMessage() const {
    QByteArray message = "secondary:" + QByteArray::number(QCoreApplication::applicationPid());
    // Only the first argument counts, as at a first start; an option is no file.
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1 && !arguments.at(1).isEmpty() && !arguments.at(1).startsWith(QLatin1Char('-'))) {
        // Made absolute here: the running instance has another working folder.
        message += ' ' + QUrl::fromLocalFile(QFileInfo(arguments.at(1)).absoluteFilePath()).toEncoded();
    }
    return message + '\n';
}

void SingleApplication::handleMessage(const QByteArray& message) {
    const int space = message.indexOf(' ');
    const QByteArray head = space < 0 ? message : message.left(space);
    LOGD("another instance started (%s)", head.constData());
    if (!head.startsWith("secondary:"))
        return;
    emit instanceStarted(QString::fromUtf8(head));
    QString file;
    if (space >= 0) {
        const QUrl url = QUrl::fromEncoded(message.mid(space + 1).trimmed(), QUrl::StrictMode);
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isAbsolute())
            file = url.toLocalFile();
        else
            LOGW("SingleApplication: the start message names no local file: %s",
                 message.mid(space + 1, 200).constData());
    }
    // After this handler: the answer is on its way before any window opens.
    QMetaObject::invokeMethod(
        this, [this, file] { emit activationRequested(file); }, Qt::QueuedConnection);
}
