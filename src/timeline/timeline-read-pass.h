// What every reader of a timeline section shares, for the length of one read:
// each media file probed once, the limits on added tracks and clips (a log
// line the first time a limit is reached) and the closing pass that keeps
// every clip inside the timeline's 24 hours once the track layout has pushed
// overlapping clips apart. GUI thread only, like the model.
#pragma once

#include "timeline/timeline-tree-model.h"

class TimelineReadPass {
public:
    explicit TimelineReadPass(TimeLineTreeModel& model);
    TimelineReadPass(const TimelineReadPass&) = delete;
    TimelineReadPass& operator=(const TimelineReadPass&) = delete;

    // Whether one more added track of the header fits.
    bool roomForTrack(const ClassifyItem* header);
    // Whether one more clip fits, counting the clips already on the timeline;
    // true uses the room up.
    bool roomForClip();
    // Shortens or removes the clips that reach past the timeline's end.
    void fitClipsInTimeline();

private:
    TimeLineTreeModel& m_model;
    TimeLineTreeModel::ProbeCacheScope m_probes;
    int m_clips = -1; // counted on the first clip
    bool m_clipLimitLogged = false;
};
