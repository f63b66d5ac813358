// The writer of the timeline section of a project file: a "classify" element
// per track (headers with row -1, added tracks with their row) holding its
// clips, then one "Trans" element with the transitions. GUI thread only.
#pragma once

#include "timeline/timeline-tree-model.h"

class QXmlStreamWriter;

class TimelineSectionWriter {
public:
    // Maps each clip's media path as it is written (the archive's relative
    // paths); empty writes the paths as they are.
    using PathMapper = TimeLineTreeModel::PathMapper;
    explicit TimelineSectionWriter(const TimeLineTreeModel& model, PathMapper mapPath = PathMapper());

    // Writes into the element the writer has open.
    void write(QXmlStreamWriter& writer) const;

private:
    const TimeLineTreeModel& m_model;
    PathMapper m_mapPath;
};
