// The process-wide mixer and sound output of playback and export: every
// frame step is begin(), one write() per sounding source, end().
//
// Used by one thread at a time (the player thread while playing, the
// export thread while exporting); it has no lock of its own. The output
// plays from its own buffer on PulseAudio's thread.
#pragma once

#include "audio/audio-player.h"
#include "media/media.h"

#include <QElapsedTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class AudioMixerPlayer {
public:
    // Receives each mixed block before it goes to the output (the exporter).
    using PcmConsumer = std::function<void(const ff::PcmBuffer&)>;

    // Sound of one frame step, in milliseconds, for the pacing budget.
    static constexpr int kFrameMs = 33;
    // Wait after a block the output refused.
    static constexpr int kWriteFailSleepMs = 30;
    // A broken output is reopened at most this often.
    static constexpr int kReopenIntervalMs = 1000;
    // A reopen waits this long for the server, so that a hung server costs
    // playback little.
    static constexpr int kReopenTimeoutMs = 300;

    // Created on first use; lives until the process ends.
    static AudioMixerPlayer* instance();

    // Creates the mixer when missing and, with withOutput, the output and
    // starts it. True when the output plays.
    bool open(int channels, int rate, int format, bool withOutput);
    // A mixer exists.
    bool isOpen() const { return m_mixer != nullptr; }
    // The output was opened and has not broken since.
    bool isOutputOpen() const { return m_outputOpen && !m_broken; }
    void getFormat(int* rate, int* channels, int* format) const;

    // Opens a block of count frames from start / den.
    void begin(int64_t start, int64_t count, int den);
    // Adds one source's sound to the block; key tells sources apart (the
    // decoder task). Empty frames are ignored.
    void write(const void* key, const ff::AFramePtr& frame, int volume);
    // Mixes the block, hands it to the consumer if any, then to the output,
    // and sleeps as long as the output holds too much. True when the output
    // took the block and so set the pace of this step; false when the
    // caller must keep time itself: no output, it broke, or it is not
    // playing yet (filling up; a sink that has not started, whose queue
    // is then held at three frames rather than piling up delay).
    bool end(const PcmConsumer& consumer = PcmConsumer());
    // As of the last end() or waitForStart() that returned true:
    // microseconds until the end of the last block written is heard, and
    // when that was read. False otherwise.
    bool lastLatency(int64_t* us, std::chrono::steady_clock::time_point* at) const;
    // The output was opened and holds its start level, but its sink has
    // not played anything yet (a sink resuming from suspend, or finishing
    // a long block it began before this stream came). Blocks written now
    // would be left out unheard.
    bool waitsForSink() const;
    // Asks the output once whether it plays now; then it keeps time as
    // after an end() that returned true. An output whose server went away
    // meanwhile is broken, as after a refused block: it waits no longer.
    bool waitForStart();
    // Stops and frees the output and the mixer.
    void stop();

    // How long end() sleeps with cachedMs queued after a block of count
    // frames: cached - budget once more than three budgets are queued.
    static int pacingSleepMs(int cachedMs, int64_t count);

private:
    AudioMixerPlayer() = default;
    bool reopenOutput();

    std::unique_ptr<ff::AudioMixer> m_mixer;
    std::unique_ptr<zya::AudioPlayer> m_output;
    int64_t m_count = 0; // frames of the current block
    int64_t m_latencyUs = -1; // see lastLatency()
    std::chrono::steady_clock::time_point m_latencyAt;
    bool m_outputOpen = false;
    bool m_broken = false;       // the output refused a block; silent until reopened
    bool m_stalled = false;      // the output holds three frames it does not play yet
    bool m_played = false;       // the output has played since it was opened
    QElapsedTimer m_sinceReopen; // since the output broke or was last retried
    int m_channels = 2;
    int m_rate = 44100;
    int m_format = ff::SF_S16;
};
