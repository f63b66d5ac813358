// FFmpeg helpers of the media code: opening inputs and decoders, error lines.
#pragma once

#include "ffmpeg/ffmpeg-owners.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <memory>
#include <string>

namespace ff::av {

// The owners and the error text every FFmpeg caller shares.
using FormatPtr = ffmpeg::InputPtr;
using ffmpeg::CodecPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using ffmpeg::SwrPtr;
using ffmpeg::SwsPtr;
using ffmpeg::errorText;
// Logs "<what> <path>: <FFmpeg's text>" as an error line.
void logError(const char* what, const char* path, int err);

// Opens the file and reads its stream information. Only regular files are
// opened (a pipe or a device could block the thread for good). A set cancel
// flag, interruptAll() or kOpenTimeLimitMs spent opening interrupt the
// reads. Null (with a log line) on failure.
FormatPtr openInput(const char* path, std::atomic<bool>* cancel);
constexpr int kOpenTimeLimitMs = 20000;
// The most pixels a picture or video frame may have (8192 x 8192): a header
// that claims more is refused before anything of that size is allocated.
constexpr int64_t kMaxFramePixels = 8192LL * 8192LL;
// The longest side of a picture the decoder hands out, the longest a
// texture takes: a longer one (a panorama 16000 wide) is scaled to it.
constexpr int kMaxPictureSide = 8192;
// From now on every read of every opened input is interrupted: the program
// is ending and no worker may hold it up.
void interruptAll();
// Whether interruptAll() was called.
bool allInterrupted();
// Opens a decoder for the stream. Null (with a log line) on failure.
// threads: 0 lets FFmpeg count the cores; threadType: FF_THREAD_FRAME
// and/or FF_THREAD_SLICE. A hardware device (a reference the decoder takes
// its own of) makes the decoder ask for its surfaces first.
CodecPtr openDecoder(AVFormatContext* format, int streamIndex, const char* path, int threads,
                     int threadType = FF_THREAD_FRAME | FF_THREAD_SLICE, AVBufferRef* hwDevice = nullptr);

// Sends FFmpeg's messages to the program's log (once; openInput and
// openDecoder call it).
void installLogHook();
// A copy of the path that lives as long as the process (up to a few
// thousand files; null after that), for a codec context's opaque: FFmpeg's
// lines from that context then name the file.
const char* namedPath(const char* path);

// True when the path names a still picture by its extension.
bool isStillPictureName(const char* path);
// True when the opened file is one still picture, whatever its name: read
// by one of FFmpeg's single-image demuxers (PNG, JPEG, TIFF, WebP, ...) and
// not an animation; a photo read as a one-frame Motion JPEG when its name
// says it is a picture.
bool isStillPicture(const AVFormatContext* format, const char* path);
// True when a VP8/VP9 stream carries an alpha layer (WebM's "alpha_mode").
bool hasAlphaLayer(const AVStream* stream);
// The decoder for a stream: the one that keeps its alpha where it has one.
const AVCodec* decoderFor(const AVStream* stream);
// Display rotation of a video stream in degrees clockwise: 0, 90, 180 or 270.
int streamRotation(const AVStream* stream);

// How a photo asks to be shown: mirrored left to right first when
// `mirrored`, then turned clockwise by `degrees` (0, 90, 180 or 270).
struct Upright {
    int degrees = 0;
    bool mirrored = false;
};
// The EXIF orientation of a JPEG file (cameras and phones store the sensor's
// picture as it was read and say in this tag how it was held). Upright as it
// stands for any other file, and for a damaged or missing tag.
Upright jpegUpright(const char* path);
// The same read from the first bytes of the file.
Upright jpegUpright(const uint8_t* data, size_t size);

} // namespace ff::av
