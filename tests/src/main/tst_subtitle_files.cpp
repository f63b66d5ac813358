// Subtitle files: .srt and .vtt read into cues (broken and hostile input
// counted, never fatal), a file dropped from the desktop onto the timeline
// as one undo step in the chosen template's look, written back beside a
// command-line export, and kept by the saved project.
#include "main/export-jobs.h"
#include "main/main-window.h"
#include "main/zyapp.h"
#include "main/zytranslator.h"
#include "render/export/export-function.h"
#include "render/export/export-param-widget.h"
#include "render/export/export-thread.h"
#include "render/render-manager.h"
#include "resource/material-item.h"
#include "resource/material-manager.h"
#include "resource/material-view.h"
#include "resource/resource-widget.h"
#include "support/folder-openings.h"
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/subtitle-file.h"
#include "timeline/subtitle-import.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-tree-view.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QUrl>
#include <QtTest>

#include <unistd.h>

namespace {

// Times on whole frames (1/30 s, in milliseconds) come back unchanged.
const QByteArray kDroppedSrt = "\xEF\xBB\xBF"
                               "1\r\n00:00:01,000 --> 00:00:02,500\r\nFirst line\r\nsecond line\r\n\r\n"
                               "2\r\n00:00:02,000 --> 00:00:03,000\r\nOver the first\r\n\r\n"
                               "3\r\n00:00:99,000 --> 00:00:04,000\r\nNo such second\r\n\r\n"
                               "4\r\n00:00:03,033 --> 00:00:04,067\r\nThird\r\n\r\n"
                               "5\r\n25:00:00,000 --> 25:00:01,000\r\nAfter the day\r\n";

// What the export writes for the three cues the timeline keeps.
const QByteArray kExportedSrt = "1\r\n00:00:01,000 --> 00:00:02,500\r\nFirst line\r\nsecond line\r\n\r\n"
                                "2\r\n00:00:02,000 --> 00:00:03,000\r\nOver the first\r\n\r\n"
                                "3\r\n00:00:03,033 --> 00:00:04,067\r\nThird\r\n\r\n";

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

MainWindow* window() { return qobject_cast<MainWindow*>(ZyApp::instance()->mainWindow()); }
TimeLineTreeModel* tracks() { return window()->timelineWidget()->model(); }

struct Clip {
    int64_t start, length;
    QString text;
    int track; // 0: the subtitle header, 1: its first added track
};

QList<Clip> subtitleClips() {
    QList<Clip> clips;
    ClassifyItem* header = tracks()->header(SourceSubtitle);
    QList<ClassifyItem*> rows {header};
    rows.append(header->children());
    for (int t = 0; t < rows.size(); ++t) {
        for (const SourceData* c : rows[t]->sources())
            clips.append(Clip {c->startFrame(), c->lengthFrames(), c->content(), t});
    }
    return clips;
}

} // namespace

class TestSubtitleFiles : public QObject {
    Q_OBJECT

    QString dir;

private slots:
    void initTestCase() {
        QVERIFY(ZyApp::instance()->initialize());
        QVERIFY(window());
        dir = korvel::test::workFolder("subtitles");
    }

    void parsesWhatPlayersWrite_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("cues");
        QTest::addColumn<int>("malformed");
        QTest::addColumn<QString>("firstText");
        QTest::addColumn<qint64>("lastStartMs");
        QTest::addColumn<qint64>("lastEndMs");
        QTest::newRow("srt: BOM, CRLF, a bad time, overlaps") << kDroppedSrt << 4 << 1
                                                              << "First line\nsecond line" << qint64(90000000)
                                                              << qint64(90001000);
        QTest::newRow("webvtt: header, note, settings, tags")
            << QByteArray("WEBVTT - a film\n\nNOTE not shown\n\nintro\n00:01.5 --> 00:02.000 align:start\n"
                          "<i>Hi</i> &amp; <c.yellow>bye</c>\n\n01:00:03.000 --> 01:00:04.000\nTwo\n")
            << 2 << 0 << "Hi & bye" << qint64(3603000) << qint64(3604000);
        // Formatting as players apply it is not shown as text; other angle
        // brackets are the text's own.
        QTest::newRow("srt: formatting tags")
            << QByteArray("1\n00:00:01,000 --> 00:00:02,000\n{\\an8}<i>Hi</i> <B>there</B> "
                          "<font color=\"#00ff00\">green</font>\n<u>a</u> < b > c <3 <i love you>\n")
            << 1 << 0 << "Hi there green\na < b > c <3 <i love you>" << qint64(1000) << qint64(2000);
        const QString wide = QStringLiteral("1\r\n00:00:01,000 --> 00:00:02,000\r\n\u041f\u0440\u0438 \u4f60\u597d\r\n");
        QTest::newRow("utf-16 with its mark")
            << QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2) << 1
            << 0 << QStringLiteral("\u041f\u0440\u0438 \u4f60\u597d") << qint64(1000) << qint64(2000);
        // As older Windows editors save it: "Café naïve über" in Windows-1252.
        QTest::newRow("windows-1252")
            << QByteArray("1\r\n00:00:01,000 --> 00:00:02,000\r\nCaf\xE9 na\xEF" "ve \xFC" "ber \x80\r\n") << 1 << 0
            << QStringLiteral("Caf\u00e9 na\u00efve \u00fcber \u20ac") << qint64(1000) << qint64(2000);
        QTest::newRow("windows-1252, its last letter at the very end")
            << QByteArray("1\n00:00:01,000 --> 00:00:02,000\nCaf\xE9") << 1 << 0 << QStringLiteral("Caf\u00e9")
            << qint64(1000) << qint64(2000);
        QTest::newRow("lone CR, a lost blank line")
            << QByteArray("1\r00:00:01,000 --> 00:00:02,000\rA\r2\r00:00:03,000 --> 00:00:04,000\rB\r") << 2 << 0
            << "A" << qint64(3000) << qint64(4000);
        QTest::newRow("hostile: absurd times, binary, no text, end before start")
            << QByteArray("1\n99:99:99,999 --> 99:99:99,999\nx\n\n") + QByteArray("\x01\xff\xfe\x00\x80 -->", 9) +
                   QByteArray("\n\n2\n00:00:01,000 --> 00:00:02,000\n\n"
                              "3\n00:00:05,000 --> 00:00:04,000\nbackwards\n\n4\n1:2:3 --> 4\ny\n")
            << 0 << 5 << QString() << qint64(0) << qint64(0);
    }
    void parsesWhatPlayersWrite() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, cues);
        QFETCH(int, malformed);
        QFETCH(QString, firstText);
        QFETCH(qint64, lastStartMs);
        QFETCH(qint64, lastEndMs);
        const subtitles::ParseResult result = subtitles::parse(bytes);
        QCOMPARE(result.cues.size(), cues);
        QCOMPARE(result.malformed, malformed);
        if (cues > 0) {
            QCOMPARE(result.cues.first().text, firstText);
            QCOMPARE(qint64(result.cues.last().startMs), lastStartMs);
            QCOMPARE(qint64(result.cues.last().endMs), lastEndMs);
        }
    }

    // A huge file is cut at the cue limit and each text at its length limit.
    void hugeInputIsBounded() {
        QByteArray bytes;
        for (int i = 0; i <= subtitles::kMaxCues; ++i)
            bytes += QByteArray::number(i + 1) + "\n" + subtitles::formatSrtTime(i * 100).toLatin1() + " --> " +
                     subtitles::formatSrtTime(i * 100 + 50).toLatin1() + "\n" +
                     (i == 0 ? QByteArray(subtitles::kMaxTextChars * 3, 'w') : QByteArray("t")) + "\n\n";
        const subtitles::ParseResult result = subtitles::parse(bytes);
        QCOMPARE(result.cues.size(), subtitles::kMaxCues);
        QCOMPARE(result.overLimit, 1);
        QCOMPARE(result.cutTexts, 1);
        QCOMPARE(result.cues.first().text.size(), subtitles::kMaxTextChars);
        QCOMPARE(result.cues.last().startMs, int64_t(subtitles::kMaxCues - 1) * 100);
    }

    // Dropped from the desktop onto the subtitle track: one clip per cue at
    // its frame in the selected template's look, an overlapping cue on a
    // new subtitle track, what was skipped counted in a box, all one undo
    // step. Saved, exported with --srt and reopened, the cues stay the same.
    void droppedFileRoundTrips() {
        const QString srt = dir + "/film.srt";
        writeFile(srt, kDroppedSrt);
        MaterialManager* library = window()->resourceWidget()->manager();
        library->AddMaterialSubtitle("Yellow", QFont("Serif", 30), QColor("#ffff00"), false);
        QCoreApplication::processEvents();
        MaterialView* materials = window()->resourceWidget()->materialView();
        QVERIFY(!materials->materialScene()->materialItems().isEmpty());
        materials->materialScene()->materialItems().last()->setSelected(true);

        zya::UndoController* undo = zya::UndoController::instance();
        const int steps = undo->stack.count();
        TimeLineWidget* timeline = window()->timelineWidget();
        TimeLineTreeView* tree = timeline->treeView();
        const QPoint at(200, tree->visualRect(tracks()->indexOf(tracks()->header(SourceSubtitle))).center().y());
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(srt)});
        QWidget* viewport = timeline->view()->viewport();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &drop);
        QVERIFY(drop.isAccepted());

        auto* box = window()->findChild<QMessageBox*>("subtitleImportMessage");
        QVERIFY(box);
        QVERIFY2(box->text().contains("3 subtitles were imported from film.srt") &&
                     box->text().contains("1 malformed entries") && box->text().contains("1 subtitles after the"),
                 qPrintable(box->text()));
        box->close();

        const auto check = [](const QList<Clip>& clips) {
            QCOMPARE(clips.size(), 3);
            QCOMPARE(clips[0].start, int64_t(30));
            QCOMPARE(clips[0].length, int64_t(45));
            QCOMPARE(clips[0].text, QString("First line\nsecond line"));
            QCOMPARE(clips[1].start, int64_t(91));
            QCOMPARE(clips[1].length, int64_t(31));
            QCOMPARE(clips[1].track, 0);
            QCOMPARE(clips[2].start, int64_t(60)); // shown with the first, so on a track of its own
            QCOMPARE(clips[2].length, int64_t(30));
            QCOMPARE(clips[2].track, 1);
        };
        check(subtitleClips());
        QCOMPARE(tracks()->header(SourceSubtitle)->sources().first()->font().pointSize(), 30);
        QCOMPARE(tracks()->header(SourceSubtitle)->sources().first()->color(), QColor("#ffff00"));
        QCOMPARE(undo->stack.count(), steps + 1);
        undo->stack.undo();
        QVERIFY(subtitleClips().isEmpty());
        QVERIFY(tracks()->header(SourceSubtitle)->children().isEmpty());
        undo->stack.redo();
        check(subtitleClips());

        const QString project = dir + "/film.zya2", output = dir + "/out/film.mp4";
        writeFile(project, QByteArray());
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        QDir().mkpath(dir + "/out");
        QProcess korvel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        korvel.setProcessEnvironment(env);
        korvel.start(QStringLiteral(KORVEL_BINARY), {"--export", project, output, "--size", "160x90", "--srt"});
        QVERIFY(korvel.waitForFinished(240000));
        const QByteArray said = korvel.readAllStandardError();
        QVERIFY2(korvel.exitCode() == 0, said.right(400).constData());
        QCOMPARE(readFile(dir + "/out/film.srt"), kExportedSrt);
        // Read back as the import reads it: the same cues.
        const subtitles::ParseResult again = subtitles::parse(readFile(dir + "/out/film.srt"));
        QCOMPARE(again.cues.size(), 3);
        QCOMPARE(again.malformed, 0);

        undo->setClean();
        ZyApp::instance()->clearProject();
        QVERIFY(subtitleClips().isEmpty());
        QVERIFY(ZyApp::instance()->openProject(project));
        check(subtitleClips());
        // At double speed the cues come at half the time.
        const QList<subtitles::Cue> fast = subtitles::timelineCues(*tracks(), 2.0);
        QCOMPARE(fast.first().startMs, int64_t(500));
        QCOMPARE(fast.last().endMs, int64_t(2033));

        // The export window's check box writes the same file beside its export.
        {
            auto* writeSrt = window()->exportWindow()->findChild<QCheckBox*>("checkBox_srt");
            QVERIFY(writeSrt);
            writeSrt->setChecked(true);
            MVParams params;
            QVERIFY(exportfn::setExportPath(params, dir + "/film-window.mp4"));
            params.width = 160;
            params.height = 90;
            params.frameRate = 30;
            params.keyFrameInterval = 30;
            // The export runs in a child process of the program itself.
            ExportJobQueue* jobs = window()->exportJobs();
            jobs->setProgram(QStringLiteral(KORVEL_BINARY));
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
            jobs->setEnvironment(env);
            const int id = window()->runExport(&params);
            QVERIFY(id > 0);
            QTRY_VERIFY_WITH_TIMEOUT(jobs->job(id)->ended(), 240000);
            QVERIFY2(jobs->job(id)->state == ExportJob::Done, qPrintable(jobs->job(id)->logTail()));
            QCOMPARE(readFile(dir + "/film-window.srt"), kExportedSrt);
        }

        // A folder where the .srt goes: refused before the movie is made.
        const QString blocked = dir + "/blocked";
        QDir().mkpath(blocked);
        QDir().mkpath(blocked + "/film.srt"); // a folder where the file should go
        korvel.start(QStringLiteral(KORVEL_BINARY),
                     {"--export", project, blocked + "/film.mp4", "--size", "160x90", "--srt"});
        QVERIFY(korvel.waitForFinished(240000));
        QCOMPARE(korvel.exitCode(), 2);
        QVERIFY(korvel.readAllStandardError().contains("where --srt writes, is a folder"));
        QVERIFY(!QFileInfo::exists(blocked + "/film.mp4"));
    }

    // Dropped on the library, a subtitle file becomes no material: its cues
    // go onto the timeline's subtitle track; a cue that runs a little into
    // the next (a sloppy timing) ends early instead of taking a track.
    void libraryHandsSubtitleFilesToTheTimeline() {
        zya::UndoController::instance()->setClean();
        ZyApp::instance()->clearProject();
        const QString vtt = dir + "/talk.vtt";
        writeFile(vtt, "WEBVTT\n\n00:01.000 --> 00:03.050\nOne\n\n00:03.000 --> 00:04.000\nTwo\n");
        MaterialView* materials = window()->resourceWidget()->materialView();
        const int before = materials->materials().size();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(vtt)});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(materials->viewport(), &enter);
        QDropEvent drop(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(materials->viewport(), &drop);
        QCoreApplication::processEvents();
        QCOMPARE(materials->materials().size(), before);
        const QList<Clip> clips = subtitleClips();
        QCOMPARE(clips.size(), 2);
        QCOMPARE(clips[0].length, int64_t(60));
        QCOMPARE(clips[1].start, int64_t(90));
        QCOMPARE(clips[1].track, 0);
        QCOMPARE(clips[1].text, QString("Two"));
        QVERIFY(!window()->findChild<QMessageBox*>("subtitleImportMessage")); // nothing was skipped
    }
};

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestSubtitleFiles");
    korvel::test::requireDisplay();
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-subtitles-%1").arg(getpid()));
    ZyApp app(argc, argv);
    bg::iface()->configSet("IsEnglish", "English"); // the box's counts are read in English
    ZyTransLator translator;
    app.installTranslator(&translator);
    TestSubtitleFiles tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_subtitle_files.moc"
