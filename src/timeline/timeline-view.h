// The clip view of the timeline: a QGraphicsView on the clip scene that owns
// the play head and the zoom, hands every track its state at the play-head
// frame and edits clips from the keyboard. GUI thread only.
#pragma once

#include "render/frame-types.h"
#include "timeline/frame-dispatcher.h"
#include "timeline/frame-requests.h"
#include "value/value.h"

#include <QColor>
#include <QFont>

#include <QGraphicsView>
#include <QList>
#include <QMetaType>
#include <QPointer>

#include <array>
#include <cstdint>

class ClassifyItem;
class QMenu;
class QUndoCommand;
class SourceData;
class SourceItem;
class TimeLineGraphicsScene;
class TimeLineTreeModel;

namespace tlview {
constexpr int kMinZoom = 0;
constexpr int kMaxZoom = 24;
constexpr int kStartZoom = 12;
// Horizontal scale of every level (level 0 is one frame per 50 x dpiScale pixels).
const std::array<double, kMaxZoom + 1>& zoomScales();
// Margin that keeps the play head inside the viewport, pixels.
constexpr int kEdgeMargin = 20;
} // namespace tlview

// The copied clip's kind (0: nothing copied) and its track's index under the
// header (-1: the header). The clip itself is the model's copy buffer.
struct CopyData {
    uint32_t type = 0;
    int row = -1;
};

class TimeLineGraphicsView : public QGraphicsView {
    Q_OBJECT
public:
    explicit TimeLineGraphicsView(TimeLineGraphicsScene* scene, QWidget* parent = nullptr);

    static CopyData s_copyData;

    TimeLineGraphicsScene* timelineScene() const { return m_scene; }
    int zoomLevel() const { return m_zoom; }
    double horizontalScale() const;
    double playHeadX() const;
    int64_t playHeadFrame() const { return m_frames.frame(); }
    // The timeline's length in frames.
    int64_t totalFrames() const;
    // The play head and the questions of an instant, over this view's model.
    FrameDispatcher* frames();
    // Steps one level at a time towards the level.
    void setZoomLevel(int level);

    // The right-click menu on a clip at a scene point (the caller owns it);
    // the actions act when triggered.
    QMenu* contextMenuFor(SourceItem* clip, const QPointF& scenePos);

    // Builds and hands the requests of frame f to every showing track.
    void requestFrame(int64_t frame, int64_t fps, EditType edit);

    bool isRecording() const { return m_recording; }
    double recordStartX() const { return m_recordX; }
    double recordRowY() const { return m_recordY; }

public slots:
    void slot_viewportRangeUpdate(int value, int64_t pix);
    void slot_scaleStepView(bool positive);
    void slot_resetFrame(int64_t pix, EditType edit, bool operate);
    void slot_frontFrameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    void slot_backFrameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    void slot_selectionChanged();
    void slot_removeSourceItem();
    // The recorder's start (placeholder from the play head on a free Dub
    // row) and end (a path makes the Dub clip; error tells of no microphone).
    void slot_audioSourceItem(bool start, QString path, bool error);
    // The voice-over stopped by itself, its file full: the user is told
    // where the take lies, whole up to there (path empty: that none was kept).
    void slot_recordCutShort(const QString& path);
    // Around an export: the picture and video items switch to and from
    // being driven by the export.
    void slot_startExportPrepare();
    void slot_stopExportPrepare();
    // Ctrl+C and Ctrl+V.
    void copySelected();
    void pasteAtPlayHead();
    // Home and End: the play head to the timeline's first or last frame.
    void jumpToEnd(bool last);
    // Up and Down: the play head to the nearest clip start or end (or the
    // timeline's start) before or after it.
    void jumpToEditPoint(bool forward);

signals:
    void sig_scaleValue(int level, double scale, int scroll);
    void sig_moveValue(int scroll, double playX);
    void sig_splitButtonEnable(bool enable);
    void sig_editButtonEnable(bool enable);
    void sig_showTime(int64_t current, int64_t total);
    // The sound of a frame, for the render manager's player.
    void sig_deliverAudio(QList<AudioFrameData> sounds, int64_t frame, int64_t fps, int64_t total,
                          EditType edit);
    // Delete found nothing selected.
    void sig_nothingSelected();
    // A material dropped from the media library: "path", "posY" (viewport y),
    // "posX" (scene x, whole frames), "type" (kind).
    void sig_createSourceItem(bg::ValueMap map, QColor color, QFont font);
    // Subtitle files (.srt, .vtt) dropped at a viewport y: their cues go
    // onto the subtitle track there (TimeLineWidget::slot_importSubtitles).
    void sig_importSubtitles(QStringList paths, int posY);
    void sig_opertorUi(bool playing, bool recording);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Stops playback and recording and puts the play head on frame, in view.
    void jumpTo(int64_t frame);
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void drawForeground(QPainter* painter, const QRectF& rect) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

public:
    bool transitionDragging() const { return m_transDrag; }
    // The picture and video clips under a dragged transition at a scene point.
    QList<SourceItem*> clipsUnderProbe(const QPointF& scenePos) const;

private:
    void endTransitionDrag();
    void dropTransition(const QString& name, const QPointF& scenePos);

    TimeLineTreeModel* model() const;
    void applyZoom();
    void keepPlayHeadInView(MoveType type);
    void moveRequest(MoveType type, EditType edit, int64_t fps, double fromX);
    // Repaints the part of the view where the play head's line is drawn at sceneX.
    void updatePlayHeadStrip(double sceneX);
    QList<SourceData*> selectedClips() const;
    bool splitEnabled() const;

    TimeLineGraphicsScene* m_scene;
    int m_zoom = tlview::kStartZoom;
    FrameDispatcher m_frames; // the play head
    QList<SourceData*> m_selectionOrder; // oldest first
    bool m_transDrag = false;
    QRectF m_probe;
    bool m_recording = false;
    double m_recordX = 0.0; // scene x where the recording began
    double m_recordY = 0.0; // scene y of the Dub row it goes to
    // The undo step that added a Dub row for this recording and that row;
    // null when none was added.
    const QUndoCommand* m_recordTrackStep = nullptr;
    QPointer<ClassifyItem> m_recordTrack;
};

Q_DECLARE_METATYPE(ExportFrameRecord)

