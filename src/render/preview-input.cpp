#include "render/preview-input.h"

#include "render/preview-item.h"
#include "render/preview-window.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <cmath>
#include <limits>
#include <utility>

namespace {

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
    GsRequestFrame();
}

template <typename Host> void ZyePreviewImpl<Host>::updateCursor(const QPointF& q) {
    host().setPreviewCursor(handleUnder(q, nullptr) >= 0 ? Qt::CrossCursor : Qt::ArrowCursor);
}

template <typename Host> void ZyePreviewImpl<Host>::selectOnly(GsItem* chosen) {
    SceneItems all(scene());
    for (GsItem* item : all.items())
        item->selected = item == chosen && item->visible && item->selectable;
    GsRequestFrame();
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
        GsRequestFrame();
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
    GsRequestFrame();
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
    GsRequestFrame();
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
