#include "av-util.h"

#include "animated-webp.h"
#include "hw-decode.h"
#include "media.h"
#include "value/interface.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/time.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace ff::av {

void logError(const char* what, const char* path, int err) {
    LOGE("%s %s: %s", what, path ? path : "", errorText(err).c_str());
}

namespace {

std::atomic<bool> g_interruptAll {false};
// The end of the open under way on this thread (the callback runs on the
// thread that reads); zero when none.
thread_local int64_t t_openDeadlineUs = 0;

int interruptCallback(void* opaque) {
    auto* cancel = static_cast<std::atomic<bool>*>(opaque);
    if ((cancel && cancel->load()) || g_interruptAll.load())
        return 1;
    return t_openDeadlineUs != 0 && av_gettime_relative() > t_openDeadlineUs ? 1 : 0;
}

// Sets this thread's open deadline for as long as it lives.
struct OpenDeadline {
    OpenDeadline() { t_openDeadlineUs = av_gettime_relative() + int64_t(kOpenTimeLimitMs) * 1000; }
    ~OpenDeadline() { t_openDeadlineUs = 0; }
    bool passed() const { return av_gettime_relative() > t_openDeadlineUs; }
};

bool interrupted(const std::atomic<bool>* cancel) {
    return (cancel && cancel->load()) || g_interruptAll.load();
}

} // namespace

void interruptAll() { g_interruptAll = true; }

bool allInterrupted() { return g_interruptAll.load(); }

} // namespace ff::av

namespace ff {

void interruptAllMedia() { av::interruptAll(); }

namespace {
std::mutex g_failuresLock; // guards g_failures
std::vector<std::string> g_failures;
constexpr size_t kMaxFailures = 4096; // a list that no longer grows is still told by its size

void noteOpenFailure(const char* path) {
    std::lock_guard<std::mutex> hold(g_failuresLock);
    if (g_failures.size() < kMaxFailures)
        g_failures.emplace_back(path);
}
} // namespace

std::vector<std::string> mediaOpenFailures(size_t from) {
    std::lock_guard<std::mutex> hold(g_failuresLock);
    if (from >= g_failures.size())
        return {};
    return std::vector<std::string>(g_failures.begin() + std::ptrdiff_t(from), g_failures.end());
}

} // namespace ff

namespace ff::av {

FormatPtr openInput(const char* path, std::atomic<bool>* cancel) {
    if (!path || !*path)
        return nullptr;
    installLogHook();
    struct stat info {};
    if (::stat(path, &info) != 0) {
        LOGE("cannot open media %s: %s", path, std::strerror(errno));
        noteOpenFailure(path);
        return nullptr;
    }
    if (g_interruptAll.load())
        return nullptr;
    if (!S_ISREG(info.st_mode)) {
        LOGE("cannot open media %s: not a regular file (a pipe, a device or a folder)", path);
        noteOpenFailure(path);
        return nullptr;
    }
    // An animated WebP is read from the movie made of it.
    std::string converted;
    if (webp::isAnimation(path)) {
        converted = webp::movieOf(path, cancel);
        if (converted.empty()) {
            if (!interrupted(cancel))
                noteOpenFailure(path);
            return nullptr;
        }
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        return nullptr;
    raw->interrupt_callback.callback = interruptCallback;
    raw->interrupt_callback.opaque = cancel;
    OpenDeadline deadline;
    int err = avformat_open_input(&raw, converted.empty() ? path : converted.c_str(), nullptr, nullptr);
    if (err < 0) {
        // avformat_open_input frees the context on failure.
        if (deadline.passed()) {
            LOGE("cannot open media %s: no answer within %d s", path, kOpenTimeLimitMs / 1000);
            noteOpenFailure(path);
        } else if (!interrupted(cancel)) {
            logError("cannot open media", path, err);
            noteOpenFailure(path);
        }
        return nullptr;
    }
    FormatPtr format(raw);
    // Reading the stream information may decode a frame: not one whose
    // header claims more pixels than any decoder here may make.
    std::vector<AVDictionary*> options(format->nb_streams, nullptr);
    for (AVDictionary*& o : options)
        av_dict_set_int(&o, "max_pixels", kMaxFramePixels, 0);
    err = avformat_find_stream_info(format.get(), options.empty() ? nullptr : options.data());
    for (AVDictionary*& o : options)
        av_dict_free(&o);
    if (err < 0 || deadline.passed()) {
        if (deadline.passed())
            LOGE("cannot read the streams of %s: no answer within %d s", path, kOpenTimeLimitMs / 1000);
        else if (!interrupted(cancel))
            logError("cannot read the streams of", path, err);
        return nullptr;
    }
    return format;
}

bool hasAlphaLayer(const AVStream* stream) {
    // WebM keeps a VP8 or VP9 picture's alpha as a second stream of its own
    // beside each frame, and says so in the track's "alpha_mode".
    const AVCodecID id = stream->codecpar->codec_id;
    const AVDictionaryEntry* mode = av_dict_get(stream->metadata, "alpha_mode", nullptr, 0);
    return (id == AV_CODEC_ID_VP8 || id == AV_CODEC_ID_VP9) && mode && std::strcmp(mode->value, "1") == 0;
}

const AVCodec* decoderFor(const AVStream* stream) {
    // FFmpeg's own VP8 and VP9 decoders leave that alpha out; libvpx's
    // decode it.
    if (hasAlphaLayer(stream)) {
        const char* name = stream->codecpar->codec_id == AV_CODEC_ID_VP9 ? "libvpx-vp9" : "libvpx";
        if (const AVCodec* withAlpha = avcodec_find_decoder_by_name(name))
            return withAlpha;
        static std::atomic<bool> told {false};
        if (!told.exchange(true))
            LOGW("no %s decoder: the transparency of VP8/VP9 pictures is lost", name);
    }
    return avcodec_find_decoder(stream->codecpar->codec_id);
}

CodecPtr openDecoder(AVFormatContext* format, int streamIndex, const char* path, int threads, int threadType,
                     AVBufferRef* hwDevice) {
    installLogHook();
    if (!format || streamIndex < 0 || streamIndex >= int(format->nb_streams)) {
        LOGE("no stream %d in %s", streamIndex, path ? path : "");
        return nullptr;
    }
    AVStream* stream = format->streams[streamIndex];
    const AVCodec* codec = decoderFor(stream);
    if (!codec) {
        LOGE("no decoder for %s in %s", avcodec_get_name(stream->codecpar->codec_id), path ? path : "");
        return nullptr;
    }
    CodecPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx)
        return nullptr;
    int err = avcodec_parameters_to_context(ctx.get(), stream->codecpar);
    if (err < 0) {
        logError("bad codec parameters in", path, err);
        return nullptr;
    }
    ctx->pkt_timebase = stream->time_base;
    ctx->opaque = const_cast<char*>(namedPath(path));
    ctx->max_pixels = kMaxFramePixels;
    ctx->thread_count = threads;
    ctx->thread_type = threadType;
    if (hwDevice) {
        ctx->hw_device_ctx = av_buffer_ref(hwDevice);
        if (!ctx->hw_device_ctx)
            return nullptr;
        ctx->get_format = hw::chooseFormat;
    }
    err = avcodec_open2(ctx.get(), codec, nullptr);
    if (err < 0) {
        logError("cannot open the decoder for", path, err);
        return nullptr;
    }
    return ctx;
}

bool isStillPictureName(const char* path) {
    if (!path)
        return false;
    const char* dot = std::strrchr(path, '.');
    if (!dot || std::strchr(dot, '/'))
        return false;
    std::string ext;
    for (const char* p = dot + 1; *p; ++p)
        ext += char(std::tolower(static_cast<unsigned char>(*p)));
    return ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "bmp";
}

namespace {
// Whether an animation format's file (GIF, APNG) holds one picture only:
// its pictures are counted on a reader of its own, up to the second.
bool holdsOnePicture(const AVFormatContext* format, const char* path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path, format->iformat, nullptr) < 0)
        return false;
    FormatPtr reader(raw);
    ffmpeg::PacketPtr packet(av_packet_alloc());
    int pictures = 0;
    while (packet && pictures < 2 && av_read_frame(reader.get(), packet.get()) >= 0) {
        if (packet->stream_index == 0 && packet->size > 0)
            ++pictures;
        av_packet_unref(packet.get());
    }
    return pictures == 1;
}
} // namespace

bool isStillPicture(const AVFormatContext* format, const char* path) {
    if (!format || !format->iformat || !format->iformat->name)
        return isStillPictureName(path);
    // What the file holds decides, not its name: an animated PNG, or a movie
    // or a song renamed .png or .jpg, is not a still. One picture stream and
    // nothing else; GIF and APNG animate, so they are movies.
    if (format->nb_streams != 1)
        return false;
    const AVCodecParameters* par = format->streams[0]->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO)
        return false;
    if (par->codec_id == AV_CODEC_ID_GIF || par->codec_id == AV_CODEC_ID_APNG)
        return holdsOnePicture(format, path);
    // Image demuxers are "image2" and "<codec>_pipe"; their files hold one picture.
    const std::string name = format->iformat->name;
    if (name == "image2" || (name.size() > 5 && name.compare(name.size() - 5, 5, "_pipe") == 0))
        return true;
    // A photo that a raw stream reader took (a JPEG read as Motion JPEG)
    // is still one picture when its name says so.
    return isStillPictureName(path) &&
           (par->codec_id == AV_CODEC_ID_MJPEG || par->codec_id == AV_CODEC_ID_PNG || par->codec_id == AV_CODEC_ID_BMP);
}

int streamRotation(const AVStream* stream) {
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix)
        return 0;
    double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(angle))
        return 0;
    // The matrix gives the counter-clockwise turn; showing upright turns back.
    int degrees = int(std::lround(-angle)) % 360;
    if (degrees < 0)
        degrees += 360;
    return (degrees + 45) / 90 * 90 % 360;
}

Upright jpegUpright(const uint8_t* data, size_t size) {
    const auto u16 = [](const uint8_t* p, bool little) { return little ? p[0] | p[1] << 8 : p[0] << 8 | p[1]; };
    const auto u32 = [](const uint8_t* p, bool little) {
        return little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                      : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    };
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return {};
    // The segments before the picture data: a marker, its length, its bytes.
    size_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        if (data[at + 1] == 0xFF) { // fill before a marker
            ++at;
            continue;
        }
        const int marker = data[at + 1];
        const size_t length = size_t(u16(data + at + 2, false));
        if (marker == 0xDA || marker == 0xD9 || length < 2)
            break; // the picture data starts: no orientation before it
        const uint8_t* body = data + at + 4;
        const size_t bodySize = std::min(length - 2, size - (at + 4));
        if (marker == 0xE1 && bodySize >= 14 && std::memcmp(body, "Exif\0\0", 6) == 0) {
            const uint8_t* tiff = body + 6;
            const size_t tiffSize = bodySize - 6;
            const bool little = tiff[0] == 'I' && tiff[1] == 'I';
            if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
                return {};
            const uint32_t ifd = u32(tiff + 4, little);
            if (ifd > tiffSize || tiffSize - ifd < 2)
                return {};
            const int entries = u16(tiff + ifd, little);
            for (int i = 0; i < entries; ++i) {
                const size_t entry = ifd + 2 + size_t(i) * 12;
                if (entry + 12 > tiffSize)
                    return {};
                // Orientation: one SHORT, 1 to 8.
                if (u16(tiff + entry, little) != 0x0112 || u16(tiff + entry + 2, little) != 3)
                    continue;
                switch (u16(tiff + entry + 8, little)) {
                case 2: return {0, true};
                case 3: return {180, false};
                case 4: return {180, true};
                case 5: return {270, true};
                case 6: return {90, false};
                case 7: return {90, true};
                case 8: return {270, false};
                default: return {};
                }
            }
            return {};
        }
        at += 2 + length;
    }
    return {};
}

Upright jpegUpright(const char* path) {
    // The tag sits in the first segments, which are at most 64 KiB each.
    std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file)
        return {};
    std::vector<uint8_t> head(256 * 1024);
    const size_t got = std::fread(head.data(), 1, head.size(), file);
    std::fclose(file);
    return jpegUpright(head.data(), got);
}

} // namespace ff::av
