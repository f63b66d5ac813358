#include "timeline/classify-item.h"

#include "render/preview-item.h"
#include "render/render-manager.h"
#include "timeline/frame-requests.h"
#include "timeline/source-data.h"
#include "timeline/source-item.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "undo/undo-controller.h"
#include "value/interface.h"
#include "values/value-init.h"
#include "values/value-qt.h"

#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QUuid>

#include <algorithm>
#include <cmath>

namespace {
uint32_t s_nextId = 0;
}

ClassifyItem::ClassifyItem(uint32_t kind, bool header, ClassifyItem* parent)
    : m_kind(kind), m_header(header), m_id(s_nextId++), m_uuid(QUuid::createUuid().toString()), m_parent(parent) {}

ClassifyItem::~ClassifyItem() {
    dropPreviewItem();
    qDeleteAll(m_sources);
    qDeleteAll(m_children);
}

ClassifyData ClassifyItem::data() const { return ClassifyData {m_kind, m_header, m_id, m_flag, m_uuid}; }

int ClassifyItem::row() const { return m_parent ? m_parent->m_children.indexOf(const_cast<ClassifyItem*>(this)) : -1; }

void ClassifyItem::onChange(int operation, const bg::Value& data) {
    const bg::ValueMap map = data.toMap();
    auto* model = static_cast<TimeLineTreeModel*>(map.get(tlkey::Model).toPointer());
    if (!model)
        return;
    if (operation == OpAdded)
        model->insertTrack(this, map.get(tlkey::Row).toInt(-1));
    else if (operation == OpRemoved)
        model->takeTrack(this);
}

void ClassifyItem::insertSource(SourceData* clip, int col) {
    if (m_sources.contains(clip))
        return;
    // At its place by start: a binary search, not a sort of the whole track
    // (reading thousands of clips added them one by one). Among clips of
    // one start, the column asked for.
    const int64_t start = clip->startFrame();
    const auto first = std::lower_bound(m_sources.begin(), m_sources.end(), start,
                                        [](const SourceData* c, int64_t s) { return c->startFrame() < s; });
    const auto last = std::upper_bound(first, m_sources.end(), start,
                                       [](int64_t s, const SourceData* c) { return s < c->startFrame(); });
    const int from = int(first - m_sources.begin()), to = int(last - m_sources.begin());
    m_sources.insert(std::clamp(col, from, to), clip);
}

int ClassifyItem::takeSource(SourceData* clip) {
    const int index = m_sources.indexOf(clip);
    if (index >= 0)
        m_sources.removeAt(index);
    if (clip == m_active) {
        // The item must not go on showing a clip that left the track.
        setActive(nullptr);
        if (m_previewItem)
            m_previewItem->setVisible(false);
    }
    return index;
}

void ClassifyItem::sortSources() {
    const auto byStart = [](const SourceData* a, const SourceData* b) { return a->startFrame() < b->startFrame(); };
    // Mostly sorted already (a clip added at the end, a project read in
    // order): one pass then, instead of a full sort per added clip.
    if (!std::is_sorted(m_sources.begin(), m_sources.end(), byStart))
        std::stable_sort(m_sources.begin(), m_sources.end(), byStart);
}

void ClassifyItem::addSource(SourceData* clip) {
    zya::UndoController* undo = zya::UndoController::instance();
    undo->beginMergeSequence(QString::fromLatin1(tlkey::SeqAddSource));
    bg::ValueMap context;
    context[tlkey::Col] = bg::Value(0);
    zya::ZyObject::AddObject_canUndo(clip, bg::Value(context));
    clip->setKeysFromFields();
    // Clear of its neighbours nothing moves: the track needs no layout.
    const int at = int(m_sources.indexOf(clip));
    const bool clear = at >= 0 && (at == 0 || m_sources[at - 1]->endFrame() <= clip->startFrame()) &&
                       (at + 1 >= m_sources.size() || clip->endFrame() <= m_sources[at + 1]->startFrame());
    if (!clear)
        layout();
    undo->endMergeSequence();
}

void ClassifyItem::layout() {
    sortSources();
    const QList<SourceData*> clips = m_sources; // writing "source" re-sorts the list
    int64_t end = 0;
    for (SourceData* clip : clips) {
        int64_t start = clip->startFrame();
        if (start < end) {
            clip->writeSource(this, end, clip->lengthFrames(), clip->offset(), true);
            start = end;
        }
        end = start + clip->lengthFrames();
    }
}

void ClassifyItem::removeSources(const QList<SourceData*>& clips) {
    for (SourceData* clip : clips) {
        const int index = m_sources.indexOf(clip);
        if (index < 0)
            continue;
        bg::ValueMap context;
        context[tlkey::Col] = bg::Value(index);
        zya::ZyObject::DelObject_canUndo(clip, bg::Value(context));
    }
}

SourceData* ClassifyItem::activeClip(int64_t frame) const {
    for (SourceData* clip : m_sources) {
        if (clip->valid() && clip->covers(frame))
            return clip;
    }
    return nullptr;
}

int64_t ClassifyItem::endFrame() const {
    int64_t end = 0;
    for (const SourceData* clip : m_sources)
        end = std::max(end, clip->endFrame());
    return end;
}

double ClassifyItem::rowTop() const { return m_model ? m_model->trackTop(this) : 0.0; }

void ClassifyItem::setPreviewItem(PreviewItem* item) {
    if (item == m_previewItem)
        return;
    if (item) {
        item->AddRef();
        item->setTrack(this);
    }
    if (m_previewItem) {
        m_previewItem->setTrack(nullptr); // the render thread may keep it a while longer
        m_previewItem->Release();
    }
    m_previewItem = item;
}

bool ClassifyItem::showsPicture() const {
    return m_kind == SourcePicture || m_kind == SourceVideo || m_kind == SourceSubtitle;
}

RenderManager* ClassifyItem::renderManager() const { return m_model ? m_model->renderManager() : nullptr; }

void ClassifyItem::rebuildPreviewItem() {
    if (!showsPicture() || (m_model && !m_model->previewItemsEnabled()))
        return;
    const QSize size = m_model ? m_model->renderSize() : QSize(1920, 1080);
    const gs_vec2 base {float(size.width()), float(size.height())};
    PreviewItem* item = m_kind == SourceSubtitle ? static_cast<PreviewItem*>(new SubtitlePreviewItem(base))
                                                 : static_cast<PreviewItem*>(new VideoPreviewItem(base));
    RenderManager* manager = renderManager();
    if (manager && m_previewItem)
        manager->removeItem(m_previewItem);
    setPreviewItem(item);
    item->Release(); // the track's reference is the one left
    if (manager)
        manager->addItem(item);
    placePreviewItem();
}

void ClassifyItem::dropPreviewItem() {
    setActive(nullptr);
    if (!m_previewItem)
        return;
    if (RenderManager* manager = renderManager())
        manager->removeItem(m_previewItem);
    setPreviewItem(nullptr);
}

SourceData* ClassifyItem::currentClip() const { return m_active; }

void ClassifyItem::setActive(SourceData* clip) {
    if (clip == m_active)
        return;
    QObject::disconnect(m_activeWatch);
    m_active = clip;
    if (!clip)
        return;
    m_activeWatch = connect(clip, &SourceData::sig_valueApplied, this, [this](const QString& key) {
        if (key == QLatin1String(tlkey::PreviewRect) || key == QLatin1String(tlkey::Rotate)) {
            placePreviewItem();
            emit sig_refreshPanel(m_active);
        } else if (key == QLatin1String(tlkey::ZValue) || m_kind == SourceSubtitle) {
            placePreviewItem(); // a subtitle's look is laid out again at once
        }
    });
}

SourceData* ClassifyItem::updateActiveClip(int64_t frame) {
    m_activeFrame = frame;
    SourceData* clip = activeClip(frame);
    if (clip != m_active) {
        setActive(clip);
        placePreviewItem();
    }
    return clip;
}

void ClassifyItem::requestFrame(int64_t frame) {
    if (!showsPicture())
        return;
    const SourceData* before = m_active;
    updateActiveClip(frame);
    if (!m_previewItem)
        return;
    if (m_kind == SourceSubtitle) {
        const std::optional<SubtitleRequest> request = timeline::subtitleRequest(*this, frame);
        if (request && m_active == before) // a clip that just became active took its look when placed
            m_previewItem->request(*request);
        m_previewItem->setVisible(request.has_value());
    } else {
        m_previewItem->request(timeline::frameRequest(*this, frame));
    }
}

namespace {
// The scene's item of a clip is a SourceData that is also a QGraphicsItem.
bool isClipSelected(const SourceData* clip) {
    const auto* item = dynamic_cast<const QGraphicsItem*>(clip);
    return item && item->isSelected();
}
} // namespace

void ClassifyItem::placePreviewItem() {
    if (!m_previewItem || !m_active)
        return;
    const QRectF r = m_active->previewRect();
    m_previewItem->MoveTo(float(r.x()), float(r.y()));
    m_previewItem->Resize(float(r.width()), float(r.height()));
    m_previewItem->rotation = timeline::previewRotation(m_active->rotate());
    m_previewItem->selected = isClipSelected(m_active);
    m_previewItem->setStacking(m_active->zValue());
    // A subtitle's box is at least as large as its text: its look is taken
    // again, which grows the box and lays the text out afresh.
    if (m_kind == SourceSubtitle) {
        if (const std::optional<SubtitleRequest> look = timeline::subtitleRequest(*this, m_activeFrame))
            m_previewItem->request(*look);
    }
    if (RenderManager* manager = renderManager())
        manager->orderItems();
}

void ClassifyItem::refreshSelection() {
    if (m_previewItem && m_active) {
        m_previewItem->selected = m_previewItem->visible && isClipSelected(m_active);
        GsRequestFrame();
    }
}

void ClassifyItem::deleteActiveClip() {
    SourceData* clip = m_active;
    if (!clip)
        return;
    if (m_model)
        m_model->removeSources({clip}); // its transitions go with it
    else
        removeSources({clip});
}

void ClassifyItem::editActiveClip(int mode) {
    if (!m_active)
        return;
    emit sig_editClip(m_active, mode);
    // Its panel, as a click (1) or a double click (2) on the clip in the timeline shows it.
    if (auto* item = dynamic_cast<SourceItem*>(m_active.data()))
        item->showPanel(mode);
}

void ClassifyItem::raiseActiveClip() {
    if (m_active && m_model)
        m_model->levelSource(m_active, m_activeFrame, true);
}

void ClassifyItem::lowerActiveClip() {
    if (m_active && m_model)
        m_model->levelSource(m_active, m_activeFrame, false);
}

void ClassifyItem::commitPlacement(const QRectF& previewRect, int rotateDegrees) {
    SourceData* clip = m_active;
    if (!clip)
        return;
    if (!std::isfinite(previewRect.x()) || !std::isfinite(previewRect.y()) ||
        !std::isfinite(previewRect.width()) || !std::isfinite(previewRect.height()) ||
        previewRect.width() <= 0 || previewRect.height() <= 0) {
        LOGW("preview placement refused: %f %f %f %f", previewRect.x(), previewRect.y(), previewRect.width(),
             previewRect.height());
        return;
    }
    const int degrees = ((rotateDegrees % 360) + 360) % 360;
    // Only what differs is written: a drag back to the start leaves no record.
    if (clip->previewRect() != previewRect)
        clip->setValue(tlkey::PreviewRect, bg::ValueQt(previewRect), true, true);
    if (clip->rotate() != degrees)
        clip->setValue(tlkey::Rotate, bg::Value(degrees), true, true);
}

void ClassifyItem::previewSelectionChanged(bool selected) {
    auto* item = dynamic_cast<QGraphicsItem*>(m_active.data());
    if (!item)
        return;
    if (selected && item->scene()) {
        // A choice in the preview replaces what the timeline had selected
        // away from the play head (or on tracks without pictures).
        for (QGraphicsItem* other : item->scene()->selectedItems()) {
            auto* clip = dynamic_cast<SourceData*>(other);
            ClassifyItem* track = clip && m_model ? m_model->trackOf(clip) : nullptr;
            if (!track || !track->showsPicture() || track->currentClip() != clip)
                other->setSelected(false);
        }
    }
    if (item->isSelected() != selected)
        item->setSelected(selected);
}
