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
    if (!shown || shown->contentMask != ContentSelf)
        return nullptr;
    const VFrameInfo& self = shown->self;
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
