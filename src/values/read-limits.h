// Values read from a project file, kept inside what the editor can show,
// play and export. Each function logs what it changed, naming the value, so
// that a damaged or hostile file can be told from a user's own work.
#pragma once

#include <cstdint>

class QFont;
template <typename T> struct ColourControlsOf;

namespace timeline {

// The timeline's length: every clip read from outside ends within 24 hours.
constexpr int64_t kMaxFrames = int64_t(30) * 3600 * 24;

// What a project may hold, far beyond what anyone edits by hand; a file that
// asks for more is broken or hostile, and the rest of it is skipped.
constexpr int kMaxAddedTracks = 100; // tracks added under one header
constexpr int kMaxClips = 10000;     // clips on the whole timeline

// The ranges of the clip panels; a file's values outside them are clamped.
constexpr int kMaxVolume = 128;
constexpr int kMaxOpacity = 255; // "transparent" and the subtitle's background
constexpr int kColourControlMin = -50; // temperature, saturation, hue, contrast, brightness
constexpr int kColourControlMax = 50;
constexpr int kHighlightMin = 0;
constexpr int kHighlightMax = 50;
constexpr int kMaxStretch = 2; // 0 keeps proportions, 1 scales, 2 fills
// Crop coordinates and media sizes, in pixels of the media.
constexpr double kMaxCoordinate = 1e6;
// A clip's place on the canvas (centre and size, canvas pixels): the
// panels' range, so that whatever the user typed reads back as typed.
constexpr double kMaxPlacement = 999999999;

// The largest subtitle text, in points or pixels: the panel's largest size.
constexpr int kMaxFontSize = 500;
// A clip's stacking order: room for a billion raises or lowerings either way.
constexpr int kMaxStacking = 1000000000;

// v inside lo..hi.
int clampSetting(int v, int lo, int hi, const char* what);
// A finite v inside -limit..limit; not finite reads as 0.
double clampCoordinate(double v, const char* what, double limit = kMaxCoordinate);
// Start inside 0..kMaxFrames - 1 and length at least one frame, ending by
// kMaxFrames: nothing read makes the timeline longer than 24 hours.
void fitClipSpan(int64_t* start, int64_t* length);
// A font's size within kMaxFontSize, and a family: an empty one would be
// written as such but read back as the default family.
void fitFont(QFont* font, const char* what);
// Each colour control inside the panel's range.
void fitColours(ColourControlsOf<int>* colours);

} // namespace timeline
