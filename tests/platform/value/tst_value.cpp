#include "support/folder-openings.h"
#include "support/test-main.h"
#include "value/config-store.h"
#include "value/interface.h"
#include "value/value.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

using namespace bg;

Q_DECLARE_METATYPE(bg::Value)

namespace {

QByteArray bytes(const std::string& s) { return QByteArray::fromStdString(s); }

uint64_t bitsOf(double d) {
    uint64_t b = 0;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// Maps nested `depth` levels deep, the innermost one empty.
std::string nestedMaps(int depth) {
    std::string text = "[map:0]";
    for (int i = 1; i < depth; ++i)
        text = "[map:1]1:k" + std::to_string(text.size()) + ":" + text;
    return text;
}

int g_anchor = 0;

// The lines of the log file that contain `marker`.
QList<QByteArray> logLines(const QByteArray& marker, const QString& path = QString()) {
    QFile file(path.isEmpty() ? QString::fromStdString(iface()->logFilePath()) : path);
    QList<QByteArray> lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& l : file.readAll().split('\n')) {
        if (l.contains(marker))
            lines << l;
    }
    return lines;
}

} // namespace

// A file manager on the session bus that takes the call and, when told so,
// never answers it.
class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    bool answer = true;
    QList<QStringList> calls;
public slots:
    void ShowItems(const QStringList& uris, const QString& /*startupId*/) {
        calls << uris;
        if (!answer)
            setDelayedReply(true); // and no reply ever comes
    }
};

class TestValue : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void baseTypesRoundTrip_data();
    void baseTypesRoundTrip();
    void malformedTextGivesNull_data();
    void malformedTextGivesNull();
    void everyPrefixOfAMapIsRefused();
    void nestingIsBounded_data();
    void nestingIsBounded();
    void numericConversions_data();
    void numericConversions();
    void configPersistsOnlyAfterSave();
    void configTextsSurviveTheIniFile_data();
    void configTextsSurviveTheIniFile();
    void configClearThenSaveEmptiesTheFile();
    void aDamagedConfigLosesOnlyItsDamage();
    void configBoolReadsStoredFlags_data();
    void configBoolReadsStoredFlags();
    void publishReachesOnlyThatEvent();
    void replyDeliversTheAnswer();
    void callbacksMaySubscribeAndPublish();
    void textListRoundTrips_data();
    void textListRoundTrips();
    void badTextListDecodesEmpty();
    void logLineShape();
    void logKeepsLevelsOfOursAndQts();
    void logRotatesWhileRunning();
    void showInFileManagerDoesNotWait();

private:
    std::vector<int> m_handles;
};

void TestValue::cleanup() {
    for (int h : m_handles)
        iface()->unsubscribe(h);
    m_handles.clear();
}

void TestValue::baseTypesRoundTrip_data() {
    QTest::addColumn<Value>("value");
    QTest::newRow("int max") << Value(std::numeric_limits<int>::max());
    QTest::newRow("int min") << Value(std::numeric_limits<int>::min());
    QTest::newRow("bool true") << Value(true);
    QTest::newRow("double 0.1") << Value(0.1);
    QTest::newRow("double -0.0") << Value(-0.0);
    QTest::newRow("double 1e308") << Value(1e308);
    QTest::newRow("double third") << Value(1.0 / 3.0);
    QTest::newRow("double denormal") << Value(std::numeric_limits<double>::denorm_min());
    QTest::newRow("double -inf") << Value(-std::numeric_limits<double>::infinity());
    QTest::newRow("double nan") << Value(std::numeric_limits<double>::quiet_NaN());
    QTest::newRow("int64 max") << Value(std::numeric_limits<int64_t>::max());
    QTest::newRow("int64 min") << Value(std::numeric_limits<int64_t>::min());
    QTest::newRow("string empty") << Value("");
    QTest::newRow("string with brackets") << Value("a]b;c]]");
    QTest::newRow("string like a value") << Value("[int]5");
    QTest::newRow("string of raw bytes") << Value(std::string("\x01\x7f\x80\xfe\xff\t\r\n ]:;"));
    QTest::newRow("string utf-8") << Value("字幕 – café 🎬");
    QTest::newRow("map empty") << Value(ValueMap());

    ValueMap inner;
    inner["n"] = Value(1);
    inner["text"] = Value("x]y;z");
    ValueMap outer;
    outer["inner"] = Value(inner);
    outer["empty"] = Value(ValueMap());
    outer["nothing"] = Value();
    outer["12:34"] = Value(int64_t(-5));
    outer[""] = Value(true);
    outer["d"] = Value(0.1);
    outer["字"] = Value("[map:1]");
    QTest::newRow("map nested") << Value(outer);
    QTest::newRow("string holding a map text") << Value(Value(outer).write());

    QTest::newRow("pointer") << Value(static_cast<void*>(&g_anchor));
    QTest::newRow("pointer all bits") << Value(reinterpret_cast<void*>(~uintptr_t(0)));
}

void TestValue::baseTypesRoundTrip() {
    QFETCH(Value, value);
    const std::string text = value.write();
    Value back(12345); // read replaces whatever was there
    QVERIFY2(back.read(text.c_str()), text.c_str());
    QCOMPARE(int(back.type()), int(value.type()));
    QVERIFY2(back == value, text.c_str());
    QCOMPARE(bytes(back.write()), bytes(text));
    if (value.type() == VT_DOUBLE)
        QCOMPARE(bitsOf(back.toDouble()), bitsOf(value.toDouble()));
}

void TestValue::malformedTextGivesNull_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("missing ]") << QByteArray("[int5");
    QTest::newRow("unknown tag") << QByteArray("[nosuch]1");
    QTest::newRow("int with junk") << QByteArray("[int]12x");
    QTest::newRow("int over int32") << QByteArray("[int]2147483648");
    QTest::newRow("int64 over") << QByteArray("[int64]9223372036854775808");
    QTest::newRow("double over") << QByteArray("[double]1e309");
    QTest::newRow("bool word") << QByteArray("[bool]yes");
    QTest::newRow("str count over body") << QByteArray("[str:4]abc");
    QTest::newRow("str negative count") << QByteArray("[str:-1]abc");
    QTest::newRow("str count overflows") << QByteArray("[str:18446744073709551617]abc");
    QTest::newRow("map no body") << QByteArray("[map:1]");
    QTest::newRow("map fewer entries") << QByteArray("[map:2]1:a6:[int]1");
    QTest::newRow("map trailing bytes") << QByteArray("[map:1]1:a6:[int]1xyz");
    QTest::newRow("map text over body") << QByteArray("[map:1]1:a99:[int]1");
    QTest::newRow("map entry not a value") << QByteArray("[map:1]1:a4:junk");
    QTest::newRow("map bad entry deep") << QByteArray("[map:1]1:a18:[map:1]1:b6:[int]x");
    QTest::newRow("ptr no digits") << QByteArray("[ptr]0x");
    QTest::newRow("ptr too long") << QByteArray("[ptr]0x12345678901234567");
}

void TestValue::malformedTextGivesNull() {
    QFETCH(QByteArray, text);
    Value v("left over");
    QVERIFY(!v.read(text.constData()));
    QVERIFY(v.isNull());
    QVERIFY(valueFromText(text.constData()).isNull());
    QVERIFY(!v.read(nullptr));
}

void TestValue::everyPrefixOfAMapIsRefused() {
    ValueMap inner;
    inner["s"] = Value("abc");
    ValueMap map;
    map["inner"] = Value(inner);
    map["n"] = Value(int64_t(7));
    const std::string text = Value(map).write();
    for (size_t n = 0; n < text.size(); ++n) {
        // An exact buffer, so that ASan sees any read past the cut.
        std::unique_ptr<char[]> cut(new char[n + 1]);
        std::memcpy(cut.get(), text.data(), n);
        cut[n] = '\0';
        Value v;
        QVERIFY2(!v.read(cut.get()), cut.get());
        QVERIFY(v.isNull());
    }
}

void TestValue::nestingIsBounded_data() {
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("readable");
    QTest::newRow("3 levels") << 3 << true;
    QTest::newRow("40 levels") << 40 << true;
    QTest::newRow("200 levels") << 200 << false;
    QTest::newRow("3000 levels") << 3000 << false;
}

void TestValue::nestingIsBounded() {
    QFETCH(int, depth);
    QFETCH(bool, readable);
    Value v;
    QCOMPARE(v.read(nestedMaps(depth).c_str()), readable);
    QCOMPARE(v.isNull(), !readable);
    // A refused text must not leave the reader thinking it is still deep inside.
    QVERIFY(v.read(nestedMaps(40).c_str()));
}

void TestValue::numericConversions_data() {
    QTest::addColumn<Value>("value");
    QTest::addColumn<int>("asInt");
    QTest::addColumn<qint64>("asInt64");
    QTest::addColumn<double>("asDouble");
    QTest::addColumn<bool>("asBool");
    // Defaults: -7, -7, -0.5, true.
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("double truncates") << Value(-2.9) << -2 << qint64(-2) << -2.9 << true;
    QTest::newRow("bool") << Value(false) << 0 << qint64(0) << 0.0 << false;
    QTest::newRow("double int min") << Value(-2147483648.0) << int(-2147483648LL) << qint64(-2147483648LL)
                                    << -2147483648.0 << true;
    QTest::newRow("double over int") << Value(3e9) << -7 << qint64(3000000000LL) << 3e9 << true;
    QTest::newRow("double 2^63") << Value(9223372036854775808.0) << -7 << qint64(-7) << 9223372036854775808.0
                                 << true;
    QTest::newRow("double infinite") << Value(-inf) << -7 << qint64(-7) << -inf << true;
    QTest::newRow("double nan") << Value(std::nan("")) << -7 << qint64(-7) << std::nan("") << true;
    QTest::newRow("int64 over int") << Value(int64_t(-3000000000LL)) << -7 << qint64(-3000000000LL) << -3e9
                                    << true;
    QTest::newRow("string") << Value("12") << -7 << qint64(-7) << -0.5 << true;
    QTest::newRow("null") << Value() << -7 << qint64(-7) << -0.5 << true;
}

void TestValue::numericConversions() {
    QFETCH(Value, value);
    QFETCH(int, asInt);
    QFETCH(qint64, asInt64);
    QFETCH(double, asDouble);
    QFETCH(bool, asBool);
    QCOMPARE(value.toInt(-7), asInt);
    QCOMPARE(qint64(value.toInt64(-7)), asInt64);
    QCOMPARE(value.toDouble(-0.5), asDouble);
    QCOMPARE(value.toBool(true), asBool);
}

void TestValue::configPersistsOnlyAfterSave() {
    ConfigStore writer;
    writer.set("persist/recent", "one");
    {
        ConfigStore reader;
        QVERIFY(!reader.get("persist/recent", nullptr));
    }
    QVERIFY(writer.save());
    ConfigStore reader;
    std::string text;
    QVERIFY(reader.get("persist/recent", &text));
    QCOMPARE(bytes(text), QByteArray("one"));
}

void TestValue::configTextsSurviveTheIniFile_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("comma") << QByteArray("a,b");
    QTest::newRow("double quotes") << QByteArray("say \"hi\"");
    QTest::newRow("newlines") << QByteArray("line 1\nline 2\r\nend\n");
    QTest::newRow("utf-8") << QByteArray("字幕 – café");
    QTest::newRow("ini punctuation") << QByteArray("a;b#c=d[e]");
    QTest::newRow("backslashes") << QByteArray("C:\\Videos\\new\\");
    QTest::newRow("at sign") << QByteArray("@Rect(1 2 3 4)");
    QTest::newRow("text list")
        << bytes(Interface::encodeTextList({"/home/a, b/clip.mp4", "say \"x\"", "片段.mov"}));
}

void TestValue::configTextsSurviveTheIniFile() {
    QFETCH(QByteArray, text);
    {
        ConfigStore writer;
        writer.set("texts/sample", text.toStdString());
        writer.set("texts/after", "next");
        QVERIFY(writer.save());
    }
    ConfigStore reader;
    std::string back;
    QVERIFY(reader.get("texts/sample", &back));
    QCOMPARE(bytes(back), text);
    QVERIFY(reader.get("texts/after", &back));
    QCOMPARE(bytes(back), QByteArray("next"));
}

void TestValue::configClearThenSaveEmptiesTheFile() {
    ConfigStore store;
    store.set("clear/a", "1");
    store.set("clear/b", "2");
    QVERIFY(store.save());
    store.clear();
    QVERIFY(!store.get("clear/a", nullptr));
    QVERIFY(store.save());
    ConfigStore reader;
    QVERIFY(!reader.get("clear/a", nullptr));
    QVERIFY(!reader.get("clear/b", nullptr));
    QSettings ini(QString::fromStdString(store.filePath()), QSettings::IniFormat);
    QVERIFY(ini.allKeys().isEmpty());
}

// A damaged line (a section never closed, as a hand edit leaves it) costs
// that line: the other settings are read, and the file as it was is kept
// beside the one the next save writes.
void TestValue::aDamagedConfigLosesOnlyItsDamage() {
    const QString path = QString::fromStdString(ConfigStore().filePath());
    const QByteArray damaged = "[General]\nIsEnglish=English\nwork.history=/a.zya2\n[Korvel\nlog.debug=true\n";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(damaged), qint64(damaged.size()));
    }
    QFile::remove(path + ".damaged");
    ConfigStore store;
    std::string text;
    QVERIFY(store.get("IsEnglish", &text));
    QCOMPARE(bytes(text), QByteArray("English"));
    store.set("added", "1");
    QVERIFY(store.save());
    QFile kept(path + ".damaged");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), damaged);
    ConfigStore reader;
    QVERIFY(reader.get("work.history", &text));
    QCOMPARE(bytes(text), QByteArray("/a.zya2"));
    QVERIFY(reader.get("added", nullptr));
    QVERIFY(QFile::remove(path + ".damaged"));
}

void TestValue::configBoolReadsStoredFlags_data() {
    QTest::addColumn<QByteArray>("stored"); // null: the key is missing
    QTest::addColumn<bool>("def");
    QTest::addColumn<bool>("expected");
    QTest::newRow("1") << QByteArray("1") << false << true;
    QTest::newRow("0") << QByteArray("0") << true << false;
    QTest::newRow("true") << QByteArray("true") << false << true;
    QTest::newRow("missing, default on") << QByteArray() << true << true;
    QTest::newRow("missing, default off") << QByteArray() << false << false;
}

void TestValue::configBoolReadsStoredFlags() {
    QFETCH(QByteArray, stored);
    QFETCH(bool, def);
    QFETCH(bool, expected);
    const QByteArray key = QByteArray("flags/") + QTest::currentDataTag();
    if (!stored.isNull())
        iface()->configSet(key.constData(), stored.toStdString());
    QCOMPARE(configBool(key.constData(), def), expected);
    // What configSetBool stores is what configBool reads.
    configSetBool("flags/written", !expected);
    QCOMPARE(bytes(configText("flags/written")), QByteArray(expected ? "0" : "1"));
    QCOMPARE(configBool("flags/written", expected), !expected);
}

void TestValue::publishReachesOnlyThatEvent() {
    QStringList heard;
    auto listener = [&heard](const char* who) {
        return [&heard, who](const std::string& event, const Value& arg, const Interface::Reply&) {
            heard << QString("%1:%2:%3").arg(who, QString::fromStdString(event)).arg(arg.toInt());
        };
    };
    const int a = iface()->subscribe("clip.moved", listener("a"));
    m_handles = {a, iface()->subscribe("clip.moved", listener("b")), iface()->subscribe("clip.removed", listener("c"))};
    QCOMPARE(iface()->publish("clip.moved", Value(7)), 2);
    QCOMPARE(heard, QStringList({"a:clip.moved:7", "b:clip.moved:7"}));
    heard.clear();
    QCOMPARE(iface()->publish("clip", Value(1)), 0);
    QVERIFY(heard.isEmpty());

    iface()->unsubscribe(a);
    iface()->unsubscribe(987654); // unknown handles are ignored
    QCOMPARE(iface()->publish("clip.moved", Value(8)), 1);
    QCOMPARE(heard, QStringList({"b:clip.moved:8"}));
    QCOMPARE(iface()->subscribe("clip.moved", Interface::EventCallback()), 0);
}

void TestValue::replyDeliversTheAnswer() {
    m_handles.push_back(iface()->subscribe(
        "double", [](const std::string&, const Value& arg, const Interface::Reply& reply) {
            reply(Value(arg.toInt() * 2));
        }));
    Value answer;
    QCOMPARE(iface()->publish("double", Value(21), [&answer](const Value& v) { answer = v; }), 1);
    QCOMPARE(answer.toInt(), 42);
    QCOMPARE(iface()->publish("double", Value(1)), 1); // nobody asked: the answer goes nowhere
}

void TestValue::callbacksMaySubscribeAndPublish() {
    // A deadlock here hangs the test until CTest's timeout.
    QStringList order;
    auto noop = [](const std::string&, const Value&, const Interface::Reply&) {};
    m_handles.push_back(iface()->subscribe("inner", [&order](const std::string&, const Value&,
                                                             const Interface::Reply&) { order << "inner"; }));
    int self = 0;
    self = iface()->subscribe("outer", [&](const std::string&, const Value&, const Interface::Reply&) {
        order << "outer";
        m_handles.push_back(iface()->subscribe("late", noop));
        iface()->publish("inner", Value());
        iface()->unsubscribe(self);
    });
    m_handles.push_back(self);
    QCOMPARE(iface()->publish("outer", Value()), 1);
    QCOMPARE(order, QStringList({"outer", "inner"}));
    QCOMPARE(iface()->publish("outer", Value()), 0);
    QCOMPARE(iface()->publish("late", Value()), 1);
}

void TestValue::textListRoundTrips_data() {
    QTest::addColumn<QStringList>("items");
    QTest::newRow("none") << QStringList();
    QTest::newRow("one empty item") << QStringList({""});
    QTest::newRow("paths") << QStringList({"/home/u/a.mp4", "/home/u/b.mov"});
    QTest::newRow("quotes and commas") << QStringList({"say \"hi\"", "a,b", "\\", "[\"x\"]"});
    QTest::newRow("utf-8 and newlines") << QStringList({"字幕", "café 🎬", "two\nlines"});
}

void TestValue::textListRoundTrips() {
    QFETCH(QStringList, items);
    std::vector<std::string> list;
    for (const QString& item : items)
        list.push_back(item.toStdString());
    QVERIFY(Interface::decodeTextList(Interface::encodeTextList(list)) == list);
}

void TestValue::badTextListDecodesEmpty() {
    for (const char* text : {"", "a,b,c", "{\"a\":\"b\"}", "\"a\"", "[\"a\",\"b\"", "[1,2]"})
        QVERIFY2(Interface::decodeTextList(text).empty(), text);
}

void TestValue::logLineShape() {
    int line = 0;
    QByteArray err = korvel::test::captureStderr([&line] {
        line = __LINE__; LOGE("hello %d", 5); // one line: the log names this line
    });
    QFile file(QString::fromStdString(iface()->logFilePath()));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    QList<QByteArray> lines;
    for (const QByteArray& l : file.readAll().split('\n')) {
        if (l.contains("hello 5"))
            lines << l;
    }
    QCOMPARE(lines.size(), 1);
    const QRegularExpression shape(
        R"(^\d{4}-\d\d:\d\d:\d\d\[E\]\[bg\] tst_value\.cpp \d+\s*: "hello 5"$)");
    QVERIFY2(shape.match(QString::fromUtf8(lines.first())).hasMatch(), lines.first().constData());
    // Line numbers are left-aligned in four columns.
    QVERIFY(lines.first().contains(" tst_value.cpp " + QByteArray::number(line).leftJustified(4, ' ') + ": "));
    QCOMPARE(err, lines.first() + "\n");
}

// Debug lines only when asked for (the environment at start, or the
// setting); Qt's messages reach the file with their level too.
void TestValue::logKeepsLevelsOfOursAndQts() {
    qunsetenv("KORVEL_DEBUG");
    iface()->configSet("log.debug", "0");
    iface()->start();
    korvel::test::captureStderr([] {
        LOGD("quiet-debug %d", 1);
        qDebug("quiet-qt-debug");
        qWarning("loud-qt-warning");
        qCritical("loud-qt-critical");
    });
    QVERIFY(logLines("quiet-debug 1").isEmpty());
    QVERIFY(logLines("quiet-qt-debug").isEmpty());
    QList<QByteArray> lines = logLines("loud-qt-warning");
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains("[W][bg] ") && lines.first().contains("tst_value.cpp"), lines.first());
    lines = logLines("loud-qt-critical");
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains("[E][bg] "), lines.first());

    qputenv("KORVEL_DEBUG", "1");
    iface()->start();
    korvel::test::captureStderr([] {
        LOGD("wanted-debug %d", 2);
        qDebug("wanted-qt-debug");
    });
    qunsetenv("KORVEL_DEBUG");
    lines = logLines("wanted-debug 2");
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains("[D][bg] tst_value.cpp"), lines.first());
    QCOMPARE(logLines("wanted-qt-debug").size(), 1);

    // The setting asks for them as well, from the moment it is set.
    iface()->start();
    korvel::test::captureStderr([] { LOGD("dropped-again %d", 3); });
    iface()->configSet("log.debug", "true");
    korvel::test::captureStderr([] { LOGD("kept-by-setting %d", 4); });
    iface()->configSet("log.debug", "0");
    QVERIFY(logLines("dropped-again 3").isEmpty());
    QCOMPARE(logLines("kept-by-setting 4").size(), 1);
}

// A log that passes its limit is moved aside at once: the newest lines are in
// korvel.log, the older ones in korvel.log.1 to .3, and no more files are kept.
void TestValue::logRotatesWhileRunning() {
    const QString path = QString::fromStdString(iface()->logFilePath());
    const long limit = 16 * 1024;
    iface()->setLogLimit(limit);
    int written = 0;
    korvel::test::captureStderr([&written] {
        // Five limits' worth: four moves, so the first file has gone.
        for (; written < 5 * 16 * 1024 / 80; ++written)
            LOGW("rotation line %05d ..........................", written);
    });
    const int last = written - 1;
    QCOMPARE(logLines(QByteArray("rotation line ") + QByteArray::number(last).rightJustified(5, '0')).size(), 1);
    QVERIFY(QFileInfo(path).size() <= limit);
    for (int i = 1; i <= 3; ++i) {
        const QString older = path + "." + QString::number(i);
        QVERIFY2(QFileInfo::exists(older), qPrintable(older));
        QVERIFY(QFileInfo(older).size() >= limit - 200);
        QVERIFY(!logLines("rotation line", older).isEmpty());
    }
    QVERIFY(!QFileInfo::exists(path + ".4"));
    // Each file holds later lines than the one moved aside before it.
    const auto firstNumber = [](const QList<QByteArray>& lines) {
        static const QRegularExpression number(R"(rotation line (\d+))");
        return lines.isEmpty() ? -1 : number.match(QString::fromUtf8(lines.first())).captured(1).toInt();
    };
    QVERIFY(firstNumber(logLines("rotation line", path + ".1")) > firstNumber(logLines("rotation line", path + ".2")));
    QVERIFY(firstNumber(logLines("rotation line", path + ".2")) > firstNumber(logLines("rotation line", path + ".3")));
    // The oldest lines are gone.
    QVERIFY(firstNumber(logLines("rotation line", path + ".3")) > 0);
    iface()->setLogLimit(Interface::kDefaultLogLimit);
}

// The window never waits on the file manager: with one that does not answer
// the call comes back at once and the folder opens when the wait is over;
// with none on the bus the folder opens straight away.
void TestValue::showInFileManagerDoesNotWait() {
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!bus.waitForStarted(5000))
        QSKIP("no dbus-daemon");
    QVERIFY(bus.waitForReadyRead(10000));
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    const QString folder = korvel::test::workFolder("show");
    const QString file = folder + "/clip.mp4";
    QFile(file).open(QIODevice::WriteOnly);
    const QUrl folderUrl = QUrl::fromLocalFile(QFileInfo(folder).absoluteFilePath());
    korvel::test::FolderOpenings openings;
    {
        FakeFileManager manager;
        QDBusConnection fake = QDBusConnection::connectToBus(QString::fromLatin1(address), "fake-file-manager");
        QVERIFY(fake.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportAllSlots));
        QVERIFY(fake.registerService("org.freedesktop.FileManager1"));

        // It answers: it shows the file; nothing else opens.
        QVERIFY(iface()->showInFileManager(file.toStdString()));
        QTRY_COMPARE(manager.calls.size(), 1);
        QCOMPARE(manager.calls.first(), QStringList {QUrl::fromLocalFile(file).toString()});
        QTest::qWait(300);
        QVERIFY(openings.urls.isEmpty());

        // It hangs: the call returns long before the file manager's time is up.
        manager.answer = false;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(iface()->showInFileManager(file.toStdString()));
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE(manager.calls.size(), 2);
        QVERIFY(openings.urls.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(openings.urls, QList<QUrl> {folderUrl}, 15000);
        fake.unregisterService("org.freedesktop.FileManager1");
        QDBusConnection::disconnectFromBus("fake-file-manager");
    }
    // No file manager at all.
    openings.urls.clear();
    QVERIFY(iface()->showInFileManager(file.toStdString()));
    QTRY_COMPARE(openings.urls, QList<QUrl> {folderUrl});
    // A file that is not there is refused at once.
    QVERIFY(!iface()->showInFileManager((folder + "/gone.mp4").toStdString()));
    bus.kill();
    bus.waitForFinished(5000);
}

KORVEL_TEST_MAIN(TestValue)
#include "tst_value.moc"
