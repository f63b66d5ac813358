#include "render/preview-window.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>

// The view draws the handles where the hit tests look for them.
static_assert(preview::kHandle == double(ZyeGsView::kHandle), "handle size differs from the view's");
static_assert(preview::kRotateGap == double(ZyeGsView::kRotateGap), "rotate gap differs from the view's");

ZyePreviewWindow::ZyePreviewWindow(QWidget* parent) : ZyeDisplayWindow(parent) {
    setMouseTracking(true);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    setAcceptDrops(true);
    setFocusPolicy(Qt::ClickFocus);
    m_ratio = float(devicePixelRatioF());
    connect(this, &ZyeDisplayWindow::ViewResized, this,
            [this] { m_ratio = float(surface()->devicePixelRatio()); });
    // The pointer and the keys reach the native window, not this widget.
    surface()->installEventFilter(this);
}

ZyePreviewWindow::~ZyePreviewWindow() {
    surface()->removeEventFilter(this);
}

void ZyePreviewWindow::setPreviewCursor(Qt::CursorShape shape) {
    setCursor(shape);
    surface()->setCursor(shape);
}

void ZyePreviewWindow::previewContextMenu(const QPointF& point, const QPoint& globalPos) {
    if (!view())
        return;
    GsItem* hit = selectableAt(mapToScene(point));
    if (!hit)
        return;
    // The commands act on the selection: the item right-clicked joins it
    // alone unless it is selected already.
    if (!hit->selected) {
        selectOnly(hit);
        publishSelection();
    }
    if (!m_menu) {
        m_menu = new QMenu(this);
        m_menu->setObjectName(QStringLiteral("menu_preview"));
        m_menu->addAction(tr("previewwindowdrop.Edit"), this, [this] { editSelected(); });
        m_menu->addAction(tr("previewwindowdrop.UpLevel"), this, [this] { raiseSelected(); });
        m_menu->addAction(tr("previewwindowdrop.DownLevel"), this, [this] { lowerSelected(); });
        m_menu->addAction(tr("previewwindowdrop.Delete"), this, [this] { deleteSelected(); });
    }
    m_menu->popup(globalPos);
}

void ZyePreviewWindow::dispatchMouse(QMouseEvent* event) {
    // The surface fills this widget, so both share one coordinate system.
    const QPointF p = event->localPos();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        previewPress(p, event->button(), event->modifiers());
        break;
    case QEvent::MouseMove:
        previewMove(p, event->buttons(), event->modifiers());
        break;
    case QEvent::MouseButtonRelease:
        previewRelease(p, event->button());
        break;
    case QEvent::MouseButtonDblClick:
        previewDoubleClick(p, event->button());
        break;
    default:
        break;
    }
}

bool ZyePreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != surface())
        return ZyeDisplayWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        // A plain window gets the second press of a double click as well as
        // the double click; widgets get only the latter.
        if (e->flags() & Qt::MouseEventCreatedDoubleClick)
            return true;
        if (e->button() == Qt::RightButton) {
            previewContextMenu(e->localPos(), e->globalPos());
            return true;
        }
        dispatchMouse(e);
        return true;
    }
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        dispatchMouse(static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::Leave:
        previewLeave();
        return false;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        // Through this widget, so keys it does not use travel on to the
        // parents (the main window's Shift handling) as from any widget.
        auto* e = static_cast<QKeyEvent*>(event);
        QKeyEvent copy(e->type(), e->key(), e->modifiers(), e->nativeScanCode(), e->nativeVirtualKey(),
                       e->nativeModifiers(), e->text(), e->isAutoRepeat(), ushort(e->count()));
        QCoreApplication::sendEvent(this, &copy);
        return true;
    }
    case QEvent::Wheel: {
        // Qt does not pass a synthesised wheel event on to the parents, so
        // it is offered up the chain here until a widget takes it.
        auto* e = static_cast<QWheelEvent*>(event);
        for (QWidget* w = this; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
            const QPointF local = w->mapFromGlobal(e->globalPosition().toPoint());
            QWheelEvent copy(local, e->globalPosition(), e->pixelDelta(), e->angleDelta(), e->buttons(),
                             e->modifiers(), e->phase(), e->inverted(), e->source());
            QCoreApplication::sendEvent(w, &copy);
            if (copy.isAccepted())
                break;
        }
        return true;
    }
    default:
        return false;
    }
}

void ZyePreviewWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        dispatchMouse(event);
    event->accept();
}

void ZyePreviewWindow::mouseMoveEvent(QMouseEvent* event) {
    dispatchMouse(event);
    event->accept();
}

void ZyePreviewWindow::mouseReleaseEvent(QMouseEvent* event) {
    dispatchMouse(event);
    event->accept();
}

void ZyePreviewWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    dispatchMouse(event);
    event->accept();
}

void ZyePreviewWindow::keyPressEvent(QKeyEvent* event) {
    if (previewKeyPress(event->key(), event->isAutoRepeat()))
        event->accept();
    else
        event->ignore();
}

void ZyePreviewWindow::keyReleaseEvent(QKeyEvent* event) {
    if (previewKeyRelease(event->key()))
        event->accept();
    else
        event->ignore();
}

void ZyePreviewWindow::leaveEvent(QEvent* event) {
    previewLeave();
    ZyeDisplayWindow::leaveEvent(event);
}

void ZyePreviewWindow::contextMenuEvent(QContextMenuEvent* event) {
    previewContextMenu(event->pos(), event->globalPos());
    event->accept();
}

namespace {
// The libraries' and the timeline's drag marker.
bool isOurDrag(const QMimeData* data) {
    return data && data->text() == QLatin1String("Quenor");
}
} // namespace

void ZyePreviewWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (isOurDrag(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ZyePreviewWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (isOurDrag(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ZyePreviewWindow::dropEvent(QDropEvent* event) {
    if (isOurDrag(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}
