// The export's side of the movie writer: the export parameters, the
// writer's settings made from them, the writer calls with their failures
// turned into texts, and the time arithmetic that keeps picture and sound
// of an export in step.
//
// Plain functions; the push calls may run on the image and the audio
// thread at once (the writer interleaves them).
#pragma once

#include "media/media.h"
#include "movie/movie.h"

#include <QString>

#include <cstdint>

// What the export settings hand to the render manager; owned by the caller
// for the duration of the export.
struct MVParams {
    char filePath[512] = {0}; // UTF-8, zero-terminated
    int32_t width = 1920;
    int32_t height = 1080;
    uint8_t audioOnly = 0; // 1 for ".mp3", ".wav" and ".flac"
    int32_t frameRate = 25;
    int32_t keyFrameInterval = 25;
    int32_t reserved = 0;
    uint8_t gif = 0;
    int32_t channels = 2;
    int32_t bitRate = 0; // video kbit/s chosen by the user; 0 keeps constant quality
    double playRate = 1.0;
    // 1: the movie has no sound stream.
    uint8_t videoOnly = 0;
    // The part of the whole export to write: output frames [fromFrame,
    // toFrame) at frameRate (timeline units for sound only); toFrame -1
    // runs to the timeline's end. The part's first frame is at time 0.
    int64_t fromFrame = 0;
    int64_t toFrame = -1;
    // 1: key frames exactly every keyFrameInterval frames, none at scene cuts.
    uint8_t fixedKeyFrames = 0;
};

namespace exportfn {

// Timeline units per second: the timeline's frame is 1/30 s.
constexpr int kUnitsPerSecond = 30;
// The export sound's fixed format.
constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
// Frame rates an export may take: each output frame shows one timeline frame.
// The picture sizes the writer takes: even sides from 16 to 8192 pixels.
constexpr int kMinSide = 16;
constexpr int kMaxSide = 8192;
constexpr int kMinFrameRate = 1;
constexpr int kMaxFrameRate = kUnitsPerSecond;
// The metadata the writer gets a copy of.
constexpr const char* kMetadata = "title:https://korvel.video;comment:Korvel";

// Stores path in params.filePath; false (params untouched) when its UTF-8
// form does not fit the writer's buffer with its terminating zero.
bool setExportPath(MVParams& params, const QString& path);
// The path of params, or an empty string when the buffer holds no
// terminating zero or no text.
QString exportPath(const MVParams& params);
// The hidden name an export writes under beside `output` until the file
// is whole: ".<name>.korvel-<pid>.<extension>".
QString partialPath(const QString& output, qint64 pid);
// The subtitles that go beside an export: its name with ".srt".
QString srtPathBeside(const QString& exportPath);
// Empty when params can be exported, else why not.
QString checkParams(const MVParams& params);

// The writer's settings for params. The chosen bit rate goes along (0 keeps
// the writer's constant quality). metadata must outlive create_movie.
MVSettings movieSettings(const MVParams& params, const char* metadata = kMetadata);

// Opens the writer; null with *reason set when it cannot.
mv::Movie* openMovie(const MVParams& params, QString* reason);
// A picture of the output size; empty on success, else the writer's failure.
QString pushPicture(mv::Movie* movie, const uint8_t* pixels, int bytesPerRow, int height, int64_t ptsUs);
// A YUV 4:2:0 picture as mv::push_yuv420_frame takes it.
QString pushPlanes(mv::Movie* movie, const uint8_t* planes, int width, int height, int64_t ptsUs);
// A decoded picture's own YUV 4:2:0 planes, of the output size.
QString pushPlanes(mv::Movie* movie, const ff::VFrameCtx& frame, int64_t ptsUs);
// 16-bit stereo PCM; empty on success, else the writer's failure.
QString pushSound(mv::Movie* movie, const uint8_t* pcm, size_t byteCount, int64_t ptsUs);

// Output frame k at `rate` shows the timeline frame nearest to its own
// time: round(k * 30 / rate). Never a whole step per frame, so 25, 20 and 7
// fps neither drift from the sound nor outlast the timeline.
int64_t timelineFrameOf(int64_t k, int rate);
// How many output frames cover `total` timeline frames: those that start
// inside the timeline.
int64_t outputFrameCount(int64_t total, int rate);
// Nanoseconds of output frame k (truncated) and back.
int64_t frameTimestampNs(int64_t k, int rate);
int64_t frameOfTimestamp(int64_t timestampNs, int rate);
// Microseconds of output frame k and of timeline unit `index`, truncated.
int64_t picturePtsUs(int64_t k, int rate);
int64_t soundPtsUs(int64_t index, int64_t unitsPerSecond = kUnitsPerSecond);

} // namespace exportfn
