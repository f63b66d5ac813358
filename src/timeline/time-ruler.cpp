#include "timeline/time-ruler.h"

#include "timeline/timeline-units.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace timeline {

namespace {

constexpr int kRowOfLevel[25] = {0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5, 5,
                                 6, 6, 7, 8, 9, 10, 11, 11, 12, 13, 14, 15};
constexpr RulerTicks kRows[16] = {{5, 5},     {10, 5},     {15, 5},     {30, 8},    {90, 8},   {150, 5},
                                  {450, 8},   {900, 8},    {1800, 8},   {5400, 8},  {9000, 8}, {18000, 8},
                                  {54000, 8}, {108000, 8}, {324000, 8}, {540000, 8}};

QString timeText(int64_t f, const char* pattern) {
    f = std::max<int64_t>(f, 0);
    const int64_t hours = f / 108000;
    const int64_t minutes = f / 1800 - 60 * hours;
    const int64_t seconds = f / 30 - 60 * (f / 1800);
    const int64_t frames = f - 30 * (f / 30);
    auto two = [](int64_t v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return QString::fromLatin1(pattern).arg(two(hours), two(minutes), two(seconds), two(frames));
}

} // namespace

RulerTicks rulerTicks(int zoomLevel) {
    return kRows[kRowOfLevel[std::clamp(zoomLevel, 0, 24)]];
}

QString rulerLabel(int64_t frame) {
    return timeText(frame, "%1:%2:%3, %4");
}

QString clockText(int64_t frame) {
    return timeText(frame, "%1:%2:%3,%4");
}

} // namespace timeline

namespace {
constexpr int kEdge = 20;     // pixels from a side where a drag scrolls
constexpr int kEdgeStep = 50; // pixels scrolled per move event there
} // namespace

TimeLineRuler::TimeLineRuler(QWidget* parent) : QWidget(parent) {
    qRegisterMetaType<int64_t>("int64_t");
    setMouseTracking(false);
}

double TimeLineRuler::pixelsPerFrame() const {
    return timeline::frameWidth() * m_scale;
}

double TimeLineRuler::endX() const {
    return double(m_length) * pixelsPerFrame() - m_offset;
}

void TimeLineRuler::report(int64_t frame) {
    // The last frame is the length less one: one past it shows nothing.
    m_frame = std::clamp<int64_t>(frame, 0, std::max<int64_t>(0, m_length - 1));
    update();
    emit sig_viewportRangeUpdate(m_offset, m_frame);
}

void TimeLineRuler::slot_scaleValue(int times, double scale, int offset) {
    m_times = times;
    m_scale = scale;
    m_offset = offset;
    update();
}

void TimeLineRuler::slot_offsetChange(int offset) {
    m_offset = offset;
    update();
}

void TimeLineRuler::slot_offsetrangeChanged(int min, int max) {
    Q_UNUSED(min);
    m_maxOffset = max;
    update();
}

void TimeLineRuler::slot_limitPosX(double x) {
    m_length = int64_t(std::llround(x / timeline::frameWidth()));
    // A timeline grown shorter (its last clip deleted or moved) takes the
    // play head back onto its new last frame.
    if (m_frame > std::max<int64_t>(0, m_length - 1))
        report(m_length - 1);
}

void TimeLineRuler::slot_moveValue(int offset, double x) {
    m_offset = offset;
    m_frame = int64_t(std::llround(x / timeline::frameWidth()));
    update();
}

void TimeLineRuler::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double dpi = timeline::dpiScale();
    QFont font(QStringLiteral("Microsoft YaHei"));
    font.setPointSize(8);
    painter.setFont(font);
    painter.setPen(QColor(QStringLiteral("#9b9b9b")));

    const double p = pixelsPerFrame();
    const timeline::RulerTicks ticks = timeline::rulerTicks(m_times);
    const double major = p * ticks.framesPerMajor;
    const int bottom = height();
    if (major > 0.0) {
        const int64_t first = int64_t(m_offset / major);
        int64_t label = first * ticks.framesPerMajor;
        const QFontMetrics metrics(font);
        for (double x = double(first) * major - m_offset; x < width();
             x += major, label += ticks.framesPerMajor) {
            painter.drawLine(QPointF(x, bottom), QPointF(x, bottom - 12 * dpi));
            const QString text = timeline::rulerLabel(label);
            if (label == 0)
                painter.drawText(QPointF(x, bottom - 20), text);
            else
                painter.drawText(QPointF(x - metrics.horizontalAdvance(text) / 2.0, bottom - 20 * dpi), text);
            for (int i = 1; i < ticks.subIntervals; ++i) {
                const double mx = x + i * major / ticks.subIntervals;
                painter.drawLine(QPointF(mx, bottom), QPointF(mx, bottom - 5 * dpi));
            }
        }
    }

    const double X = double(m_frame) * p - m_offset;
    const QColor orange(QStringLiteral("#f5a623"));
    QPainterPath tag;
    tag.moveTo(X, bottom);
    tag.lineTo(X + 5 * dpi, bottom - 5 * dpi);
    tag.lineTo(X + 5 * dpi, bottom - 15 * dpi);
    tag.lineTo(X - 5 * dpi, bottom - 15 * dpi);
    tag.lineTo(X - 5 * dpi, bottom - 5 * dpi);
    tag.closeSubpath();
    painter.setPen(orange);
    painter.setBrush(orange);
    painter.drawPath(tag);
}

void TimeLineRuler::mousePressEvent(QMouseEvent* event) {
    emit sig_opertorUi(true, true);
    const double x = std::min(double(event->pos().x()), endX());
    report(int64_t(std::llround((m_offset + x) / pixelsPerFrame())));
}

void TimeLineRuler::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() == Qt::NoButton)
        return;
    const int px = event->pos().x();
    const double p = pixelsPerFrame();
    if (px > width() - kEdge && m_offset < m_maxOffset) {
        m_offset = std::min(m_offset + kEdgeStep, m_maxOffset);
        report(std::min(int64_t((m_offset + width() - kEdge) / p), m_length));
    } else if (px < kEdge && m_offset > 0) {
        m_offset = std::max(m_offset - kEdgeStep, 0);
        report(int64_t((m_offset + kEdge) / p) + 1);
    } else {
        // A timeline shorter than the offset leaves no room: the start wins.
        const double x = std::max(0.0, std::min(double(px), endX()));
        report(int64_t(std::llround((m_offset + x) / p)));
    }
}

void TimeLineRuler::wheelEvent(QWheelEvent* event) {
    emit sig_scaleStepView(event->angleDelta().y() >= 1);
    event->accept();
}
