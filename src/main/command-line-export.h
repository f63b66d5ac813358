// "korvel --export PROJECT OUTPUT [--fps N] [--size WxH] [--bitrate KBITS]
// [--speed RATE] [--srt]": opens the project without a window, runs the
// editor's own export and reports on the standard error stream. --srt also
// writes the timeline's subtitles beside the output (same name, ".srt").
#pragma once

#include <QString>
#include <QStringList>

struct ExportCommand {
    QString project;
    QString output;
    int fps = 30;
    int width = 0; // 0: the project's canvas
    int height = 0;
    int bitrate = 0; // kbit/s; 0 keeps constant quality
    double speed = 1.0;
    bool srt = false; // also write the subtitles as OUTPUT's name + ".srt"
};

// Reads the arguments after "--export"; false with the reason when they do not make a command.
bool parseExportCommand(const QStringList& arguments, ExportCommand* command, QString* error);

// Runs the export inside a running application object; the exit status:
// 0 written, 1 the export (or its .srt) failed, 2 bad arguments or project, 3 no graphics device.
int runExportCommand(const ExportCommand& command);
