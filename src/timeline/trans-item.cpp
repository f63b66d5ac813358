#include "timeline/trans-item.h"

#include "timeline/source-item.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-units.h"

TransItem::TransItem(TransitionData* data, TimeLineGraphicsScene* scene) : TransitionObject(data), m_home(scene) {
    setAcceptedMouseButtons(Qt::NoButton); // clicks belong to the clips beneath
    setVisible(false);
    for (SourceData* clip : {data->from(), data->to()}) {
        if (auto* item = qobject_cast<SourceItem*>(clip)) {
            connect(item, &SourceItem::sig_transLeftClicked, this, &TransItem::slot_transLeftClicked);
            connect(item, &SourceItem::sig_transRightClicked, this, &TransItem::slot_transRightClicked);
        }
    }
    connect(data, &TransitionData::sig_framesChanged, this, [this] {
        place();
        // Edits, undo and redo all end here: the open panel follows.
        if (m_home && m_home->menuItem() == static_cast<const QGraphicsItem*>(this))
            m_home->showMenu(this, MenuTransition, -1, this->data()->panelMap(m_clicked));
    });
    place();
}

TransItem::~TransItem() {
    if (QGraphicsScene* s = scene()) {
        if (m_home)
            m_home->forgetTransition(this);
        s->removeItem(this);
    }
}

QRectF TransItem::boundingRect() const { return QRectF(0, 0, m_width, 12); }

void TransItem::paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) {}

void TransItem::place() {
    const double w = double(data()->endframe - data()->startframe) * timeline::frameWidth();
    if (w != m_width) {
        prepareGeometryChange();
        m_width = w;
    }
    setPos(timeline::frameToPixel(data()->startframe), 0);
    // It may end the timeline, or have ended it: its clips moved first.
    if (m_home && scene() == m_home)
        m_home->updateLength();
}

void TransItem::sceneAttach(bool shown) {
    if (!m_home)
        return;
    if (shown) {
        if (scene() != m_home)
            m_home->addItem(this);
        place();
        setVisible(true);
        m_home->rememberTransition(this);
    } else {
        setVisible(false);
        m_home->forgetTransition(this);
        m_home->closeMenuFor(this);
        if (scene())
            scene()->removeItem(this);
    }
    m_home->updateLength();
}

// Both clips' signals reach every transition that touches them, so each
// zone answers only for the transition it belongs to.
void TransItem::slot_transLeftClicked(int times, SourceItem* sourceItem) {
    if (sourceItem && sourceItem == data()->to())
        open(times, sourceItem);
}

void TransItem::slot_transRightClicked(int times, SourceItem* sourceItem) {
    if (sourceItem && sourceItem == data()->from())
        open(times, sourceItem);
}

void TransItem::open(int times, SourceItem* sourceItem) {
    m_clicked = sourceItem;
    if (m_home)
        m_home->showMenu(this, MenuTransition, times, data()->panelMap(sourceItem));
}
