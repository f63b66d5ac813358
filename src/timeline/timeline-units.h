// Timeline units: frames of 1/30 s, 50 x dpiScale scene pixels each.
#pragma once

#include "values/read-limits.h"
#include "values/source-types.h"

#include <QString>

#include <cstdint>

namespace timeline {

// The screen's scale (QssManager's rule), or the value a test fixed.
double dpiScale();
// 0 returns to the screen's value.
void overrideDpiScale(double scale);

inline double frameWidth() { return 50.0 * dpiScale(); }
// Halves go up, also for negative values.
int64_t pixelToFrame(double px);
inline double frameToPixel(int64_t frame) { return double(frame) * frameWidth(); }

// Row height of a track of this kind, scene pixels (30 for the kind-0 row).
double rowHeight(uint32_t kind);
// The translated label of a track kind; "未知" for any other kind.
QString kindLabel(uint32_t kind);
bool isKnownKind(uint32_t kind);

} // namespace timeline
