// The movie writer's speed beside the ffmpeg command on the same 300 frames
// of 1080p RGBA at 30 fps: H.264 CRF 23, preset veryfast, no sound.
//
// writer_bench [rounds] [folder]: the two take turns `rounds` times (3 by
// default) and the best time of each counts, as the machine may be shared.
#include "movie/movie.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 300, kFps = 30;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Moving gradients with some fine detail, so the encoder has real work.
void paint(std::vector<uint8_t>& rgba, int frame) {
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* p = rgba.data() + size_t(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x, p += 4) {
            p[0] = uint8_t(x / 4 + frame * 3);
            p[1] = uint8_t(y / 3 + frame * 2);
            p[2] = uint8_t((((x + frame * 4) ^ y) & 0x3f) + (x * y >> 12));
            p[3] = 255;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string folder = argc > 2 ? argv[2] : "";
    if (folder.empty()) {
        char pattern[] = "/tmp/korvel-writer-bench-XXXXXX";
        if (!mkdtemp(pattern))
            return 1;
        folder = pattern;
    }
    setenv("KORVEL_STATE_DIR", folder.c_str(), 1); // the writer's log goes there
    av_log_set_level(AV_LOG_ERROR);
    const std::string raw = folder + "/frames.rgba", ours = folder + "/writer.mp4",
                      theirs = folder + "/ffmpeg.mp4";

    std::vector<uint8_t> rgba(size_t(kWidth) * kHeight * 4);
    FILE* file = std::fopen(raw.c_str(), "wb");
    if (!file)
        return 1;
    for (int i = 0; i < kFrames; ++i) {
        paint(rgba, i);
        std::fwrite(rgba.data(), 1, rgba.size(), file);
    }
    std::fclose(file);

    MVSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.frameRate = kFps;
    s.keyFrameInterval = 25;
    const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt rgba -s 1920x1080 -r 30 -i '" + raw +
                                "' -c:v libx264 -preset veryfast -crf 23 -g 25 -pix_fmt yuv420p '" + theirs +
                                "'";
    double writer = 1e9, ffmpeg = 1e9;
    for (int round = 0; round < rounds; ++round) {
        // Both read the frames from the same file.
        double start = now();
        mv::Movie* movie = mv::create_movie(&s, ours.c_str());
        file = std::fopen(raw.c_str(), "rb");
        if (!movie || !file)
            return 1;
        for (int i = 0; i < kFrames; ++i) {
            if (std::fread(rgba.data(), 1, rgba.size(), file) != rgba.size() ||
                mv::push_image_frame(movie, rgba.data(), rgba.size(), kWidth * 4, int64_t(i) * 1000000 / kFps,
                                     mv::PTS_MICROSECONDS) != 0)
                return 1;
        }
        mv::stop_movie(&movie);
        std::fclose(file);
        const double writerTime = now() - start;
        start = now();
        if (std::system(command.c_str()) != 0)
            return 1;
        const double ffmpegTime = now() - start;
        std::printf("round %d: writer %.2f s, ffmpeg %.2f s\n", round + 1, writerTime, ffmpegTime);
        writer = std::min(writer, writerTime);
        ffmpeg = std::min(ffmpeg, ffmpegTime);
    }
    std::printf("writer: %d frames in %.2f s, %.1f frames/s\n", kFrames, writer, kFrames / writer);
    std::printf("ffmpeg: %d frames in %.2f s, %.1f frames/s\n", kFrames, ffmpeg, kFrames / ffmpeg);
    std::printf("writer / ffmpeg time: %.2f (target at most 1.10): %s\n", writer / ffmpeg,
                writer <= 1.1 * ffmpeg ? "met" : "missed");
    std::printf("files in %s\n", folder.c_str());
    std::remove(raw.c_str());
    return 0;
}
