#include "timeline/frame-requests.h"

#include "timeline/classify-item.h"
#include "timeline/source-data.h"

#include <algorithm>

namespace timeline {

float previewRotation(int degrees) {
    // A true modulo: a clip turned by less than -360 degrees still lands in 0..360.
    const int normal = ((degrees + 360) % 360 + 360) % 360;
    return float(double(normal) / 180.0 * 3.1415926);
}

LayerRequest layerRequest(const SourceData& clip, int64_t frame) {
    LayerRequest layer;
    const int64_t inside =
        std::clamp<int64_t>(frame - clip.startFrame(), 0, std::max<int64_t>(0, clip.lengthFrames() - 1));
    layer.frame = clip.offset() + inside;
    layer.uuid = clip.uuid();
    layer.transparent = float(clip.transparent()) / 255.0f;
    layer.temperature = float(clip.temperature()) / 50.0f;
    layer.saturation = float(clip.saturation()) / 50.0f;
    layer.hue = float(clip.hue()) / 50.0f;
    layer.brightness = float(clip.bright()) / 100.0f;
    layer.contrast = float(clip.contrast()) / 50.0f;
    layer.highlight = float(clip.highlight()) / 50.0f;
    layer.stretch = clip.stretch();
    layer.path = clip.path();
    layer.clipRect = clip.clipRect();
    const QRectF r = clip.previewRect();
    layer.centerX = float(r.x());
    layer.centerY = float(r.y());
    layer.width = float(r.width());
    layer.height = float(r.height());
    layer.rotation = previewRotation(clip.rotate());
    return layer;
}

FrameRequest frameRequest(const ClassifyItem& track, int64_t frame) {
    FrameRequest request;
    if (const SourceData* clip = track.activeClip(frame)) {
        request.decodeMask = DecodeSelf;
        request.showMask = ShowClip;
        request.self = layerRequest(*clip, frame);
    }
    return request;
}

std::optional<SubtitleRequest> subtitleRequest(const ClassifyItem& track, int64_t frame) {
    const SourceData* clip = track.activeClip(frame);
    if (!clip)
        return std::nullopt;
    SubtitleRequest request;
    request.frame = frame - clip->startFrame();
    request.uuid = clip->uuid();
    request.textColor = clip->color();
    request.backgroundColor = clip->backgroundColor();
    request.font = clip->font();
    request.text = clip->content();
    request.backgroundAlpha = std::clamp(clip->backgroundTransparent(), 0, 255);
    request.transparent = double(clip->transparent()) / 255.0;
    return request;
}

} // namespace timeline
