// Timeline units and kinds: frames of 1/30 s, 50 x dpiScale scene pixels each.
#pragma once

#include <QString>

#include <cstdint>

enum SourceType : uint32_t {
    SourceNone = 0,
    SourcePicture = 1,
    SourceVideo = 2,
    SourceDub = 4,
    SourceSubtitle = 8,
    SourceAudio = 16,
};

enum MenuType { MenuPicture = 0, MenuVideo = 1, MenuDub = 2, MenuSubtitle = 3, MenuAudio = 4, MenuTransition = 5, MenuCrop = 6 };

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
// Placement and crop coordinates, in pixels of the canvas or the media.
constexpr double kMaxCoordinate = 1e6;

} // namespace timeline
