#include "timeline/timeline-tree-model.h"

#include "media/media.h"
#include "render/render-manager.h"
#include "timeline/legacy-timeline-reader.h"
#include "timeline/source-data.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-section-reader.h"
#include "timeline/timeline-section-writer.h"
#include "timeline/transition-data.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QFileInfo>
#include <QGraphicsScene>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <cmath>

namespace {

// One named undo step for as long as it lives.
class MergeSequence {
public:
    explicit MergeSequence(const char* name) { zya::UndoController::instance()->beginMergeSequence(QString::fromLatin1(name)); }
    ~MergeSequence() { zya::UndoController::instance()->endMergeSequence(); }
    MergeSequence(const MergeSequence&) = delete;
    MergeSequence& operator=(const MergeSequence&) = delete;
};

bg::Value modelContext(TimeLineTreeModel* model, int row = -1) {
    bg::ValueMap map;
    map[tlkey::Model] = bg::Value(static_cast<void*>(model));
    if (row >= 0)
        map[tlkey::Row] = bg::Value(row);
    return bg::Value(map);
}

const uint32_t kStartupKinds[] = {SourceVideo, SourcePicture, SourceAudio, SourceDub, SourceSubtitle, SourceNone};

} // namespace

TimeLineTreeModel::TimeLineTreeModel(QObject* parent) : QAbstractItemModel(parent), m_root(new ClassifyItem(0, false, nullptr)) {
    qRegisterMetaType<ClassifyData>("ClassifyData");
    qRegisterMetaType<SourceData*>("SourceData*");
    m_root->setModel(this);
    for (uint32_t kind : kStartupKinds) {
        auto* header = new ClassifyItem(kind, kind != SourceNone, m_root);
        header->setModel(this);
        m_root->children().append(header);
        header->rebuildPreviewItem();
    }
}

TimeLineTreeModel::~TimeLineTreeModel() {
    // The scene's selection signal walks the tracks: cut it before they go.
    setScene(nullptr);
    // Transitions first: they listen to the clips.
    qDeleteAll(m_transitions);
    m_transitions.clear();
    delete m_root;
}

// ---- Qt model ----

QModelIndex TimeLineTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0)
        return QModelIndex();
    ClassifyItem* parentItem = parent.isValid() ? itemFromIndex(parent) : m_root;
    if (!parentItem || row < 0 || row >= parentItem->children().size())
        return QModelIndex();
    return createIndex(row, column, parentItem->children().at(row));
}

QModelIndex TimeLineTreeModel::parent(const QModelIndex& child) const {
    ClassifyItem* item = itemFromIndex(child);
    if (!item || !item->parentItem() || item->parentItem() == m_root)
        return QModelIndex();
    return createIndex(item->parentItem()->row(), 0, item->parentItem());
}

int TimeLineTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0)
        return 0;
    ClassifyItem* item = parent.isValid() ? itemFromIndex(parent) : m_root;
    return item ? item->children().size() : 0;
}

int TimeLineTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant TimeLineTreeModel::data(const QModelIndex& index, int role) const {
    ClassifyItem* item = itemFromIndex(index);
    if (!item)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return item->kind() == SourceNone ? QString() : timeline::kindLabel(item->kind());
    case Qt::UserRole:
        return QVariant::fromValue(item->data());
    case Qt::SizeHintRole:
        return QSize(0, int(timeline::rowHeight(item->kind())));
    default:
        return QVariant();
    }
}

QVariant TimeLineTreeModel::headerData(int, Qt::Orientation, int role) const {
    if (role == Qt::SizeHintRole)
        return QSize(0, 0);
    return QVariant();
}

bool TimeLineTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    ClassifyItem* item = itemFromIndex(index);
    if (role != Qt::EditRole || !item)
        return false;
    const QString command = value.toString();
    if (command == QLatin1String("add") && item->isHeader())
        return addTrack(item) != nullptr;
    if (command == QLatin1String("remove") && !item->isHeader())
        return removeTrack(item);
    LOGW("未知命令");
    return false;
}

ClassifyItem* TimeLineTreeModel::itemFromIndex(const QModelIndex& index) const {
    return index.isValid() ? static_cast<ClassifyItem*>(index.internalPointer()) : nullptr;
}

QModelIndex TimeLineTreeModel::indexOf(const ClassifyItem* item) const {
    if (!item || item == m_root || item->row() < 0)
        return QModelIndex();
    return createIndex(item->row(), 0, const_cast<ClassifyItem*>(item));
}

ClassifyItem* TimeLineTreeModel::header(uint32_t kind) const {
    for (ClassifyItem* item : m_root->children()) {
        if (item->kind() == kind)
            return item;
    }
    return nullptr;
}

QList<ClassifyItem*> TimeLineTreeModel::tracks() const {
    QList<ClassifyItem*> result;
    for (ClassifyItem* header : m_root->children()) {
        if (header->kind() == SourceNone)
            continue;
        result.append(header);
        result.append(header->children());
    }
    return result;
}

// ---- tracks ----

ClassifyItem* TimeLineTreeModel::addTrack(ClassifyItem* header, int row, bool stopsRecording) {
    if (!header || !header->isHeader() || header->parentItem() != m_root)
        return nullptr;
    if (stopsRecording)
        emit sig_opertorUi(false, true);
    const int count = header->children().size();
    if (row < 0 || row > count)
        row = count;
    auto* track = new ClassifyItem(header->kind(), false, header);
    track->setModel(this);
    MergeSequence step(tlkey::SeqAddTrack);
    zya::ZyObject::AddObject_canUndo(track, modelContext(this, row));
    return track;
}

bool TimeLineTreeModel::removeTrack(ClassifyItem* track) {
    if (!track || track->isHeader() || !track->parentItem() || track->parentItem() == m_root || track->row() < 0)
        return false;
    emit sig_opertorUi(false, true);
    MergeSequence step(tlkey::SeqDel);
    removeSources(track->sources());
    zya::ZyObject::DelObject_canUndo(track, modelContext(this, track->row()));
    return true;
}

void TimeLineTreeModel::insertTrack(ClassifyItem* track, int row) {
    ClassifyItem* header = track->parentItem();
    if (!header || header->children().contains(track))
        return;
    const int count = header->children().size();
    if (row < 0 || row > count)
        row = count;
    beginInsertRows(indexOf(header), row, row);
    header->children().insert(row, track);
    endInsertRows();
    header->setExpanded(true);
    track->rebuildPreviewItem();
}

void TimeLineTreeModel::takeTrack(ClassifyItem* track) {
    ClassifyItem* header = track->parentItem();
    const int row = track->row();
    if (!header || row < 0)
        return;
    beginRemoveRows(indexOf(header), row, row);
    header->children().removeAt(row);
    endRemoveRows();
    // A track in the undo history draws nothing and holds no worker.
    track->dropPreviewItem();
}

void TimeLineTreeModel::setScene(QGraphicsScene* scene) {
    if (m_scene)
        disconnect(m_scene, &QGraphicsScene::selectionChanged, this, nullptr);
    m_scene = scene;
    if (scene) {
        connect(scene, &QGraphicsScene::selectionChanged, this, [this] {
            for (ClassifyItem* track : tracks())
                track->refreshSelection();
        });
    }
}

void TimeLineTreeModel::setRenderManager(RenderManager* manager) {
    if (manager == m_renderManager)
        return;
    for (ClassifyItem* track : tracks())
        track->dropPreviewItem(); // out of the old manager's scene
    if (m_renderManager)
        disconnect(m_renderManager, nullptr, this, nullptr);
    m_renderManager = manager;
    if (manager) {
        // The render manager carries the items into a new scene; the tracks
        // only need the canvas size for new items and the fill commands.
        connect(manager, &RenderManager::sig_updateSceneSize, this, &TimeLineTreeModel::updateSceneSize);
        if (manager->sceneWidth() > 0 && manager->sceneHeight() > 0)
            m_renderSize = QSize(int(manager->sceneWidth()), int(manager->sceneHeight()));
    }
    for (ClassifyItem* track : tracks())
        track->rebuildPreviewItem();
}

void TimeLineTreeModel::updateSceneSize(int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    m_renderSize = QSize(width, height);
}

// ---- geometry ----

double TimeLineTreeModel::headerTop(const ClassifyItem* header) const {
    double top = 0.0;
    for (const ClassifyItem* item : m_root->children()) {
        if (item == header)
            break;
        const double h = timeline::rowHeight(item->kind());
        top += item->expanded() ? h * (item->children().size() + 1) : h;
    }
    return top;
}

double TimeLineTreeModel::trackTop(const ClassifyItem* track) const {
    if (!track || track->parentItem() == m_root || !track->parentItem())
        return headerTop(track);
    const ClassifyItem* header = track->parentItem();
    return headerTop(header) + (track->row() + 1) * timeline::rowHeight(track->kind());
}

double TimeLineTreeModel::sceneHeight(double scrollBarHeight) const {
    return headerTop(nullptr) - scrollBarHeight;
}

// ---- clips ----

SourceData* TimeLineTreeModel::createSource(ClassifyItem* track, int64_t start, int64_t length, int64_t offset,
                                            int64_t originalDuration, const QString& path,
                                            const QRectF& previewRect, const QRect& clipRect, const QString& uuid) {
    const SourceType kind = SourceType(track->kind());
    const QString id = uuid.isEmpty() ? QUuid::createUuid().toString() : uuid;
    const double width = timeline::frameToPixel(length);
    const double offsetPx = timeline::frameToPixel(std::max<int64_t>(0, offset));
    SourceData* clip = m_sourceFactory
                           ? m_sourceFactory(kind, track, m_scene, width, previewRect, path, id, originalDuration,
                                             offsetPx, clipRect)
                           : new SourceData(kind, track, m_scene, width, previewRect, path, id, originalDuration,
                                            offsetPx, clipRect);
    clip->setPosX(timeline::frameToPixel(start));
    return clip;
}

namespace {

// A clip like `from` with its own position, uuid and (unless kept) stacking.
SourceData* cloneAt(TimeLineTreeModel* model, const SourceData* from, ClassifyItem* track, int64_t start,
                    int64_t length, int64_t offset, bool keepZ) {
    SourceData* clip = model->createSource(track, start, length, offset, from->originalDuration(), from->path(),
                                           from->previewRect(), from->clipRect());
    const int z = clip->zValue();
    clip->copyLookFrom(*from);
    if (!keepZ)
        clip->setInitialZValue(z);
    return clip;
}

} // namespace

SourceData* TimeLineTreeModel::createFromMaterial(ClassifyItem* track, const QString& path, const bg::ValueMap& info,
                                                  int64_t start) {
    if (!track || !info.get("valid").toBool()) {
        LOGW("material not valid: %s", path.toUtf8().constData());
        return nullptr;
    }
    const int w = info.get("width").toInt(), h = info.get("height").toInt();
    int64_t length = std::max<int64_t>(1, info.get("pix").toInt64());
    int64_t original = length;
    // What the file holds says whether it moves (a GIF of one picture is a
    // still); without a probe's answer, the name does.
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool moving = info.contains("still") ? !info.get("still").toBool() : suffix == QLatin1String("gif");
    if (track->kind() == SourcePicture && !moving) {
        // A still picture: a fixed length, and room to stretch it almost without limit.
        length = int64_t(25000 / timeline::frameWidth());
        original = int64_t(5e8 / timeline::frameWidth());
    }
    // Media larger than the canvas is placed fitted inside it, its aspect
    // kept, so the user sees all of it; smaller media keep their own size.
    QSizeF placed(w, h);
    if (w > m_renderSize.width() || h > m_renderSize.height())
        placed.scale(QSizeF(m_renderSize), Qt::KeepAspectRatio);
    SourceData* clip = createSource(track, std::max<int64_t>(0, start), length, 0, original, path,
                                    QRectF(QPointF(0, 0), QSizeF(std::round(placed.width()), std::round(placed.height()))),
                                    QRect(0, 0, w, h));
    clip->setOriginalSize(QSize(w, h));
    MergeSequence step(tlkey::SeqAddSource);
    insertSource(track, clip);
    return clip;
}

void TimeLineTreeModel::insertSource(ClassifyItem* track, SourceData* clip) {
    track->addSource(clip);
    // Clips pushed along by the new one leave the transitions that joined
    // them to their neighbours: a transition must not span the new clip.
    dropTransitionsApart();
}

SourceData* TimeLineTreeModel::createFromMaterial(ClassifyItem* track, const QString& path, int64_t start) {
    return track ? createFromMaterial(track, path, probe(path), start) : nullptr;
}

bg::ValueMap TimeLineTreeModel::probe(const QString& path) const {
    if (m_probeCache) {
        auto it = m_probeCache->constFind(path);
        if (it != m_probeCache->constEnd())
            return *it;
    }
    const bg::ValueMap info = m_mediaProbe      ? m_mediaProbe(path)
                              : m_renderManager ? m_renderManager->mediaInfo(path, false)
                                                : RenderManager::probeMedia(path);
    if (m_probeCache)
        m_probeCache->insert(path, info);
    return info;
}

TimeLineTreeModel::ProbeCacheScope::ProbeCacheScope(const TimeLineTreeModel* model)
    : m_model(model), m_owner(model->m_probeCache == nullptr) {
    if (m_owner)
        m_model->m_probeCache = &m_cache;
}

TimeLineTreeModel::ProbeCacheScope::~ProbeCacheScope() {
    if (m_owner)
        m_model->m_probeCache = nullptr;
}

void TimeLineTreeModel::writeTimeline(QXmlStreamWriter& writer, const PathMapper& mapPath,
                                      const PathMapper& besidePath) const {
    TimelineSectionWriter(*this, mapPath, besidePath).write(writer);
}

bool TimeLineTreeModel::readTimeline(QXmlStreamReader& reader, const PathMapper& mapPath) {
    return TimelineSectionReader(*this, mapPath).read(reader);
}

bool TimeLineTreeModel::readOldSection(QXmlStreamReader& objectMgr, QXmlStreamReader& tree,
                                       const PathMapper& mapPath) {
    return LegacyTimelineReader(*this, mapPath).read(objectMgr, tree);
}

SourceData* TimeLineTreeModel::createSubtitle(ClassifyItem* track, int64_t start, int64_t length,
                                              const QString& content, const QFont& font, const QColor& color) {
    if (!track || track->kind() != SourceSubtitle)
        return nullptr;
    SourceData* clip = createSource(track, std::max<int64_t>(0, start), std::max<int64_t>(1, length), 0,
                                    timeline::kMaxFrames, QString(), QRectF(), QRect());
    const QString text = content.isEmpty() ? tr("subtitle_source_menu.default") : content;
    clip->setInitialSubtitle(color, QColor(Qt::black), font, text, 0);
    track->addSource(clip);
    return clip;
}

QList<SourceData*> TimeLineTreeModel::allSources() const {
    QList<SourceData*> result;
    for (ClassifyItem* track : tracks())
        result.append(track->sources());
    return result;
}

int TimeLineTreeModel::relinkMedia(const QString& from, const QString& to) {
    int changed = 0;
    const bg::ValueMap info = probe(to);
    const int valid = info.get("valid").toBool() ? 1 : 0;
    const QSize size = valid ? QSize(info.get("width").toInt(), info.get("height").toInt()) : QSize();
    bool reshaped = false;
    for (SourceData* clip : allSources()) {
        if (clip->type() != SourceSubtitle && clip->path() == from) {
            const QSize before = clip->originalSize();
            const QRect crop = clip->clipRect();
            clip->relink(to, valid, size);
            reshaped = reshaped || clip->originalSize() != before || clip->clipRect() != crop;
            ++changed;
        }
    }
    // A new size and crop are the project's to keep: the next save writes them.
    if (reshaped)
        zya::UndoController::instance()->setModified();
    return changed;
}

QStringList TimeLineTreeModel::missingMedia() const {
    QStringList missing;
    for (const SourceData* clip : allSources()) {
        if (clip->type() != SourceSubtitle && !clip->path().isEmpty() && !QFileInfo::exists(clip->path()) &&
            !missing.contains(clip->path()))
            missing.append(clip->path());
    }
    return missing;
}

QStringList TimeLineTreeModel::unreadableMedia() const {
    QStringList unreadable;
    for (const SourceData* clip : allSources()) {
        if (clip->type() != SourceSubtitle && !clip->path().isEmpty() && clip->valid() == 0 &&
            QFileInfo::exists(clip->path()) && !unreadable.contains(clip->path()))
            unreadable.append(clip->path());
    }
    return unreadable;
}

QStringList TimeLineTreeModel::mediaFiles() const {
    QStringList files;
    for (const SourceData* clip : allSources()) {
        if (clip->type() != SourceSubtitle && !clip->path().isEmpty() && !files.contains(clip->path()))
            files.append(clip->path());
    }
    return files;
}

SourceData* TimeLineTreeModel::findSource(const QString& uuid) const {
    for (ClassifyItem* track : tracks()) {
        for (SourceData* clip : track->sources()) {
            if (clip->uuid() == uuid)
                return clip;
        }
    }
    return nullptr;
}

ClassifyItem* TimeLineTreeModel::trackOf(const SourceData* clip) const {
    for (ClassifyItem* track : tracks()) {
        if (track->indexOf(clip) >= 0)
            return track;
    }
    return nullptr;
}

bool TimeLineTreeModel::splitSource(SourceData* clip, int64_t frame) {
    ClassifyItem* track = clip ? trackOf(clip) : nullptr;
    if (!track || frame <= clip->startFrame() || frame >= clip->endFrame())
        return false; // a cut outside the clip would leave an empty part
    const int64_t start = clip->startFrame();
    const int64_t offset = clip->type() == SourceSubtitle ? 0 : clip->offset() + (frame - start);
    SourceData* right = cloneAt(this, clip, track, frame, clip->endFrame() - frame, offset, true);
    MergeSequence step(tlkey::SeqSplit);
    bg::ValueMap context;
    context[tlkey::Col] = bg::Value(0);
    zya::ZyObject::AddObject_canUndo(right, bg::Value(context));
    right->setKeysFromFields();
    clip->writeSource(track, start, frame - start, clip->offset(), true);
    if (TransitionObject* old = transitionFrom(clip)) {
        TransitionData* d = old->data();
        SourceData* to = d->to();
        const QString name = d->name;
        const int64_t duration = d->durationframe;
        const int ratio = d->ratio;
        removeTransition(old);
        addTransition(right, to, name, duration, ratio);
    }
    return true;
}

SourceData* TimeLineTreeModel::copySource(SourceData* clip) {
    ClassifyItem* track = clip ? trackOf(clip) : nullptr;
    if (!track)
        return nullptr;
    SourceData* copy = cloneAt(this, clip, track, 0, clip->lengthFrames(), clip->offset(), false);
    // Half a frame before the end: the layout then puts it exactly at the end.
    copy->setPosX(timeline::frameToPixel(clip->endFrame()) - timeline::frameWidth() / 2);
    MergeSequence step(tlkey::SeqCopy);
    insertSource(track, copy);
    return copy;
}

void TimeLineTreeModel::setCopyBuffer(const SourceData* clip) {
    if (!clip) {
        m_copyBuffer.reset();
        return;
    }
    m_copyBuffer = std::make_unique<SourceData>(clip->type(), nullptr, nullptr, clip->width(), clip->previewRect(),
                                                clip->path(), clip->uuid(), clip->originalDuration(),
                                                timeline::frameToPixel(clip->offset()), clip->clipRect());
    m_copyBuffer->copyLookFrom(*clip);
}

SourceData* TimeLineTreeModel::paste(ClassifyItem* track, int64_t frame) {
    if (!m_copyBuffer || !track || track->kind() != uint32_t(m_copyBuffer->type()))
        return nullptr;
    SourceData* clip = cloneAt(this, m_copyBuffer.get(), track, std::max<int64_t>(0, frame),
                               m_copyBuffer->lengthFrames(), m_copyBuffer->offset(), false);
    // The file may have gone since it was copied.
    if (!clip->path().isEmpty() && clip->type() != SourceSubtitle)
        clip->setValid(probe(clip->path()).get("valid").toBool() ? 1 : 0);
    MergeSequence step(tlkey::SeqPaste);
    insertSource(track, clip);
    return clip;
}

bool TimeLineTreeModel::moveSource(SourceData* clip, ClassifyItem* track, int64_t start) {
    ClassifyItem* from = clip ? trackOf(clip) : nullptr;
    if (!from || !track || track->kind() != uint32_t(clip->type()) || start < 0)
        return false;
    if (from == track && start == clip->startFrame())
        return false;
    MergeSequence step(tlkey::SeqMove);
    clip->writeSource(track, start, clip->lengthFrames(), clip->offset(), true);
    track->layout();
    dropTransitionsApart();
    return true;
}

bool TimeLineTreeModel::trimSource(SourceData* clip, int64_t start, int64_t length, int64_t offset) {
    ClassifyItem* track = clip ? trackOf(clip) : nullptr;
    if (!track || start < 0 || length < 1 || offset < 0)
        return false;
    MergeSequence step(tlkey::SeqMove);
    clip->writeSource(track, start, length, offset, true);
    track->layout();
    dropTransitionsApart();
    return true;
}

void TimeLineTreeModel::removeSources(const QList<SourceData*>& clips) {
    if (clips.isEmpty())
        return;
    MergeSequence step(tlkey::SeqRemove);
    const QSet<SourceData*> gone(clips.begin(), clips.end());
    // A transition cannot outlive its clips.
    const QList<TransitionObject*> transitions = m_transitions;
    for (TransitionObject* t : transitions) {
        if (gone.contains(t->data()->from()) || gone.contains(t->data()->to()))
            removeTransition(t);
    }
    for (SourceData* clip : clips) {
        if (ClassifyItem* track = trackOf(clip))
            track->removeSources({clip});
    }
}

bool TimeLineTreeModel::levelSource(SourceData* clip, int64_t frame, bool up) {
    const SourceType kind = clip ? clip->type() : SourceNone;
    if (kind != SourcePicture && kind != SourceVideo && kind != SourceSubtitle)
        return false;
    // Pictures and videos stack together, subtitles among themselves.
    auto group = [](SourceType t) { return t == SourceSubtitle ? 1 : 0; };
    auto centred = [](const QRectF& r) { return QRectF(r.x() - r.width() / 2, r.y() - r.height() / 2, r.width(), r.height()); };
    const QRectF own = centred(clip->shownPlacement());
    int z = clip->zValue();
    for (SourceData* other : allSources()) {
        const SourceType t = other->type();
        if (other == clip || (t != SourcePicture && t != SourceVideo && t != SourceSubtitle) ||
            group(t) != group(kind) || !other->covers(frame))
            continue;
        if (!own.intersects(centred(other->shownPlacement())))
            continue;
        LOGD("rect1 intersect rect2: %d", other->zValue());
        z = up ? std::max(z, other->zValue()) : std::min(z, other->zValue());
    }
    clip->setValue(tlkey::ZValue, bg::Value(up ? z + 1 : z - 1), true, true);
    return true;
}

// ---- transitions ----

TransitionObject* TimeLineTreeModel::addTransition(SourceData* from, SourceData* to, const QString& name,
                                                   int64_t durationMs, int ratio) {
    if ((!from && !to) || from == to)
        return nullptr;
    if ((from && !trackOf(from)) || (to && !trackOf(to)))
        return nullptr;
    for (TransitionObject* t : m_transitions) {
        if ((from && t->data()->from() == from) || (to && t->data()->to() == to)) {
            LOGW("clip already has a transition on that side");
            return nullptr;
        }
    }
    double gap = 0.0;
    if (from && to)
        gap = to->posX() - (from->posX() + from->width());
    auto* data = new TransitionData(from, to, name, gap);
    data->durationframe = std::max<int64_t>(0, durationMs);
    data->ratio = std::clamp(ratio, 0, 10);
    TransitionObject* transition = m_transitionFactory ? m_transitionFactory(data) : new TransitionObject(data);
    MergeSequence step(tlkey::SeqTransition);
    zya::ZyObject::AddObject_canUndo(transition, modelContext(this));
    transition->setValue(tlkey::Trans, bg::Value(data->transMap()), false, true);
    return transition;
}

void TimeLineTreeModel::removeTransition(TransitionObject* transition) {
    const int index = m_transitions.indexOf(transition);
    if (index < 0)
        return;
    // The index puts it back where it was, so that the written order survives undo.
    bg::ValueMap context = modelContext(this).toMap();
    context[tlkey::Col] = bg::Value(index);
    zya::ZyObject::DelObject_canUndo(transition, bg::Value(context));
}

void TimeLineTreeModel::dropTransitionsApart() {
    const QList<TransitionObject*> transitions = m_transitions;
    for (TransitionObject* t : transitions) {
        SourceData* from = t->data()->from();
        SourceData* to = t->data()->to();
        ClassifyItem* fromTrack = from ? trackOf(from) : nullptr;
        ClassifyItem* toTrack = to ? trackOf(to) : nullptr;
        bool apart = (from && !fromTrack) || (to && !toTrack);
        if (!apart && from && to) {
            const int64_t gap = to->startFrame() - from->endFrame();
            apart = fromTrack != toTrack || (gap != 0 && gap != timeline::pixelToFrame(t->data()->gap()));
        }
        if (apart)
            removeTransition(t); // its clips drop their zones as it goes
        else
            t->data()->updateFrames();
    }
}

void TimeLineTreeModel::insertTransition(TransitionObject* transition, int index) {
    if (m_transitions.contains(transition))
        return;
    if (index < 0 || index > m_transitions.size())
        index = m_transitions.size();
    m_transitions.insert(index, transition);
}

void TimeLineTreeModel::takeTransition(TransitionObject* transition) { m_transitions.removeAll(transition); }

TransitionObject* TimeLineTreeModel::transitionFrom(const SourceData* clip) const {
    for (TransitionObject* t : m_transitions) {
        if (t->data()->from() == clip)
            return t;
    }
    return nullptr;
}

void TimeLineTreeModel::reset() {
    m_readLosses = ReadLosses();
    for (ClassifyItem* header : m_root->children()) {
        if (header->kind() == SourceNone)
            continue;
        removeSources(header->sources());
        while (!header->children().isEmpty())
            removeTrack(header->children().last());
        header->rebuildPreviewItem();
    }
}
