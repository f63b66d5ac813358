// Waveform peaks of a media file's sound: a fixed number of (min, max)
// pairs per second, for drawing a clip's waveform at any zoom.
//
// computeAudioPeaks decodes only the best audio stream (every other stream
// is discarded by the demuxer) and may be called from any thread; it blocks
// for as long as the decoding takes, so never call it on the GUI thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ff {

struct AudioPeaks {
    int peaksPerSecond = 0;
    // 0: the file has no sound. 1: one lane for every channel. 2: the even
    // channels (left, centre, back left...) in lane 0, the odd ones in lane 1.
    int lanes = 0;
    int64_t count = 0; // peaks per lane
    // count * lanes (min, max) pairs, peak after peak, lane after lane
    // inside a peak; full scale is -32768..32767 whatever the source format.
    std::vector<int16_t> values;

    int16_t minAt(int64_t peak, int lane) const { return values[size_t((peak * lanes + lane) * 2)]; }
    int16_t maxAt(int64_t peak, int lane) const { return values[size_t((peak * lanes + lane) * 2 + 1)]; }
    bool hasSound() const { return lanes > 0 && count > 0; }
};

enum class PeaksResult {
    Ok,        // peaks made (lanes > 0)
    NoSound,   // a readable file without an audio stream: lanes 0
    Failed,    // unreadable file or decoder; logged
    Cancelled, // the cancel flag was set
};

// Peak i covers the samples of [i / peaksPerSecond, (i + 1) / peaksPerSecond)
// seconds from the start of the audio stream. A stream longer than
// kMaxPeakHours is cut there.
PeaksResult computeAudioPeaks(const char* pathUtf8, int peaksPerSecond, std::atomic<bool>* cancel, AudioPeaks* out);
constexpr int kMaxPeakHours = 24;

} // namespace ff
