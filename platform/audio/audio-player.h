// The sound output: one playback stream on the desktop's sound server
// (PulseAudio's asynchronous API, driven by its own threaded main loop).
//
// An AudioPlayer belongs to one thread at a time (the player thread, later
// the thread that plays); every method is called from that thread. The
// server's callbacks run on PulseAudio's loop thread and only touch the
// state guarded by the loop's lock and the atomic underflow counters.
// Failures are reported by results and log lines; nothing blocks longer
// than the bound connection and write waits.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct pa_stream;

namespace pulse {
class PulseClient;
}

namespace zya {

class AudioPlayer {
public:
    // How long play() waits for the server and the stream at most.
    static constexpr int kConnectTimeoutMs = 2000;
    // The server-side buffer target: enough for the player's pacing, which
    // keeps one to three 33 ms frames queued.
    static constexpr int kBufferMs = 100;
    // How long a blocking write waits for room at most.
    static constexpr int kWriteTimeoutMs = 2000;
    // How long cached_millisec() waits for the server's timing at most.
    static constexpr int kTimingTimeoutMs = 200;

    AudioPlayer();
    ~AudioPlayer(); // stop()
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    // Connects to the default sink with interleaved samples of the media
    // platform's layout (format 1 unsigned 8-bit, 2 signed 16-bit, 3 signed
    // 32-bit, 4 32-bit float; all little-endian). False, with a log line,
    // when the format is impossible or no server or sink answers in time.
    // A player that was playing is stopped first.
    bool play(int channels, int rate, int format);
    // Queues whole sample frames. Without block the bytes are handed to the
    // server at once; with block the call waits (bounded) for room in the
    // server's buffer. False when not playing, when the server went away or
    // on a write error.
    bool write_pcm(const uint8_t* bytes, int count, bool block);
    // Milliseconds of sound written but not heard yet, as far as pacing
    // needs it: the server's write index less its read index (what the
    // stream still holds), and while the sink plays less the block it may
    // take at one go, so that the stream runs dry (an underrun) about when
    // this reaches zero. 0 when not playing. Asks the server for its
    // indexes (one round trip, bounded).
    int cached_millisec();
    // As of the last cached_millisec(): the server is playing the stream,
    // so the queue drains in real time. False while it fills up to its
    // start level, after an underrun, and while the sink has not started.
    bool isRunning() const { return m_running; }
    // As of the last cached_millisec(): microseconds until the last sample
    // written so far is heard (what the stream and the sink still hold);
    // -1 when the server gave no timing.
    int64_t latency_usec() const { return m_latencyUs; }
    // Drops what is queued, disconnects and frees everything. Safe to call
    // twice and without play().
    void stop();

    // A stream is connected and neither it nor the server failed since.
    bool isPlaying();
    // How long play() waits, for callers that retry often.
    void setConnectTimeoutMs(int ms) { m_connectTimeoutMs = ms; }

    // Times the server ran out of sound on this player's streams.
    int underflows() const { return m_underflows.load(); }
    // The same, summed over every player of the process.
    static int totalUnderflows() { return s_totalUnderflows.load(); }

private:
    static void onStreamState(pa_stream* stream, void* self);
    static void onStreamRequest(pa_stream* stream, size_t bytes, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    static void onOperationDone(pa_stream* stream, int success, void* self);

    bool waitLocked(const std::function<bool()>& ready, int64_t deadlineUs);
    bool connectStreamLocked(int channels, int rate, int format, int64_t deadlineUs);
    bool streamGoodLocked() const;
    const char* lastError() const;

    // Created by play(), freed by stop(); after play() they are used under the loop's lock.
    std::unique_ptr<pulse::PulseClient> m_client;
    pa_stream* m_stream = nullptr;
    int m_bytesPerSecond = 0;
    int m_frameBytes = 0;
    int64_t m_written =
        0; // bytes handed to the server since play(), for cached_millisec() before timing arrives
    bool m_running = false;
    int64_t m_latencyUs = -1;
    // What the sink held at the last readings of cached_millisec(), a ring.
    static constexpr int kSinkHeldReadings = 16;
    int m_sinkHeld[kSinkHeldReadings] = {};
    int m_sinkHeldNext = 0;
    bool m_failureLogged = false; // guarded by the loop's lock: a broken stream is logged once
    int m_connectTimeoutMs = kConnectTimeoutMs;

    std::atomic<int> m_underflows{0};
    static std::atomic<int> s_totalUnderflows;
};

} // namespace zya
