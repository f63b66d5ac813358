#include "menu/crop-view.h"

#include "menu/abstract-menu.h"
#include "menu/qt-graphics-resizer-item.h"

#include <QGraphicsScene>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

// ---- CropItem ----

CropItem::CropItem(const QString& uuid, const QSize& size) : m_uuid(uuid), m_size(size) {}

void CropItem::reset(const QString& uuid, const QSize& size) {
    if (uuid != m_uuid)
        m_image = QImage(); // another clip's picture must not show under this one's rectangle
    prepareGeometryChange();
    m_uuid = uuid;
    m_size = size;
    update();
}

void CropItem::updateFrames(const QList<VFrameInfo>& frames) {
    for (const VFrameInfo& info : frames) {
        if (info.uuid != m_uuid || !info.frame || info.frame->width <= 0 || info.frame->height <= 0)
            continue;
        // Pictures decoded as YUV planes are turned into RGBA for the panel.
        const ff::VFramePtr rgba = ff::rgbaFrame(info.frame);
        if (!rgba)
            continue;
        const ff::VFrameCtx& f = *rgba;
        if (f.stride < f.width * 4 || f.pixels.size() < size_t(f.stride) * size_t(f.height))
            continue; // not a whole RGBA picture
        const QImage wrapped(f.data(), f.width, f.height, f.stride, QImage::Format_RGBA8888);
        m_image = wrapped.copy(); // the frame's pixels belong to the decoder
        update();
    }
}

QRectF CropItem::boundingRect() const {
    return QRectF(0, 0, m_size.width(), m_size.height());
}

void CropItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (m_image.isNull()) {
        painter->fillRect(boundingRect(), QColor(50, 50, 50));
        return;
    }
    // A preview frame may be decoded smaller than the picture: it fills it.
    painter->drawImage(boundingRect(), m_image);
}

// ---- CropView ----

CropView::CropView(QWidget* parent) : QGraphicsView(parent) {
    setScene(new QGraphicsScene(this));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRenderHint(QPainter::SmoothPixmapTransform);
    setBackgroundBrush(QColor(50, 50, 50));
    setMouseTracking(true);
}

void CropView::setup(const QString& uuid, const QSize& size, const QRect& clipRect) {
    QSize picture = size.isEmpty() ? clipRect.size() : size;
    if (picture.isEmpty())
        picture = QSize(1, 1); // nothing known of the media yet
    if (!m_item) {
        m_item = new CropItem(uuid, picture);
        scene()->addItem(m_item);
        m_resizer = new QtGraphicsResizerItem(QtGraphicsResizerItem::HorizontalHandles |
                                                  QtGraphicsResizerItem::VerticalHandles |
                                                  QtGraphicsResizerItem::CornerHandles,
                                              m_item);
        m_resizer->setMinimumSize(QSizeF(50, 50));
    } else {
        m_item->reset(uuid, picture);
    }
    m_leftLimit = 0;
    m_topLimit = 0;
    m_rightLimit = picture.width() - 1;
    m_bottomLimit = picture.height() - 1;
    scene()->setSceneRect(0, 0, m_rightLimit, m_bottomLimit);
    m_fitted = QRectF(0, 0, m_rightLimit + 100, m_bottomLimit + 100);
    fit();
    // A stored rectangle that reaches outside the picture is shown inside it.
    QRectF r = QRectF(clipRect).intersected(QRectF(0, 0, picture.width(), picture.height()));
    if (r.isEmpty())
        r = QRectF(0, 0, picture.width(), picture.height());
    m_resizer->setPos(0, 0);
    m_resizer->setResizerRect(r);
    m_drag = DragNone;
    // Only a view on screen needs the frame; a hidden one asks when it shows.
    if (isVisible())
        menu::requestPreviewUpdate();
}

void CropView::updateFrames(const QList<VFrameInfo>& frames) {
    if (m_item)
        m_item->updateFrames(frames);
}

QRectF CropView::cropRect() const {
    return m_resizer ? m_resizer->rect() : QRectF();
}

void CropView::fit() {
    if (!m_fitted.isEmpty())
        fitInView(m_fitted, Qt::KeepAspectRatio);
}

void CropView::showEvent(QShowEvent* event) {
    QGraphicsView::showEvent(event);
    if (m_item)
        menu::requestPreviewUpdate();
}

void CropView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    fit();
}

// The rectangle's right edge lies one past its last column, so it may
// reach the right limit plus one; likewise at the bottom.
void CropView::clampRect() {
    QRectF r = m_resizer->rect();
    r.setLeft(std::max(r.left(), m_leftLimit));
    r.setTop(std::max(r.top(), m_topLimit));
    r.setRight(std::min(r.right(), m_rightLimit + 1));
    r.setBottom(std::min(r.bottom(), m_bottomLimit + 1));
    if (r != m_resizer->rect())
        m_resizer->setResizerRect(r);
}

void CropView::moveRect(const QPointF& scenePos) {
    const QRectF r = m_resizer->rect();
    const QPointF d = scenePos - m_last;
    // Whole pixels only: what the rectangle shows is what the clip gets.
    qreal left = std::max(m_leftLimit, qreal(qRound(r.left() + d.x())));
    qreal top = std::max(m_topLimit, qreal(qRound(r.top() + d.y())));
    if (left + r.width() > m_rightLimit + 1)
        left = std::max(m_leftLimit, m_rightLimit + 1 - r.width());
    if (top + r.height() > m_bottomLimit + 1)
        top = std::max(m_topLimit, m_bottomLimit + 1 - r.height());
    m_resizer->setPos(0, 0);
    m_resizer->setResizerRect(QRectF(QPointF(left, top), r.size()));
    // Only the distance actually moved counts, so the rectangle stays under
    // the same point of the mouse when it comes back from the edge.
    m_last += QPointF(left - r.left(), top - r.top());
}

void CropView::mousePressEvent(QMouseEvent* event) {
    m_drag = DragNone;
    if (m_resizer && event->button() == Qt::LeftButton) {
        m_last = mapToScene(event->pos());
        m_pressRect = m_resizer->rect();
        QGraphicsItem* hit = itemAt(event->pos());
        if (m_resizer->isHandle(hit))
            m_drag = DragResize;
        else if (m_resizer->rect().contains(m_resizer->mapFromScene(m_last)))
            m_drag = DragMove;
    }
    QGraphicsView::mousePressEvent(event);
}

void CropView::mouseMoveEvent(QMouseEvent* event) {
    if (m_drag == DragMove) {
        moveRect(mapToScene(event->pos()));
        event->accept();
        return;
    }
    QGraphicsView::mouseMoveEvent(event);
    if (m_drag == DragResize)
        clampRect(); // on every move, so the rectangle never shows outside
}

void CropView::mouseReleaseEvent(QMouseEvent* event) {
    QGraphicsView::mouseReleaseEvent(event);
    if (m_drag == DragNone || !m_item)
        return;
    m_drag = DragNone;
    if (m_resizer->rect() != m_pressRect)
        emit sig_updateClipRect(m_item->uuid(), m_resizer->rect().toRect());
}
