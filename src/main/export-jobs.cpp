#include "export-jobs.h"

#include "command-line-export.h"

#include "render/export/export-function.h"
#include "setting/setting-dialog.h"
#include "value/interface.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

// What is kept of a child's standard error.
constexpr int kLogBytes = 8192;
// How long a child asked to end may take before it is killed.
constexpr int kEndGraceMs = 10000;

const QString kScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kNotifyService = QStringLiteral("org.freedesktop.Notifications");
const QString kNotifyPath = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

int ExportJob::secondsLeft() const {
    if (state != Running || total <= 0 || !clock.isValid() || done <= clockFrom)
        return -1;
    const qint64 ms = clock.elapsed();
    if (ms < 500)
        return -1;
    const double perFrame = double(ms) / double(done - clockFrom);
    return int(perFrame * double(std::max<int64_t>(0, total - done)) / 1000.0 + 0.5);
}

QString ExportJob::logTail(int lines) const {
    // The child's "\rexport: 42 %" counter is progress, not a word.
    static const QRegularExpression counter(QStringLiteral("^export:\\s+\\d+ %$"));
    QStringList kept;
    for (const QString& line : QString::fromUtf8(log).split(QRegularExpression(QStringLiteral("[\r\n]")))) {
        if (!line.trimmed().isEmpty() && !counter.match(line.trimmed()).hasMatch())
            kept << line;
    }
    return kept.mid(std::max(0, int(kept.size()) - lines)).join(QLatin1Char('\n'));
}

DesktopSession::DesktopSession(QObject* parent) : QObject(parent) {}

DesktopSession::~DesktopSession() {
    uninhibit();
}

void DesktopSession::notify(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        LOGD("notification \"%s\" not shown: no session bus", qUtf8Printable(body));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyService,
                                                       QStringLiteral("Notify"));
    call << QStringLiteral("Korvel") << uint(0) << QStringLiteral("korvel") << summary << body << QStringList()
         << QVariantMap() << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [body](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError())
            LOGW("notification \"%s\" not shown: %s", qUtf8Printable(body), qUtf8Printable(reply.error().message()));
    });
}

void DesktopSession::inhibit(const QString& reason) {
    if (m_inhibited)
        return;
    m_inhibited = true;
    if (m_haveCookie)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        LOGD("sleep not inhibited: no session bus");
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath, kScreenSaverService,
                                                       QStringLiteral("Inhibit"));
    call << QStringLiteral("Korvel") << reason;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            LOGW("sleep not inhibited: %s", qUtf8Printable(reply.error().message()));
            return;
        }
        // The answer may come after the jobs ended, or after a later
        // request's answer: only one inhibition is ever held.
        if (m_inhibited && !m_haveCookie) {
            m_cookie = reply.value();
            m_haveCookie = true;
        } else {
            release(reply.value());
        }
    });
}

void DesktopSession::uninhibit() {
    if (!m_inhibited)
        return;
    m_inhibited = false;
    // Without a cookie yet, the answer releases what it brings.
    if (!m_haveCookie)
        return;
    m_haveCookie = false;
    release(m_cookie);
}

void DesktopSession::release(uint cookie) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath, kScreenSaverService,
                                                       QStringLiteral("UnInhibit"));
    call << cookie;
    if (!bus.send(call))
        LOGW("sleep inhibition not released: %s", qUtf8Printable(bus.lastError().message()));
}

ExportJobQueue::ExportJobQueue(QObject* parent)
    : QObject(parent), m_program(QCoreApplication::applicationFilePath()),
      m_environment(QProcessEnvironment::systemEnvironment()), m_session(new DesktopSession(this)) {
    m_killTimer = new QTimer(this);
    m_killTimer->setSingleShot(true);
    connect(m_killTimer, &QTimer::timeout, this, [this] {
        if (m_child) {
            LOGW("export job: the child did not end when asked; killing it");
            m_child->kill();
        }
    });
}

ExportJobQueue::~ExportJobQueue() {
    // The windows listening may already be gone.
    blockSignals(true);
    cancelAll();
}

QStringList ExportJobQueue::optionsFor(const MVParams& params, bool subtitles) {
    QStringList options {QStringLiteral("--fps"), QString::number(params.frameRate), QStringLiteral("--size"),
                         QStringLiteral("%1x%2").arg(params.width).arg(params.height), QStringLiteral("--bitrate"),
                         QString::number(params.bitRate), QStringLiteral("--speed"),
                         QString::number(params.playRate, 'g', 12)};
    // "Size Minimum" spaces the key frames wider than one a second.
    if (!params.audioOnly && params.keyFrameInterval > 0 && params.keyFrameInterval != params.frameRate)
        options << QStringLiteral("--keyint") << QString::number(params.keyFrameInterval);
    if (subtitles)
        options << QStringLiteral("--srt");
    // The editor's own choice, also when its command line made it.
    options << hwaccel::childOption();
    return options;
}

namespace {

const QString kSnapshotFolderPrefix = QStringLiteral("korvel-jobs-");

// An editor killed outright leaves its folder of project snapshots behind:
// "korvel-jobs-<pid>-XXXXXX" of this user whose process no longer runs here
// and which nothing touched for a day (an editor in another process space,
// a container sharing /tmp, is not seen running).
void removeSnapshotFoldersOfEndedEditors() {
    constexpr qint64 kQuietSeconds = 24 * 3600;
    const QDir temp(QDir::tempPath());
    for (const QFileInfo& folder : temp.entryInfoList({kSnapshotFolderPrefix + QStringLiteral("*-*")},
                                                      QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (folder.isSymLink() || folder.ownerId() != ::getuid())
            continue;
        const QString rest = folder.fileName().mid(kSnapshotFolderPrefix.size());
        bool number = false;
        const qint64 pid = rest.left(rest.indexOf(QLatin1Char('-'))).toLongLong(&number);
        if (!number || pid <= 0 || pid == QCoreApplication::applicationPid() ||
            folder.lastModified().secsTo(QDateTime::currentDateTime()) < kQuietSeconds)
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH && QDir(folder.filePath()).removeRecursively())
            LOGD("export job: removed %s, left by an editor that was killed", qUtf8Printable(folder.filePath()));
    }
}

} // namespace

QString ExportJobQueue::newSnapshotPath() {
    if (!m_folder) {
        removeSnapshotFoldersOfEndedEditors();
        m_folder = std::make_unique<QTemporaryDir>(QStringLiteral("%1/%2%3-XXXXXX")
                                                       .arg(QDir::tempPath(), kSnapshotFolderPrefix)
                                                       .arg(QCoreApplication::applicationPid()));
        if (!m_folder->isValid()) {
            LOGE("export job: no folder for project snapshots: %s", qUtf8Printable(m_folder->errorString()));
            m_folder.reset();
            return QString();
        }
    }
    static int counter = 0;
    return m_folder->filePath(QStringLiteral("job-%1.zya2").arg(++counter));
}

QString ExportJobQueue::partialPath(const QString& output, qint64 pid) {
    return exportfn::partialPath(output, pid);
}

int ExportJobQueue::add(const QString& snapshot, const QString& output, const QStringList& options) {
    ExportJob job;
    job.id = m_nextId++;
    job.snapshot = snapshot;
    job.output = QFileInfo(output).absoluteFilePath();
    job.options = options;
    m_jobs.append(job);
    LOGD("export job %d: %s queued", job.id, qUtf8Printable(job.output));
    emit jobAdded(job.id);
    startNext();
    return job.id;
}

const ExportJob* ExportJobQueue::job(int id) const {
    for (const ExportJob& j : m_jobs) {
        if (j.id == id)
            return &j;
    }
    return nullptr;
}

ExportJob* ExportJobQueue::find(int id) {
    return const_cast<ExportJob*>(job(id));
}

int ExportJobQueue::pending() const {
    return int(std::count_if(m_jobs.begin(), m_jobs.end(), [](const ExportJob& j) { return !j.ended(); }));
}

bool ExportJobQueue::writesTo(const QString& path) const {
    // One file however its folder is named (a link, "/./").
    const auto same = [](const QString& a, const QString& b) {
        const QFileInfo x(a), y(b);
        const QString folderX = QFileInfo(x.absolutePath()).canonicalFilePath();
        return x.fileName() == y.fileName() && !folderX.isEmpty() &&
               folderX == QFileInfo(y.absolutePath()).canonicalFilePath();
    };
    const auto writes = [&](const QString& file) { return file == path || same(file, path); };
    // The subtitles written beside a movie are that export's file too.
    return std::any_of(m_jobs.begin(), m_jobs.end(), [&](const ExportJob& job) {
        return !job.ended() && (writes(job.output) || (job.options.contains(QStringLiteral("--srt")) &&
                                                       writes(exportfn::srtPathBeside(job.output))));
    });
}

void ExportJobQueue::startNext() {
    if (m_running)
        return;
    auto next = std::find_if(m_jobs.begin(), m_jobs.end(), [](const ExportJob& j) { return j.state == ExportJob::Queued; });
    if (next == m_jobs.end()) {
        m_session->uninhibit();
        return;
    }
    ExportJob& job = *next;
    m_running = job.id;
    m_cancelling = false;
    m_pendingOut.clear();
    job.state = ExportJob::Running;
    m_child = new QProcess(this);
    QProcessEnvironment environment = m_environment;
    // The export ends with this editor, even one killed outright.
    environment.insert(QLatin1String(kEditorPidVariable), QString::number(QCoreApplication::applicationPid()));
    m_child->setProcessEnvironment(environment);
    connect(m_child, &QProcess::readyReadStandardOutput, this, &ExportJobQueue::readProgress);
    connect(m_child, &QProcess::readyReadStandardError, this, &ExportJobQueue::readLog);
    connect(m_child, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &ExportJobQueue::childEnded);
    connect(m_child, &QProcess::errorOccurred, this, &ExportJobQueue::childFailedToStart);
    connect(m_child, &QProcess::started, this, [this] {
        if (ExportJob* j = find(m_running)) {
            j->pid = m_child->processId();
            LOGD("export job %d: child %lld exports %s", j->id, j->pid, qUtf8Printable(j->output));
        }
    });
    m_session->inhibit(QStringLiteral("Exporting %1").arg(QFileInfo(job.output).fileName()));
    const QStringList arguments =
        QStringList {QStringLiteral("--export"), job.snapshot, job.output} + job.options + QStringList {QStringLiteral("--progress")};
    emit jobChanged(job.id);
    m_child->start(m_program, arguments);
}

void ExportJobQueue::readProgress() {
    ExportJob* job = find(m_running);
    if (!job || !m_child)
        return;
    m_pendingOut += m_child->readAllStandardOutput();
    bool changed = false;
    int end;
    while ((end = m_pendingOut.indexOf('\n')) >= 0) {
        const QList<QByteArray> words = m_pendingOut.left(end).trimmed().split(' ');
        m_pendingOut.remove(0, end + 1);
        if (words.size() != 3 || words[0] != "progress")
            continue;
        bool okDone = false, okTotal = false;
        const qlonglong done = words[1].toLongLong(&okDone);
        const qlonglong total = words[2].toLongLong(&okTotal);
        if (!okDone || !okTotal)
            continue;
        // The pace is measured from the first frame written.
        if (!job->clock.isValid() && done > 0) {
            job->clock.start();
            job->clockFrom = done;
        }
        job->done = done;
        job->total = total;
        changed = true;
    }
    if (changed)
        emit jobChanged(job->id);
}

void ExportJobQueue::readLog() {
    ExportJob* job = find(m_running);
    if (!job || !m_child)
        return;
    job->log += m_child->readAllStandardError();
    if (job->log.size() > kLogBytes)
        job->log = job->log.right(kLogBytes);
}

void ExportJobQueue::childFailedToStart(QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart || !m_child)
        return;
    ExportJob* job = find(m_running);
    const QString why = m_child->errorString();
    m_child->deleteLater();
    m_child = nullptr;
    m_running = 0;
    if (job)
        end(*job, ExportJob::Failed, QStringLiteral("%1 could not be started: %2").arg(m_program, why));
    startNext();
}

void ExportJobQueue::childEnded(int exitCode, QProcess::ExitStatus status) {
    m_killTimer->stop();
    ExportJob* job = find(m_running);
    if (m_child) {
        readProgress();
        readLog();
        m_child->deleteLater();
        m_child = nullptr;
    }
    m_running = 0;
    const bool cancelled = m_cancelling;
    m_cancelling = false;
    if (!job) {
        startNext();
        return;
    }
    // A child that died mid-file leaves its hidden partial file behind.
    if (job->pid > 0) {
        const QString partial = partialPath(job->output, job->pid);
        if (QFile::exists(partial) && QFile::remove(partial))
            LOGD("export job %d: removed the partial file %s", job->id, qUtf8Printable(partial));
    }
    const bool wrote = status == QProcess::NormalExit && exitCode == 0;
    if (wrote && QFileInfo(job->output).isFile()) {
        end(*job, ExportJob::Done, QString());
    } else if (cancelled) {
        end(*job, ExportJob::Cancelled, QString());
    } else if (wrote) {
        end(*job, ExportJob::Failed, QStringLiteral("the export file was not generated"));
    } else if (status == QProcess::CrashExit) {
        end(*job, ExportJob::Failed, QStringLiteral("the export process crashed (signal %1)").arg(exitCode));
    } else {
        // The child says why as it fails; debug lines may follow.
        QString why = QStringLiteral("the export ended with status %1").arg(exitCode);
        const QList<QByteArray> lines = job->log.split('\n');
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            const QByteArray text = line->trimmed();
            if (text.startsWith("export: failed: ")) {
                why = QString::fromUtf8(text.mid(int(qstrlen("export: failed: "))));
                break;
            }
        }
        end(*job, ExportJob::Failed, why);
    }
    startNext();
}

void ExportJobQueue::end(ExportJob& job, ExportJob::State state, const QString& reason) {
    job.state = state;
    job.reason = reason;
    if (!job.snapshot.isEmpty())
        QFile::remove(job.snapshot);
    const QString name = QFileInfo(job.output).fileName();
    switch (state) {
    case ExportJob::Done:
        LOGD("export job %d: %s written", job.id, qUtf8Printable(job.output));
        m_session->notify(tr("exportjobs.Title"), doneNote(job));
        break;
    case ExportJob::Failed:
        LOGE("export job %d: %s failed: %s\n%s", job.id, qUtf8Printable(job.output), qUtf8Printable(reason),
             qUtf8Printable(job.logTail()));
        m_session->notify(tr("exportjobs.Title"), tr("exportjobs.FailedNote").arg(name));
        break;
    default:
        LOGD("export job %d: %s cancelled", job.id, qUtf8Printable(job.output));
        break;
    }
    const int id = job.id;
    emit jobChanged(id);
    emit jobEnded(id);
}

QString ExportJobQueue::doneNote(const ExportJob& job) {
    const QString name = QFileInfo(job.output).fileName();
    // Finished early, the file is shorter than the timeline: said, not hidden.
    if (job.finishedEarly && job.total > 0 && job.done < job.total)
        return tr("exportjobs.FinishedEarlyNote").arg(name).arg(job.done).arg(job.total);
    return tr("exportjobs.FinishedNote").arg(name);
}

void ExportJobQueue::cancel(int id) {
    ExportJob* job = find(id);
    if (!job || job->ended())
        return;
    if (job->state == ExportJob::Queued) {
        end(*job, ExportJob::Cancelled, QString());
        if (!pending())
            m_session->uninhibit();
        return;
    }
    if (m_running != id || !m_child || m_cancelling)
        return;
    // The child hears SIGTERM as "cancel": it stops and removes its partial file.
    m_cancelling = true;
    m_child->terminate();
    m_killTimer->start(kEndGraceMs);
}

void ExportJobQueue::finish(int id) {
    ExportJob* job = find(id);
    if (!job || job->ended() || m_cancelling)
        return;
    if (job->state == ExportJob::Queued || job->done <= 0 || m_running != id || !m_child || job->pid <= 0) {
        cancel(id);
        return;
    }
    // Every frame written: the child is closing its file already. One that
    // has ended is not signalled (its process id may be another's by now).
    if ((job->total > 0 && job->done >= job->total) || m_child->state() != QProcess::Running)
        return;
    // The child hears SIGUSR1 as "finish now": it closes its file with the
    // frames written and ends as a whole export does.
    LOGD("export job %d: finishing early at %lld of %lld", job->id, static_cast<long long>(job->done),
         static_cast<long long>(job->total));
    job->finishedEarly = true;
    ::kill(pid_t(job->pid), SIGUSR1);
}

void ExportJobQueue::cancelAll() {
    for (ExportJob& job : m_jobs) {
        if (job.state == ExportJob::Queued)
            end(job, ExportJob::Cancelled, QString());
    }
    if (m_running && m_child) {
        QProcess* child = m_child;
        cancel(m_running);
        if (!child->waitForFinished(kEndGraceMs)) {
            child->kill();
            child->waitForFinished(3000);
        }
    }
    m_session->uninhibit();
}
