// The writer of the timeline section of a project file: a "classify" element
// per track (headers with row -1, added tracks with their row) holding its
// clips, then one "Trans" element with the transitions. GUI thread only.
#pragma once

#include "timeline/timeline-tree-model.h"

class QXmlStreamWriter;

class TimelineSectionWriter {
public:
    // Maps each clip's media path as it is written (the archive's relative
    // paths); empty writes the paths as they are. besidePath gives the path
    // relative to the project where the media lie in its folder (else
    // empty), written beside it so that a copy of the folder uses its own
    // copies of them.
    using PathMapper = TimeLineTreeModel::PathMapper;
    explicit TimelineSectionWriter(const TimeLineTreeModel& model, PathMapper mapPath = PathMapper(),
                                   PathMapper besidePath = PathMapper());

    // Writes into the element the writer has open.
    void write(QXmlStreamWriter& writer) const;

private:
    const TimeLineTreeModel& m_model;
    PathMapper m_mapPath;
    PathMapper m_besidePath;
};
