#include "timeline/source-anchor.h"

#include "timeline/source-item.h"
#include "timeline/timeline-units.h"

#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>

SourceAnchor::SourceAnchor(bool left, SourceItem* clip) : m_left(left), m_clip(clip) {
    setFlags(ItemIsSelectable | ItemIgnoresTransformations);
    setVisible(false);
}

void SourceAnchor::attach(bool shown) {
    if (shown) {
        setParentItem(m_clip); // into the clip's scene with it
        setVisible(true);
        return;
    }
    setVisible(false);
    setParentItem(nullptr);
    if (QGraphicsScene* s = scene())
        s->removeItem(this);
}

QRectF SourceAnchor::boundingRect() const {
    const double s = timeline::dpiScale();
    return QRectF(-7 * s, -7 * s, 14 * s, 14 * s);
}

QPainterPath SourceAnchor::shape() const {
    QPainterPath path;
    path.addEllipse(boundingRect());
    return path;
}

void SourceAnchor::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    QPen pen(Qt::black);
    pen.setCosmetic(true);
    painter->setPen(pen);
    painter->setBrush(Qt::yellow);
    painter->drawEllipse(boundingRect());
}

// The press is the handle's: Qt's own selection would select the handle and
// deselect its clip (taking the handle under the pointer away). The clip is
// what stays selected.
void SourceAnchor::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    SourceItem* item = clip();
    if (item && !item->isSelected()) {
        if (QGraphicsScene* s = scene())
            s->clearSelection();
        item->setSelected(true);
    }
    event->accept();
}

void SourceAnchor::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) { event->accept(); }

void SourceAnchor::mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) { event->accept(); }
