#include "animated-webp.h"

#include "av-util.h"
#include "ffmpeg/ffmpeg-owners.h"
#include "value/interface.h"
#include "value/paths.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/sha.h>
}

#include <webp/demux.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <memory>
#include <vector>

namespace ff::webp {

namespace {

using ffmpeg::errorText;

// Larger files are not read into memory: no animation a user places is
// near this size.
constexpr off_t kMaxFileBytes = 512LL * 1024 * 1024;
// The longest side the decoders take (larger ones FFmpeg refuses anyway).
constexpr uint32_t kMaxSide = 8192;
// A frame that claims no time is shown this long, as browsers show it.
constexpr int kZeroFrameMs = 100;
// Changes the cached names when the way they are written changes.
constexpr const char* kFormatTag = "webp-movie-1";

struct AnimDecoderFreer {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};
using AnimDecoderPtr = std::unique_ptr<WebPAnimDecoder, AnimDecoderFreer>;

// Asked to stop, or the program is ending.
bool cancelled(const std::atomic<bool>* cancel) { return (cancel && cancel->load()) || av::allInterrupted(); }

// One conversion at a time: the probe, the preview, the thumbnail and the
// waveform all open a new file at once, and the later ones find the movie
// the first one made instead of each making it again.
std::mutex g_converting;

bool nonEmptyFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

// A hex digest of what makes the file this file: its path, size and time.
std::string cacheKey(const char* path, const struct stat& st) {
    std::string text = std::string(kFormatTag) + '\n' + path + '\n' + std::to_string(st.st_size) + '\n' +
                       std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
    struct AVSHA* sha = av_sha_alloc();
    if (!sha)
        return {};
    uint8_t digest[20];
    av_sha_init(sha, 160);
    av_sha_update(sha, reinterpret_cast<const uint8_t*>(text.data()), unsigned(text.size()));
    av_sha_final(sha, digest);
    av_free(sha);
    static const char* hex = "0123456789abcdef";
    std::string key;
    for (uint8_t b : digest) {
        key += hex[b >> 4];
        key += hex[b & 15];
    }
    return key;
}

// Writes the decoder's frames as a movie (or a PNG for a single frame)
// into `file`. The empty text on success, else why not.
std::string writeMovie(WebPAnimDecoder* decoder, const WebPAnimInfo& info, const std::string& file,
                       std::atomic<bool>* cancel) {
    const bool single = info.frame_count == 1;
    AVFormatContext* rawOut = nullptr;
    int err = avformat_alloc_output_context2(&rawOut, nullptr, single ? "image2" : "matroska", file.c_str());
    if (err < 0)
        return "no writer: " + errorText(err);
    ffmpeg::OutputPtr out(rawOut);
    if (single)
        av_opt_set_int(out->priv_data, "update", 1, 0); // one file, no number in its name

    const AVCodec* codec = avcodec_find_encoder(single ? AV_CODEC_ID_PNG : AV_CODEC_ID_FFV1);
    if (!codec)
        return "no encoder for the converted frames";
    ffmpeg::CodecPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder)
        return "out of memory";
    encoder->width = int(info.canvas_width);
    encoder->height = int(info.canvas_height);
    encoder->pix_fmt = single ? AV_PIX_FMT_RGBA : AV_PIX_FMT_BGRA;
    encoder->time_base = {1, 1000}; // WebP times are milliseconds
    encoder->thread_count = 0;
    if (!single) {
        encoder->level = 3; // slices, which the encoder's threads share out
        av_opt_set_int(encoder->priv_data, "slices", 4, 0);
    }
    if (out->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((err = avcodec_open2(encoder.get(), codec, nullptr)) < 0)
        return "cannot open the encoder: " + errorText(err);
    AVStream* stream = avformat_new_stream(out.get(), nullptr);
    if (!stream)
        return "out of memory";
    stream->time_base = encoder->time_base;
    if ((err = avcodec_parameters_from_context(stream->codecpar, encoder.get())) < 0)
        return "cannot describe the stream: " + errorText(err);
    if (!(out->oformat->flags & AVFMT_NOFILE) &&
        (err = avio_open(&out->pb, file.c_str(), AVIO_FLAG_WRITE)) < 0)
        return "cannot write " + file + ": " + errorText(err);
    if ((err = avformat_write_header(out.get(), nullptr)) < 0)
        return "cannot write " + file + ": " + errorText(err);

    ffmpeg::FramePtr frame(av_frame_alloc());
    ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!frame || !packet)
        return "out of memory";
    frame->format = encoder->pix_fmt;
    frame->width = encoder->width;
    frame->height = encoder->height;
    if ((err = av_frame_get_buffer(frame.get(), 0)) < 0)
        return "out of memory";

    std::map<int64_t, int64_t> durations; // by the frames' times, until their packets are written
    const auto drain = [&]() -> std::string {
        for (;;) {
            const int r = avcodec_receive_packet(encoder.get(), packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return {};
            if (r < 0)
                return "cannot encode: " + errorText(r);
            // Intra frames only: each packet is its frame, and keeps its length.
            const auto length = durations.find(packet->pts);
            if (length != durations.end()) {
                packet->duration = length->second;
                durations.erase(length);
            }
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int w = av_interleaved_write_frame(out.get(), packet.get());
            if (w < 0)
                return "cannot write " + file + ": " + errorText(w);
        }
    };

    // Each frame is shown from the end of the one before for as long as it
    // says; libwebp hands out the times at which frames end.
    int64_t shownAt = 0;
    int endedAt = 0;
    const size_t rowBytes = size_t(info.canvas_width) * 4;
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        if (cancelled(cancel))
            return "cancelled";
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder, &pixels, &timestamp))
            return "a frame cannot be decoded";
        if ((err = av_frame_make_writable(frame.get())) < 0)
            return "out of memory";
        for (uint32_t y = 0; y < info.canvas_height; ++y)
            std::memcpy(frame->data[0] + ptrdiff_t(y) * frame->linesize[0], pixels + y * rowBytes, rowBytes);
        int64_t duration = int64_t(timestamp) - endedAt;
        if (duration <= 0)
            duration = kZeroFrameMs;
        endedAt = timestamp;
        frame->pts = shownAt;
        durations[shownAt] = duration;
        shownAt += duration;
        if ((err = avcodec_send_frame(encoder.get(), frame.get())) < 0)
            return "cannot encode: " + errorText(err);
        const std::string failure = drain();
        if (!failure.empty())
            return failure;
    }
    avcodec_send_frame(encoder.get(), nullptr);
    const std::string failure = drain();
    if (!failure.empty())
        return failure;
    const char* step = nullptr;
    if ((err = ffmpeg::finishOutput(std::move(out), &step)) < 0)
        return std::string(step ? step : "finishing") + " failed: " + errorText(err);
    return {};
}

} // namespace

bool isAnimation(const char* path) {
    // "RIFF" size "WEBP" "VP8X" size flags: the extended header's flags
    // carry the animation bit.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    uint8_t head[21] = {};
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    return got == ssize_t(sizeof head) && std::memcmp(head, "RIFF", 4) == 0 &&
           std::memcmp(head + 8, "WEBP", 4) == 0 && std::memcmp(head + 12, "VP8X", 4) == 0 &&
           (head[20] & 0x02) != 0;
}

std::string movieOf(const char* path, std::atomic<bool>* cancel) {
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        LOGE("cannot open the animation %s: %s", path, std::strerror(errno));
        return {};
    }
    if (st.st_size > kMaxFileBytes) {
        LOGE("cannot open the animation %s: larger than %lld MiB", path, (long long)(kMaxFileBytes >> 20));
        return {};
    }
    std::lock_guard<std::mutex> one(g_converting);
    const std::string key = cacheKey(path, st);
    const std::string folder = bg::cacheDirectory() + "/animations";
    if (key.empty() || !bg::makeDirectory(folder)) {
        LOGE("cannot open the animation %s: no cache folder %s", path, folder.c_str());
        return {};
    }
    for (const char* ending : {".mkv", ".png"}) {
        const std::string made = folder + '/' + key + ending;
        if (nonEmptyFile(made)) {
            ::utimensat(AT_FDCWD, made.c_str(), nullptr, 0); // in use: the cache's pruning keeps it
            return made;
        }
    }

    std::vector<uint8_t> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            LOGE("cannot read the animation %s", path);
            return {};
        }
    }
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return {};
    options.color_mode = MODE_BGRA;
    options.use_threads = 1;
    const WebPData data{bytes.data(), bytes.size()};
    AnimDecoderPtr decoder(WebPAnimDecoderNew(&data, &options));
    WebPAnimInfo info{};
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info) || info.frame_count == 0) {
        LOGE("cannot open the animation %s: libwebp cannot read it", path);
        return {};
    }
    if (info.canvas_width == 0 || info.canvas_height == 0 || info.canvas_width > kMaxSide ||
        info.canvas_height > kMaxSide) {
        LOGE("cannot open the animation %s: %ux%u is larger than %ux%u", path, info.canvas_width,
             info.canvas_height, kMaxSide, kMaxSide);
        return {};
    }
    if (info.frame_count == 1) {
        // One picture: PNG, the still picture it is. RGBA, as PNG takes it.
        options.color_mode = MODE_RGBA;
        decoder.reset(WebPAnimDecoderNew(&data, &options));
        if (!decoder)
            return {};
    }

    // Written under a name of its own, renamed when whole: a reader never
    // finds half a movie, and two threads converting at once both succeed.
    static std::atomic<unsigned> serial{0};
    const std::string made = folder + '/' + key + (info.frame_count == 1 ? ".png" : ".mkv");
    const std::string writing = folder + "/." + key + '.' + std::to_string(getpid()) + '-' +
                                std::to_string(serial.fetch_add(1)) +
                                (info.frame_count == 1 ? ".png" : ".mkv");
    const std::string failure = writeMovie(decoder.get(), info, writing, cancel);
    if (failure.empty() && ::rename(writing.c_str(), made.c_str()) == 0) {
        LOGD("animation %s: %u frames of %ux%u, converted to %s", path, info.frame_count, info.canvas_width,
             info.canvas_height, made.c_str());
        return made;
    }
    ::unlink(writing.c_str());
    if (!cancelled(cancel))
        LOGE("cannot open the animation %s: %s", path,
             failure.empty() ? std::strerror(errno) : failure.c_str());
    return {};
}

} // namespace ff::webp
