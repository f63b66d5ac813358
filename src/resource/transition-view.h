// The transition page of the library: one item per transition, in name
// order, each with its icon and translated name, dragged onto the timeline
// to join two clips. GUI thread only.
#pragma once

#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QMap>
#include <QPointF>
#include <QString>

namespace resource {
// Transition name -> icon resource (":/image/<name>.png"), for the fourteen
// transitions; a sorted map, so walking it gives the page's order. Built on
// first use and shared by the whole process.
const QMap<QString, QString>& transitionIcons();
} // namespace resource

class TransitionItem : public QGraphicsItem {
public:
    // Loads the icon from the table; an unknown name gets no icon.
    explicit TransitionItem(const QString& name, QGraphicsItem* parent = nullptr);

    const QString& name() const { return m_name; }
    // The translated text of the name's key.
    const QString& displayName() const { return m_displayName; }
    const QImage& icon() const { return m_icon; }

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    // Starts the drag (modal until it ends) once the press has moved far enough.
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;

private:
    QImage m_icon;
    QString m_name;
    QString m_displayName;
    QPointF m_pressPos; // scene position of the last left press
    bool m_hovered = false;
};

// Owns its items, one per entry of the icon table.
class TransitionScene : public QGraphicsScene {
    Q_OBJECT
public:
    explicit TransitionScene(QObject* parent = nullptr);

    // In table order.
    const QList<TransitionItem*>& transitionItems() const { return m_items; }
    // Places the items in rows for a view width wide (scene units) and sizes the scene.
    void layoutItems(double width);

private:
    QList<TransitionItem*> m_items;
};

// Owns its scene; lays it out again on every resize.
class TransitionView : public QGraphicsView {
    Q_OBJECT
public:
    explicit TransitionView(QWidget* parent = nullptr);

    TransitionScene* transitionScene() const { return m_scene; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TransitionScene* m_scene = nullptr;
};
