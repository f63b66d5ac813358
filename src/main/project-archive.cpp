// The copying is the slow part and touches nothing but files, so it runs on
// a pool thread; the project's data (library, timeline, undo history) lives
// on the GUI thread and is written there once the copies stand, while the
// modal progress window keeps the user from changing it.
#include "project-archive.h"

#include "main-window.h"
#include "project-file.h"
#include "resource/project/archived-process-dialog.h"
#include "value/interface.h"
#include "zyapp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QThreadPool>
#include <QTimer>
#include <QXmlStreamWriter>

namespace {

constexpr int kProgressTickMs = 100;
// How long the success note stands before the window closes by itself.
constexpr int kSuccessNoteMs = 1200;
// A message lists this many failed files and counts the rest.
constexpr int kListedFailures = 10;

} // namespace

// One archive's copying, shared by the GUI thread and the pool thread.
struct ProjectArchive::Job {
    QString projectFile; // <folder>/<base>/<base>.zya2
    QString resourceDir;
    bool madeFolder = false; // <folder>/<base> did not exist before
    QStringList media;
    archive::Progress progress;
    // Written by the pool thread before it posts the end; read by the GUI
    // thread only after acquiring finished.
    archive::CopyResult result;
    // Released exactly once, by the pool thread as its last act.
    QSemaphore finished;
    bool joined = false; // GUI thread: finished has been acquired
};

bool ProjectArchive::insideFolder(const QString& path, const QString& folder) {
    if (folder.isEmpty() || QFileInfo(path).isRelative())
        return false;
    return QDir::cleanPath(path).startsWith(QDir::cleanPath(folder) + QLatin1Char('/'));
}

ProjectArchive::ProjectArchive(ZyApp* app) : QObject(app), m_app(app) {}

ProjectArchive::~ProjectArchive() {
    stop();
    delete m_dialog;
}

ArchivedProcessDialog* ProjectArchive::progressDialog() const {
    return m_dialog;
}

QStringList ProjectArchive::collectMedia() {
    QStringList media;
    ProjectSections* sections = m_app->projectSections();
    if (!sections)
        return media;
    // The writers name every media path they would store; what they write is thrown away.
    const Phase before = m_phase;
    m_phase = Phase::Collect;
    m_collected.clear();
    QByteArray scratch;
    QXmlStreamWriter writer(&scratch);
    writer.writeStartElement(QStringLiteral("Tamsel"));
    writer.writeStartElement(QStringLiteral("Resource"));
    sections->writeResource(writer, true);
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("Timeline"));
    sections->writeTimeline(writer, true);
    writer.writeEndElement();
    writer.writeEndElement();
    m_phase = before;
    media.swap(m_collected);
    return media;
}

QString ProjectArchive::copyOf(const QString& mediaPath) {
    if (mediaPath.isEmpty())
        return mediaPath;
    const QString own = QDir::cleanPath(QFileInfo(mediaPath).absoluteFilePath());
    switch (m_phase) {
    case Phase::Collect:
        m_collected.append(mediaPath);
        return mediaPath;
    case Phase::Write: {
        const auto found = m_copies.constFind(mediaPath);
        if (found != m_copies.constEnd())
            return *found;
        // Its copy failed: the path it has keeps it working on this computer.
        LOGW("archive: %s has no copy in the archive; its own path is stored", qUtf8Printable(mediaPath));
        return own;
    }
    case Phase::None:
        break;
    }
    const QString folder = m_app->archiveDir();
    if (folder.isEmpty()) {
        LOGW("archive: no archive folder for %s", qUtf8Printable(mediaPath));
        return own;
    }
    const archive::CopyResult copied =
        archive::copyMedia({mediaPath}, folder + QLatin1Char('/') + QLatin1String(archive::kResourceFolder));
    return copied.copies.value(mediaPath, own);
}

std::function<QString(const QString&)> ProjectArchive::pathWriter() {
    return [this](const QString& path) {
        const QString copy = copyOf(path);
        const QString folder = m_app->archiveDir();
        if (m_phase == Phase::Collect || !insideFolder(copy, folder))
            return copy;
        if (!QDir().mkpath(folder))
            LOGW("archive: cannot make %s", qUtf8Printable(folder));
        return QDir(folder).relativeFilePath(copy);
    };
}

bool ProjectArchive::copyNowFor(const QString& folder) {
    if (m_phase == Phase::Write)
        return false;
    m_failures.clear();
    m_copies.clear();
    if (QFileInfo(folder).isDir()) {
        const archive::CopyResult copied =
            archive::copyMedia(collectMedia(), folder + QLatin1Char('/') + QLatin1String(archive::kResourceFolder));
        m_copies = copied.copies;
        setFailures(copied.failures);
    }
    m_phase = Phase::Write;
    return true;
}

void ProjectArchive::endCopies() {
    m_phase = Phase::None;
    m_copies.clear();
}

void ProjectArchive::setFailures(const QList<archive::Failure>& failures) {
    m_failures.clear();
    for (const archive::Failure& f : failures)
        m_failures.append(f.source + QStringLiteral(": ") + f.reason);
}

bool ProjectArchive::start(const QString& path) {
    if (isRunning()) {
        LOGW("archive: one is already being made; %s is not started", qUtf8Printable(path));
        return false;
    }
    if (!m_app->projectSections())
        return false;
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QString base = info.fileName().section(QLatin1Char('.'), 0, 0);
    if (base.isEmpty()) {
        m_app->showHint(tr("archivedialog.NameEmpty"));
        return false;
    }
    const QString archiveFolder = folder + QLatin1Char('/') + base;
    const QString projectFile = archiveFolder + QLatin1Char('/') + base + QStringLiteral(".zya2");
    // Another archive of that name (different names can share it: the part
    // before the first dot names it) is replaced only when the user says so.
    // The open project archived onto itself asks nothing.
    const QString open = m_app->currentProjectPath();
    if (QFileInfo(projectFile).isFile() &&
        (open.isEmpty() || QFileInfo(open).canonicalFilePath() != QFileInfo(projectFile).canonicalFilePath()) &&
        !m_app->askToReplace(tr("archivedialog.AskReplace").arg(QDir::toNativeSeparators(projectFile)))) {
        LOGW("archive: %s is kept; no archive was made", qUtf8Printable(projectFile));
        return false;
    }
    const QFileInfo there(archiveFolder);
    // An existing archive folder is reused; anything else in the way, or a
    // folder that cannot be made, stops here before anything is written.
    const bool existed = there.isDir();
    const bool made = existed || (!there.exists() && !there.isSymLink() && QDir(folder).mkdir(base));
    if (!made || !QFileInfo(archiveFolder).isDir()) {
        LOGE("archive: the folder %s cannot be made", qUtf8Printable(archiveFolder));
        m_app->showHint(tr("archivedialog.WriteForbidden"));
        return false;
    }

    auto job = std::make_shared<Job>();
    job->projectFile = projectFile;
    job->madeFolder = !existed;
    job->resourceDir = archiveFolder + QLatin1Char('/') + QLatin1String(archive::kResourceFolder);
    job->media = collectMedia();
    m_job = job;
    m_failures.clear();
    auto* window = qobject_cast<MainWindow*>(m_app->mainWindow());
    m_autoSaveBefore = window && window->autoSaveRunning();
    if (window)
        window->setAutoSaveEnabled(false);
    showProgress();
    LOGD("archive: copying %d media paths into %s", int(job->media.size()), qUtf8Printable(job->resourceDir));
    // The destructor joins this before this object goes.
    QThreadPool::globalInstance()->start([this, job] {
        job->result = archive::copyMedia(job->media, job->resourceDir, &job->progress);
        const QString file = job->projectFile;
        QMetaObject::invokeMethod(this, [this, file] { finish(file); }, Qt::QueuedConnection);
        job->finished.release();
    });
    return true;
}

void ProjectArchive::showProgress() {
    if (!m_dialog)
        m_dialog = new ArchivedProcessDialog;
    m_dialog->start();
    if (!m_ticker) {
        m_ticker = new QTimer(this);
        m_ticker->setInterval(kProgressTickMs);
        connect(m_ticker, &QTimer::timeout, this, [this] {
            if (!m_job || !m_dialog)
                return;
            const archive::Progress& p = m_job->progress;
            m_dialog->setProgress(p.filesDone, p.filesTotal, p.bytesDone, p.bytesTotal);
        });
    }
    m_ticker->start();
}

void ProjectArchive::join() {
    if (m_job && !m_job->joined) {
        m_job->finished.acquire();
        m_job->joined = true;
    }
}

void ProjectArchive::stop() {
    if (!m_job)
        return;
    m_job->progress.stop = true;
    join();
}

void ProjectArchive::finish(const QString& path) {
    bool written = false;
    if (m_job && path == m_job->projectFile) {
        join();
        const std::shared_ptr<Job> job = m_job;
        setFailures(job->result.failures);
        if (!job->result.stopped) {
            m_copies = job->result.copies;
            m_phase = Phase::Write;
            written = m_app->saveProject(false, true, path);
            endCopies();
        }
        if (!written)
            removeCopies(*job);
        m_job.reset();
    }
    if (m_ticker)
        m_ticker->stop();
    const bool complete = written && m_failures.isEmpty();
    LOGD("archive finished: %s (%s)", qUtf8Printable(path), complete ? "complete" : "incomplete");
    if (m_dialog) {
        if (complete) {
            m_dialog->showSuccess();
            QPointer<ArchivedProcessDialog> dialog = m_dialog;
            QTimer::singleShot(kSuccessNoteMs, this, [this, dialog] {
                if (dialog && !isRunning())
                    dialog->finish();
            });
        } else {
            m_dialog->finish();
        }
    }
    if (written && !bg::iface()->showInFileManager(path.toStdString()))
        LOGW("archive: the file manager could not show %s", qUtf8Printable(path));
    // Without the archived project there is no archive to call incomplete:
    // the failed write said why.
    if (written && !m_failures.isEmpty())
        reportFailures();
    auto* window = qobject_cast<MainWindow*>(m_app->mainWindow());
    if (window && m_autoSaveBefore)
        window->setAutoSaveEnabled(true);
    emit finished(path, complete);
}

void ProjectArchive::removeCopies(const Job& job) {
    // Without its project file the copies are no archive, only taken space.
    int left = 0;
    for (const QString& copy : job.result.made) {
        if (!QFile::remove(copy)) {
            ++left;
            LOGW("archive: cannot remove the copy %s", qUtf8Printable(copy));
        }
    }
    LOGD("archive: %d copies of a failed archive removed, %d left", int(job.result.made.size()) - left, left);
    // Folders only go when empty, and only those this archive made.
    const QString archiveFolder = QFileInfo(job.projectFile).absolutePath();
    QDir().rmdir(job.resourceDir);
    if (job.madeFolder)
        QDir().rmdir(archiveFolder);
}

void ProjectArchive::reportFailures() {
    QStringList listed = m_failures.mid(0, kListedFailures);
    if (m_failures.size() > kListedFailures)
        listed.append(tr("archivedprocessdialog.MoreFailed").arg(m_failures.size() - kListedFailures));
    m_app->showHint(tr("archivedprocessdialog.CopyFailed").arg(listed.join(QLatin1Char('\n'))));
}
