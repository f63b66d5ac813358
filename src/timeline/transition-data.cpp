#include "timeline/transition-data.h"

#include "timeline/source-data.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "values/value-init.h"

#include <algorithm>

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

} // namespace

// A transition never reaches past the clips it joins: longer than a clip,
// it would fade into whatever lies beyond (black) and the clip would never
// show whole.
int64_t TransitionData::framesBefore() const {
    const int64_t before = split(durationframe, ratio).first;
    return m_from ? std::min(before, m_from->lengthFrames()) : before;
}

int64_t TransitionData::framesAfter() const {
    const int64_t after = split(durationframe, ratio).second;
    return m_to ? std::min(after, m_to->lengthFrames()) : after;
}

void TransitionData::updateFrames() {
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
        m_data->updateFrames();
        sceneAttach(true);
        break;
    case OpRemoved:
        if (m_model)
            m_model->takeTransition(this);
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
    if (map.contains(tlkey::Type))
        m_data->name = QString::fromStdString(map.get(tlkey::Type).toStdString());
    if (map.contains(tlkey::Duration))
        m_data->durationframe = std::max<int64_t>(0, map.get(tlkey::Duration).toInt64(m_data->durationframe));
    if (map.contains(tlkey::Value))
        m_data->ratio = std::clamp(map.get(tlkey::Value).toInt(m_data->ratio), 0, 10);
    m_data->updateFrames();
    // The panel sends its values again when a field it confirmed with Enter
    // loses the focus: unchanged, they make no second undo step.
    const bg::ValueMap after = m_data->transMap();
    if (after == before && hasValue(tlkey::Trans))
        return;
    setValue(tlkey::Trans, bg::Value(after), undoable, true);
}
