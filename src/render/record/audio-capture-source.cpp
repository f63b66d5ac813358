#include "render/record/audio-capture-source.h"

#include "capture/capture-stream.h"
#include "render/record/wav-encoder.h"
#include "value/interface.h"

#include <algorithm>
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

int64_t AudioCaptureSource::takeSamplesLocked(int rate) const {
    if (m_takeFrames < 0)
        return -1;
    return (m_takeFrames * rate + m_takeFps / 2) / m_takeFps;
}

void AudioCaptureSource::setFlowing(bool flowing) {
    {
        std::lock_guard<std::mutex> hold(m_writerLock);
        m_flowing = flowing;
    }
    m_delivered.notify_all();
}

void AudioCaptureSource::write(const void* data, size_t bytes, int64_t streamStartedUs) {
    // On the sound server's loop thread. The header goes first, once for the
    // whole file: a device that comes back later goes on in the same file.
    bool startsTake = false;
    bool refused = false;
    {
        std::lock_guard<std::mutex> hold(m_writerLock);
        if (m_refused)
            return; // the file takes nothing more; the take is ending
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
                m_refused = refused = true;
            }
            m_fileFormat = m_streamFormat;
        }
        const int block = m_fileFormat.blockBytes();
        if (!refused && block > 0) {
            const int64_t frames = int64_t(bytes) / block;
            // Once the take has ended, nothing past its end goes in.
            int64_t keep = frames;
            const int64_t end = takeSamplesLocked(m_fileFormat.rate);
            if (end >= 0)
                keep = std::max<int64_t>(0, std::min(frames, end - m_deliveredFrames));
            m_deliveredFrames += frames;
            // A full disk, or the longest file: the take ends with what went in.
            if (keep > 0 && m_writer->Write(data, int(keep * block)) != wav::WavEncoder::Ok)
                m_refused = refused = true;
            if (m_takeStartUs.load() == 0 && frames > 0) {
                // The fragment holds what was heard just before it came; a source
                // that hands over its sound ahead of time (large blocks at once)
                // still began no earlier than its stream did.
                const int64_t now =
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
                const int64_t heard = now - frames * 1000000 / std::max(1, m_fileFormat.rate);
                m_takeStartUs = std::max<int64_t>(1, streamStartedUs > 0 ? std::max(heard, streamStartedUs) : now);
                startsTake = true;
            }
        }
    }
    m_delivered.notify_all();
    if (startsTake)
        emit sig_takeStarted();
    if (refused)
        emit sig_writeRefused();
}

void AudioCaptureSource::endTake(int64_t frames, int fps) {
    const std::string name = deviceName();
    std::unique_lock<std::mutex> hold(m_writerLock);
    m_takeFps = std::max(1, fps);
    m_takeFrames = std::max<int64_t>(0, frames);
    const auto enough = [this] {
        return !m_flowing || m_refused || m_takeFrames == 0 ||
               (m_writer->headerWritten() && m_deliveredFrames >= takeSamplesLocked(m_fileFormat.rate));
    };
    m_delivered.wait_for(hold, std::chrono::milliseconds(kTailWaitMs), enough);
    if (!m_writer->headerWritten())
        return;
    const int64_t end = takeSamplesLocked(m_fileFormat.rate);
    const int block = m_fileFormat.blockBytes();
    if (m_deliveredFrames > end) {
        // Sound handed over ahead of the clock, past the moment the take ended.
        LOGD("capture: the take ends after %lld sample frames; %lld more were left out",
             static_cast<long long>(end), static_cast<long long>(m_deliveredFrames - end));
    } else if (m_deliveredFrames < end) {
        LOGW("capture: device '%s' gave %lld of the take's %lld sample frames in time", name.c_str(),
             static_cast<long long>(m_deliveredFrames), static_cast<long long>(end));
    }
    if (m_writer->Truncate(end * block) != wav::WavEncoder::Ok)
        LOGW("capture: the recording keeps the sound past the take's end");
}

bool AudioCaptureSource::tryInitialize(cap::CaptureStream& stream) {
    std::string description, error;
    // The default source is looked up afresh each time, so it follows the desktop's choice.
    const bool opened = stream.open(
        m_deviceId,
        // The stream outlives its callbacks: none runs after close().
        [this, &stream](const void* data, size_t bytes) { write(data, bytes, stream.startedAtUs()); },
        [this] {
            {
                std::lock_guard<std::mutex> hold(m_lock);
                m_lost = true;
            }
            m_wake.notify_all();
            setFlowing(false);
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
    setFlowing(true);
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
        setFlowing(false);
        if (!lost)
            break;
        LOGW("Device '%s' invalidated.  Retrying (source: %s)", deviceName().c_str(), m_sourceName);
        emit sig_inActivated();
        m_retryDelayMs = kRetryDelayMs;
        nextTry = Clock::now() + std::chrono::milliseconds(m_retryDelayMs);
    }
    stream.close();
}
