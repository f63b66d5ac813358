// A project whose media files moved: the command-line export refuses it with
// the list, the editor lists them in one window when the project opens, a
// folder search relinks them, and the next save keeps the new places.
#include "main/main-window.h"
#include "main/zyapp.h"
#include "resource/material-item.h"
#include "resource/material-manager.h"
#include "resource/material-view.h"
#include "resource/project/missing-media-dialog.h"
#include "resource/resource-widget.h"
#include "support/reference-render.h"
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-widget.h"
#include "undo/undo-controller.h"

#include <QContextMenuEvent>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include <unistd.h>

namespace {

QString media(const char* name) { return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name; }
MainWindow* window() { return qobject_cast<MainWindow*>(ZyApp::instance()->mainWindow()); }
TimeLineTreeModel* tracks() { return window()->timelineWidget()->model(); }
MaterialManager* library() { return window()->resourceWidget()->manager(); }

int exportProject(const QString& project, const QString& output, QByteArray* said) {
    QProcess korvel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    korvel.setProcessEnvironment(env);
    korvel.start(QStringLiteral(KORVEL_BINARY), {"--export", project, output, "--size", "320x180"});
    korvel.waitForFinished(240000);
    *said = korvel.readAllStandardError();
    return korvel.exitStatus() == QProcess::NormalExit ? korvel.exitCode() : -1;
}

// Saves dir/film.zya2 with one blue clip, dir/media/clip.mp4, on the video
// track (and in the library when asked) and leaves the editor with an
// empty project. The project's path; empty when it could not be made.
QString saveProjectWithClip(const QString& dir, bool inLibrary) {
    const QString clip = dir + "/media/clip.mp4", project = dir + "/film.zya2";
    if (!QDir().mkpath(dir + "/media") || !QFile::copy(media("export-blue.mp4"), clip))
        return QString();
    if (inLibrary)
        library()->AddMaterialFiles({clip}, false);
    tracks()->header(SourceVideo)->addSource(tracks()->createFromMaterial(tracks()->header(SourceVideo), clip, 0));
    QFile(project).open(QIODevice::WriteOnly);
    const bool saved = ZyApp::instance()->saveProject(false, false, project);
    ZyApp::instance()->clearProject();
    return saved ? project : QString();
}

} // namespace

class TestMissingMedia : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(ZyApp::instance()->initialize()); }

    void movedMediaIsFoundAgain() {
        const QString dir = korvel::test::workFolder("moved");
        QDir().mkpath(dir + "/shoot");
        const QString clip = dir + "/shoot/clip.mp4", tone = dir + "/shoot/tone.mp3";
        QVERIFY(QFile::copy(media("export-blue.mp4"), clip));
        QVERIFY(QFile::copy(media("tone.mp3"), tone));
        TimeLineTreeModel* m = tracks();
        m->header(SourceVideo)->addSource(m->createFromMaterial(m->header(SourceVideo), clip, 0));
        m->header(SourceAudio)->addSource(m->createFromMaterial(m->header(SourceAudio), tone, 0));
        library()->AddMaterialFiles({clip, tone}, false);
        const QString project = dir + "/film.zya2";
        QFile(project).open(QIODevice::WriteOnly);
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        ZyApp::instance()->clearProject();

        // The shoot moves to another disk; the tone is lost for good.
        QDir().mkpath(dir + "/disk/2026/shoot");
        QVERIFY(QFile::rename(clip, dir + "/disk/2026/shoot/clip.mp4"));
        QVERIFY(QFile::remove(tone));
        // Not the lost tone, though it has its name: the project did not move.
        QVERIFY(QFile::copy(media("tone.mp3"), dir + "/tone.mp3"));

        // A scripted export refuses to write a film with holes, and says which.
        QByteArray said;
        QCOMPARE(exportProject(project, dir + "/out.mp4", &said), 2);
        QVERIFY2(said.contains(clip.toUtf8()) && said.contains(tone.toUtf8()), said.constData());
        QVERIFY(!QFile::exists(dir + "/out.mp4"));

        // The editor lists both in one window; the search finds the clip.
        QStringList listed;
        bool searched = false;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* files = qobject_cast<QFileDialog*>(modal)) {
                korvel::test::chooseInFileDialog(files, dir + "/disk");
                return;
            }
            auto* missing = qobject_cast<MissingMediaDialog*>(modal);
            if (!missing)
                return;
            if (!searched) {
                searched = true;
                listed = missing->stillMissing();
                // Clicked from outside this slot: the file dialog it opens
                // must meet this timer again.
                QTimer::singleShot(0, missing->findChild<QPushButton*>("searchButton"), &QPushButton::click);
            } else if (missing->relinkedCount() > 0) {
                QTimer::singleShot(0, missing->findChild<QPushButton*>("closeButton"), &QPushButton::click);
            }
        });
        driver.start(50);
        QVERIFY(ZyApp::instance()->openProject(project));
        driver.stop();
        listed.sort();
        QCOMPARE(listed, (QStringList {clip, tone}));
        const QString moved = dir + "/disk/2026/shoot/clip.mp4";
        // The clip reads from its new place at once; the lost one keeps its place.
        const QList<SourceData*> clips = tracks()->allSources();
        QCOMPARE(clips.size(), 2);
        for (SourceData* c : clips) {
            if (c->type() == SourceVideo) {
                QCOMPARE(c->path(), moved);
                QCOMPARE(c->valid(), 1);
            } else {
                QCOMPARE(c->path(), tone);
                QCOMPARE(c->valid(), 0);
                QCOMPARE(c->startFrame(), int64_t(0));
            }
        }
        QVERIFY(library()->FindMaterial([&](const MaterialObject* o) { return o->path == moved && o->draggable; }));
        QVERIFY(!zya::UndoController::instance()->isClean());

        // Saved, the new place stands: a fresh export finds the clip and
        // only the lost tone is missing; with the tone back it exports blue.
        QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
        QVERIFY(QFile::copy(media("tone.mp3"), tone));
        QCOMPARE(exportProject(project, dir + "/out.mp4", &said), 0);
        const QImage frame = korvel::test::decodeFrame(dir + "/out.mp4", 5);
        QVERIFY(!frame.isNull());
        const QColor centre = frame.pixelColor(frame.width() / 2, frame.height() / 2);
        QVERIFY2(centre.blue() > 150 && centre.red() < 80, qPrintable(centre.name()));
        ZyApp::instance()->clearProject();
    }

    // Files of one name are told apart by their folders: a search never
    // gives a file to a missing one from another folder of its own, nor one
    // file to two missing ones (b's red clip played a's pattern after it).
    void aSearchTellsFilesOfOneNameApart() {
        const QString dir = korvel::test::workFolder("same-names");
        const QString was = dir + "/media", now = dir + "/media2";
        const QStringList lying = {"a/clip.mp4",  "red.mp4",    "c/other.mp4",        "old/other.mp4",
                                   "f/take.mp4",  "g/take.mp4", "card1/C0001.MP4", "card2/C0001.MP4"};
        for (const QString& file : lying) {
            QDir().mkpath(QFileInfo(now + "/" + file).absolutePath());
            QVERIFY(QFile(now + "/" + file).open(QIODevice::WriteOnly));
        }
        QList<QPair<QString, QString>> relinked;
        MissingMediaDialog dialog({was + "/a/clip.mp4", was + "/b/clip.mp4", was + "/c/other.mp4",
                                   was + "/d/take.mp4", was + "/e/take.mp4", was + "/card1/C0001.MP4",
                                   was + "/card2/C0001.MP4"},
                                  [&](const QString& from, const QString& to) {
                                      relinked.append({from, to});
                                      return true;
                                  });
        QCOMPARE(dialog.searchFolder(now), 4);
        std::sort(relinked.begin(), relinked.end());
        QCOMPARE(relinked, (QList<QPair<QString, QString>> {{was + "/a/clip.mp4", now + "/a/clip.mp4"},
                                                            {was + "/c/other.mp4", now + "/c/other.mp4"},
                                                            {was + "/card1/C0001.MP4", now + "/card1/C0001.MP4"},
                                                            {was + "/card2/C0001.MP4", now + "/card2/C0001.MP4"}}));
        QCOMPARE(dialog.stillMissing().size(), 3);
        // Searched again, a file already given stays with its own.
        QCOMPARE(dialog.searchFolder(now), 0);
    }

    // A project folder moved with its media inside: the media are found where
    // the move took them, by the export and by the editor, without asking.
    // A file that lay outside the folder is not taken for one of the same
    // name inside it.
    void aProjectMovedWithItsMediaFindsThemWithoutAsking() {
        const QString dir = korvel::test::workFolder("folder-moved");
        QDir().mkpath(dir + "/film/media");
        QDir().mkpath(dir + "/lost");
        const QString clip = dir + "/film/media/clip.mp4", tone = dir + "/film/media/tone.mp3";
        const QString outside = dir + "/lost/voice.mp3";
        QVERIFY(QFile::copy(media("export-blue.mp4"), clip));
        QVERIFY(QFile::copy(media("tone.mp3"), tone));
        QVERIFY(QFile::copy(media("tone.mp3"), outside));
        TimeLineTreeModel* m = tracks();
        m->header(SourceVideo)->addSource(m->createFromMaterial(m->header(SourceVideo), clip, 0));
        m->header(SourceAudio)->addSource(m->createFromMaterial(m->header(SourceAudio), tone, 0));
        ClassifyItem* second = m->addTrack(m->header(SourceAudio));
        second->addSource(m->createFromMaterial(second, outside, 0));
        library()->AddMaterialFiles({clip, tone}, false);
        const QString project = dir + "/film/film.zya2";
        QFile(project).open(QIODevice::WriteOnly);
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        ZyApp::instance()->clearProject();

        QVERIFY(QDir().rename(dir + "/film", dir + "/usb"));
        QVERIFY(QFile::remove(outside));
        QVERIFY(QFile::copy(media("tone.mp3"), dir + "/usb/voice.mp3")); // same name, other place
        const QString movedProject = dir + "/usb/film.zya2";

        // A fresh export finds the moved files; the outside one is still missing.
        QByteArray said;
        QCOMPARE(exportProject(movedProject, dir + "/out.mp4", &said), 2);
        const QByteArray listed = said.mid(said.indexOf("export: 1 media files of the project are missing:"));
        QVERIFY2(listed.contains(outside.toUtf8()) && !listed.contains(clip.toUtf8()) &&
                     !listed.contains(tone.toUtf8()) && !listed.isEmpty(),
                 said.constData());
        QVERIFY(QFile::copy(media("tone.mp3"), outside));
        QCOMPARE(exportProject(movedProject, dir + "/out.mp4", &said), 0);
        const QImage frame = korvel::test::decodeFrame(dir + "/out.mp4", 5);
        QVERIFY(!frame.isNull());
        const QColor centre = frame.pixelColor(frame.width() / 2, frame.height() / 2);
        QVERIFY2(centre.blue() > 150 && centre.red() < 80, qPrintable(centre.name()));

        // The editor opens it with nothing to ask.
        int asked = 0;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            if (auto* missing = qobject_cast<MissingMediaDialog*>(QApplication::activeModalWidget())) {
                ++asked;
                missing->reject();
            }
        });
        driver.start(50);
        QVERIFY(ZyApp::instance()->openProject(movedProject));
        driver.stop();
        QCOMPARE(asked, 0);
        QStringList paths;
        for (SourceData* c : tracks()->allSources()) {
            paths << c->path();
            QCOMPARE(c->valid(), 1);
        }
        paths.sort();
        QCOMPARE(paths, (QStringList {outside, dir + "/usb/media/clip.mp4", dir + "/usb/media/tone.mp3"}));
        ZyApp::instance()->clearProject();
    }

    // A project's folder copied with its media (the originals still there):
    // the copy uses its own media, in the export and in the editor, as the
    // library does.
    void aCopiedProjectFolderUsesItsOwnMedia() {
        const QString dir = korvel::test::workFolder("folder-copied");
        const QString project = saveProjectWithClip(dir + "/film", true);
        QVERIFY(!project.isEmpty());
        QVERIFY(QDir().mkpath(dir + "/copy/media"));
        const QString copy = dir + "/copy/film.zya2", ownClip = dir + "/copy/media/clip.mp4";
        QVERIFY(QFile::copy(project, copy));
        QVERIFY(QFile::copy(media("export-red-tone.mp4"), ownClip)); // told apart by its colour
        QByteArray said;
        QCOMPARE(exportProject(copy, dir + "/out.mp4", &said), 0);
        const QImage frame = korvel::test::decodeFrame(dir + "/out.mp4", 5);
        QVERIFY(!frame.isNull());
        const QColor centre = frame.pixelColor(frame.width() / 2, frame.height() / 2);
        QVERIFY2(centre.red() > 150 && centre.blue() < 80, qPrintable(centre.name()));

        QVERIFY(ZyApp::instance()->openProject(copy));
        QCOMPARE(tracks()->allSources().size(), 1);
        QCOMPARE(tracks()->allSources().first()->path(), ownClip);
        QVERIFY(library()->FindMaterial([&](const MaterialObject* o) { return o->path == ownClip; }));
        ZyApp::instance()->clearProject();
    }

    // A file missing when the project opened, put back later, is taken up
    // again (the editor checks when it is returned to and before an
    // export); each unchanged unreadable file is read once.
    void aFileThatComesBackIsUsedAgain() {
        const QString dir = korvel::test::workFolder("comes-back");
        const QString project = saveProjectWithClip(dir, true);
        QVERIFY(!project.isEmpty());
        const QString clip = dir + "/media/clip.mp4";
        QVERIFY(QFile::rename(clip, dir + "/away.mp4"));
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [] {
            if (auto* missing = qobject_cast<MissingMediaDialog*>(QApplication::activeModalWidget()))
                missing->reject();
        });
        closer.start(50);
        QVERIFY(ZyApp::instance()->openProject(project));
        closer.stop();
        SourceData* shown = tracks()->allSources().value(0);
        QVERIFY(shown && shown->valid() == 0);
        QCOMPARE(ZyApp::instance()->relinkReturnedMedia(), 0);

        QVERIFY(QFile::rename(dir + "/away.mp4", clip));
        QCOMPARE(ZyApp::instance()->relinkReturnedMedia(), 1);
        QCOMPARE(shown->valid(), 1);
        QVERIFY(library()->FindMaterial([&](const MaterialObject* o) { return o->path == clip && o->draggable; }));
        QVERIFY(ZyApp::instance()->projectSections()->unreadableMedia().isEmpty());
        ZyApp::instance()->clearProject();
    }

    // Located to a file of another size, a clip keeps its crop where it was
    // in the picture rather than showing a corner of the new one.
    void aFileLocatedAtAnotherSizeKeepsItsCrop() {
        const QString dir = korvel::test::workFolder("other-size");
        const QString project = saveProjectWithClip(dir, false);
        QVERIFY(ZyApp::instance()->openProject(project));
        SourceData* clip = tracks()->allSources().value(0);
        QVERIFY(clip);
        QVERIFY(zya::UndoController::instance()->isClean());
        const QSize before = clip->originalSize();
        const QString bigger = dir + "/bigger.mp4";
        QVERIFY(korvel::test::runFfmpeg({"-f", "lavfi", "-i",
                                         QStringLiteral("color=red:size=%1x%2:duration=1")
                                             .arg(before.width() * 2)
                                             .arg(before.height() * 2),
                                         "-pix_fmt", "yuv420p", bigger}));
        QCOMPARE(ZyApp::instance()->projectSections()->relinkMedia(dir + "/media/clip.mp4", bigger), 1);
        QCOMPARE(clip->originalSize(), before * 2);
        QCOMPARE(clip->clipRect(), QRect(QPoint(0, 0), before * 2));
        QVERIFY(!zya::UndoController::instance()->isClean()); // the next save keeps them
        ZyApp::instance()->clearProject();
    }

    // A project written by a script with media paths relative to it reads
    // them from its own folder, wherever the export is started.
    void relativePathsLieBesideTheProject() {
        const QString dir = korvel::test::workFolder("relative");
        const QString clip = dir + "/media/clip.mp4", project = saveProjectWithClip(dir, false);
        QVERIFY(!project.isEmpty());
        QFile file(project);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        file.close();
        QVERIFY(text.contains(clip.toUtf8()));
        text.replace(clip.toUtf8(), "media/clip.mp4");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size());
        file.close();
        QByteArray said;
        QCOMPARE(exportProject(project, dir + "/out.mp4", &said), 0);
        const QImage frame = korvel::test::decodeFrame(dir + "/out.mp4", 5);
        QVERIFY(!frame.isNull());
        const QColor centre = frame.pixelColor(frame.width() / 2, frame.height() / 2);
        QVERIFY2(centre.blue() > 150 && centre.red() < 80, qPrintable(centre.name()));
    }

    // Closed once, the window of missing files comes back from the
    // library: a missing material's menu offers Locate.
    void aMissingMaterialCanBeLocatedLater() {
        const QString dir = korvel::test::workFolder("locate-later");
        const QString clip = dir + "/clip.mp4", moved = dir + "/found/clip.mp4";
        QVERIFY(QFile::copy(media("export-blue.mp4"), clip));
        library()->AddMaterialFiles({clip}, false);
        const QString project = dir + "/film.zya2";
        QFile(project).open(QIODevice::WriteOnly);
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        ZyApp::instance()->clearProject();
        QDir().mkpath(dir + "/found");
        QVERIFY(QFile::rename(clip, moved));
        int windows = 0;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                const QString locate = QCoreApplication::translate("MaterialView", "missingmedia.Locate");
                for (QAction* action : menu->actions()) {
                    if (action->text() == locate) {
                        menu->setActiveAction(action);
                        QTest::keyClick(menu, Qt::Key_Return);
                        return;
                    }
                }
                menu->close();
            } else if (auto* missing = qobject_cast<MissingMediaDialog*>(QApplication::activeModalWidget())) {
                // The first time it is only closed.
                if (++windows == 2)
                    missing->locate(clip, moved);
                missing->accept();
            }
        });
        driver.start(50);
        QVERIFY(ZyApp::instance()->openProject(project));
        QCOMPARE(windows, 1);
        MaterialView* view = window()->resourceWidget()->materialView();
        QTRY_VERIFY(!view->materialScene()->materialItems().isEmpty());
        const QPoint at = view->mapFromScene(view->materialScene()->materialItems().first()->sceneBoundingRect().center());
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(view->viewport(), &event);
        QTRY_COMPARE(windows, 2);
        driver.stop();
        QVERIFY(library()->FindMaterial([&](const MaterialObject* o) { return o->path == moved && o->draggable; }));
        ZyApp::instance()->clearProject();
    }

    // The project file copied into another folder, its media left where
    // they were: the library still finds them (it called them missing,
    // though the timeline played them).
    void aProjectFileCopiedAloneFindsItsMedia() {
        const QString dir = korvel::test::workFolder("copied-alone");
        const QString clip = dir + "/media/clip.mp4", project = saveProjectWithClip(dir, true);
        QVERIFY(!project.isEmpty());
        QDir().mkpath(dir + "/elsewhere/deeper");
        const QString copy = dir + "/elsewhere/deeper/film.zya2";
        QVERIFY(QFile::copy(project, copy));
        bool asked = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (auto* missing = qobject_cast<MissingMediaDialog*>(QApplication::activeModalWidget())) {
                asked = true;
                missing->reject();
            }
        });
        watch.start(50);
        QVERIFY(ZyApp::instance()->openProject(copy));
        watch.stop();
        QVERIFY(!asked);
        QVERIFY(library()->missingFiles().isEmpty());
        QVERIFY(library()->FindMaterial([&](const MaterialObject* o) { return o->path == clip && o->draggable; }));
        ZyApp::instance()->clearProject();
    }
};

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestMissingMedia");
    korvel::test::requireDisplay();
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-missing-media-%1").arg(getpid()));
    ZyApp app(argc, argv);
    TestMissingMedia tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_missing_media.moc"
