// "korvel --export PROJECT OUTPUT [--fps N] [--size WxH] [--bitrate KBITS]
// [--speed RATE] [--from FRAME] [--to FRAME] [--video-only | --audio-only]
// [--srt] [--keyint N] [--progress]": opens the project without a window, runs the editor's own
// export and reports on the standard error stream. --srt also writes the
// timeline's subtitles beside the output (same name, ".srt").
//
// --from and --to write a part of the whole export: its output frames
// [from, to) at --fps, the first at time 0, with the sound of the same
// instants (and --srt the subtitles of the part, timed from its start).
// --video-only leaves the sound out of a movie; --audio-only
// (or an .mp3, .wav or .flac output) writes the sound alone.
// --progress adds "progress DONE TOTAL" lines on the standard output, for
// a parent process that shows the export's progress. --keyint N
// puts key frames at output frames 0, N, 2N... and nowhere else, so that
// parts cut at multiples of N join into the whole (the farm render's use).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// Set by the editor on its background export: the editor's process id.
// Such an export ends when the editor does.
constexpr const char* kEditorPidVariable = "KORVEL_EDITOR_PID";

struct ExportCommand {
    QString project;
    QString output;
    int fps = 30;
    int width = 0; // 0: the project's canvas
    int height = 0;
    int bitrate = 0; // kbit/s; 0 keeps constant quality
    double speed = 1.0;
    bool srt = false; // also write the subtitles as OUTPUT's name + ".srt"
    int64_t from = 0; // output frames at fps
    int64_t to = -1;  // -1: to the timeline's end
    bool videoOnly = false;
    bool audioOnly = false; // set by the output's kind too
    bool progressLines = false; // "progress DONE TOTAL" lines on stdout
    int keyInterval = 0;    // >0: a key frame every keyInterval frames exactly, none at scene cuts
};

// "WxH" within the sizes an export can write.
bool parseExportSize(const QString& value, int* width, int* height);
// What an option of --export (and --farm) that takes a value accepts, for
// the message about a value it refuses; empty for an option it does not know.
QString exportOptionRange(const QString& option);

// The usage line the parser reports.
QString exportUsage();

// Reads the arguments after "--export"; false with the reason when they do not make a command.
bool parseExportCommand(const QStringList& arguments, ExportCommand* command, QString* error);

// Runs the export inside a running application object; the exit status:
// 0 written, 1 the export (or its .srt) failed, 2 bad arguments or project, 3 no graphics device.
int runExportCommand(const ExportCommand& command);
