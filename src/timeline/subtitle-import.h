// Subtitle files onto the timeline and the timeline's subtitles out again:
// every cue of a .srt or .vtt file becomes one subtitle clip at its own time,
// all files of one import one undo step. GUI thread only (the clips are
// made through the model).
#pragma once

#include "timeline/subtitle-file.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>

class ClassifyItem;
class QMimeData;
class TimeLineTreeModel;

namespace subtitles {

// How many subtitle tracks one import may add for cues that overlap.
constexpr int kMaxOverlapTracks = 8;
// A cue that runs at most this many frames (100 ms) into the next one is
// shortened instead: a sloppy timing, not two lines meant to show together.
constexpr int64_t kTrimFrames = 3;

// True for the suffixes the import reads (".srt", ".vtt", any case).
bool isSubtitleFile(const QString& path);
// The local subtitle files among a drag's URLs.
QStringList subtitlePaths(const QMimeData* mime);

// The look of imported cues when no subtitle template is chosen: the size a
// fresh template window offers, in white, as players show subtitle files.
QFont defaultFont();
QColor defaultColor();

struct ImportReport {
    QString path;
    QString readError;   // not empty: the file was not read
    int created = 0;     // clips made
    int malformed = 0;   // entries that were no cue
    int overLimit = 0;   // cues past kMaxCues, or past the clips a project holds
    int cutTexts = 0;    // texts cut to kMaxTextChars
    int pastEnd = 0;     // cues starting at or after the timeline's 24 hours
    int noRoom = 0;      // overlapping cues for which no track was left
    bool windows1252 = false; // not UTF-8: read as Windows-1252
};

// Places cues at their times: on `track` (a subtitle track) where it is
// free, else on the next subtitle track that is free at that time, else on a
// new subtitle track (at most kMaxOverlapTracks per call), so cues that show
// together in the file show together here too; an overlap of at most
// kTrimFrames ends the earlier cue early instead. Clips already on the
// tracks are never moved or shortened. Records nothing when nothing
// is made; the caller opens the undo step that gathers several calls.
void placeCues(TimeLineTreeModel* model, ClassifyItem* track, const QList<Cue>& cues, const QFont& font,
               const QColor& color, ImportReport* report);

// Reads each file and places its cues; one undo step for them all.
QList<ImportReport> importFiles(TimeLineTreeModel* model, ClassifyItem* track, const QStringList& paths,
                                const QFont& font, const QColor& color);

// What the user should be told about an import, translated; empty when
// every cue of every file was placed.
QString importMessage(const QList<ImportReport>& reports);

// The cues of every subtitle clip on the timeline, in time order, timed
// for an export played playRate times as fast (2.0: at half the time).
QList<Cue> timelineCues(const TimeLineTreeModel& model, double playRate = 1.0);

// The path of the .srt beside an export: its base name with ".srt".
QString srtPathBeside(const QString& exportPath);
// Writes the timeline's subtitles beside the export. False with a reason
// when the file could not be written; true with *written false when there
// is no subtitle to write.
bool writeSubtitlesBeside(const TimeLineTreeModel& model, const QString& exportPath, double playRate,
                          bool* written, QString* error);

} // namespace subtitles
