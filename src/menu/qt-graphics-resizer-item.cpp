#include "menu/qt-graphics-resizer-item.h"

#include <QBrush>
#include <QCursor>
#include <QGraphicsSceneMouseEvent>
#include <QPainterPath>
#include <QPen>

#include <algorithm>

namespace {

constexpr qreal kHandleSize = 8.0; // pixels on screen

// One handle: moves the edges it stands for while it is dragged.
class HandleItem : public QGraphicsRectItem {
public:
    HandleItem(int edges, QtGraphicsResizerItem* owner)
        : QGraphicsRectItem(-kHandleSize / 2, -kHandleSize / 2, kHandleSize, kHandleSize, owner),
          m_edges(edges), m_owner(owner) {
        setFlag(ItemIgnoresTransformations);
        setBrush(QColor(QStringLiteral("#EDAE6B")));
        setPen(Qt::NoPen);
        setCursor(cursorFor(edges));
        setAcceptedMouseButtons(Qt::LeftButton);
    }
    int edges() const { return m_edges; }

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override { event->accept(); }
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override {
        m_owner->dragEdges(m_edges, m_owner->mapFromScene(event->scenePos()));
    }

private:
    static Qt::CursorShape cursorFor(int edges) {
        using E = QtGraphicsResizerItem::Edge;
        if (edges == E::Left || edges == E::Right)
            return Qt::SizeHorCursor;
        if (edges == E::Top || edges == E::Bottom)
            return Qt::SizeVerCursor;
        if (edges == (E::Left | E::Top) || edges == (E::Right | E::Bottom))
            return Qt::SizeFDiagCursor;
        return Qt::SizeBDiagCursor;
    }
    int m_edges;
    QtGraphicsResizerItem* m_owner;
};

} // namespace

QtGraphicsResizerItem::QtGraphicsResizerItem(int handles, QGraphicsItem* parent) : QGraphicsRectItem(parent) {
    QPen pen(QColor(QStringLiteral("#FC945D")), 2, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin);
    pen.setCosmetic(true);
    setPen(pen);
    setBrush(Qt::NoBrush);
    QList<int> edges;
    if (handles & HorizontalHandles)
        edges << Left << Right;
    if (handles & VerticalHandles)
        edges << Top << Bottom;
    if (handles & CornerHandles)
        edges << (Left | Top) << (Right | Top) << (Left | Bottom) << (Right | Bottom);
    for (int e : edges)
        m_handles << new HandleItem(e, this);
    if (handles & HoverArrow) {
        QPainterPath arrow;
        arrow.moveTo(0, -10);
        arrow.lineTo(6, 0);
        arrow.lineTo(2, 0);
        arrow.lineTo(2, 10);
        arrow.lineTo(-2, 10);
        arrow.lineTo(-2, 0);
        arrow.lineTo(-6, 0);
        arrow.closeSubpath();
        m_arrow = new QGraphicsPathItem(arrow, this);
        m_arrow->setFlag(ItemIgnoresTransformations);
        m_arrow->setBrush(QColor(178, 34, 34));
        m_arrow->setPen(Qt::NoPen);
        m_arrow->setVisible(false);
        setAcceptHoverEvents(true);
    }
    placeHandles();
}

void QtGraphicsResizerItem::setResizerRect(const QRectF& rect) {
    setRect(rect);
    placeHandles();
}

QList<QGraphicsItem*> QtGraphicsResizerItem::handles() const {
    QList<QGraphicsItem*> out;
    for (QGraphicsRectItem* h : m_handles)
        out << h;
    return out;
}

bool QtGraphicsResizerItem::isHandle(const QGraphicsItem* item) const {
    for (const QGraphicsRectItem* h : m_handles) {
        if (h == item)
            return true;
    }
    return false;
}

void QtGraphicsResizerItem::dragEdges(int edges, const QPointF& at) {
    const QPointF point(qRound(at.x()), qRound(at.y())); // edges on whole pixels
    QRectF r = rect();
    if (edges & Left)
        r.setLeft(std::min(point.x(), r.right() - m_minimum.width()));
    if (edges & Right)
        r.setRight(std::max(point.x(), r.left() + m_minimum.width()));
    if (edges & Top)
        r.setTop(std::min(point.y(), r.bottom() - m_minimum.height()));
    if (edges & Bottom)
        r.setBottom(std::max(point.y(), r.top() + m_minimum.height()));
    setResizerRect(r);
}

void QtGraphicsResizerItem::placeHandles() {
    const QRectF r = rect();
    for (QGraphicsRectItem* h : m_handles) {
        const int e = static_cast<HandleItem*>(h)->edges();
        const qreal x = (e & Left) ? r.left() : (e & Right) ? r.right() : r.center().x();
        const qreal y = (e & Top) ? r.top() : (e & Bottom) ? r.bottom() : r.center().y();
        h->setPos(x, y);
    }
    if (m_arrow)
        m_arrow->setPos(r.center());
}

void QtGraphicsResizerItem::hoverEnterEvent(QGraphicsSceneHoverEvent* event) {
    if (m_arrow)
        m_arrow->setVisible(true);
    QGraphicsRectItem::hoverEnterEvent(event);
}

void QtGraphicsResizerItem::hoverLeaveEvent(QGraphicsSceneHoverEvent* event) {
    if (m_arrow)
        m_arrow->setVisible(false);
    QGraphicsRectItem::hoverLeaveEvent(event);
}
