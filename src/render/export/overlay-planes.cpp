#include "overlay-planes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Limited-range rows of an RGB -> YUV matrix for 0..255 RGB, in 1/65536:
// Y without its 16, U and V without their 128; and those offsets per unit
// of alpha (0..255), in the same scale.
struct YuvRows {
    int32_t y[3], u[3], v[3];
    int32_t yOffset, cOffset;
};

YuvRows rowsFor(int matrix) {
    const double kr = matrix == 601 ? 0.299 : 0.2126;
    const double kb = matrix == 601 ? 0.114 : 0.0722;
    const double kg = 1.0 - kr - kb;
    const double ys = 219.0 / 255.0, cs = 224.0 / 255.0;
    auto scaled = [](double v) { return int32_t(std::lround(v * 65536.0)); };
    return {{scaled(kr * ys), scaled(kg * ys), scaled(kb * ys)},
            {scaled(-kr / (2 * (1 - kb)) * cs), scaled(-kg / (2 * (1 - kb)) * cs), scaled(0.5 * cs)},
            {scaled(0.5 * cs), scaled(-kg / (2 * (1 - kr)) * cs), scaled(-kb / (2 * (1 - kr)) * cs)},
            scaled(16.0 / 255.0),
            scaled(128.0 / 255.0)};
}

// A sum in 1/65536 of 0..255 as the blend adds it: 1/256, within 0..255.
uint16_t fixed(int32_t v) {
    return uint16_t(std::clamp((v + 128) >> 8, 0, 255 * 256));
}

// What is kept of the picture beneath under a coverage of 0..total, in 1/256.
uint16_t kept(int coverage, int total) {
    return uint16_t(256 - (coverage * 256 + total / 2) / total);
}

} // namespace

void PlanesOverlay::clear() {
    m_yRuns.clear();
    m_cRuns.clear();
    m_yKeep.clear();
    m_yAdd.clear();
    m_cKeep.clear();
    m_uAdd.clear();
    m_vAdd.clear();
    m_right = m_bottom = 0;
}

void PlanesOverlay::setLayer(const uint8_t* rgba, const GsPixelRect& at, int matrix) {
    clear();
    if (!rgba || at.empty() || at.x < 0 || at.y < 0 || at.x % 2 || at.y % 2 || at.width % 2 || at.height % 2)
        return;
    const YuvRows m = rowsFor(matrix);
    const size_t stride = size_t(at.width) * 4;
    // over = layer + beneath * (1 - alpha) in RGB. The matrix is linear, so
    // in YUV it is the layer's YUV without offsets, plus the offset times
    // alpha, plus beneath * (1 - alpha).
    for (int y = 0; y < at.height; ++y) {
        const uint8_t* row = rgba + size_t(y) * stride;
        for (int x = 0; x < at.width;) {
            if (row[size_t(x) * 4 + 3] == 0) {
                ++x;
                continue;
            }
            Run run{at.y + y, at.x + x, 0, m_yKeep.size()};
            for (; x < at.width && row[size_t(x) * 4 + 3] != 0; ++x) {
                const uint8_t* p = row + size_t(x) * 4;
                m_yKeep.push_back(kept(p[3], 255));
                m_yAdd.push_back(fixed(m.y[0] * p[0] + m.y[1] * p[1] + m.y[2] * p[2] + m.yOffset * p[3]));
                ++run.length;
            }
            m_yRuns.push_back(run);
        }
    }
    // Chroma: each 2 x 2 block the layer touches, with its mean colour and coverage.
    const int cw = at.width / 2, ch = at.height / 2;
    for (int cy = 0; cy < ch; ++cy) {
        const uint8_t* top = rgba + size_t(2 * cy) * stride;
        const uint8_t* bottom = top + stride;
        auto coverage = [&](int cx) {
            return top[cx * 8 + 3] + top[cx * 8 + 7] + bottom[cx * 8 + 3] + bottom[cx * 8 + 7];
        };
        for (int cx = 0; cx < cw;) {
            if (coverage(cx) == 0) {
                ++cx;
                continue;
            }
            Run run{at.y / 2 + cy, at.x / 2 + cx, 0, m_cKeep.size()};
            for (; cx < cw && coverage(cx) != 0; ++cx) {
                // Sums of the four samples: the mean is taken in the rounding.
                const uint8_t* t = top + size_t(cx) * 8;
                const uint8_t* b = bottom + size_t(cx) * 8;
                const int r = t[0] + t[4] + b[0] + b[4];
                const int g = t[1] + t[5] + b[1] + b[5];
                const int bl = t[2] + t[6] + b[2] + b[6];
                const int a = coverage(cx);
                m_cKeep.push_back(kept(a, 4 * 255));
                m_uAdd.push_back(fixed((m.u[0] * r + m.u[1] * g + m.u[2] * bl + m.cOffset * a + 2) >> 2));
                m_vAdd.push_back(fixed((m.v[0] * r + m.v[1] * g + m.v[2] * bl + m.cOffset * a + 2) >> 2));
                ++run.length;
            }
            m_cRuns.push_back(run);
        }
    }
    m_right = at.x + at.width;
    m_bottom = at.y + at.height;
}

bool mixPlanes(const ff::VFrameCtx& from, const ff::VFrameCtx* to, double share, std::vector<uint8_t>* i420) {
    auto fits = [](const ff::VFrameCtx& f) {
        return f.planes == 3 && f.bits == 8 && f.chromaShiftX == 1 && f.chromaShiftY == 1 && f.width > 0 &&
               f.height > 0 && f.width % 2 == 0 && f.height % 2 == 0;
    };
    const int w = from.width, h = from.height;
    if (!fits(from) || (to && (!fits(*to) || to->width != w || to->height != h)))
        return false;
    i420->resize(size_t(w) * size_t(h) * 3 / 2);
    uint8_t* plane = i420->data();
    // to's share in 1/256.
    const int k = int(std::lround(std::clamp(share, 0.0, 1.0) * 256.0));
    for (int i = 0; i < 3; ++i) {
        const int pw = i == 0 ? w : w / 2, ph = i == 0 ? h : h / 2;
        for (int y = 0; y < ph; ++y) {
            const uint8_t* a = from.plane(i) + size_t(y) * size_t(from.planeStride[i]);
            uint8_t* out = plane + size_t(y) * size_t(pw);
            if (!to || k == 0) {
                std::memcpy(out, a, size_t(pw));
                continue;
            }
            const uint8_t* b = to->plane(i) + size_t(y) * size_t(to->planeStride[i]);
            for (int x = 0; x < pw; ++x)
                out[x] = uint8_t((a[x] * (256 - k) + b[x] * k + 128) >> 8);
        }
        plane += size_t(pw) * size_t(ph);
    }
    return true;
}

bool PlanesOverlay::layOnto(uint8_t* i420, int w, int h) const {
    if (w <= 0 || h <= 0 || w % 2 || h % 2 || m_right > w || m_bottom > h)
        return false;
    const int cw = w / 2, ch = h / 2;
    uint8_t* yPlane = i420;
    uint8_t* uPlane = yPlane + size_t(w) * size_t(h);
    uint8_t* vPlane = uPlane + size_t(cw) * size_t(ch);
    auto blend = [](uint8_t* out, const uint16_t* keep, const uint16_t* add, int n) {
        for (int i = 0; i < n; ++i)
            out[i] = uint8_t(std::min((out[i] * keep[i] + add[i] + 128) >> 8, 255));
    };
    for (const Run& run : m_yRuns)
        blend(yPlane + size_t(run.row) * size_t(w) + size_t(run.x), &m_yKeep[run.offset], &m_yAdd[run.offset],
              run.length);
    for (const Run& run : m_cRuns) {
        const size_t at = size_t(run.row) * size_t(cw) + size_t(run.x);
        blend(uPlane + at, &m_cKeep[run.offset], &m_uAdd[run.offset], run.length);
        blend(vPlane + at, &m_cKeep[run.offset], &m_vAdd[run.offset], run.length);
    }
    return true;
}
