// Captures one microphone (a capture source of the sound server) into a
// WAV writer, and keeps trying while the device is missing.
//
// A capture thread of its own waits to initialise (at most 500 ms at a
// time), opens the source in 32-bit float at its own rate and channel
// count, writes the WAV header once and then every captured fragment
// unchanged. A lost device is reported and retried every 3000 ms.
//
// Signals come from the capture thread; connect them directly and keep the
// handlers thread-safe:
//   sig_activated   after every successful initialisation;
//   sig_inActivated when the device is lost while capturing, and whenever a
//                   wait for initialisation times out (so within 500 ms of
//                   a loss);
//   sig_initError   once, for a failure before any success.
// The owner's thread constructs and destroys it; destruction stops the
// capture and joins the thread, after which the writer may go.
//
// The take: its first sample is the first one the stream hands over, and
// takeStartUs() says when that sample was heard (the play head starts moving
// from that instant; sig_takeStarted tells it). endTake() gives its length,
// and the file keeps that much sound and no more: a source may hand over its
// sound in large blocks ahead of the clock (the sound server's sine source
// gives two seconds at a time), and what lies past the take's end is cut off.
#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "capture/capture-stream.h"

namespace wav {
class WavEncoder;
}

class AudioCaptureSource : public QObject {
    Q_OBJECT

public:
    enum SourceType { Microphone = 0 };
    static constexpr int kInitialiseWaitMs = 500;
    static constexpr int kRetryDelayMs = 3000;
    // How long endTake() waits for the sound of the take's last moments.
    static constexpr int kTailWaitMs = 500;

    // `deviceId`: a source name, or "default" for the server's default
    // source at each initialisation. The writer is not owned.
    AudioCaptureSource(SourceType type, wav::WavEncoder* writer, const std::string& deviceId);
    ~AudioCaptureSource() override;

    // The device's description once initialised (for log lines).
    std::string deviceName() const;

    // When the take began (std::chrono::steady_clock, microseconds): the
    // instant of its first sample, from the first fragment's arrival, its
    // length and the stream's start; 0 until a fragment came.
    int64_t takeStartUs() const { return m_takeStartUs.load(); }
    // Ends the take `frames` frames of 1/fps s after its start: the file
    // holds that much sound, from the take's first sample, and nothing
    // after. Waits up to kTailWaitMs for the last of it, which a device hands
    // over a little after it was heard. The owner's thread, before the
    // destruction.
    void endTake(int64_t frames, int fps);

signals:
    void sig_activated();
    void sig_inActivated();
    void sig_initError();
    // The first sound arrived: takeStartUs() is set. From the server's loop thread.
    void sig_takeStarted();
    // The file took no more sound (a full disk, or its largest size); what
    // it holds is whole. Once, from the server's loop thread.
    void sig_writeRefused();

private:
    void captureThread();
    bool tryInitialize(cap::CaptureStream& stream);
    void write(const void* data, size_t bytes, int64_t streamStartedUs);
    void setFlowing(bool flowing);
    // The take's length in sample frames at `rate`; -1 while it runs. With m_writerLock.
    int64_t takeSamplesLocked(int rate) const;

    wav::WavEncoder* m_writer;
    const std::string m_deviceId;
    const bool m_isDefault;
    const char* m_sourceName = "microphone";

    mutable std::mutex m_lock; // guards the fields below it and the events
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_lost = false;
    std::string m_name;
    std::atomic<int64_t> m_takeStartUs {0};

    std::mutex m_writerLock; // guards the writer and the fields below it
    std::condition_variable m_delivered; // a fragment came, or the stream ended
    cap::CaptureFormat m_fileFormat; // what the header says
    int64_t m_deliveredFrames = 0;   // sample frames handed over since the take began
    bool m_flowing = false;          // a stream is open and was not lost
    bool m_refused = false;          // the file took no more sound
    int64_t m_takeFrames = -1;       // the take's length in 1/m_takeFps s; -1 while it runs
    int m_takeFps = 30;

    // Capture thread only (the stream fills m_streamFormat before its first fragment).
    cap::CaptureFormat m_streamFormat;
    bool m_reportInitError = true;
    bool m_initErrorLogged = false;
    int m_retryDelayMs = 0;

    std::thread m_thread;
};
