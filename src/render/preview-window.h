// The preview window: the engine's view with the input state machine on top.
// It turns the native surface's and its own events into the machine's calls,
// owns the item menu and accepts the libraries' drags. GUI thread only.
#pragma once

#include "render/display-window.h"
#include "render/preview-input.h"

#include <QPoint>
#include <QPointF>

class QMenu;

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

// Instantiated once, in preview-input.cpp.
extern template class ZyePreviewImpl<ZyePreviewWindow>;
