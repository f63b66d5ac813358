// The timeline's clip scene: every clip is a SourceItem, every transition a
// TransItem. Mouse presses, drags and releases become clip moves and trims
// (one undo step "SourceMove" per drag); the scene keeps its own length and
// tells the property panels which item to show. x is time (50 x dpiScale
// pixels a frame), y the track row. GUI thread only.
#pragma once

#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-units.h"
#include "value/value.h"

#include <QGraphicsScene>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QPointF>
#include <QPointer>

class ClassifyItem;
class SourceAnchor;
class SourceData;
class SourceItem;
class TransItem;
class TransitionData;
class TransitionObject;

Q_DECLARE_METATYPE(MenuType)
Q_DECLARE_METATYPE(bg::ValueMap)

namespace tlscene {
constexpr const char* SeqSourceMove = "SourceMove"; // the undo step of a drag
constexpr const char* AutoAlignKey = "autoAlign";
} // namespace tlscene

class TimeLineGraphicsScene : public QGraphicsScene {
    Q_OBJECT
public:
    explicit TimeLineGraphicsScene(QObject* parent = nullptr);
    // Clips and transitions belong to the model and the undo history: they
    // are taken out of the scene, not deleted with it.
    ~TimeLineGraphicsScene() override;

    // Clips the model makes from now on are SourceItems in this scene.
    void setModel(TimeLineTreeModel* model);
    TimeLineTreeModel* model() const { return m_model; }

    // A transition with its item, added undoably like the model's own.
    TransItem* addTransition(SourceData* from, SourceData* to, const QString& name, int64_t durationMs = 2000,
                             int ratio = 5);

    bool autoAlign() const { return m_autoAlign; }
    double length() const { return m_length; }
    // The view's horizontal scale (1 without a view).
    double horizontalScale() const;
    // Snap guide: shown while a dragged clip is snapped, at its start frame.
    bool snapGuideShown() const { return m_guideShown; }
    int64_t snapGuideFrame() const { return m_guideFrame; }
    bool isPressing() const { return m_pressing; }
    const QGraphicsItem* menuItem() const { return m_menuItem; }

    // Open, refresh (clicked -1) or re-open an item's panel; a refresh for
    // an item whose panel is closed does nothing.
    void showMenu(const QGraphicsItem* item, MenuType type, int clicked, const bg::ValueMap& map);
    void closeMenuFor(const QGraphicsItem* item);

    // Recomputes the end of the last item, the scene width and sig_limitPosX.
    void updateLength();
    // The right edge of the clips and transitions.
    double itemsEnd() const;
    // A clip placed anew, its right edge now at `end`: the length follows
    // without going over every clip, unless the clip was the last one and
    // moved back.
    void clipPlaced(const SourceItem* item, double end);

    // Used by the items as they enter and leave the scene.
    void rememberClip(SourceItem* item);
    void forgetClip(SourceItem* item);
    void rememberTransition(TransItem* item);
    void forgetTransition(TransItem* item);
    const QList<SourceItem*>& clips() const { return m_clips; }

public slots:
    void slot_pressItems(QPointF scenePos);
    void slot_moveItems(QPointF scenePos);
    void slot_releaseItems(QPointF scenePos);
    void slot_closeMenu();
    void slot_setAutoAlign(bool align);
    // A forward play request: the scene grows to at least x.
    void slot_extendLength(double x);
    // The tree's rows were expanded, collapsed, added or removed: the scene
    // takes the rows' height and every clip its track's band (hidden while
    // its header is collapsed).
    void slot_sceneHeight(double height);

signals:
    void sig_limitPosX(double end);
    void sig_showMenu(MenuType type, int clicked, bg::ValueMap map);
    // The play head goes to a clicked frame (the view's slot_resetFrame).
    void sig_resetFrame(qint64 frame, int mode, bool notify);
    // For the clip's track preview item.
    void sig_clipSelectionChanged(SourceItem* item, bool selected);

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void drawForeground(QPainter* painter, const QRectF& rect) override;

private:
    QTransform viewTransform() const;
    void trimTo(double x);
    void moveClips(const QPointF& scenePos);
    // The group's shift moved onto the nearest clip edge in reach (the snap
    // guide shown there), or as it was; never before the start.
    double snapped(double shift, double earliest);
    // The kind's band: top of its header row to the top of its last shown track.
    void bandOf(uint32_t kind, double* top, double* bottom) const;
    ClassifyItem* trackAt(uint32_t kind, double y) const;
    void commitTrim();
    void commitMove();
    void recheckTransitions();
    void setLength(double end);
    void repaintViews();

    QPointer<TimeLineTreeModel> m_model;
    QList<SourceItem*> m_clips;
    QList<TransItem*> m_transitions;
    QHash<SourceItem*, QPointF> m_grab; // dragged clip -> pointer minus its position
    QPointF m_pressPos; // where the dragged clips were grabbed
    bool m_pressing = false;
    bool m_unmoved = true;
    SourceAnchor* m_anchor = nullptr; // the handle being dragged
    QPointF m_anchorGrab;
    double m_length = 0.0;
    mutable double m_itemsEnd = -1.0; // itemsEnd() as last worked out; -1 when not known
    mutable const SourceItem* m_endItem = nullptr; // the clip that ends there; null for a transition
    const QGraphicsItem* m_menuItem = nullptr; // identity only, never dereferenced
    bool m_autoAlign = false;
    bool m_guideShown = false;
    int64_t m_guideFrame = 0;
};
