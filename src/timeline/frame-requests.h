// What a track asks of its preview item at one frame of the timeline: plain
// functions of the track's clips, so the timeline view and the exporter
// build the same requests.
#pragma once

#include "render/preview-requests.h"

#include <cstdint>
#include <optional>

class ClassifyItem;
class SourceData;

namespace timeline {

// Degrees of a clip's "rotate" as the preview item's radians, turned into 0..360 first.
float previewRotation(int degrees);

// One layer showing the clip at the timeline frame; the media frame is the
// clip's offset plus the distance from its start, held inside the clip.
LayerRequest layerRequest(const SourceData& clip, int64_t frame);

// A picture or video track's request: its active clip as the self layer
// (decode and show), or nothing at all when no valid clip covers the frame.
FrameRequest frameRequest(const ClassifyItem& track, int64_t frame);

// A subtitle track's request; empty when no valid clip covers the frame.
std::optional<SubtitleRequest> subtitleRequest(const ClassifyItem& track, int64_t frame);

} // namespace timeline
