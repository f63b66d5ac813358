// The time scale above the clip view with the play-head marker; pressing or
// dragging on it moves the play head, the wheel asks the view to zoom.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>

namespace timeline {

struct RulerTicks {
    int framesPerMajor = 0; // frames between two labelled ticks
    int subIntervals = 0;   // minor spacing = major spacing / subIntervals
};

// The tick spacing of a zoom level (0..24; others are clamped).
RulerTicks rulerTicks(int zoomLevel);
// "HH:MM:SS, FF" at 30 frames per second, as the ruler labels its ticks.
QString rulerLabel(int64_t frame);
// "HH:MM:SS,FF", the play-head time shown by the toolbar.
QString clockText(int64_t frame);

} // namespace timeline

class TimeLineRuler : public QWidget {
    Q_OBJECT
public:
    explicit TimeLineRuler(QWidget* parent = nullptr);

    int zoomLevel() const { return m_times; }
    double scale() const { return m_scale; }
    int64_t playFrame() const { return m_frame; }
    int64_t length() const { return m_length; }
    int offset() const { return m_offset; }
    int maxOffset() const { return m_maxOffset; }
    // Screen pixels per frame at the current scale.
    double pixelsPerFrame() const;

public slots:
    void slot_scaleValue(int times, double scale, int offset);
    void slot_offsetChange(int offset);
    void slot_offsetrangeChanged(int min, int max);
    void slot_limitPosX(double x);
    void slot_moveValue(int offset, double x);

signals:
    void sig_viewportRangeUpdate(int value, int64_t pix);
    void sig_scaleStepView(bool);
    void sig_opertorUi(bool, bool);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The right end of the timeline in widget coordinates.
    double endX() const;
    void report(int64_t frame);

    double m_scale = 0.022518;
    int m_times = 12;
    int64_t m_frame = 0;
    int64_t m_length = 0;
    int m_offset = 0;
    int m_maxOffset = 0;
};
