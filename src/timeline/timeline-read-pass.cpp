#include "timeline/timeline-read-pass.h"

#include "values/read-limits.h"
#include "timeline/source-data.h"
#include "values/value-init.h"

TimelineReadPass::TimelineReadPass(TimeLineTreeModel& model) : m_model(model), m_probes(&model) {
    m_model.readLossesToFill() = TimeLineTreeModel::ReadLosses();
}

bool TimelineReadPass::roomForTrack(const ClassifyItem* header) {
    if (header->children().size() < timeline::kMaxAddedTracks)
        return true;
    LOGW("reader: more than %d added tracks of type %u, the rest skipped", timeline::kMaxAddedTracks,
         header->kind());
    ++m_model.readLossesToFill().tracksSkipped;
    return false;
}

bool TimelineReadPass::roomForClip() {
    if (m_clips < 0)
        m_clips = int(m_model.allSources().size());
    if (m_clips < timeline::kMaxClips) {
        ++m_clips;
        return true;
    }
    if (!m_clipLimitLogged)
        LOGW("reader: more than %d clips, the rest skipped", timeline::kMaxClips);
    m_clipLimitLogged = true;
    ++m_model.readLossesToFill().clipsSkipped;
    return false;
}

void TimelineReadPass::fitClipsInTimeline() {
    for (ClassifyItem* track : m_model.tracks()) {
        QList<SourceData*> beyond;
        const QList<SourceData*> clips = track->sources(); // writing "source" re-sorts the list
        for (SourceData* clip : clips) {
            const int64_t start = clip->startFrame();
            if (clip->endFrame() <= timeline::kMaxFrames)
                continue;
            if (start < timeline::kMaxFrames) {
                LOGW("reader: clip at frame %lld pushed past the 24-hour timeline, shortened",
                     static_cast<long long>(start));
                clip->writeSource(track, start, timeline::kMaxFrames - start, clip->offset(), true);
                ++m_model.readLossesToFill().clipsShortened;
            } else {
                LOGW("reader: clip pushed to frame %lld, past the 24-hour timeline, removed",
                     static_cast<long long>(start));
                beyond.append(clip);
                ++m_model.readLossesToFill().clipsRemoved;
            }
        }
        m_model.removeSources(beyond);
    }
}
