// Project archives through the application: media from three folders, two
// of them holding different files of the same name, archived, moved and
// opened; archived again into the same folder; the dialog's checks; targets
// that cannot be written; and copies that fail.
#include "main/archive-copier.h"
#include "main/main-window.h"
#include "main/zyapp.h"
#include "resource/material-manager.h"
#include "resource/material-view.h"
#include "resource/project/archived-dialog.h"
#include "resource/project/archived-process-dialog.h"
#include "resource/resource-widget.h"
#include "support/file-size-limit.h"
#include "support/folder-openings.h"
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-widget.h"
#include "undo/undo-controller.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QUndoCommand>
#include <QXmlStreamReader>
#include <QtTest>

#include <unistd.h>

namespace {

QString media(const char* name) {
    return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Answers every modal message box with its first button and keeps its texts.
class BoxWatcher : public QObject {
public:
    BoxWatcher() {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->buttons().first()->click();
            }
        });
        timer->start(20);
    }
    QStringList texts;
};

using korvel::test::FolderOpenings;

ZyApp* app() {
    return ZyApp::instance();
}
MainWindow* window() {
    return qobject_cast<MainWindow*>(app()->mainWindow());
}
TimeLineTreeModel* tracks() {
    return window()->timelineWidget()->model();
}
MaterialManager* library() {
    return window()->resourceWidget()->manager();
}

QStringList mediaPaths() {
    QStringList paths;
    for (const SourceData* clip : tracks()->allSources()) {
        if (!clip->path().isEmpty())
            paths << clip->path();
    }
    for (const MaterialData* m : window()->resourceWidget()->materialView()->materials()) {
        if (!m->path.isEmpty())
            paths << m->path;
    }
    return paths;
}

// The non-empty texts of every "path" element of a project file.
QStringList storedPaths(const QString& projectFile) {
    QFile file(projectFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader reader(&file);
    QStringList paths;
    while (reader.readNextStartElement() || !reader.atEnd()) {
        if (reader.isStartElement() &&
            reader.name().compare(QLatin1String("path"), Qt::CaseInsensitive) == 0) {
            const QString text = reader.readElementText();
            if (!text.isEmpty()) // subtitle templates have none
                paths << text;
        } else
            reader.readNext();
    }
    return paths;
}

QStringList resourceEntries(const QString& archiveFolder) {
    QStringList names = QDir(archiveFolder + "/resource").entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

// Runs an archive to its end; false when it did not start.
bool runArchive(const QString& path, bool* complete = nullptr) {
    QSignalSpy finished(app(), &ZyApp::sig_archiveFinished);
    if (!app()->archiveProject(path))
        return false;
    if (!finished.wait(60000))
        return false;
    if (complete)
        *complete = finished.first().at(1).toBool();
    return true;
}

} // namespace

class TestArchive : public QObject {
    Q_OBJECT

    QString dir;
    QString project; // the saved project the archives are made of

    void copyMedia(const char* from, const QString& to) {
        QDir().mkpath(QFileInfo(to).absolutePath());
        QFile::remove(to);
        QVERIFY(QFile::copy(media(from), to));
    }

    // Clips from a/, b/ and c/; a/clip.mp4 and b/clip.mp4 are different
    // films; a subtitle clip and a subtitle template; saved to project.
    void buildProject() {
        copyMedia("h264-30fps.mp4", dir + "/a/clip.mp4");
        copyMedia("faststart.mp4", dir + "/b/clip.mp4");
        copyMedia("tone.mp3", dir + "/c/tone.mp3");
        copyMedia("alpha.png", dir + "/c/alpha.png");
        TimeLineTreeModel* m = tracks();
        ClassifyItem* video = m->header(SourceVideo);
        SourceData* first = m->createFromMaterial(video, dir + "/a/clip.mp4", 0);
        QVERIFY(first);
        video->addSource(first);
        SourceData* second = m->createFromMaterial(video, dir + "/b/clip.mp4", first->endFrame());
        QVERIFY(second);
        video->addSource(second);
        ClassifyItem* pictures = m->header(SourcePicture);
        pictures->addSource(m->createFromMaterial(pictures, dir + "/c/alpha.png", 5));
        ClassifyItem* audio = m->header(SourceAudio);
        audio->addSource(m->createFromMaterial(audio, dir + "/c/tone.mp3", 0));
        ClassifyItem* subtitles = m->header(SourceSubtitle);
        subtitles->addSource(
            m->createSubtitle(subtitles, 3, 60, "Hello", QFont("Sans", 40), QColor("#ff8000")));
        library()->AddMaterialSubtitle("Big title", QFont("Serif", 30), QColor("#00ff00"), false);
        library()->AddMaterialFiles({dir + "/a/clip.mp4", dir + "/b/clip.mp4", dir + "/c/tone.mp3"}, false);
        project = dir + "/src/film.zya2";
        QDir().mkpath(dir + "/src");
        QFile placeholder(project);
        QVERIFY(placeholder.open(QIODevice::WriteOnly));
        placeholder.close();
        QVERIFY(app()->saveProject(false, false, project));
    }

private slots:
    void initTestCase() {
        QVERIFY(app()->initialize());
        QVERIFY(window());
        dir = korvel::test::workFolder("archive");
    }

    void cleanup() {
        zya::UndoController::instance()->setClean();
        app()->clearProject();
    }

    // First, while the project is still untitled.
    void theArchiveButtonWantsASavedProject() {
        auto* button = window()->findChild<QPushButton*>("pushButton_file");
        QVERIFY(button && button->isEnabled());
        {
            BoxWatcher boxes;
            button->click();
            QCOMPARE(boxes.texts, QStringList{"Mainwindow.HintSave"});
            QVERIFY(!window()->findChild<ArchivedDialog*>());
        }
        buildProject();
        QString source, name;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<ArchivedDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            source = dialog->sourceEdit()->text();
            name = dialog->nameEdit()->text();
            dialog->reject();
        });
        answer.start(20);
        button->click();
        QCOMPARE(source, project);
        QVERIFY(name.startsWith("Dunmere-"));
        QVERIFY(!app()->isArchiving());
    }

    // The archive holds the edits made since the last save; the open file
    // does not, so they must stay unsaved and the title must keep its name.
    void unsavedEditsOfTheOpenProjectStayUnsaved() {
        buildProject();
        auto* undo = zya::UndoController::instance();
        undo->stack.push(new QUndoCommand(QStringLiteral("an edit after the save")));
        QVERIFY(!undo->isClean());
        QVERIFY(QDir().mkpath(dir + "/unsaved"));
        FolderOpenings opened;
        BoxWatcher boxes;
        bool complete = false;
        QVERIFY(runArchive(dir + "/unsaved/Cut", &complete));
        QVERIFY(complete);
        QVERIFY(QFileInfo::exists(dir + "/unsaved/Cut/Cut.zya2"));
        QVERIFY(!undo->isClean());
        QCOMPARE(app()->currentProjectPath(), project);
        auto* title = window()->findChild<QLabel*>("label_project_name");
        QVERIFY(title);
        // The archive is a copy: the project itself still has changes not saved.
        QTRY_COMPARE_WITH_TIMEOUT(title->text(), QFileInfo(project).baseName() + " *", 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!app()->archivedProcessDialog()->isVisible(), 5000);
    }

    void archivedMovedAndOpenedFindsEveryFile() {
        buildProject();
        const QByteArray projectBefore = readFile(project);
        const QByteArray a = readFile(dir + "/a/clip.mp4"), b = readFile(dir + "/b/clip.mp4");
        QVERIFY(a != b);
        FolderOpenings opened;
        BoxWatcher boxes;
        QVERIFY(QDir().mkpath(dir + "/out"));
        bool complete = false;
        // A dot in the name: the archive is named after the part before it.
        QVERIFY(runArchive(dir + "/out/Film.final", &complete));
        QVERIFY(complete);
        const QString folder = dir + "/out/Film";
        const QString archived = folder + "/Film.zya2";
        QVERIFY(readFile(archived).startsWith("<Tamsel Version=\"1.0.0\" Archived=\"1\">"));
        QCOMPARE(resourceEntries(folder), (QStringList{"alpha.png", "clip (2).mp4", "clip.mp4", "tone.mp3"}));
        QCOMPARE(readFile(folder + "/resource/clip.mp4"), a);
        QCOMPARE(readFile(folder + "/resource/clip (2).mp4"), b);
        const QStringList stored = storedPaths(archived);
        QVERIFY2(stored.size() == 7, qPrintable(stored.join('|'))); // four clips, three library files
        for (const QString& path : stored)
            QVERIFY2(path.startsWith("resource/"), qPrintable(path));
        // The open project and its media are as they were.
        QCOMPARE(app()->currentProjectPath(), project);
        QCOMPARE(readFile(project), projectBefore);
        QCOMPARE(readFile(dir + "/a/clip.mp4"), a);
        QVERIFY(zya::UndoController::instance()->isClean());
        QVERIFY(window()->autoSaveRunning());
        if (!opened.urls.isEmpty())
            QCOMPARE(opened.urls.first().toLocalFile(), folder);
        // The success note stands, then the window closes by itself.
        ArchivedProcessDialog* progress = app()->archivedProcessDialog();
        QVERIFY(progress);
        QTRY_VERIFY_WITH_TIMEOUT(!progress->isVisible(), 5000);

        // Moved elsewhere and opened: every clip shows its own film.
        QVERIFY(QDir().mkpath(dir + "/moved"));
        QVERIFY(QDir().rename(folder, dir + "/moved/Film"));
        QVERIFY(app()->openProject(dir + "/moved/Film/Film.zya2"));
        QVERIFY(app()->isArchived());
        const QStringList paths = mediaPaths();
        QCOMPARE(paths.size(), 7);
        for (const QString& path : paths) {
            QVERIFY2(path.startsWith(dir + "/moved/Film/resource/"), qPrintable(path));
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        }
        QStringList videoFiles;
        for (const SourceData* clip : tracks()->allSources()) {
            if (clip->path().endsWith(".mp4"))
                videoFiles << clip->path();
        }
        QCOMPARE(videoFiles.size(), 2);
        QCOMPARE(readFile(videoFiles.at(0)), a);
        QCOMPARE(readFile(videoFiles.at(1)), b);

        // Edited and saved there, it stays movable.
        tracks()->addTrack(tracks()->header(SourceAudio));
        QVERIFY(app()->saveProject(false, false, QString()));
        for (const QString& path : storedPaths(dir + "/moved/Film/Film.zya2"))
            QVERIFY2(path.startsWith("resource/"), qPrintable(path));

        // Archived again from the original into the same folder: that replaces
        // the archive edited there, so it asks first (the watcher answers
        // Replace); the copies are reused.
        QVERIFY(app()->openProject(project));
        const QDateTime copiedAt = QFileInfo(dir + "/moved/Film/resource/clip (2).mp4").lastModified();
        QVERIFY(runArchive(dir + "/moved/Film", &complete));
        QVERIFY(complete);
        QCOMPARE(resourceEntries(dir + "/moved/Film"),
                 (QStringList{"alpha.png", "clip (2).mp4", "clip.mp4", "tone.mp3"}));
        QCOMPARE(QFileInfo(dir + "/moved/Film/resource/clip (2).mp4").lastModified(), copiedAt);
        QCOMPARE(readFile(project), projectBefore);
        QCOMPARE(boxes.texts, QStringList{"archivedialog.AskReplace"});
    }

    void theDialogChecksWhatItIsGiven_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("refusal");
        const QString home = QDir::homePath();
        QTest::newRow("default name") << home << ArchivedDialog::defaultArchiveName() << QString();
        QTest::newRow("dotted name") << home << "my.cut" << QString();
        QTest::newRow("full-width question mark")
            << home << QString("film") + QChar(0xFF1F) << "archivedialog.NameLimit";
        QTest::newRow("slash") << home << "a/b"
                               << "archivedialog.NameLimit";
        QTest::newRow("star") << home << "a*"
                              << "archivedialog.NameLimit";
        QTest::newRow("empty") << home << ""
                               << "archivedialog.NameEmpty";
        QTest::newRow("only a suffix") << home << ".zya2"
                                       << "archivedialog.NameEmpty";
        QTest::newRow("missing folder") << home + "/no-such-folder"
                                        << "film"
                                        << "archivedialog.dirNoneExist";
        QTest::newRow("a file as folder") << QString(KORVEL_TEST_MEDIA_DIR "/tone.mp3") << "film"
                                          << "archivedialog.dirNoneExist";
    }
    void theDialogChecksWhatItIsGiven() {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, refusal);
        QCOMPARE(ArchivedDialog::refusal(folder, name), refusal);
        QVERIFY(QRegularExpression("^Dunmere-\\d{8}_\\d{2}-\\d{2}$")
                    .match(ArchivedDialog::defaultArchiveName())
                    .hasMatch());

        // Through the form: a refusal is told and the dialog stays; else the call gets folder + "/" + name.
        QStringList asked;
        ArchivedDialog dialog([&asked](const QString& path) { asked << path; });
        dialog.show();
        dialog.folderEdit()->setText(folder);
        dialog.nameEdit()->setText(name);
        BoxWatcher boxes;
        dialog.archiveButton()->click();
        if (refusal.isEmpty()) {
            QCOMPARE(asked, QStringList{folder + "/" + name});
            QVERIFY(!dialog.isVisible());
            QVERIFY(boxes.texts.isEmpty());
        } else {
            QVERIFY(asked.isEmpty());
            QVERIFY(dialog.isVisible());
            QCOMPARE(boxes.texts.size(), 1);
            QVERIFY(boxes.texts.first().startsWith(refusal));
        }
        QCOMPARE(dialog.archiveButton()->shortcut(), QKeySequence("Ctrl+Tab"));
    }

    void unwritableTargetsAreRefused_data() {
        QTest::addColumn<QString>("path");
        // Root may write anywhere, so these fail for everyone.
        const QString blocked = korvel::test::workFolder("blocked");
        QFile file(blocked + "/Film");
        file.open(QIODevice::WriteOnly);
        QTest::newRow("a file in the way") << blocked + "/Film";
        QTest::newRow("a name too long") << blocked + "/" + QString(300, QLatin1Char('n'));
        QTest::newRow("a folder of the kernel") << QStringLiteral("/proc/Film");
    }
    void unwritableTargetsAreRefused() {
        QFETCH(QString, path);
        buildProject();
        BoxWatcher boxes;
        QSignalSpy finished(app(), &ZyApp::sig_archiveFinished);
        QVERIFY(!app()->archiveProject(path));
        QCOMPARE(boxes.texts, QStringList{"archivedialog.WriteForbidden"});
        QVERIFY(!app()->isArchiving());
        QVERIFY(window()->autoSaveRunning());
        QCOMPARE(finished.size(), 0);
        QVERIFY(!QFileInfo::exists(path + "/Film.zya2"));
    }

    void failedCopiesAreReportedNotCalledSuccess() {
        buildProject();
        QDir().mkpath(dir + "/failed");
        FolderOpenings opened;
        // A film placed on the timeline, then deleted before the archive.
        copyMedia("upright.mp4", dir + "/d/gone.mp4");
        ClassifyItem* video = tracks()->header(SourceVideo);
        SourceData* gone = tracks()->createFromMaterial(video, dir + "/d/gone.mp4", 500);
        QVERIFY(gone);
        video->addSource(gone);
        QVERIFY(QFile::remove(dir + "/d/gone.mp4"));
        BoxWatcher boxes;
        bool complete = true;
        QVERIFY(runArchive(dir + "/failed/Film", &complete));
        QVERIFY(!complete);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts.first().startsWith("archivedprocessdialog.CopyFailed"));
        QCOMPARE(app()->lastArchiveFailures().size(), 1);
        QVERIFY(app()->lastArchiveFailures().first().startsWith(dir + "/d/gone.mp4: "));
        QVERIFY(app()->archivedProcessDialog()->noteText().isEmpty()); // no success note
        QVERIFY(!app()->archivedProcessDialog()->isVisible());
        // The rest is archived; the missing film keeps the path it had.
        QCOMPARE(resourceEntries(dir + "/failed/Film").size(), 4);
        QVERIFY(storedPaths(dir + "/failed/Film/Film.zya2").contains(dir + "/d/gone.mp4"));

        // A "resource" that is a file: nothing can be copied, and that is said too.
        boxes.texts.clear();
        QDir().mkpath(dir + "/jammed/Film");
        QFile jam(dir + "/jammed/Film/resource");
        QVERIFY(jam.open(QIODevice::WriteOnly));
        jam.close();
        QVERIFY(runArchive(dir + "/jammed/Film", &complete));
        QVERIFY(!complete);
        QCOMPARE(boxes.texts.size(), 1);
        QCOMPARE(app()->lastArchiveFailures().size(), 5); // every distinct media file
    }

    // A disk that fills up during the copies: what did not fit is reported,
    // no cut copy is left to be taken for whole, and a later archive into
    // the same folder copies everything afresh.
    void aFullDiskLeavesNoCutCopies() {
        buildProject();
        QDir().mkpath(dir + "/full");
        FolderOpenings opened;
        BoxWatcher boxes;
        bool complete = true;
        {
            korvel::test::FileSizeLimit full(30000);
            QVERIFY(runArchive(dir + "/full/Film", &complete));
        }
        QVERIFY(!complete);
        QVERIFY(!app()->lastArchiveFailures().isEmpty());
        // Each says why, not "Unknown error".
        for (const QString& failure : app()->lastArchiveFailures())
            QVERIFY2(failure.contains("File too large"), qPrintable(failure));
        QList<qint64> sizes;
        for (const char* source : {"/a/clip.mp4", "/b/clip.mp4", "/c/tone.mp3", "/c/alpha.png"})
            sizes << QFileInfo(dir + source).size();
        for (const QFileInfo& copy : QDir(dir + "/full/Film/resource").entryInfoList(QDir::Files | QDir::Hidden))
            QVERIFY2(sizes.contains(copy.size()), qPrintable(copy.filePath()));
        QVERIFY(runArchive(dir + "/full/Film", &complete));
        QVERIFY(complete);
        QCOMPARE(resourceEntries(dir + "/full/Film").size(), 4);

        // Too full for the archived project itself: one message says that no
        // archive was made (not a failed save, nor an incomplete archive).
        QDir().mkpath(dir + "/fuller");
        boxes.texts.clear();
        {
            korvel::test::FileSizeLimit full(100);
            runArchive(dir + "/fuller/Film", &complete);
        }
        QVERIFY(!complete);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.first().startsWith("archivedialog.ArchiveFail"), qPrintable(boxes.texts.first()));
        QVERIFY(!QFile::exists(dir + "/fuller/Film/Film.zya2"));
    }

    // Names share an archive when they agree up to the first dot: another
    // project's archive there is replaced only when the user says so. An
    // archive whose project file cannot be written takes back its copies.
    void anotherArchiveIsReplacedOnlyWhenAsked() {
        buildProject();
        QDir().mkpath(dir + "/same");
        FolderOpenings opened;
        const QString archived = dir + "/same/Trip/Trip.zya2";
        {
            BoxWatcher boxes;
            QVERIFY(runArchive(dir + "/same/Trip.day1"));
            QVERIFY(boxes.texts.isEmpty());
        }
        const QByteArray first = readFile(archived);
        QVERIFY(!first.isEmpty());
        ClassifyItem* subtitles = tracks()->header(SourceSubtitle);
        subtitles->addSource(tracks()->createSubtitle(subtitles, 90, 30, "Day two", QFont("Sans", 30), Qt::white));
        QVERIFY(app()->saveProject(false, false, project));

        QStringList asked;
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked << box->text();
                box->escapeButton()->click();
            }
        });
        cancel.start(20);
        QVERIFY(!app()->archiveProject(dir + "/same/Trip.day2"));
        cancel.stop();
        QCOMPARE(asked, QStringList{"archivedialog.AskReplace"});
        QCOMPARE(readFile(archived), first);
        {
            BoxWatcher boxes; // its first button: Replace
            QVERIFY(runArchive(dir + "/same/Trip.day2"));
            QCOMPARE(boxes.texts, QStringList{"archivedialog.AskReplace"});
        }
        QVERIFY(readFile(archived).contains("Day two"));

        // The project file cannot be written where a folder of its name stands.
        QVERIFY(QDir().mkpath(dir + "/jammed-file/Film/Film.zya2"));
        BoxWatcher boxes;
        bool complete = true;
        runArchive(dir + "/jammed-file/Film", &complete);
        QVERIFY(!complete);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.first().startsWith("archivedialog.ArchiveFail"), qPrintable(boxes.texts.first()));
        QVERIFY(!QFileInfo::exists(dir + "/jammed-file/Film/resource"));
        QVERIFY(QFileInfo(dir + "/jammed-file/Film/Film.zya2").isDir());
    }

    void copiesAreNeverOverwrittenAndOneFileIsCopiedOnce() {
        const QString work = korvel::test::workFolder("copier");
        QDir().mkpath(work + "/resource");
        QDir().mkpath(work + "/x");
        QVERIFY(QFile::copy(media("h264-30fps.mp4"), work + "/x/clip.mp4"));
        // A different file of that name from an earlier archive stays as it is.
        QVERIFY(QFile::copy(media("tone.mp3"), work + "/resource/clip.mp4"));
        QVERIFY(QFile::link(work + "/x/clip.mp4", work + "/link.mp4"));
        archive::Progress progress;
        const archive::CopyResult result = archive::copyMedia(
            {work + "/x/clip.mp4", work + "/x/../x/clip.mp4", work + "/link.mp4", QString()},
            work + "/resource", &progress);
        QVERIFY(result.failures.isEmpty());
        QCOMPARE(result.copies.size(), 3);
        for (const QString& copy : result.copies)
            QCOMPARE(copy, work + "/resource/clip (2).mp4");
        QCOMPARE(readFile(work + "/resource/clip.mp4"), readFile(media("tone.mp3")));
        QCOMPARE(readFile(work + "/resource/clip (2).mp4"), readFile(media("h264-30fps.mp4")));
        QCOMPARE(progress.filesDone.load(), 1);
        QCOMPARE(progress.filesTotal.load(), 1);
        QCOMPARE(progress.bytesDone.load(), progress.bytesTotal.load());
        QCOMPARE(progress.bytesTotal.load(), QFileInfo(media("h264-30fps.mp4")).size());
        QCOMPARE(archive::numberedName("clip.tar.gz", 3), QStringLiteral("clip.tar (3).gz"));
        QCOMPARE(archive::numberedName("README", 2), QStringLiteral("README (2)"));
        QCOMPARE(archive::numberedName(".hidden", 2), QStringLiteral(".hidden (2)"));

        // The progress window cannot be dismissed while an archive runs.
        ArchivedProcessDialog dialog;
        dialog.start();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        dialog.finish();
        QVERIFY(!dialog.isVisible());
    }
};

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestArchive");
    korvel::test::requireDisplay();
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-archive-%1").arg(getpid()));
    // No translator: the message boxes show their keys, which the test reads.
    ZyApp app(argc, argv);
    TestArchive tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_archive.moc"
