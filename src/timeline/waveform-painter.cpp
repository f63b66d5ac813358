#include "timeline/waveform-painter.h"

#include <QPainter>
#include <QVector>

#include <algorithm>
#include <cmath>

void paintWaveform(QPainter* painter, const ff::AudioPeaks& peaks, const WaveformLook& look) {
    if (!peaks.hasSound() || look.secondsPerPixel <= 0 || look.area.width() <= 0 || look.area.height() <= 0)
        return;
    const double pps = peaks.peaksPerSecond;
    const double left = std::max(look.area.left(), std::floor(look.firstColumn));
    const double right = std::min(look.area.right(), std::ceil(look.lastColumn));
    // Columns whose media time lies inside the file.
    const double mediaEnd = double(peaks.count) / pps;
    const double fromX = std::max(left, look.area.left() + (0 - look.mediaSecondsAtLeft) / look.secondsPerPixel);
    const double toX = std::min(right, look.area.left() + (mediaEnd - look.mediaSecondsAtLeft) / look.secondsPerPixel);
    if (toX <= fromX)
        return;

    QPen pen(look.colour);
    pen.setWidthF(1.0);
    pen.setCapStyle(Qt::FlatCap);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setClipRect(look.area, Qt::IntersectClip);

    const bool twoLanes = peaks.lanes == 2 && look.area.height() >= look.twoLaneHeight;
    const int laneCount = twoLanes ? 2 : 1;
    const double laneHeight = look.area.height() / laneCount;

    if (look.gain <= 0) {
        // Silenced clip: a flat line where its sound would be.
        painter->setPen(pen);
        for (int lane = 0; lane < laneCount; ++lane) {
            const double y = std::floor(look.area.top() + laneHeight * (lane + 0.5)) + 0.5;
            painter->drawLine(QPointF(fromX, y), QPointF(toX, y));
        }
        painter->restore();
        return;
    }

    QVector<QLineF> strokes;
    strokes.reserve(int(toX - fromX + 1) * laneCount);
    const double scale = look.gain / 32768.0;
    for (double x = std::floor(fromX); x < toX; x += 1.0) {
        const double t0 = look.mediaSecondsAtLeft + (x - look.area.left()) * look.secondsPerPixel;
        const double t1 = t0 + look.secondsPerPixel;
        const int64_t b0 = std::max<int64_t>(0, int64_t(std::floor(t0 * pps)));
        const int64_t b1 = std::min<int64_t>(peaks.count, std::max<int64_t>(b0 + 1, int64_t(std::ceil(t1 * pps))));
        for (int lane = 0; lane < laneCount; ++lane) {
            int lo = 0, hi = 0;
            for (int64_t b = b0; b < b1; ++b) {
                for (int l = 0; l < peaks.lanes; ++l) {
                    if (twoLanes && l != lane)
                        continue;
                    lo = std::min<int>(lo, peaks.minAt(b, l));
                    hi = std::max<int>(hi, peaks.maxAt(b, l));
                }
            }
            if (lo == 0 && hi == 0)
                continue; // silence draws nothing
            const double half = laneHeight / 2;
            const double centre = look.area.top() + laneHeight * lane + half;
            const double yTop = centre - std::min(1.0, hi * scale) * half;
            const double yBottom = centre - std::max(-1.0, lo * scale) * half;
            // At least one pixel high, so that quiet sound still shows.
            const double x0 = x + 0.5;
            strokes.append(QLineF(x0, std::floor(yTop), x0, std::max(std::floor(yTop) + 1, std::ceil(yBottom))));
        }
    }
    painter->setPen(pen);
    painter->drawLines(strokes);
    painter->restore();
}
