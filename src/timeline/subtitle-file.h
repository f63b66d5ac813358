// Subtitle files: SubRip (.srt) and WebVTT (.vtt) read into timed cues, and
// cues written back as SubRip. Pure functions over bytes and texts, callable
// from any thread; the import onto the timeline is subtitle-import.h.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace subtitles {

// One cue: from startMs to endMs (milliseconds, endMs >= startMs), its text
// with lines separated by '\n'.
struct Cue {
    int64_t startMs = 0;
    int64_t endMs = 0;
    QString text;
};

// Bounds that keep a hostile or broken file from costing unbounded memory.
constexpr int kMaxCues = 10000;
constexpr int kMaxTextChars = 2000;          // per cue; longer texts are cut
constexpr int64_t kMaxFileBytes = 16 << 20;  // larger files are not read at all

struct ParseResult {
    QList<Cue> cues;     // in file order, at most kMaxCues
    int malformed = 0;   // blocks that were no cue: bad or missing times, no text
    int overLimit = 0;   // good cues past kMaxCues, not kept
    int cutTexts = 0;    // cues whose text was cut to kMaxTextChars
    bool webVtt = false; // the file began with "WEBVTT"
    bool windows1252 = false; // not UTF-8: read as Windows-1252 (Western European)
};

// Reads UTF-8 (with or without a byte-order mark) or UTF-16 with its mark;
// text that is not UTF-8 is read as Windows-1252, in which older Western
// subtitle files are written. LF, CRLF or CR line ends.
// A text starting with "WEBVTT" is read as WebVTT (cue settings ignored, tags
// removed, the common entities decoded), anything else as SubRip, whose text
// is kept as written but for its formatting tags (<i>, <b>, <u>, <s>,
// <font>) and {\an8}-style overrides. Never fails: what is not a cue is
// counted.
ParseResult parse(const QByteArray& bytes);

// "HH:MM:SS,mmm" (hours take more digits when they need them).
QString formatSrtTime(int64_t ms);

// The cues as SubRip: ordered by start (then end, stable), numbered from 1,
// CRLF line ends, UTF-8 without a byte-order mark. Empty lines inside a text
// are left out, since an empty line ends a cue.
QByteArray writeSrt(QList<Cue> cues);

// Reads and parses a file; false with a reason (for the user) when it cannot
// be read or is larger than kMaxFileBytes.
bool readFile(const QString& path, ParseResult* result, QString* error);
// Writes writeSrt(cues) to path through a temporary file renamed into place,
// so a failure never leaves a half-written file; false with the reason.
bool writeSrtFile(const QString& path, const QList<Cue>& cues, QString* error);

// Timeline frames (1/30 s) and milliseconds, both rounding to the nearest.
int64_t msToFrame(int64_t ms);
int64_t frameToMs(int64_t frame);

} // namespace subtitles
