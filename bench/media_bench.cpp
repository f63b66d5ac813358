// Decoder speed on a 1080p30 H.264 file with a key frame every 60 frames:
// (a) sequential decode to RGBA beside `ffmpeg -benchmark` doing the same
// conversion, (b) random access latency, (c) thumbnail time.
//
//   media_bench [folder]     (the test file is made there once; default /tmp)
#include "media/media.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

} // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "/tmp";
    std::string file = folder + "/korvel-bench-1080p30.mp4";
    const int frames = 300;
    if (!exists(file)) {
        std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=10 "
                           "-c:v libx264 -preset veryfast -crf 23 -g 60 -keyint_min 60 -sc_threshold 0 "
                           "-pix_fmt yuv420p '" + file + "'";
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

    // (a) Sequential.
    ff::FFDecoder decoder;
    decoder.open(file.c_str(), info->bestVideoStream);
    auto start = Clock::now();
    int decoded = 0;
    for (int n = 0; n < frames; ++n) {
        ff::RequireVideoFrame request;
        request.time = {n, 30};
        if (decoder.getVideoFrame(request))
            ++decoded;
    }
    double ours = secondsSince(start);
    start = Clock::now();
    std::string reference = "ffmpeg -nostdin -v error -benchmark -i '" + file +
                            "' -f rawvideo -pix_fmt rgba -y /dev/null > /dev/null 2>&1";
    if (std::system(reference.c_str()) != 0)
        std::fprintf(stderr, "the ffmpeg reference run failed\n");
    double theirs = secondsSince(start);
    double ourFps = decoded / ours, theirFps = frames / theirs;
    std::printf("sequential 1080p decode to RGBA: %.1f fps (ffmpeg %.1f fps): %.2f x ffmpeg, target >= 0.80\n",
                ourFps, theirFps, ourFps / theirFps);

    // (b) Random access, each request on the decoder that served the one before.
    std::mt19937 random(7);
    std::vector<double> ms;
    for (int i = 0; i < 100; ++i) {
        int n = int(random() % frames);
        ff::RequireVideoFrame request;
        request.time = {n, 30};
        auto t = Clock::now();
        decoder.getVideoFrame(request);
        ms.push_back(secondsSince(t) * 1000);
    }
    std::printf("random access, 100 frames: median %.1f ms, 95th percentile %.1f ms, target median <= 80 ms\n",
                percentile(ms, 0.5), percentile(ms, 0.95));

    // (c) Thumbnail, as the media library asks for it.
    ff::ImageRequest thumb;
    std::vector<double> thumbs;
    for (int i = 0; i < 5; ++i) {
        auto t = Clock::now();
        ff::getMovieImage(file.c_str(), thumb, nullptr);
        thumbs.push_back(secondsSince(t) * 1000);
    }
    std::printf("thumbnail 100x80 at 0.2: median %.1f ms over 5\n", percentile(thumbs, 0.5));
    return 0;
}
