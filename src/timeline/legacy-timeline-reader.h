// The reader of the older project layout: an object table ("ObjectMgr") and a
// track tree ("Tree") that names the objects by uid. Read only; the clips go
// in through the same model edits as the current layout's, so the track
// layout and the value limits apply to them too. GUI thread only.
#pragma once

#include "timeline/timeline-tree-model.h"

class QXmlStreamReader;

class LegacyTimelineReader {
public:
    // Media paths go through mapPath as they are read (a relative one is
    // taken from the project's folder); empty keeps them as written.
    explicit LegacyTimelineReader(TimeLineTreeModel& model,
                                  TimeLineTreeModel::PathMapper mapPath = TimeLineTreeModel::PathMapper());

    // Each reader stands on (or just before) its "ObjectMgr" and "Tree"
    // element. Unreadable objects, items and transitions are skipped with a
    // log line; false on a broken document (a cut-off object table reads
    // nothing).
    bool read(QXmlStreamReader& objectMgr, QXmlStreamReader& tree);

private:
    TimeLineTreeModel& m_model;
    TimeLineTreeModel::PathMapper m_mapPath;
};
