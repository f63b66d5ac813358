#include "timeline/timeline-tree-view.h"

#include "timeline/classify-item-delegate.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"

#include <QHeaderView>
#include <QMouseEvent>

#include <algorithm>

namespace {
// Length of a subtitle made from a template: five seconds.
constexpr int64_t kSubtitleFrames = 150;
} // namespace

TimeLineTreeView::TimeLineTreeView(QWidget* parent)
    : QTreeView(parent), m_model(new TimeLineTreeModel(this)), m_delegate(new ClassifyItemDelegate(this)) {
    setModel(m_model);
    setItemDelegate(m_delegate);
    setExpandsOnDoubleClick(false);
    setHeaderHidden(true);
    // Headers and their tracks start at the same x: the delegate draws at fixed offsets.
    setIndentation(0);
    setRootIsDecorated(false);
    setUniformRowHeights(false);
    setMouseTracking(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Scrolled in pixels, as the clip bands beside the rows are.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(m_model, &TimeLineTreeModel::sig_opertorUi, this, &TimeLineTreeView::sig_opertorUi);
    // A new track opens its header (the model marks it expanded), also on undo and redo.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent) {
        if (parent.isValid())
            expand(parent);
        slot_sceneHeight(parent);
    });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex& parent) { slot_sceneHeight(parent); });
    connect(this, &QTreeView::expanded, this, &TimeLineTreeView::slot_sceneHeight);
    connect(this, &QTreeView::collapsed, this, &TimeLineTreeView::slot_sceneHeight);
    slot_sceneHeight(QModelIndex());
}

ClassifyItem* TimeLineTreeView::dropTrack(uint32_t kind, int viewportY) const {
    ClassifyItem* header = m_model->header(kind);
    if (!header || !timeline::isKnownKind(kind))
        return nullptr;
    ClassifyItem* pointed = m_model->itemFromIndex(indexAt(QPoint(1, viewportY)));
    if (pointed && pointed->kind() == kind)
        return pointed;
    // Below the kind's rows: its last track; above them: its header.
    const uint32_t pointedKind = pointed ? pointed->kind() : 0;
    if (pointed && pointedKind >= kind && !header->children().isEmpty())
        return header->children().last();
    return header;
}

void TimeLineTreeView::attachScene(TimeLineGraphicsScene* scene) {
    if (!scene)
        return;
    connect(this, &TimeLineTreeView::sig_sceneHeightChanged, scene, &TimeLineGraphicsScene::slot_sceneHeight,
            Qt::UniqueConnection);
    scene->slot_sceneHeight(m_sceneHeight);
}

void TimeLineTreeView::slot_createSourceItem(bg::ValueMap map, QColor color, QFont font) {
    const uint32_t kind = uint32_t(map.get("type").toInt());
    ClassifyItem* track = dropTrack(kind, map.get("posY").toInt());
    SourceData* clip = nullptr;
    if (track) {
        double x = map.get("posX").toDouble();
        if (kind != SourceDub)
            x -= 50.0; // the drop point lies inside the dragged clip, not at its start
        const int64_t start = std::max<int64_t>(0, timeline::pixelToFrame(std::max(0.0, x)));
        if (kind == SourceSubtitle)
            clip = m_model->createSubtitle(track, start, kSubtitleFrames,
                                           QString::fromStdString(map.get("content").toStdString()), font,
                                           color);
        else
            clip = m_model->createFromMaterial(track, QString::fromStdString(map.get("path").toStdString()),
                                               start);
    }
    emit sig_sourceCreated(clip);
}

void TimeLineTreeView::slot_sceneHeight(QModelIndex) {
    for (ClassifyItem* header : m_model->root()->children())
        header->setExpanded(isExpanded(m_model->indexOf(header)));
    m_sceneHeight = m_model->sceneHeight(m_scrollBarHeight);
    emit sig_sceneHeightChanged(m_sceneHeight);
}

void TimeLineTreeView::slot_updateSceneSize(int width, int height) {
    m_model->updateSceneSize(width, height);
}

void TimeLineTreeView::mouseMoveEvent(QMouseEvent* event) {
    m_delegate->setHoverPos(event->pos());
    viewport()->update();
    QTreeView::mouseMoveEvent(event);
}

void TimeLineTreeView::leaveEvent(QEvent* event) {
    m_delegate->setHoverPos(QPoint(-1, -1));
    viewport()->update();
    QTreeView::leaveEvent(event);
}
