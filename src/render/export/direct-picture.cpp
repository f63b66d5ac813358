#include "direct-picture.h"

#include "render/fit-size.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {
bool showsAnything(const RenderProps& props) {
    return props.contentMask != 0 || props.visible || props.subtitle;
}

// The same picture in the same place and look; pictures by identity (a
// decoded frame is never rewritten while it is shared).
bool alike(const VFrameInfo& a, const VFrameInfo& b) {
    return a.frame == b.frame && a.clipRect == b.clipRect && a.uuid == b.uuid && a.transparent == b.transparent &&
           a.colour == b.colour && a.stretch == b.stretch && a.centerX == b.centerX && a.centerY == b.centerY &&
           a.width == b.width && a.height == b.height && a.rotation == b.rotation;
}

// The same text drawn the same way in the same place (where the play head
// stands in the clip draws nothing).
bool alike(const SubtitleState* a, const SubtitleState* b) {
    if (a == b)
        return true;
    if (!a || !b)
        return false;
    const SubtitleRequest &x = a->look, &y = b->look;
    return a->previewRect == b->previewRect && a->rotateDegrees == b->rotateDegrees && x.uuid == y.uuid &&
           x.textColor == y.textColor && x.backgroundColor == y.backgroundColor && x.font == y.font &&
           x.text == y.text && x.backgroundAlpha == y.backgroundAlpha && x.transparent == y.transparent;
}

bool alike(const RenderProps& a, const RenderProps& b) {
    return a.program == b.program && a.progress == b.progress && a.visible == b.visible &&
           a.contentMask == b.contentMask && alike(a.self, b.self) && alike(a.from, b.from) && alike(a.to, b.to) &&
           alike(a.subtitle.get(), b.subtitle.get());
}
} // namespace

namespace {
// The layer's picture when it fills the canvas as decoded, or null.
ff::VFramePtr layerAsDecoded(const VFrameInfo& layer, int canvasWidth, int canvasHeight) {
    const ff::VFramePtr& frame = layer.frame;
    if (!frame || !frame->opaque || frame->width != canvasWidth || frame->height != canvasHeight)
        return nullptr;
    if (layer.transparent < 1.0f || !layer.colour.atRest() || layer.rotation != 0.0f || layer.centerX != 0.0f ||
        layer.centerY != 0.0f)
        return nullptr;
    if (visiblePart(layer.clipRect, frame->width, frame->height) != QRect(0, 0, frame->width, frame->height))
        return nullptr;
    const gs_vec2 drawn = fitSize({layer.width, layer.height}, frame->width, frame->height, layer.stretch);
    if (drawn.x != float(canvasWidth) || drawn.y != float(canvasHeight))
        return nullptr;
    return frame;
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
    return shown && shown->contentMask == ContentSelf ? layerAsDecoded(shown->self, canvasWidth, canvasHeight)
                                                      : nullptr;
}

DecodedBase decodedBase(const ExportFrameRecord& record, int canvasWidth, int canvasHeight, int outputWidth,
                        int outputHeight, int writerMatrix) {
    if (canvasWidth != outputWidth || canvasHeight != outputHeight)
        return {};
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
            return {};
        ++layers;
        if (lowest < 0 || entry.stacking < record[lowest].stacking) {
            lowest = i;
            tied = false;
        } else if (entry.stacking == record[lowest].stacking) {
            tied = true;
        }
    }
    if (lowest < 0 || tied)
        return {};
    auto fits = [&](const ff::VFramePtr& frame) {
        return frame && frame->planes != 0 && planesFitWriter(*frame, writerMatrix);
    };
    const RenderProps& props = record[lowest].props;
    DecodedBase base;
    if (props.contentMask == ContentSelf) {
        // Alone it goes to the writer as it is (directPicture).
        base.from = layerAsDecoded(props.self, canvasWidth, canvasHeight);
        if (layers < 2 || !fits(base.from))
            return {};
    } else if (props.contentMask == ContentTransition && props.program == QLatin1String("over_cross")) {
        // A dissolve mixes its two pictures sample by sample, which mixing
        // their planes does alike.
        base.from = layerAsDecoded(props.from, canvasWidth, canvasHeight);
        base.to = layerAsDecoded(props.to, canvasWidth, canvasHeight);
        if (!fits(base.from) || !fits(base.to) || !(props.progress >= 0.0 && props.progress <= 1.0))
            return {};
        base.progress = props.progress;
    } else {
        return {};
    }
    base.entry = lowest;
    return base;
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

bool layersAlike(const ExportFrameRecord& a, const ExportFrameRecord& b, int base) {
    if (a.size() != b.size() || base < 0 || base >= a.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        const ExportFrameEntry &x = a[i], &y = b[i];
        if (x.item != y.item)
            return false;
        // The base is not drawn, nor is what shows nothing: their stacking
        // changes nothing.
        if (i == base || (!showsAnything(x.props) && !showsAnything(y.props)))
            continue;
        if (!alike(x.props, y.props) || x.stacked != y.stacked || (x.stacked && x.stacking != y.stacking))
            return false;
    }
    return true;
}
