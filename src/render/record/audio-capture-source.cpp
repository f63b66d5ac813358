#include "render/record/audio-capture-source.h"

#include "capture/capture-stream.h"
#include "render/record/wav-encoder.h"
#include "value/interface.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

AudioCaptureSource::AudioCaptureSource(SourceType, wav::WavEncoder* writer, const std::string& deviceId)
    : m_writer(writer), m_deviceId(deviceId.empty() ? std::string("default") : deviceId),
      m_isDefault(m_deviceId == "default") {
    m_thread = std::thread([this] { captureThread(); });
}

AudioCaptureSource::~AudioCaptureSource() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    LOGD("capture: device '%s' terminated", deviceName().c_str());
    if (m_thread.joinable())
        m_thread.join();
}

std::string AudioCaptureSource::deviceName() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_name.empty() ? m_deviceId : m_name;
}

void AudioCaptureSource::write(const void* data, size_t bytes) {
    // On the sound server's loop thread. The header goes first, once for the
    // whole file: a device that comes back later goes on in the same file.
    std::lock_guard<std::mutex> hold(m_writerLock);
    if (!m_writer->headerWritten()) {
        wav::WaveFormatEx format;
        format.formatTag = 3; // IEEE float
        format.channels = uint16_t(m_streamFormat.channels);
        format.samplesPerSec = uint32_t(m_streamFormat.rate);
        format.blockAlign = uint16_t(m_streamFormat.blockBytes());
        format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
        format.bitsPerSample = 32;
        format.extraSize = 0;
        if (m_writer->Init(&format) != wav::WavEncoder::Ok) {
            LOGE("Init WAVENC Error");
            return;
        }
        m_fileFormat = m_streamFormat;
    }
    m_writer->Write(data, int(bytes));
}

bool AudioCaptureSource::tryInitialize(cap::CaptureStream& stream) {
    std::string description, error;
    // The default source is looked up afresh each time, so it follows the desktop's choice.
    const bool opened = stream.open(
        m_deviceId,
        [this](const void* data, size_t bytes) { write(data, bytes); },
        [this] {
            {
                std::lock_guard<std::mutex> hold(m_lock);
                m_lost = true;
            }
            m_wake.notify_all();
        },
        &m_streamFormat, &description, &error);
    if (!opened) {
        if (!m_initErrorLogged)
            LOGE("[AudioCaptureSource::TryInitialize]:[%s] %s", deviceName().c_str(), error.c_str());
        if (m_reportInitError)
            emit sig_initError();
        m_initErrorLogged = true;
        m_reportInitError = false;
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(m_writerLock);
        if (m_writer->headerWritten() &&
            (m_fileFormat.rate != m_streamFormat.rate || m_fileFormat.channels != m_streamFormat.channels))
            LOGW("capture: device '%s' came back as %d Hz, %d channels; the file holds %d Hz, %d channels",
                 description.c_str(), m_streamFormat.rate, m_streamFormat.channels, m_fileFormat.rate,
                 m_fileFormat.channels);
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_name = description;
    }
    m_reportInitError = false;
    m_initErrorLogged = false;
    LOGD("capture: device '%s' [%d Hz] initialized", description.c_str(), m_streamFormat.rate);
    return true;
}

void AudioCaptureSource::captureThread() {
    cap::CaptureStream stream;
    Clock::time_point nextTry = Clock::now(); // the first attempt at once
    for (;;) {
        // Waiting for initialisation, 500 ms at a time.
        bool stopped = false;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextTry - Clock::now());
            if (left.count() <= 0)
                break;
            const int slice = int(std::min<int64_t>(left.count(), kInitialiseWaitMs));
            {
                std::unique_lock<std::mutex> hold(m_lock);
                m_wake.wait_for(hold, std::chrono::milliseconds(slice), [this] { return m_stop; });
                stopped = m_stop;
            }
            if (stopped)
                break;
            if (slice == kInitialiseWaitMs)
                emit sig_inActivated();
        }
        {
            std::lock_guard<std::mutex> hold(m_lock);
            stopped = stopped || m_stop;
            m_lost = false;
        }
        if (stopped)
            break;
        if (!tryInitialize(stream)) {
            m_retryDelayMs = kRetryDelayMs;
            nextTry = Clock::now() + std::chrono::milliseconds(m_retryDelayMs);
            continue;
        }
        emit sig_activated();

        // Capturing: the fragments arrive on the server's loop thread.
        bool lost = false;
        {
            std::unique_lock<std::mutex> hold(m_lock);
            m_wake.wait(hold, [this] { return m_stop || m_lost; });
            lost = m_lost && !m_stop;
        }
        stream.close();
        if (!lost)
            break;
        LOGW("Device '%s' invalidated.  Retrying (source: %s)", deviceName().c_str(), m_sourceName);
        emit sig_inActivated();
        m_retryDelayMs = kRetryDelayMs;
        nextTry = Clock::now() + std::chrono::milliseconds(m_retryDelayMs);
    }
    stream.close();
}
