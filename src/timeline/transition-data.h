// A transition between two neighbouring clips (either may be absent) and the
// undoable object that holds it. GUI thread only.
//
// The scene item derives from TransitionObject and overrides its hooks.
#pragma once

#include "undo/zy-object.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class SourceData;
class TimeLineTreeModel;

class TransitionData : public QObject {
    Q_OBJECT
public:
    TransitionData(SourceData* from, SourceData* to, const QString& name, double gap = 0.0);

    int64_t startframe = 0;
    int64_t endframe = 0;
    int64_t durationframe = 2000; // milliseconds
    QString name;
    int ratio = 5; // tenths before the cut

    SourceData* from() const { return m_from; }
    SourceData* to() const { return m_to; }
    double gap() const { return m_gap; }

    // Frames before and after the cut for the current duration and ratio,
    // within the clips: a clip's two transitions (in and out) share it, in
    // proportion to what each asks when both do not fit.
    int64_t framesBefore() const;
    int64_t framesAfter() const;
    // The longest duration (ms) at this ratio whose frames fit beside what
    // the clips' other transitions ask.
    int64_t longestFittingMs() const;
    // Recomputes startframe/endframe from the clips and tells them their
    // zones; the clips' other transitions follow.
    void updateFrames();
    // The model whose transitions share the clips; null out of one.
    void setModel(const TimeLineTreeModel* model) { m_model = model; }
    // Out of its model (deleted, undone): it no longer tells its clips
    // zones, which may belong to another transition by now.
    void setDetached(bool detached) { m_detached = detached; }

    // The map of the "trans" key.
    bg::ValueMap transMap() const;
    void applyTransMap(const bg::ValueMap& map);
    // direction: 0 without both clips, -1 when clicked is "from", else 1.
    bg::ValueMap panelMap(const SourceData* clicked) const;

signals:
    void sig_updateFromTransTime(int64_t duration);
    void sig_updateToTransTime(int64_t duration);
    void sig_framesChanged();

private:
    // The other transition of the clip `from` (one that ends in it) or of
    // the clip `to` (one that starts from it).
    const TransitionData* endingIn(const SourceData* clip) const;
    const TransitionData* startingFrom(const SourceData* clip) const;
    void updateOwnFrames();

    QPointer<SourceData> m_from;
    QPointer<SourceData> m_to;
    double m_gap;
    const TimeLineTreeModel* m_model = nullptr;
    bool m_detached = false;
};

class TransitionObject : public QObject, public zya::ZyObject {
    Q_OBJECT
public:
    explicit TransitionObject(TransitionData* data); // takes the data
    ~TransitionObject() override;

    // 1: into the model given as "model"; 2: out of it (its clips are told 0);
    // 3 "trans": the map is applied to the data.
    void onChange(int operation, const bg::Value& data) override;

    TransitionData* data() const { return m_data; }
    // The transition panel's edit: "type", "duration" (ms), "value" (ratio).
    void updateData(const bg::ValueMap& map, bool undoable = true);

protected:
    virtual void sceneAttach(bool shown) { Q_UNUSED(shown); }

private:
    TransitionData* m_data;
    TimeLineTreeModel* m_model = nullptr;
};
