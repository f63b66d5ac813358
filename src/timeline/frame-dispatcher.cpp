#include "timeline/frame-dispatcher.h"

#include "render/preview-item.h"
#include "timeline/classify-item.h"
#include "timeline/frame-requests.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"

#include <algorithm>

int64_t FrameDispatcher::totalFrames() const {
    const TimeLineTreeModel* m = model();
    if (!m)
        return 0;
    int64_t end = 0;
    for (const ClassifyItem* track : m->tracks()) {
        for (const SourceData* clip : track->sources())
            end = std::max(end, clip->endFrame());
    }
    return end;
}

QStringList FrameDispatcher::mediaFiles() const {
    const TimeLineTreeModel* m = model();
    return m ? m->mediaFiles() : QStringList();
}

void FrameDispatcher::requestPictures(int64_t frame) const {
    TimeLineTreeModel* m = model();
    if (!m)
        return;
    const std::vector<timeline::TransitionAt> transitions = timeline::transitionsAt(m->transitions(), frame);
    for (ClassifyItem* track : m->tracks()) {
        if (!track->showsPicture())
            continue;
        if (track->kind() == SourceSubtitle) {
            track->requestFrame(frame);
            continue;
        }
        track->updateActiveClip(frame);
        if (PreviewItem* item = track->previewItem())
            item->request(timeline::frameRequest(*track, frame, transitions));
    }
}

QList<AudioFrameData> FrameDispatcher::soundAt(int64_t frame, int64_t fps) const {
    const TimeLineTreeModel* m = model();
    return m ? timeline::audioFrame(m->tracks(), frame, fps) : QList<AudioFrameData>();
}

ExportFrameRecord FrameDispatcher::exportFrameAt(int64_t frame) const {
    const TimeLineTreeModel* m = model();
    return m ? timeline::exportFrame(m->tracks(), m->transitions(), frame) : ExportFrameRecord();
}

namespace {
// Every picture and video track's preview item.
QList<PreviewItem*> pictureItems(const TimeLineTreeModel* m) {
    QList<PreviewItem*> items;
    for (ClassifyItem* track : m->tracks()) {
        if ((track->kind() == SourcePicture || track->kind() == SourceVideo) && track->previewItem())
            items.append(track->previewItem());
    }
    return items;
}
} // namespace

void FrameDispatcher::beginExport() {
    if (const TimeLineTreeModel* m = model()) {
        for (PreviewItem* item : pictureItems(m)) {
            item->applyRenderProps(RenderProps());
            item->beginExport();
        }
    }
}

void FrameDispatcher::endExport() {
    const TimeLineTreeModel* m = model();
    if (!m)
        return;
    for (PreviewItem* item : pictureItems(m)) {
        item->applyRenderProps(RenderProps());
        item->endExport();
    }
    // The export left each item where its last frame had it.
    for (ClassifyItem* track : m->tracks()) {
        if (track->showsPicture())
            track->placePreviewItem();
    }
}

ExportPicture FrameDispatcher::exportPicture(int64_t frame) {
    std::lock_guard<std::mutex> hold(m_answering);
    return ExportPicture{exportFrameAt(frame), totalFrames()};
}

ExportSound FrameDispatcher::exportSound(int64_t index, int64_t unitsPerSecond) {
    std::lock_guard<std::mutex> hold(m_answering);
    return ExportSound{soundAt(index, unitsPerSecond), totalFrames()};
}
