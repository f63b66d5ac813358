#include "capture/device-enumerator.h"
#include "support/test-main.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

// Generous: the machines that run the tests are slow and shared.
constexpr int kSignalWaitMs = 10000;

// Runs pactl against the test's server (PULSE_SERVER comes from the environment);
// false when it failed. Its output goes to *out.
bool pactl(const QStringList& arguments, QString* out = nullptr) {
    QProcess p;
    p.start(QStringLiteral("pactl"), arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << "pactl" << arguments << "failed:" << p.readAllStandardError();
        return false;
    }
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return true;
}

QStringList ids(const QList<cap::AudioDevice>& devices) {
    QStringList out;
    for (const cap::AudioDevice& d : devices)
        out << d.id;
    return out;
}

// Waits for `spy` until `done` holds; every signal gives it another look.
template <class Done> bool waitUntil(QSignalSpy& spy, Done done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > kSignalWaitMs)
            return false;
        spy.wait(500);
    }
    return true;
}

// A loaded module, unloaded again when the test case ends however it ends.
struct Module {
    QString index;
    explicit Module(const QStringList& arguments) { pactl(QStringList {"load-module"} + arguments, &index); }
    ~Module() {
        if (!index.isEmpty())
            pactl({"unload-module", index});
    }
};

} // namespace

class TestDeviceEnumerator : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void listsAndDefaultsAtStart();
    void devicesFollowTheServer_data();
    void devicesFollowTheServer();
    void defaultSourceChangeIsReported();
    void missingServerNeitherHangsNorCrashes();
    void destroyedWhileTheServerTalks();
};

void TestDeviceEnumerator::initTestCase() {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || !pactl({"info"})) {
        if (korvel::test::environmentRequired())
            QFAIL("no sound server: run under scripts/test-env");
        QSKIP("no sound server (run under scripts/test-env)");
    }
}

void TestDeviceEnumerator::listsAndDefaultsAtStart() {
    cap::DeviceEnumerator devices;
    QVERIFY(devices.isConnected());
    const QStringList inputs = ids(devices.inputDevices());
    QVERIFY2(inputs.contains("korvel_sine"), qPrintable(inputs.join(", ")));
    // The null sink's monitor is not a microphone.
    QVERIFY2(!inputs.contains("korvel_null.monitor"), qPrintable(inputs.join(", ")));
    QVERIFY(ids(devices.outputDevices()).contains("korvel_null"));
    QCOMPARE(devices.defaultInputId(), QString("korvel_sine"));
    QCOMPARE(devices.defaultOutputId(), QString("korvel_null"));
    for (const cap::AudioDevice& d : devices.inputDevices())
        QVERIFY2(!d.name.isEmpty(), qPrintable(d.id));
}

void TestDeviceEnumerator::devicesFollowTheServer_data() {
    QTest::addColumn<QStringList>("load");
    QTest::addColumn<QString>("input");  // expected in the input list while loaded, or empty
    QTest::addColumn<QString>("output"); // expected in the output list while loaded, or empty
    QTest::newRow("sine source") << QStringList {"module-sine-source", "source_name=extra_mic"} << "extra_mic"
                                 << QString();
    QTest::newRow("null sink") << QStringList {"module-null-sink", "sink_name=extra"} << QString() << "extra";
}

void TestDeviceEnumerator::devicesFollowTheServer() {
    QFETCH(QStringList, load);
    QFETCH(QString, input);
    QFETCH(QString, output);
    cap::DeviceEnumerator devices;
    QVERIFY(devices.isConnected());
    QSignalSpy changed(&devices, &cap::DeviceEnumerator::DeviceCollectionChanged);
    const QString id = input.isEmpty() ? output : input;
    auto listed = [&] {
        return ids(devices.inputDevices()).contains(id) || ids(devices.outputDevices()).contains(id);
    };
    {
        Module module(load);
        QVERIFY(!module.index.isEmpty());
        QVERIFY2(waitUntil(changed, listed), qPrintable(ids(devices.inputDevices()).join(", ")));
        QVERIFY(changed.count() >= 1);
        if (!output.isEmpty()) {
            QVERIFY(ids(devices.outputDevices()).contains(output));
            // A new sink brings a monitor source; it is no microphone either.
            QVERIFY(!ids(devices.inputDevices()).contains(output + ".monitor"));
        }
        changed.clear();
    }
    QVERIFY(waitUntil(changed, [&] { return !listed(); }));
    QVERIFY(changed.count() >= 1);
    QVERIFY(ids(devices.inputDevices()).contains("korvel_sine"));
}

void TestDeviceEnumerator::defaultSourceChangeIsReported() {
    cap::DeviceEnumerator devices;
    QSignalSpy defaultChanged(&devices, &cap::DeviceEnumerator::DefaultInputDeviceChanged);
    QSignalSpy collection(&devices, &cap::DeviceEnumerator::DeviceCollectionChanged);
    Module module({"module-sine-source", "source_name=extra_mic"});
    QVERIFY(!module.index.isEmpty());
    QVERIFY(waitUntil(collection, [&] { return ids(devices.inputDevices()).contains("extra_mic"); }));
    QCOMPARE(defaultChanged.count(), 0);

    QVERIFY(pactl({"set-default-source", "extra_mic"}));
    QVERIFY(waitUntil(defaultChanged, [&] { return devices.defaultInputId() == "extra_mic"; }));
    QVERIFY(defaultChanged.count() >= 1);

    defaultChanged.clear();
    QVERIFY(pactl({"set-default-source", "korvel_sine"}));
    QVERIFY(waitUntil(defaultChanged, [&] { return devices.defaultInputId() == "korvel_sine"; }));
    QCOMPARE(devices.defaultOutputId(), QString("korvel_null"));
}

void TestDeviceEnumerator::missingServerNeitherHangsNorCrashes() {
    const QByteArray server = qgetenv("PULSE_SERVER");
    const QString nowhere = korvel::test::workFolder("no-server") + "/pulse.sock";
    qputenv("PULSE_SERVER", "unix:" + nowhere.toUtf8());
    QElapsedTimer clock;
    clock.start();
    auto devices = std::make_unique<cap::DeviceEnumerator>();
    const qint64 took = clock.elapsed();
    qputenv("PULSE_SERVER", server);
    QVERIFY2(took < cap::DeviceEnumerator::kTimeoutMs + 1000, qPrintable(QString::number(took)));
    QVERIFY(!devices->isConnected());
    QVERIFY(devices->inputDevices().isEmpty());
    QVERIFY(devices->outputDevices().isEmpty());
    QVERIFY(devices->defaultInputId().isEmpty());
    QSignalSpy changed(devices.get(), &cap::DeviceEnumerator::DeviceCollectionChanged);
    devices->Update(); // nothing to read, and no hang
    QCOMPARE(changed.count(), 1);
    QVERIFY(devices->inputDevices().isEmpty());

    // A server that shows up later is found by the background retry.
    QVERIFY(waitUntil(changed, [&] { return devices->isConnected(); }));
    QVERIFY(ids(devices->inputDevices()).contains("korvel_sine"));
    QCOMPARE(devices->defaultInputId(), QString("korvel_sine"));
}

void TestDeviceEnumerator::destroyedWhileTheServerTalks() {
    // Notices still in flight when the enumerator goes must find nothing freed.
    for (int i = 0; i < 3; ++i) {
        auto devices = std::make_unique<cap::DeviceEnumerator>();
        QVERIFY(devices->isConnected());
        QProcess load;
        load.start("pactl", {"load-module", "module-sine-source", "source_name=churn"});
        QVERIFY(load.waitForFinished(10000));
        const QString index = QString::fromUtf8(load.readAllStandardOutput()).trimmed();
        QTest::qWait(i * 20);
        devices.reset();
        QCoreApplication::processEvents();
        if (!index.isEmpty())
            pactl({"unload-module", index});
    }
}

KORVEL_TEST_MAIN(TestDeviceEnumerator)

#include "tst_device_enumerator.moc"
