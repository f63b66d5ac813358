#include "value-qt.h"

#include "value/number-text.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace bg {

namespace {

// Field names in the numeric forms are one letter when written; longer
// hand-made names up to this length are still read.
constexpr int kMaxFieldName = 7;

struct NumericType {
    const char* tag;
    int16_t id;
    int fields;     // 2 or 4
    bool isDouble;
    int firstSlot;  // points fill x, y; sizes w, h; rectangles all four
};

const NumericType kNumericTypes[] = {
    {"rectf", VT_RECTF, 4, true, 0}, {"rect", VT_RECT, 4, false, 0},   {"pointf", VT_POINTF, 2, true, 0},
    {"point", VT_POINT, 2, false, 0}, {"sizef", VT_SIZEF, 2, true, 2}, {"size", VT_SIZE, 2, false, 2},
};

const NumericType* numericTypeByTag(const char* tag) {
    for (const auto& t : kNumericTypes) {
        if (std::strcmp(tag, t.tag) == 0)
            return &t;
    }
    return nullptr;
}

const NumericType* numericTypeById(int id) {
    for (const auto& t : kNumericTypes) {
        if (t.id == id)
            return &t;
    }
    return nullptr;
}

bool isStringTag(const char* tag) { return std::strncmp(tag, "qstr", 4) == 0 && (tag[4] == ':' || tag[4] == '\0'); }

// Splits "[tag]body" as both classes' read() do. False when the text is no
// tagged form at all.
enum class Split { Failed, Variant, Tagged };
Split splitText(const char* text, std::string* tag, const char** body) {
    if (!text || std::strlen(text) < 4)
        return Split::Failed;
    if (std::strncmp(text, "<variant>", 9) == 0)
        return Split::Variant;
    // The tag runs from the second character to the first "]".
    const char* close = std::strchr(text + 1, ']');
    if (!close || std::strncmp(text, "<null>", 6) == 0)
        return Split::Failed;
    tag->assign(text + 1, static_cast<size_t>(close - text - 1));
    *body = close + 1;
    return Split::Tagged;
}

void conversionWarning(int found, const char* expected) {
    std::fprintf(stderr, "[bg-value] can't convert type: '%d' ---> %s\n", found, expected);
}

} // namespace

// ---- ValueQt ----

ValueQt ValueQt::make(int16_t id, int32_t x, int32_t y, int32_t w, int32_t h) {
    ValueQt v;
    v.zero();
    v.setIntSlots(x, y, w, h);
    v.setType(id);
    return v;
}

ValueQt ValueQt::make(int16_t id, double x, double y, double w, double h) {
    ValueQt v;
    v.zero();
    v.setDoubleSlots(x, y, w, h);
    v.setType(id);
    return v;
}

ValueQt::ValueQt(const QString& text) {
    zero();
    setTextSlot(text.toStdString());
    setType(VT_QSTR);
}

ValueQt::ValueQt(const QRectF& r) : ValueQt(make(VT_RECTF, r.x(), r.y(), r.width(), r.height())) {}
ValueQt::ValueQt(const QRect& r) : ValueQt(make(VT_RECT, r.x(), r.y(), r.width(), r.height())) {}
ValueQt::ValueQt(const QPointF& p) : ValueQt(make(VT_POINTF, p.x(), p.y(), 0.0, 0.0)) {}
ValueQt::ValueQt(const QPoint& p) : ValueQt(make(VT_POINT, p.x(), p.y(), 0, 0)) {}
ValueQt::ValueQt(const QSizeF& s) : ValueQt(make(VT_SIZEF, 0.0, 0.0, s.width(), s.height())) {}
ValueQt::ValueQt(const QSize& s) : ValueQt(make(VT_SIZE, 0, 0, s.width(), s.height())) {}

std::string ValueQt::writeValue(const Value& v) {
    if (v.type() == VT_QSTR)
        return text::format("[qstr:%zu]", v.textSlot().size()) + v.textSlot();
    const NumericType* t = numericTypeById(v.type());
    if (!t)
        return v.Value::write();
    std::string out = "[" + std::string(t->tag) + "]";
    const char* names = t->firstSlot == 2 ? "wh" : "xywh";
    for (int i = 0; i < t->fields; ++i) {
        int slot = t->firstSlot + i;
        if (i > 0)
            out += ';';
        out += names[i];
        out += t->isDouble ? text::format(":%lf", v.doubleSlot(slot)) : text::format(":%d", v.intSlot(slot));
    }
    return out;
}

Value ValueQt::readNumbers(const char* tag, const char* body) {
    const NumericType* t = numericTypeByTag(tag);
    if (!t || !body)
        return Value();
    double d[4] = {0, 0, 0, 0};
    int32_t n[4] = {0, 0, 0, 0};
    const char* p = body;
    for (int i = 0; i < t->fields; ++i) {
        int slot = t->firstSlot + i;
        if (i > 0 && !text::scanChar(p, ';'))
            return Value();
        // The names before ':' are skipped: numbers fill the slots in order.
        if (!text::scanFieldName(p, kMaxFieldName))
            return Value();
        bool ok = t->isDouble ? text::scanDouble(p, &d[slot]) : text::scanInt32(p, &n[slot]);
        if (!ok)
            return Value();
    }
    return t->isDouble ? make(t->id, d[0], d[1], d[2], d[3]) : make(t->id, n[0], n[1], n[2], n[3]);
}

Value ValueQt::readString(const char* tag, const char* body) {
    const char* colon = std::strchr(tag, ':');
    const char* p = colon ? colon + 1 : nullptr;
    size_t bodyLength = std::strlen(body);
    uint64_t count = 0;
    if (!p || *p < '0' || *p > '9') {
        std::fprintf(stderr, "> bg::Value:read() err: type='%s', missing 'len'.\n", tag);
        return Value();
    }
    if (!text::scanCount(p, bodyLength, &count) || *p != '\0') {
        std::fprintf(stderr, "> bg::Value:read() err: type='%s', 'len' does not fit the text.\n", tag);
        return Value();
    }
    ValueQt v;
    v.zero();
    v.setTextSlot(std::string(body, static_cast<size_t>(count)));
    v.setType(VT_QSTR);
    return v;
}

std::string ValueQt::write() const { return writeValue(*this); }

bool ValueQt::read(const char* text) {
    zero();
    std::string tag;
    const char* body = nullptr;
    switch (splitText(text, &tag, &body)) {
    case Split::Failed:
        return false;
    case Split::Variant:
        fast_set(text + 9);
        return true;
    case Split::Tagged:
        break;
    }
    Value result;
    if (numericTypeByTag(tag.c_str()))
        result = readNumbers(tag.c_str(), body);
    else if (isStringTag(tag.c_str()))
        result = readString(tag.c_str(), body);
    else
        return readBase(text);
    copyValue(&result);
    return !isNull();
}

void ValueQt::registerTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        regist_value_type(VT_QSTR, "qstr", writeValue, readString);
        regist_value_type(VT_POINT, "point", writeValue, readNumbers);
        regist_value_type(VT_POINTF, "pointf", writeValue, readNumbers);
        regist_value_type(VT_RECT, "rect", writeValue, readNumbers);
        regist_value_type(VT_RECTF, "rectf", writeValue, readNumbers);
        regist_value_type(VT_SIZE, "size", writeValue, readNumbers);
        regist_value_type(VT_SIZEF, "sizef", writeValue, readNumbers);
    });
}

// ---- ValueQtG ----

ValueQtG::ValueQtG(const QColor& color) {
    zero();
    setColorSlot(color.rgba());
    setType(VT_COLOR);
}

ValueQtG::ValueQtG(const QFont& font) {
    zero();
    setTextSlot(font.toString().toStdString());
    setType(VT_FONT);
}

std::string ValueQtG::writeValue(const Value& v) {
    if (v.type() == VT_COLOR)
        return "[color]" + QColor::fromRgba(v.colorSlot()).name().toStdString();
    if (v.type() == VT_FONT)
        return "[font]" + v.textSlot();
    return v.Value::write();
}

Value ValueQtG::readColor(const char*, const char* body) {
    QColor color;
    color.setNamedColor(QString::fromUtf8(body));
    if (!color.isValid())
        return Value();
    ValueQtG v(color);
    return v;
}

Value ValueQtG::readFont(const char*, const char* body) {
    ValueQtG v;
    v.zero();
    v.setTextSlot(body);
    v.setType(VT_FONT);
    return v;
}

std::string ValueQtG::write() const { return writeValue(*this); }

bool ValueQtG::read(const char* text) {
    zero();
    std::string tag;
    const char* body = nullptr;
    switch (splitText(text, &tag, &body)) {
    case Split::Failed:
        return false;
    case Split::Variant:
        fast_set(text + 9);
        return true;
    case Split::Tagged:
        break;
    }
    Value result;
    if (tag == "color")
        result = readColor(tag.c_str(), body);
    else if (tag == "font")
        result = readFont(tag.c_str(), body);
    else
        return readBase(text);
    copyValue(&result);
    return !isNull();
}

void ValueQtG::registerTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        regist_value_type(VT_COLOR, "color", writeValue, readColor);
        regist_value_type(VT_FONT, "font", writeValue, readFont);
    });
}

// ---- conversions ----

namespace {
bool checkType(const Value& v, int16_t expected, const char* name) {
    if (v.type() == expected)
        return true;
    conversionWarning(v.type(), name);
    return false;
}
} // namespace

namespace {
// QRect computes its far corner as x + w - 1 and gives the width back as
// x2 - x1 + 1; both must stay inside int whatever a file held.
int clampExtent(int origin, int extent) {
    const int64_t lo = std::max<int64_t>(int64_t(INT_MIN) + 1, int64_t(INT_MIN) + 1 - origin);
    const int64_t hi = std::min<int64_t>(INT_MAX, int64_t(INT_MAX) - origin);
    return int(std::clamp<int64_t>(extent, lo, hi));
}
} // namespace

QRect toQRect(const Value& v) {
    checkType(v, VT_RECT, "VT_RECT");
    int x = v.intSlot(0), y = v.intSlot(1);
    return QRect(x, y, clampExtent(x, v.intSlot(2)), clampExtent(y, v.intSlot(3)));
}

QRectF toQRectF(const Value& v) {
    checkType(v, VT_RECTF, "VT_RECTF");
    return QRectF(v.doubleSlot(0), v.doubleSlot(1), v.doubleSlot(2), v.doubleSlot(3));
}

QSize toQSize(const Value& v) {
    checkType(v, VT_SIZE, "VT_SIZE");
    return QSize(v.intSlot(2), v.intSlot(3));
}

QSizeF toQSizeF(const Value& v) {
    checkType(v, VT_SIZEF, "VT_SIZEF");
    return QSizeF(v.doubleSlot(2), v.doubleSlot(3));
}

QPoint toQPoint(const Value& v) {
    checkType(v, VT_POINT, "VT_POINT");
    return QPoint(v.intSlot(0), v.intSlot(1));
}

QPointF toQPointF(const Value& v) {
    checkType(v, VT_POINTF, "VT_POINTF");
    return QPointF(v.doubleSlot(0), v.doubleSlot(1));
}

QString toQString(const Value& v) {
    if (v.type() != VT_QSTR && v.type() != VT_STRING)
        conversionWarning(v.type(), "VT_QSTR");
    return QString::fromStdString(v.textSlot());
}

QColor toQColor(const Value& v) {
    checkType(v, VT_COLOR, "VT_COLOR");
    return QColor::fromRgba(v.colorSlot());
}

} // namespace bg
