// The reader of the timeline section of a project file, the layout that
// TimelineSectionWriter writes. Clips, tracks and transitions go in through
// the model's edits, so the track layout applies as when the user makes them;
// values out of range are clamped or skipped with a log line. GUI thread only.
#pragma once

#include "timeline/timeline-tree-model.h"

#include <QSet>
#include <QString>

class QXmlStreamReader;
class TimelineReadPass;

class TimelineSectionReader {
public:
    // Maps each media path as it is read (the archive's relative paths to
    // files on disk); empty keeps the paths as written.
    using PathMapper = TimeLineTreeModel::PathMapper;
    explicit TimelineSectionReader(TimeLineTreeModel& model, PathMapper mapPath = PathMapper());

    // Reads the children of the current element until its end; false when
    // the document is broken (what was read before stays).
    bool read(QXmlStreamReader& reader);

private:
    void readClassify(QXmlStreamReader& reader, TimelineReadPass& pass);
    SourceData* readSourceItem(QXmlStreamReader& reader, ClassifyItem* track);
    void readTrans(QXmlStreamReader& reader);

    TimeLineTreeModel& m_model;
    PathMapper m_mapPath;
    QSet<QString> m_uuids; // of the model's clips: a uuid read twice gets a new one
};
