#include "resource/material-item.h"

#include "values/screen-scale.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDataStream>
#include <QDrag>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QMimeData>
#include <QPainter>
#include <QWidget>

namespace resource {

QByteArray materialDragPayload(const MaterialData& material) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QStringLiteral("material");
    if (material.type == Text) {
        out << qint32(Text) << material.color << material.font;
    } else {
        out << qint32(material.type) << material.draggable << material.path;
    }
    return bytes;
}

QMimeData* materialMimeData(const MaterialData& material) {
    auto* mime = new QMimeData;
    mime->setText(QLatin1String(kDragText));
    mime->setData(QLatin1String(kDragFormat), materialDragPayload(material));
    return mime;
}

} // namespace resource

using namespace resource;

MaterialItem::MaterialItem(const MaterialData& material, QGraphicsItem* parent)
    : QGraphicsItem(parent), m_material(material) {
    setFlag(ItemIsSelectable);
    setAcceptHoverEvents(true);
    setToolTip(material.name);
}

void MaterialItem::setMaterial(const MaterialData& material) {
    m_material = material;
    setToolTip(material.name);
    update();
}

QRectF MaterialItem::boundingRect() const {
    const double s = screenDpiScale();
    return QRectF(-0.5, -0.5, kItemWidth * s + 1, kItemHeight * s + 1);
}

void MaterialItem::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) {
    Q_UNUSED(option);
    Q_UNUSED(widget);
    const double s = screenDpiScale();
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF frame(0, 0, kItemWidth * s, kPictureHeight * s);
    if (isSelected() || m_hovered) {
        painter->setPen(QPen(isSelected() ? QColor(QStringLiteral("#f5a623")) : QColor(Qt::lightGray), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(frame);
    }
    const QRect picture(int(2 * s), int(2 * s), int(kItemWidth * s - 4 * s), int(kPictureHeight * s - 4 * s));
    if (m_material.type == Text) {
        painter->fillRect(picture, QColor(QStringLiteral("#f0f0f0")));
        QFont font = m_material.font;
        font.setPointSize(8);
        painter->setFont(font);
        painter->setPen(m_material.color.isValid() ? m_material.color : QColor(Qt::black));
        painter->drawText(QRectF(picture.x(), 0, picture.width(), kPictureHeight * s), Qt::AlignCenter,
                          QCoreApplication::translate("MaterialItem", "material_item.Subtitle"));
    } else if (!m_material.preview.isNull()) {
        painter->drawImage(picture, m_material.preview);
    }
    QFont nameFont(QStringLiteral("Microsoft Yahei"));
    nameFont.setPointSize(8);
    painter->setFont(nameFont);
    painter->setPen(QColor(102, 102, 102));
    const QRectF nameRect(2 * s, kPictureHeight * s, kItemWidth * s - 4 * s, 18 * s);
    const QString name =
        QFontMetrics(nameFont).elidedText(m_material.name, Qt::ElideLeft, int(nameRect.width()));
    painter->drawText(nameRect, Qt::AlignCenter, name);
    painter->restore();
}

void MaterialItem::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_pressPos = event->scenePos();
    if (event->button() == Qt::RightButton && !isSelected() && scene()) {
        scene()->clearSelection();
        setSelected(true);
    }
    QGraphicsItem::mousePressEvent(event);
}

void MaterialItem::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) ||
        (event->scenePos() - m_pressPos).manhattanLength() <= QApplication::startDragDistance()) {
        QGraphicsItem::mouseMoveEvent(event);
        return;
    }
    auto* drag = new QDrag(event->widget());
    drag->setMimeData(materialMimeData(m_material));
    if (!m_material.preview.isNull()) {
        drag->setPixmap(QPixmap::fromImage(m_material.preview.scaled(40, 30)));
        drag->setHotSpot(QPoint(20, 10));
    }
    drag->exec(Qt::MoveAction);
}

void MaterialItem::hoverEnterEvent(QGraphicsSceneHoverEvent* event) {
    m_hovered = true;
    update();
    QGraphicsItem::hoverEnterEvent(event);
}

void MaterialItem::hoverLeaveEvent(QGraphicsSceneHoverEvent* event) {
    m_hovered = false;
    update();
    QGraphicsItem::hoverLeaveEvent(event);
}
