// The input state machine of the preview: hovering, selecting, moving,
// resizing and rotating the items under the pointer, publishing the selection
// to the tracks and writing the placements back as one undo step on release.
//
// GUI thread only. The items are changed directly (MoveTo, Resize, rotation,
// the hovered and selected flags); the render thread draws them on its next
// cycle.
#pragma once

#include "render/preview-geometry.h"

#include <QPoint>
#include <QPointF>
#include <Qt>

#include <vector>

class GsItem;
class GsScene;
class PreviewItem;

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
