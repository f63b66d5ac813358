// A trim handle of a clip: a child item at the clip's left edge (left) or
// right edge. It keeps its size at every zoom; the scene does the trimming.
#pragma once

#include <QGraphicsItem>

class SourceItem;

class SourceAnchor : public QGraphicsItem {
public:
    enum { Type = UserType + 2 };

    SourceAnchor(bool left, SourceItem* clip);

    bool isLeft() const { return m_left; }
    SourceItem* clip() const;

    int type() const override { return Type; }
    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) override;

private:
    bool m_left;
};
