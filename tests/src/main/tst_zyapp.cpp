#include "main/project-file.h"
#include "main/qssmanager.h"
#include "main/startup-plan.h"
#include "main/termination-watcher.h"
#include "main/zyapp.h"
#include "main/zytranslator.h"
#include "support/test-main.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

namespace {

// Two small projects of the current layout.
const QByteArray kSaved = "<Tamsel Version=\"1.0.0\" Archived=\"0\"><Render/></Tamsel>";
const QByteArray kNewer = "<Tamsel Version=\"1.0.0\" Archived=\"0\"><Render/><Preview/></Tamsel>";

void writeFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What the store holds on disk, not in memory.
QString savedConfig(const char* key) {
    QSettings ini(QString::fromStdString(bg::iface()->configFilePath()), QSettings::IniFormat);
    return ini.value(key, "<missing>").toString();
}

} // namespace

class TestZyApp : public QObject {
    Q_OBJECT
private slots:
    void initializeShowsAWindow();
    void planStartup_data();
    void planStartup();
    void resumeOpensTheCopyAsTheModifiedProject();
    void resumeWithoutAKnownProjectStaysUntitled();
    void aCopyThatCannotBeReadIsNotTrusted();
    void discardDeletesTheCopy();
    void onlyDiscardDeletesTheCopy_data();
    void onlyDiscardDeletesTheCopy();
    void everyCopyPutOffIsOfferedAgain();
    void aCopyOlderThanItsProjectSaysSo();
    void pendingCopyIsOfferedInsteadOfTheCommandLine();
    void proxyText_data();
    void proxyText();
    void proxyIsApplied();
    void styleSheetScaling_data();
    void styleSheetScaling();
    void layoutScaling();
    // Last: the signal ends the application's event loops.
    void aLogoutKeepsUnsavedWork();
    void aSignalWhileNothingIsWrittenEndsAtOnce();
};

void TestZyApp::initializeShowsAWindow() {
    ZyApp* app = ZyApp::instance();
    QVERIFY(app);
    QVERIFY(app->isPrimary());
    QVERIFY(app->initialize());
    QVERIFY(app->mainWindow());
    QVERIFY(QTest::qWaitForWindowExposed(app->mainWindow()));
    QString home = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(home) + R"(/zy_\d{8}_\d{6}$)")
                 .match(app->projectPath())
                 .hasMatch(),
             qPrintable(app->projectPath()));
    QVERIFY(app->currentProjectPath().isEmpty()); // untitled: no file yet
    QVERIFY(zya::UndoController::instance()->isClean());
}

void TestZyApp::planStartup_data() {
    QString dir = korvel::test::workFolder("plan");
    writeFile(dir + "/~temp_a.zya2", "x");
    writeFile(dir + "/b.zya2", "x");
    writeFile(dir + "/c.zya", "x");
    writeFile(dir + "/d.txt", "x");
    QTest::addColumn<QString>("autoSave");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("recovery");
    QTest::addColumn<QString>("open");
    QTest::newRow("nothing") << QString() << QStringList() << QString() << QString();
    QTest::newRow("pending copy first") << dir + "/~temp_a.zya2" << QStringList {dir + "/b.zya2"}
                                        << dir + "/~temp_a.zya2" << dir + "/b.zya2";
    QTest::newRow("vanished copy") << dir + "/~temp_gone.zya2" << QStringList {dir + "/b.zya2"} << QString()
                                   << dir + "/b.zya2";
    QTest::newRow("older format") << QString() << QStringList {dir + "/c.zya"} << QString() << dir + "/c.zya";
    QTest::newRow("other suffix") << QString() << QStringList {dir + "/d.txt"} << QString() << QString();
    QTest::newRow("missing file") << QString() << QStringList {dir + "/none.zya2"} << QString() << QString();
    QTest::newRow("only the first counts") << QString() << QStringList {dir + "/d.txt", dir + "/b.zya2"}
                                           << QString() << QString();
}

void TestZyApp::planStartup() {
    QFETCH(QString, autoSave);
    QFETCH(QStringList, arguments);
    QFETCH(QString, recovery);
    QFETCH(QString, open);
    StartupPlan plan = ::planStartup(autoSave, arguments);
    QCOMPARE(plan.recoveryPath, recovery);
    QCOMPARE(plan.projectToOpen, open);
}

// Recovery reads the copy and opens it, modified, as the project it was
// made of; no file of the user's is written until the user saves.
void TestZyApp::resumeOpensTheCopyAsTheModifiedProject() {
    QString dir = korvel::test::workFolder("resume");
    writeFile(dir + "/film.zya2", kSaved);
    writeFile(dir + "/film.v2.zya2", kSaved);
    const QString copy = dir + "/~temp_film.v2.zya2";
    QCOMPARE(project::autoSavePath(dir + "/film.v2.zya2"), copy);
    writeFile(copy, kNewer);
    bg::iface()->configSet("autoSavePath", copy.toStdString());
    bg::iface()->configSet("autoSaveProject", (dir + "/film.v2.zya2").toStdString());
    ZyApp::instance()->resumeAutoSave(true, copy);
    QCOMPARE(readFile(dir + "/film.zya2"), kSaved);
    QCOMPARE(readFile(dir + "/film.v2.zya2"), kSaved);
    QCOMPARE(readFile(copy), kNewer); // still pending: a crash now offers it again
    QCOMPARE(ZyApp::instance()->currentProjectPath(), dir + "/film.v2.zya2");
    QVERIFY(!zya::UndoController::instance()->isClean());
    QCOMPARE(QString::fromStdString(bg::configText("autoSavePath")), copy);
    // The user's own Save writes it, and only then does the copy go.
    QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
    QVERIFY(readFile(dir + "/film.v2.zya2").contains("<Preview/>"));
    QCOMPARE(readFile(dir + "/film.zya2"), kSaved);
    QVERIFY(!QFile::exists(copy));
    QCOMPARE(savedConfig("autoSavePath"), QString());
    QVERIFY(zya::UndoController::instance()->isClean());
}

// A copy of a never-saved project, and one recorded before copies named
// their project (its name cut at the first dot could be another project's),
// come back untitled: Save asks where, and nothing is written beside them.
void TestZyApp::resumeWithoutAKnownProjectStaysUntitled() {
    QString dir = korvel::test::workFolder("untitled");
    writeFile(dir + "/film.zya2", kSaved);
    for (const QString& name : {QStringLiteral("~temp_zy_20250515_134501.zya2"), QStringLiteral("~temp_film.zya2")}) {
        writeFile(dir + "/" + name, kNewer);
        bg::iface()->configSet("autoSavePath", (dir + "/" + name).toStdString());
        bg::iface()->configSet("autoSaveProject", "");
        ZyApp::instance()->resumeAutoSave(true, dir + "/" + name);
        QVERIFY(ZyApp::instance()->currentProjectPath().isEmpty());
        QVERIFY2(!ZyApp::instance()->projectPath().contains("~temp_"), qPrintable(ZyApp::instance()->projectPath()));
        QVERIFY(!ZyApp::instance()->projectPath().startsWith(dir));
        QVERIFY(!zya::UndoController::instance()->isClean());
        QCOMPARE(readFile(dir + "/" + name), kNewer);
        QCOMPARE(readFile(dir + "/film.zya2"), kSaved);
    }
    zya::UndoController::instance()->setClean();
}

// A copy cut short (a full disk, a crash while it was written) is not
// trusted: nothing is opened from it, the user's file is untouched, the copy
// is set aside where no later automatic copy writes, and the project the
// program was started with opens.
void TestZyApp::aCopyThatCannotBeReadIsNotTrusted() {
    QString dir = korvel::test::workFolder("cut-copy");
    writeFile(dir + "/film.zya2", kSaved);
    writeFile(dir + "/other.zya2", kSaved);
    const QByteArray cut = "<Tamsel Version=\"1.0.0\" Archived=\"0\"><Render><scene><wid";
    writeFile(dir + "/~temp_film.zya2", cut);
    bg::iface()->configSet("autoSavePath", (dir + "/~temp_film.zya2").toStdString());
    bg::iface()->configSet("autoSaveProject", (dir + "/film.zya2").toStdString());
    QVERIFY(bg::iface()->configSave());
    QStringList boxes;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        boxes << box->text();
        const QString go = box->objectName() == QLatin1String("recoveryPrompt") ? QStringLiteral("继续") : QString();
        for (QAbstractButton* b : box->buttons()) {
            if (go.isEmpty() || b->text() == go) {
                b->click();
                return;
            }
        }
    });
    poll.start(50);
    ZyApp::instance()->startSession({dir + "/other.zya2"});
    QTRY_COMPARE_WITH_TIMEOUT(ZyApp::instance()->currentProjectPath(), dir + "/other.zya2", 10000);
    QCOMPARE(boxes.size(), 2);
    QVERIFY2(boxes.last().contains(dir + "/~temp_film.zya2.damaged"), qPrintable(boxes.last()));
    QCOMPARE(readFile(dir + "/film.zya2"), kSaved);
    QCOMPARE(readFile(dir + "/~temp_film.zya2.damaged"), cut);
    QVERIFY(!QFile::exists(dir + "/~temp_film.zya2"));
    QCOMPARE(savedConfig("autoSavePath"), QString());
}

void TestZyApp::discardDeletesTheCopy() {
    QString dir = korvel::test::workFolder("discard");
    writeFile(dir + "/film.zya2", kSaved);
    writeFile(dir + "/~temp_film.zya2", kNewer);
    bg::iface()->configSet("autoSavePath", (dir + "/~temp_film.zya2").toStdString());
    ZyApp::instance()->resumeAutoSave(false, dir + "/~temp_film.zya2");
    QVERIFY(!QFile::exists(dir + "/~temp_film.zya2"));
    QCOMPARE(readFile(dir + "/film.zya2"), kSaved);
    QCOMPARE(savedConfig("autoSavePath"), QString());
}

void TestZyApp::onlyDiscardDeletesTheCopy_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("named");
    QTest::newRow("Escape, another project named") << "escape" << "other.zya2";
    // A logout's SIGTERM ends the box's loop without a button, as closing
    // does. The project the copy was made of stays closed: its own next
    // copy, or closing it, would replace or delete the kept one.
    QTest::newRow("the box closed, the copy's own project named") << "close" << "film.zya2";
}

// The recovery question answered by anything but "discard" keeps the copy
// and its record for the next start; another project the program was
// started with opens (it was dropped).
void TestZyApp::onlyDiscardDeletesTheCopy() {
    QFETCH(QString, answer);
    QFETCH(QString, named);
    QString dir = korvel::test::workFolder("keep-" + answer);
    writeFile(dir + "/film.zya2", kSaved);
    writeFile(dir + "/other.zya2", kSaved);
    writeFile(dir + "/~temp_film.zya2", kNewer);
    bg::iface()->configSet("autoSavePath", (dir + "/~temp_film.zya2").toStdString());
    QVERIFY(bg::iface()->configSave());
    bool answered = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || answered || box->objectName() != QLatin1String("recoveryPrompt"))
            return;
        answered = true;
        if (answer == "escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->close();
    });
    poll.start(50);
    ZyApp::instance()->startSession({dir + "/" + named});
    QTRY_VERIFY_WITH_TIMEOUT(answered, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 5000);
    if (named == "other.zya2") {
        QTRY_COMPARE(ZyApp::instance()->currentProjectPath(), dir + "/other.zya2");
    } else {
        QTest::qWait(200);
        QVERIFY(ZyApp::instance()->currentProjectPath() != dir + "/film.zya2");
    }
    const QString kept = dir + "/~temp_film.zya2";
    QCOMPARE(readFile(kept), kNewer);
    QCOMPARE(readFile(dir + "/film.zya2"), kSaved);
    QCOMPARE(savedConfig("autoSaveKept"), kept);

    // Neither closing the open project nor working on the copy's own
    // project later in the session (its copies go beside the kept one, with
    // their own record; its save deletes only them) loses the kept copy or
    // its record, and the next start offers it.
    QVERIFY(ZyApp::instance()->maybeSave());
    QVERIFY(ZyApp::instance()->openProject(dir + "/film.zya2"));
    zya::UndoController::instance()->stack.push(new QUndoCommand("an edit"));
    QVERIFY(ZyApp::instance()->saveProject(true, false, QString()));
    QCOMPARE(savedConfig("autoSavePath"), dir + "/~temp_film-next.zya2");
    QCOMPARE(readFile(kept), kNewer);
    QVERIFY(ZyApp::instance()->saveProject(false, false, QString()));
    QVERIFY(!QFile::exists(dir + "/~temp_film-next.zya2"));
    QCOMPARE(readFile(kept), kNewer);
    QCOMPARE(savedConfig("autoSaveKept"), kept);
    answered = false;
    ZyApp::instance()->startSession({});
    QTRY_VERIFY_WITH_TIMEOUT(answered, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 5000);
    QCOMPARE(savedConfig("autoSaveKept"), kept); // put off once more
    for (const char* key : {"autoSavePath", "autoSaveKept", "autoSaveKeptProject"})
        bg::iface()->configSet(key, "");
    bg::iface()->configSave();
}

// Copies put off at two starts in turn (the second crash's copy asked about
// first) are each offered again at a later start, the last put off first.
void TestZyApp::everyCopyPutOffIsOfferedAgain() {
    QString dir = korvel::test::workFolder("put-off");
    for (const char* name : {"/~temp_a.zya2", "/~temp_b.zya2"})
        writeFile(dir + name, kNewer);
    QString answer = "escape";
    QStringList offered;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->objectName() != QLatin1String("recoveryPrompt"))
            return;
        offered << QFileInfo(box->text().section('\n', -1)).fileName();
        if (answer == "escape") {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        for (QAbstractButton* b : box->buttons())
            if (box->buttonRole(b) == QMessageBox::DestructiveRole)
                b->click();
    });
    poll.start(50);
    auto start = [&](const QString& pending, bool asked) {
        bg::iface()->configSet("autoSavePath", pending.toStdString());
        QVERIFY(bg::iface()->configSave());
        const int before = offered.size();
        ZyApp::instance()->startSession({});
        if (asked)
            QTRY_VERIFY_WITH_TIMEOUT(offered.size() > before, 10000);
        else
            QTest::qWait(3000); // well past the question's delay: nothing is asked
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 5000);
    };
    start(dir + "/~temp_a.zya2", true);
    start(dir + "/~temp_b.zya2", true);
    answer = "discard";
    start(QString(), true);
    start(QString(), true);
    start(QString(), false);
    QCOMPARE(offered, QStringList({"~temp_a.zya2", "~temp_b.zya2", "~temp_b.zya2", "~temp_a.zya2"}));
    QVERIFY(!QFile::exists(dir + "/~temp_a.zya2"));
    QVERIFY(!QFile::exists(dir + "/~temp_b.zya2"));
}

// A copy put off and its project saved since: the question says that going
// on with the copy goes back behind that save. A newer copy says nothing.
void TestZyApp::aCopyOlderThanItsProjectSaysSo() {
    QString dir = korvel::test::workFolder("older-copy");
    writeFile(dir + "/film.zya2", kSaved);
    writeFile(dir + "/~temp_film.zya2", kNewer);
    QStringList texts;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->objectName() != QLatin1String("recoveryPrompt"))
            return;
        texts << box->text();
        QTest::keyClick(box, Qt::Key_Escape); // put off again
    });
    poll.start(50);
    for (const int projectAge : {-60, 60}) { // seconds after the copy
        QFile project(dir + "/film.zya2");
        QVERIFY(project.open(QIODevice::ReadWrite));
        QVERIFY(project.setFileTime(QFileInfo(dir + "/~temp_film.zya2").lastModified().addSecs(projectAge),
                                    QFileDevice::FileModificationTime));
        project.close();
        bg::iface()->configSet("autoSavePath", (dir + "/~temp_film.zya2").toStdString());
        bg::iface()->configSet("autoSaveProject", (dir + "/film.zya2").toStdString());
        QVERIFY(bg::iface()->configSave());
        const int before = texts.size();
        ZyApp::instance()->startSession({});
        QTRY_VERIFY_WITH_TIMEOUT(texts.size() > before, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 5000);
    }
    QVERIFY2(!texts.first().contains(dir + "/film.zya2"), qPrintable(texts.first()));
    QVERIFY2(texts.last().contains(dir + "/film.zya2"), qPrintable(texts.last()));
    for (const char* key : {"autoSavePath", "autoSaveProject", "autoSaveKept", "autoSaveKeptProject"})
        bg::iface()->configSet(key, "");
    bg::iface()->configSave();
}

void TestZyApp::pendingCopyIsOfferedInsteadOfTheCommandLine() {
    QString dir = korvel::test::workFolder("prompt");
    writeFile(dir + "/film.zya2", kSaved);
    writeFile(dir + "/~temp_film.zya2", kNewer);
    writeFile(dir + "/other.zya2", kSaved);
    bg::iface()->configSet("autoSavePath", (dir + "/~temp_film.zya2").toStdString());
    bg::iface()->configSet("autoSaveProject", (dir + "/film.zya2").toStdString());

    QString title, text;
    bool answered = false;
    // The prompt runs its own event loop; answer it from inside that loop.
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || answered)
            return;
        title = box->windowTitle();
        text = box->text();
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == QStringLiteral("继续")) {
                answered = true;
                b->click();
            }
        }
    });
    poll.start(50);
    ZyApp::instance()->startSession({dir + "/other.zya2"});
    QTRY_VERIFY_WITH_TIMEOUT(answered, 5000);
    QTRY_COMPARE(ZyApp::instance()->currentProjectPath(), dir + "/film.zya2");
    QCOMPARE(title, QStringLiteral("提示"));
    QVERIFY2(text.contains(dir + "/~temp_film.zya2"), qPrintable(text));
    QCOMPARE(readFile(dir + "/film.zya2"), kSaved);
    QVERIFY(!zya::UndoController::instance()->isClean());
    zya::UndoController::instance()->setClean();
}

void TestZyApp::proxyText_data() {
    QTest::addColumn<bool>("useSystem");
    QTest::addColumn<QByteArray>("system");
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("system without proxy") << true << QByteArray() << QByteArray("h") << QByteArray("1")
                                          << QByteArray();
    QTest::newRow("system proxy") << true << QByteArray("cache:3128") << QByteArray() << QByteArray()
                                  << QByteArray("cache:3128");
    QTest::newRow("own proxy") << false << QByteArray("cache:3128") << QByteArray("proxy.lan")
                               << QByteArray("8080") << QByteArray("proxy.lan:8080");
    QTest::newRow("url without port") << false << QByteArray() << QByteArray("proxy.lan") << QByteArray()
                                      << QByteArray();
}

void TestZyApp::proxyText() {
    QFETCH(bool, useSystem);
    QFETCH(QByteArray, system);
    QFETCH(QByteArray, url);
    QFETCH(QByteArray, port);
    QFETCH(QByteArray, expected);
    QCOMPARE(ZyApp::chooseProxyText(useSystem, system, url, port), expected);
}

void TestZyApp::proxyIsApplied() {
    ZyApp* app = ZyApp::instance();
    // The test environment has no system proxy (main clears http_proxy).
    app->setUseSystemProxy(true);
    QCOMPARE(qgetenv("http_proxy"), QByteArray());
    QVERIFY(qEnvironmentVariableIsSet("http_proxy"));
    QCOMPARE(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);
    QCOMPARE(savedConfig("use_system_proxy"), QString("1"));

    app->setUseSystemProxy(false);
    app->setProxy("proxy.lan", "8080");
    QCOMPARE(qgetenv("http_proxy"), QByteArray("proxy.lan:8080"));
    QCOMPARE(bg::iface()->serviceSetting("http_proxy"), std::string("proxy.lan:8080"));
    QCOMPARE(QNetworkProxy::applicationProxy().hostName(), QString("proxy.lan"));
    QCOMPARE(int(QNetworkProxy::applicationProxy().port()), 8080);
    // The system proxy is what the desktop said at start-up, not what we set since.
    QCOMPARE(app->systemProxy(), QByteArray());
    app->setProxy("", "");
}

void TestZyApp::styleSheetScaling_data() {
    QTest::addColumn<double>("scale");
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("96 dpi") << 1.0 << "width: 12px; margin: 7px;" << "width: 12px; margin: 7px;";
    QTest::newRow("144 dpi") << 1.5 << "width: 12px; margin: 7px;" << "width: 18px; margin: 10.5px;";
    QTest::newRow("192 dpi") << 2.0 << "border: 1px solid #f5a623; padding: 0px 3px"
                             << "border: 2px solid #f5a623; padding: 0px 6px";
    QTest::newRow("no unit") << 1.5 << "font-weight: 700;" << "font-weight: 700;";
}

void TestZyApp::styleSheetScaling() {
    QFETCH(double, scale);
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(QssManager::scaleStyleSheet(in, scale), out);
}

void TestZyApp::layoutScaling() {
    QWidget top;
    auto* outer = new QVBoxLayout(&top);
    outer->setContentsMargins(10, 4, 10, 4);
    outer->setSpacing(6);
    auto* inner = new QHBoxLayout;
    inner->setContentsMargins(2, 2, 2, 2);
    outer->addLayout(inner);
    auto* child = new QWidget;
    auto* childLayout = new QHBoxLayout(child);
    childLayout->setContentsMargins(3, 3, 3, 3);
    inner->addWidget(child);
    QssManager::scaleLayouts(&top, 1.5);
    QCOMPARE(outer->contentsMargins(), QMargins(15, 6, 15, 6));
    QCOMPARE(outer->spacing(), 9);
    QCOMPARE(inner->contentsMargins(), QMargins(3, 3, 3, 3));
    QCOMPARE(childLayout->contentsMargins(), QMargins(4, 4, 4, 4));
}

// A logout's SIGTERM with work not saved: before Korvel ends, the work goes
// into the automatic copy, which the next start offers (it was lost back to
// the last 30-second copy, or entirely).
void TestZyApp::aLogoutKeepsUnsavedWork() {
    const QString dir = korvel::test::workFolder("logout");
    const QString film = dir + "/film.zya2";
    writeFile(film, kSaved);
    QVERIFY(ZyApp::instance()->openProject(film));
    zya::UndoController::instance()->stack.push(new QUndoCommand("an edit"));
    const QString copy = project::autoSavePath(film);
    QVERIFY(!QFile::exists(copy));
    ::raise(SIGTERM);
    QTRY_VERIFY(QFile::exists(copy));
    QCOMPARE(savedConfig("autoSavePath"), copy);
    QCOMPARE(savedConfig("autoSaveProject"), film);
    QCOMPARE(readFile(film), kSaved);
}

// While a command-line export reads its project, the event loop where
// signals are heard does not run: SIGTERM then ends the process at once,
// with the status of an export stopped by it.
void TestZyApp::aSignalWhileNothingIsWrittenEndsAtOnce() {
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        TerminationWatcher::setQuitAtOnce(true);
        ::raise(SIGTERM);
        ::_exit(0); // the signal was only noted
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 128 + SIGTERM);
}

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestZyApp");
    korvel::test::requireDisplay();
    qunsetenv("http_proxy");
    qunsetenv("HTTP_PROXY");
    // A name of its own, so the guard never meets a real Korvel.
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-zyapp-%1").arg(getpid()));
    ZyApp app(argc, argv);
    ZyTransLator translator;
    app.installTranslator(&translator);
    TestZyApp tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_zyapp.moc"
