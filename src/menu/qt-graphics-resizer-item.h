// A rectangle with drag handles: edges, corners and an optional hover
// arrow, chosen at construction. Dragging a handle resizes the rectangle,
// never below the minimum size; the handles keep their screen size at any
// zoom. GUI thread only.
#pragma once

#include <QGraphicsRectItem>
#include <QList>
#include <QSizeF>

class QtGraphicsResizerItem : public QGraphicsRectItem {
public:
    enum HandleFlag { HorizontalHandles = 1, VerticalHandles = 2, CornerHandles = 4, HoverArrow = 8 };
    // Which edges a handle moves.
    enum Edge { Left = 1, Top = 2, Right = 4, Bottom = 8 };

    explicit QtGraphicsResizerItem(int handles, QGraphicsItem* parent = nullptr);

    void setMinimumSize(const QSizeF& size) { m_minimum = size; }
    QSizeF minimumSize() const { return m_minimum; }
    // Sets the rectangle and moves the handles onto it.
    void setResizerRect(const QRectF& rect);
    // The handle items, for hit tests (the view tells a handle drag apart).
    QList<QGraphicsItem*> handles() const;
    bool isHandle(const QGraphicsItem* item) const;
    // A handle being dragged: its edges follow the point (in this item's
    // coordinates, rounded to whole units) as far as the minimum size allows.
    void dragEdges(int edges, const QPointF& point);

protected:
    void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;

private:
    void placeHandles();

    QSizeF m_minimum{50, 50};
    QList<QGraphicsRectItem*> m_handles;
    QGraphicsPathItem* m_arrow = nullptr;
};
