#include "preview-window.h"

#include "render/preview-item.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSnapAngle = 0.1745329; // 10 degrees
constexpr double kInside = 1e-6;
constexpr double kSnapPixels = 10.0; // screen pixels at device pixel ratio 1
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The scene's items with a reference held each, in draw order (lowest first).
class SceneItems {
public:
    explicit SceneItems(GsScene* scene) {
        if (scene)
            scene->EnumItems(
                [this](GsItem* item, void*) {
                    item->AddRef();
                    m_items.push_back(item);
                    return true;
                },
                nullptr);
    }
    ~SceneItems() {
        for (GsItem* item : m_items)
            item->Release();
    }
    SceneItems(const SceneItems&) = delete;
    SceneItems& operator=(const SceneItems&) = delete;
    const std::vector<GsItem*>& items() const { return m_items; }
    // Topmost first: what the user sees where items overlap.
    auto top() const { return m_items.rbegin(); }
    auto bottom() const { return m_items.rend(); }

private:
    std::vector<GsItem*> m_items;
};

QString pointText(const QPointF& p) {
    return QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y());
}

} // namespace

// ---- placement arithmetic ----

namespace preview {

Box boxOf(const GsItem* item) {
    gs_vec2 p = item->pos(), s = item->size();
    return {p.x, p.y, s.x, s.y, item->rotation};
}

QPointF toBoxAxes(const Box& box, const QPointF& q) {
    const double c = std::cos(box.rotation), s = std::sin(box.rotation);
    const double dx = q.x() - box.x, dy = q.y() - box.y;
    return {dx * c + dy * s, -dx * s + dy * c};
}

QPointF fromBoxAxes(const Box& box, const QPointF& local) {
    const double c = std::cos(box.rotation), s = std::sin(box.rotation);
    return {box.x + local.x() * c - local.y() * s, box.y + local.x() * s + local.y() * c};
}

bool contains(const Box& box, const QPointF& q) {
    const QPointF l = toBoxAxes(box, q);
    return std::abs(l.x()) - box.w / 2 < kInside && std::abs(l.y()) - box.h / 2 < kInside;
}

namespace {
// -1, 0 or 1 along one axis of the box for the handle's bits.
double sideX(int handle) {
    return (handle & HandleLeft) ? -1.0 : (handle & HandleRight) ? 1.0 : 0.0;
}
double sideY(int handle) {
    return (handle & HandleTop) ? -1.0 : (handle & HandleBottom) ? 1.0 : 0.0;
}
} // namespace

QPointF handlePoint(const Box& box, int handle, double s) {
    if (handle == HandleRotate)
        return {0.0, -box.h / 2 - ZyeGsView::kRotateGap / s};
    return {sideX(handle) * box.w / 2, sideY(handle) * box.h / 2};
}

QPointF anchorPoint(const Box& box, int handle) {
    if (handle == HandleRotate || handle == HandleNone)
        return {box.x, box.y};
    return fromBoxAxes(box, {-sideX(handle) * box.w / 2, -sideY(handle) * box.h / 2});
}

int handleAt(const Box& box, const QPointF& q, double s) {
    if (!(s > 0))
        return -1;
    static const int order[] = {HandleRotate,     HandleTopLeft,     HandleTopRight,
                                HandleBottomLeft, HandleBottomRight, HandleLeft,
                                HandleRight,      HandleTop,         HandleBottom};
    const QPointF l = toBoxAxes(box, q);
    const double half = ZyeGsView::kHandle / s / 2;
    for (int handle : order) {
        const QPointF h = handlePoint(box, handle, s);
        if (std::abs(l.x() - h.x()) <= half && std::abs(l.y() - h.y()) <= half)
            return handle;
    }
    return -1;
}

double snapRotation(double radians) {
    for (double target : {0.0, kPi / 2, -kPi / 2, kPi, -kPi}) {
        if (std::abs(radians - target) < kSnapAngle)
            return target == -kPi ? kPi : target;
    }
    return radians;
}

double rotationFor(const Box& box, const QPointF& q, double fallback) {
    const double dx = q.x() - box.x, dy = q.y() - box.y;
    const double length = std::hypot(dx, dy);
    if (!(length > 0) || !std::isfinite(length))
        return fallback;
    double angle = std::acos(std::clamp(-dy / length, -1.0, 1.0));
    if (dx < 0)
        angle = -angle;
    return snapRotation(angle);
}

Box resized(const Box& box, int handle, const QPointF& anchor, const QPointF& q, double ratio,
            bool keepAspect, const QSizeF& minimum) {
    Box turned = box;
    turned.x = anchor.x();
    turned.y = anchor.y();
    // q seen from the anchor, in the item's axes.
    const QPointF l = toBoxAxes(turned, q);
    const bool horizontal = handle & (HandleLeft | HandleRight);
    const bool vertical = handle & (HandleTop | HandleBottom);
    double w = box.w, h = box.h, su = 0, sv = 0;
    if (horizontal) {
        w = std::abs(l.x());
        su = l.x() > 0 ? 1.0 : l.x() < 0 ? -1.0 : sideX(handle);
    }
    if (vertical) {
        h = std::abs(l.y());
        sv = l.y() > 0 ? 1.0 : l.y() < 0 ? -1.0 : sideY(handle);
    }
    if (horizontal && vertical && keepAspect && ratio > 0 && std::isfinite(ratio)) {
        if (h > 0 && w / h < ratio)
            w = h * ratio; // widen the narrow side
        else
            h = w / ratio;
    }
    w = std::max({std::round(w), std::ceil(minimum.width()), 1.0});
    h = std::max({std::round(h), std::ceil(minimum.height()), 1.0});
    Box out = box;
    out.w = w;
    out.h = h;
    const QPointF centre = fromBoxAxes(turned, {su * w / 2, sv * h / 2});
    out.x = centre.x();
    out.y = centre.y();
    return out;
}

Snap snapMove(const Box& proposed, const QSizeF& sceneSize, double threshold) {
    Snap snap;
    snap.lineX = kNaN;
    snap.lineY = kNaN;
    const double c = std::cos(proposed.rotation), s = std::sin(proposed.rotation);
    // The corner at (-w/2, -h/2) turned with the item; the opposite one is its negation.
    const double cornerX = -proposed.w / 2 * c + proposed.h / 2 * s;
    const double cornerY = -proposed.w / 2 * s - proposed.h / 2 * c;
    auto pick = [threshold](double centre, double corner, double half, double* line) {
        const double tests[][2] = {
            {centre, 0},          {centre + corner, -half}, {centre - corner, -half}, {centre + corner, 0},
            {centre - corner, 0}, {centre + corner, half},  {centre - corner, half}};
        for (const auto& t : tests) {
            if (std::abs(t[0] - t[1]) < threshold) {
                *line = t[1];
                return t[1] - t[0];
            }
        }
        return 0.0;
    };
    snap.dx = pick(proposed.x, cornerX, sceneSize.width() / 2, &snap.lineX);
    snap.dy = pick(proposed.y, cornerY, sceneSize.height() / 2, &snap.lineY);
    return snap;
}

int toDegrees(double radians) {
    if (!std::isfinite(radians))
        return 0;
    const long degrees = std::lround(radians * 180.0 / kPi);
    return int(((degrees % 360) + 360) % 360);
}

} // namespace preview

// ---- ZyePreviewImpl ----

using namespace preview;

template <typename Host> ZyePreviewImpl<Host>::~ZyePreviewImpl() {
    if (m_grabbed)
        m_grabbed->Release();
}

template <typename Host> GsScene* ZyePreviewImpl<Host>::scene() const {
    ZyeGsView* view = host().view();
    return view ? view->scene() : nullptr;
}

template <typename Host> double ZyePreviewImpl<Host>::screenScale() const {
    ZyeGsView* view = host().view();
    return view ? double(host().previewRatio()) * view->zoom() : 1.0;
}

template <typename Host> QPointF ZyePreviewImpl<Host>::mapToScene(const QPointF& p) const {
    ZyeGsView* view = host().view();
    if (!view)
        return {};
    const gs_vec2 offset = view->preview_offset();
    const double ratio = host().previewRatio(), s = screenScale();
    if (!(s > 0))
        return {};
    return {(p.x() + offset.x) * ratio / s, (p.y() + offset.y) * ratio / s};
}

template <typename Host> GsItem* ZyePreviewImpl<Host>::selectableAt(const QPointF& q) const {
    SceneItems all(scene());
    for (auto it = all.top(); it != all.bottom(); ++it) {
        GsItem* item = *it;
        if (item->visible && item->selectable && contains(boxOf(item), q))
            return item; // the scene keeps its own reference
    }
    return nullptr;
}

template <typename Host> GsItem* ZyePreviewImpl<Host>::selectedAt(const QPointF& q) const {
    SceneItems all(scene());
    for (auto it = all.top(); it != all.bottom(); ++it) {
        GsItem* item = *it;
        if (item->visible && item->selected && contains(boxOf(item), q))
            return item;
    }
    return nullptr;
}

template <typename Host> int ZyePreviewImpl<Host>::handleUnder(const QPointF& q, GsItem** item) const {
    const double s = screenScale();
    SceneItems all(scene());
    for (auto it = all.top(); it != all.bottom(); ++it) {
        if (!(*it)->visible || !(*it)->selected)
            continue;
        const int handle = handleAt(boxOf(*it), q, s);
        if (handle >= 0) {
            if (item)
                *item = *it;
            return handle;
        }
    }
    return -1;
}

template <typename Host> void ZyePreviewImpl<Host>::updateHover(const QPointF& q) {
    SceneItems all(scene());
    GsItem* hit = nullptr;
    for (auto it = all.top(); it != all.bottom() && !hit; ++it) {
        if ((*it)->visible && (*it)->hoverable && contains(boxOf(*it), q))
            hit = *it;
    }
    for (GsItem* item : all.items())
        item->hovered = item == hit;
}

template <typename Host> void ZyePreviewImpl<Host>::updateCursor(const QPointF& q) {
    host().setPreviewCursor(handleUnder(q, nullptr) >= 0 ? Qt::CrossCursor : Qt::ArrowCursor);
}

template <typename Host> void ZyePreviewImpl<Host>::selectOnly(GsItem* chosen) {
    SceneItems all(scene());
    for (GsItem* item : all.items())
        item->selected = item == chosen && item->visible && item->selectable;
}

template <typename Host> void ZyePreviewImpl<Host>::setGrabbed(GsItem* item) {
    if (item)
        item->AddRef();
    if (m_grabbed)
        m_grabbed->Release();
    m_grabbed = item;
}

template <typename Host> void ZyePreviewImpl<Host>::clearClamps() {
    if (ZyeGsView* view = host().view()) {
        view->SetClampX(float(kNaN));
        view->SetClampY(float(kNaN));
    }
}

template <typename Host> std::vector<PreviewItem*> ZyePreviewImpl<Host>::selectedItems() const {
    std::vector<PreviewItem*> out;
    SceneItems all(scene());
    for (GsItem* item : all.items()) {
        auto* preview = dynamic_cast<PreviewItem*>(item);
        if (preview && preview->visible && preview->selected) {
            preview->AddRef();
            out.push_back(preview);
        }
    }
    return out;
}

template <typename Host>
void ZyePreviewImpl<Host>::previewPress(const QPointF& p, Qt::MouseButton button,
                                        Qt::KeyboardModifiers modifiers) {
    Q_UNUSED(modifiers);
    if (button != Qt::LeftButton || !scene())
        return;
    const QPointF q = mapToScene(p);
    m_pressed = true;
    m_dragging = false;
    GsItem* item = nullptr;
    const int handle = handleUnder(q, &item);
    if (handle >= 0) {
        const Box box = boxOf(item);
        setGrabbed(item);
        m_handle = handle;
        m_anchor = anchorPoint(box, handle);
        m_ratio = box.h > 0 ? box.w / box.h : 1.0;
    } else {
        setGrabbed(nullptr);
        m_handle = HandleNone;
    }
    m_pressPoint = q;
    m_offset = QPointF();
    m_unchanged = true;
    LOGD("mouseLeftPressed: %s", qPrintable(pointText(q)));
}

template <typename Host>
void ZyePreviewImpl<Host>::previewMove(const QPointF& p, Qt::MouseButtons buttons,
                                       Qt::KeyboardModifiers modifiers) {
    Q_UNUSED(buttons);
    if (!scene())
        return;
    const QPointF q = mapToScene(p);
    if (!m_pressed) {
        updateHover(q);
        updateCursor(q);
        return;
    }
    if (!m_dragging) {
        m_dragging = true;
        if (m_handle == HandleNone) {
            // Dragging an unselected item picks it alone; dragging one of a
            // selection moves them all; dragging empty space clears it.
            GsItem* hit = selectableAt(m_pressPoint);
            if (!hit || !hit->selected)
                selectOnly(hit);
            setGrabbed(hit);
        }
    }
    if (!m_grabbed)
        return;
    if (m_handle == HandleRotate)
        rotateTo(q);
    else if (m_handle != HandleNone)
        resizeTo(q, m_keepAspect || (modifiers & Qt::ControlModifier));
    else
        moveTo(q);
}

template <typename Host> void ZyePreviewImpl<Host>::rotateTo(const QPointF& q) {
    const Box box = boxOf(m_grabbed);
    const float angle = float(rotationFor(box, q, box.rotation));
    if (angle != m_grabbed->rotation) {
        m_grabbed->rotation = angle;
        m_unchanged = false;
    }
}

template <typename Host> void ZyePreviewImpl<Host>::resizeTo(const QPointF& q, bool keepAspect) {
    const Box box = boxOf(m_grabbed);
    auto* subtitle = dynamic_cast<SubtitlePreviewItem*>(m_grabbed);
    const QSizeF minimum = subtitle ? subtitle->extent() : QSizeF();
    const Box next = resized(box, m_handle, m_anchor, q, m_ratio, keepAspect, minimum);
    if (next.w == box.w && next.h == box.h && next.x == box.x && next.y == box.y)
        return;
    m_grabbed->Resize(float(next.w), float(next.h));
    m_grabbed->MoveTo(float(next.x), float(next.y));
    if (subtitle)
        subtitle->refreshImage();
    m_unchanged = false;
}

template <typename Host> void ZyePreviewImpl<Host>::moveTo(const QPointF& q) {
    GsScene* s = scene();
    if (!m_grabbed->selected || !s)
        return;
    host().setPreviewCursor(Qt::SizeAllCursor);
    const QPointF step = q - m_pressPoint - m_offset;
    Box proposed = boxOf(m_grabbed);
    proposed.x += step.x();
    proposed.y += step.y();
    const double ratio = host().previewRatio() > 0 ? host().previewRatio() : 1.0;
    const Snap snap = snapMove(proposed, QSizeF(s->width(), s->height()), kSnapPixels / ratio);
    if (ZyeGsView* view = host().view()) {
        view->SetClampX(float(snap.lineX * ratio));
        view->SetClampY(float(snap.lineY * ratio));
    }
    // The grabbed item lands on whole pixels and the offset counts what it
    // really moved, so rounding never drifts it away from the pointer.
    const QPointF from(proposed.x - step.x(), proposed.y - step.y());
    const QPointF to(std::round(proposed.x + snap.dx), std::round(proposed.y + snap.dy));
    const QPointF applied = to - from;
    if (applied.isNull())
        return;
    SceneItems all(s);
    for (GsItem* item : all.items()) {
        if (!item->visible || !item->selected)
            continue;
        const gs_vec2 at = item->pos();
        item->MoveTo(float(std::round(at.x + applied.x())), float(std::round(at.y + applied.y())));
    }
    m_offset += applied;
    m_unchanged = false;
}

template <typename Host> void ZyePreviewImpl<Host>::publishSelection() {
    // Read every flag first: a track that selects its clip on the timeline
    // makes the timeline refresh every item's flag from its own selection.
    std::vector<std::pair<PreviewItem*, bool>> states;
    {
        SceneItems all(scene());
        for (GsItem* item : all.items()) {
            auto* preview = dynamic_cast<PreviewItem*>(item);
            if (preview && preview->visible && preview->track()) {
                preview->AddRef();
                states.emplace_back(preview, preview->selected);
            }
        }
    }
    for (auto& [item, selected] : states) {
        // Deselections first, so a timeline that keeps one selection ends on the new one.
        if (!selected && item->track())
            item->track()->previewSelectionChanged(false);
    }
    for (auto& [item, selected] : states) {
        if (selected && item->track())
            item->track()->previewSelectionChanged(true);
    }
    for (auto& [item, selected] : states) {
        item->selected = selected && item->visible;
        item->Release();
    }
}

template <typename Host> void ZyePreviewImpl<Host>::commitPlacements() {
    struct Placement {
        PreviewItem* item;
        QRectF rect;
        int degrees;
    };
    std::vector<Placement> placements;
    for (PreviewItem* item : selectedItems()) {
        const Box box = boxOf(item);
        placements.push_back({item, QRectF(box.x, box.y, box.w, box.h), toDegrees(box.rotation)});
    }
    if (placements.empty())
        return;
    // Each write places its item again from the clip, so every placement is
    // read before the first one is written.
    zya::UndoController* undo = zya::UndoController::instance();
    undo->beginMergeSequence(QStringLiteral("PreviewChange"));
    for (const Placement& p : placements) {
        if (PreviewTrack* track = p.item->track())
            track->commitPlacement(p.rect, p.degrees);
    }
    undo->endMergeSequence();
    for (const Placement& p : placements)
        p.item->Release();
}

template <typename Host> void ZyePreviewImpl<Host>::previewRelease(const QPointF& p, Qt::MouseButton button) {
    if (button != Qt::LeftButton || !m_pressed)
        return;
    const QPointF q = mapToScene(p);
    if (!m_dragging && m_handle == HandleNone)
        selectOnly(selectableAt(q)); // a click; on empty space it clears the selection
    m_pressed = false;
    m_dragging = false;
    setGrabbed(nullptr);
    m_handle = HandleNone;
    clearClamps();
    updateHover(q);
    updateCursor(q);
    publishSelection();
    if (!m_unchanged)
        commitPlacements();
    m_unchanged = true;
    if (auto* item = dynamic_cast<PreviewItem*>(selectedAt(q))) {
        item->AddRef(); // the panel it opens may reorder the scene
        item->editClip(1);
        item->Release();
    } else {
        host().previewCloseMenuRequested();
    }
}

template <typename Host>
void ZyePreviewImpl<Host>::previewDoubleClick(const QPointF& p, Qt::MouseButton button) {
    if (button != Qt::LeftButton || !scene())
        return;
    if (auto* item = dynamic_cast<PreviewItem*>(selectedAt(mapToScene(p)))) {
        item->AddRef();
        item->editClip(2);
        item->Release();
    } else {
        host().previewCloseMenuRequested();
    }
}

template <typename Host> void ZyePreviewImpl<Host>::previewLeave() {
    if (m_pressed)
        return;
    SceneItems all(scene());
    for (GsItem* item : all.items())
        item->hovered = false;
    host().setPreviewCursor(Qt::ArrowCursor);
}

template <typename Host> bool ZyePreviewImpl<Host>::previewKeyPress(int key, bool autoRepeat) {
    if (key == Qt::Key_Delete) {
        if (!autoRepeat)
            host().previewRemoveRequested();
        return true;
    }
    if (key == Qt::Key_Control) {
        if (!autoRepeat)
            LOGD("control press");
        m_keepAspect = true;
    }
    return false;
}

template <typename Host> bool ZyePreviewImpl<Host>::previewKeyRelease(int key) {
    if (key == Qt::Key_Control)
        m_keepAspect = false;
    return key == Qt::Key_Delete;
}

template <typename Host> void ZyePreviewImpl<Host>::editSelected() {
    for (PreviewItem* item : selectedItems()) {
        item->editClip(2);
        item->Release();
    }
}

template <typename Host> void ZyePreviewImpl<Host>::raiseSelected() {
    for (PreviewItem* item : selectedItems()) {
        item->raiseClip();
        item->Release();
    }
}

template <typename Host> void ZyePreviewImpl<Host>::lowerSelected() {
    for (PreviewItem* item : selectedItems()) {
        item->lowerClip();
        item->Release();
    }
}

template <typename Host> void ZyePreviewImpl<Host>::deleteSelected() {
    // The list holds its references: each deletion may hide or reorder items.
    for (PreviewItem* item : selectedItems()) {
        item->deleteClip();
        item->Release();
    }
}

template class ZyePreviewImpl<ZyePreviewWindow>;

// ---- ZyePreviewWindow ----

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
