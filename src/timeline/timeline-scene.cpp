#include "timeline/timeline-scene.h"

#include "timeline/classify-item.h"
#include "timeline/source-anchor.h"
#include "timeline/source-item.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/trans-item.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QPainter>

#include <algorithm>
#include <limits>
#include <optional>
#include <cmath>

namespace {

class MergeSequence {
public:
    explicit MergeSequence(const char* name) {
        zya::UndoController::instance()->beginMergeSequence(QString::fromLatin1(name));
    }
    ~MergeSequence() { zya::UndoController::instance()->endMergeSequence(); }
    MergeSequence(const MergeSequence&) = delete;
    MergeSequence& operator=(const MergeSequence&) = delete;
};

double wholeFrameX(double x) { return std::max(0.0, timeline::frameToPixel(timeline::pixelToFrame(x))); }

} // namespace

TimeLineGraphicsScene::TimeLineGraphicsScene(QObject* parent) : QGraphicsScene(parent) {
    qRegisterMetaType<MenuType>("MenuType");
    qRegisterMetaType<bg::ValueMap>("bg::ValueMap");
    m_autoAlign = bg::configBool(tlscene::AutoAlignKey, false);
}

TimeLineGraphicsScene::~TimeLineGraphicsScene() {
    if (m_model) {
        m_model->setSourceFactory(TimeLineTreeModel::SourceFactory());
        m_model->setTransitionFactory(TimeLineTreeModel::TransitionFactory());
        m_model->setScene(nullptr);
    }
    const QList<SourceItem*> clips = m_clips;
    const QList<TransItem*> transitions = m_transitions;
    m_clips.clear();
    m_transitions.clear();
    m_grab.clear();
    for (SourceItem* item : clips)
        removeItem(item);
    for (TransItem* item : transitions)
        removeItem(item);
}

void TimeLineGraphicsScene::setModel(TimeLineTreeModel* model) {
    m_model = model;
    if (!model)
        return;
    model->setScene(this);
    model->setSourceFactory([](SourceType type, ClassifyItem* parent, QGraphicsScene* scene, double width,
                               const QRectF& previewRect, const QString& path, const QString& uuid,
                               int64_t originalDuration, double offsetPx, const QRect& clipRect) -> SourceData* {
        return new SourceItem(type, parent, scene, width, previewRect, path, uuid, originalDuration, offsetPx,
                              clipRect);
    });
    model->setTransitionFactory([this](TransitionData* data) -> TransitionObject* { return new TransItem(data, this); });
    setSceneRect(0, 0, std::max(1.0, m_length), model->sceneHeight());
}

TransItem* TimeLineGraphicsScene::addTransition(SourceData* from, SourceData* to, const QString& name,
                                                int64_t durationMs, int ratio) {
    // The model checks and records it; its factory makes the item.
    if (!m_model)
        return nullptr;
    return dynamic_cast<TransItem*>(m_model->addTransition(from, to, name, durationMs, ratio));
}

double TimeLineGraphicsScene::horizontalScale() const {
    const QList<QGraphicsView*> v = views();
    const double s = v.isEmpty() ? 1.0 : std::abs(v.first()->transform().m11());
    return s > 1e-9 ? s : 1.0;
}

QTransform TimeLineGraphicsScene::viewTransform() const {
    const QList<QGraphicsView*> v = views();
    return v.isEmpty() ? QTransform() : v.first()->viewportTransform();
}

void TimeLineGraphicsScene::showMenu(const QGraphicsItem* item, MenuType type, int clicked, const bg::ValueMap& map) {
    if (item != m_menuItem && clicked == -1)
        return; // a refresh for a panel that is not open
    m_menuItem = item;
    emit sig_showMenu(type, clicked, map);
}

void TimeLineGraphicsScene::closeMenuFor(const QGraphicsItem* item) {
    if (item && item == m_menuItem)
        slot_closeMenu();
}

void TimeLineGraphicsScene::slot_closeMenu() {
    m_menuItem = nullptr;
    emit sig_showMenu(MenuPicture, 0, bg::ValueMap());
}

void TimeLineGraphicsScene::slot_setAutoAlign(bool align) {
    m_autoAlign = align;
    if (!align)
        m_guideShown = false;
}

// ---- clips and transitions entering and leaving ----

void TimeLineGraphicsScene::rememberClip(SourceItem* item) {
    if (!m_clips.contains(item))
        m_clips.append(item);
    if (m_itemsEnd >= 0.0 && item->x() + item->shownWidth() >= m_itemsEnd) {
        m_itemsEnd = item->x() + item->shownWidth();
        m_endItem = item;
    }
}

void TimeLineGraphicsScene::forgetClip(SourceItem* item) {
    m_clips.removeOne(item);
    m_itemsEnd = -1.0; // it may have been the last
    m_grab.remove(item);
    if (m_anchor && m_anchor->clip() == item)
        m_anchor = nullptr;
    closeMenuFor(item);
}

void TimeLineGraphicsScene::rememberTransition(TransItem* item) {
    if (!m_transitions.contains(item))
        m_transitions.append(item);
    m_itemsEnd = -1.0;
}

void TimeLineGraphicsScene::forgetTransition(TransItem* item) {
    m_transitions.removeOne(item);
    m_itemsEnd = -1.0;
}

// ---- length ----

double TimeLineGraphicsScene::itemsEnd() const {
    if (m_itemsEnd >= 0.0)
        return m_itemsEnd;
    double end = 0.0;
    m_endItem = nullptr;
    for (const SourceItem* item : m_clips) {
        if (item->x() + item->shownWidth() > end) {
            end = item->x() + item->shownWidth();
            m_endItem = item;
        }
    }
    for (const TransItem* item : m_transitions) {
        if (item->x() + item->boundingRect().width() > end) {
            end = item->x() + item->boundingRect().width();
            m_endItem = nullptr;
        }
    }
    m_itemsEnd = end;
    return end;
}

void TimeLineGraphicsScene::updateLength() {
    m_itemsEnd = -1.0;
    setLength(itemsEnd());
}

void TimeLineGraphicsScene::clipPlaced(const SourceItem* item, double end) {
    if (m_itemsEnd < 0.0 || (item == m_endItem && end < m_itemsEnd)) {
        updateLength();
        return;
    }
    if (end >= m_itemsEnd) {
        m_itemsEnd = end;
        m_endItem = item;
    }
    setLength(m_itemsEnd);
}

void TimeLineGraphicsScene::slot_extendLength(double x) {
    // In one step: a passing shorter length would pull the play head back.
    setLength(std::max(itemsEnd(), x));
}

void TimeLineGraphicsScene::slot_sceneHeight(double height) {
    for (SourceItem* item : m_clips)
        item->placeOnTrack();
    QRectF rect = sceneRect();
    rect.setHeight(std::max(1.0, height));
    setSceneRect(rect);
    repaintViews();
}

void TimeLineGraphicsScene::setLength(double end) {
    // A margin of 100 screen pixels after the last item.
    const double width = end + 100.0 / horizontalScale();
    double height = sceneRect().height();
    if (height < 1.0 && m_model)
        height = m_model->sceneHeight();
    const QRectF rect(0, 0, width, height);
    if (end == m_length && rect == sceneRect())
        return;
    m_length = end;
    setSceneRect(rect);
    emit sig_limitPosX(end);
}

// ---- mouse ----

void TimeLineGraphicsScene::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    // A handle of the selected clip is what the user aims at, even where the
    // next clip is drawn over half of it: its trim goes first, and the
    // selection stays as it is (the neighbour would take it, and its own
    // edge would be trimmed instead).
    if (event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier) {
        for (QGraphicsItem* item : items(event->scenePos(), Qt::IntersectsItemShape, Qt::DescendingOrder,
                                         viewTransform())) {
            if (item->type() != SourceAnchor::Type || !item->isVisible())
                continue;
            auto* handle = static_cast<SourceAnchor*>(item);
            if (!handle->clip() || !handle->clip()->isSelected())
                continue;
            m_grab.clear();
            m_anchor = handle;
            m_anchorGrab = event->scenePos() - handle->scenePos();
            m_pressing = true;
            m_unmoved = true;
            event->accept();
            return;
        }
    }
    // The items select first, so that the press sees the selection it makes.
    QGraphicsScene::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        slot_pressItems(event->scenePos());
}

void TimeLineGraphicsScene::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
    QGraphicsScene::mouseMoveEvent(event);
    slot_moveItems(event->scenePos());
}

void TimeLineGraphicsScene::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    const bool commit = m_pressing && event->button() == Qt::LeftButton;
    QGraphicsScene::mouseReleaseEvent(event);
    if (!commit)
        return;
    m_pressing = false;
    const QPointF pos = event->scenePos();
    QMetaObject::invokeMethod(
        this, [this, pos] { slot_releaseItems(pos); }, Qt::QueuedConnection);
}

void TimeLineGraphicsScene::slot_pressItems(QPointF scenePos) {
    m_grab.clear();
    m_anchor = nullptr;
    QGraphicsItem* hit = nullptr;
    for (QGraphicsItem* item : items(scenePos, Qt::IntersectsItemShape, Qt::DescendingOrder, viewTransform())) {
        if (item->type() == SourceAnchor::Type || item->type() == SourceItem::Type) {
            hit = item;
            break;
        }
    }
    if (!hit) {
        slot_closeMenu();
        return;
    }
    if (hit->type() == SourceAnchor::Type) {
        m_anchor = static_cast<SourceAnchor*>(hit);
        m_anchorGrab = scenePos - m_anchor->scenePos();
    } else {
        for (QGraphicsItem* item : selectedItems()) {
            if (item->type() == SourceItem::Type)
                m_grab.insert(static_cast<SourceItem*>(item), scenePos - item->pos());
        }
        m_pressPos = scenePos;
    }
    m_pressing = true;
    m_unmoved = true;
}

void TimeLineGraphicsScene::slot_moveItems(QPointF scenePos) {
    if (!m_pressing)
        return;
    m_unmoved = false;
    if (m_anchor)
        trimTo(wholeFrameX(scenePos.x() - m_anchorGrab.x()));
    else
        moveClips(scenePos);
    repaintViews();
}

void TimeLineGraphicsScene::trimTo(double x) {
    SourceItem* item = m_anchor->clip();
    const double fw = timeline::frameWidth();
    const double width = item->shownWidth();
    const double offsetPx = timeline::frameToPixel(item->shownOffset());
    const double fullPx = timeline::frameToPixel(item->originalDuration());
    // A clip keeps at least one frame.
    const double least = std::min(fw, fullPx);
    if (m_anchor->isLeft()) {
        const double a = item->x();
        const double right = a + width;
        // The start cannot go before the media's first frame: the offset stays >= 0.
        const double most = std::min(fullPx, width + offsetPx);
        const double w = std::clamp(right - x, least, std::max(least, most));
        const int64_t offset = std::max<int64_t>(0, timeline::pixelToFrame(offsetPx + width - w));
        item->showTrim(right - w, w, offset);
    } else {
        const double a = item->x() + width;
        // Nor can the end run past the media's last frame.
        const double most = std::max(least, fullPx - offsetPx);
        const double w = std::clamp(width + x - a, least, most);
        item->showTrim(item->x(), w, item->shownOffset());
    }
}

void TimeLineGraphicsScene::bandOf(uint32_t kind, double* top, double* bottom) const {
    ClassifyItem* header = m_model ? m_model->header(kind) : nullptr;
    if (!header) {
        *top = *bottom = -1.0;
        return;
    }
    *top = m_model->headerTop(header);
    *bottom = header->expanded() && !header->children().isEmpty() ? m_model->trackTop(header->children().last())
                                                                   : *top;
}

ClassifyItem* TimeLineGraphicsScene::trackAt(uint32_t kind, double y) const {
    ClassifyItem* header = m_model ? m_model->header(kind) : nullptr;
    if (!header)
        return nullptr;
    const double h = timeline::rowHeight(kind);
    const auto index = int64_t(std::floor((y - m_model->headerTop(header)) / h + 0.5)) - 1;
    if (index < 0 || !header->expanded() || header->children().isEmpty())
        return header;
    return header->children().value(int(std::min<int64_t>(index, header->children().size() - 1)));
}

void TimeLineGraphicsScene::moveClips(const QPointF& scenePos) {
    if (m_grab.isEmpty())
        return;
    // The dragged clips move as one, by whole frames, so they keep their
    // distances; the earliest of them stops at the start.
    double earliest = std::numeric_limits<double>::max();
    for (auto it = m_grab.cbegin(); it != m_grab.cend(); ++it)
        earliest = std::min(earliest, m_pressPos.x() - it.value().x());
    double shift = timeline::frameToPixel(timeline::pixelToFrame(scenePos.x() - m_pressPos.x()));
    shift = std::max(shift, -earliest);
    m_guideShown = false;
    if (m_autoAlign)
        shift = snapped(shift, earliest);
    for (auto it = m_grab.begin(); it != m_grab.end(); ++it) {
        SourceItem* item = it.key();
        const QPointF target = scenePos - it.value();
        double y = item->y();
        double top = 0.0, bottom = 0.0;
        bandOf(item->SourceData::type(), &top, &bottom);
        if (top >= 0.0)
            y = std::clamp(target.y(), top, bottom);
        item->setPos(m_pressPos.x() - it.value().x() + shift, y);
    }
}

double TimeLineGraphicsScene::snapped(double shift, double earliest) {
    // The nearest edge of a clip not dragged that a dragged clip's start
    // comes within 5 screen pixels of; the whole group moves with it.
    const double threshold = 5.0 / horizontalScale();
    std::optional<double> nearest;
    for (auto it = m_grab.cbegin(); it != m_grab.cend(); ++it) {
        const double start = m_pressPos.x() - it.value().x() + shift;
        for (const SourceItem* other : m_clips) {
            if (m_grab.contains(const_cast<SourceItem*>(other)) || !other->isVisible())
                continue;
            for (const double edge : {other->x(), other->x() + other->shownWidth()}) {
                const double off = edge - start;
                if (std::abs(off) <= threshold && (!nearest || std::abs(off) < std::abs(*nearest)) &&
                    shift + off >= -earliest) {
                    nearest = off;
                    m_guideFrame = timeline::pixelToFrame(edge);
                }
            }
        }
    }
    m_guideShown = nearest.has_value();
    return shift + nearest.value_or(0.0);
}

void TimeLineGraphicsScene::slot_releaseItems(QPointF scenePos) {
    Q_UNUSED(scenePos);
    m_pressing = false;
    if (!m_unmoved && (m_anchor || !m_grab.isEmpty())) {
        MergeSequence step(tlscene::SeqSourceMove);
        if (m_anchor)
            commitTrim();
        else
            commitMove();
        recheckTransitions();
    }
    m_unmoved = true;
    m_anchor = nullptr;
    m_grab.clear();
    m_guideShown = false;
    updateLength();
    repaintViews();
}

void TimeLineGraphicsScene::commitTrim() {
    SourceItem* item = m_anchor->clip();
    ClassifyItem* track = item->parentTrack();
    item->setValue(tlkey::Source,
                   bg::Value(SourceData::sourceMap(track, item->x(), item->shownWidth(),
                                                   timeline::frameToPixel(item->shownOffset()))),
                   true, true);
    if (track)
        track->layout();
}

void TimeLineGraphicsScene::commitMove() {
    QList<ClassifyItem*> touched;
    const QList<SourceItem*> moved = m_grab.keys();
    for (SourceItem* item : moved) {
        ClassifyItem* track = trackAt(item->SourceData::type(), item->y());
        if (!track)
            track = item->parentTrack();
        item->setValue(tlkey::Source,
                       bg::Value(SourceData::sourceMap(track, item->x(), item->width(),
                                                       timeline::frameToPixel(item->offset()))),
                       true, true);
        if (track && !touched.contains(track))
            touched.append(track);
    }
    for (ClassifyItem* track : touched)
        track->layout();
}

void TimeLineGraphicsScene::recheckTransitions() {
    if (m_model)
        m_model->dropTransitionsApart();
}

void TimeLineGraphicsScene::repaintViews() {
    update();
    for (QGraphicsView* view : views())
        view->viewport()->update();
}

void TimeLineGraphicsScene::drawForeground(QPainter* painter, const QRectF& rect) {
    if (!m_guideShown)
        return;
    QPen pen(Qt::blue);
    pen.setStyle(Qt::DashLine);
    pen.setCosmetic(true);
    painter->setPen(pen);
    const double x = timeline::frameToPixel(m_guideFrame);
    painter->drawLine(QPointF(x, rect.top()), QPointF(x, rect.bottom()));
}
