// The movie writer on FFmpeg: encodes RGBA pictures and 16-bit stereo PCM
// into .mp4 (H.264 + AAC), .avi (MPEG-4 Part 2 + MP3), .mp3, .wav (16-bit
// PCM) or .flac files. A movie may also be written without its sound.
//
// Pictures and sound may be pushed from two threads at once; the writer
// interleaves them. Failures are logged and reported by results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The settings record, in the layout the program fills.
struct MVSettings {
    int32_t width = 1920;           // 0
    int32_t height = 1080;          // 4
    uint8_t audioOnly = 0;          // 8
    uint8_t pad0[3] = {0, 0, 0};    // 9
    int32_t fixedKeyFrames = 0;     // 12 1: key frames exactly every keyFrameInterval, none at scene cuts
    int32_t frameRate = 25;         // 16 frames per second
    int32_t keyFrameInterval = 25;  // 20 frames between key frames
    int32_t bitRate = 0;            // 24 kbit/s; 0 = constant quality
    uint8_t gif = 0;                // 28
    uint8_t pad1[3] = {0, 0, 0};    // 29
    int32_t noSound = 0;            // 32 1: pictures only, no sound stream
    int32_t audioChannels = 2;      // 36
    int64_t audioSampleRate = 44100; // 40
    double playRate = 1.0;          // 48 the file plays this many times faster
    int64_t reserved2 = 0;          // 56
    int64_t reserved3 = 0;          // 64
    const char* metadata = nullptr; // 72 "title:<text>;comment:<text>"; copied by create_movie
};
static_assert(offsetof(MVSettings, fixedKeyFrames) == 12, "MVSettings layout");
static_assert(offsetof(MVSettings, frameRate) == 16, "MVSettings layout");
static_assert(offsetof(MVSettings, bitRate) == 24, "MVSettings layout");
static_assert(offsetof(MVSettings, gif) == 28, "MVSettings layout");
static_assert(offsetof(MVSettings, audioSampleRate) == 40, "MVSettings layout");
static_assert(offsetof(MVSettings, playRate) == 48, "MVSettings layout");
static_assert(offsetof(MVSettings, metadata) == 72, "MVSettings layout");

namespace mv {

struct Movie;

// Timestamps are microseconds when ptsType is 1 (the only type the program uses).
enum PtsType { PTS_MICROSECONDS = 1 };

// Opens the file for writing; the container follows the extension. Null,
// with a log line saying why, on any failure.
Movie* create_movie(const MVSettings* settings, const char* pathUtf8);
// Why the last create_movie of this thread that failed to open or start
// its file failed, in the system's words ("Read-only file system"); empty
// when that is not known.
std::string create_movie_failure();
// One RGBA picture of the settings' size: byteCount = bytesPerRow * height.
// Returns 0 on success, a negative number on failure.
int push_image_frame(Movie* movie, const uint8_t* pixels, size_t byteCount, int bytesPerRow, int64_t pts,
                     int ptsType);
// The matrix of the YUV 4:2:0 pictures push_yuv420_frame takes: 709 or 601
// (limited range, as the stream is tagged); 0 when the movie takes RGBA only.
int picture_matrix(const Movie* movie);
// One YUV 4:2:0 picture of the settings' size with picture_matrix's matrix:
// the Y plane (width bytes a row), then U and V (width / 2 a row), without
// gaps; byteCount = width * height * 3 / 2. 0 on success, negative on failure.
int push_yuv420_frame(Movie* movie, const uint8_t* planes, size_t byteCount, int64_t pts, int ptsType);
// The same picture as three planes wherever they are: Y (width x height
// bytes), U and V (width / 2 x height / 2), rows `strides` bytes apart.
int push_yuv420_planes(Movie* movie, const uint8_t* const planes[3], const int strides[3], int64_t pts,
                       int ptsType);
// 16-bit signed stereo PCM at 44100 Hz, interleaved. Ignored (0) by a
// movie without sound.
int push_pcm_frame(Movie* movie, const uint8_t* pcm, size_t byteCount, int64_t pts, int ptsType);
// Flushes the encoders, writes the trailer, closes the file and frees the
// handle; *movie becomes null. True when the whole file reached the disk.
// False, with a log line, when anything failed on the way (a packet, the
// last packets, the trailer or the close, as on a full disk); the
// incomplete file is then removed. False for no movie.
bool stop_movie(Movie** movie);

} // namespace mv
