#include "timeline/frame-requests.h"

#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/transition-data.h"
#include "render/preview-item.h"

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
    layer.colour = colourLevels(clip.colours());
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
    request.frame = frame;
    if (const SourceData* clip = track.activeClip(frame)) {
        request.decodeMask = DecodeSelf;
        request.showMask = ShowClip;
        request.self = layerRequest(*clip, frame);
    }
    return request;
}

LayerRequest layerRequest(const SourceData& clip, int64_t frame, Hold hold) {
    int64_t at = frame;
    if (hold == Hold::Last && frame >= clip.endFrame())
        at = clip.endFrame() - 1;
    else if (hold == Hold::First && frame < clip.startFrame())
        at = clip.startFrame();
    LayerRequest layer = layerRequest(clip, at);
    // The media frame follows the held timeline frame, not the clamped one.
    layer.frame = clip.offset() + (at - clip.startFrame());
    return layer;
}

std::optional<TransitionAt> transitionAt(const TransitionData& transition, int64_t frame) {
    const SourceData* from = transition.from();
    const SourceData* to = transition.to();
    const SourceData* owner = from ? from : to;
    if (!owner || !owner->valid())
        return std::nullopt;
    if (frame < transition.startframe || frame > transition.endframe)
        return std::nullopt;
    if ((from && frame < from->startFrame()) || (to && frame >= to->endFrame()))
        return std::nullopt;
    TransitionAt at;
    at.transition = &transition;
    at.track = owner->parentTrack();
    const int64_t span = transition.endframe - transition.startframe;
    // A zero-length transition stays at its start rather than dividing by zero.
    at.progress = span > 0 ? double(frame - transition.startframe) / double(span) : 0.0;
    at.inFrom = from && frame < from->endFrame();
    return at;
}

FrameRequest frameRequest(const ClassifyItem& track, int64_t frame,
                          const std::vector<TransitionAt>& transitions) {
    for (const TransitionAt& at : transitions) {
        if (at.track != &track)
            continue;
        FrameRequest request;
        request.frame = frame;
        request.program = at.transition->name;
        request.progress = at.progress;
        request.showMask = ShowTransition;
        if (const SourceData* from = at.transition->from()) {
            request.decodeMask |= DecodeFrom;
            request.from = layerRequest(*from, frame, Hold::Last);
        }
        if (const SourceData* to = at.transition->to()) {
            request.decodeMask |= DecodeTo;
            request.to = layerRequest(*to, frame, Hold::First);
        }
        return request;
    }
    return frameRequest(track, frame);
}

QList<AudioFrameData> audioFrame(const QList<ClassifyItem*>& tracks, int64_t frame, int64_t fps) {
    QList<AudioFrameData> sounds;
    for (const ClassifyItem* track : tracks) {
        const uint32_t kind = track->kind();
        if (kind != SourceVideo && kind != SourceDub && kind != SourceAudio)
            continue;
        const SourceData* clip = track->activeClip(frame);
        if (!clip)
            continue;
        AudioFrameData sound;
        sound.num = frame - clip->startFrame() + clip->offset();
        sound.den = fps > 0 ? fps : 30;
        sound.path = clip->path();
        sound.volume = clip->mute() ? 0 : clip->volume();
        sound.uuid = clip->uuid();
        sounds.append(sound);
    }
    return sounds;
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

std::vector<TransitionAt> transitionsAt(const QList<TransitionObject*>& transitions, int64_t frame) {
    std::vector<TransitionAt> playing;
    for (const TransitionObject* object : transitions) {
        if (std::optional<TransitionAt> at = transitionAt(*object->data(), frame))
            playing.push_back(*at);
    }
    return playing;
}

ExportFrameRecord exportFrame(const QList<ClassifyItem*>& tracks, const QList<TransitionObject*>& transitions,
                              int64_t frame) {
    const std::vector<TransitionAt> playing = transitionsAt(transitions, frame);
    ExportFrameRecord record;
    for (const ClassifyItem* track : tracks) {
        PreviewItem* item = track->previewItem();
        if (!item || !track->showsPicture())
            continue;
        ExportFrameEntry entry;
        entry.item = item;
        if (const SourceData* clip = track->activeClip(frame)) {
            entry.stacked = true;
            entry.stacking = clip->zValue();
        }
        if (track->kind() == SourceSubtitle) {
            const std::optional<SubtitleRequest> look = subtitleRequest(*track, frame);
            if (look) {
                const SourceData* clip = track->activeClip(frame);
                auto state = std::make_shared<SubtitleState>();
                state->previewRect = clip->previewRect();
                state->rotateDegrees = clip->rotate();
                state->look = *look;
                entry.props.subtitle = state;
                entry.props.visible = true;
            }
        } else {
            entry.props = item->renderProps(frameRequest(*track, frame, playing));
        }
        record.append(entry);
    }
    return record;
}

} // namespace timeline
