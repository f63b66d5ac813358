// Draws a clip's waveform from its file's peaks: one vertical stroke per
// screen pixel column, from the smallest to the largest sample under it.
#pragma once

#include "media/peaks.h"

#include <QColor>
#include <QRectF>

class QPainter;

struct WaveformLook {
    QRectF area;              // where the waveform goes, in the painter's (screen) units
    double firstColumn = 0;   // the first and last column to draw (the exposed part)
    double lastColumn = 0;
    double mediaSecondsAtLeft = 0; // media time at area.left()
    double secondsPerPixel = 0;
    double gain = 1;          // the clip's volume: 1 at unity; 0 draws a flat line
    QColor colour;
    double twoLaneHeight = 48; // lanes of a stereo file are drawn apart from this height on
};

void paintWaveform(QPainter* painter, const ff::AudioPeaks& peaks, const WaveformLook& look);
