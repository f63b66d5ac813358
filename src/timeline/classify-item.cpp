#include "timeline/classify-item.h"

#include "render/preview-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QUuid>

#include <algorithm>

namespace {
uint32_t s_nextId = 0;
}

ClassifyItem::ClassifyItem(uint32_t kind, bool header, ClassifyItem* parent)
    : m_kind(kind), m_header(header), m_id(s_nextId++), m_uuid(QUuid::createUuid().toString()), m_parent(parent) {}

ClassifyItem::~ClassifyItem() {
    setPreviewItem(nullptr);
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
    m_sources.insert(std::clamp(col, 0, int(m_sources.size())), clip);
    sortSources();
}

int ClassifyItem::takeSource(SourceData* clip) {
    const int index = m_sources.indexOf(clip);
    if (index >= 0)
        m_sources.removeAt(index);
    return index;
}

void ClassifyItem::sortSources() {
    std::stable_sort(m_sources.begin(), m_sources.end(),
                     [](const SourceData* a, const SourceData* b) { return a->startFrame() < b->startFrame(); });
}

void ClassifyItem::addSource(SourceData* clip) {
    zya::UndoController* undo = zya::UndoController::instance();
    undo->beginMergeSequence(QString::fromLatin1(tlkey::SeqAddSource));
    bg::ValueMap context;
    context[tlkey::Col] = bg::Value(0);
    zya::ZyObject::AddObject_canUndo(clip, bg::Value(context));
    clip->setKeysFromFields();
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
    if (item)
        item->AddRef();
    if (m_previewItem)
        m_previewItem->Release();
    m_previewItem = item;
}
