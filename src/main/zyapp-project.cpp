// The application's project operations: create, open, save, the automatic
// copy and the question before a modified project is dropped.
#include "zyapp.h"

#include "moved-media.h"
#include "project-archive.h"
#include "project-file.h"
#include "render/record/record-manager.h"
#include "render/render-manager.h"
#include "resource/project/missing-media-dialog.h"
#include "resource/project/project-backups.h"
#include "startup-plan.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>

#include <utility>

QString ZyApp::currentProjectPath() const {
    // A project read from the older layout has a bare name until it is saved.
    const QFileInfo file(m_projectPath);
    return file.isAbsolute() && file.exists() ? m_projectPath : QString();
}

QString ZyApp::sectionFile() const {
    return m_sectionFile.isEmpty() ? currentProjectPath() : m_sectionFile;
}

QString ZyApp::resolveMediaPath(const QString& path) const {
    // An archive stores its media relative to itself; any project's relative
    // path (a file written by hand or by a script) means the same, never the
    // folder Korvel happened to be started in.
    if (path.isEmpty() || !QFileInfo::exists(m_projectPath) || (!m_archived && QFileInfo(path).isAbsolute()))
        return path;
    return QDir::cleanPath(QFileInfo(m_projectPath).absoluteDir().absoluteFilePath(path));
}

void ZyApp::forgetAutoSave() {
    // A scripted export leaves the editor's pending recovery alone.
    if (!m_interactive)
        return;
    const QString primary = project::autoSavePath(m_projectPath);
    const QString fallback = project::autoSaveFallbackPath(m_projectPath);
    for (const QString& copy : {primary, fallback, notKeptCopy(primary), notKeptCopy(fallback), m_recoveredCopy}) {
        if (copy.isEmpty() || m_keptCopies.contains(copy))
            continue; // offered again at the next start, as the user asked
        if (QFileInfo::exists(copy) && !QFile::remove(copy))
            LOGW("project: the automatic copy %s cannot be deleted", qUtf8Printable(copy));
    }
    m_recoveredCopy.clear();
    emit sig_autoSaveProblem(QString()); // the work is saved or given up
    recordAutoSave(QString(), QString()); // a copy put off for later has a record of its own
}

QString ZyApp::notKeptCopy(const QString& copy) const {
    QString other = copy;
    // A name at the longest a file name may be stays the same: tries end,
    // and no name is given (the copy then goes to the fallback folder).
    for (int tries = 0; !other.isEmpty() && m_keptCopies.contains(other); ++tries) {
        if (tries == 10)
            return QString();
        const QFileInfo info(other);
        other = info.dir().filePath(
            project::fittedName(QString(), info.completeBaseName(), QStringLiteral("-next.") + info.suffix()));
    }
    return other;
}

void ZyApp::recordAutoSave(const QString& copy, const QString& owner) {
    bg::iface()->configSet("autoSavePath", copy.toStdString());
    bg::iface()->configSet(kAutoSaveOwnerKey, owner.toStdString());
    bg::iface()->configSave();
    // The work is now in a file (a copy or the project itself), or the user
    // gave it up: the voice-over takes it holds need no looking for.
    if (m_renderManager && m_renderManager->recordManager())
        m_renderManager->recordManager()->forgetStoppedTakes();
}

void ZyApp::showHint(const QString& text) {
    if (!m_interactive || m_endRequested) { // nobody to answer, or the program is ending
        LOGE("%s", qUtf8Printable(text));
        return;
    }
    QMessageBox box(QMessageBox::Information, tr("archivedialog.Hint"), text, QMessageBox::Ok, m_mainWindow);
    box.button(QMessageBox::Ok)->setText(tr("archivedialog.Ok"));
    box.exec();
}

bool ZyApp::askToReplace(const QString& text) {
    if (!m_interactive || m_endRequested) {
        LOGE("%s", qUtf8Printable(text));
        return false;
    }
    QMessageBox box(QMessageBox::Question, tr("archivedialog.Hint"), text, QMessageBox::NoButton, m_mainWindow);
    QPushButton* replace = box.addButton(tr("archivedialog.Replace"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(tr("titlebar.Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == replace;
}

bool ZyApp::offerAnotherPlace(const QString& text) {
    if (!m_interactive) {
        LOGE("%s", qUtf8Printable(text));
        return false;
    }
    QMessageBox box(QMessageBox::Information, tr("archivedialog.Hint"), text, QMessageBox::Ok, m_mainWindow);
    box.button(QMessageBox::Ok)->setText(tr("archivedialog.Ok"));
    QPushButton* elsewhere = box.addButton(tr("titlebar.SaveElsewhere"), QMessageBox::AcceptRole);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
    return box.clickedButton() == elsewhere;
}

void ZyApp::announce(const QString& path, const char* statusKey) {
    const QFileInfo file(path);
    // A scripted export is not the user's work: the Works list stays as it is.
    if (m_interactive)
        emit sig_prependHistory(path);
    emit sig_updateProjectName(file.baseName(), true);
    // Without a window there is no status line (and no translation whose
    // text would take the name).
    if (m_interactive)
        emit sig_updateProjectName(tr(statusKey).arg(file.fileName()), false);
}

bool ZyApp::maybeSave() {
    if (zya::UndoController::instance()->isClean()) {
        forgetAutoSave();
        return true;
    }
    QMessageBox box(QMessageBox::Information, tr("archivedialog.Hint"), tr("titlebar.AskSave"),
                    QMessageBox::NoButton, m_mainWindow);
    box.setObjectName(QStringLiteral("saveQuestion"));
    QPushButton* save = box.addButton(tr("MainWindow.Save"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(tr("titlebar.NoneSave"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(tr("titlebar.Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save)
        return saveProject(false, false, QString()); // a save that did not happen keeps the work open
    if (box.clickedButton() == discard) {
        forgetAutoSave();
        return true;
    }
    return false;
}

void ZyApp::clearProject() {
    if (m_sections)
        m_sections->clearSections();
    zya::UndoController::instance()->reset();
}

bool ZyApp::createProject(const QString& path, int width, int height, bool locked) {
    if (!maybeSave())
        return false;
    // Find out whether the file can be written before the open project goes.
    {
        QSaveFile probe(path);
        if (!probe.open(QIODevice::WriteOnly)) {
            showHint(tr("titlebar.CreateProjectFail").arg(QDir::toNativeSeparators(path), probe.errorString()));
            return false;
        }
        probe.cancelWriting();
    }
    // A project the new one replaces (the user agreed to it) is kept as an
    // earlier version, as a save keeps the file it replaces.
    QString error;
    if (!project::ProjectBackups::keep(path, &error)) {
        LOGW("project: no earlier version of %s could be kept: %s", qUtf8Printable(path), qUtf8Printable(error));
        showHint(tr("titlebar.CreateProjectFail").arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    clearProject();
    if (m_renderManager)
        m_renderManager->setSceneSize(width, height, locked);
    m_sectionFile = path;
    const bool written =
        m_sections && project::writeProject(path, *m_sections, project::ArchiveMark::None, false, &error);
    m_sectionFile.clear();
    if (!written) {
        showHint(tr("titlebar.CreateProjectFail").arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    zya::UndoController::instance()->reset();
    m_projectPath = path;
    m_archived = false; // a new project is nobody's archive
    announce(path, "titlebar.CreateProjectSuccess");
    return true;
}

bool ZyApp::readProjectFile(const QString& path, const QString& resolveAgainst) {
    const bool current = QFileInfo(path).suffix() != QLatin1String("zya");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        LOGW("project: cannot open %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    clearProject();
    if (!m_sections)
        return false;
    // Only the editor tidies: an export or farm job reading a project the
    // editor is saving must not take the editor's file away.
    if (m_interactive)
        project::removeLeftoverSaveCopies(path);
    // Relative media paths inside resolve against this file while it is read.
    m_projectPath = QFileInfo(resolveAgainst.isEmpty() ? path : resolveAgainst).absoluteFilePath();
    auto onRoot = [this](bool archived) { m_archived = archived; };
    const bool read = current ? project::readProject(file, *m_sections, onRoot)
                              : project::readOldProject(file, *m_sections, onRoot);
    if (!read) {
        // Whatever was read of it goes: the user gets an empty, usable project.
        clearProject();
        m_projectPath = untitledProjectPath();
        m_archived = false;
        emit sig_updateProjectName(tr("titlebar.Untitle"), true);
        return false;
    }
    zya::UndoController::instance()->reset();
    return true;
}

bool ZyApp::refuseUnreadable(const QString& path) {
    const QString why = project::unreadableReason(path);
    if (why.isEmpty())
        return false;
    LOGW("project: cannot open %s: %s", qUtf8Printable(path), qUtf8Printable(why));
    showHint((QFileInfo(path).isFile() ? tr("titlebar.FileReadFail") : tr("titlebar.FileNoExist")) + QLatin1Char('\n') +
             QDir::toNativeSeparators(path) + QStringLiteral(": ") + why);
    return true;
}

bool ZyApp::openProject(const QString& path) {
    const QString suffix = QFileInfo(path).suffix();
    const bool current = suffix == QLatin1String("zya2");
    if (!current && suffix != QLatin1String("zya")) {
        LOGW("project: %s is neither a .zya2 nor a .zya file", qUtf8Printable(path));
        return false;
    }
    // The open project is given up only for a file that reads.
    if (refuseUnreadable(path) || !maybeSave())
        return false;
    if (!readProjectFile(path)) {
        showHint(tr("titlebar.FileReadFail"));
        return false;
    }
    if (current) {
        relinkMovedMedia();
        announce(m_projectPath, "titlebar.OpenProjectSuccess");
    } else {
        // Saved in the current layout, at a place the user picks next time.
        m_projectPath = QFileInfo(path).completeBaseName() + QStringLiteral(".zya2");
    }
    // Before a save writes the project as it now is, the user learns what
    // of the file it does not hold (the earlier version is kept on save).
    const QStringList losses = m_sections ? m_sections->readLosses() : QStringList();
    if (!losses.isEmpty()) {
        LOGW("project: %s was not read whole: %s", qUtf8Printable(path), qUtf8Printable(losses.join(QLatin1String("; "))));
        if (m_interactive)
            showHint(tr("titlebar.ReadNotWhole") + QLatin1Char('\n') + losses.join(QLatin1Char('\n')));
    }
    offerMissingMedia();
    return true;
}

void ZyApp::relinkMovedMedia() {
    // An archive keeps its media relative to itself already.
    if (!m_sections || m_archived)
        return;
    const QStringList missing = m_sections->missingMedia();
    if (missing.isEmpty())
        return;
    const QHash<QString, QString> moved = findMovedMedia(missing, QFileInfo(m_projectPath).absolutePath());
    for (auto it = moved.constBegin(); it != moved.constEnd(); ++it) {
        if (m_sections->relinkMedia(it.key(), it.value()) > 0)
            LOGW("project: %s was moved with the project; found at %s", qUtf8Printable(it.key()),
                 qUtf8Printable(it.value()));
    }
}

int ZyApp::relinkReturnedMedia() {
    if (!m_sections)
        return 0;
    const QStringList unreadable = m_sections->unreadableMedia();
    QStringList tried;
    for (const QString& path : unreadable) {
        const QFileInfo info(path);
        // The change time too: a file put back with its old times kept (cp -p)
        // is still a change.
        const QString state = QStringLiteral("%1@%2@%3")
                                  .arg(info.size())
                                  .arg(info.lastModified().toMSecsSinceEpoch())
                                  .arg(info.metadataChangeTime().toMSecsSinceEpoch());
        if (m_unreadableSeen.value(path) == state)
            continue;
        m_unreadableSeen.insert(path, state);
        m_sections->relinkMedia(path, path);
        tried.append(path);
    }
    const QStringList still = tried.isEmpty() ? unreadable : m_sections->unreadableMedia();
    int usable = 0;
    for (const QString& path : tried) {
        if (!still.contains(path)) {
            ++usable;
            m_unreadableSeen.remove(path);
            LOGW("project: %s can be read now; its clips show it again", qUtf8Printable(path));
        }
    }
    return usable;
}

void ZyApp::offerMissingMedia() {
    if (!m_interactive || m_endRequested || !m_sections)
        return;
    const QStringList missing = m_sections->missingMedia();
    if (missing.isEmpty())
        return;
    LOGW("project: %d media files are missing", int(missing.size()));
    MissingMediaDialog dialog(
        missing, [this](const QString& from, const QString& to) { return m_sections->relinkMedia(from, to) > 0; },
        m_mainWindow);
    dialog.exec();
    // The new places are saved with the next save.
    if (dialog.relinkedCount() > 0)
        zya::UndoController::instance()->setModified();
}

bool ZyApp::openEarlierVersion(const QString& versionPath, const QString& projectPath) {
    if (refuseUnreadable(versionPath) || !maybeSave())
        return false;
    if (!readProjectFile(versionPath, projectPath)) {
        showHint(tr("titlebar.FileReadFail"));
        return false;
    }
    // A new project: saving it never replaces the project it came from unasked.
    m_projectPath = untitledProjectPath();
    m_archived = false;
    zya::UndoController::instance()->setModified();
    emit sig_updateProjectName(tr("titlebar.Untitle"), true);
    emit sig_updateProjectName(tr("titlebar.EarlierVersionOpened")
                                   .arg(QFileInfo(projectPath).fileName(),
                                        QLocale().toString(project::ProjectBackups::savedAt(versionPath),
                                                           QLocale::ShortFormat)),
                               false);
    return true;
}

QString ZyApp::askSavePath(const QString& proposed) {
    const QFileInfo info(proposed);
    // A project read from the older layout has a name but no folder yet.
    const QString folder = info.isRelative() ? QDir::homePath() : info.absolutePath();
    const QString start = QDir(folder).filePath(info.baseName());
    QString chosen = QFileDialog::getSaveFileName(m_mainWindow, tr("MainWindow.Save"), start,
                                                  QStringLiteral("*.zya2"));
    if (!chosen.isEmpty() && QFileInfo(chosen).suffix() != QLatin1String("zya2"))
        chosen += QStringLiteral(".zya2");
    return chosen;
}

bool ZyApp::saveProject(bool automatic, bool archive, const QString& path) {
    if (!m_sections)
        return false;
    const QString projectPath = path.isEmpty() ? m_projectPath : path;
    QString target = projectPath;
    zya::UndoController* undo = zya::UndoController::instance();
    if (automatic) {
        if (undo->isClean())
            return true;
        // The copy a recovery question kept for the next start stays as it is.
        target = notKeptCopy(project::autoSavePath(projectPath));
        // Nothing changed since the last copy, which is still there: a large
        // project is not written again every 30 seconds for nothing.
        if (undo->generation() == m_copiedGeneration && target == m_copiedTo && QFileInfo(target).isFile())
            return true;
    } else if (!archive && !std::exchange(m_placeChosen, false) &&
               (QFileInfo(target).isRelative() || !QFileInfo::exists(target))) {
        target = askSavePath(projectPath);
        if (target.isEmpty())
            return false;
    }
    const bool marked = archive || m_archived;
    const QString archiveDirBefore = m_archiveDir;
    bool copiesHere = false;
    if (archive) {
        // The writers store each media file as its copy below this folder.
        m_archiveDir = QFileInfo(target).absolutePath();
        // Called outside archiveProject, the copies are made here and now.
        copiesHere = m_archive->copyNowFor(m_archiveDir);
    }
    QString error;
    // The file a save replaces is kept as an earlier version first.
    if (!automatic && !archive && !project::ProjectBackups::keep(target, &error))
        LOGW("project: no earlier version of %s could be kept: %s", qUtf8Printable(target), qUtf8Printable(error));
    error.clear();
    // The library stores its paths relative to the file being written.
    m_sectionFile = target;
    // An automatic copy takes the project file's permissions (it may
    // become the project when recovered), else is its owner's only.
    project::WriteAs as;
    as.automaticCopy = automatic;
    if (automatic && QFileInfo(projectPath).isAbsolute() && QFileInfo(projectPath).isFile())
        as.permissionsOf = projectPath;
    bool written = project::writeProject(target, *m_sections, marked ? project::ArchiveMark::Yes : project::ArchiveMark::No,
                                         archive, &error, as);
    if (!written && automatic) {
        // A folder that cannot be written (read-only, full) still gets the
        // project protected: the copy goes to Korvel's own folder instead.
        const QString fallback = notKeptCopy(project::autoSaveFallbackPath(projectPath));
        QString fallbackError;
        LOGW("project: the automatic copy %s cannot be written (%s); trying %s", qUtf8Printable(target),
             qUtf8Printable(error), qUtf8Printable(fallback));
        m_sectionFile = fallback;
        if (QDir().mkpath(QFileInfo(fallback).absolutePath()) &&
            project::writeProject(fallback, *m_sections, marked ? project::ArchiveMark::Yes : project::ArchiveMark::No,
                                  false, &fallbackError, as)) {
            target = fallback;
            written = true;
        } else {
            error += QStringLiteral("; ") + fallbackError;
        }
    }
    m_sectionFile.clear();
    if (copiesHere)
        m_archive->endCopies();
    if (!written && archive)
        m_archiveDir = archiveDirBefore;
    if (!written) {
        LOGE("project: cannot write %s: %s", qUtf8Printable(target), qUtf8Printable(error));
        // The 30-second copy retries by itself and tells in the title bar
        // (a dialog every 30 seconds would stop the work); a save the user
        // asked for is told at once.
        if (automatic) {
            emit sig_autoSaveProblem(tr("titlebar.AutoProjectFail").arg(error));
            return false;
        }
        if (archive) {
            showHint(tr("archivedialog.ArchiveFail").arg(QDir::toNativeSeparators(target), error));
            return false;
        }
        const QString text = tr("titlebar.SaveProjectFail").arg(QDir::toNativeSeparators(target), error);
        // A read-only or full folder: the work can still be kept elsewhere.
        if (!offerAnotherPlace(text))
            return false;
        const QString elsewhere = askSavePath(QDir::home().filePath(QFileInfo(target).fileName()));
        if (elsewhere.isEmpty())
            return false;
        m_placeChosen = true;
        return saveProject(false, false, elsewhere);
    }
    if (marked)
        m_archiveDir = QFileInfo(target).absolutePath();
    if (automatic) {
        m_copiedGeneration = undo->generation();
        m_copiedTo = target;
        const QFileInfo owner(projectPath);
        recordAutoSave(target, owner.isAbsolute() && owner.isFile() ? owner.absoluteFilePath() : QString());
        // The recovered copy is superseded by this one.
        if (!m_recoveredCopy.isEmpty() && m_recoveredCopy != target) {
            QFile::remove(m_recoveredCopy);
            m_recoveredCopy.clear();
        }
        emit sig_autoSaveProblem(QString());
        emit sig_updateProjectName(tr("titlebar.AutoProjectSuccess").arg(QFileInfo(target).fileName()), false);
        return true;
    }
    if (archive) {
        // The open project is still the user's own file, which has not been
        // written: its unsaved edits stay unsaved (closing still asks), its
        // 30-second copy stays, and the title keeps its name. The archive
        // goes into the history to be opened from there.
        emit sig_prependHistory(target);
        emit sig_updateProjectName(tr("titlebar.SaveProjectSuccess").arg(QFileInfo(target).fileName()), false);
        return true;
    }
    // Only now that the save stands is the automatic copy no longer needed.
    forgetAutoSave();
    undo->setClean();
    m_projectPath = target;
    announce(target, "titlebar.SaveProjectSuccess");
    return true;
}

bool ZyApp::saveProjectAs() {
    if (!m_sections)
        return false;
    const QString chosen = askSavePath(m_projectPath.isEmpty() ? untitledProjectPath() : m_projectPath);
    if (chosen.isEmpty())
        return false;
    m_placeChosen = true; // the file dialog asked about a file already there
    return saveProject(false, false, chosen);
}

bool ZyApp::archiveProject(const QString& path) {
    return m_archive && m_archive->start(path);
}

bool ZyApp::isArchiving() const {
    return m_archive && m_archive->isRunning();
}

void ZyApp::slot_closeArchivedProcess(QString path) {
    if (m_archive)
        m_archive->finish(path);
}

QString ZyApp::copyIntoArchive(const QString& mediaPath) {
    return m_archive ? m_archive->copyOf(mediaPath) : mediaPath;
}

QStringList ZyApp::lastArchiveFailures() const {
    return m_archive ? m_archive->failures() : QStringList();
}

ArchivedProcessDialog* ZyApp::archivedProcessDialog() const {
    return m_archive ? m_archive->progressDialog() : nullptr;
}

std::function<QString(const QString&)> ZyApp::mediaBesideProject() const {
    const QString file = sectionFile();
    if (file.isEmpty())
        return {};
    const QString folder = QFileInfo(file).absolutePath();
    return [folder](const QString& path) {
        return ProjectArchive::insideFolder(path, folder) ? QDir(folder).relativeFilePath(path) : QString();
    };
}

std::function<QString(const QString&)> ZyApp::mediaPathWriter(bool archive) {
    if (archive)
        return m_archive ? m_archive->pathWriter() : std::function<QString(const QString&)>();
    // An opened archive saved again stays movable: what lies inside its
    // folder is stored relative to it.
    const QString file = sectionFile();
    if (!m_archived || file.isEmpty())
        return {};
    const QString folder = QFileInfo(file).absolutePath();
    return [folder](const QString& path) {
        return ProjectArchive::insideFolder(path, folder) ? QDir(folder).relativeFilePath(path) : path;
    };
}
