#include "resource/transition-view.h"

#include "values/transtranslate.h"
#include "resource/library-common.h"
#include "resource/material-item.h"
#include "value/interface.h"
#include "values/screen-scale.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDrag>
#include <QFontMetrics>
#include <QGraphicsSceneMouseEvent>
#include <QMimeData>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>

namespace resource {

const QMap<QString, QString>& transitionIcons() {
    static const QMap<QString, QString> table = [] {
        QMap<QString, QString> icons;
        for (const auto& entry : TransTranslate::instance()->allTransitions())
            icons.insert(entry.first, QStringLiteral(":/image/%1.png").arg(entry.first));
        return icons;
    }();
    return table;
}

} // namespace resource

using namespace resource;

TransitionItem::TransitionItem(const QString& name, QGraphicsItem* parent)
    : QGraphicsItem(parent), m_name(name) {
    setFlag(ItemIsSelectable);
    setAcceptHoverEvents(true); // for the hover frame
    const QString icon = transitionIcons().value(name);
    if (!icon.isEmpty() && !m_icon.load(icon))
        LOGW("transition icon %s cannot be read", qUtf8Printable(icon));
    const QString key = TransTranslate::instance()->nameToKey(name);
    m_displayName =
        key.isEmpty() ? name : QCoreApplication::translate("TransitionItem", key.toUtf8().constData());
    setToolTip(m_displayName);
}

QRectF TransitionItem::boundingRect() const {
    const double s = screenDpiScale();
    return QRectF(-0.5, -0.5, kItemWidth * s + 1, kItemHeight * s + 1);
}

void TransitionItem::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) {
    Q_UNUSED(option);
    Q_UNUSED(widget);
    const double s = screenDpiScale();
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF picture(2 * s, 2 * s, kItemWidth * s - 4 * s, kPictureHeight * s);
    if (!m_icon.isNull())
        painter->drawImage(picture, m_icon);
    if (isSelected() || m_hovered) {
        painter->setPen(QPen(isSelected() ? QColor(QStringLiteral("#f5a623")) : QColor(Qt::lightGray), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(picture);
    }
    QFont font(QStringLiteral("Microsoft Yahei"));
    font.setPointSize(9);
    painter->setFont(font);
    painter->setPen(QColor(102, 102, 102));
    const QRectF nameRect(0, picture.bottom(), kItemWidth * s, kItemHeight * s - picture.bottom());
    painter->drawText(nameRect, Qt::AlignCenter,
                      QFontMetrics(font).elidedText(m_displayName, Qt::ElideLeft, int(nameRect.width())));
    painter->restore();
}

void TransitionItem::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_pressPos = event->scenePos();
    QGraphicsItem::mousePressEvent(event);
}

void TransitionItem::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) ||
        (event->scenePos() - m_pressPos).manhattanLength() <= QApplication::startDragDistance()) {
        QGraphicsItem::mouseMoveEvent(event);
        return;
    }
    auto* drag = new QDrag(event->widget());
    drag->setMimeData(libraryMimeData(QStringLiteral("transition"), m_name, m_icon));
    if (!m_icon.isNull())
        drag->setPixmap(QPixmap::fromImage(m_icon));
    drag->exec(Qt::MoveAction);
}

void TransitionItem::hoverEnterEvent(QGraphicsSceneHoverEvent* event) {
    m_hovered = true;
    update();
    QGraphicsItem::hoverEnterEvent(event);
}

void TransitionItem::hoverLeaveEvent(QGraphicsSceneHoverEvent* event) {
    m_hovered = false;
    update();
    QGraphicsItem::hoverLeaveEvent(event);
}

TransitionScene::TransitionScene(QObject* parent) : QGraphicsScene(parent) {
    for (auto it = transitionIcons().cbegin(); it != transitionIcons().cend(); ++it) {
        auto* item = new TransitionItem(it.key());
        addItem(item);
        m_items.append(item);
    }
}

void TransitionScene::layoutItems(double width) {
    double height = 0;
    const QVector<QPointF> places =
        flowGrid(m_items.size(), width, transitionFlow(screenDpiScale()), &height);
    for (int i = 0; i < m_items.size(); ++i)
        m_items[i]->setPos(places[i]);
    setSceneRect(0, 0, width, height);
}

TransitionView::TransitionView(QWidget* parent) : QGraphicsView(parent) {
    setObjectName(QStringLiteral("transitionView"));
    m_scene = new TransitionScene(this);
    setScene(m_scene);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRenderHint(QPainter::Antialiasing);
    m_scene->layoutItems(viewport()->width());
}

void TransitionView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    m_scene->layoutItems(viewport()->width());
}
