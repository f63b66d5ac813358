// Frames that need no composing: the whole picture is one opaque clip
// filling the canvas as it is, so it can go to the writer as decoded,
// without the GPU's draw and read-back.
#pragma once

#include "media/media.h"
#include "render/preview-requests.h"

// The picture such a frame shows, or null. It qualifies when exactly one
// track shows anything, with no transition; its picture is opaque, uncut,
// unmoved, unturned, fully opaque, its colours at rest; it fills the
// canvas exactly; and the canvas is written at its own size.
ff::VFramePtr directPicture(const ExportFrameRecord& record, int canvasWidth, int canvasHeight, int outputWidth,
                            int outputHeight);

// Whether the writer can take these planes as they are: 8-bit YUV 4:2:0
// in three planes, limited range, with the writer's matrix (709 or 601, as
// the writer reports; 0 takes none).
bool planesFitWriter(const ff::VFrameCtx& frame, int writerMatrix);
