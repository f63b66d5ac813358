// The interactive half of the preview: hovering, selecting, moving, resizing
// and rotating the pictures and subtitles shown at the play-head, written back
// to their clips as one undo step when the mouse is released.
//
// GUI thread only. The items are changed directly (MoveTo, Resize, rotation,
// the hovered and selected flags); the render thread draws them on its next
// cycle.
#pragma once

#include "render/display-window.h"

#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <vector>

class PreviewItem;
class QMenu;

// Placement arithmetic of the preview, in scene pixels with the origin at the
// scene's centre (y down). Plain functions so the rules can be checked alone.
namespace preview {

// Handle kinds, as bits; corners combine one horizontal and one vertical bit.
enum Handle : int {
    HandleNone = 0, // the item itself: move
    HandleLeft = 1,
    HandleRight = 2,
    HandleTop = 4,
    HandleBottom = 8,
    HandleTopLeft = HandleTop | HandleLeft,
    HandleTopRight = HandleTop | HandleRight,
    HandleBottomLeft = HandleBottom | HandleLeft,
    HandleBottomRight = HandleBottom | HandleRight,
    HandleRotate = 16,
};

// An item's centre, size and rotation (radians).
struct Box {
    double x = 0, y = 0, w = 0, h = 0, rotation = 0;
};

Box boxOf(const GsItem* item);
// q relative to the box's centre, turned into the box's own axes.
QPointF toBoxAxes(const Box& box, const QPointF& q);
// A point given in the box's axes (from its centre), in scene coordinates.
QPointF fromBoxAxes(const Box& box, const QPointF& local);
bool contains(const Box& box, const QPointF& q);

// Where a handle sits in the box's axes; the rotate handle is kRotateGap
// screen pixels above the top edge at s screen pixels per scene pixel.
QPointF handlePoint(const Box& box, int handle, double s);
// The point that stays put while the handle is dragged (scene coordinates):
// the opposite corner or the middle of the opposite edge.
QPointF anchorPoint(const Box& box, int handle);
// The handle whose box (kHandle screen pixels square, turned with the item)
// holds q, or -1 when none does.
int handleAt(const Box& box, const QPointF& q, double s);

// The rotation the rotate handle gives when the pointer is at q: 0 points up,
// clockwise positive, in (-pi, pi]; within 10 degrees of 0, +-90 or 180 it
// snaps there. `fallback` when q is on the centre.
double rotationFor(const Box& box, const QPointF& q, double fallback);
double snapRotation(double radians);

// The box after dragging `handle` to q with the anchor fixed. keepAspect keeps
// `ratio` (width / height at press) for corner handles. Sizes are whole
// pixels, at least 1 and at least `minimum`.
Box resized(const Box& box, int handle, const QPointF& anchor, const QPointF& q, double ratio,
            bool keepAspect, const QSizeF& minimum);

// Snapping of a proposed centre against the scene's centre lines and borders.
struct Snap {
    double dx = 0, dy = 0; // add to the proposed centre
    double lineX, lineY;   // the line snapped to, NaN when none
};
Snap snapMove(const Box& proposed, const QSizeF& sceneSize, double threshold);

// Rotation in radians as the clip stores it: whole degrees 0..359.
int toDegrees(double radians);

} // namespace preview

// The input state machine. Host supplies: view() (ZyeGsView*, may be null),
// previewRatio() (device pixel ratio), setPreviewCursor(Qt::CursorShape),
// previewRemoveRequested(), previewCloseMenuRequested() and
// previewContextMenu(QPointF point, QPoint globalPos).
template <typename Host> class ZyePreviewImpl {
public:
    bool isPressed() const { return m_pressed; }
    bool isDragging() const { return m_dragging; }
    int grabbedHandle() const { return m_handle; }
    bool keepAspect() const { return m_keepAspect; }
    // A widget point in scene pixels; (0, 0) without a view.
    QPointF mapToScene(const QPointF& p) const;

    // Mouse input, in the window's pixels. Only the left button drags.
    void previewPress(const QPointF& p, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void previewMove(const QPointF& p, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
    void previewRelease(const QPointF& p, Qt::MouseButton button);
    void previewDoubleClick(const QPointF& p, Qt::MouseButton button);
    // The pointer left the window: nothing is hovered.
    void previewLeave();
    // Delete and Control; true when the event is used up (Delete), false
    // when it should travel on to the parents.
    bool previewKeyPress(int key, bool autoRepeat);
    bool previewKeyRelease(int key);

    // The context menu's commands, each on every visible selected item.
    void editSelected();
    void raiseSelected();
    void lowerSelected();
    void deleteSelected();

protected:
    ZyePreviewImpl() = default;
    ~ZyePreviewImpl();
    ZyePreviewImpl(const ZyePreviewImpl&) = delete;
    ZyePreviewImpl& operator=(const ZyePreviewImpl&) = delete;

    // The visible, selectable item drawn on top at q; null when none.
    GsItem* selectableAt(const QPointF& q) const;
    // The same among the selected items.
    GsItem* selectedAt(const QPointF& q) const;
    // Select only this item (null: clear the selection); publishSelection
    // then tells the tracks.
    void selectOnly(GsItem* item);
    // Every visible preview item tells its track whether it is selected.
    void publishSelection();

private:
    Host& host() { return static_cast<Host&>(*this); }
    const Host& host() const { return static_cast<const Host&>(*this); }
    GsScene* scene() const;
    double screenScale() const;
    // The grabbed handle of a selected item at q (-1 when none); the item is
    // returned without a reference.
    int handleUnder(const QPointF& q, GsItem** item) const;
    void updateHover(const QPointF& q);
    void updateCursor(const QPointF& q);
    void setGrabbed(GsItem* item);
    void clearClamps();
    void rotateTo(const QPointF& q);
    void resizeTo(const QPointF& q, bool keepAspect);
    void moveTo(const QPointF& q);
    // One "PreviewChange" step: every selected item's placement to its clip.
    void commitPlacements();
    std::vector<PreviewItem*> selectedItems() const; // references held by the caller

    bool m_pressed = false;
    bool m_dragging = false;
    QPointF m_pressPoint;        // scene pixels
    QPointF m_offset;            // movement applied since the press
    GsItem* m_grabbed = nullptr; // the handle's item or the item being moved; one reference held
    int m_handle = preview::HandleNone;
    QPointF m_anchor;
    double m_ratio = 1.0;
    bool m_unchanged = true;
    bool m_keepAspect = false;
};

class ZyePreviewWindow : public ZyeDisplayWindow, public ZyePreviewImpl<ZyePreviewWindow> {
    Q_OBJECT
public:
    explicit ZyePreviewWindow(QWidget* parent = nullptr);
    ~ZyePreviewWindow() override;

    float previewRatio() const { return m_ratio; }
    // The context menu, while it is open or after (tests find its actions).
    QMenu* contextMenu() const { return m_menu; }

    // Host hooks of ZyePreviewImpl.
    void setPreviewCursor(Qt::CursorShape shape);
    void previewRemoveRequested() { emit sig_removeSourceItem(); }
    void previewCloseMenuRequested() { emit sig_closeMenu(); }
    // Opens the item menu when a visible item lies under the point.
    void previewContextMenu(const QPointF& point, const QPoint& globalPos);

signals:
    // Delete was pressed: the timeline removes its selected clips.
    void sig_removeSourceItem();
    // A click missed every selected item: the property panel closes
    // (connected to RenderManager::sig_closeMenu by the preview panel).
    void sig_closeMenu();

protected:
    // The native surface receives the real pointer and keys; the widget's own
    // handlers serve events sent to the widget.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void dispatchMouse(QMouseEvent* event);

    float m_ratio = 1.0f;
    QMenu* m_menu = nullptr; // child of this window
};

// Instantiated once, in preview-window.cpp.
extern template class ZyePreviewImpl<ZyePreviewWindow>;
