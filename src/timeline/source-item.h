// A clip as the timeline scene shows it: a SourceData that is also a
// QGraphicsItem. Selectable only; moves and trims are done by the scene,
// which changes the item's shown position, width and offset while the
// pointer drags and writes them to "source" on release. GUI thread only.
#pragma once

#include "timeline/source-data.h"
#include "timeline/waveform-cache.h"

#include <QColor>
#include <QGraphicsItem>
#include <QImage>
#include <QPointer>

class SourceAnchor;
class TimeLineGraphicsScene;

class SourceItem : public SourceData, public QGraphicsItem {
    Q_OBJECT
public:
    enum { Type = UserType + 1 };

    // Same arguments as SourceData; the item enters the scene when the clip
    // enters a track.
    SourceItem(SourceType type, ClassifyItem* parent, QGraphicsScene* scene, double width,
               const QRectF& previewRect, const QString& path, const QString& uuid, int64_t originalDuration,
               double offsetPx, const QRect& clipRect);
    ~SourceItem() override;

    int type() const override { return Type; }
    // The scene it is in now (null while off a track).
    using QGraphicsItem::scene;
    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    double rowHeightPx() const;
    // Width and offset as shown; they differ from width() and offset() only
    // while a trim is being dragged.
    double shownWidth() const { return m_shownWidth; }
    int64_t shownOffset() const { return m_shownOffset; }
    // Trim preview: new width and offset at scene x (same y); handles follow.
    void showTrim(double x, double width, int64_t offset);

    // The property panel that edits this clip.
    MenuType menuType() const;
    // Shows the clip's panel as a click (1) or a double click (2) on it does.
    void showPanel(int clicked);
    QColor fillColor() const;
    bool hasThumbnail() const { return !m_thumbnail.isNull(); }
    // Whether the clip shows its file's waveform, and the peaks it is drawn
    // from (null until they are ready).
    bool showsWaveform() const;
    PeaksPtr waveformPeaks() const { return m_peaks; }
    QString displayName() const { return m_displayName; }
    bool hovered() const { return m_hover; }
    SourceAnchor* leftAnchor() const { return m_left; }
    SourceAnchor* rightAnchor() const { return m_right; }
    // Transition zones in item coordinates (empty without a transition).
    QRectF startZone() const;
    QRectF endZone() const;

    // Shown only while its track's row is shown (a header, or a track under
    // an expanded header), at the top of that row.
    bool trackShown() const;
    void placeOnTrack();

    // A click (times 1) or double click (2) at pos, in item coordinates.
    void clicked(const QPointF& pos, int times);

    // The media file's thumbnail that the media library left in the cache
    // folder (or, from earlier versions, in the temporary folder).
    static QString thumbnailPath(const QString& mediaPath);

signals:
    void sig_transLeftClicked(int times, SourceItem* sourceItem);
    void sig_transRightClicked(int times, SourceItem* sourceItem);

protected:
    void sceneAttach(bool shown) override;
    void scenePlace(double x, double y) override;
    void sceneWidthChanged(double width) override;
    void sceneMediaChanged() override;

    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) override;
    void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;

private:
    TimeLineGraphicsScene* timelineScene() const;
    void placeAnchors();
    void paintWaveform(QPainter* painter, const QStyleOptionGraphicsItem* option, double sx, double w, double h);

    QPointer<QGraphicsScene> m_home; // the scene the clip belongs to; it may go first
    QImage m_thumbnail;
    PeaksPtr m_peaks;
    bool m_peaksAsked = false;
    QString m_displayName;
    bool m_hover = false;
    double m_shownWidth;
    int64_t m_shownOffset;
    SourceAnchor* m_left;
    SourceAnchor* m_right;
};
