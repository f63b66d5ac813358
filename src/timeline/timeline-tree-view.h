// The left column of the timeline: the track tree on its own model, painted
// by ClassifyItemDelegate. Rows line up with the clip bands of the timeline
// scene, so the view reports the scene height they add up to. GUI thread only.
#pragma once

#include "value/value.h"

#include <QColor>
#include <QFont>
#include <QModelIndex>
#include <QTreeView>

class ClassifyItemDelegate;
class SourceData;
class TimeLineGraphicsScene;
class TimeLineTreeModel;

class TimeLineTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit TimeLineTreeView(QWidget* parent = nullptr);

    TimeLineTreeModel* treeModel() const { return m_model; }
    ClassifyItemDelegate* classifyDelegate() const { return m_delegate; }
    double sceneHeight() const { return m_sceneHeight; }
    // The clip view's horizontal scroll bar, taken off the scene height.
    void setScrollBarHeight(double height) { m_scrollBarHeight = height; }

    // The clip scene follows the rows: its height and its clips' bands and
    // visibility are updated on every expand, collapse, add and remove.
    void attachScene(TimeLineGraphicsScene* scene);

    // The track a drop at viewport y lands on for a material of this kind.
    class ClassifyItem* dropTrack(uint32_t kind, int viewportY) const;

public slots:
    // A clip from a drop, a recording or a subtitle template: map "path",
    // "posY" (viewport y), "posX" (scene x), "type" (kind), optionally "content".
    void slot_createSourceItem(bg::ValueMap map, QColor color, QFont font);
    // The rows' expanded flags from the tree, then the scene height.
    void slot_sceneHeight(QModelIndex index);
    // A new picture size for the tracks (the model also hears it from the render manager).
    void slot_updateSceneSize(int width, int height);

signals:
    void sig_opertorUi(bool playing, bool recording);
    void sig_sceneHeightChanged(double height);
    // The clip slot_createSourceItem made; null when the material cannot be used.
    void sig_sourceCreated(SourceData* clip);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    TimeLineTreeModel* m_model;
    ClassifyItemDelegate* m_delegate;
    double m_sceneHeight = 0.0;
    double m_scrollBarHeight = 0.0;
};
