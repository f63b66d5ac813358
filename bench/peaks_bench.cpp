// Waveform peaks of a 2-hour sound, the longest file a user is expected to
// drop on the timeline: the peaks should be ready within 10 s on a 2-core
// machine. Two files: AAC in .m4a (music) and a 1080p video with AAC sound
// (the sound copied from the first; only the sound is decoded).
//
//   peaks_bench [folder]     (the test files are made there once; default /tmp)
#include "media/peaks.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

bool make(const std::string& file, const std::string& args) {
    if (exists(file))
        return true;
    const std::string command = "ffmpeg -nostdin -v error -y " + args + " '" + file + "'";
    std::printf("making %s ...\n", file.c_str());
    return std::system(command.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp";
    const std::string music = folder + "/korvel-bench-2h-tone.m4a";
    const std::string movie = folder + "/korvel-bench-2h-movie.mp4";
    if (!make(music, "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=7200 -ac 2 -c:a aac -b:a 128k") ||
        !make(movie, "-f lavfi -i testsrc2=size=1920x1080:rate=2:duration=7200 -i '" + music +
                         "' -c:v libx264 -preset ultrafast -c:a copy -shortest")) {
        std::fprintf(stderr, "cannot make the test files\n");
        return 1;
    }
    for (const std::string& file : {music, movie}) {
        const auto start = std::chrono::steady_clock::now();
        ff::AudioPeaks peaks;
        const ff::PeaksResult result = ff::computeAudioPeaks(file.c_str(), 100, nullptr, &peaks);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The tone sounds throughout: a quiet peak means a stretch that no
        // reader covered (at the seam between the two halves, say). The
        // last peaks hold the encoder's padding after the 2 hours.
        long long quiet = 0;
        for (int64_t i = 0; i < std::min<int64_t>(peaks.count, 7200 * 100); ++i)
            quiet += peaks.maxAt(i, 0) < 2000; // the tone peaks at 1/8 of full scale
        std::printf("%-40s %s: %lld peaks x %d lanes in %.2f s (reference: under 10 s), %lld quiet (reference: 0)\n",
                    file.substr(file.rfind('/') + 1).c_str(), result == ff::PeaksResult::Ok ? "ok" : "FAILED",
                    static_cast<long long>(peaks.count), peaks.lanes, s, quiet);
    }
    return 0;
}
