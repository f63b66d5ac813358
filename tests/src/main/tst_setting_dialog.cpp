#include "main/setting/setting-dialog.h"
#include "main/zyapp.h"
#include "main/zytranslator.h"
#include "media/media.h"
#include "support/test-main.h"
#include "value/interface.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

// The desktop proxy the test process starts with.
const QByteArray kSystemProxy = "http://proxy.example:3128";
constexpr int kWaitMs = 10000;

QString savedConfig(const char* key) {
    QSettings ini(QString::fromStdString(bg::iface()->configFilePath()), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    return ini.value(key, "<missing>").toString();
}

bool pactl(const QStringList& arguments, QString* out = nullptr) {
    QProcess p;
    p.start(QStringLiteral("pactl"), arguments);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return false;
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return true;
}

// Answers every modal message box that opens, noting its text.
class BoxAnswerer : public QObject {
public:
    QStringList texts;
    BoxAnswerer() {
        m_timer.setInterval(50);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            texts << box->text();
            QTest::mouseClick(box->buttons().value(0), Qt::LeftButton);
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
};

// Picks an item the way a user does: open the pop-up, click the row.
void choose(QComboBox* combo, int row) {
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    QVERIFY(QTest::qWaitForWindowExposed(view->window()));
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QTRY_VERIFY(!view->isVisible());
    QCOMPARE(combo->currentIndex(), row);
}

QStringList items(QComboBox* combo) {
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

template <class T> T* child(QWidget& dialog, const char* name) {
    T* w = dialog.findChild<T*>(QLatin1String(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

} // namespace

class TestSettingDialog : public QObject {
    Q_OBJECT
private slots:
    void languageAlwaysAsksForRestart_data();
    void languageAlwaysAsksForRestart();
    void microphoneChoiceIsStored();
    void missingMicrophoneFallsBackToDefault();
    void newSourceAppearsInTheList();
    void splitProxy_data();
    void splitProxy();
    void proxyIsShownAppliedAndStored_data();
    void proxyIsShownAppliedAndStored();
    void soundSettingsProgram_data();
    void soundSettingsProgram();
    void hardwareDecodingChoice();
};

void TestSettingDialog::languageAlwaysAsksForRestart_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("stored");
    QTest::newRow("the current language") << 1 << "English";
    QTest::newRow("the other language") << 0 << "简体中文";
}

void TestSettingDialog::languageAlwaysAsksForRestart() {
    QFETCH(int, row);
    QFETCH(QString, stored);
    bg::iface()->configSet("IsEnglish", "English");
    SettingDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* language = child<QComboBox>(dialog, "comboBox_lauguage");
    QCOMPARE(language->currentText(), QString("English"));
    BoxAnswerer answerer;
    choose(language, row);
    QTRY_COMPARE(answerer.texts, QStringList {"It takes effect after restarting the software"});
    QCOMPARE(savedConfig("IsEnglish"), stored);
    bg::iface()->configSet("IsEnglish", "English");
}

void TestSettingDialog::microphoneChoiceIsStored() {
    SettingDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* mic = child<QComboBox>(dialog, "comboBox_mic");
    const QStringList shown = items(mic);
    // The default item, then the test server's one microphone (no monitor of the null sink).
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown.at(0), QString("default"));
    choose(mic, 1);
    QCOMPARE(savedConfig("Micphone"), shown.at(1));
    QCOMPARE(savedConfig("DeviceId"), QString("korvel_sine"));
    {
        SettingDialog again; // the choice is what the next dialog shows
        QCOMPARE(child<QComboBox>(again, "comboBox_mic")->currentIndex(), 1);
    }
    choose(mic, 0);
    QCOMPARE(savedConfig("Micphone"), QString("default"));
    QCOMPARE(savedConfig("DeviceId"), QString("default"));
}

void TestSettingDialog::missingMicrophoneFallsBackToDefault() {
    bg::iface()->configSet("Micphone", "A microphone that was unplugged");
    SettingDialog dialog;
    QCOMPARE(child<QComboBox>(dialog, "comboBox_mic")->currentIndex(), 0);
    bg::iface()->configSet("Micphone", "default");
}

void TestSettingDialog::newSourceAppearsInTheList() {
    SettingDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* mic = child<QComboBox>(dialog, "comboBox_mic");
    const int before = mic->count();
    QString module;
    QVERIFY(pactl({"load-module", "module-sine-source", "source_name=extra_mic"}, &module));
    QTRY_COMPARE_WITH_TIMEOUT(mic->count(), before + 1, kWaitMs);
    // The new source may share its description with the first: its item still leads to it.
    const QStringList shown = items(mic);
    QCOMPARE(QSet<QString>(shown.begin(), shown.end()).size(), shown.size());
    choose(mic, mic->count() - 1);
    QCOMPARE(savedConfig("DeviceId"), QString("extra_mic"));
    QVERIFY(pactl({"unload-module", module}));
    QTRY_COMPARE_WITH_TIMEOUT(mic->count(), before, kWaitMs);
    QCOMPARE(mic->currentIndex(), 0); // the chosen source is gone
    bg::iface()->configSet("Micphone", "default");
}

void TestSettingDialog::splitProxy_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("parts");
    QTest::newRow("host and port") << "proxy.lan:3128" << QStringList {"proxy.lan", "3128"};
    QTest::newRow("no port") << "proxy.lan" << QStringList {"proxy.lan", ""};
    QTest::newRow("several colons") << "[::1]:8080" << QStringList {"[::1]:8080", ""};
    QTest::newRow("none") << "" << QStringList {"", ""};
}

void TestSettingDialog::splitProxy() {
    QFETCH(QString, text);
    QFETCH(QStringList, parts);
    QCOMPARE(SettingDialog::splitProxy(text), parts);
}

void TestSettingDialog::proxyIsShownAppliedAndStored_data() {
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QString>("readBack"); // use|url|port|http_proxy as a fresh start sees them
    QTest::newRow("system proxy") << true << "1|manual.lan|8080|proxy.example:3128";
    QTest::newRow("own proxy") << false << "0|manual.lan|8080|manual.lan:8080";
}

void TestSettingDialog::proxyIsShownAppliedAndStored() {
    QFETCH(bool, tick);
    QFETCH(QString, readBack);
    ZyApp* app = ZyApp::instance();
    app->setUseSystemProxy(false);
    app->setProxy("manual.lan", "8080");
    SettingDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* box = child<QCheckBox>(dialog, "checkBox_use_system_proxy");
    auto* url = child<QLineEdit>(dialog, "lineEdit_proxy_url");
    auto* port = child<QLineEdit>(dialog, "lineEdit_proxy_port");
    QVERIFY(url->isHidden() && port->isHidden());
    QVERIFY(!box->isChecked());
    QCOMPARE(url->text(), QString("manual.lan"));
    QCOMPARE(port->text(), QString("8080"));
    QVERIFY(url->isEnabled() && port->isEnabled());

    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    QVERIFY(box->isChecked());
    QCOMPARE(url->text(), QString("proxy.example"));
    QCOMPARE(port->text(), QString("3128"));
    QVERIFY(!url->isEnabled() && !port->isEnabled());
    if (!tick) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        QCOMPARE(url->text(), QString("manual.lan"));
        QVERIFY(url->isEnabled());
    }
    dialog.close();
    QCOMPARE(app->useSystemProxy(), tick);
    QCOMPARE(savedConfig("use_system_proxy"), QString(tick ? "1" : "0"));
    QCOMPARE(savedConfig("proxy_url"), QString("manual.lan"));
    QCOMPARE(savedConfig("proxy_port"), QString("8080"));

    // What the next start makes of the stored keys.
    QProcess next;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("http_proxy", QString::fromUtf8(kSystemProxy));
    next.setProcessEnvironment(env);
    next.start(QCoreApplication::applicationFilePath(), {"--read-proxy"});
    QVERIFY(next.waitForFinished(60000));
    QCOMPARE(next.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(next.readAllStandardOutput()).trimmed(), readBack);
    app->setUseSystemProxy(false);
    app->setProxy("", "");
}

void TestSettingDialog::soundSettingsProgram_data() {
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("started"); // what the started program heard, or empty for the message
    QTest::newRow("both") << QStringList {"pavucontrol", "gnome-control-center"} << "pavucontrol";
    QTest::newRow("desktop settings only") << QStringList {"gnome-control-center"} << "gnome-control-center sound";
    QTest::newRow("none") << QStringList {} << QString();
}

void TestSettingDialog::soundSettingsProgram() {
    QFETCH(QStringList, installed);
    QFETCH(QString, started);
    const QString bin = korvel::test::workFolder("bin");
    const QString marker = bin + "/started";
    for (const QString& name : installed) {
        QFile script(bin + "/" + name);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"%1 $*\" > '%2'\n").arg(name, marker).toUtf8());
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.toUtf8());
    SettingDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    BoxAnswerer answerer;
    QTest::mouseClick(child<QToolButton>(dialog, "toolButton_mic"), Qt::LeftButton);
    qputenv("PATH", path);
    if (started.isEmpty()) {
        QTRY_COMPARE(answerer.texts.size(), 1);
        QVERIFY2(answerer.texts.at(0).contains("No sound settings program"), qPrintable(answerer.texts.at(0)));
        QVERIFY(!QFile::exists(marker));
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), kWaitMs);
    auto heard = [&marker] {
        QFile f(marker);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(heard(), started, kWaitMs);
    QVERIFY(answerer.texts.isEmpty());
}

// The choice in the window is stored and governs files opened next, until a
// run's --hwaccel chose otherwise: that holds for the run, whatever the window says.
void TestSettingDialog::hardwareDecodingChoice() {
    bg::iface()->configSet(hwaccel::kConfigKey, "auto");
    hwaccel::apply();
    SettingDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* combo = child<QComboBox>(dialog, "comboBox_hwaccel");
    QCOMPARE(items(combo), QStringList({"Automatic", "Off"}));
    QCOMPARE(combo->currentIndex(), 0);
    choose(combo, 1);
    QCOMPARE(savedConfig(hwaccel::kConfigKey), QString("off"));
    QVERIFY(ff::hardwareDecoding() == ff::HardwareDecoding::None);
    {
        SettingDialog again;
        QCOMPARE(child<QComboBox>(again, "comboBox_hwaccel")->currentIndex(), 1);
    }
    // Written by hand in the command line's word, it means off as well.
    bg::iface()->configSet(hwaccel::kConfigKey, "none");
    hwaccel::apply();
    QVERIFY(ff::hardwareDecoding() == ff::HardwareDecoding::None);

    std::string error;
    QByteArray words[] = {"korvel", "--hwaccel=gpu"};
    char* bad[] = {words[0].data(), words[1].data(), nullptr};
    int badCount = 2;
    QVERIFY(!hwaccel::takeOption(badCount, bad, &error));
    QVERIFY2(QByteArray::fromStdString(error).contains("auto or none"), error.c_str());
    QByteArray line[] = {"korvel", "--export", "a.kvl", "--hwaccel", "auto", "b.mp4"};
    char* argv[] = {line[0].data(), line[1].data(), line[2].data(), line[3].data(), line[4].data(), line[5].data(),
                    nullptr};
    int argc = 6;
    QVERIFY(hwaccel::takeOption(argc, argv, &error));
    QCOMPARE(argc, 4);
    QCOMPARE(QByteArray(argv[3]), QByteArray("b.mp4"));
    QVERIFY(!argv[4]);
    hwaccel::apply();
    QVERIFY(ff::hardwareDecoding() == ff::HardwareDecoding::Auto);
    choose(combo, 1); // stored for later runs only
    QCOMPARE(savedConfig(hwaccel::kConfigKey), QString("off"));
    QVERIFY(ff::hardwareDecoding() == ff::HardwareDecoding::Auto);
}

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--read-proxy") == 0) {
        // A fresh start in the parent's folders: what loadProxySettings() reads back.
        QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-setting-read-%1").arg(getpid()));
        ZyApp app(argc, argv);
        app.loadProxySettings();
        std::printf("%d|%s|%s|%s\n", app.useSystemProxy() ? 1 : 0, app.proxyUrl().constData(),
                    app.proxyPort().constData(), qgetenv("http_proxy").constData());
        return 0;
    }
    korvel::test::prepareEnvironment("TestSettingDialog");
    korvel::test::requireDisplay();
    qputenv("http_proxy", kSystemProxy);
    qunsetenv("HTTP_PROXY");
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-setting-%1").arg(getpid()));
    ZyApp app(argc, argv);
    bg::iface()->configSet("IsEnglish", "English");
    ZyTransLator translator;
    app.installTranslator(&translator);
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || !pactl({"info"})) {
        std::fprintf(stderr, "no sound server: run under scripts/test-env\n");
        return korvel::test::environmentRequired() ? 1 : 77;
    }
    TestSettingDialog tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_setting_dialog.moc"
