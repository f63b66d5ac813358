// A trim handle of a clip: while the clip is selected, a child item at its
// left edge (left) or right edge; otherwise out of the scene, as items that
// keep their size at every zoom are searched on every look-up of the scene
// (thousands of hidden handles made each click slow). The scene does the
// trimming.
#pragma once

#include <QGraphicsItem>

class SourceItem;

class SourceAnchor : public QGraphicsItem {
public:
    enum { Type = UserType + 2 };

    SourceAnchor(bool left, SourceItem* clip);

    bool isLeft() const { return m_left; }
    SourceItem* clip() const { return m_clip; }
    // On the clip and shown, or out of the scene.
    void attach(bool shown);

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
    SourceItem* m_clip;
};
