// One recording stream from a capture source of the desktop's sound server
// (PulseAudio's asynchronous API on its own threaded main loop), in 32-bit
// float at the source's own rate and channel count.
//
// A CaptureStream belongs to the thread that opens and closes it. The
// callbacks run on PulseAudio's loop thread: `data` for every captured
// fragment, unchanged, and `lost` once when the source or the server goes
// away after the stream ran. Failures are reported by results and log lines;
// nothing waits longer than kTimeoutMs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct pa_stream;

namespace pulse {
class PulseClient;
}

namespace cap {

struct CaptureFormat {
    int rate = 0;
    int channels = 0;
    // 32-bit float samples, interleaved.
    int blockBytes() const { return channels * 4; }
};

class CaptureStream {
public:
    static constexpr int kTimeoutMs = 2000;

    using DataCallback = std::function<void(const void* data, size_t bytes)>;
    using LostCallback = std::function<void()>;

    CaptureStream();
    ~CaptureStream(); // close()
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    // Connects to the server and starts recording from the source named
    // `deviceId` ("default": the server's default source at this moment).
    // Fills `format` and the source's description before the first `data`
    // call (which may come before open() returns). False with `error` (the server's text) when the server, the
    // source or the stream cannot be had in time.
    bool open(const std::string& deviceId, const DataCallback& data, const LostCallback& lost,
              CaptureFormat* format, std::string* description, std::string* error);
    // Stops recording and disconnects; no callback runs after it returns.
    // Safe to call twice and without open().
    void close();
    // The stream records and neither it nor the server failed since.
    bool isRecording() const { return m_recording.load(); }
    // When the stream began recording (std::chrono::steady_clock, in
    // microseconds), the instant its first sample belongs to; 0 before.
    int64_t startedAtUs() const { return m_startedAtUs.load(); }

private:
    static void onStreamState(pa_stream* stream, void* self);
    static void onStreamRead(pa_stream* stream, size_t bytes, void* self);

    void markLost();

    std::unique_ptr<pulse::PulseClient> m_client; // made by open(), freed by close()
    pa_stream* m_stream = nullptr;                // used under the client's loop lock
    DataCallback m_data;
    LostCallback m_lost;
    std::atomic<bool> m_recording {false};
    std::atomic<bool> m_lostReported {false};
    std::atomic<int64_t> m_startedAtUs {0};
};

} // namespace cap
