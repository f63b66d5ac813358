// A transition as the timeline scene knows it. It draws nothing (the clips
// draw its zones); it spans the transition's frames and opens the
// transition's panel when one of its zones is clicked. GUI thread only.
#pragma once

#include "timeline/transition-data.h"

#include <QGraphicsItem>
#include <QPointer>

class SourceItem;
class TimeLineGraphicsScene;

class TransItem : public TransitionObject, public QGraphicsItem {
    Q_OBJECT
public:
    enum { Type = UserType + 3 };

    // Takes the data; enters the scene when the transition is added.
    TransItem(TransitionData* data, TimeLineGraphicsScene* scene);
    ~TransItem() override;

    int type() const override { return Type; }
    using TransitionObject::data; // the transition, not Qt's item data
    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    SourceItem* clickedItem() const { return m_clicked; }

public slots:
    // The start zone of the "to" clip, or the end zone of the "from" clip.
    void slot_transLeftClicked(int times, SourceItem* sourceItem);
    void slot_transRightClicked(int times, SourceItem* sourceItem);

protected:
    void sceneAttach(bool shown) override;

private:
    void place();
    void open(int times, SourceItem* sourceItem);

    QPointer<TimeLineGraphicsScene> m_home;
    QPointer<SourceItem> m_clicked;
    double m_width = 0.0;
};
