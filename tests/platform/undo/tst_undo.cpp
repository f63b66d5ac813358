#include "support/test-main.h"
#include "undo/undo-controller.h"
#include "undo/zy-object.h"

#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <utility>

using namespace zya;

namespace {

QString describe(const bg::Value& v) {
    return QString::fromStdString(v.type() == bg::VT_STRING ? v.toStdString() : v.write());
}

// Records its hook calls as "change:<op>:<data>" and "undo:<op>:<data>".
class Probe : public ZyObject {
public:
    ~Probe() override { ++destroyed; }
    void onChange(int operation, const bg::Value& data) override {
        calls << QString("change:%1:%2").arg(operation).arg(describe(data));
        if (action)
            action();
    }
    void onUndo(int operation, const bg::Value& data) override {
        calls << QString("undo:%1:%2").arg(operation).arg(describe(data));
        if (defaultUndo)
            ZyObject::onUndo(operation, data);
    }
    QStringList takeCalls() { return std::exchange(calls, {}); }

    QStringList calls;
    bool defaultUndo = true;
    std::function<void()> action; // runs inside onChange
    static int destroyed;
};

int Probe::destroyed = 0;

UndoController* undo() { return UndoController::instance(); }
QUndoStack& stack() { return undo()->stack; }

} // namespace

class TestUndo : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void undoRedoRestoresValues();
    void nonUndoableChangeIsNoStep();
    void mergeSequenceIsOneStep();
    void emptySequenceLeavesNothing_data();
    void emptySequenceLeavesNothing();
    void replayIsNotRecorded();
    void objectHooks_data();
    void objectHooks();
    void ownership_data();
    void ownership();
    void objectDeletedByProgram();
    void cleanState();
    void canUndoSignals();
};

void TestUndo::init() {
    undo()->reset();
    Probe::destroyed = 0;
}

void TestUndo::cleanup() { UndoController::destroyInstance(); }

void TestUndo::undoRedoRestoresValues() {
    Probe p;
    p.setValue("name", bg::Value("A"), true, false);
    p.setValue("name", bg::Value("B"), true, true);
    QCOMPARE(p.takeCalls(), QStringList({"change:3:name"}));
    QCOMPARE(stack().count(), 2);

    stack().undo();
    QCOMPARE(describe(p.value("name")), QString("A"));
    QCOMPARE(p.takeCalls(), QStringList({"undo:3:name", "change:3:name"}));
    stack().redo();
    QCOMPARE(describe(p.value("name")), QString("B"));
    QCOMPARE(p.takeCalls(), QStringList({"change:3:name"}));

    // The key did not exist before the first edit.
    stack().undo();
    stack().undo();
    QVERIFY(!p.hasValue("name"));
    QCOMPARE(p.value("name", bg::Value(-1)).toInt(), -1);
    stack().redo();
    QCOMPARE(describe(p.value("name")), QString("A"));
}

void TestUndo::nonUndoableChangeIsNoStep() {
    Probe clip;
    clip.setValue("name", bg::Value("A"), true, false);
    clip.setValue("name", bg::Value("B"), true, false);
    clip.setValue("volume", bg::Value(0.5), false, false);
    QCOMPARE(stack().count(), 2);
    stack().undo();
    QCOMPARE(describe(clip.value("name")), QString("A"));
    QCOMPARE(clip.value("volume").toDouble(), 0.5);
}

void TestUndo::mergeSequenceIsOneStep() {
    Probe p;
    p.defaultUndo = false;
    undo()->beginMergeSequence("Move clips");
    p.setValue("a", bg::Value(1), true, false);
    undo()->beginMergeSequence("Set name"); // joins the outer sequence
    p.setValue("b", bg::Value(2), true, false);
    undo()->endMergeSequence();
    QVERIFY(undo()->inMergeSequence());
    p.setValue("a", bg::Value(3), true, false);
    QCOMPARE(stack().count(), 0);
    undo()->endMergeSequence();
    QVERIFY(!undo()->inMergeSequence());
    QCOMPARE(stack().count(), 1);
    QCOMPARE(stack().undoText(), QString("Move clips"));

    // Reverse order: replayed forwards, "a" would end at 1.
    stack().undo();
    QCOMPARE(p.takeCalls(), QStringList({"undo:3:a", "undo:3:b", "undo:3:a"}));
    QVERIFY(!p.hasValue("a") && !p.hasValue("b"));
    stack().redo();
    QCOMPARE(p.takeCalls(), QStringList({"change:3:a", "change:3:b", "change:3:a"}));
    QCOMPARE(p.value("a").toInt(), 3);
    QCOMPARE(p.value("b").toInt(), 2);
}

void TestUndo::emptySequenceLeavesNothing_data() {
    QTest::addColumn<bool>("history");
    QTest::addColumn<QString>("inside");
    for (bool history : {false, true}) {
        const char* h = history ? "after an edit" : "empty history";
        QTest::addRow("nothing, %s", h) << history << "nothing";
        QTest::addRow("empty nested, %s", h) << history << "nested";
        QTest::addRow("not undoable, %s", h) << history << "volume";
    }
}

void TestUndo::emptySequenceLeavesNothing() {
    QFETCH(bool, history);
    QFETCH(QString, inside);
    Probe p;
    if (history)
        p.setValue("name", bg::Value("A"), true, false);
    QSignalSpy canUndo(undo(), &UndoController::sig_canUndo);
    const int count = stack().count();
    const QString text = stack().undoText();

    undo()->beginMergeSequence("Nothing");
    if (inside == "nested") {
        undo()->beginMergeSequence("Inner");
        undo()->endMergeSequence();
    } else if (inside == "volume") {
        p.setValue("volume", bg::Value(0.2), false, true);
    }
    undo()->endMergeSequence();

    QVERIFY(!undo()->inMergeSequence());
    QCOMPARE(stack().count(), count);
    QCOMPARE(stack().canUndo(), history);
    QCOMPARE(stack().undoText(), text);
    QCOMPARE(canUndo.count(), 0);
}

void TestUndo::replayIsNotRecorded() {
    Probe p;
    Probe other;
    p.setValue("size", bg::Value(5), true, false);
    p.setValue("size", bg::Value(7), true, false);
    // A hook that derives state, as a track does when one of its clips changes.
    p.action = [&] {
        p.setValue("derived", bg::Value(p.value("size").toInt() * 2), true, false);
        ZyObject::AddObject_canUndo(&other, bg::Value("derived"));
    };

    stack().undo();
    QCOMPARE(p.value("derived").toInt(), 10);
    QCOMPARE(stack().count(), 2);
    QVERIFY(stack().canRedo()); // a record pushed during undo would have cut the redo side
    stack().redo();
    QCOMPARE(p.value("derived").toInt(), 14);
    QCOMPARE(stack().count(), 2);
    QCOMPARE(stack().index(), 2);
    QCOMPARE(other.calls, QStringList({"change:1:derived", "change:1:derived"}));
}

void TestUndo::objectHooks_data() {
    QTest::addColumn<bool>("removal");
    QTest::addColumn<QStringList>("done");
    QTest::addColumn<QStringList>("undone");
    QTest::newRow("add") << false << QStringList({"change:1:track 2"})
                         << QStringList({"undo:1:track 2", "change:2:track 2"});
    QTest::newRow("remove") << true << QStringList({"change:2:track 2"})
                            << QStringList({"undo:2:track 2", "change:1:track 2"});
}

void TestUndo::objectHooks() {
    QFETCH(bool, removal);
    QFETCH(QStringList, done);
    QFETCH(QStringList, undone);
    auto* p = new Probe;
    if (removal)
        ZyObject::DelObject_canUndo(p, bg::Value("track 2"));
    else
        ZyObject::AddObject_canUndo(p, bg::Value("track 2"));
    QCOMPARE(p->takeCalls(), done);
    QCOMPARE(stack().count(), 1);
    stack().undo();
    QCOMPARE(p->takeCalls(), undone);
    stack().redo();
    QCOMPARE(p->takeCalls(), done);
    if (!removal)
        delete p; // an added object stays the program's
    undo()->reset();
    QCOMPARE(Probe::destroyed, 1);
}

void TestUndo::ownership_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("historyDeletes");
    QTest::newRow("removed, reset") << "del reset" << true;
    QTest::newRow("removed, undone, reset") << "del undo reset" << false;
    QTest::newRow("removed, undone, redone, reset") << "del undo redo reset" << true;
    QTest::newRow("removed, controller destroyed") << "del destroy" << true;
    QTest::newRow("added, reset") << "add reset" << false;
    QTest::newRow("added, undone, new edit") << "add undo edit" << true;
    QTest::newRow("added, undone, controller destroyed") << "add undo destroy" << true;
    QTest::newRow("added and removed in one step, reset") << "seq reset" << true;
    QTest::newRow("added and removed in one step, undone, reset") << "seq undo reset" << true;
    QTest::newRow("removed in an open sequence, reset") << "opendel reset" << true;
}

void TestUndo::ownership() {
    QFETCH(QString, steps);
    QFETCH(bool, historyDeletes);
    auto* p = new Probe;
    Probe other;
    for (const QString& step : steps.split(' ')) {
        if (step == "del")
            ZyObject::DelObject_canUndo(p, bg::Value("ctx"));
        else if (step == "add")
            ZyObject::AddObject_canUndo(p, bg::Value("ctx"));
        else if (step == "undo")
            stack().undo();
        else if (step == "redo")
            stack().redo();
        else if (step == "edit")
            other.setValue("name", bg::Value("x"), true, false);
        else if (step == "reset")
            undo()->reset();
        else if (step == "destroy")
            UndoController::destroyInstance();
        if (step == "seq" || step == "opendel") {
            undo()->beginMergeSequence("Add and remove");
            if (step == "seq")
                ZyObject::AddObject_canUndo(p, bg::Value("ctx"));
            ZyObject::DelObject_canUndo(p, bg::Value("ctx"));
            if (step == "seq")
                undo()->endMergeSequence();
        }
    }
    QVERIFY(!undo()->inMergeSequence());
    QCOMPARE(Probe::destroyed, historyDeletes ? 1 : 0);
    if (!historyDeletes)
        delete p;
    // Nothing left in the history deletes it a second time.
    UndoController::destroyInstance();
    QCOMPARE(Probe::destroyed, 1);
}

void TestUndo::objectDeletedByProgram() {
    auto* p = new Probe;
    p->setValue("a", bg::Value(1), true, false);
    ZyObject::AddObject_canUndo(p, bg::Value("ctx"));
    undo()->beginMergeSequence("Edit");
    p->setValue("b", bg::Value(2), true, true);
    undo()->endMergeSequence();
    delete p;
    for (int i = 0; i < 3; ++i)
        stack().undo();
    for (int i = 0; i < 3; ++i)
        stack().redo();
    stack().undo();

    // An undone removal gives the object back; the program may then delete it.
    auto* q = new Probe;
    ZyObject::DelObject_canUndo(q, bg::Value("ctx")); // also cuts the redo side above
    stack().undo();
    delete q;
    stack().redo();
    stack().undo();
    undo()->reset();
    QCOMPARE(Probe::destroyed, 2);
}

void TestUndo::cleanState() {
    Probe p;
    QVERIFY(undo()->isClean());
    p.setValue("a", bg::Value(1), true, false);
    QVERIFY(!undo()->isClean());
    undo()->setClean();
    p.setValue("volume", bg::Value(0.3), false, false); // not an edit of the project
    QVERIFY(undo()->isClean());
    stack().undo();
    QVERIFY(!undo()->isClean());
    stack().redo();
    QVERIFY(undo()->isClean());
    // Once the saved state is cut off, no undo or redo gets back to it.
    stack().undo();
    p.setValue("a", bg::Value(2), true, false);
    stack().undo();
    QVERIFY(!undo()->isClean());
    undo()->reset();
    QVERIFY(undo()->isClean());
    QCOMPARE(stack().count(), 0);
}

void TestUndo::canUndoSignals() {
    Probe p;
    QSignalSpy canUndo(undo(), &UndoController::sig_canUndo);
    QSignalSpy canRedo(undo(), &UndoController::sig_canRedo);
    p.setValue("a", bg::Value(1), true, false);
    QCOMPARE(canUndo.count(), 1);
    QCOMPARE(canUndo.last().at(0).toBool(), true);
    stack().undo();
    QCOMPARE(canUndo.last().at(0).toBool(), false);
    QCOMPARE(canRedo.last().at(0).toBool(), true);
    stack().redo();
    QCOMPARE(canUndo.last().at(0).toBool(), true);
    QCOMPARE(canRedo.last().at(0).toBool(), false);
    stack().undo();
    undo()->reset();
    QCOMPARE(canUndo.last().at(0).toBool(), false);
    QCOMPARE(canRedo.last().at(0).toBool(), false);
}

KORVEL_TEST_MAIN(TestUndo)
#include "tst_undo.moc"
