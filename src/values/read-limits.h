// Values read from a project file, kept inside what the editor can show,
// play and export. Each function logs what it changed, naming the value, so
// that a damaged or hostile file can be told from a user's own work.
#pragma once

#include <cstdint>

class QFont;

namespace timeline {

// The largest subtitle text, in points or pixels; the panel offers up to 120.
constexpr int kMaxFontSize = 400;

// v inside lo..hi.
int clampSetting(int v, int lo, int hi, const char* what);
// A finite v inside -kMaxCoordinate..kMaxCoordinate; not finite reads as 0.
double clampCoordinate(double v, const char* what);
// Start inside 0..kMaxFrames - 1 and length at least one frame, ending by
// kMaxFrames: nothing read makes the timeline longer than 24 hours.
void fitClipSpan(int64_t* start, int64_t* length);
// A font's size within kMaxFontSize, and a family: an empty one would be
// written as such but read back as the default family.
void fitFont(QFont* font, const char* what);

} // namespace timeline
