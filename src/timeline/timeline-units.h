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

// Longest clip, offset or start read from outside: 24 hours of frames.
constexpr int64_t kMaxFrames = int64_t(30) * 3600 * 24;

} // namespace timeline
