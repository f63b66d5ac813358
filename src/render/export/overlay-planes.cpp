#include "overlay-planes.h"

#include <algorithm>
#include <cstring>

namespace {

// Limited-range rows of an RGB -> YUV matrix for 0..255 RGB: Y without its
// 16, U and V without their 128.
struct YuvRows {
    float y[3], u[3], v[3];
};

YuvRows rowsFor(int matrix) {
    const float kr = matrix == 601 ? 0.299f : 0.2126f;
    const float kb = matrix == 601 ? 0.114f : 0.0722f;
    const float kg = 1.0f - kr - kb;
    const float ys = 219.0f / 255.0f, cs = 224.0f / 255.0f;
    return {{kr * ys, kg * ys, kb * ys},
            {-kr / (2 * (1 - kb)) * cs, -kg / (2 * (1 - kb)) * cs, 0.5f * cs},
            {0.5f * cs, -kg / (2 * (1 - kr)) * cs, -kb / (2 * (1 - kr)) * cs}};
}

uint8_t toByte(float v) {
    return uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f));
}

void copyPlane(const uint8_t* from, int fromStride, uint8_t* to, int width, int height) {
    for (int y = 0; y < height; ++y)
        std::memcpy(to + size_t(y) * size_t(width), from + size_t(y) * size_t(fromStride), size_t(width));
}

} // namespace

bool layOverPlanes(const ff::VFrameCtx& base, const uint8_t* layer, const GsPixelRect& at, int matrix,
                   std::vector<uint8_t>* i420) {
    const int w = base.width, h = base.height;
    if (base.planes != 3 || base.bits != 8 || base.chromaShiftX != 1 || base.chromaShiftY != 1 || w <= 0 ||
        h <= 0 || w % 2 || h % 2)
        return false;
    if (!at.empty() && (!layer || at.x < 0 || at.y < 0 || at.x % 2 || at.y % 2 || at.width % 2 ||
                        at.height % 2 || at.x + at.width > w || at.y + at.height > h))
        return false;
    const int cw = w / 2, ch = h / 2;
    i420->resize(size_t(w) * size_t(h) * 3 / 2);
    uint8_t* yPlane = i420->data();
    uint8_t* uPlane = yPlane + size_t(w) * size_t(h);
    uint8_t* vPlane = uPlane + size_t(cw) * size_t(ch);
    copyPlane(base.plane(0), base.planeStride[0], yPlane, w, h);
    copyPlane(base.plane(1), base.planeStride[1], uPlane, cw, ch);
    copyPlane(base.plane(2), base.planeStride[2], vPlane, cw, ch);
    if (at.empty())
        return true;

    // over = layer + base * (1 - alpha) in RGB; the matrix is linear, so
    // in YUV: layer's YUV without offsets, plus offset * alpha, plus
    // base * (1 - alpha).
    const YuvRows m = rowsFor(matrix);
    const size_t layerStride = size_t(at.width) * 4;
    for (int y = 0; y < at.height; ++y) {
        const uint8_t* in = layer + size_t(y) * layerStride;
        uint8_t* out = yPlane + size_t(at.y + y) * size_t(w) + size_t(at.x);
        for (int x = 0; x < at.width; ++x, in += 4) {
            const int a = in[3];
            if (a == 0)
                continue;
            const float keep = float(255 - a) / 255.0f;
            out[x] = toByte(m.y[0] * in[0] + m.y[1] * in[1] + m.y[2] * in[2] + 16.0f * (1.0f - keep) +
                            keep * out[x]);
        }
    }
    for (int cy = 0; cy < at.height / 2; ++cy) {
        const uint8_t* top = layer + size_t(2 * cy) * layerStride;
        const uint8_t* bottom = top + layerStride;
        const size_t row = size_t(at.y / 2 + cy) * size_t(cw) + size_t(at.x / 2);
        uint8_t* u = uPlane + row;
        uint8_t* v = vPlane + row;
        for (int cx = 0; cx < at.width / 2; ++cx, top += 8, bottom += 8) {
            const int a = top[3] + top[7] + bottom[3] + bottom[7];
            if (a == 0)
                continue;
            // The block's mean colour and coverage.
            const float r = float(top[0] + top[4] + bottom[0] + bottom[4]) / 4.0f;
            const float g = float(top[1] + top[5] + bottom[1] + bottom[5]) / 4.0f;
            const float b = float(top[2] + top[6] + bottom[2] + bottom[6]) / 4.0f;
            const float keep = 1.0f - float(a) / (4.0f * 255.0f);
            const float offset = 128.0f * (1.0f - keep);
            u[cx] = toByte(m.u[0] * r + m.u[1] * g + m.u[2] * b + offset + keep * u[cx]);
            v[cx] = toByte(m.v[0] * r + m.v[1] * g + m.v[2] * b + offset + keep * v[cx]);
        }
    }
    return true;
}
