// Project files through the application: a full project saved, opened and
// saved again, the older layout, the automatic copy, files that are no
// project, saves that cannot write, a save killed half-way, and the main
// window's name label and close question.
#include "main/export-jobs.h"
#include "main/jobs-window.h"
#include "main/main-window.h"
#include "main/qssmanager.h"
#include "main/project-file.h"
#include "main/zyapp.h"
#include "media/media.h"
#include "render/export/export-function.h"
#include "render/export/export-param-widget.h"
#include "render/export/export-process-dialog.h"
#include "render/export/export-thread.h"
#include "render/preview-widget.h"
#include "render/preview-window.h"
#include "render/render-manager.h"
#include "resource/material-manager.h"
#include "resource/project/historyitem-widget.h"
#include "resource/project/historylist-view.h"
#include "resource/project/project-backups.h"
#include "resource/material-view.h"
#include "resource/resource-widget.h"
#include "support/file-size-limit.h"
#include "support/folder-openings.h"
#include "support/reference-render.h"
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/toolbar-widget.h"
#include "undo/undo-controller.h"
#include "values/media-thumbnail.h"
#include "timeline/source-item.h"
#include "value/interface.h"
#include "value/paths.h"

#include <QDeadlineTimer>
#include <QFileDialog>
#include <QGraphicsItem>
#include <QScreen>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString media(const char* name) { return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name; }

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A stand-in for the exporter the job queue runs: a shell script in folder;
// empty when it cannot be made runnable.
QString fakeKorvel(const QString& folder, const QByteArray& script) {
    const QString fake = folder + "/fake-korvel";
    writeFile(fake, script);
    return QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ? fake : QString();
}

// Answers the next modal message box with the button of that text (or the
// escape button when empty) and keeps its text.
class BoxAnswer : public QObject {
public:
    explicit BoxAnswer(const QString& button) : m_button(button) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, timer] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                // A file dialog gets the text as the chosen file, or is cancelled.
                if (m_button.isEmpty()) {
                    ++answered;
                    dialog->reject();
                } else if (korvel::test::chooseInFileDialog(dialog, m_button)) {
                    ++answered;
                }
                return;
            }
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            text = box->text();
            ++answered;
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == m_button) {
                    b->click();
                    return;
                }
            }
            box->reject();
            Q_UNUSED(timer);
        });
        timer->start(20);
    }
    QString text;
    int answered = 0;

private:
    QString m_button;
};

using korvel::test::FolderOpenings;

MainWindow* window() { return qobject_cast<MainWindow*>(ZyApp::instance()->mainWindow()); }
TimeLineTreeModel* tracks() { return window()->timelineWidget()->model(); }
MaterialManager* library() { return window()->resourceWidget()->manager(); }

// A 320 x 180 picture of one colour, written as a file and laid on the
// picture track at frame 0, with no notice left open to hold the keys back.
SourceData* addPictureClip(const QString& folder, const QColor& colour) {
    for (int i = 0; i < 10 && QApplication::activeModalWidget(); ++i)
        QApplication::activeModalWidget()->hide();
    const QString png = korvel::test::workFolder(folder) + QStringLiteral("/picture.png");
    QImage picture(320, 180, QImage::Format_RGB32);
    picture.fill(colour);
    if (!picture.save(png))
        return nullptr;
    ClassifyItem* pictures = tracks()->header(SourcePicture);
    SourceData* clip = tracks()->createFromMaterial(pictures, png, 0);
    if (clip)
        pictures->addSource(clip);
    return clip;
}

// Clips on each of the kill test's tracks, and titles in its library: a
// few hundred clips make a save take long enough to be caught half-way.
constexpr int kSaverClipsPerTrack = 25;

// Writes a line to standard output at once: the parent reads it even when
// the next thing that happens to this process is SIGKILL.
void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The kill test's child: the editor itself, without a window, with a project
// large enough that a save takes a while, saved again and again with an edit
// in between (a track added, then removed), so that consecutive files differ.
// It says "built TRACKS CLIPS MATERIALS" once, then "saving N" before each
// save and "saved N" after it.
int realSaveLoop(int argc, char** argv, const QString& path) {
    const pid_t parent = getppid();
    // A guard of its own: the test's editor holds the test's.
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-project-saver-%1").arg(parent));
    ZyApp app(argc, argv);
    if (app.isSecondary())
        return 3;
    app.setInteractive(false); // a failed save is logged, not shown in a box nobody answers
    if (!app.initialize(false))
        return 2;
    ZyApp::instance()->renderManager()->setSceneSize(1366, 768, false);
    TimeLineTreeModel* m = tracks();
    QList<ClassifyItem*> videoTracks {m->header(SourceVideo)};
    for (int t = 0; t < 3; ++t)
        videoTracks << m->addTrack(m->header(SourceVideo));
    ClassifyItem* subtitles = m->addTrack(m->header(SourceSubtitle));
    const bg::ValueMap film = m->probe(media("h264-30fps.mp4")), tone = m->probe(media("tone.mp3"));
    for (ClassifyItem* track : videoTracks) {
        int64_t at = 0;
        for (int i = 0; i < kSaverClipsPerTrack; ++i)
            at = m->createFromMaterial(track, media("h264-30fps.mp4"), film, at)->endFrame();
    }
    int64_t at = 0;
    for (int i = 0; i < kSaverClipsPerTrack; ++i) {
        at = m->createFromMaterial(m->header(SourceAudio), media("tone.mp3"), tone, at)->endFrame();
        m->createSubtitle(subtitles, i * 40, 30, QStringLiteral("Line %1 <of> \"many\" & more").arg(i),
                          QFont("Sans", 30), QColor("#ff8000"));
    }
    for (int i = 0; i < kSaverClipsPerTrack; ++i)
        library()->AddMaterialSubtitle(QStringLiteral("Title %1").arg(i), QFont("Serif", 20),
                                       QColor("#00ff00"), false);
    library()->AddMaterialFiles({media("h264-30fps.mp4"), media("tone.mp3"), media("alpha.png"),
                                 media("vp9-opus.webm")},
                                false);
    QCoreApplication::processEvents();
    say(QByteArray("built ") + QByteArray::number(m->tracks().size()) + ' ' +
        QByteArray::number(m->allSources().size()) + ' ' +
        QByteArray::number(window()->resourceWidget()->materialView()->materials().size()));

    // The first save names the file; an empty one stands there until it is written.
    if (!QFile::exists(path) && !QFile(path).open(QIODevice::WriteOnly))
        return 2;
    ClassifyItem* added = nullptr;
    for (int n = 0; getppid() == parent; ++n) { // an orphan stops
        say("saving " + QByteArray::number(n));
        if (!ZyApp::instance()->saveProject(false, false, n == 0 ? path : QString()))
            return 4;
        say("saved " + QByteArray::number(n));
        if (added) {
            m->removeTrack(added);
            added = nullptr;
        } else {
            added = m->addTrack(m->header(SourceAudio));
        }
        QCoreApplication::processEvents();
    }
    return 0;
}

} // namespace

class TestProject : public QObject {
    Q_OBJECT

    QString dir;

    // Every kind of clip, three added tracks, transitions, subtitles,
    // materials and a 1366 x 768 canvas.
    // A project of one video clip, nothing else.
    void buildEmptyProjectWith(const QString& video) {
        ZyApp::instance()->clearProject();
        TimeLineTreeModel* m = tracks();
        m->header(SourceVideo)->addSource(m->createFromMaterial(m->header(SourceVideo), video, 0));
    }

    void buildProject() {
        ZyApp::instance()->renderManager()->setSceneSize(1366, 768, false);
        TimeLineTreeModel* m = tracks();
        ClassifyItem* video = m->header(SourceVideo);
        ClassifyItem* extraVideo = m->addTrack(video);
        ClassifyItem* extraPicture = m->addTrack(m->header(SourcePicture));
        ClassifyItem* extraSubtitle = m->addTrack(m->header(SourceSubtitle));
        SourceData* a = m->createFromMaterial(video, media("h264-30fps.mp4"), 0);
        SourceData* b = m->createFromMaterial(video, media("faststart.mp4"), a->endFrame());
        video->addSource(a);
        video->addSource(b);
        m->addTransition(a, b, "clip_cross");
        SourceData* c = m->createFromMaterial(extraVideo, media("upright.mp4"), 10);
        extraVideo->addSource(c);
        SourceData* web = m->createFromMaterial(extraVideo, media("vp9-opus.webm"), c->endFrame());
        extraVideo->addSource(web);
        SourceData* picture = m->createFromMaterial(extraPicture, media("alpha.png"), 5);
        extraPicture->addSource(picture);
        SourceData* music = m->createFromMaterial(m->header(SourceAudio), media("tone.mp3"), 0);
        m->header(SourceAudio)->addSource(music);
        SourceData* voice = m->createFromMaterial(m->header(SourceDub), media("mono-48k.wav"), 20);
        m->header(SourceDub)->addSource(voice);
        SourceData* title = m->createSubtitle(extraSubtitle, 3, 60, "Hello <world> & \"you\"", QFont("Sans", 40),
                                              QColor("#ff8000"));
        extraSubtitle->addSource(title);
        // Templates first: a project is read back templates first.
        library()->AddMaterialSubtitle("Big title", QFont("Serif", 30), QColor("#00ff00"), false);
        library()->AddMaterialFiles({media("h264-30fps.mp4"), media("tone.mp3"), media("alpha.png"),
                                     media("vp9-opus.webm")},
                                    false);
    }

private slots:
    void initTestCase() {
        QVERIFY(ZyApp::instance()->initialize());
        QVERIFY(window());
        dir = korvel::test::workFolder("projects");
    }

    void cleanup() {
        // Leaves a clean, empty project for the next case.
        zya::UndoController::instance()->setClean();
        ZyApp::instance()->clearProject();
    }

    void savedOpenedAndSavedAgainIsTheSameFile() {
        buildProject();
        const QString first = dir + "/first.zya2", second = dir + "/second.zya2", third = dir + "/third.zya2";
        // An untitled project asks where to go; cancelling keeps it modified.
        {
            BoxAnswer cancel {QString()};
            QVERIFY(!ZyApp::instance()->saveProject(false, false, QString()));
            QCOMPARE(cancel.answered, 1);
            QVERIFY(!zya::UndoController::instance()->isClean());
        }
        {
            BoxAnswer choose {dir + "/first"};
            QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
        }
        QCOMPARE(ZyApp::instance()->currentProjectPath(), first); // ".zya2" added
        QVERIFY(zya::UndoController::instance()->isClean());
        QVERIFY(ZyApp::instance()->openProject(first));
        QCOMPARE(ZyApp::instance()->renderManager()->sceneWidth(), 1366u);
        QCOMPARE(tracks()->allSources().size(), 8);
        QCOMPARE(tracks()->transitions().size(), 1);
        QCOMPARE(tracks()->tracks().size(), 8); // five headers, three added
        const QList<MaterialData*> materials = window()->resourceWidget()->materialView()->materials();
        QCOMPARE(materials.size(), 5);
        QCOMPARE(materials.last()->path, media("vp9-opus.webm"));
        QCOMPARE(materials.last()->type, uint32_t(Movie));
        QVERIFY(materials.last()->draggable);
        writeFile(second, QByteArray());
        writeFile(third, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, second));
        QVERIFY(ZyApp::instance()->openProject(second));
        QVERIFY(ZyApp::instance()->saveProject(false, false, third));
        const QByteArray a = readFile(first), b = readFile(second), c = readFile(third);
        QVERIFY(b.startsWith("<Tamsel Version=\"1.0.0\" Archived=\"0\">"));
        QCOMPARE(c, b);
        // The first save differs only in materials now marked as restored.
        QByteArray restored = a;
        restored.replace("<archiveRecoverd>false</archiveRecoverd>", "<archiveRecoverd>true</archiveRecoverd>");
        QCOMPARE(restored, b);
    }

    void createdProjectStartsEmptyAndClean() {
        buildProject();
        zya::UndoController::instance()->setClean();
        // A place that cannot be written: said so, and the open project stays.
        {
            BoxAnswer answer {QString()};
            QVERIFY(!ZyApp::instance()->createProject(dir + "/missing-folder/new.zya2", 1280, 720, true));
            QVERIFY(answer.text.startsWith("titlebar.CreateProjectFail"));
        }
        QCOMPARE(tracks()->allSources().size(), 8);
        QSignalSpy history(ZyApp::instance(), &ZyApp::sig_prependHistory);
        const QString path = dir + "/new.zya2";
        QVERIFY(ZyApp::instance()->createProject(path, 1281, 721, true));
        QVERIFY(readFile(path).startsWith("<Tamsel Version=\"1.0.0\">")); // no archive mark yet
        QCOMPARE(ZyApp::instance()->renderManager()->sceneWidth(), 1280u);
        QVERIFY(ZyApp::instance()->renderManager()->isSizeLocked());
        QVERIFY(tracks()->allSources().isEmpty());
        QVERIFY(zya::UndoController::instance()->isClean());
        QCOMPARE(ZyApp::instance()->currentProjectPath(), path);
        QCOMPARE(history.size(), 1);
        // A new project made where one lies (the dialog asked first) keeps
        // that one as an earlier version; it was lost.
        const QByteArray replaced = readFile(path);
        QVERIFY(ZyApp::instance()->createProject(path, 1280, 720, true));
        const QList<project::EarlierVersion> versions = project::ProjectBackups::earlierVersions(path);
        QCOMPARE(versions.size(), 1);
        QCOMPARE(readFile(versions.first().path), replaced);
        // Where no earlier version can be kept, the project is not replaced.
        const QString other = dir + "/other-new.zya2";
        writeFile(other, "the user's project");
        writeFile(project::ProjectBackups::folderFor(other), "a file where the versions go");
        {
            BoxAnswer answer {QString()};
            QVERIFY(!ZyApp::instance()->createProject(other, 1280, 720, true));
            QVERIFY(answer.text.startsWith("titlebar.CreateProjectFail"));
        }
        QCOMPARE(readFile(other), QByteArray("the user's project"));
        QCOMPARE(ZyApp::instance()->currentProjectPath(), path);
        ZyApp::instance()->renderManager()->setSceneSize(1920, 1080, false);
    }

    // "Save as" (Ctrl+Shift+S) writes the project under the name picked,
    // which it keeps; the file it had stays as last saved.
    void saveAsKeepsTheNewName() {
        const QString folder = korvel::test::workFolder("save-as");
        const QString first = folder + "/first.zya2", second = folder + "/second.zya2";
        buildProject();
        writeFile(first, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, first));
        const QByteArray saved = readFile(first);
        tracks()->addTrack(tracks()->header(SourceAudio));
        {
            BoxAnswer where {second};
            QApplication::setActiveWindow(window());
            QTest::keyClick(window(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
            QTRY_VERIFY(QFile::exists(second));
        }
        QCOMPARE(ZyApp::instance()->currentProjectPath(), second);
        QVERIFY(zya::UndoController::instance()->isClean());
        QCOMPARE(readFile(first), saved);
        QVERIFY(readFile(second) != saved);
        QCOMPARE(window()->findChild<QPushButton*>("pushButton_export")->toolTip().contains("Ctrl+E"), true);
    }

    // A file whose timeline cannot be taken whole (here a clip reaching past
    // the 24-hour end) says so on opening, before a save writes it as read.
    void aProjectNotReadWholeSaysSo() {
        const QString film = korvel::test::workFolder("not-whole") + "/film.zya2";
        writeFile(film, "<Tamsel Version=\"2\"><Timeline><classify type=\"4\" row=\"-1\"><sourceItem>"
                        "<start>2591990</start><duration>100</duration><offset>0</offset>"
                        "<originalduraion>100</originalduraion></sourceItem></classify></Timeline></Tamsel>");
        BoxAnswer told {QString()};
        QVERIFY(ZyApp::instance()->openProject(film));
        QVERIFY2(told.text.startsWith("titlebar.ReadNotWhole") && told.text.contains("titlebar.ClipsShortened"),
                 qPrintable(told.text));
    }

    // An older project's relative media paths lie beside the project, not
    // in the folder Korvel was started in.
    void olderLayoutFindsRelativeMediaBesideIt() {
        const QString folder = korvel::test::workFolder("older-relative");
        QVERIFY(QDir().mkpath(folder + "/media"));
        QVERIFY(QFile::copy(media("h264-30fps.mp4"), folder + "/media/clip.mp4"));
        const QString old = folder + "/film.zya";
        writeFile(old, "<Brindon archive=\"0\"><Preview><ViewInfo><canvas_rect>[rectf]x:0;y:0;w:1280;h:720</canvas_rect>"
                       "</ViewInfo><ViewModel><ZySceneModel><ObjectMgr><Object><uid>1</uid><type>2</type><dobj_user>"
                       "<startPts>0</startPts><duration>1000</duration></dobj_user><url>media/clip.mp4</url></Object>"
                       "</ObjectMgr></ZySceneModel></ViewModel></Preview><TimeLine><PosCtrl><Tree><Group type=\"2\">"
                       "<Row><Item uid=\"1\"/></Row></Group></Tree></PosCtrl></TimeLine></Brindon>");
        const QString started = QDir::currentPath();
        QDir::setCurrent(QDir::rootPath());
        const bool opened = ZyApp::instance()->openProject(old);
        QDir::setCurrent(started);
        QVERIFY(opened);
        QCOMPARE(tracks()->allSources().size(), 1);
        QCOMPARE(tracks()->allSources().first()->path(), folder + "/media/clip.mp4");
        QVERIFY(tracks()->missingMedia().isEmpty());
    }

    void olderLayoutOpensAsAnUnsavedProject() {
        const QString old = dir + "/legacy.zya";
        writeFile(old,
                  "<Brindon archive=\"0\"><Preview><ViewInfo><canvas_rect>[rectf]x:0;y:0;w:1281;h:721</canvas_rect>"
                  "</ViewInfo><ViewModel><ZySceneModel><ObjectMgr><Object><uid>1</uid><type>2</type><dobj_user>"
                  "<startPts>0</startPts><duration>1000</duration></dobj_user><url>" +
                      media("h264-30fps.mp4").toUtf8() +
                      "</url></Object></ObjectMgr></ZySceneModel></ViewModel></Preview>"
                      "<TimeLine><PosCtrl><Tree><Group type=\"2\"><Row><Item uid=\"1\"/></Row></Group></Tree>"
                      "</PosCtrl></TimeLine><Resource><ViewModel><ZySceneModel><ObjectMgr><Object><uid>9</uid>"
                      "<type>music</type><name>tone</name><url>" +
                      media("tone.mp3").toUtf8() +
                      "</url></Object><Object><uid>10</uid><type>text</type><name>Title</name><values>"
                      "<font>[font]Serif, Helvetica</font></values></Object></ObjectMgr></ZySceneModel>"
                      "</ViewModel></Resource><Other/></Brindon>");
        QSignalSpy names(ZyApp::instance(), &ZyApp::sig_updateProjectName);
        QVERIFY(ZyApp::instance()->openProject(old));
        QCOMPARE(names.size(), 0); // no status text
        QCOMPARE(ZyApp::instance()->renderManager()->sceneWidth(), 1280u);
        QCOMPARE(ZyApp::instance()->renderManager()->sceneHeight(), 720u);
        QCOMPARE(tracks()->allSources().size(), 1);
        QCOMPARE(window()->resourceWidget()->materialView()->materials().size(), 2);
        QCOMPARE(ZyApp::instance()->projectPath(), QStringLiteral("legacy.zya2"));
        QVERIFY(ZyApp::instance()->currentProjectPath().isEmpty()); // the next save asks where
        // A template font named as a list of families is the first; saved
        // whole, it reads back (the list did not, and the font changed).
        const auto templateFamily = [] {
            for (const MaterialData* m : window()->resourceWidget()->materialView()->materials()) {
                if (m->name == "Title")
                    return m->font.family();
            }
            return QString();
        };
        QCOMPARE(templateFamily(), QString("Serif"));
        const QString saved = dir + "/legacy-saved.zya2";
        writeFile(saved, QByteArray()); // there: the save asks no name
        QVERIFY(ZyApp::instance()->saveProject(false, false, saved));
        QVERIFY(ZyApp::instance()->openProject(saved));
        QCOMPARE(templateFamily(), QString("Serif"));
    }

    // The copy of a project without a file (untitled, or its file deleted)
    // goes to the temporary folder, which others write too: a link put there
    // in its name is replaced, not written through, and the copy is for its
    // owner's eyes only.
    void anAutomaticCopyInTheSharedFolderIsItsOwners() {
        const QString film = dir + "/deleted-film.zya2";
        buildProject();
        writeFile(film, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, film));
        QVERIFY(QFile::remove(film));
        tracks()->addTrack(tracks()->header(SourceAudio)); // an edit
        const QString copy = project::autoSavePath(film);
        QCOMPARE(QFileInfo(copy).absolutePath(), QDir(QDir::tempPath()).absolutePath());
        const QString victim = dir + "/someone-elses.txt";
        writeFile(victim, "keep me");
        QFile::remove(copy);
        QVERIFY(QFile::link(victim, copy));
        QVERIFY(ZyApp::instance()->saveProject(true, false, QString()));
        QCOMPARE(readFile(victim), QByteArray("keep me"));
        QVERIFY(!QFileInfo(copy).isSymLink());
        QVERIFY(readFile(copy).contains("<Tamsel"));
        QCOMPARE(QFileInfo(copy).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        QFile::remove(copy);
        zya::UndoController::instance()->setClean();
    }

    void automaticCopyAndItsRecovery() {
        QCOMPARE(project::autoSavePath("/nowhere/my.cut.zya2"), QDir::tempPath() + "/~temp_my.cut.zya2");
        const QString film = dir + "/film.zya2";
        buildProject();
        writeFile(film, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, film));
        const QByteArray saved = readFile(film);
        const QString copy = project::autoSavePath(film);
        QCOMPARE(copy, dir + "/~temp_film.zya2");
        // Nothing changed since the save: nothing written.
        QVERIFY(ZyApp::instance()->saveProject(true, false, QString()));
        QVERIFY(!QFile::exists(copy));
        tracks()->addTrack(tracks()->header(SourceAudio)); // an edit
        QVERIFY(ZyApp::instance()->saveProject(true, false, QString()));
        const QByteArray written = readFile(copy);
        QVERIFY(!written.isEmpty());
        QCOMPARE(QString::fromStdString(bg::configText("autoSavePath")), copy);
        QVERIFY(!zya::UndoController::instance()->isClean()); // still modified
        // Nothing changed since that copy: it is not written again.
        writeFile(copy, "as it was");
        QVERIFY(ZyApp::instance()->saveProject(true, false, QString()));
        QCOMPARE(readFile(copy), QByteArray("as it was"));
        writeFile(copy, written);

        // The next copy meets a full disk: the last whole copy and its record stay.
        tracks()->addTrack(tracks()->header(SourceAudio));
        bg::iface()->configSet("autoSavePath", "");
        {
            korvel::test::FileSizeLimit full(written.size() / 2);
            QVERIFY(!ZyApp::instance()->saveProject(true, false, QString()));
        }
        QCOMPARE(readFile(copy), written);
        QCOMPARE(QString::fromStdString(bg::configText("autoSavePath")), QString());
        bg::iface()->configSet("autoSavePath", copy.toStdString());

        // The next start resumes it: the copy is opened as the project,
        // modified, and the project file stays as the user saved it.
        buildProject();
        zya::UndoController::instance()->setClean();
        ZyApp::instance()->resumeAutoSave(true, copy);
        QCOMPARE(readFile(film), saved);
        QCOMPARE(ZyApp::instance()->currentProjectPath(), film);
        QCOMPARE(tracks()->header(SourceAudio)->children().size(), 1);
        QVERIFY(!zya::UndoController::instance()->isClean());
        // A manual save removes a pending copy only once it has written.
        QVERIFY(QFile::exists(copy));
        QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
        QVERIFY(!QFile::exists(copy));
        QCOMPARE(QString::fromStdString(bg::configText("autoSavePath", "x")), QString());
        QVERIFY(readFile(film) != saved);
    }

    // A clip drawn before the library made its media's thumbnail (a project
    // opened for the first time) gets the picture when it is made.
    void clipsGetTheirThumbnailWhenTheLibraryMakesIt() {
        const QString video = korvel::test::workFolder("thumbs") + "/late.mp4";
        QVERIFY(QFile::copy(media("faststart.mp4"), video));
        QVERIFY(!QFile::exists(mediaThumbnailPath(video)));
        ClassifyItem* track = tracks()->header(SourceVideo);
        SourceData* clip = tracks()->createFromMaterial(track, video, 0);
        track->addSource(clip);
        auto* item = dynamic_cast<SourceItem*>(clip);
        QVERIFY(item && !item->hasThumbnail());
        library()->AddMaterialFiles({video}, false);
        QTRY_VERIFY_WITH_TIMEOUT(item->hasThumbnail(), 20000);
    }

    // An export from the window of a film with holes is refused at once,
    // naming the files, instead of failing once the job has started.
    void windowExportRefusesMissingMediaUpFront() {
        const QString folder = korvel::test::workFolder("holes");
        const QString clip = folder + "/gone.mp4";
        QVERIFY(QFile::copy(media("export-red-tone.mp4"), clip));
        ClassifyItem* video = tracks()->header(SourceVideo);
        video->addSource(tracks()->createFromMaterial(video, clip, 0));
        QVERIFY(QFile::remove(clip));
        MVParams params;
        exportfn::setExportPath(params, folder + "/out.mp4");
        params.width = 160;
        params.height = 120;
        params.frameRate = 30;
        QCOMPARE(window()->runExport(&params), 0);
        auto* box = window()->findChild<QMessageBox*>("mediaMissingMessage");
        QVERIFY(box);
        QTRY_VERIFY(box->isVisible());
        QVERIFY2(box->text().contains(clip), qPrintable(box->text()));
        box->close();
        QVERIFY(!QFile::exists(folder + "/out.mp4"));
    }

    // A project in a folder where its copy cannot be written (read-only;
    // here a folder already holds the copy's name) is still protected: the
    // copy goes to Korvel's own folder, the next start offers it, and a save
    // removes it. When no copy can be written at all, the title bar says so.
    void anAutomaticCopyThatCannotGoBesideTheProjectGoesElsewhere() {
        const QString film = dir + "/blocked.zya2";
        buildProject();
        writeFile(film, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, film));
        QVERIFY(QDir().mkpath(project::autoSavePath(film)));
        tracks()->addTrack(tracks()->header(SourceAudio)); // an edit
        QVERIFY(ZyApp::instance()->saveProject(true, false, QString()));
        const QString copy = project::autoSaveFallbackPath(film);
        QVERIFY(copy.startsWith(QString::fromStdString(bg::stateDirectory())));
        QVERIFY(!readFile(copy).isEmpty());
        QCOMPARE(QString::fromStdString(bg::configText("autoSavePath")), copy);

        ZyApp::instance()->clearProject();
        zya::UndoController::instance()->setClean();
        ZyApp::instance()->resumeAutoSave(true, copy);
        QCOMPARE(ZyApp::instance()->currentProjectPath(), film);
        QCOMPARE(tracks()->header(SourceAudio)->children().size(), 1);
        QVERIFY(!zya::UndoController::instance()->isClean());
        QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
        QVERIFY(!QFile::exists(copy));

        // Nowhere to write it: the title bar says so, not for a second but
        // until a copy is written again (the work is protected by nothing).
        tracks()->addTrack(tracks()->header(SourceAudio));
        {
            korvel::test::FileSizeLimit full(64);
            QVERIFY(!ZyApp::instance()->saveProject(true, false, QString()));
        }
        QLabel* title = window()->projectNameLabel();
        QTRY_VERIFY_WITH_TIMEOUT(title->text().startsWith("titlebar.AutoProjectFail"), 3000);
        QTest::qWait(1500);
        QVERIFY2(title->text().startsWith("titlebar.AutoProjectFail"), qPrintable(title->text()));
        QVERIFY(QDir().rmdir(project::autoSavePath(film)));
        QVERIFY(ZyApp::instance()->saveProject(true, false, QString()));
        QTRY_VERIFY_WITH_TIMEOUT(!title->text().startsWith("titlebar.AutoProjectFail"), 3000);
    }

    // The title bar marks a project with changes not saved; undoing back to
    // the saved state or saving takes the mark away.
    void theTitleMarksChangesNotSaved() {
        const QString film = dir + "/marked.zya2";
        buildProject();
        writeFile(film, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, film));
        auto* title = window()->findChild<QLabel*>("label_project_name");
        QTRY_COMPARE_WITH_TIMEOUT(title->text(), QStringLiteral("marked"), 3000);
        tracks()->addTrack(tracks()->header(SourceAudio));
        QCOMPARE(title->text(), QStringLiteral("marked *"));
        zya::UndoController::instance()->stack.undo();
        QCOMPARE(title->text(), QStringLiteral("marked"));
        zya::UndoController::instance()->stack.redo();
        QCOMPARE(title->text(), QStringLiteral("marked *"));
        QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
        QTRY_COMPARE_WITH_TIMEOUT(title->text(), QStringLiteral("marked"), 3000);
    }

    // A file that does not read as a project is refused before anything is
    // asked: the open project and its unsaved edits stay, and the message
    // names the file and what is wrong with it.
    void filesThatAreNoProjectAreRefusedAndTheOpenProjectStays_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("why");
        QByteArray random(4096, 0);
        for (char& c : random)
            c = char(QRandomGenerator::global()->bounded(256));
        QTest::newRow("random bytes") << random << QString();
        QTest::newRow("empty") << QByteArray() << QString("empty");
        QTest::newRow("another program's xml") << QByteArray("<svg><rect/></svg>") << QString("not a Korvel project");
        QTest::newRow("cut off") << QByteArray("<Tamsel Version=\"1.0.0\"><Render><scene><width>1280</wid")
                                 << QString("the file is cut off");
        QTest::newRow("broken deep inside")
            << QByteArray("<Tamsel><Render></Render>\n<Timeline><classify></Timeline></Tamsel>") << QString("line 2");
    }
    void filesThatAreNoProjectAreRefusedAndTheOpenProjectStays() {
        QFETCH(QByteArray, content);
        QFETCH(QString, why);
        const QString bad = dir + "/bad.zya2";
        writeFile(bad, content);
        buildProject();
        const int clips = tracks()->allSources().size();
        QVERIFY(clips > 0);
        QVERIFY(!zya::UndoController::instance()->isClean());
        BoxAnswer answer {QString()};
        QVERIFY(!ZyApp::instance()->openProject(bad));
        QCOMPARE(answer.answered, 1); // the refusal, and no question about saving
        QVERIFY(answer.text.startsWith(QStringLiteral("titlebar.FileReadFail")));
        QVERIFY2(answer.text.contains(bad) && answer.text.contains(why), qPrintable(answer.text));
        QCOMPARE(tracks()->allSources().size(), clips);
        QVERIFY(!zya::UndoController::instance()->isClean());
    }

    // Well formed, with values no project has: it opens as far as it reads,
    // and the project is usable either way.
    void absurdValuesLeaveAUsableProject() {
        const QString bad = dir + "/absurd.zya2";
        writeFile(bad, "<Tamsel><Render><scene><width>-99999999999</width><height>nan</height></scene></Render>"
                       "<Timeline><classify type=\"2\"><SourceItem><source>[map:5]garbage</source></SourceItem>"
                       "</classify></Timeline></Tamsel>");
        BoxAnswer answer {QString()};
        ZyApp::instance()->openProject(bad);
        QVERIFY(ZyApp::instance()->renderManager()->sceneWidth() >= 2);
        tracks()->addTrack(tracks()->header(SourceVideo));
        QVERIFY(!zya::UndoController::instance()->isClean());
    }

    // A disk that fills up half-way through a save (here: a file size limit,
    // which fails the write as a full disk does) leaves the saved file as it
    // was, says so, and keeps the project modified.
    void aSaveOnAFullDiskKeepsTheOldFile() {
        const QString film = dir + "/full-disk.zya2";
        buildProject();
        writeFile(film, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, film));
        const QByteArray saved = readFile(film);
        tracks()->addTrack(tracks()->header(SourceVideo)); // an edit
        library()->AddMaterialFiles({media("tone.m4a"), media("photo.jpg")}, false);
        bool ok = true;
        {
            korvel::test::FileSizeLimit full(saved.size() / 2);
            BoxAnswer answer {QString()};
            ok = ZyApp::instance()->saveProject(false, false, film);
            QCOMPARE(answer.text, QStringLiteral("titlebar.SaveProjectFail"));
            // The reason the message gives (it said "Unknown error").
            QString error;
            QVERIFY(!project::writeProject(film, *window()->projectSections(), project::ArchiveMark::None, false,
                                           &error));
            QVERIFY2(error.contains("File too large"), qPrintable(error));
        }
        QVERIFY(!ok);
        QCOMPARE(readFile(film), saved);
        QVERIFY(!zya::UndoController::instance()->isClean());
        QCOMPARE(QDir(dir).entryList({"full-disk.zya2.*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    // Where the project's own file cannot be written (a read-only or full
    // folder), the message offers another place, and the work is saved
    // there (Save only repeated the error).
    void aFailedSaveCanGoElsewhere() {
        const QString film = dir + "/stuck.zya2", other = dir + "/elsewhere.zya2";
        buildProject();
        writeFile(film, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, film));
        const QByteArray saved = readFile(film);
        ClassifyItem* video = tracks()->header(SourceVideo);
        tracks()->addTrack(video); // an edit
        const int rows = video->children().size();
        std::optional<korvel::test::FileSizeLimit> full(saved.size() / 2);
        QString told;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* files = qobject_cast<QFileDialog*>(modal)) {
                korvel::test::chooseInFileDialog(files, other);
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                told = box->text();
                full.reset(); // the other place has room
                for (QAbstractButton* b : box->buttons()) {
                    if (b->text() == QStringLiteral("titlebar.SaveElsewhere")) {
                        b->click();
                        return;
                    }
                }
                box->reject();
            }
        });
        driver.start(20);
        const bool ok = ZyApp::instance()->saveProject(false, false, film);
        driver.stop();
        QCOMPARE(told, QStringLiteral("titlebar.SaveProjectFail"));
        QVERIFY(ok);
        QCOMPARE(readFile(film), saved);
        QCOMPARE(ZyApp::instance()->currentProjectPath(), other);
        QVERIFY(zya::UndoController::instance()->isClean());
        ZyApp::instance()->clearProject();
        QVERIFY(ZyApp::instance()->openProject(other));
        QCOMPARE(tracks()->header(SourceVideo)->children().size(), rows);
    }

    // Each save keeps the file it replaces; the Works list offers those
    // versions, and one opens as a new, untitled project.
    void earlierVersionsAreKeptAndOpenAsNewProjects() {
        const QString film = dir + "/versions.zya2";
        buildProject();
        writeFile(film, QByteArray()); // an empty file is nothing to keep
        QVERIFY(ZyApp::instance()->saveProject(false, false, film));
        QCOMPARE(project::ProjectBackups::earlierVersions(film).size(), 0); // nothing was replaced
        const QByteArray first = readFile(film);
        const QDateTime firstSaved = QFileInfo(film).lastModified();
        const int firstAudioTracks = tracks()->header(SourceAudio)->children().size();
        for (int save = 0; save < 2; ++save) {
            QTest::qWait(5); // distinct stamps
            tracks()->addTrack(tracks()->header(SourceAudio));
            QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
        }
        // Saves of the same project again keep no copies of the same file.
        for (int save = 0; save < 2; ++save) {
            QTest::qWait(5);
            QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
        }
        const QList<project::EarlierVersion> versions = project::ProjectBackups::earlierVersions(film);
        QCOMPARE(versions.size(), 3);
        QCOMPARE(readFile(versions.last().path), first);
        QVERIFY(versions.first().saved >= versions.last().saved);
        // Named by when it was saved, not when a later save replaced it.
        QCOMPARE(versions.last().saved, firstSaved);

        // From the Works list's menu.
        HistoryListView* history = window()->resourceWidget()->historyList();
        const int row = history->paths().indexOf(film);
        QVERIFY(row >= 0);
        auto* menu = history->itemWidget(row)->findChild<QMenu*>("menu_earlierVersions");
        QVERIFY(menu);
        emit menu->aboutToShow();
        QCOMPARE(menu->actions().size(), 3);
        menu->actions().last()->trigger();
        QTRY_VERIFY(ZyApp::instance()->currentProjectPath().isEmpty());
        QCOMPARE(tracks()->header(SourceAudio)->children().size(), firstAudioTracks);
        QVERIFY(!zya::UndoController::instance()->isClean());
        QCOMPARE(readFile(versions.last().path), first);
        zya::UndoController::instance()->setClean();

        // Pruning: the newest ten, then the newest of each of the last seven days.
        const QString folder = project::ProjectBackups::folderFor(film);
        const QDateTime now = QDateTime::currentDateTime();
        QStringList expected;
        // Fourteen more today, just older than the three real ones: one a
        // millisecond, so that none falls on the day before even when the
        // test runs just after midnight.
        const QDateTime oldestReal = versions.last().saved;
        for (int i = 0; i < 14; ++i) {
            const QString name = oldestReal.addMSecs(-(i + 1)).toString("yyyyMMdd-HHmmss-zzz") + ".zya2";
            writeFile(folder + "/" + name, "x");
            if (i < 7) // with the three real ones: ten
                expected << name;
        }
        for (int day = 1; day <= 9; ++day) { // two on each earlier day
            for (int hour : {20, 9}) {
                const QDateTime at(now.date().addDays(-day), QTime(hour, 0));
                const QString name = at.toString("yyyyMMdd-HHmmss-zzz") + ".zya2";
                writeFile(folder + "/" + name, "x");
                if (day < project::ProjectBackups::kKeepDays && hour == 20)
                    expected << name;
            }
        }
        project::ProjectBackups::prune(film, now);
        QStringList kept;
        for (const project::EarlierVersion& v : project::ProjectBackups::earlierVersions(film))
            kept << QFileInfo(v.path).fileName();
        for (const project::EarlierVersion& v : versions)
            expected.prepend(QFileInfo(v.path).fileName());
        std::sort(expected.begin(), expected.end(), std::greater<QString>());
        QCOMPARE(kept, expected);
    }

    void aSaveThatCannotWriteTellsAndKeepsTheWork() {
        buildProject();
        const QString target = dir + "/no-such-folder/film.zya2";
        BoxAnswer answer {QString()};
        QVERIFY(!ZyApp::instance()->saveProject(false, true, target)); // an archive's project
        QCOMPARE(answer.text, QStringLiteral("archivedialog.ArchiveFail"));
        QVERIFY(!zya::UndoController::instance()->isClean());
        QVERIFY(!QFile::exists(target));
    }

    // Exports from the window run as child processes, one at a time, on a
    // copy of the project: the editor goes on (its timers fire, its project
    // stays as it was), a second export waits for the first, Cancel ends the
    // child and leaves nothing half-written, a child that cannot write or
    // that crashes is a failed job with its words (no progress window for
    // one that never wrote a frame), a finished one holds the picture asked
    // for and says so in the Jobs window, with its folder, and "Done" in the
    // progress window ends an export early, keeping what it wrote.
    void windowExportsRunInTheBackground() {
        ExportJobQueue* jobs = window()->exportJobs();
        JobsWindow* list = window()->jobsWindow();
        QStringList shown;
        list->setFolderOpener([&shown](const QString& path) {
            shown << path;
            return true;
        });
        jobs->setProgram(QStringLiteral(KORVEL_BINARY));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        jobs->setEnvironment(env);
        const QString folder = korvel::test::workFolder("jobs");
        bool progressShown = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&progressShown] {
            for (QWidget* w : QApplication::topLevelWidgets())
                progressShown |= w->objectName() == "ExportProcessDialog" && w->isVisible();
        });
        watch.start(5);
        auto build = [](int clips) {
            ZyApp::instance()->renderManager()->setSceneSize(320, 240, false);
            ClassifyItem* video = tracks()->header(SourceVideo);
            for (int i = 0; i < clips; ++i)
                video->addSource(tracks()->createFromMaterial(video, media("export-red-tone.mp4"), i * 60));
        };
        auto paramsFor = [](const QString& path) {
            MVParams params;
            exportfn::setExportPath(params, path);
            params.width = 160;
            params.height = 120;
            params.frameRate = 30;
            params.keyFrameInterval = 30;
            return params;
        };
        auto state = [jobs](int id) { return jobs->job(id) ? int(jobs->job(id)->state) : -1; };
        auto hidden = [&folder] { return QDir(folder).entryList(QDir::Files | QDir::Hidden); };

        // A folder that cannot be written: a failed job, said why; no progress window.
        build(1);
        MVParams nowhere = paramsFor(folder + "/no-such-folder/film.mp4");
        const int failing = window()->runExport(&nowhere);
        QVERIFY(failing > 0);
        QTRY_VERIFY_WITH_TIMEOUT(state(failing) == ExportJob::Failed, 120000);
        QVERIFY(!progressShown);
        QVERIFY(list->isVisible());
        QCOMPARE(list->note(), QStringLiteral("exportjobs.FailedNote")); // the test has no texts
        QCOMPARE(list->row(failing)->findChild<QLabel*>("label_name")->text(), QStringLiteral("film.mp4"));
        auto* failLog = list->row(failing)->findChild<QPlainTextEdit*>("log");
        QVERIFY(failLog->isVisible());
        QVERIFY2(failLog->toPlainText().contains("export:"), qPrintable(failLog->toPlainText()));
        QVERIFY(!QFile::exists(jobs->job(failing)->snapshot));

        // Twelve seconds, through the export window's own button.
        cleanup();
        build(6);
        const QString projectBefore = ZyApp::instance()->currentProjectPath();
        ExportParamWidget* settings = window()->exportWindow();
        settings->showForExport();
        settings->findChild<QLineEdit*>("lineEdit_path")->setText(folder + "/");
        settings->findChild<QLineEdit*>("lineEdit_name")->setText("long");
        settings->findChild<QRadioButton*>("radioButton_resolution_custom")->setChecked(true);
        settings->findChild<QSpinBox*>("spinBox_width")->setValue(160);
        settings->findChild<QSpinBox*>("spinBox_height")->setValue(120);
        QTest::mouseClick(settings->findChild<QPushButton*>("pushButton_export"), Qt::LeftButton);
        const int longJob = jobs->jobs().last().id;
        QCOMPARE(QFileInfo(jobs->job(longJob)->output).fileName(), QStringLiteral("long.mp4"));
        // The editor is free at once: the next project, and its export, wait for nothing.
        cleanup();
        build(2);
        MVParams red = paramsFor(folder + "/red.mp4");
        const int redJob = window()->runExport(&red);
        QCOMPARE(state(longJob), int(ExportJob::Running));
        QCOMPARE(state(redJob), int(ExportJob::Queued));
        QCOMPARE(ZyApp::instance()->currentProjectPath(), projectBefore);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ticks += state(longJob) == ExportJob::Running; });
        ticker.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(jobs->job(longJob)->done > 0 && ticks >= 5, 120000);
        // Nothing holds the editor: the settings window has gone, the progress window is not modal.
        QVERIFY(!settings->isVisible());
        QVERIFY(window()->exportProgress());
        QCOMPARE(window()->exportProgress()->windowModality(), Qt::NonModal);
        QVERIFY(jobs->job(longJob)->total > jobs->job(longJob)->done);
        QCOMPARE(state(redJob), int(ExportJob::Queued));

        // Closing the editor now asks first; keeping it open keeps the exports.
        int asked = 0;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&asked] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->objectName() != "jobsRunningMessage" || !w->isVisible())
                    continue;
                for (QPushButton* b : w->findChildren<QPushButton*>()) {
                    if (b->text() == "exportjobs.KeepOpen" && !asked++)
                        QTimer::singleShot(0, b, &QPushButton::click);
                }
            }
        });
        answer.start(20);
        QVERIFY(!window()->close());
        answer.stop();
        QCOMPARE(asked, 1);
        QVERIFY(window()->isVisible());
        QCOMPARE(state(longJob), int(ExportJob::Running));

        // Cancel from the Jobs window: the child ends, nothing is left of long.mp4.
        window()->showJobs();
        QTest::mouseClick(list->row(longJob)->findChild<QPushButton*>("pushButton_cancel"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(state(longJob) == ExportJob::Cancelled, 30000);
        QVERIFY2(!hidden().join(' ').contains("long"), qPrintable(hidden().join(' ')));

        // Then the queued one runs, to the end; the progress window follows
        // it (the export asked for last) and goes when it has ended.
        QTRY_VERIFY_WITH_TIMEOUT(state(redJob) == ExportJob::Done, 180000);
        QVERIFY(progressShown);
        QVERIFY(!window()->exportProgress());
        QCOMPARE(hidden(), QStringList {"red.mp4"});
        QCOMPARE(list->note(), QStringLiteral("exportjobs.FinishedNote"));
        QPushButton* open = list->row(redJob)->findChild<QPushButton*>("pushButton_openFolder");
        QVERIFY(open->isVisible());
        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(shown, QStringList {folder + "/red.mp4"});
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-i", folder + "/red.mp4", "-vf", "select=eq(n\\,75)",
                                "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
        QVERIFY(ffmpeg.waitForFinished(60000));
        const QByteArray frame = ffmpeg.readAllStandardOutput();
        QCOMPARE(frame.size(), 160 * 120 * 3);
        const int at = (60 * 160 + 80) * 3;
        QVERIFY2(uchar(frame[at]) > 200 && uchar(frame[at + 1]) < 60 && uchar(frame[at + 2]) < 60,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(uchar(frame[at])).arg(uchar(frame[at + 1])).arg(uchar(frame[at + 2]))));
        QCOMPARE(jobs->pending(), 0);

        // "Done" in the progress window ends the export early: the file is
        // whole, plays to its end and holds the frames written until then.
        cleanup();
        build(20);
        MVParams early = paramsFor(folder + "/early.mp4");
        const int earlyJob = window()->runExport(&early);
        QTRY_VERIFY_WITH_TIMEOUT(jobs->job(earlyJob)->done >= 30 && window()->exportProgress() &&
                                     window()->exportProgress()->isVisible(),
                                 120000);
        const int64_t pressedAt = jobs->job(earlyJob)->done, total = jobs->job(earlyJob)->total;
        QTest::mouseClick(window()->exportProgress()->findChild<QPushButton*>("pushButton_acheive"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(jobs->job(earlyJob)->ended(), 60000);
        QVERIFY2(state(earlyJob) == ExportJob::Done,
                 qPrintable(jobs->job(earlyJob)->reason + "\n" + jobs->job(earlyJob)->logTail()));
        QVERIFY2(jobs->job(earlyJob)->log.contains("finished early"), jobs->job(earlyJob)->log.right(400).constData());
        QProcess probe;
        probe.start("ffmpeg",
                    {"-nostdin", "-v", "error", "-i", folder + "/early.mp4", "-map", "0:v", "-f", "framemd5", "-"});
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.readAllStandardError(), QByteArray());
        const int frames = int(probe.readAllStandardOutput().count("\n0,"));
        QVERIFY2(frames >= pressedAt && frames < total,
                 qPrintable(QStringLiteral("%1 frames; Done at %2 of %3").arg(frames).arg(pressedAt).arg(total)));
        QCOMPARE(hidden(), (QStringList {"early.mp4", "red.mp4"}));
        // The Jobs window says it was cut short, and its bar stops there.
        QCOMPARE(list->note(), QStringLiteral("exportjobs.FinishedEarlyNote"));
        QVERIFY(list->row(earlyJob)->findChild<QProgressBar*>("progressBar")->value() <
                list->row(earlyJob)->findChild<QProgressBar*>("progressBar")->maximum());

        // A child that crashes is a failed job with its log; the editor lives on.
        cleanup();
        build(6);
        MVParams crashing = paramsFor(folder + "/crash.mp4");
        const int crashJob = window()->runExport(&crashing);
        QTRY_VERIFY_WITH_TIMEOUT(jobs->job(crashJob)->done > 0, 120000);
        ::kill(pid_t(jobs->job(crashJob)->pid), SIGABRT);
        QTRY_VERIFY_WITH_TIMEOUT(state(crashJob) == ExportJob::Failed, 30000);
        QVERIFY(list->row(crashJob)->findChild<QPlainTextEdit*>("log")->isVisible());
        QVERIFY(!jobs->job(crashJob)->reason.isEmpty());
        QCOMPARE(hidden(), (QStringList {"early.mp4", "red.mp4"}));
        QVERIFY(window()->isVisible());
    }

    // A failed job gives the export's own reason, not its exit status, also
    // when debug lines follow it.
    void aFailedJobSaysWhy() {
        const QString folder = korvel::test::workFolder("failing-job");
        const QString fake = fakeKorvel(folder, "#!/bin/sh\necho 'export: failed: the disk may be full' >&2\necho 'a debug line' >&2\nexit 1\n");
        QVERIFY(!fake.isEmpty());
        ExportJobQueue queue;
        queue.setProgram(fake);
        const QString snapshot = queue.newSnapshotPath();
        writeFile(snapshot, "<Tamsel/>");
        const int id = queue.add(snapshot, folder + "/out.mp4", {});
        QTRY_VERIFY_WITH_TIMEOUT(queue.job(id)->ended(), 30000);
        QCOMPARE(queue.job(id)->state, ExportJob::Failed);
        QCOMPARE(queue.job(id)->reason, QStringLiteral("the disk may be full"));
    }

    // The subtitles an export writes beside its movie are its file too: a
    // second export of that name to another type would replace them.
    void aJobsSubtitlesAreItsFileToo() {
        const QString folder = korvel::test::workFolder("subtitled-job");
        const QString fake = fakeKorvel(folder, "#!/bin/sh\nsleep 60\n");
        QVERIFY(!fake.isEmpty());
        ExportJobQueue queue;
        queue.setProgram(fake);
        const QString snapshot = queue.newSnapshotPath();
        writeFile(snapshot, "<Tamsel/>");
        queue.add(snapshot, folder + "/film.mp4", {"--srt"});
        queue.add(queue.newSnapshotPath(), folder + "/plain.mp4", {});
        QVERIFY(queue.writesTo(folder + "/film.srt"));
        QVERIFY(queue.writesTo(folder + "/film.mp4"));
        QVERIFY(!queue.writesTo(folder + "/plain.srt"));
        queue.cancelAll();
    }

    // "Open folder" of an export moved away since says so and opens the
    // folder it was written to.
    void anExportMovedAwayOpensItsFolder() {
        const QString folder = korvel::test::workFolder("moved-export");
        const QString fake = fakeKorvel(folder, "#!/bin/sh\necho film > \"$3\"\n");
        QVERIFY(!fake.isEmpty());
        ExportJobQueue queue;
        queue.setProgram(fake);
        JobsWindow list(&queue, nullptr);
        QStringList opened;
        list.setFolderOpener([&opened](const QString& path) {
            opened << path;
            return true;
        });
        const QString snapshot = queue.newSnapshotPath();
        writeFile(snapshot, "<Tamsel/>");
        const int id = queue.add(snapshot, folder + "/film.mp4", {});
        QTRY_COMPARE_WITH_TIMEOUT(queue.job(id)->state, ExportJob::Done, 30000);
        QVERIFY(QFile::remove(folder + "/film.mp4"));
        list.row(id)->findChild<QPushButton*>("pushButton_openFolder")->click();
        QCOMPARE(opened, QStringList {folder});
        auto* told = list.findChild<QMessageBox*>("fileGoneMessage");
        QVERIFY(told);
        QVERIFY(told->text().startsWith("exportjobs.FileGone"));
    }

    void closingCanBeCancelled() {
        buildProject();
        BoxAnswer cancel("titlebar.Cancel");
        QVERIFY(!window()->close());
        QVERIFY(window()->isVisible());
        QVERIFY(!zya::UndoController::instance()->isClean());
        QCOMPARE(tracks()->allSources().size(), 8);
    }

    void longNamesAreElided() {
        const QString name(300, QLatin1Char('n'));
        window()->showProjectName(name, true);
        QLabel* label = window()->projectNameLabel();
        QVERIFY(label->text().endsWith(QChar(0x2026)));
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= 500 * QssManager::dpiScale());
        const QString cut = label->text();
        window()->showProjectName("film.zya2 saved", false);
        QCOMPARE(label->text(), QStringLiteral("film.zya2 saved"));
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), cut, 3000);
    }

    // A project with a name as long as the file system takes (here 245
    // bytes) saves, and gets its automatic copies, whose names are longer
    // still, cut to fit: neither could be written.
    void aLongProjectNameSavesAndIsCopied() {
        buildProject();
        const QString film = dir + "/" + QString(240, QLatin1Char('L')) + ".zya2";
        writeFile(film, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, film));
        QVERIFY(readFile(film).startsWith("<Tamsel"));
        tracks()->addTrack(tracks()->header(SourceAudio));
        QVERIFY(ZyApp::instance()->saveProject(true, false, QString()));
        const QString copy = project::autoSavePath(film);
        QVERIFY(QFileInfo(copy).fileName().toUtf8().size() <= 255);
        QVERIFY(readFile(copy).startsWith("<Tamsel"));
        QVERIFY(QFileInfo(project::autoSaveFallbackPath(film)).fileName().toUtf8().size() <= 255);
        QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
        QVERIFY(!QFile::exists(copy));
    }

    // The project the command-line export cases share, saved once.
    QString cliProject() {
        const QString project = dir + "/cli.zya2";
        if (!QFile::exists(project)) {
            buildProject();
            writeFile(project, QByteArray());
            if (!ZyApp::instance()->saveProject(false, false, project))
                return QString();
            QDir().mkpath(dir + "/cli");
        }
        return project;
    }

    void commandLineExport_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("written");
        const QString out = dir + "/cli/out.mp4";
        QTest::newRow("written") << QStringList {dir + "/cli.zya2", out, "--fps", "15", "--size", "320x180"} << 0
                                 << true;
        QTest::newRow("sound only") << QStringList {dir + "/cli.zya2", dir + "/cli/out.mp3"} << 0 << true;
        QTest::newRow("impossible rate") << QStringList {dir + "/cli.zya2", out, "--fps", "99"} << 2 << false;
        QTest::newRow("unknown option") << QStringList {dir + "/cli.zya2", out, "--colour", "red"} << 2 << false;
        // Said as unknown, not as wanting a value.
        QTest::newRow("unknown option last") << QStringList {dir + "/cli.zya2", out, "--colour"} << 2 << false;
        QTest::newRow("output type not offered") << QStringList {dir + "/cli.zya2", dir + "/cli/out.mkv"} << 2 << false;
        QTest::newRow("no project") << QStringList {dir + "/none.zya2", out} << 2 << false;
        QTest::newRow("unwritable output") << QStringList {dir + "/cli.zya2", dir + "/no-folder/out.mp4"} << 1
                                           << false;
        // Within the command line's sizes, beyond what the .avi encoder takes.
        QTest::newRow("size the encoder refuses")
            << QStringList {dir + "/cli.zya2", dir + "/cli/out.avi", "--size", "8192x16", "--to", "5"} << 1 << false;
        QTest::newRow("negative from") << QStringList {dir + "/cli.zya2", out, "--from", "-1"} << 2 << false;
        QTest::newRow("from not a number") << QStringList {dir + "/cli.zya2", out, "--from", "1e2"} << 2 << false;
        QTest::newRow("empty part") << QStringList {dir + "/cli.zya2", out, "--from", "100", "--to", "100"} << 2
                                    << false;
        QTest::newRow("from past the end") << QStringList {dir + "/cli.zya2", out, "--from", "100000"} << 2 << false;
        QTest::newRow("video only to sound")
            << QStringList {dir + "/cli.zya2", dir + "/cli/out.wav", "--video-only"} << 2 << false;
        QTest::newRow("audio only to a movie") << QStringList {dir + "/cli.zya2", out, "--audio-only"} << 2 << false;
    }
    void commandLineExport() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(bool, written);
        QVERIFY(!cliProject().isEmpty());
        // A pending recovery of the editor's, and its Works list: a scripted
        // export touches neither.
        const QString pending = dir + "/~temp_pending.zya2";
        writeFile(pending, "<Tamsel/>");
        bg::iface()->configSet("autoSavePath", pending.toStdString());
        QVERIFY(bg::iface()->configSave());
        const QString ini = qEnvironmentVariable("KORVEL_CONFIG_DIR") + "/korvel.ini";
        const QVariant history = QSettings(ini, QSettings::IniFormat).value("work.history");
        QProcess korvel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        korvel.setProcessEnvironment(env);
        korvel.start(QStringLiteral(KORVEL_BINARY), QStringList {"--export"} + arguments);
        QVERIFY(korvel.waitForFinished(120000));
        const QByteArray said = korvel.readAllStandardError();
        QVERIFY2(korvel.exitCode() == status, said.right(400).constData());
        {
            const QSettings after(ini, QSettings::IniFormat);
            QCOMPARE(after.value("autoSavePath").toString(), pending);
            QCOMPARE(after.value("work.history"), history);
            QVERIFY(QFile::exists(pending));
        }
        bg::iface()->configSet("autoSavePath", "");
        bg::iface()->configSave();
        const QString output = arguments.at(1);
        QCOMPARE(QFileInfo(output).size() > 0, written);
        if (written) {
            QVERIFY(said.contains("export: wrote"));
            const std::shared_ptr<ff::MovieCtx> movie = ff::getMovieInfo(output.toUtf8().constData(), nullptr);
            QVERIFY(movie);
            QCOMPARE(movie->videoStreams, output.endsWith(".mp3") ? 0 : 1);
            QCOMPARE(movie->audioStreams, 1);
            QVERIFY(movie->durationUs > 2000000);
            if (movie->videoStreams > 0) {
                // The picture, not only the stream: the first clip's colour
                // pattern is on screen at half a second, not a black frame.
                const QImage frame = korvel::test::decodeFrame(output, 15);
                QCOMPARE(frame.size(), QSize(320, 180));
                QSet<QRgb> colours;
                for (int y = 0; y < frame.height(); y += 6)
                    for (int x = 0; x < frame.width(); x += 6)
                        colours.insert(frame.pixel(x, y) & 0xf0f0f0);
                QVERIFY2(colours.size() > 20, qPrintable(QString::number(colours.size())));
            }
            QFile::remove(output);
        } else {
            QVERIFY2(said.contains("export: ") || said.contains("usage") || said.contains("not usable") ||
                         said.contains("unknown option") || said.contains("the output must end in") ||
                         said.contains("must lie after") || said.contains("-only needs"),
                     said.constData());
            // The system's reason comes along, in the line that says it failed.
            if (QString(QTest::currentDataTag()) == QLatin1String("unwritable output")) {
                const int at = said.indexOf("export: failed:");
                QVERIFY2(at >= 0 && said.mid(at, said.indexOf('\n', at) - at).contains("No such file or directory"),
                         said.right(400).constData());
            }
        }
    }

    // What an export must not harm: a media file the project reads given as
    // the output, an old output when the hidden name does not fit, the old
    // output's access rights. Hidden files of killed exports are cleared,
    // and media that exist but read as nothing are refused, not exported as
    // black holes.
    // The editor's background export ends with the editor, even one killed
    // outright: nobody would see it, and it writes nothing (it ran on to the
    // end). A shell stands in for the editor that starts it.
    void aBackgroundExportEndsWithItsEditor() {
        ZyApp::instance()->clearProject();
        SourceData* still = addPictureClip("orphan", QColor(0, 128, 255));
        QVERIFY(still && tracks()->trimSource(still, 0, 20000, 0)); // long enough to be caught running
        const QString project = dir + "/orphan.zya2", out = dir + "/orphan.mp4";
        writeFile(project, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        QProcess editor;
        editor.start("bash", {"-c", "KORVEL_EDITOR_PID=$$ \"$0\" --export \"$1\" \"$2\" --size 160x90 --progress & wait",
                              KORVEL_BINARY, project, out});
        QVERIFY(editor.waitForStarted(10000));
        QByteArray progress;
        QTRY_VERIFY_WITH_TIMEOUT((progress += editor.readAllStandardOutput()).contains("progress"), 60000);
        editor.kill();
        QVERIFY(editor.waitForFinished(10000));
        const auto exporting = [&out]() {
            for (const QString& pid : QDir("/proc").entryList(QDir::Dirs))
                if (pid.toInt() > 0) {
                    QFile cmdline("/proc/" + pid + "/cmdline");
                    if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(out.toLocal8Bit()))
                        return true;
                }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(!exporting(), 60000);
        QVERIFY(!QFile::exists(out));
        QCOMPARE(QDir(dir).entryList({".orphan*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    // Started with its standard output and error closed (by a script or a
    // service), the export writes its film and ends, the display open or not.
    void anExportWithItsOutputsClosedEnds() {
        QVERIFY(!cliProject().isEmpty());
        const QString out = dir + "/cli/closed.mp4";
        QByteArray said;
        QCOMPARE(korvel::test::runProgram("bash",
                                          {"-c", "exec \"$0\" --export \"$1\" \"$2\" --size 160x90 >&- 2>&-",
                                           KORVEL_BINARY, dir + "/cli.zya2", out},
                                          &said, 120000),
                 0);
        QVERIFY(QFileInfo(out).size() > 1000);
    }

    void commandLineExportLeavesWhatItWouldHarmWhole() {
        const QString folder = dir + "/guard";
        QDir().mkpath(folder);
        const QString clip = folder + "/clip.mp4";
        QVERIFY(QFile::copy(media("export-blue.mp4"), clip));
        buildEmptyProjectWith(clip);
        const QString project = folder + "/guard.zya2";
        writeFile(project, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        const QByteArray source = readFile(clip);
        auto run = [&](const QString& output, QByteArray* said) {
            return korvel::test::runProgram(KORVEL_BINARY, {"--export", project, output, "--size", "160x90"}, said,
                                            120000);
        };
        QByteArray said;
        QCOMPARE(run(folder + "/./clip.mp4", &said), 2);
        QVERIFY2(said.contains("is read by the project"), said.right(300).constData());
        QCOMPARE(readFile(clip), source);
        // Nor through the subtitles written beside it: a link of their name
        // to the project file.
        const QByteArray projectText = readFile(project);
        QVERIFY(QFile::link(project, folder + "/linked.srt"));
        said.clear();
        QCOMPARE(korvel::test::runProgram(KORVEL_BINARY, {"--export", project, folder + "/linked.mp4", "--srt"}, &said,
                                          120000),
                 2);
        QVERIFY2(said.contains("where --srt writes, is read by the project"), said.right(300).constData());
        QCOMPARE(readFile(project), projectText);
        // A folder in the output's place is refused before any frame is made.
        QVERIFY(QDir().mkpath(folder + "/taken.mp4"));
        QCOMPARE(run(folder + "/taken.mp4", &said), 2);
        QVERIFY2(said.contains("is a folder") && !said.contains("export: 100"), said.right(300).constData());

        const QString out = folder + "/out.mp4", leftover = folder + "/.out.korvel-4194303.mp4";
        writeFile(out, "the old film");
        QVERIFY(QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner));
        writeFile(leftover, "half a film");
        {
            QFile old(leftover); // killed an hour ago
            QVERIFY(old.open(QIODevice::ReadWrite));
            QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }
        QCOMPARE(run(out, &said), 0);
        QVERIFY(readFile(out).size() > 1000);
        const QFile::Permissions rights = QFile::permissions(out);
        // A reader of the progress that goes away does not end the export;
        // the status is korvel's: head reads one line and leaves.
        QCOMPARE(korvel::test::runProgram(
                     "bash",
                     {"-c",
                      "set -o pipefail; \"$0\" --export \"$1\" \"$2\" --size 160x90 --progress | head -n 1 >/dev/null",
                      QStringLiteral(KORVEL_BINARY), project, folder + "/piped.mp4"},
                     &said, 120000),
                 0);
        QVERIFY(readFile(folder + "/piped.mp4").size() > 1000);
        QVERIFY(rights.testFlag(QFile::ReadOwner) && rights.testFlag(QFile::WriteOwner));
        QVERIFY(!(rights & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther)));
        QVERIFY(!QFile::exists(leftover));

        QString deep = folder;
        while (deep.toUtf8().size() < 470)
            deep += "/" + QString(60, QLatin1Char('d'));
        QVERIFY(QDir().mkpath(deep));
        const QString far = deep + "/" + QString(qMax(1, 505 - int(deep.toUtf8().size())), QLatin1Char('f')) + ".mp4";
        writeFile(far, "the old film");
        QCOMPARE(run(far, &said), 1);
        QVERIFY2(said.contains("too long"), said.right(300).constData());
        QCOMPARE(readFile(far), QByteArray("the old film"));

        writeFile(clip, "not a movie");
        QCOMPARE(run(out, &said), 2);
        QVERIFY2(said.contains("cannot be read") && said.contains(clip.toUtf8()), said.right(300).constData());
    }

    // A part of the export (--from/--to), its pictures alone and its sound
    // alone hold what the whole export holds at the same instants.
    void commandLinePartsMatchTheWholeExport() {
        const QString project = cliProject();
        QVERIFY(!project.isEmpty());
        const QString folder = korvel::test::workFolder("parts");
        auto exportTo = [&](const QString& name, const QStringList& options) {
            QByteArray said;
            const QString output = folder + "/" + name;
            const int status = korvel::test::runProgram(KORVEL_BINARY, QStringList {"--export", project, output} +
                                                                           options, &said);
            return status == 0 ? output : QString::fromUtf8(said.right(400));
        };
        // Near-lossless pictures, so that two encodings of one picture agree.
        const QStringList look {"--size", "320x180", "--bitrate", "8000"};
        const QString whole = exportTo("whole.mp4", look);
        const QString part = exportTo("part.mp4", look + QStringList {"--from", "90", "--to", "180"});
        const QString silent = exportTo("silent.mp4", look + QStringList {"--from", "90", "--to", "180", "--video-only"});
        for (const QString& file : {whole, part, silent})
            QVERIFY2(QFile::exists(file), qPrintable(file));
        QCOMPARE(korvel::test::frameTimes(part).size(), 90);
        QCOMPARE(korvel::test::frameTimes(silent).size(), 90);
        QCOMPARE(korvel::test::frameTimes(part).first(), 0.0);
        // Frame by frame: the part against frames 90..179 of the whole.
        auto psnr = [&](const QString& ours, const QString& reference, int from) {
            QTemporaryDir temp;
            const QString stats = temp.path() + "/psnr.txt";
            QString error;
            const bool ran = korvel::test::runFfmpeg(
                {"-i", ours, "-i", reference, "-lavfi",
                 QStringLiteral("[0:v]setpts=N/30/TB[a];[1:v]trim=start_frame=%1:end_frame=%2,setpts=N/30/TB[b];"
                                "[a][b]psnr=stats_file=%3")
                     .arg(from)
                     .arg(from + 90)
                     .arg(stats),
                 "-f", "null", "-"},
                &error);
            QVector<double> values;
            QFile f(stats);
            if (ran && f.open(QIODevice::ReadOnly)) {
                static const QRegularExpression y(QStringLiteral("psnr_y:(\\S+)"));
                for (const QByteArray& line : f.readAll().split('\n')) {
                    const QRegularExpressionMatch m = y.match(QString::fromLatin1(line));
                    if (m.hasMatch())
                        values << (m.captured(1) == "inf" ? 100.0 : m.captured(1).toDouble());
                }
            }
            return values;
        };
        for (const auto& pair : {std::make_pair(part, whole), std::make_pair(silent, part)}) {
            const QVector<double> values = psnr(pair.first, pair.second, pair.first == part ? 90 : 0);
            QCOMPARE(values.size(), 90);
            for (int i = 0; i < values.size(); ++i)
                QVERIFY2(values[i] >= 45.0, qPrintable(QStringLiteral("%1 frame %2: %3 dB")
                                                           .arg(QFileInfo(pair.first).fileName())
                                                           .arg(i)
                                                           .arg(values[i])));
        }
        const std::shared_ptr<ff::MovieCtx> movie = ff::getMovieInfo(silent.toUtf8().constData(), nullptr);
        QVERIFY(movie);
        QCOMPARE(movie->videoStreams, 1);
        QCOMPARE(movie->audioStreams, 0);

        // The sound alone, lossless: the part's samples are the whole's.
        const QString wholeSound = exportTo("whole.wav", {});
        const QString partSound = exportTo("part.flac", {"--audio-only", "--from", "90", "--to", "180"});
        for (const QString& file : {wholeSound, partSound})
            QVERIFY2(QFile::exists(file), qPrintable(file));
        auto samples = [](const QString& file) {
            QProcess ffmpeg;
            ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-f", "s16le", "-"});
            ffmpeg.waitForFinished(60000);
            return ffmpeg.readAllStandardOutput();
        };
        const QByteArray all = samples(wholeSound), some = samples(partSound);
        const int bytesPerFrame = 44100 / 30 * 4;
        QCOMPARE(some.size(), 90 * bytesPerFrame);
        // Exactly the timeline's sound: no padding after its end.
        QCOMPARE(all.size(), korvel::test::frameTimes(whole).size() * bytesPerFrame);
        QVERIFY2(some == all.mid(90 * bytesPerFrame, 90 * bytesPerFrame), "the part's sound differs");
        // Not silence that matches silence: the project's tone sounds there.
        int loud = 0;
        for (int i = 0; i + 1 < some.size(); i += 2)
            loud = std::max(loud, std::abs(int(int16_t(uint8_t(some[i]) | uint8_t(some[i + 1]) << 8))));
        QVERIFY2(loud > 1000, qPrintable(QString::number(loud)));

        // The part's subtitles: the title (frames 3 to 63) cut to the part
        // [30, 90) and timed from its start.
        const QString titled = exportTo("titled.mp3", {"--from", "30", "--to", "90", "--srt"});
        QVERIFY2(QFile::exists(titled), qPrintable(titled));
        const QByteArray srt = readFile(folder + "/titled.srt");
        QVERIFY2(srt.startsWith("1\r\n00:00:00,000 --> 00:00:01,100\r\nHello"), srt.constData());
    }

    // A sound export finished early (SIGUSR1, the progress window's "Done")
    // writes the subtitles of the sound written, not of the whole timeline.
    void aSoundExportFinishedEarlyKeepsItsSubtitlesToIt() {
        TimeLineTreeModel* m = tracks();
        ClassifyItem* music = m->header(SourceAudio);
        for (int64_t at = 0; at < 36000; at = music->sources().last()->endFrame())
            music->addSource(m->createFromMaterial(music, media("tone-long.mp3"), at));
        ClassifyItem* titles = m->header(SourceSubtitle);
        titles->addSource(m->createSubtitle(titles, 3, 60, "Early", QFont("Sans", 40), Qt::white));
        titles->addSource(m->createSubtitle(titles, 33000, 60, "Late", QFont("Sans", 40), Qt::white));
        const QString folder = korvel::test::workFolder("early-sound");
        const QString project = folder + "/long.zya2";
        writeFile(project, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        QByteArray said;
        // Finished as soon as it says it has written something.
        const int status = korvel::test::runProgram(
            "bash",
            {"-c", "exec 3< <(\"$0\" --export \"$1\" \"$2\" --srt --progress); pid=$!; while read -r _ done _ <&3 && [ \"$done\" -le 0 ]; do :; done; "
                   "kill -USR1 $pid; cat <&3 >/dev/null; wait $pid",
             QStringLiteral(KORVEL_BINARY), project, folder + "/early.mp3"},
            &said);
        QCOMPARE(status, 0);
        QVERIFY2(said.contains("finished early"), said.right(400).constData());
        const QByteArray srt = readFile(folder + "/early.srt");
        QVERIFY2(srt.contains("Early") && !srt.contains("Late"), srt.constData());
    }

    // One output picture may stand for more timeline frames than the sound
    // may trail the pictures by (30 at 1 fps, 120 at 1 fps played 4 times
    // as fast): the export still ends, one picture per output frame, also
    // where the last picture reaches past the timeline's end.
    void commandLineExportAtLowRates_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("fps");
        QTest::newRow("1 fps") << QStringList {"--fps", "1"} << 1;
        QTest::newRow("2 fps") << QStringList {"--fps", "2"} << 2;
        QTest::newRow("1 fps, 4 times as fast") << QStringList {"--fps", "1", "--speed", "4"} << 1;
    }
    void commandLineExportAtLowRates() {
        QFETCH(QStringList, options);
        QFETCH(int, fps);
        ClassifyItem* video = tracks()->header(SourceVideo);
        SourceData* clip = tracks()->createFromMaterial(video, media("h264-30fps.mp4"), 0);
        video->addSource(clip);
        // Not a whole number of seconds: the last picture outlasts the sound.
        QVERIFY(tracks()->trimSource(clip, 0, 61, 0));
        const QString project = dir + "/low-rate.zya2";
        writeFile(project, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        const QString output = korvel::test::workFolder("low-rate") + "/out.mp4";
        QByteArray said;
        const int status = korvel::test::runProgram(KORVEL_BINARY, QStringList {"--export", project, output} + options,
                                                    &said, 60000);
        QVERIFY2(status == 0, said.right(400).constData());
        QCOMPARE(korvel::test::frameTimes(output).size(), int(exportfn::outputFrameCount(61, fps)));
    }

    // Ctrl+C, a logout or a kill stops a scripted export at once; what was
    // at the output before is kept and nothing half-written is left.
    void commandLineExportStopsOnASignal_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void commandLineExportStopsOnASignal() {
        QFETCH(int, signal);
        const QString project = dir + "/signal.zya2";
        if (!QFile::exists(project)) {
            ClassifyItem* video = tracks()->header(SourceVideo);
            // Long enough that the signal comes while it exports.
            for (int i = 0; i < 8; ++i)
                video->addSource(tracks()->createFromMaterial(video, media("h264-30fps.mp4"), i * 90));
            writeFile(project, QByteArray());
            QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        }
        const QString folder = korvel::test::workFolder(QStringLiteral("signal-%1").arg(signal));
        const QString output = folder + "/out.mp4";
        writeFile(output, "an earlier export");
        QProcess korvel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        korvel.setProcessEnvironment(env);
        korvel.start(QStringLiteral(KORVEL_BINARY), {"--export", project, output});
        QVERIFY(korvel.waitForStarted());
        // Once the progress shows, the export is under way.
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += korvel.readAllStandardError()).contains("%"), 60000);
        ::kill(pid_t(korvel.processId()), signal);
        QVERIFY(korvel.waitForFinished(30000));
        said += korvel.readAllStandardError();
        QCOMPARE(korvel.exitStatus(), QProcess::NormalExit);
        QVERIFY2(korvel.exitCode() == 128 + signal, said.right(400).constData());
        QVERIFY(said.contains("stopped by signal"));
        QCOMPARE(readFile(output), QByteArray("an earlier export"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList {"out.mp4"});
    }

    // A media file that blocks when opened (here a pipe standing where the
    // clip's file was; a hung network share acts alike) is refused with a
    // log line, and the editor still ends when asked.
    void mediaThatBlocksDoesNotHoldTheEditor() {
        const QString clip = dir + "/blocking.mp4";
        QFile::remove(clip);
        QVERIFY(QFile::copy(media("h264-30fps.mp4"), clip));
        library()->AddMaterialFiles({clip}, false);
        ClassifyItem* video = tracks()->header(SourceVideo);
        video->addSource(tracks()->createFromMaterial(video, clip, 0));
        const QString project = dir + "/blocking.zya2";
        writeFile(project, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        QVERIFY(QFile::remove(clip));
        QCOMPARE(::mkfifo(QFile::encodeName(clip).constData(), 0600), 0);

        QProcess korvel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        env.insert("KORVEL_CONFIG_DIR", korvel::test::workFolder("blocking-config"));
        env.insert("USER", QStringLiteral("korvel-blocking-%1").arg(getpid()));
        korvel.setProcessEnvironment(env);
        korvel.start(QStringLiteral(KORVEL_BINARY), {project});
        QVERIFY(korvel.waitForStarted());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += korvel.readAllStandardError()).contains("not a regular file"), 60000);
        ::kill(pid_t(korvel.processId()), SIGTERM);
        QVERIFY2(korvel.waitForFinished(30000), said.right(2000).constData());
        QCOMPARE(korvel.exitStatus(), QProcess::NormalExit);
        QFile::remove(clip);
    }

    // Ctrl+Z undoes; Ctrl+Y and Ctrl+Shift+Z, as most Linux programs have
    // it, redo.
    void undoAndRedoKeys() {
        for (int i = 0; i < 10 && QApplication::activeModalWidget(); ++i)
            QApplication::activeModalWidget()->hide();
        window()->raise();
        ClassifyItem* audio = tracks()->header(SourceAudio);
        const int before = audio->children().size();
        tracks()->addTrack(audio);
        auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers) {
            QApplication::setActiveWindow(window());
            QTest::keyClick(window(), key, modifiers);
        };
        press(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(audio->children().size(), before);
        press(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(audio->children().size(), before + 1);
        press(Qt::Key_Z, Qt::ControlModifier);
        press(Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(audio->children().size(), before + 1);
        // While the user types, the keys undo and redo the typing, never
        // the timeline (Ctrl+Y redid the undone track, Ctrl+B split a clip).
        press(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(audio->children().size(), before);
        QLineEdit field(window());
        field.show();
        QApplication::setActiveWindow(window());
        field.setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), &field);
        QTest::keyClicks(&field, "ab");
        QTest::keyClick(&field, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(field.text(), QString());
        QTest::keyClick(&field, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(field.text(), QString("ab"));
        QCOMPARE(audio->children().size(), before);
        // A field with nothing of its own to undo (a panel value confirmed
        // by Tab) leaves Ctrl+Z to the timeline.
        tracks()->addTrack(audio);
        QTest::keyClick(&field, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(field.text(), QString());
        QCOMPARE(audio->children().size(), before + 1);
        QTest::keyClick(&field, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(audio->children().size(), before);
    }

    // Home and End go to the timeline's first and last frame, Up and Down to
    // the clip edge before or after the play head; in a number field Up
    // and Down keep changing the number.
    void homeEndUpAndDownMoveThePlayHead() {
        ZyApp::instance()->clearProject();
        SourceData* first = addPictureClip("jump-first", QColor(255, 0, 0));
        SourceData* second = addPictureClip("jump-second", QColor(0, 0, 255));
        QVERIFY(first && second);
        QVERIFY(tracks()->trimSource(second, 90, 60, 0));
        QVERIFY(tracks()->trimSource(first, 10, 50, 0));
        QCOMPARE(first->startFrame(), int64_t(10));
        QCOMPARE(second->startFrame(), int64_t(90));
        TimeLineGraphicsView* view = window()->timelineWidget()->view();
        QTRY_COMPARE(view->totalFrames(), int64_t(150));
        window()->raise();
        auto press = [](Qt::Key key) {
            QApplication::setActiveWindow(window());
            QTest::keyClick(window(), key);
        };
        press(Qt::Key_End);
        QCOMPARE(view->playHeadFrame(), int64_t(149));
        QList<int64_t> visited;
        for (int i = 0; i < 5; ++i) {
            press(Qt::Key_Up);
            visited << view->playHeadFrame();
        }
        QCOMPARE(visited, (QList<int64_t> {90, 60, 10, 0, 0}));
        press(Qt::Key_Down);
        press(Qt::Key_Down);
        QCOMPARE(view->playHeadFrame(), int64_t(60));
        press(Qt::Key_Home);
        QCOMPARE(view->playHeadFrame(), int64_t(0));

        const auto focusOn = [](QWidget* control) {
            control->show();
            QApplication::setActiveWindow(window());
            control->setFocus();
            return QTest::qWaitFor([control] { return QApplication::focusWidget() == control; });
        };
        QSpinBox number(window());
        number.setRange(0, 10);
        QVERIFY(focusOn(&number));
        QTest::keyClick(&number, Qt::Key_Up);
        QCOMPARE(number.value(), 1);
        QCOMPARE(view->playHeadFrame(), int64_t(0));
        // A slider (a clip's volume) moves by Left and Right.
        QSlider volume(Qt::Horizontal, window());
        volume.setRange(0, 128);
        volume.setValue(60);
        QVERIFY(focusOn(&volume));
        QTest::keyClick(&volume, Qt::Key_Right);
        QCOMPARE(volume.value(), 61);
        QCOMPARE(view->playHeadFrame(), int64_t(0));
        // In a list (the library, the works) End goes to its last row.
        QListWidget list(window());
        list.addItems({"a", "b", "c"});
        list.setCurrentRow(0);
        QVERIFY(focusOn(&list));
        QTest::keyClick(&list, Qt::Key_End);
        QCOMPARE(list.currentRow(), 2);
        QCOMPARE(view->playHeadFrame(), int64_t(0));
    }

    // F5 enters the full-screen preview and F5 or Escape leave it; Escape
    // elsewhere changes nothing.
    void escapeLeavesTheFullScreenPreview() {
        // Notices that earlier cases left open would hold the keys back.
        for (int i = 0; i < 10 && QApplication::activeModalWidget(); ++i)
            QApplication::activeModalWidget()->hide();
        // Without a window manager nothing hands the window the focus (and
        // another test's window may take it): the application is told
        // directly, before each key, which window the keys go to.
        window()->raise();
        auto press = [](Qt::Key key) {
            QApplication::setActiveWindow(window());
            QTest::keyClick(window(), key);
        };
        QVERIFY(!ZyApp::instance()->isFullPreview());
        press(Qt::Key_Escape);
        QVERIFY(!ZyApp::instance()->isFullPreview());
        press(Qt::Key_F5);
        QVERIFY(ZyApp::instance()->isFullPreview());
        press(Qt::Key_Escape);
        QVERIFY(!ZyApp::instance()->isFullPreview());
        QVERIFY(window()->timelineWidget()->isVisible());
    }

    // A picture at half opacity over an empty canvas shows on screen as the
    // export writes it, half its red over black; it showed a quarter.
    void aSeeThroughPictureShowsOnScreenAsItExports() {
        SourceData* clip = addPictureClip("see-through", QColor(255, 0, 0));
        QVERIFY(clip);
        bg::ValueMap edit = clip->panelMap();
        edit[tlkey::Transparent] = bg::Value(128);
        clip->updateData(MenuType(0), edit, tlkey::Transparent);
        window()->timelineWidget()->slot_updatePreview();
        ZyePreviewWindow* preview = window()->previewWidget()->previewWindow();
        window()->show();
        window()->raise();
        // The red of the picture's middle, once it shows see-through.
        int shownRed = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            QTest::qWait(100);
            const QImage shot = preview->screen()->grabWindow(preview->surface()->winId()).toImage();
            const QColor middle(shot.pixel(shot.width() / 2, shot.height() / 2));
            shownRed = middle.red();
            if (shownRed > 40 && shownRed < 230 && middle.green() < 20 && middle.blue() < 20)
                break;
        }
        QVERIFY2(std::abs(shownRed - 128) <= 10, qPrintable(QString::number(shownRed)));
    }

    // The red frame of the selected picture runs along the picture's own
    // edges on screen, in the panel and in the full-screen preview alike.
    void selectionFrameLiesOnThePictureInFullScreen() {
        SourceData* clip = addPictureClip("frame", QColor(0, 200, 0));
        QVERIFY(clip);
        dynamic_cast<QGraphicsItem*>(clip)->setSelected(true);
        emit ZyApp::instance()->renderManager()->sig_resetFrame(0, EditManual, false);

        ZyePreviewWindow* preview = window()->previewWidget()->previewWindow();
        window()->show();
        window()->raise();
        // The picture's bounds on screen and whether the frame's red runs
        // along its left, right and bottom edges (the top one carries the
        // rotate icon too).
        auto frameOnPicture = [&](QString* why) {
            QImage shot;
            QRect picture;
            for (int attempt = 0; attempt < 100 && picture.width() < 20; ++attempt) {
                QTest::qWait(100);
                shot = preview->screen()->grabWindow(preview->surface()->winId()).toImage();
                picture = QRect();
                for (int y = 0; y < shot.height(); y += 1)
                    for (int x = 0; x < shot.width(); x += 1) {
                        const QColor c(shot.pixel(x, y));
                        if (c.green() > 150 && c.red() < 60 && c.blue() < 60)
                            picture |= QRect(x, y, 1, 1);
                    }
            }
            auto redNear = [&](int x, int y) {
                for (int dy = -3; dy <= 3; ++dy)
                    for (int dx = -3; dx <= 3; ++dx) {
                        const QPoint p(x + dx, y + dy);
                        if (!shot.rect().contains(p))
                            continue;
                        const QColor c(shot.pixel(p));
                        if (c.red() > 180 && c.green() < 80 && c.blue() < 80)
                            return true;
                    }
                return false;
            };
            const QPoint c = picture.center();
            *why = QStringLiteral("picture %1,%2 %3x%4 in %5x%6")
                       .arg(picture.x()).arg(picture.y()).arg(picture.width()).arg(picture.height())
                       .arg(shot.width()).arg(shot.height());
            return picture.width() >= 20 && redNear(picture.left(), c.y()) && redNear(picture.right(), c.y()) &&
                   redNear(c.x(), picture.bottom());
        };
        QString why;
        QVERIFY2(frameOnPicture(&why), qPrintable(why));
        const QSize panel = preview->size();
        QApplication::setActiveWindow(window());
        QTest::keyClick(window(), Qt::Key_F5);
        QVERIFY(ZyApp::instance()->isFullPreview());
        QTRY_VERIFY(preview->size().width() > panel.width());
        // On a busy machine the first frames at the new size may still be
        // drawing: the frame must lie on the picture once they settle.
        bool full = false;
        QDeadlineTimer settle(20000);
        while (!(full = frameOnPicture(&why)) && !settle.hasExpired())
            QTest::qWait(200);
        QApplication::setActiveWindow(window());
        QTest::keyClick(window(), Qt::Key_F5);
        QVERIFY(!ZyApp::instance()->isFullPreview());
        QVERIFY2(full, qPrintable(why));
    }

    void holdingShiftInvertsAutoAlign() {
        QSignalSpy align(window()->toolbarWidget(), &ToolBarWidget::sig_autoAlign);
        QWidget* inside = window()->timelineWidget()->view();
        inside->setFocus();
        QTest::keyPress(inside, Qt::Key_Shift);
        QCOMPARE(align.size(), 1);
        const bool held = align.last().at(0).toBool();
        QTest::keyRelease(inside, Qt::Key_Shift, Qt::ShiftModifier);
        QCOMPARE(align.size(), 2);
        QCOMPARE(align.last().at(0).toBool(), !held); // back as it was
        QTest::keyClick(inside, Qt::Key_A); // other keys leave it alone
        QCOMPARE(align.size(), 2);
    }

    // The editor killed at any moment while it saves a large project leaves
    // the file as the save before made it or as this save makes it, whole,
    // and no temporary file beside it. The saves are the editor's own, in a
    // child process that the test kills with SIGKILL.
    void aKilledSaveLeavesAWholeFile() {
        const QString folder = korvel::test::workFolder("killed");
        const QString path = folder + "/killed.zya2";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        env.insert("KORVEL_CONFIG_DIR", korvel::test::workFolder("killed-config"));
        env.insert("KORVEL_STATE_DIR", korvel::test::workFolder("killed-state"));
        // A kill between writing the new file and putting it in place leaves
        // the copy ("killed.zya2.saving-Ab3dEf"); the next open removes it, and
        // nothing else of the user's beside the project.
        writeFile(folder + "/killed.zya2.backup", "mine");
        writeFile(folder + "/killed.zya2.saving-Xy12ab", "<Tamsel");
        // Each round starts an editor, which takes seconds on a loaded
        // machine: up to 25 rounds, fewer once 40 s have gone by and enough
        // kills came during a save.
        QElapsedTimer spent;
        spent.start();
        int rounds = 0, interrupted = 0;
        for (; rounds < 25 && (spent.elapsed() < 40000 || interrupted < 5); ++rounds) {
            QProcess child;
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {"--real-save-loop", path});
            QVERIFY(child.waitForStarted());
            // Killed at a random moment once its first save stands.
            QByteArray said;
            QTRY_VERIFY_WITH_TIMEOUT((said += child.readAllStandardOutput()).contains("saved 0") ||
                                         child.state() != QProcess::Running,
                                     60000);
            QVERIFY2(said.contains("saved 0"), child.readAllStandardError().right(3000).constData());
            QTest::qWait(QRandomGenerator::global()->bounded(0, 300));
            ::kill(pid_t(child.processId()), SIGKILL);
            // A kill takes effect when the child leaves the kernel: an fsync
            // on a busy disk can hold it there for many seconds.
            QVERIFY(child.waitForFinished(120000));
            said += child.readAllStandardOutput();
            const QList<QByteArray> lines = said.trimmed().split('\n');
            const QList<QByteArray> built = lines.first().split(' ');
            QCOMPARE(built.size(), 4);
            const QList<QByteArray> last = lines.last().split(' ');
            QCOMPARE(last.size(), 2);
            // Save n writes one added track when n is odd.
            const int n = last[1].toInt();
            QSet<int> states {built[1].toInt() + n % 2};
            if (last[0] == "saving") { // killed during save n: the file of save n - 1 or of save n
                ++interrupted;
                states << built[1].toInt() + (n - 1) % 2;
            }
            {
                BoxAnswer answer {QString()};
                QVERIFY2(ZyApp::instance()->openProject(path), qPrintable(answer.text));
            }
            const int read = tracks()->tracks().size();
            QVERIFY2(states.contains(read),
                     qPrintable(QString("%1 tracks after \"%2\"").arg(read).arg(lines.last().constData())));
            QCOMPARE(tracks()->allSources().size(), built[2].toInt());
            QCOMPARE(window()->resourceWidget()->materialView()->materials().size(), built[3].toInt());
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                     (QStringList {"killed.zya2", "killed.zya2.backup"}));
        }
        qInfo("%d of %d kills came during a save", interrupted, rounds);
        // Otherwise the test says nothing about a save cut short.
        QVERIFY2(interrupted >= 5,
                 qPrintable(QString("%1 of %2 kills came during a save").arg(interrupted).arg(rounds)));
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--real-save-loop") == 0) {
        // The parent's environment: its display and its private folders.
        return realSaveLoop(argc, argv, QString::fromLocal8Bit(argv[2]));
    }
    korvel::test::prepareEnvironment("TestProject");
    korvel::test::requireDisplay();
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-project-%1").arg(getpid()));
    // No translator: the message boxes show their keys, which the test reads.
    ZyApp app(argc, argv);
    TestProject tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_project.moc"
