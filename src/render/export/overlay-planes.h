// Laying drawn layers onto decoded YUV planes: the export draws only what
// lies over a clip that fills the canvas as decoded, and lays that onto a
// copy of the clip's planes in place of composing the whole picture.
#pragma once

#include "graphics/graphics.h"
#include "media/media.h"

#include <cstdint>
#include <vector>

// Writes into `i420` (Y, then U, then V, without gaps) the 8-bit 4:2:0
// planes of `from`, or those of `from` and `to` mixed, `share` (0..1) of
// `to`: what a dissolve between the two gives. False, with nothing
// written, when they are not such planes of one size.
bool mixPlanes(const ff::VFrameCtx& from, const ff::VFrameCtx* to, double share, std::vector<uint8_t>* i420);

class PlanesOverlay {
public:
    // Takes a drawn layer: premultiplied RGBA rows of `at` (at.width * 4
    // bytes apart), a rectangle with even corners, turned into YUV with the
    // matrix given (709 or 601, limited range). What each sample of the
    // layer adds and keeps of the picture beneath is worked out here once,
    // so that a layer laid over many pictures costs little each time.
    void setLayer(const uint8_t* rgba, const GsPixelRect& at, int matrix);
    // Drops the layer: laying it over gives the picture as it is.
    void clear();

    // Lays the layer onto `i420`, planes as mixPlanes writes them of a
    // picture width x height. Blending is linear, so this is what blending
    // the layer over the picture's RGB and converting gives, with the
    // layer's chroma averaged over each 2 x 2 block. False, with nothing
    // changed, when the layer does not fit inside the picture.
    bool layOnto(uint8_t* i420, int width, int height) const;

private:
    // A stretch of samples in one row of a plane that the layer covers at
    // least in part; its keep and add values start at `offset`.
    struct Run {
        int row = 0, x = 0, length = 0;
        size_t offset = 0;
    };
    // Per covered sample, in 1/256: out = (in * keep + add) / 256. Samples
    // the layer leaves clear are not stored, so laying a layer costs what
    // it covers, wherever its parts lie.
    std::vector<Run> m_yRuns, m_cRuns; // U and V share the chroma runs
    std::vector<uint16_t> m_yKeep, m_yAdd;
    std::vector<uint16_t> m_cKeep, m_uAdd, m_vAdd;
    int m_right = 0, m_bottom = 0; // the layer's extent (luma samples)
};
