// Qt geometry, text, colour and font types as values of the value library.
//
//   31 [qstr:N]bytes                 QString (UTF-8, N bytes)
//   32 [rectf]x:%lf;y:%lf;w:%lf;h:%lf  QRectF
//   33 [rect]x:%d;y:%d;w:%d;h:%d       QRect (x, y, width, height)
//   34 [pointf]x:%lf;y:%lf           QPointF
//   35 [point]x:%d;y:%d              QPoint
//   36 [sizef]w:%lf;h:%lf            QSizeF
//   37 [size]w:%d;h:%d               QSize
//   39 [font]description             QFont (QFont::toString)
//   40 [color]#rrggbb                QColor (alpha is not written)
#pragma once

#include "value/value.h"

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>

namespace bg {

enum QtValueTypeId : int16_t {
    VT_QSTR = 31,
    VT_RECTF = 32,
    VT_RECT = 33,
    VT_POINTF = 34,
    VT_POINT = 35,
    VT_SIZEF = 36,
    VT_SIZE = 37,
    VT_FONT = 39,
    VT_COLOR = 40,
};

class ValueQt : public Value {
public:
    ValueQt() = default;
    explicit ValueQt(const Value& other) : Value(other) {}
    explicit ValueQt(const QString& text);
    explicit ValueQt(const QRectF& rect);
    explicit ValueQt(const QRect& rect);
    explicit ValueQt(const QPointF& point);
    explicit ValueQt(const QPoint& point);
    explicit ValueQt(const QSizeF& size);
    explicit ValueQt(const QSize& size);
    ~ValueQt() override = default;

    std::string write() const override;
    bool read(const char* text) override;

    // Registers the seven geometry and text types, once per process.
    static void registerTypes();

    // The readers and writer behind the registration.
    static Value readString(const char* tag, const char* body);
    static Value readNumbers(const char* tag, const char* body);
    static std::string writeValue(const Value& value);

    // Raw slot setters for the readers.
    static ValueQt make(int16_t id, int32_t x, int32_t y, int32_t w, int32_t h);
    static ValueQt make(int16_t id, double x, double y, double w, double h);
};

class ValueQtG : public Value {
public:
    ValueQtG() = default;
    explicit ValueQtG(const Value& other) : Value(other) {}
    explicit ValueQtG(const QColor& color);
    explicit ValueQtG(const QFont& font);
    ~ValueQtG() override = default;

    std::string write() const override;
    bool read(const char* text) override;

    // Registers colour and font, once per process.
    static void registerTypes();

    static Value readColor(const char* tag, const char* body);
    static Value readFont(const char* tag, const char* body);
    static std::string writeValue(const Value& value);
};

// Value to Qt. A value of another type prints a line to standard error and
// yields the object built from its slots as they are.
QRect toQRect(const Value& value);
QRectF toQRectF(const Value& value);
QSize toQSize(const Value& value);
QSizeF toQSizeF(const Value& value);
QPoint toQPoint(const Value& value);
QPointF toQPointF(const Value& value);
QString toQString(const Value& value);
QColor toQColor(const Value& value);

} // namespace bg
