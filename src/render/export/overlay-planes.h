// Laying drawn layers onto decoded YUV planes: the export draws only what
// lies over a clip that fills the canvas as decoded, and lays that onto a
// copy of the clip's planes in place of composing the whole picture.
#pragma once

#include "graphics/graphics.h"
#include "media/media.h"

#include <cstdint>
#include <vector>

// Writes into `i420` (Y, then U, then V, without gaps: width * height * 3 / 2
// bytes) the 8-bit 4:2:0 limited-range planes of `base` with `layer` over
// them. `layer` holds premultiplied RGBA rows of `at` (width * 4 bytes
// apart), a rectangle inside the picture with even corners, and is turned
// into YUV with the matrix given (709 or 601). Blending is linear, so this
// is what blending the layer over the picture's RGB and converting gives,
// with chroma averaged over each 2 x 2 block. False, with nothing written,
// when the base is not such planes or `at` does not fit.
bool layOverPlanes(const ff::VFrameCtx& base, const uint8_t* layer, const GsPixelRect& at, int matrix,
                   std::vector<uint8_t>* i420);
