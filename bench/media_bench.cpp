// Decoder speed on a 1080p30 H.264 file with a key frame every 60 frames:
// (a) sequential decode beside `ffmpeg -benchmark` decoding the same file to
// the same output, both measured in this run: YUV planes as decoded (what
// preview and export hand to the GPU) against ffmpeg to yuv420p, and RGBA
// against ffmpeg's conversion with the same flags; (b) random access
// latency, for both uses of a decoder (preview scrubbing, export), beside
// FFmpeg's own seek and decode of the same frames as the floor; (c)
// thumbnail time. Before any time is printed, frames of each output and use
// are checked against ffmpeg's own decode of them.
//
//   media_bench [folder]     (the test file is made there once; default /tmp)
#include "media/media.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The decoder's conversion to RGBA, for ffmpeg to do the same.
constexpr const char* kSwsFlags = "bicubic+accurate_rnd+full_chroma_int";
constexpr int kFrames = 300;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

std::string load() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        std::array<char, 65536> buffer {};
        size_t n;
        while ((n = fread(buffer.data(), 1, buffer.size(), p)) > 0)
            out.append(buffer.data(), n);
        pclose(p);
    }
    return out;
}

// Wall seconds that `ffmpeg -benchmark` reports for its decode (rtime), or
// a negative number when it did not run.
double ffmpegSeconds(const std::string& file, const std::string& outputArgs) {
    const std::string text =
        output("ffmpeg -nostdin -hide_banner -nostats -benchmark -i '" + file + "' " + outputArgs + " -f null - 2>&1");
    const size_t at = text.find("rtime=");
    return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + 6);
}

// Largest difference between frame n as we decode it and as ffmpeg does:
// RGBA channels, or the Y, U and V samples of the planes.
int difference(ff::FFDecoder& decoder, const std::string& file, int n, bool planes) {
    ff::RequireVideoFrame request;
    request.time = {n, 30};
    request.planes = planes ? 1 : 0;
    ff::VFramePtr ours = decoder.getVideoFrame(request);
    if (planes) {
        const std::string theirs = output("ffmpeg -nostdin -v error -i '" + file + "' -vf 'select=eq(n\\," +
                                          std::to_string(n) + ")' -frames:v 1 -f rawvideo -pix_fmt yuv420p -");
        if (!ours || ours->planes != 3)
            return 1000;
        const int w[3] = {ours->width, (ours->width + 1) / 2, (ours->width + 1) / 2};
        const int h[3] = {ours->height, (ours->height + 1) / 2, (ours->height + 1) / 2};
        if (theirs.size() != size_t(w[0]) * h[0] + 2 * size_t(w[1]) * h[1])
            return 1000;
        int largest = 0;
        size_t at = 0;
        for (int p = 0; p < 3; ++p) {
            for (int y = 0; y < h[p]; ++y) {
                const uint8_t* a = ours->plane(p) + size_t(y) * ours->planeStride[p];
                const auto* b = reinterpret_cast<const uint8_t*>(theirs.data()) + at + size_t(y) * w[p];
                for (int x = 0; x < w[p]; ++x)
                    largest = std::max(largest, std::abs(int(a[x]) - int(b[x])));
            }
            at += size_t(w[p]) * h[p];
        }
        return largest;
    }
    const std::string theirs =
        output("ffmpeg -nostdin -v error -i '" + file + "' -vf 'select=eq(n\\," + std::to_string(n) +
               "),scale=flags=" + kSwsFlags + "' -frames:v 1 -f rawvideo -pix_fmt rgba -");
    if (!ours || theirs.size() != size_t(ours->width) * ours->height * 4)
        return 1000;
    int largest = 0;
    for (int y = 0; y < ours->height; ++y) {
        const uint8_t* a = ours->row(y);
        const auto* b = reinterpret_cast<const uint8_t*>(theirs.data()) + size_t(y) * ours->width * 4;
        for (int i = 0; i < ours->width * 4; ++i)
            largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    }
    return largest;
}

double sequentialSeconds(const std::string& file, int stream, ff::DecodeUse use, bool planes, int* decoded) {
    ff::FFDecoder decoder;
    decoder.open(file.c_str(), stream, use);
    *decoded = 0;
    const auto start = Clock::now();
    for (int n = 0; n < kFrames; ++n) {
        ff::RequireVideoFrame request;
        request.time = {n, 30};
        request.planes = planes ? 1 : 0;
        if (decoder.getVideoFrame(request))
            ++*decoded;
    }
    return secondsSince(start);
}

// Random access, each request on the decoder that served the one before.
std::vector<double> randomAccessMs(const std::string& file, int stream, ff::DecodeUse use, bool planes) {
    ff::FFDecoder decoder;
    decoder.open(file.c_str(), stream, use);
    std::mt19937 random(7);
    std::vector<double> ms;
    for (int i = 0; i < 100; ++i) {
        ff::RequireVideoFrame request;
        request.time = {int(random() % kFrames), 30};
        request.planes = planes ? 1 : 0;
        const auto t = Clock::now();
        decoder.getVideoFrame(request);
        ms.push_back(secondsSince(t) * 1000);
    }
    return ms;
}

// The same random frames straight through FFmpeg: a seek to the key frame
// before each, then decoding until it comes out, with frames that nothing
// refers to skipped on the way. What the library itself needs per frame.
std::vector<double> ffmpegRandomAccessMs(const std::string& file) {
    std::vector<double> ms;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0)
        return ms;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> formatHolder(
        format, [](AVFormatContext* f) { avformat_close_input(&f); });
    const AVCodec* codec = nullptr;
    const int index = avformat_find_stream_info(format, nullptr) < 0
                          ? -1
                          : av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0)
        return ms;
    AVStream* stream = format->streams[index];
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> codecHolder(
        avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
    AVCodecContext* decoder = codecHolder.get();
    if (!decoder || avcodec_parameters_to_context(decoder, stream->codecpar) < 0)
        return ms;
    decoder->thread_count = 0;
    decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(decoder, codec, nullptr) < 0)
        return ms;
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    std::mt19937 random(7);
    for (int i = 0; i < 100; ++i) {
        const int64_t target = start + av_rescale_q(int(random() % kFrames), {1, 30}, stream->time_base);
        const auto t = Clock::now();
        if (av_seek_frame(format, index, target, AVSEEK_FLAG_BACKWARD) < 0)
            return {};
        avcodec_flush_buffers(decoder);
        int64_t latest = INT64_MIN;
        bool found = false, ended = false;
        while (!found && !ended) {
            if (av_read_frame(format, packet.get()) < 0) {
                avcodec_send_packet(decoder, nullptr);
                ended = true;
            } else if (packet->stream_index == index) {
                const bool hidden = packet->pts < latest && latest <= target;
                decoder->skip_frame = hidden ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
                latest = std::max(latest, packet->pts);
                avcodec_send_packet(decoder, packet.get());
            }
            av_packet_unref(packet.get());
            while (avcodec_receive_frame(decoder, frame.get()) == 0) {
                found = found || frame->pts == target;
                av_frame_unref(frame.get());
            }
        }
        if (!found)
            return {}; // a seek that lands after its frame would time the wrong work
        ms.push_back(secondsSince(t) * 1000);
    }
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "/tmp";
    // Tagged BT.709, as HD is: ffmpeg's conversion then uses the matrix ours does.
    std::string file = folder + "/korvel-bench-1080p30-bt709.mp4";
    if (!exists(file)) {
        std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=10 "
                           "-c:v libx264 -preset veryfast -crf 23 -g 60 -keyint_min 60 -sc_threshold 0 "
                           "-pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 "
                           "-color_range tv '" + file + "'";
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "cannot make %s\n", file.c_str());
            return 1;
        }
    }
    auto info = ff::getMovieInfo(file.c_str(), nullptr);
    if (!info || info->bestVideoStream < 0) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
    }
    const int stream = info->bestVideoStream;
    std::printf("load average at start: %s\n", load().c_str());

    // The pictures first: key frames, frames deep in a group, backwards.
    for (ff::DecodeUse use : {ff::DecodeUse::Sequential, ff::DecodeUse::Scrubbing}) {
        ff::FFDecoder decoder;
        if (!decoder.open(file.c_str(), stream, use)) {
            std::fprintf(stderr, "cannot open %s\n", file.c_str());
            return 1;
        }
        for (int n : {0, 1, 59, 60, 137, 299, 31}) {
            for (bool planes : {true, false}) {
                // Planes are the decoder's own samples; RGBA may round apart a little.
                const int d = difference(decoder, file, n, planes);
                if (d > (planes ? 0 : 3)) {
                    std::fprintf(stderr, "frame %d (%s) differs from ffmpeg's by %d levels: no times printed\n", n,
                                 planes ? "planes" : "RGBA", d);
                    return 1;
                }
            }
        }
    }
    std::printf("frames 0, 1, 59, 60, 137, 299, 31 match ffmpeg's decode for both uses: planes exactly, RGBA "
                "within 3 levels\n");

    // (a) Sequential, ours and ffmpeg's taken in turns; the best of each.
    for (bool planes : {true, false}) {
        const std::string sameOutput =
            planes ? std::string("-pix_fmt yuv420p") : std::string("-sws_flags ") + kSwsFlags + " -pix_fmt rgba";
        double ours = 1e9, theirs = 1e9;
        int decoded = 0;
        for (int round = 0; round < 2; ++round) {
            ours = std::min(ours, sequentialSeconds(file, stream, ff::DecodeUse::Sequential, planes, &decoded));
            const double t = ffmpegSeconds(file, sameOutput);
            if (t <= 0) {
                std::fprintf(stderr, "the ffmpeg reference run failed\n");
                return 1;
            }
            theirs = std::min(theirs, t);
        }
        if (decoded != kFrames) {
            std::fprintf(stderr, "only %d of %d frames decoded\n", decoded, kFrames);
            return 1;
        }
        const double ourFps = kFrames / ours, theirFps = kFrames / theirs;
        std::printf("sequential 1080p decode to %s (export's decoder): %.1f fps; ffmpeg -benchmark to the same "
                    "%.1f fps: %.2f x ffmpeg, target >= 0.90\n",
                    planes ? "YUV 4:2:0 planes" : "RGBA", ourFps, theirFps, ourFps / theirFps);
    }

    // (b) Random access.
    for (bool planes : {true, false}) {
        for (ff::DecodeUse use : {ff::DecodeUse::Scrubbing, ff::DecodeUse::Sequential}) {
            const std::vector<double> ms = randomAccessMs(file, stream, use, planes);
            std::printf("random access to %s, 100 frames, %s decoder: median %.1f ms, 95th percentile %.1f ms%s\n",
                        planes ? "planes" : "RGBA", use == ff::DecodeUse::Scrubbing ? "preview's" : "export's",
                        percentile(ms, 0.5), percentile(ms, 0.95),
                        use == ff::DecodeUse::Scrubbing && planes ? ", target median <= 50 ms" : "");
        }
    }

    const std::vector<double> floor = ffmpegRandomAccessMs(file);
    if (floor.empty()) {
        std::fprintf(stderr, "FFmpeg's own random access failed\n");
        return 1;
    }
    std::printf("random access through FFmpeg alone (a seek for every frame, no conversion): median %.1f ms, "
                "95th percentile %.1f ms\n",
                percentile(floor, 0.5), percentile(floor, 0.95));

    // (c) Thumbnail, as the media library asks for it.
    ff::ImageRequest thumb;
    std::vector<double> thumbs;
    for (int i = 0; i < 5; ++i) {
        auto t = Clock::now();
        ff::getMovieImage(file.c_str(), thumb, nullptr);
        thumbs.push_back(secondsSince(t) * 1000);
    }
    std::printf("thumbnail 100x80 at 0.2: median %.1f ms over 5\n", percentile(thumbs, 0.5));
    std::printf("load average at end: %s\n", load().c_str());
    return 0;
}
