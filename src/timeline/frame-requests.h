// What a track asks of its preview item at one frame of the timeline: plain
// functions of the track's clips, so the timeline view and the exporter
// build the same requests.
#pragma once

#include "render/audio/audio-frame-data.h"
#include "render/preview-requests.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class ClassifyItem;
class SourceData;
class TransitionData;
class TransitionObject;

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

// Which side of the clip's range a layer holds when the frame lies outside it.
enum class Hold { None, First, Last };
// As above, but a hold-last layer shows the clip's last frame at or past its
// end and a hold-first layer its first frame before its start.
LayerRequest layerRequest(const SourceData& clip, int64_t frame, Hold hold);

// A transition that plays at a frame.
struct TransitionAt {
    const TransitionData* transition = nullptr;
    const ClassifyItem* track = nullptr; // the track of its clips
    double progress = 0.0;
    bool inFrom = false; // the frame still lies inside the "from" clip
};
// Empty when the transition does not play at the frame.
std::optional<TransitionAt> transitionAt(const TransitionData& transition, int64_t frame);

// As frameRequest above, but the first of the transitions lying on the track
// takes the place of the self layer.
FrameRequest frameRequest(const ClassifyItem& track, int64_t frame,
                          const std::vector<TransitionAt>& transitions);

// One record per track of a sounding kind (video, dub, audio) with a valid clip at the frame.
QList<AudioFrameData> audioFrame(const QList<ClassifyItem*>& tracks, int64_t frame, int64_t fps);

// The transitions of the list that play at the frame.
std::vector<TransitionAt> transitionsAt(const QList<TransitionObject*>& transitions, int64_t frame);

// What every picture, video and subtitle track shows at an export frame,
// decoded by the preview items' export decoders. Only reads the timeline,
// so an export worker may call it while the GUI thread waits.
ExportFrameRecord exportFrame(const QList<ClassifyItem*>& tracks, const QList<TransitionObject*>& transitions,
                              int64_t frame);

} // namespace timeline
