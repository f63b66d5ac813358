#include "render/record/record-thread.h"

#include "render/record/audio-capture-source.h"
#include "render/record/wav-encoder.h"
#include "value/interface.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

int64_t clockUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

RecordThread::RecordThread(const QString& path, QObject* parent) : QThread(parent), m_path(path) {}

RecordThread::~RecordThread() {
    stop();
}

void RecordThread::stop() {
    {
        std::lock_guard<std::mutex> hold(m_stopLock);
        m_stop = true;
    }
    m_stopWake.notify_all();
    wait();
}

bool RecordThread::sleepTick() {
    std::unique_lock<std::mutex> hold(m_stopLock);
    m_stopWake.wait_for(hold, std::chrono::microseconds(kTickUs), [this] { return m_stop; });
    return !m_stop;
}

void RecordThread::run() {
    const QByteArray path = m_path.toUtf8();
    FILE* file = std::fopen(path.constData(), "wb");
    if (!file) {
        LOGE("fopen [%s] fail", path.constData());
        emit sig_recordError();
        return;
    }
    auto writer = std::make_unique<wav::WavEncoder>(file);
    const std::string deviceId = bg::configText("DeviceId", "default");
    auto source = std::make_unique<AudioCaptureSource>(AudioCaptureSource::Microphone, writer.get(), deviceId);
    // Direct: the handlers run on the capture thread and only emit.
    connect(source.get(), &AudioCaptureSource::sig_activated, this, [] { LOGD("sig_activated"); },
            Qt::DirectConnection);
    connect(
        source.get(), &AudioCaptureSource::sig_takeStarted, this,
        [this] {
            // Ends the wait for the take's start below.
            std::lock_guard<std::mutex> hold(m_stopLock);
            m_stopWake.notify_all();
        },
        Qt::DirectConnection);
    connect(
        source.get(), &AudioCaptureSource::sig_inActivated, this,
        [this] {
            LOGD("sig_inActivated");
            emit sig_recordStop();
        },
        Qt::DirectConnection);
    connect(
        source.get(), &AudioCaptureSource::sig_writeRefused, this,
        [this] {
            LOGD("sig_writeRefused");
            emit sig_recordFull();
        },
        Qt::DirectConnection);
    connect(
        source.get(), &AudioCaptureSource::sig_initError, this,
        [this] {
            LOGD("sig_initError");
            emit sig_recordError();
        },
        Qt::DirectConnection);

    // The play head starts with the take, from the instant of its first
    // sound, so that sound and picture begin together; until the microphone
    // gives sound it stays where the user put it. The take's start may lie a
    // little in the past: the first ticks catch up.
    int64_t start = 0;
    {
        std::unique_lock<std::mutex> hold(m_stopLock);
        while (!m_stop && (start = source->takeStartUs()) == 0)
            m_stopWake.wait_for(hold, std::chrono::microseconds(kTickUs));
    }

    // Each tick the head is owed the frames the take has run on by, from
    // the clock: sleeps that overran, or a window too busy to move the head
    // in time, never leave the picture behind the sound being recorded.
    int64_t frames = 0;
    if (start != 0) {
        while (sleepTick()) {
            const int64_t due = std::max<int64_t>(frames, (clockUs() - start) * 30 / 1000000);
            if (due == frames)
                continue;
            const int64_t times = due - frames;
            frames = due;
            if (m_owed.fetch_add(times) == 0)
                emit sig_frameRequest(MoveStep, EditRecording, times, 30);
        }
    }
    // The take is as long as the play head moved.
    source->endTake(frames, 30);
    source.reset(); // stops the capture
    writer.reset(); // finishes the header and closes the file
}
