// Korvel in the desktop session: a project opened from the file manager while
// Korvel runs goes to the running window (a real second start of the program
// hands it over), the user's projects show in the desktop's recent files, and
// background exports keep the machine awake and say when they end.
#include "main/desktop-integration.h"
#include "main/export-jobs.h"
#include "main/recent-files.h"
#include "main/zyapp.h"
#include "main/zytranslator.h"
#include "support/file-size-limit.h"
#include "support/test-main.h"
#include "undo/undo-controller.h"

#include <QDBusConnection>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QUrl>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kProject = "<Tamsel Version=\"1.0.0\" Archived=\"0\"><Render/></Tamsel>";

void writeFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Another program's entry, as GTK writes it.
const QByteArray kOtherEntry =
    "<bookmark href=\"file:///home/u/letter.odt\" added=\"2026-01-02T10:00:00.000001Z\" "
    "modified=\"2026-01-02T10:00:00.000001Z\" visited=\"2026-01-02T10:00:00.000001Z\">\n"
    "    <info>\n"
    "      <metadata owner=\"http://freedesktop.org\">\n"
    "        <mime:mime-type type=\"application/vnd.oasis.opendocument.text\"/>\n"
    "        <bookmark:applications>\n"
    "          <bookmark:application name=\"LibreOffice\" exec=\"&apos;soffice %u&apos;\" "
    "modified=\"2026-01-02T10:00:00Z\" count=\"3\"/>\n"
    "        </bookmark:applications>\n"
    "      </metadata>\n"
    "    </info>\n"
    "  </bookmark>";

QByteArray xbelWith(const QByteArray& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<xbel version=\"1.0\"\n"
           "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
           "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n>\n  " +
           entries + "\n</xbel>";
}

struct Bookmark {
    QString href, mime, app, exec;
    int count = 0;
};

// Every bookmark of the file, read as GTK would.
QList<Bookmark> bookmarks(const QString& xbel, bool* valid) {
    QList<Bookmark> out;
    QFile file(xbel);
    *valid = file.open(QIODevice::ReadOnly);
    QXmlStreamReader reader(&file);
    const QString ns = "http://www.freedesktop.org/standards/desktop-bookmarks";
    while (*valid && !reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == QLatin1String("bookmark") && reader.namespaceUri().isEmpty())
            out.append({reader.attributes().value("href").toString(), {}, {}, {}, 0});
        else if (reader.name() == QLatin1String("mime-type") && !out.isEmpty())
            out.last().mime = reader.attributes().value("type").toString();
        else if (reader.name() == QLatin1String("application") && reader.namespaceUri() == ns && !out.isEmpty() &&
                 reader.attributes().value("name") == QLatin1String("Korvel")) {
            out.last().app = "Korvel";
            out.last().exec = reader.attributes().value("exec").toString();
            out.last().count = reader.attributes().value("count").toInt();
        }
    }
    *valid = *valid && !reader.hasError();
    return out;
}

QString href(const QString& path) { return QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded()); }

// The desktop's notification and screen-saver services, as the session
// would offer them, on a private bus.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList bodies;
public slots:
    uint Notify(const QString&, uint, const QString&, const QString&, const QString& body, const QStringList&,
                const QVariantMap&, int) {
        bodies << body;
        return 7;
    }
};

class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    int inhibits = 0;
    QList<uint> released;
public slots:
    uint Inhibit(const QString&, const QString&) { return uint(++inhibits * 100); }
    void UnInhibit(uint cookie) { released << cookie; }
};

// The private session bus main() starts; 0 when there is none.
pid_t g_busPid = 0;

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void secondStartHandsItsFileOver_data();
    void secondStartHandsItsFileOver();
    void aBusyEditorStillAnswersASecondStart();
    void recentFilesKeepOtherProgramsEntries();
    void recentFilesCapOnlyOurOwn();
    void exportJobsKeepTheMachineAwakeAndTellTheirEnd();
    void snapshotsOfAKilledEditorAreSwept();
};

void TestDesktop::initTestCase() {
    QVERIFY(ZyApp::instance()->isPrimary());
    QVERIFY(ZyApp::instance()->initialize());
    new DesktopIntegration(ZyApp::instance());
}

void TestDesktop::secondStartHandsItsFileOver_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("answer");   // to the save question; empty: it must not come
    QTest::addColumn<bool>("refused");     // the "cannot open" message must come
    QTest::addColumn<QString>("expected"); // the project open afterwards
    QTest::newRow("another project, saved first") << QStringList {"b.zya2"} << "save" << false << "b.zya2";
    QTest::newRow("another project, cancelled") << QStringList {"b.zya2"} << "cancel" << false << "a.zya2";
    QTest::newRow("the open project") << QStringList {"a.zya2"} << "" << false << "a.zya2";
    QTest::newRow("not a project") << QStringList {"notes.zya2"} << "" << true << "a.zya2";
    QTest::newRow("no such file") << QStringList {"gone.zya2"} << "" << true << "a.zya2";
    QTest::newRow("a folder") << QStringList {"folder.zya2"} << "" << true << "a.zya2";
    QTest::newRow("no file") << QStringList {} << "" << false << "a.zya2";
}

void TestDesktop::secondStartHandsItsFileOver() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, answer);
    QFETCH(bool, refused);
    QFETCH(QString, expected);
    ZyApp* app = ZyApp::instance();
    const QString dir = korvel::test::workFolder("handover");
    writeFile(dir + "/a.zya2", kProject);
    writeFile(dir + "/b.zya2", kProject);
    writeFile(dir + "/notes.zya2", "shopping: milk, bread");
    QDir().mkpath(dir + "/folder.zya2");
    zya::UndoController::instance()->setClean();
    QVERIFY(app->openProject(dir + "/a.zya2"));
    zya::UndoController::instance()->setModified();

    QStringList dialogs;
    QString refusal;
    QTimer answering;
    connect(&answering, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || dialogs.contains(box->objectName()))
            return;
        dialogs << box->objectName();
        if (box->objectName() == "openRequestRefused")
            refusal = box->text();
        for (QAbstractButton* button : box->buttons()) {
            const QMessageBox::ButtonRole role = box->buttonRole(button);
            if ((answer == "save" && role == QMessageBox::AcceptRole) ||
                (answer == "cancel" && role == QMessageBox::RejectRole) ||
                box->objectName() == "openRequestRefused")
                QTimer::singleShot(0, qobject_cast<QPushButton*>(button), &QPushButton::click);
        }
    });
    answering.start(50);

    QSignalSpy activations(app, &SingleApplication::activationRequested);
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    second.setProcessEnvironment(env);
    second.setWorkingDirectory(dir); // a relative name, as a shell passes it
    second.start(KORVEL_BINARY, arguments);
    // The second start ends at once, without waiting for the question.
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 30000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    const QByteArray log = second.readAllStandardError();
    QVERIFY2(log.contains("already running") && !log.contains("started, project"), log.constData());

    // The handling is done once every receiver of the request has returned.
    QTRY_COMPARE_WITH_TIMEOUT(activations.count(), 1, 10000);
    QCOMPARE(activations.first().first().toString(), arguments.isEmpty() ? QString() : dir + "/" + arguments.first());
    QCOMPARE(dialogs.contains("saveQuestion"), !answer.isEmpty());
    QCOMPARE(dialogs.contains("openRequestRefused"), refused);
    // Only a name that leads nowhere is said not to exist.
    if (refused) {
        const QString noSuchFile = QCoreApplication::translate("DesktopIntegration", "titlebar.FileNoExist");
        QVERIFY2(refusal.startsWith(noSuchFile) == (arguments.first() == "gone.zya2"), qPrintable(refusal));
    }
    QCOMPARE(app->currentProjectPath(), dir + "/" + expected);
    // Nothing was lost: the work was saved first, or is still open and modified.
    if (answer == "save")
        QVERIFY(readFile(dir + "/a.zya2") != kProject);
    else
        QVERIFY(!zya::UndoController::instance()->isClean());
    zya::UndoController::instance()->setClean();
}

// The running editor busy for seconds with what a second start asked (a
// large project opening): the second start is still answered and ends,
// rather than taking over as a second editor.
void TestDesktop::aBusyEditorStillAnswersASecondStart() {
    ZyApp* app = ZyApp::instance();
    const QMetaObject::Connection busy =
        connect(app, &SingleApplication::activationRequested, this, [] { QThread::msleep(7000); });
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    second.setProcessEnvironment(env);
    second.start(KORVEL_BINARY, QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 30000);
    disconnect(busy);
    if (second.state() != QProcess::NotRunning) {
        second.kill();
        second.waitForFinished();
    }
    const QByteArray log = second.readAllStandardError();
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(log.contains("already running") && !log.contains("started, project"), log.constData());
}

// Through the user's Save: the desktop's file gains the project and keeps
// what other programs put there; a file that cannot be parsed stays as it is.
void TestDesktop::recentFilesKeepOtherProgramsEntries() {
    ZyApp* app = ZyApp::instance();
    const QString dir = korvel::test::workFolder("recent");
    const QString xbel = recent::defaultFile();
    QVERIFY2(xbel.startsWith(QDir::homePath()), qPrintable(xbel)); // the test's own home
    QDir().mkpath(QFileInfo(xbel).absolutePath());
    writeFile(xbel, xbelWith(kOtherEntry));

    const QString project = dir + "/my film.zya2";
    QVERIFY(app->createProject(project, 1280, 720, false));
    QVERIFY(app->saveProject(false, false, QString()));
    // The 30-second copy is not the user's file.
    zya::UndoController::instance()->setModified();
    QVERIFY(app->saveProject(true, false, QString()));

    bool valid = false;
    QList<Bookmark> list = bookmarks(xbel, &valid);
    QVERIFY2(valid, readFile(xbel).constData());
    QVERIFY2(readFile(xbel).contains(kOtherEntry.mid(0, kOtherEntry.indexOf('>') + 1)), readFile(xbel).constData());
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0].href, QString("file:///home/u/letter.odt"));
    QCOMPARE(list[0].mime, QString("application/vnd.oasis.opendocument.text"));
    QCOMPARE(list[1].href, href(project));
    QVERIFY(list[1].href.contains("my%20film.zya2"));
    QCOMPARE(list[1].mime, QString("application/x-korvel-project"));
    QCOMPARE(list[1].exec, QString("'korvel %u'"));
    QCOMPARE(list[1].count, 2);
    QVERIFY(readFile(xbel).contains("name=\"LibreOffice\""));

    for (const QByteArray& broken : {xbelWith(kOtherEntry).replace("</xbel>", ""), QByteArray("<html><body/></html>")}) {
        writeFile(xbel, broken);
        QVERIFY(app->saveProject(false, false, QString()));
        QCOMPARE(readFile(xbel), broken);
    }
}

void TestDesktop::recentFilesCapOnlyOurOwn() {
    const QString dir = korvel::test::workFolder("recent-cap");
    const QString xbel = dir + "/recently-used.xbel";
    writeFile(xbel, xbelWith(kOtherEntry));
    const int added = recent::kMaxOwnEntries + 5;
    for (int i = 0; i < added; ++i)
        QVERIFY(recent::addProject(dir + QString("/p%1.zya2").arg(i), xbel));
    bool valid = false;
    const QList<Bookmark> list = bookmarks(xbel, &valid);
    QVERIFY(valid);
    QCOMPARE(list.size(), recent::kMaxOwnEntries + 1);
    QCOMPARE(list.first().href, QString("file:///home/u/letter.odt"));
    QCOMPARE(list.last().href, href(dir + QString("/p%1.zya2").arg(added - 1)));
    QVERIFY(readFile(xbel).contains(href(dir + QString("/p%1.zya2").arg(added - recent::kMaxOwnEntries)).toUtf8()));
    QVERIFY(!readFile(xbel).contains(href(dir + QString("/p%1.zya2").arg(added - recent::kMaxOwnEntries - 1)).toUtf8()));

    // A disk that fills up while the list is written leaves it as it was.
    const QByteArray before = readFile(xbel);
    {
        korvel::test::FileSizeLimit full(rlim_t(before.size() / 2));
        QVERIFY(!recent::addProject(dir + "/one-more.zya2", xbel));
    }
    QCOMPARE(readFile(xbel), before);
    QCOMPARE(QDir(dir).entryList({"recently-used.xbel*"}, QDir::Files | QDir::Hidden), QStringList {"recently-used.xbel"});
}

// While a job runs the session is asked not to sleep; the inhibition is
// released when the queue is empty, and each end is a notification naming
// the file. Without those services the jobs end all the same.
void TestDesktop::exportJobsKeepTheMachineAwakeAndTellTheirEnd() {
    if (!g_busPid)
        QSKIP("no dbus-daemon for a private session bus");
    QDBusConnection desktop = QDBusConnection::connectToBus(QString::fromUtf8(qgetenv("DBUS_SESSION_BUS_ADDRESS")),
                                                            QStringLiteral("fake-desktop"));
    QVERIFY(desktop.isConnected());
    FakeNotifications notifications;
    FakeScreenSaver saver;
    QVERIFY(desktop.registerObject("/org/freedesktop/Notifications", &notifications, QDBusConnection::ExportAllSlots));
    QVERIFY(desktop.registerObject("/org/freedesktop/ScreenSaver", &saver, QDBusConnection::ExportAllSlots));
    QVERIFY(desktop.registerService("org.freedesktop.Notifications"));
    QVERIFY(desktop.registerService("org.freedesktop.ScreenSaver"));

    // A stand-in for the exporting child: it tells its progress and writes the file.
    const QString dir = korvel::test::workFolder("jobs");
    const QString child = dir + "/child.sh";
    writeFile(child, "#!/bin/sh\necho progress 1 2\nsleep 1\necho progress 2 2\necho movie > \"$3\"\n");
    QVERIFY(QFile::setPermissions(child, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    ExportJobQueue queue;
    queue.setProgram(child);
    const int first = queue.add(QString(), dir + "/first.mp4", {});
    const int second = queue.add(QString(), dir + "/second.mp4", {});
    QTRY_VERIFY_WITH_TIMEOUT(queue.job(second)->state == ExportJob::Done, 30000);
    QCOMPARE(int(queue.job(first)->state), int(ExportJob::Done));
    // One inhibition for the whole queue, released once with its own cookie.
    QTRY_COMPARE(saver.released, QList<uint> {100});
    QCOMPARE(saver.inhibits, 1);
    QTRY_COMPARE(notifications.bodies.size(), 2);
    QVERIFY(notifications.bodies[0].contains("first.mp4"));
    QVERIFY(notifications.bodies[1].contains("second.mp4"));

    // The services gone: the job ends as well, only the log says so.
    desktop.unregisterService("org.freedesktop.Notifications");
    desktop.unregisterService("org.freedesktop.ScreenSaver");
    const int third = queue.add(QString(), dir + "/third.mp4", {});
    QTRY_VERIFY_WITH_TIMEOUT(queue.job(third)->state == ExportJob::Done, 30000);
    QCOMPARE(readFile(dir + "/third.mp4"), QByteArray("movie\n"));
    QCOMPARE(notifications.bodies.size(), 2);
    QCOMPARE(saver.inhibits, 1);
}

// The project snapshots of an editor killed while it exported are removed by
// the next editor's first export; a running editor's are left alone.
void TestDesktop::snapshotsOfAKilledEditorAreSwept() {
    const pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    QVERIFY(ended > 0);
    QCOMPARE(waitpid(ended, nullptr, 0), ended);
    const QDir temp(QDir::tempPath());
    const QString stale = QStringLiteral("korvel-jobs-%1-AbC123").arg(ended);
    const QString running = QStringLiteral("korvel-jobs-%1-XyZ789").arg(getppid());
    const QString recent = QStringLiteral("korvel-jobs-%1-Recent").arg(ended);
    for (const QString& name : {stale, running, recent}) {
        QVERIFY(temp.mkpath(name + "/inner"));
        writeFile(temp.filePath(name + "/job-1.zya2"), kProject);
    }
    // Untouched for two days, but for the one of a minute ago.
    for (const QString& name : {stale, running}) {
        const struct timeval old[2] = {{time(nullptr) - 2 * 86400, 0}, {time(nullptr) - 2 * 86400, 0}};
        QCOMPARE(::utimes(QFile::encodeName(temp.filePath(name)).constData(), old), 0);
    }
    ExportJobQueue queue;
    const QString snapshot = queue.newSnapshotPath();
    QVERIFY(!snapshot.isEmpty());
    QVERIFY(QFileInfo(snapshot).fileName().startsWith("job-"));
    QVERIFY(QFileInfo(snapshot).absolutePath().contains(QStringLiteral("korvel-jobs-%1-").arg(getpid())));
    QVERIFY(!temp.exists(stale));
    QVERIFY(temp.exists(running + "/job-1.zya2"));
    QVERIFY(temp.exists(recent + "/job-1.zya2"));
    QVERIFY(QDir(temp.filePath(running)).removeRecursively());
    QVERIFY(QDir(temp.filePath(recent)).removeRecursively());
}

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestDesktop");
    // A private session bus, before anything in the process asks for one.
    if (FILE* bus = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r")) {
        char address[512] = {0};
        long pid = 0;
        if (std::fscanf(bus, "%511s %ld", address, &pid) == 2) {
            setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
            g_busPid = pid_t(pid);
        }
        pclose(bus);
    }
    korvel::test::requireDisplay();
    // A login name of its own keeps this guard apart from any real Korvel,
    // while a started korvel (same name, same user) meets it.
    setenv("USER", QStringLiteral("korvel-tst-desktop-%1").arg(getpid()).toUtf8().constData(), 1);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvel"));
    QCoreApplication::setApplicationName(QStringLiteral("Korvel"));
    ZyApp app(argc, argv);
    ZyTransLator translator;
    app.installTranslator(&translator);
    TestDesktop tc;
    const int status = QTest::qExec(&tc, argc, argv);
    if (g_busPid)
        ::kill(g_busPid, SIGTERM);
    return status;
}

#include "tst_desktop.moc"
