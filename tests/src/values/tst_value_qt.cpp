#include "support/test-main.h"
#include "values/value-init.h"

#include <QtTest>

using namespace bg;

class TestValueQt : public QObject {
    Q_OBJECT
private slots:
    void writesTheDocumentedForms_data();
    void writesTheDocumentedForms();
    void readsBackWhatItWrites_data();
    void readsBackWhatItWrites();
    void rejectsMalformedTexts_data();
    void rejectsMalformedTexts();
    void stringCountsAreBounded();
    void numericFieldsFillSlotsInOrder();
    void colourLosesAlpha();
    void registrationHappensOnce();
    void valuesInsideMapsKeepTheirType();
    void conversionsWarnOnWrongType();
    void longFormsAreWrittenWhole();
};

void TestValueQt::writesTheDocumentedForms_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("rect") << "rect" << QByteArray("[rect]x:10;y:20;w:300;h:200");
    QTest::newRow("pointf") << "pointf" << QByteArray("[pointf]x:1.500000;y:-2.000000");
    QTest::newRow("qstr") << "qstr" << QByteArray("[qstr:3]a]b");
    QTest::newRow("size") << "size" << QByteArray("[size]w:1920;h:1080");
    QTest::newRow("rectf") << "rectf" << QByteArray("[rectf]x:0.250000;y:0.000000;w:1.500000;h:100.000000");
    QTest::newRow("sizef") << "sizef" << QByteArray("[sizef]w:1.500000;h:2.000000");
    QTest::newRow("point") << "point" << QByteArray("[point]x:-3;y:4");
    QTest::newRow("color") << "color" << QByteArray("[color]#ff8000");
    QTest::newRow("font") << "font" << QByteArray("[font]Noto Sans,12,-1,5,50,0,0,0,0,0");
}

void TestValueQt::writesTheDocumentedForms() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, text);
    Value v;
    if (kind == "rect")
        v = ValueQt(QRect(10, 20, 300, 200));
    else if (kind == "pointf")
        v = ValueQt(QPointF(1.5, -2));
    else if (kind == "qstr")
        v = ValueQt(QString("a]b"));
    else if (kind == "size")
        v = ValueQt(QSize(1920, 1080));
    else if (kind == "rectf")
        v = ValueQt(QRectF(0.25, 0, 1.5, 100));
    else if (kind == "sizef")
        v = ValueQt(QSizeF(1.5, 2));
    else if (kind == "point")
        v = ValueQt(QPoint(-3, 4));
    else if (kind == "color")
        v = ValueQtG(QColor(255, 128, 0));
    // Both the subclass and a plain (sliced) value write the same form.
    if (kind == "font") {
        ValueQtG font;
        QVERIFY(font.read(text.constData()));
        QCOMPARE(QByteArray::fromStdString(font.write()), text);
        return;
    }
    QCOMPARE(QByteArray::fromStdString(v.write()), text);
    QCOMPARE(QByteArray::fromStdString(ValueQt(v).write()), text);
}

void TestValueQt::readsBackWhatItWrites_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("id");
    QTest::newRow("rect") << QByteArray("[rect]x:10;y:20;w:300;h:200") << int(VT_RECT);
    QTest::newRow("rect limits") << QByteArray("[rect]x:-2147483648;y:2147483647;w:0;h:1") << int(VT_RECT);
    QTest::newRow("rectf") << QByteArray("[rectf]x:-0.500000;y:1.000000;w:1920.000000;h:1080.000000")
                           << int(VT_RECTF);
    QTest::newRow("pointf") << QByteArray("[pointf]x:1.500000;y:-2.000000") << int(VT_POINTF);
    QTest::newRow("point") << QByteArray("[point]x:7;y:8") << int(VT_POINT);
    QTest::newRow("sizef") << QByteArray("[sizef]w:1.000000;h:2.000000") << int(VT_SIZEF);
    QTest::newRow("size") << QByteArray("[size]w:5;h:6") << int(VT_SIZE);
    QTest::newRow("qstr with brackets") << QByteArray("[qstr:3]a]b") << int(VT_QSTR);
    QTest::newRow("qstr utf-8") << QByteArray("[qstr:6]字幕") << int(VT_QSTR);
    QTest::newRow("qstr empty") << QByteArray("[qstr:0]") << int(VT_QSTR);
    QTest::newRow("color") << QByteArray("[color]#00ff7f") << int(VT_COLOR);
    QTest::newRow("font") << QByteArray("[font]Sans,9,-1,5,50,0,0,0,0,0") << int(VT_FONT);
}

void TestValueQt::readsBackWhatItWrites() {
    QFETCH(QByteArray, text);
    QFETCH(int, id);
    for (int pass = 0; pass < 3; ++pass) {
        // Each class reads every form, and so does the base class.
        Value v;
        bool ok = false;
        if (pass == 0) {
            ValueQt q;
            ok = q.read(text.constData());
            v = q;
        } else if (pass == 1) {
            ValueQtG g;
            ok = g.read(text.constData());
            v = g;
        } else {
            ok = v.read(text.constData());
        }
        QVERIFY2(ok, text.constData());
        QCOMPARE(int(v.type()), id);
        QCOMPARE(QByteArray::fromStdString(v.write()), text);
    }
    ValueQt q;
    q.read(text.constData());
    if (QByteArray(QTest::currentDataTag()) == "rect")
        QCOMPARE(QByteArray::fromStdString(ValueQt(toQRect(q)).write()), text);
    // Extreme corners from a file still make a rectangle whose size fits.
    QRect r = toQRect(q);
    if (id == VT_RECT)
        QVERIFY(int64_t(r.x()) + r.width() - 1 <= INT_MAX);
}

void TestValueQt::rejectsMalformedTexts_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("one number") << QByteArray("[size]w:5");
    QTest::newRow("no bracket") << QByteArray("rect x:1");
    QTest::newRow("too short") << QByteArray("[a]");
    QTest::newRow("null") << QByteArray("<null>[rect]x:1;y:2;w:3;h:4");
    QTest::newRow("unknown tag") << QByteArray("[nothing]x:1");
    QTest::newRow("field name of 8") << QByteArray("[point]xxxxxxxx:1;y:2");
    QTest::newRow("long field name") << QByteArray("[rect]") + QByteArray(4096, 'x') + ":1;y:2;w:3;h:4";
    QTest::newRow("int overflow") << QByteArray("[rect]x:2147483648;y:0;w:0;h:0");
    QTest::newRow("int underflow") << QByteArray("[point]x:-2147483649;y:0");
    QTest::newRow("huge int") << QByteArray("[size]w:99999999999999999999999;h:1");
    QTest::newRow("double overflow") << QByteArray("[pointf]x:1e400;y:0");
    QTest::newRow("no number") << QByteArray("[pointf]x:;y:1");
    QTest::newRow("missing colon") << QByteArray("[point]x1;y:2");
    QTest::newRow("rect with three") << QByteArray("[rect]x:1;y:2;w:3");
    QTest::newRow("count larger than body") << QByteArray("[qstr:10]abc");
    QTest::newRow("count over an empty body") << QByteArray("[qstr:33]");
    QTest::newRow("base string count over the body") << QByteArray("[str:9]abc");
    QTest::newRow("negative count") << QByteArray("[qstr:-1]abc");
    QTest::newRow("overflowing count") << QByteArray("[qstr:18446744073709551617]abc");
    QTest::newRow("count with junk") << QByteArray("[qstr:2x]abc");
    QTest::newRow("bad colour") << QByteArray("[color]not-a-colour");
}

void TestValueQt::rejectsMalformedTexts() {
    QFETCH(QByteArray, text);
    ValueQt q;
    QByteArray err = korvel::test::captureStderr([&] { QVERIFY(!q.read(text.constData())); });
    QCOMPARE(int(q.type()), 0);
    ValueQtG g;
    QVERIFY(!g.read(text.constData()));
    QCOMPARE(int(g.type()), 0);
    Value plain;
    QVERIFY(!plain.read(text.constData()));
    QCOMPARE(int(plain.type()), 0);
    Q_UNUSED(err);
}

void TestValueQt::stringCountsAreBounded() {
    ValueQt q;
    QByteArray err = korvel::test::captureStderr([&] { QVERIFY(!q.read("[qstr]abc")); });
    QCOMPARE(int(q.type()), 0);
    QVERIFY2(err.contains("> bg::Value:read() err: type='qstr', missing 'len'.\n"), err.constData());

    // The count takes exactly that many bytes, even when more follow.
    QVERIFY(q.read("[qstr:2]abc"));
    QCOMPARE(toQString(q), QString("ab"));

    // "<variant>" texts are plain strings from the tenth character on.
    QVERIFY(q.read("<variant>hello]"));
    QCOMPARE(int(q.type()), int(VT_STRING));
    QCOMPARE(q.toStdString(), std::string("hello]"));
}

void TestValueQt::numericFieldsFillSlotsInOrder() {
    ValueQt v;
    QVERIFY(v.read("[sizef]h:2;w:1"));
    QCOMPARE(toQSizeF(v), QSizeF(2, 1));
    QVERIFY(v.read("[rect]left:1;top:2;width:3;height:4"));
    QCOMPARE(toQRect(v), QRect(1, 2, 3, 4));
}

void TestValueQt::colourLosesAlpha() {
    ValueQtG v(QColor(10, 20, 30, 128));
    QCOMPARE(QByteArray::fromStdString(v.write()), QByteArray("[color]#0a141e"));
    ValueQtG back;
    QVERIFY(back.read(v.write().c_str()));
    QCOMPARE(toQColor(back), QColor(10, 20, 30, 255));
}

void TestValueQt::registrationHappensOnce() {
    // The initialiser ran before main; running it again changes nothing.
    QVERIFY(is_value_type_registered(VT_RECT));
    QVERIFY(is_value_type_registered(VT_FONT));
    QVERIFY(!is_value_type_registered(38));
    ValueQt::registerTypes();
    ValueQtG::registerTypes();
    // A second registration of a taken id or tag is refused.
    QVERIFY(!regist_value_type(VT_RECT, "rect", ValueQt::writeValue, ValueQt::readNumbers));
    QVERIFY(!regist_value_type(41, "rect", ValueQt::writeValue, ValueQt::readNumbers));
    Value v;
    QVERIFY(v.read("[rect]x:1;y:2;w:3;h:4"));
    QCOMPARE(int(v.type()), int(VT_RECT));
}

void TestValueQt::valuesInsideMapsKeepTheirType() {
    ValueMap map;
    map["previewRect"] = ValueQt(QRectF(-10.5, 4, 640, 360));
    map["clipRect"] = ValueQt(QRect(0, 0, 1920, 1080));
    map["originalSize"] = ValueQt(QSize(1920, 1080));
    map["text"] = ValueQt(QString("第一行\n第二行;]"));
    map["color"] = Value("#ffffff");
    Value whole(map);
    Value back;
    QVERIFY(back.read(whole.write().c_str()));
    ValueMap read = back.toMap();
    QCOMPARE(toQRectF(read["previewRect"]), QRectF(-10.5, 4, 640, 360));
    QCOMPARE(toQRect(read["clipRect"]), QRect(0, 0, 1920, 1080));
    QCOMPARE(toQSize(read["originalSize"]), QSize(1920, 1080));
    QCOMPARE(toQString(read["text"]), QString("第一行\n第二行;]"));
    QCOMPARE(back.write(), whole.write());
}

void TestValueQt::conversionsWarnOnWrongType() {
    Value number(5);
    QRect rect;
    QByteArray err = korvel::test::captureStderr([&] { rect = toQRect(number); });
    QCOMPARE(err, QByteArray("[bg-value] can't convert type: '1' ---> VT_RECT\n"));
    err = korvel::test::captureStderr([&] { toQSize(ValueQt(QRect(1, 2, 3, 4))); });
    QCOMPARE(err, QByteArray("[bg-value] can't convert type: '33' ---> VT_SIZE\n"));
    err = korvel::test::captureStderr([&] { toQRectF(Value()); });
    QCOMPARE(err, QByteArray("[bg-value] can't convert type: '0' ---> VT_RECTF\n"));
    // The right type converts silently.
    err = korvel::test::captureStderr([&] { QCOMPARE(toQSize(ValueQt(QSize(3, 4))), QSize(3, 4)); });
    QVERIFY(err.isEmpty());
}

void TestValueQt::longFormsAreWrittenWhole() {
    // Four huge doubles in fixed notation need far more than a scratch buffer.
    ValueQt v(QRectF(1e300, -1e300, 1e300, 1e300));
    std::string text = v.write();
    QVERIFY(text.size() > 1200);
    ValueQt back;
    QVERIFY(back.read(text.c_str()));
    QCOMPARE(back.write(), text);
    QCOMPARE(toQRectF(back), QRectF(1e300, -1e300, 1e300, 1e300));
}

KORVEL_TEST_MAIN(TestValueQt)
#include "tst_value_qt.moc"
