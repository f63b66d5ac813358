// Frames that need no composing, or composing only of what lies over one
// clip: the whole picture, or its lowest layer, is one opaque clip filling
// the canvas as it is, so its decoded planes go to the writer without the
// GPU's draw and read-back of the whole picture.
#pragma once

#include "media/media.h"
#include "render/preview-requests.h"

// The picture such a frame shows, or null. It qualifies when exactly one
// track shows anything, with no transition; its picture is opaque, uncut,
// unmoved, unturned, fully opaque, its colours at rest; it fills the
// canvas exactly; and the canvas is written at its own size.
ff::VFramePtr directPicture(const ExportFrameRecord& record, int canvasWidth, int canvasHeight, int outputWidth,
                            int outputHeight);

// The decoded planes a frame's lowest layer is made of, where the writer
// takes them as they are: one picture filling the canvas as decoded, with
// other layers over it, or a dissolve between two such pictures, alone or
// under other layers. Only the layers over it are then drawn, over a
// transparent picture, and laid onto the planes (see PlanesOverlay).
struct DecodedBase {
    int entry = -1;            // the lowest layer's entry; -1 when the frame is composed
    ff::VFramePtr from, to;    // to: the dissolve's second picture, else null
    double progress = 0.0;     // the dissolve's share of `to`, 0..1
};
// It must lie strictly below every other layer shown, and the canvas be
// written at its own size.
DecodedBase decodedBase(const ExportFrameRecord& record, int canvasWidth, int canvasHeight, int outputWidth,
                        int outputHeight, int writerMatrix);

// Whether the writer can take these planes as they are: 8-bit YUV 4:2:0
// in three planes, limited range, with the writer's matrix (709 or 601, as
// the writer reports; 0 takes none).
bool planesFitWriter(const ff::VFrameCtx& frame, int writerMatrix);

// Whether two frames' records draw the same layers over their entry `base`
// (the same items, stacked alike, showing the same pictures and texts in
// the same places and looks): a layer drawn for one is the other's too.
bool layersAlike(const ExportFrameRecord& a, const ExportFrameRecord& b, int base);
