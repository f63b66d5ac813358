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

    // `deviceId`: a source name, or "default" for the server's default
    // source at each initialisation. The writer is not owned.
    AudioCaptureSource(SourceType type, wav::WavEncoder* writer, const std::string& deviceId);
    ~AudioCaptureSource() override;

    // The device's description once initialised (for log lines).
    std::string deviceName() const;

signals:
    void sig_activated();
    void sig_inActivated();
    void sig_initError();

private:
    void captureThread();
    bool tryInitialize(cap::CaptureStream& stream);
    void write(const void* data, size_t bytes);

    wav::WavEncoder* m_writer;
    const std::string m_deviceId;
    const bool m_isDefault;
    const char* m_sourceName = "microphone";

    mutable std::mutex m_lock; // guards the fields below it and the events
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_lost = false;
    std::string m_name;

    std::mutex m_writerLock; // guards the writer and m_fileFormat
    cap::CaptureFormat m_fileFormat; // what the header says

    // Capture thread only (the stream fills m_streamFormat before its first fragment).
    cap::CaptureFormat m_streamFormat;
    bool m_reportInitError = true;
    bool m_initErrorLogged = false;
    int m_retryDelayMs = 0;

    std::thread m_thread;
};
