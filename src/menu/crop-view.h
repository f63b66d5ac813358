// The crop editor's view: the clip's current frame with the crop rectangle
// over it. The rectangle can be dragged whole or by its handles; it never
// leaves the picture. Used large on the crop page and small on the visual
// panels' cropping page. GUI thread only.
#pragma once

#include "values/frame-info.h"

#include <QGraphicsItem>
#include <QGraphicsView>
#include <QImage>
#include <QList>
#include <QSize>

class QtGraphicsResizerItem;

// The picture under the crop rectangle, at its full size in pixels.
class CropItem : public QGraphicsItem {
public:
    CropItem(const QString& uuid, const QSize& size);

    void reset(const QString& uuid, const QSize& size);
    QString uuid() const { return m_uuid; }
    QSize pictureSize() const { return m_size; }
    const QImage& image() const { return m_image; }
    // Keeps a copy of this clip's frame, if the list has one.
    void updateFrames(const QList<VFrameInfo>& frames);

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    QString m_uuid;
    QSize m_size;
    QImage m_image;
};

class CropView : public QGraphicsView {
    Q_OBJECT
public:
    explicit CropView(QWidget* parent = nullptr);

    // Shows a clip: its uuid, the picture's full size and its crop
    // rectangle; then, while the view is on screen, asks the preview for the
    // current frame (a hidden view asks when it is shown).
    void setup(const QString& uuid, const QSize& size, const QRect& clipRect);
    void updateFrames(const QList<VFrameInfo>& frames);

    CropItem* cropItem() const { return m_item; }
    QtGraphicsResizerItem* resizer() const { return m_resizer; }
    // The crop rectangle in picture pixels.
    QRectF cropRect() const;
    // The last pixel column and row of the picture.
    qreal rightLimit() const { return m_rightLimit; }
    qreal bottomLimit() const { return m_bottomLimit; }
    // The area fitted into the view: the picture and a margin.
    QRectF fittedArea() const { return m_fitted; }

signals:
    // After a drag that changed the rectangle, in whole pixels.
    void sig_updateClipRect(QString uuid, QRect rect);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum Drag { DragNone, DragMove, DragResize };
    void clampRect();
    void moveRect(const QPointF& scenePos);
    void fit();

    CropItem* m_item = nullptr; // owned by the scene
    QtGraphicsResizerItem* m_resizer = nullptr;
    // Picture limits in pixels: the rectangle covers columns left..right and
    // rows top..bottom at most.
    qreal m_leftLimit = 0, m_topLimit = 0, m_rightLimit = 0, m_bottomLimit = 0;
    QRectF m_fitted;
    QPointF m_last; // scene position of the last mouse event
    Drag m_drag = DragNone;
    QRectF m_pressRect;
};
