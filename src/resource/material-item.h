// One material in the material view: its picture and name, its selection
// frame, and the drag that carries it to the timeline. GUI thread only.
#pragma once

#include "resource/material-data.h"

#include <QByteArray>
#include <QGraphicsItem>
#include <QPointF>

class QMimeData;

namespace resource {
// The drag marker and data format the timeline accepts.
constexpr const char* kDragText = "Quenor";
constexpr const char* kDragFormat = "data";
// Cell of the grid and the item inside it, at 96 DPI.
constexpr double kItemWidth = 95;
constexpr double kItemHeight = 75;
constexpr double kPictureHeight = 55;
constexpr double kCellWidth = 105;
constexpr double kCellHeight = 85;
constexpr double kCellMargin = 10;

// The "data" payload of a material: "material", then the kind with colour
// and font (templates) or draggable flag and path (files).
QByteArray materialDragPayload(const MaterialData& material);
// The whole drag data; the caller owns it.
QMimeData* materialMimeData(const MaterialData& material);
} // namespace resource

class MaterialItem : public QGraphicsItem {
public:
    explicit MaterialItem(const MaterialData& material, QGraphicsItem* parent = nullptr);

    const MaterialData& material() const { return m_material; }
    void setMaterial(const MaterialData& material);

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;

private:
    MaterialData m_material;
    QPointF m_pressPos; // scene position of the last left press
    bool m_hovered = false;
};
