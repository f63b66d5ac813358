// "korvel --farm PROJECT OUT --segments N --engine local|slurm [--work DIR]
// [--partition P] [--wait] [--fps N] [--size WxH] [--bitrate KBITS]
// [--keyint N]": one export split into N parts that run as separate jobs,
// on this machine or on a Slurm cluster, and joined into OUT.
//
// The parts are ranges of output frames whose starts fall on key frames:
// every part is written with key frames at exactly every --keyint frames
// (default: one a second) and the ranges start at multiples of it where
// the timeline is long enough, so the joined picture has its key frames
// where one whole export would. The jobs, written as shell scripts into
// the work folder (default: OUT's name + ".farm" beside it):
//   segment.sh   one part's picture ("korvel --export --from --to --video-only");
//                a Slurm job array, or its part's number as $1;
//   sound.sh     the whole sound, once, as WAV;
//   join.sh      after all of them: checks every part's frame count, joins
//                the pictures without re-encoding (ffmpeg's concat), encodes
//                the sound as AAC, writes OUT under a temporary name in
//                OUT's folder and renames it only when all went well.
// Each job leaves NAME.log and NAME.status (its exit status) in the work
// folder. A failed part fails the render: its log is printed and OUT is
// not written. Every machine must see the project, its media, the work
// folder, OUT's folder and this program at the same paths.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

struct FarmCommand {
    QString project;
    QString output;  // absolute
    QString work;    // absolute; empty until parsed
    QString engine;  // "local" or "slurm"
    QString partition;
    int segments = 0;
    bool wait = false;
    int fps = 30;
    QString size; // "WxH", empty for the project's canvas
    int bitrate = 0;
    int keyInterval = 0; // 0: fps
};

QString farmUsage();

// Reads the arguments after "--farm"; false with the reason when they do not make a command.
bool parseFarmCommand(const QStringList& arguments, FarmCommand* command, QString* error);

// The parts' bounds: segments + 1 output frame numbers from 0 to frames.
// The inner ones are multiples of keyInterval when every part can hold at
// least one interval, otherwise an even split. Empty when segments is
// below 1 or above frames.
QVector<int64_t> farmBounds(int64_t frames, int segments, int keyInterval);

// Runs the render inside a running application object (which opens the
// project to count its frames); the exit status: 0 written (or, for Slurm
// without --wait, submitted), 1 a job failed, 2 bad arguments or project,
// 3 no graphics device, 128 + signal when stopped.
int runFarmCommand(const FarmCommand& command);
