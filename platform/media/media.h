// The media decoder on FFmpeg: probing, thumbnails, frame-exact video
// decoding, audio ranges and the audio mixer.
//
// Failures come back as null or empty results with a log line; nothing here
// throws. Every function may be called from any thread; an FFDecoder or an
// AudioMixer is used by one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ff {

// Sample layouts. Value 2 (S16: signed 16-bit little-endian, channels
// interleaved) is what the whole program uses.
enum SampleFormat : int32_t {
    SF_NONE = 0,
    SF_U8 = 1,
    SF_S16 = 2,
    SF_S32 = 3,
    SF_FLT = 4,
};
int bytesPerSample(SampleFormat format);

// A time as a fraction of a second: num / den.
struct Rational {
    int64_t num = 0;
    int64_t den = 1;
};
// num/den in microseconds, rounded toward minus infinity; 0 for a zero den.
int64_t toMicroseconds(Rational t);

struct StreamInfo {
    enum Kind { Other = 0, Video = 1, Audio = 2 };
    int index = -1;
    Kind kind = Other;
    // Video: size as decoded, and the display rotation in degrees (0, 90,
    // 180, 270, clockwise) that makes the picture upright.
    int width = 0;
    int height = 0;
    int rotation = 0;
    double frameRate = 0; // average frames per second; 0 when unknown
    // Audio.
    int sampleRate = 0;
    int channels = 0;
    int64_t durationUs = 0; // 0 when unknown
};

struct MovieCtx {
    int64_t durationUs = 0; // of the container; a still picture has 0
    int audioStreams = 0;
    int videoStreams = 0;
    int bestAudioStream = -1;
    int bestVideoStream = -1;
    bool stillPicture = false; // one picture (PNG, JPEG, BMP, TIFF, WebP, ...), whatever the name
    std::vector<StreamInfo> streams;

    const StreamInfo* stream(int index) const;
};

// Interrupts every read of every opened media file from now on, and every
// open to come: the program is ending and no worker may hold it up.
void interruptAllMedia();

// The media files that could not be opened (missing, not a file, unreadable,
// no answer) since the program started, in order; reads made to be
// interrupted are not counted. `from` skips the first ones: a caller notes
// mediaOpenFailures().size() and later asks what failed since.
std::vector<std::string> mediaOpenFailures(size_t from = 0);

// Sends FFmpeg's own messages (errors, warnings; its notes with debug logging)
// to the program's log. Opening media does it too; an encoder that runs
// first calls it.
void installMediaLog();

// Describes the file; null when it cannot be read as media. A set cancel
// flag ends a slow probe early (null result).
std::shared_ptr<MovieCtx> getMovieInfo(const char* pathUtf8, std::atomic<bool>* cancel);

// Why getMovieInfo gave nothing.
enum class MediaProblem {
    None,
    Unreadable, // no container FFmpeg can open
    NoStream,   // opened, but no picture or sound stream with a decoder
    TooLarge,   // its only pictures are larger than Korvel decodes (8192 x 8192)
    Cancelled,  // the cancel flag was set
};
// getMovieInfo that also tells why it failed (why may be null).
std::shared_ptr<MovieCtx> getMovieInfo(const char* pathUtf8, std::atomic<bool>* cancel, MediaProblem* why);
// Whether a first frame of the stream really decodes (a header can lie, and
// random bytes may look like a stream).
bool firstFrameDecodes(const char* pathUtf8, int streamIndex, std::atomic<bool>* cancel);

// A decoded picture: RGBA, 4 bytes a pixel, rows `stride` bytes apart; or,
// where the request allowed it (RequireVideoFrame::planes) and the source is
// YUV in a common layout, its planes as decoded (planes > 0), for the GPU to
// turn into RGB. Shared and read-only once returned.
struct VFrameCtx {
    int width = 0;
    int height = 0;
    int stride = 0; // RGBA: bytes between rows; planes: planeStride[0]
    int64_t ptsUs = 0; // when the picture appears, from the start of the media
    bool opaque = false; // the source has no transparency: every alpha is 255
    std::vector<uint8_t> pixels; // RGBA: stride * height bytes; planes: each plane at its offset
                                 // (empty when the planes are the decoder's own, see source)

    // YUV planes: 3 (Y, U, V) or 2 (Y, then U and V interleaved); 0 for RGBA.
    int planes = 0;
    int bits = 8; // 8: a byte a sample; 10: 16-bit little-endian words
    int chromaShiftX = 0, chromaShiftY = 0; // U and V are width >> x by height >> y, rounded up
    int planeStride[3] = {0, 0, 0};
    size_t planeOffset[3] = {0, 0, 0};
    int pixelFormat = -1; // FFmpeg's name for the layout (an AVPixelFormat)
    int matrix = 0;       // FFmpeg's name for the matrix (an AVColorSpace)
    float kr = 0.2126f, kb = 0.0722f; // the matrix's weights: Y' = kr R + (1 - kr - kb) G + kb B
    bool fullRange = false;

    const uint8_t* data() const { return pixels.data(); }
    const uint8_t* row(int y) const { return pixels.data() + size_t(y) * size_t(stride); }
    // Planes still in the decoder's picture, shared rather than copied: the
    // picture (held by source) is kept until this frame is refilled or freed.
    const uint8_t* planeAt[3] = {nullptr, nullptr, nullptr};
    std::shared_ptr<void> source;
    const uint8_t* plane(int i) const { return planeAt[i] ? planeAt[i] : pixels.data() + planeOffset[i]; }
};
using VFramePtr = std::shared_ptr<const VFrameCtx>;
// The picture as RGBA: planes are converted (a new picture), RGBA pictures
// come back as they are. Null, with a log line, when it cannot be converted.
VFramePtr rgbaFrame(const VFramePtr& frame);
// rgbaFrame that keeps its converter and fills its pictures again once no
// one holds them: a warm one allocates nothing. One thread at a time.
class RgbaFrames {
public:
    RgbaFrames();
    ~RgbaFrames();
    VFramePtr convert(const VFramePtr& frame);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Thumbnail request.
struct ImageRequest {
    double position = 0.2;  // fraction of the duration
    int64_t reserved1 = 0;
    int64_t reserved2 = 0;
    int32_t width = 100;    // the picture fits inside width x height
    int32_t height = 80;
    int32_t keepAspect = 1; // 0 stretches to exactly width x height
    int64_t reserved3 = 0;
};
VFramePtr getMovieImage(const char* pathUtf8, const ImageRequest& request, std::atomic<bool>* cancel);

// Video frame request: the picture on screen at `time`, scaled by
// scaleNum / scaleDen (1 / 1 gives the stream's own size). planes: 1 lets
// the answer be the source's YUV planes (see VFrameCtx), 0 asks for RGBA.
struct RequireVideoFrame {
    Rational time;
    int32_t scaleNum = 1;
    int32_t scaleDen = 1;
    int64_t planes = 0;
};

// Audio frame request: the samples of [start, end), converted.
struct RequireAudioFrame {
    Rational start;
    Rational end;
    SampleFormat format = SF_S16;
    int32_t sampleRate = 44100;
    int32_t channels = 2;
    int64_t reserved = 0;
};

struct AFrameCtx {
    SampleFormat format = SF_S16;
    int sampleRate = 0;
    int channels = 0;
    int64_t samples = 0;        // per channel
    std::vector<uint8_t> data;  // interleaved
};
using AFramePtr = std::shared_ptr<const AFrameCtx>;

// Hardware decoding of video through VA-API. Auto: each file's pictures are
// decoded on the GPU when a device opens and the file's first frame decodes
// there, else in software (one log line says why); a hardware decoder that
// fails later hands the file to software without losing the frame asked
// for. None: software always. Applies to decoders opened from then on; any
// thread may set it.
enum class HardwareDecoding { None, Auto };
void setHardwareDecoding(HardwareDecoding mode);
HardwareDecoding hardwareDecoding();

// What a video decoder's pictures are for. Both uses decode with FFmpeg's
// frame and slice threads: measured, frame threads also make a random frame
// come sooner, as it is decoded from its key frame on.
enum class DecodeUse {
    Scrubbing,  // the preview: any frame, soon after it is asked for
    Sequential, // an export: frame after frame, as many a second as possible
};

class DecoderImpl;

class FFDecoder {
public:
    FFDecoder();
    ~FFDecoder();
    FFDecoder(const FFDecoder&) = delete;
    FFDecoder& operator=(const FFDecoder&) = delete;

    // Opens one stream of the file (a video or an audio stream).
    bool open(const char* pathUtf8, int streamIndex, DecodeUse use = DecodeUse::Scrubbing);
    bool isOpened() const;
    void close();
    // Whether the video is being decoded on the GPU now.
    bool usesHardware() const;

    // The frame on screen at the requested time. Requests in order decode
    // forward; a step back or a jump far ahead seeks. Past the end, the last
    // frame. Null on failure or when the stream is not video.
    VFramePtr getVideoFrame(const RequireVideoFrame& request);
    // Exactly the samples of the range in the requested format, silence
    // where the range lies outside the media. Null when the stream is not audio.
    AFramePtr getAudioFrame(const RequireAudioFrame& request);
    // Compressed frames of the stream read since it was opened, those passed
    // on the way to a target and those read again after a seek included:
    // what a reader's requests cost.
    int64_t packetsRead() const;
    // When the last key frame shown at or before `toUs` (from the stream's
    // start) is shown: the frames from there to `toUs` decode without
    // another group of pictures. -1 when the file's index cannot tell.
    int64_t keyFrameShownByUs(int64_t toUs) const;

private:
    std::unique_ptr<DecoderImpl> m_impl;
};

// Receives one source's frames between AudioMixer::begin and end.
class PcmWriterBase {
public:
    virtual ~PcmWriterBase() = default;
    // Adds the frame at the start of the source's part of the block (later
    // writes follow on). volume: 128 unity, 0 silence, linear; above 128 louder.
    virtual bool write(const AFrameCtx& frame, int volume) = 0;
};

struct PcmBuffer {
    const uint8_t* data = nullptr; // valid until the next begin() or the mixer's end
    size_t size = 0;               // bytes
    int64_t samples = 0;           // per channel
};

class AudioMixer {
public:
    AudioMixer(int sampleRate, int channels, SampleFormat format);
    ~AudioMixer();

    // Opens a block for [from, to).
    bool begin(Rational from, Rational to);
    // The writer of one source (any key that tells sources apart); valid
    // until end().
    PcmWriterBase* getBuffer(const void* key);
    // Mixes every source into one block of exactly the range's length.
    PcmBuffer end();
    void getFormat(int* sampleRate, int* channels, SampleFormat* format) const;

private:
    class SourceBuffer;
    int m_rate;
    int m_channels;
    SampleFormat m_format;
    int64_t m_blockSamples = 0;
    bool m_open = false;
    std::map<const void*, std::unique_ptr<SourceBuffer>> m_sources;
    std::vector<int64_t> m_sum; // sample x volume, per channel value
    std::vector<uint8_t> m_out;
};

} // namespace ff
