// The farm render from the command line: a project cut into parts that run
// as separate jobs, on this machine or on a one-node Slurm cluster, and
// joined into one file, checked against one whole export of the project.

#include "main/main-window.h"
#include "main/zyapp.h"
#include "render/render-manager.h"
#include "support/reference-render.h"
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-widget.h"

#include <QDir>
#include <QProcess>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

#include <signal.h>
#include <unistd.h>

namespace {

MainWindow* window() { return qobject_cast<MainWindow*>(ZyApp::instance()->mainWindow()); }
TimeLineTreeModel* tracks() { return window()->timelineWidget()->model(); }

QByteArray run(const QString& program, const QStringList& arguments, int* status = nullptr) {
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(120000);
    if (status)
        *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

// The output frames that are key frames.
QVector<int> keyFrames(const QString& file) {
    QVector<int> keys;
    const QList<QByteArray> lines = run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                    "frame=key_frame", "-of", "csv=p=0", file})
                                        .split('\n');
    int frame = 0;
    for (const QByteArray& line : lines) {
        // A frame with side data also writes an empty line, and a comma after its field.
        if (line.trimmed().isEmpty())
            continue;
        if (line.split(',').first().trimmed() == "1")
            keys << frame;
        ++frame;
    }
    return keys;
}

QString describe(const QVector<int>& numbers) {
    QStringList words;
    for (int n : numbers)
        words << QString::number(n);
    return words.join(' ');
}

QByteArray pcm(const QString& file) {
    return run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-map", "0:a:0", "-f", "s16le", "-"});
}

// The Y PSNR of every frame of ours against the frame of the same number in reference.
QVector<double> psnrPerFrame(const QString& ours, const QString& reference) {
    QTemporaryDir temp;
    const QString stats = temp.path() + "/psnr.txt";
    QVector<double> values;
    if (!korvel::test::runFfmpeg({"-i", ours, "-i", reference, "-lavfi",
                                  "[0:v]setpts=N/30/TB[a];[1:v]setpts=N/30/TB[b];[a][b]psnr=stats_file=" + stats,
                                  "-f", "null", "-"}))
        return values;
    QFile f(stats);
    static const QRegularExpression y(QStringLiteral("psnr_y:(\\S+)"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QRegularExpressionMatch m = y.match(QString::fromLatin1(line));
            if (m.hasMatch())
                values << (m.captured(1) == "inf" ? 100.0 : m.captured(1).toDouble());
        }
    return values;
}

} // namespace

class TestFarm : public QObject {
    Q_OBJECT

    QString dir;
    QString project;
    QString single;
    QString cluster; // the one-node Slurm cluster's folder, when it runs
    QString clusterProblem;

    int farm(const QStringList& arguments, QByteArray* said) {
        return korvel::test::runProgram(KORVEL_BINARY, QStringList {"--farm"} + arguments, said, 600000);
    }


private slots:
    void initTestCase() {
        QVERIFY(ZyApp::instance()->initialize());
        dir = korvel::test::workFolder("farm");
        // A picture unlike its neighbours in every frame (the pattern turns
        // its hue and counts its frames) and a rising tone: a frame or a
        // sample out of place shows.
        QString error;
        QVERIFY2(korvel::test::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=320x180:rate=30:duration=6,hue=h=t*400",
                                          "-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*(300+200*t)*t):s=44100:d=6",
                                          "-c:v", "libx264", "-preset", "veryfast", "-crf", "10", "-pix_fmt",
                                          "yuv420p", "-c:a", "aac", "-b:a", "192k", "-ac", "2", dir + "/source.mp4"},
                                         &error),
                 qPrintable(error));
        ZyApp::instance()->renderManager()->setSceneSize(320, 180, false);
        ClassifyItem* video = tracks()->header(SourceVideo);
        video->addSource(tracks()->createFromMaterial(video, dir + "/source.mp4", 0));
        project = dir + "/farm.zya2";
        QFile(project).open(QIODevice::WriteOnly);
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        // The whole export the farm renders must equal, with the farm's key frames.
        single = dir + "/single.mp4";
        QByteArray said;
        QVERIFY2(korvel::test::runProgram(KORVEL_BINARY,
                                          {"--export", project, single, "--bitrate", "8000", "--keyint", "30"},
                                          &said) == 0,
                 said.right(600).constData());
        QCOMPARE(korvel::test::frameTimes(single).size(), 180);
        const QVector<int> keys = keyFrames(single);
        QVERIFY2(keys == (QVector<int> {0, 30, 60, 90, 120, 150}), qPrintable(describe(keys)));

        if (getuid() != 0) {
            clusterProblem = "the cluster's daemons need root";
            return;
        }
        const QString folder = dir + "/slurm";
        QProcess start;
        start.setProcessChannelMode(QProcess::MergedChannels);
        start.start(KORVEL_SOURCE_DIR "/scripts/slurm-cluster", {"start", folder});
        start.waitForFinished(120000);
        if (start.exitStatus() == QProcess::NormalExit && start.exitCode() == 0) {
            cluster = folder;
            qputenv("SLURM_CONF", (folder + "/slurm.conf").toLocal8Bit());
        } else {
            clusterProblem = QString::fromLocal8Bit(start.readAll());
            start.kill();
            start.waitForFinished(10000);
            // Whatever it had started goes.
            QProcess::execute(KORVEL_SOURCE_DIR "/scripts/slurm-cluster", {"stop", folder});
        }
    }

    void cleanupTestCase() {
        if (!cluster.isEmpty())
            QProcess::execute(KORVEL_SOURCE_DIR "/scripts/slurm-cluster", {"stop", cluster});
    }

    // Four parts, on either engine, join into the whole export: every frame
    // at its time and in its place, key frames where the whole has them, the
    // sound to the sample.
    void farmRenderEqualsOneExport_data() {
        QTest::addColumn<QString>("engine");
        QTest::newRow("local") << "local";
        QTest::newRow("slurm") << "slurm";
    }
    void farmRenderEqualsOneExport() {
        QFETCH(QString, engine);
        // The Slurm rows need the cluster; CI (which runs as root) must have it.
        if (engine == "slurm" && cluster.isEmpty()) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL(qPrintable("the one-node Slurm cluster did not start: " + clusterProblem));
            QSKIP(qPrintable("no Slurm cluster: " + clusterProblem));
        }
        const QString out = dir + "/" + engine + ".mp4";
        // Locally the output is a link to an earlier movie only its owner
        // may read: the movie goes through the link and keeps that access.
        const QString kept = korvel::test::workFolder("farm-kept") + "/film.mp4";
        if (engine == "local") {
            QFile earlier(kept);
            QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("an earlier movie") > 0);
            earlier.close();
            QVERIFY(earlier.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
            QVERIFY(QFile::link(kept, out));
        }
        QByteArray said;
        const QStringList options {"--segments", "4", "--engine", engine, "--bitrate", "8000", "--keyint", "30"};
        QVERIFY2(farm(QStringList {project, out} + options + QStringList {"--wait"}, &said) == 0,
                 said.right(1500).constData());
        // The parts start on key frames: [0, 60) [60, 90) [90, 150) [150, 180).
        QVERIFY2(said.contains("[0, 60) [60, 90) [90, 150) [150, 180)"), said.constData());
        QCOMPARE(korvel::test::frameTimes(out), korvel::test::frameTimes(single));
        QCOMPARE(describe(keyFrames(out)), describe(keyFrames(single)));
        const QVector<double> psnr = psnrPerFrame(out, single);
        QCOMPARE(psnr.size(), 180);
        for (int i = 0; i < psnr.size(); ++i)
            QVERIFY2(psnr[i] >= 40.0, qPrintable(QString("frame %1: %2 dB").arg(i).arg(psnr[i])));
        // The same sound, encoded once: sample for sample.
        const QByteArray sound = pcm(out);
        QVERIFY(sound.size() > 44100 * 4 * 5);
        QVERIFY2(sound == pcm(single), qPrintable(QString("%1 bytes of sound against %2")
                                                      .arg(sound.size())
                                                      .arg(pcm(single).size())));
        // Nothing half-written beside it.
        QCOMPARE(QDir(dir).entryList({"*partial*"}, QDir::Files | QDir::Hidden), QStringList());
        if (engine == "local") {
            QVERIFY(QFileInfo(out).isSymLink());
            QCOMPARE(QFile::permissions(kept) & (QFile::ReadGroup | QFile::ReadOther), QFileDevice::Permissions());
            QVERIFY(QFile::permissions(kept) & QFile::ReadOwner);
        }
    }

    // Many parts of a third of a second each (lengths no container keeps
    // exactly): the pictures keep the times one export gives them, to the end.
    void manyShortPartsKeepTheirTimes() {
        const QString out = dir + "/short-parts.mp4";
        QByteArray said;
        QVERIFY2(farm({project, out, "--segments", "18", "--engine", "local", "--wait"}, &said) == 0,
                 said.right(1500).constData());
        const QVector<double> times = korvel::test::frameTimes(out), expected = korvel::test::frameTimes(single);
        QCOMPARE(times.size(), expected.size());
        for (int i = 0; i < times.size(); ++i)
            QVERIFY2(std::abs(times[i] - expected[i]) < 0.0015,
                     qPrintable(QString("frame %1 at %2 s, %3 s in one export").arg(i).arg(times[i]).arg(expected[i])));
    }

    // Two renders of one output at once: each joins into a file of its own,
    // and what stands at the end is a whole film.
    void twoRendersToOneOutput() {
        const QString out = dir + "/twice.mp4";
        QProcess first, second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        for (QProcess* p : {&first, &second}) {
            p->setProcessEnvironment(env);
            p->setProcessChannelMode(QProcess::MergedChannels);
            p->start(KORVEL_BINARY, {"--farm", project, out, "--segments", "2", "--engine", "local", "--wait", "--work",
                                     dir + (p == &first ? "/twice-1" : "/twice-2")});
        }
        for (QProcess* p : {&first, &second}) {
            QVERIFY(p->waitForFinished(600000));
            QVERIFY2(p->exitCode() == 0, p->readAll().right(1500).constData());
        }
        QCOMPARE(korvel::test::frameTimes(out).size(), korvel::test::frameTimes(single).size());
        QCOMPARE(QDir(dir).entryList({".twice*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    // A part that cannot be written (a folder stands where its file goes)
    // fails the render with that part's log, and no output appears.
    void failedSegmentFailsTheRender_data() { farmRenderEqualsOneExport_data(); }
    void failedSegmentFailsTheRender() {
        QFETCH(QString, engine);
        // The Slurm rows need the cluster; CI (which runs as root) must have it.
        if (engine == "slurm" && cluster.isEmpty()) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL(qPrintable("the one-node Slurm cluster did not start: " + clusterProblem));
            QSKIP(qPrintable("no Slurm cluster: " + clusterProblem));
        }
        const QString work = dir + "/broken-" + engine;
        QVERIFY(QDir().mkpath(work + "/segment-002.mp4"));
        QFile(work + "/.korvel-farm").open(QIODevice::WriteOnly); // an earlier render's folder
        const QString out = dir + "/broken-" + engine + ".mp4";
        QByteArray said;
        QCOMPARE(farm({project, out, "--segments", "4", "--engine", engine, "--work", work, "--wait"}, &said), 1);
        QVERIFY2(said.contains("segment-002 failed"), said.constData());
        // The part's own log, to its last line: refused before its first frame.
        QVERIFY2(said.contains("  | segment-002: exit status 2 after"), said.constData());
        QVERIFY(!QFile::exists(out));
        QCOMPARE(QDir(dir).entryList({"*broken-*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    void badInputIsRefused_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no segments") << QStringList {"--segments", "0", "--engine", "local"} << "at least one segment";
        QTest::newRow("more segments than frames")
            << QStringList {"--segments", "181", "--engine", "local"} << "181 segments cannot be made of 180 frames";
        QTest::newRow("unknown engine") << QStringList {"--segments", "2", "--engine", "cloud"} << "local or slurm";
        QTest::newRow("no engine") << QStringList {"--segments", "2"} << "needs --engine";
        QTest::newRow("no sbatch") << QStringList {"--segments", "2", "--engine", "slurm"} << "slurm-client";
        // Every part's export would refuse it: said once, before any part runs.
        QTest::newRow("a size too small to export")
            << QStringList {"--segments", "2", "--engine", "local", "--size", "10x10"}
            << "--size 10x10 is not usable: WIDTHxHEIGHT, each from 16 to 8192 pixels";
        QTest::newRow("the root as --work")
            << QStringList {"--segments", "2", "--engine", "local", "--work", "/"} << "is the root folder";
        QTest::newRow("an option of --export alone")
            << QStringList {"--segments", "2", "--engine", "local", "--srt"} << "--srt is not for --farm";
        // The user's own files in a --work folder are not replaced.
        QDir().mkpath(dir + "/mine");
        QFile mine(dir + "/mine/sound.wav");
        QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("my voice") == 8);
        QTest::newRow("a folder of the user's as --work")
            << QStringList {"--segments", "2", "--engine", "local", "--work", dir + "/mine"} << "would replace";
        // Two renders in one folder wrote over each other's jobs, and both failed.
        QTest::newRow("a work folder another render uses")
            << QStringList {"--segments", "2", "--engine", "local", "--work", dir + "/busy"} << "another render";
    }
    void badInputIsRefused() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QByteArray said;
        const QByteArray path = qgetenv("PATH");
        if (message == "slurm-client") {
            // No Slurm commands on this PATH.
            QDir().mkpath(dir + "/no-tools");
            qputenv("PATH", (dir + "/no-tools").toLocal8Bit());
        }
        std::unique_ptr<QLockFile> otherRender;
        if (message == "another render") {
            QDir().mkpath(dir + "/busy");
            otherRender = std::make_unique<QLockFile>(dir + "/busy/.korvel-farm.lock");
            QVERIFY(otherRender->tryLock(0));
        }
        const int status = farm(QStringList {project, dir + "/refused.mp4"} + arguments, &said);
        qputenv("PATH", path);
        QCOMPARE(status, 2);
        QVERIFY2(said.contains(message.toUtf8()), said.constData());
        QVERIFY(!QFile::exists(dir + "/refused.mp4"));
        if (arguments.contains(dir + "/mine")) {
            QFile mine(dir + "/mine/sound.wav");
            QVERIFY(mine.open(QIODevice::ReadOnly));
            QCOMPARE(mine.readAll(), QByteArray("my voice"));
        }
    }

    // A render queued on Slurm without --wait keeps its work folder until
    // its jobs end: a second render there is refused (it rewrote the scripts
    // under the running jobs, and the first render's join was dropped).
    void aQueuedRenderKeepsItsWorkFolder() {
        if (cluster.isEmpty()) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL(qPrintable("the one-node Slurm cluster did not start: " + clusterProblem));
            QSKIP(qPrintable("no Slurm cluster: " + clusterProblem));
        }
        const QString out = dir + "/queued.mp4";
        const QStringList options {"--segments", "2", "--engine", "slurm", "--work", dir + "/queued-work"};
        QByteArray said;
        QCOMPARE(farm(QStringList {project, out} + options, &said), 0);
        const QByteArray first = said;
        const int second = farm(QStringList {project, dir + "/second.mp4"} + options, &said);
        // The render may have ended between the two (a fast machine): then the second is a render of its own.
        if (!QFileInfo::exists(out)) {
            QCOMPARE(second, 2);
            QVERIFY2(said.contains("still use the work folder"), said.constData());
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out), 300000);
        QVERIFY2(korvel::test::frameTimes(out).size() == 180, first.constData());
    }

    // An output that is a folder, or a media file the project reads, is
    // refused before any job runs.
    // A local render killed outright (no chance to stop its jobs) takes its
    // jobs with it: the parts being rendered are not finished for nobody.
    void aKilledLocalRenderStopsItsJobs() {
        const QString work = dir + "/killed";
        QProcess render;
        render.setProcessChannelMode(QProcess::ForwardedChannels);
        render.start(KORVEL_BINARY, {"--farm", project, dir + "/killed.mp4", "--segments", "2", "--engine", "local",
                                     "--work", work});
        QVERIFY(render.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(work + "/segment-001.log"), 60000);
        ::kill(pid_t(render.processId()), SIGKILL);
        QVERIFY(render.waitForFinished(30000));
        // The jobs' shells and exports name the work folder on their command lines.
        const auto jobsLeft = [&work]() {
            int left = 0;
            for (const QString& pid : QDir("/proc").entryList(QDir::Dirs))
                if (pid.toInt() > 0) {
                    QFile cmdline("/proc/" + pid + "/cmdline");
                    if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(work.toLocal8Bit()))
                        ++left;
                }
            return left;
        };
        QTRY_COMPARE_WITH_TIMEOUT(jobsLeft(), 0, 60000);
        QCOMPARE(QDir(work).entryList({"segment-*.mp4", ".segment-*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    void outputsThatWouldHarmAreRefused() {
        QDir().mkpath(dir + "/folder.mp4");
        QByteArray said;
        QCOMPARE(farm({project, dir + "/folder.mp4", "--segments", "2", "--engine", "local"}, &said), 2);
        QVERIFY2(said.contains("is a folder"), said.constData());
        QCOMPARE(QDir(dir + "/folder.mp4").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
        QVERIFY(!QFileInfo::exists(dir + "/folder.mp4.farm")); // refused before anything was made
    }
};

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestFarm");
    korvel::test::requireDisplay();
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-farm-%1").arg(getpid()));
    ZyApp app(argc, argv);
    TestFarm tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_farm.moc"
