// How decoded pictures become RGB: the YUV matrix and range a frame was made
// with (from its tags, or guessed by size the way players guess), and the
// turn of BT.2020 primaries into the BT.709 / sRGB primaries that the rest of
// the program composes in.
#pragma once

#include "av-util.h"

#include <cstdint>
#include <vector>

namespace ff::av {

struct FrameColour {
    int matrix = AVCOL_SPC_BT470BG; // an AVColorSpace value that sws_getCoefficients knows
    bool fullRange = false;
    bool wideGamut = false; // BT.2020 primaries: turned into BT.709 after conversion
    bool yuv = true;        // false for RGB, palette and grey pictures, which keep the converter's defaults
    bool operator==(const FrameColour& o) const {
        return matrix == o.matrix && fullRange == o.fullRange && wideGamut == o.wideGamut && yuv == o.yuv;
    }
    bool operator!=(const FrameColour& o) const { return !(*this == o); }
};

// What a decoded frame's pixels mean. `codec` tells JPEG-like still pictures
// (always BT.601, full range when untagged) from video.
FrameColour frameColour(const AVFrame* frame, AVCodecID codec);

// Gives a YUV → RGBA converter the frame's matrix and range; leaves any other
// converter alone.
void setYuvToRgb(SwsContext* sws, const FrameColour& colour);

// Turns decoded pictures into RGBA of any size with swscale's exact
// arithmetic (bicubic, accurate rounding, chroma filtered to full width),
// told the frame's matrix and range. YUV pictures go through planar RGB:
// swscale has vector code for that step and only a per-pixel loop for YUV
// straight to RGBA, and the result is the same to the bit at a third of the
// time. A warm converter allocates nothing.
class RgbaConverter {
public:
    // False when swscale cannot convert the format (nothing is written).
    bool convert(const uint8_t* const source[4], const int sourceStride[4], AVPixelFormat format, int sourceWidth,
                 int sourceHeight, const FrameColour& colour, uint8_t* rgba, int stride, int width, int height);

private:
    SwsPtr m_convert; // to RGBA, or to planar RGB(A) for YUV pictures
    // What m_convert was made for and told: a context made anew may sit at
    // the address of the one it replaced, so the pointer cannot tell.
    struct Made {
        int format = -1, sourceWidth = 0, sourceHeight = 0, target = -1, width = 0, height = 0;
        FrameColour colour;
        bool operator==(const Made& o) const {
            return format == o.format && sourceWidth == o.sourceWidth && sourceHeight == o.sourceHeight &&
                   target == o.target && width == o.width && height == o.height && colour == o.colour;
        }
    } m_made;
    SwsPtr m_pack;      // planar RGB(A) to RGBA
    std::vector<uint8_t> m_planar;
};

// Turns RGBA pixels with BT.2020 primaries (BT.709 transfer curve) into
// BT.709 primaries, in place; colours outside BT.709 are clipped.
class GamutMapper {
public:
    void bt2020ToBt709(uint8_t* rgba, int width, int height, int stride);

private:
    void build();
    std::vector<float> m_toLinear;     // 256 entries
    std::vector<uint8_t> m_fromLinear; // kEncodeSteps + 1 entries over 0..1
};

} // namespace ff::av
