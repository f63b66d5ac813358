// The project archive: a folder with the project file and a copy of every
// media file it uses, stored by relative paths so that the folder can move.
//
// The copying is the slow part and touches nothing but files, so it runs on
// a pool thread; the project's data (library, timeline, undo history) lives
// on the GUI thread and is written there once the copies stand, while the
// modal progress window keeps the user from changing it.
#include "zyapp.h"

#include "main-window.h"
#include "project-file.h"
#include "resource/project/archived-process-dialog.h"
#include "value/interface.h"

#include <QDir>
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

bool insideFolder(const QString& path, const QString& folder) {
    if (folder.isEmpty() || QFileInfo(path).isRelative())
        return false;
    return QDir::cleanPath(path).startsWith(QDir::cleanPath(folder) + QLatin1Char('/'));
}

} // namespace

// One archive's copying, shared by the GUI thread and the pool thread.
struct ZyApp::ArchiveJob {
    QString projectFile; // <folder>/<base>/<base>.zya2
    QString resourceDir;
    QStringList media;
    archive::Progress progress;
    // Written by the pool thread before it posts the end; read by the GUI
    // thread only after acquiring finished.
    archive::CopyResult result;
    // Released exactly once, by the pool thread as its last act.
    QSemaphore finished;
    bool joined = false; // GUI thread: finished has been acquired
};

ArchivedProcessDialog* ZyApp::archivedProcessDialog() const {
    return m_archivedProcess;
}

QStringList ZyApp::collectArchiveMedia() {
    QStringList media;
    if (!m_sections)
        return media;
    // The writers name every media path they would store; what they write is thrown away.
    const ArchivePhase before = m_archivePhase;
    m_archivePhase = ArchivePhase::Collect;
    m_archiveMedia.clear();
    QByteArray scratch;
    QXmlStreamWriter writer(&scratch);
    writer.writeStartElement(QStringLiteral("Tamsel"));
    writer.writeStartElement(QStringLiteral("Resource"));
    m_sections->writeResource(writer, true);
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("Timeline"));
    m_sections->writeTimeline(writer, true);
    writer.writeEndElement();
    writer.writeEndElement();
    m_archivePhase = before;
    media.swap(m_archiveMedia);
    return media;
}

QString ZyApp::copyIntoArchive(const QString& mediaPath) {
    if (mediaPath.isEmpty())
        return mediaPath;
    const QString own = QDir::cleanPath(QFileInfo(mediaPath).absoluteFilePath());
    switch (m_archivePhase) {
    case ArchivePhase::Collect:
        m_archiveMedia.append(mediaPath);
        return mediaPath;
    case ArchivePhase::Write: {
        const auto found = m_archiveCopies.constFind(mediaPath);
        if (found != m_archiveCopies.constEnd())
            return *found;
        // Its copy failed: the path it has keeps it working on this computer.
        LOGW("archive: %s has no copy in the archive; its own path is stored", qUtf8Printable(mediaPath));
        return own;
    }
    case ArchivePhase::None:
        break;
    }
    if (m_archiveDir.isEmpty()) {
        LOGW("archive: no archive folder for %s", qUtf8Printable(mediaPath));
        return own;
    }
    const archive::CopyResult copied = archive::copyMedia(
        {mediaPath}, m_archiveDir + QLatin1Char('/') + QLatin1String(archive::kResourceFolder));
    return copied.copies.value(mediaPath, own);
}

QString ZyApp::archiveRelativePath(const QString& path) {
    if (m_archiveDir.isEmpty())
        return path;
    if (!QDir().mkpath(m_archiveDir))
        LOGW("archive: cannot make %s", qUtf8Printable(m_archiveDir));
    return QDir(m_archiveDir).relativeFilePath(path);
}

std::function<QString(const QString&)> ZyApp::mediaPathWriter(bool archive) {
    if (archive) {
        return [this](const QString& path) {
            const QString copy = copyIntoArchive(path);
            if (m_archivePhase == ArchivePhase::Collect || !insideFolder(copy, m_archiveDir))
                return copy;
            return archiveRelativePath(copy);
        };
    }
    // An opened archive saved again stays movable: what lies inside its
    // folder is stored relative to it.
    const QString file = sectionFile();
    if (!m_archived || file.isEmpty())
        return {};
    const QString folder = QFileInfo(file).absolutePath();
    return [folder](const QString& path) {
        return insideFolder(path, folder) ? QDir(folder).relativeFilePath(path) : path;
    };
}

bool ZyApp::archiveProject(const QString& path) {
    if (isArchiving()) {
        LOGW("archive: one is already being made; %s is not started", qUtf8Printable(path));
        return false;
    }
    if (!m_sections)
        return false;
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QString base = info.fileName().section(QLatin1Char('.'), 0, 0);
    if (base.isEmpty()) {
        showHint(tr("archivedialog.NameEmpty"));
        return false;
    }
    const QString archiveFolder = folder + QLatin1Char('/') + base;
    const QFileInfo there(archiveFolder);
    // An existing archive folder is reused; anything else in the way, or a
    // folder that cannot be made, stops here before anything is written.
    const bool made = there.isDir() || (!there.exists() && !there.isSymLink() && QDir(folder).mkdir(base));
    if (!made || !QFileInfo(archiveFolder).isDir()) {
        LOGE("archive: the folder %s cannot be made", qUtf8Printable(archiveFolder));
        showHint(tr("archivedialog.WriteForbidden"));
        return false;
    }

    auto job = std::make_shared<ArchiveJob>();
    job->projectFile = archiveFolder + QLatin1Char('/') + base + QStringLiteral(".zya2");
    job->resourceDir = archiveFolder + QLatin1Char('/') + QLatin1String(archive::kResourceFolder);
    job->media = collectArchiveMedia();
    m_archiveJob = job;
    m_archiveFailures.clear();
    auto* window = qobject_cast<MainWindow*>(m_mainWindow.data());
    m_autoSaveBeforeArchive = window && window->autoSaveRunning();
    if (window)
        window->setAutoSaveEnabled(false);
    showArchiveProgress();
    LOGD("archive: copying %d media paths into %s", int(job->media.size()), qUtf8Printable(job->resourceDir));
    // The destructor joins this before the application object goes.
    QThreadPool::globalInstance()->start([this, job] {
        job->result = archive::copyMedia(job->media, job->resourceDir, &job->progress);
        QMetaObject::invokeMethod(this, "slot_closeArchivedProcess", Qt::QueuedConnection,
                                  Q_ARG(QString, job->projectFile));
        job->finished.release();
    });
    return true;
}

void ZyApp::showArchiveProgress() {
    if (!m_archivedProcess)
        m_archivedProcess = new ArchivedProcessDialog;
    m_archivedProcess->start();
    if (!m_archiveTicker) {
        m_archiveTicker = new QTimer(this);
        m_archiveTicker->setInterval(kProgressTickMs);
        connect(m_archiveTicker, &QTimer::timeout, this, [this] {
            if (!m_archiveJob || !m_archivedProcess)
                return;
            const archive::Progress& p = m_archiveJob->progress;
            m_archivedProcess->setProgress(p.filesDone, p.filesTotal, p.bytesDone, p.bytesTotal);
        });
    }
    m_archiveTicker->start();
}

void ZyApp::joinArchiveJob() {
    if (m_archiveJob && !m_archiveJob->joined) {
        m_archiveJob->finished.acquire();
        m_archiveJob->joined = true;
    }
}

void ZyApp::stopArchiveJob() {
    if (!m_archiveJob)
        return;
    m_archiveJob->progress.stop = true;
    joinArchiveJob();
}

void ZyApp::slot_closeArchivedProcess(QString path) {
    bool written = false;
    if (m_archiveJob && path == m_archiveJob->projectFile) {
        joinArchiveJob();
        const std::shared_ptr<ArchiveJob> job = m_archiveJob;
        m_archiveFailures.clear();
        for (const archive::Failure& f : job->result.failures)
            m_archiveFailures.append(f.source + QStringLiteral(": ") + f.reason);
        if (!job->result.stopped) {
            m_archiveCopies = job->result.copies;
            m_archivePhase = ArchivePhase::Write;
            written = saveProject(false, true, path);
            m_archivePhase = ArchivePhase::None;
            m_archiveCopies.clear();
        }
        m_archiveJob.reset();
    }
    if (m_archiveTicker)
        m_archiveTicker->stop();
    const bool complete = written && m_archiveFailures.isEmpty();
    LOGD("archive finished: %s (%s)", qUtf8Printable(path), complete ? "complete" : "incomplete");
    if (m_archivedProcess) {
        if (complete) {
            m_archivedProcess->showSuccess();
            QPointer<ArchivedProcessDialog> dialog = m_archivedProcess;
            QTimer::singleShot(kSuccessNoteMs, this, [this, dialog] {
                if (dialog && !isArchiving())
                    dialog->finish();
            });
        } else {
            m_archivedProcess->finish();
        }
    }
    if (written && !bg::iface()->showInFileManager(path.toStdString()))
        LOGW("archive: the file manager could not show %s", qUtf8Printable(path));
    if (!m_archiveFailures.isEmpty())
        reportArchiveFailures();
    auto* window = qobject_cast<MainWindow*>(m_mainWindow.data());
    if (window && m_autoSaveBeforeArchive)
        window->setAutoSaveEnabled(true);
    emit sig_archiveFinished(path, complete);
}

void ZyApp::reportArchiveFailures() {
    QStringList listed = m_archiveFailures.mid(0, kListedFailures);
    if (m_archiveFailures.size() > kListedFailures)
        listed.append(tr("archivedprocessdialog.MoreFailed").arg(m_archiveFailures.size() - kListedFailures));
    showHint(tr("archivedprocessdialog.CopyFailed").arg(listed.join(QLatin1Char('\n'))));
}
