#include "timeline/transition-data.h"

#include "timeline/source-data.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "values/value-init.h"

#include <algorithm>
#include <limits>

TransitionData::TransitionData(SourceData* from, SourceData* to, const QString& name, double gap)
    : name(name), m_from(from), m_to(to), m_gap(gap) {
    if (m_from) {
        connect(this, &TransitionData::sig_updateFromTransTime, m_from.data(), &SourceData::slot_updateFromTransTime);
        connect(m_from.data(), &SourceData::sig_sourceChanged, this, &TransitionData::updateFrames);
    }
    if (m_to) {
        connect(this, &TransitionData::sig_updateToTransTime, m_to.data(), &SourceData::slot_updateToTransTime);
        connect(m_to.data(), &SourceData::sig_sourceChanged, this, &TransitionData::updateFrames);
    }
    updateFrames();
}

namespace {

// The frames of a duration before and after the cut, as the ratio splits it.
std::pair<int64_t, int64_t> split(int64_t durationMs, int ratio) {
    const int64_t frames = durationMs / 33; // 33 ms a frame
    const int64_t before = int64_t(ratio * frames / 10.0);
    return {before, frames - before};
}

// What each of a clip's two transitions gets of it: what it asks, each at
// most the clip; when the two ask more than the clip together, shares in
// proportion, so they never overlap (the later one was hidden under the
// earlier and then jumped in half done).
int64_t share(int64_t asked, int64_t other, int64_t length) {
    asked = std::min(asked, length);
    other = std::min(other, length);
    if (asked + other <= length || asked + other <= 0)
        return asked;
    return asked * length / (asked + other);
}

} // namespace

const TransitionData* TransitionData::endingIn(const SourceData* clip) const {
    if (!m_model || !clip)
        return nullptr;
    for (const TransitionObject* t : m_model->transitions()) {
        if (t->data() != this && t->data()->to() == clip)
            return t->data();
    }
    return nullptr;
}

const TransitionData* TransitionData::startingFrom(const SourceData* clip) const {
    if (!m_model || !clip)
        return nullptr;
    for (const TransitionObject* t : m_model->transitions()) {
        if (t->data() != this && t->data()->from() == clip)
            return t->data();
    }
    return nullptr;
}

// A transition never reaches past the clips it joins: longer than a clip,
// it would fade into whatever lies beyond (black) and the clip would never
// show whole.
int64_t TransitionData::framesBefore() const {
    const int64_t before = split(durationframe, ratio).first;
    if (!m_from)
        return before;
    const TransitionData* other = endingIn(m_from);
    return share(before, other ? split(other->durationframe, other->ratio).second : 0, m_from->lengthFrames());
}

int64_t TransitionData::framesAfter() const {
    const int64_t after = split(durationframe, ratio).second;
    if (!m_to)
        return after;
    const TransitionData* other = startingFrom(m_to);
    return share(after, other ? split(other->durationframe, other->ratio).first : 0, m_to->lengthFrames());
}

int64_t TransitionData::longestFittingMs() const {
    // Frames this side may take, and the tenths of the duration it gets.
    int64_t frames = std::numeric_limits<int64_t>::max();
    const auto limit = [&frames](int64_t room, int tenths) {
        if (tenths > 0)
            frames = std::min(frames, std::max<int64_t>(0, room) * 10 / tenths);
    };
    if (m_from) {
        const TransitionData* other = endingIn(m_from);
        const int64_t taken = other ? std::min(split(other->durationframe, other->ratio).second, m_from->lengthFrames()) : 0;
        limit(m_from->lengthFrames() - taken, ratio);
    }
    if (m_to) {
        const TransitionData* other = startingFrom(m_to);
        const int64_t taken = other ? std::min(split(other->durationframe, other->ratio).first, m_to->lengthFrames()) : 0;
        limit(m_to->lengthFrames() - taken, 10 - ratio);
    }
    return frames == std::numeric_limits<int64_t>::max() ? durationframe : frames * 33;
}

void TransitionData::updateFrames() {
    updateOwnFrames();
    // The clips' other transitions share them with this one.
    for (const TransitionData* other : {endingIn(m_from), startingFrom(m_to)}) {
        if (other)
            const_cast<TransitionData*>(other)->updateOwnFrames();
    }
}

void TransitionData::updateOwnFrames() {
    if (m_detached)
        return;
    const int64_t before = framesBefore();
    const int64_t after = framesAfter();
    if (m_from && m_to) {
        startframe = m_from->endFrame() - before;
        endframe = m_to->startFrame() + after;
    } else if (m_to) {
        startframe = m_to->startFrame();
        endframe = m_to->startFrame() + after;
    } else if (m_from) {
        startframe = m_from->endFrame() - before;
        endframe = m_from->endFrame();
    }
    emit sig_updateFromTransTime(m_from ? before : 0);
    emit sig_updateToTransTime(m_to ? after : 0);
    emit sig_framesChanged();
}

bg::ValueMap TransitionData::transMap() const {
    bg::ValueMap map;
    map[tlkey::StartFrame] = bg::Value(startframe);
    map[tlkey::EndFrame] = bg::Value(endframe);
    map[tlkey::DurationFrame] = bg::Value(durationframe);
    map[tlkey::Name] = bg::Value(name.toStdString());
    map[tlkey::Ratio] = bg::Value(ratio);
    return map;
}

void TransitionData::applyTransMap(const bg::ValueMap& map) {
    durationframe = std::max<int64_t>(0, map.get(tlkey::DurationFrame).toInt64(durationframe));
    ratio = std::clamp(map.get(tlkey::Ratio).toInt(ratio), 0, 10);
    if (map.contains(tlkey::Name))
        name = QString::fromStdString(map.get(tlkey::Name).toStdString());
    updateFrames();
}

bg::ValueMap TransitionData::panelMap(const SourceData* clicked) const {
    bg::ValueMap map;
    int direction = 0;
    if (m_from && m_to)
        direction = clicked == m_from.data() ? -1 : 1;
    map[tlkey::Direction] = bg::Value(direction);
    map[tlkey::Type] = bg::Value(name.toStdString());
    map[tlkey::Duration] = bg::Value(durationframe);
    map[tlkey::Value] = bg::Value(ratio);
    return map;
}

TransitionObject::TransitionObject(TransitionData* data) : m_data(data) { m_data->setParent(this); }

TransitionObject::~TransitionObject() = default;

void TransitionObject::onChange(int operation, const bg::Value& data) {
    switch (operation) {
    case OpAdded:
        m_model = static_cast<TimeLineTreeModel*>(data.toMap().get(tlkey::Model).toPointer());
        if (m_model)
            m_model->insertTransition(this, data.toMap().get(tlkey::Col).toInt(-1));
        m_data->setModel(m_model);
        m_data->setDetached(false);
        m_data->updateFrames();
        sceneAttach(true);
        break;
    case OpRemoved:
        if (m_model)
            m_model->takeTransition(this);
        m_data->updateFrames(); // the clips' other transitions may take more of them now
        m_data->setModel(nullptr);
        m_data->setDetached(true);
        sceneAttach(false);
        // The clips no longer carry its zones.
        if (m_data->from())
            m_data->from()->slot_updateFromTransTime(0);
        if (m_data->to())
            m_data->to()->slot_updateToTransTime(0);
        break;
    case OpChanged:
        if (data.toStdString() == tlkey::Trans)
            m_data->applyTransMap(value(tlkey::Trans).toMap());
        break;
    default:
        break;
    }
}

void TransitionObject::updateData(const bg::ValueMap& map, bool undoable) {
    const bg::ValueMap before = m_data->transMap();
    const int64_t playing = (m_data->framesBefore() + m_data->framesAfter()) * 33;
    const int64_t durationBefore = m_data->durationframe;
    const int ratioBefore = m_data->ratio;
    if (map.contains(tlkey::Type))
        m_data->name = QString::fromStdString(map.get(tlkey::Type).toStdString());
    if (map.contains(tlkey::Duration))
        m_data->durationframe = std::max<int64_t>(0, map.get(tlkey::Duration).toInt64(m_data->durationframe));
    if (map.contains(tlkey::Value))
        m_data->ratio = std::clamp(map.get(tlkey::Value).toInt(m_data->ratio), 0, 10);
    // A length (or split) changed to more than its clips allow beside their
    // other transitions is cut to what fits, and the panel says so; never
    // below what it plays already. The panel sends every value with each
    // edit: a change of kind alone changes no length.
    if (m_data->durationframe != durationBefore || m_data->ratio != ratioBefore) {
        const int64_t fits = std::max(m_data->longestFittingMs(), playing);
        m_data->durationframe = std::min(m_data->durationframe, fits);
    }
    m_data->updateFrames();
    // The panel sends its values again when a field it confirmed with Enter
    // loses the focus: unchanged, they make no second undo step.
    const bg::ValueMap after = m_data->transMap();
    if (after == before && hasValue(tlkey::Trans))
        return;
    setValue(tlkey::Trans, bg::Value(after), undoable, true);
}
