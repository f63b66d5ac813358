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

// The picture of one layer when it fills the canvas as decoded (the
// per-layer half of directPicture), or null.
ff::VFramePtr pictureAsDecoded(const RenderProps& shown, int canvasWidth, int canvasHeight);

// Frames whose lowest layer is such a picture, in planes the writer takes
// as they are, with other layers over it: only those are drawn, over a
// transparent picture, and laid onto a copy of the planes (see
// layOverPlanes). The index of the lowest layer's entry, or -1. It must lie
// strictly below every other layer shown, and the canvas be written at its
// own size.
int overlaidPlanes(const ExportFrameRecord& record, int canvasWidth, int canvasHeight, int outputWidth,
                   int outputHeight, int writerMatrix);

// Whether the writer can take these planes as they are: 8-bit YUV 4:2:0
// in three planes, limited range, with the writer's matrix (709 or 601, as
// the writer reports; 0 takes none).
bool planesFitWriter(const ff::VFrameCtx& frame, int writerMatrix);
