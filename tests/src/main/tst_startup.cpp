// The program as a user starts it: installer switches, the single-instance
// guard, and crash reports.
#include "support/test-main.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

struct Profile {
    QString config, state;
};

Profile makeProfile(const QString& name) {
    QString base = korvel::test::workFolder(name);
    Profile p {base + "/config", base + "/state"};
    QDir().mkpath(p.config);
    QDir().mkpath(p.state);
    return p;
}

class Korvel {
public:
    Korvel(const Profile& profile, const QStringList& args, const QStringList& extraEnv = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& pair : extraEnv)
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        env.insert("KORVEL_CONFIG_DIR", profile.config);
        env.insert("KORVEL_STATE_DIR", profile.state);
        // A login name of its own keeps the guard apart from any real Korvel.
        env.insert("USER", QStringLiteral("korvel-test-%1").arg(QCoreApplication::applicationPid()));
        // In sanitizer builds the program's exit would report the graphics
        // driver's unloaded allocations; leaks of our own code are checked by
        // the in-process tests.
        QString asan = env.value("ASAN_OPTIONS");
        env.insert("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "detect_leaks=0");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(QStringLiteral(KORVEL_BINARY), args);
        process.waitForStarted(5000);
    }
    ~Korvel() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // Waits until standard error holds the text.
    bool waitForLog(const QByteArray& text, int timeoutMs = 15000) {
        QElapsedTimer t;
        t.start();
        while (!log.contains(text)) {
            if (t.elapsed() > timeoutMs || process.state() == QProcess::NotRunning) {
                log += process.readAllStandardError();
                return log.contains(text);
            }
            process.waitForReadyRead(100);
            log += process.readAllStandardError();
        }
        return true;
    }
    bool finish(int timeoutMs) {
        bool done = process.waitForFinished(timeoutMs);
        log += process.readAllStandardError();
        return done;
    }
    void signal(int sig) { ::kill(pid_t(process.processId()), sig); }

    QProcess process;
    QByteArray log;
};

const QByteArray kReady = "started, project";

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void installerSwitches_data();
    void installerSwitches();
    void switchWithFurtherArgumentsIsNoSwitch();
    void secondStartLeavesTheFirstAlone();
    void killedPrimaryDoesNotLockTheUserOut();
    void stuckPrimaryDoesNotLockTheUserOut();
    void aSignalDuringAStartUpQuestionEnds();
    void aLostDisplayEndsTheEditor();
    void crashLeavesAReportNamedAtTheNextStart();
    void noGraphicsMeansNoWindow();
    void noDisplayIsToldNotCrashed_data();
    void noDisplayIsToldNotCrashed();
    void helpAndVersionNeedNoDisplay();
};

void TestStartup::installerSwitches_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("install") << "--install" << QByteArray("[E][bg] main.cpp") + " " ;
    QTest::newRow("uninstall") << "--uninstall" << QByteArray("[E][bg] main.cpp") + " ";
}

void TestStartup::installerSwitches() {
    QFETCH(QString, argument);
    QFETCH(QByteArray, line);
    Profile profile = makeProfile("switch" + argument);
    {
        QSettings ini(profile.config + "/korvel.ini", QSettings::IniFormat);
        ini.setValue("IsEnglish", "English");
        ini.setValue("autoSavePath", "/somewhere/~temp_x.zya2");
    }
    Korvel korvel(profile, {argument});
    QVERIFY(korvel.finish(10000));
    QCOMPARE(korvel.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(korvel.process.exitCode(), 0);
    QByteArray expected = argument == "--install" ? QByteArray("\"------ install: 安装后第一次运行\"")
                                                  : QByteArray("\"------ uninstall: 卸载，清除配置\"");
    QVERIFY2(korvel.log.contains(line) && korvel.log.contains(expected), korvel.log.constData());
    // The same line lands in the log file.
    QFile logFile(profile.state + "/korvel.log");
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    QVERIFY(logFile.readAll().contains(expected));

    QSettings ini(profile.config + "/korvel.ini", QSettings::IniFormat);
    if (argument == "--uninstall")
        QVERIFY2(ini.allKeys().isEmpty(), qPrintable(ini.allKeys().join(',')));
    else
        QCOMPARE(ini.value("IsEnglish").toString(), QString("English"));
}

void TestStartup::switchWithFurtherArgumentsIsNoSwitch() {
    Profile profile = makeProfile("switch-extra");
    Korvel korvel(profile, {"--uninstall", "more"});
    QVERIFY2(korvel.waitForLog(kReady), korvel.log.constData());
    QVERIFY(!korvel.log.contains("uninstall:"));
    korvel.signal(SIGTERM);
    QVERIFY(korvel.finish(10000));
    QVERIFY2(korvel.process.exitCode() == 0, korvel.log.right(3000).constData());
}

void TestStartup::secondStartLeavesTheFirstAlone() {
    Profile profile = makeProfile("second");
    Korvel first(profile, {});
    QVERIFY2(first.waitForLog(kReady), first.log.constData());

    Korvel second(profile, {});
    QVERIFY(second.finish(30000));
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY(!second.log.contains(kReady));

    // The first heard of it and runs on.
    QVERIFY(first.waitForLog("another instance started"));
    QCOMPARE(first.process.state(), QProcess::Running);
    first.signal(SIGTERM);
    QVERIFY(first.finish(10000));
    QVERIFY2(first.process.exitCode() == 0, first.log.right(3000).constData());
}

void TestStartup::killedPrimaryDoesNotLockTheUserOut() {
    Profile profile = makeProfile("killed");
    {
        Korvel first(profile, {});
        QVERIFY2(first.waitForLog(kReady), first.log.constData());
        first.signal(SIGKILL);
        QVERIFY(first.finish(60000)); // a loaded machine may be slow to reap it
    }
    Korvel next(profile, {});
    QVERIFY2(next.waitForLog(kReady, 15000), next.log.constData());
    QVERIFY2(next.log.contains("taking over"), next.log.constData());

    // The new one really holds the guard: a further start ends at once.
    Korvel another(profile, {});
    QVERIFY(another.finish(5000));
    QCOMPARE(another.process.exitCode(), 0);
    QVERIFY(!another.log.contains(kReady));
    QCOMPARE(next.process.state(), QProcess::Running);
    next.signal(SIGTERM);
    QVERIFY(next.finish(10000));
}

// A primary that is stopped (or stuck) still has its socket accept
// connections; only its answer counts, so the next start takes over.
void TestStartup::stuckPrimaryDoesNotLockTheUserOut() {
    Profile profile = makeProfile("stuck");
    Korvel first(profile, {});
    QVERIFY2(first.waitForLog(kReady), first.log.constData());
    first.signal(SIGSTOP);
    Korvel next(profile, {});
    QVERIFY2(next.waitForLog(kReady, 60000), next.log.constData());
    QVERIFY2(next.log.contains("does not answer"), next.log.constData());
    first.signal(SIGCONT);
    next.signal(SIGTERM);
    QVERIFY(next.finish(30000));
}

// A logout while a start-up question is open (here: the project's media are
// missing) ends the editor, as at any other time.
void TestStartup::aSignalDuringAStartUpQuestionEnds() {
    Profile profile = makeProfile("question");
    const QString project = korvel::test::workFolder("question") + "/missing.zya2";
    QFile file(project);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<Tamsel Version=\"1.0.0\" Archived=\"0\"><Render/><Timeline><classify type=\"2\" row=\"-1\">"
               "<sourceItem><start>0</start><duration>30</duration><path>/nonexistent/gone.mp4</path>"
               "<uuid>a</uuid><originalduraion>30</originalduraion></sourceItem></classify></Timeline></Tamsel>");
    file.close();
    Korvel korvel(profile, {project});
    QVERIFY2(korvel.waitForLog("media files are missing", 60000), korvel.log.constData());
    QTest::qWait(1000); // the question is up
    korvel.signal(SIGTERM);
    QVERIFY2(korvel.finish(30000), korvel.log.right(2000).constData());
}

// The display's connection lost (the X server gone, a remote session cut):
// the editor ends, however its threads were waiting.
void TestStartup::aLostDisplayEndsTheEditor() {
    int n = 150;
    while (n < 200 && (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                       QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))))
        ++n;
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    QVERIFY(xvfb.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)), 10000);
    Profile profile = makeProfile("lost-display");
    Korvel korvel(profile, {}, {QStringLiteral("DISPLAY=:%1").arg(n)});
    const bool ready = korvel.waitForLog(kReady, 60000);
    QTest::qWait(500); // idle: the frame cycle waits for a request
    xvfb.kill();
    xvfb.waitForFinished(5000);
    QVERIFY2(ready, korvel.log.right(2000).constData());
    QVERIFY2(korvel.finish(30000), korvel.log.right(2000).constData());
}

void TestStartup::crashLeavesAReportNamedAtTheNextStart() {
    Profile profile = makeProfile("crash");
    {
        Korvel doomed(profile, {});
        QVERIFY2(doomed.waitForLog(kReady), doomed.log.constData());
        doomed.signal(SIGSEGV);
        QVERIFY(doomed.finish(10000));
        QCOMPARE(doomed.process.exitStatus(), QProcess::CrashExit);
    }
    QStringList reports = QDir(profile.state).entryList({"crash-*.txt"}, QDir::Files);
    QCOMPARE(reports.size(), 1);
    QFile report(profile.state + "/" + reports.first());
    QVERIFY(report.open(QIODevice::ReadOnly));
    QByteArray text = report.readAll();
    QVERIFY2(text.startsWith("Korvel 3.0.3 crashed with signal 11 (SIGSEGV)"), text.constData());
    QVERIFY(text.contains("time (UTC): "));
    QVERIFY(text.contains("backtrace:\n"));

    Korvel next(profile, {});
    QVERIFY2(next.waitForLog(kReady), next.log.constData());
    QVERIFY2(next.log.contains("crashed; its report is " + report.fileName().toUtf8()), next.log.constData());
    next.signal(SIGTERM);
    QVERIFY(next.finish(10000));
    // Named once only.
    Korvel again(profile, {});
    QVERIFY(again.waitForLog(kReady));
    QVERIFY(!again.log.contains("crashed; its report is"));
}

void TestStartup::noGraphicsMeansNoWindow() {
    // Mesa told to offer only OpenGL 2.1: the engine cannot start, and says so.
    Profile profile = makeProfile("no-graphics");
    Korvel korvel(profile, {}, {"MESA_GL_VERSION_OVERRIDE=2.1"});
    QVERIFY(korvel.finish(20000));
    QCOMPARE(korvel.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(korvel.process.exitCode(), 255);
    QVERIFY2(korvel.log.contains("below the 3.3 core profile"), korvel.log.constData());
    QVERIFY(korvel.log.contains("\"---> 渲染管理器创建失败\""));
    QVERIFY(!korvel.log.contains(kReady));
}

void TestStartup::noDisplayIsToldNotCrashed_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("env");
    QTest::newRow("editor, display out of reach") << QStringList {} << QStringList {"DISPLAY=:4095"};
    QTest::newRow("export, display out of reach")
        << QStringList {"--export", "/nowhere/film.zya2", "/tmp/film.mp4"} << QStringList {"DISPLAY=:4095"};
    QTest::newRow("export, no EGL")
        << QStringList {"--export", "/nowhere/film.zya2", "/tmp/film.mp4"}
        << QStringList {"DISPLAY=", "WAYLAND_DISPLAY=", "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"};
}

void TestStartup::noDisplayIsToldNotCrashed() {
    // Qt gives up when it opens no window system: a message and status 3,
    // no crash report.
    QFETCH(QStringList, args);
    QFETCH(QStringList, env);
    Profile profile = makeProfile("no-display");
    Korvel korvel(profile, args, env);
    QVERIFY(korvel.finish(20000));
    QCOMPARE(korvel.process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(korvel.process.exitCode() == 3, korvel.log.constData());
    QVERIFY2(korvel.log.contains("no display or graphics device could be opened"), korvel.log.constData());
    QCOMPARE(QDir(profile.state).entryList({"crash-*"}), QStringList());
}

// What Korvel takes is asked on a terminal, also on a server with no display.
void TestStartup::helpAndVersionNeedNoDisplay() {
    Profile profile = makeProfile("help");
    for (const QString asked : {"--help", "--version"}) {
        Korvel korvel(profile, {asked}, {"DISPLAY=", "WAYLAND_DISPLAY="});
        QVERIFY(korvel.finish(20000));
        QVERIFY2(korvel.process.exitCode() == 0, korvel.log.constData());
        const QByteArray said = korvel.process.readAllStandardOutput();
        if (asked == "--help")
            QVERIFY2(said.contains("korvel --export PROJECT OUTPUT") && said.contains("korvel --farm"), said.constData());
        else
            QVERIFY2(said.startsWith("Korvel "), said.constData());
    }
}

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestStartup");
    korvel::test::requireDisplay();
    QCoreApplication app(argc, argv);
    TestStartup tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_startup.moc"
