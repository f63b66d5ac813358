#include "direct-picture.h"

#include "render/fit-size.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {
bool showsAnything(const RenderProps& props) {
    return props.contentMask != 0 || props.visible || props.subtitle;
}
} // namespace

ff::VFramePtr pictureAsDecoded(const RenderProps& shown, int canvasWidth, int canvasHeight) {
    if (shown.contentMask != ContentSelf)
        return nullptr;
    const VFrameInfo& self = shown.self;
    const ff::VFramePtr& frame = self.frame;
    if (!frame || !frame->opaque || frame->width != canvasWidth || frame->height != canvasHeight)
        return nullptr;
    if (self.transparent < 1.0f || !self.colour.atRest() || self.rotation != 0.0f || self.centerX != 0.0f ||
        self.centerY != 0.0f)
        return nullptr;
    if (visiblePart(self.clipRect, frame->width, frame->height) != QRect(0, 0, frame->width, frame->height))
        return nullptr;
    const gs_vec2 drawn = fitSize({self.width, self.height}, frame->width, frame->height, self.stretch);
    if (drawn.x != float(canvasWidth) || drawn.y != float(canvasHeight))
        return nullptr;
    return frame;
}

ff::VFramePtr directPicture(const ExportFrameRecord& record, int canvasWidth, int canvasHeight, int outputWidth,
                            int outputHeight) {
    if (canvasWidth != outputWidth || canvasHeight != outputHeight)
        return nullptr;
    const RenderProps* shown = nullptr;
    for (const ExportFrameEntry& entry : record) {
        if (!showsAnything(entry.props))
            continue;
        if (shown)
            return nullptr; // more than one layer: composed
        shown = &entry.props;
    }
    return shown ? pictureAsDecoded(*shown, canvasWidth, canvasHeight) : nullptr;
}

int overlaidPlanes(const ExportFrameRecord& record, int canvasWidth, int canvasHeight, int outputWidth,
                   int outputHeight, int writerMatrix) {
    if (canvasWidth != outputWidth || canvasHeight != outputHeight)
        return -1;
    int lowest = -1;
    int layers = 0;
    bool tied = false;
    for (int i = 0; i < record.size(); ++i) {
        const ExportFrameEntry& entry = record[i];
        if (!showsAnything(entry.props))
            continue;
        // Whatever shows has a clip and its stacking; without one the
        // order the scene draws in is not known here.
        if (!entry.stacked)
            return -1;
        ++layers;
        if (lowest < 0 || entry.stacking < record[lowest].stacking) {
            lowest = i;
            tied = false;
        } else if (entry.stacking == record[lowest].stacking) {
            tied = true;
        }
    }
    if (layers < 2 || tied)
        return -1;
    const ff::VFramePtr base = pictureAsDecoded(record[lowest].props, canvasWidth, canvasHeight);
    return base && base->planes != 0 && planesFitWriter(*base, writerMatrix) ? lowest : -1;
}

bool planesFitWriter(const ff::VFrameCtx& frame, int writerMatrix) {
    if (frame.planes != 3 || frame.bits != 8 || frame.chromaShiftX != 1 || frame.chromaShiftY != 1 ||
        frame.fullRange)
        return false;
    switch (writerMatrix) {
    case 709:
        return frame.matrix == AVCOL_SPC_BT709;
    case 601:
        return frame.matrix == AVCOL_SPC_BT470BG || frame.matrix == AVCOL_SPC_SMPTE170M;
    default:
        return false;
    }
}
