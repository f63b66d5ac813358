#include "audio-player.h"

#include "pulse/pulse-client.h"
#include "value/interface.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <iterator>

namespace zya {

std::atomic<int> AudioPlayer::s_totalUnderflows{0};

namespace {

pa_sample_format_t toPulseFormat(int format) {
    // The media platform's sample formats, by value.
    switch (format) {
    case 1:
        return PA_SAMPLE_U8;
    case 2:
        return PA_SAMPLE_S16LE;
    case 3:
        return PA_SAMPLE_S32LE;
    case 4:
        return PA_SAMPLE_FLOAT32LE;
    default:
        return PA_SAMPLE_INVALID;
    }
}

} // namespace

AudioPlayer::AudioPlayer() = default;

AudioPlayer::~AudioPlayer() {
    stop();
}

const char* AudioPlayer::lastError() const {
    return m_client ? m_client->errorText() : pa_strerror(PA_ERR_UNKNOWN);
}

// Waits on the loop (its lock held) until ready() holds or the deadline
// (pa_rtclock_now() microseconds) passes.
bool AudioPlayer::waitLocked(const std::function<bool()>& ready, int64_t deadlineUs) {
    return m_client->waitLocked(ready, uint64_t(deadlineUs));
}

void AudioPlayer::onStreamState(pa_stream* stream, void* self) {
    auto* player = static_cast<AudioPlayer*>(self);
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED && !player->m_failureLogged) {
        player->m_failureLogged = true;
        LOGW("audio: the playback stream failed: %s",
             pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
    }
    player->m_client->signal();
}

void AudioPlayer::onStreamRequest(pa_stream*, size_t, void* self) {
    static_cast<AudioPlayer*>(self)->m_client->signal();
}

void AudioPlayer::onOperationDone(pa_stream*, int, void* self) {
    static_cast<AudioPlayer*>(self)->m_client->signal();
}

void AudioPlayer::onUnderflow(pa_stream*, void* self) {
    auto* player = static_cast<AudioPlayer*>(self);
    ++player->m_underflows;
    ++s_totalUnderflows;
    LOGD("audio: the sound output ran dry");
}

bool AudioPlayer::connectStreamLocked(int channels, int rate, int format, int64_t deadlineUs) {
    pa_sample_spec spec;
    spec.format = toPulseFormat(format);
    spec.rate = uint32_t(rate);
    spec.channels = uint8_t(channels);
    pa_channel_map map;
    pa_channel_map_init_auto(&map, unsigned(channels), PA_CHANNEL_MAP_DEFAULT);
    m_stream = m_client->newStreamLocked("Korvel playback", pulse::kRolePlayback, &spec, &map);
    if (!m_stream) {
        LOGE("audio: cannot create the playback stream: %s", lastError());
        return false;
    }
    pa_stream_set_state_callback(m_stream, onStreamState, this);
    pa_stream_set_write_callback(m_stream, onStreamRequest, this);
    pa_stream_set_underflow_callback(m_stream, onUnderflow, this);

    // A short server buffer keeps the picture close to the sound; the
    // player's pacing keeps it filled.
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(kBufferMs) * 1000, &spec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    auto flags = pa_stream_flags_t(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        LOGW("audio: cannot connect the playback stream: %s", lastError());
        return false;
    }
    auto streamSettled = [this] {
        pa_stream_state_t s = pa_stream_get_state(m_stream);
        return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
    };
    if (!waitLocked(streamSettled, deadlineUs) || pa_stream_get_state(m_stream) != PA_STREAM_READY) {
        LOGW("audio: the playback stream did not start: %s",
             pa_stream_get_state(m_stream) == PA_STREAM_FAILED ? lastError() : "timed out");
        return false;
    }
    m_bytesPerSecond = int(pa_bytes_per_second(&spec));
    m_frameBytes = int(pa_frame_size(&spec));
    return true;
}

bool AudioPlayer::play(int channels, int rate, int format) {
    stop();
    pa_sample_spec spec;
    spec.format = toPulseFormat(format);
    spec.rate = rate > 0 ? uint32_t(rate) : 0;
    spec.channels = channels > 0 && channels <= int(PA_CHANNELS_MAX) ? uint8_t(channels) : 0;
    if (!pa_sample_spec_valid(&spec)) {
        LOGE("audio: cannot play %d channels at %d Hz in format %d", channels, rate, format);
        return false;
    }

    m_failureLogged = false;
    m_written = 0;
    std::fill(std::begin(m_sinkHeld), std::end(m_sinkHeld), 0);
    m_sinkHeldNext = 0;
    m_client = std::make_unique<pulse::PulseClient>();
    std::string error;
    if (!m_client->connect(m_connectTimeoutMs, &error)) {
        LOGW("audio: %s", error.c_str());
        m_client.reset();
        return false;
    }
    m_client->lock();
    // A server that goes away later is logged once; the calls then fail.
    m_client->setStateHook([this](pa_context_state_t state) {
        if (state == PA_CONTEXT_FAILED && !m_failureLogged) {
            m_failureLogged = true;
            LOGW("audio: the sound server connection failed: %s", lastError());
        }
    });
    const int64_t deadline = int64_t(pulse::PulseClient::deadlineAfter(m_connectTimeoutMs));
    bool ok = connectStreamLocked(channels, rate, format, deadline);
    m_client->unlock();
    if (!ok)
        stop();
    return ok;
}

bool AudioPlayer::streamGoodLocked() const {
    return m_stream && m_client->readyLocked() && pa_stream_get_state(m_stream) == PA_STREAM_READY;
}

bool AudioPlayer::isPlaying() {
    if (!m_client)
        return false;
    m_client->lock();
    bool good = streamGoodLocked();
    m_client->unlock();
    return good;
}

bool AudioPlayer::write_pcm(const uint8_t* bytes, int count, bool block) {
    if (count == 0)
        return m_client != nullptr;
    if (!bytes || count < 0 || !m_client)
        return false;
    m_client->lock();
    bool ok = streamGoodLocked();
    if (ok && count % m_frameBytes != 0) {
        LOGE("audio: %d bytes are no whole number of %d-byte sample frames", count, m_frameBytes);
        ok = false;
    }
    int done = 0;
    while (ok && done < count) {
        size_t chunk = size_t(count - done);
        if (block) {
            const int64_t deadline = int64_t(pa_rtclock_now()) + int64_t(kWriteTimeoutMs) * 1000;
            auto roomOrBroken = [this] {
                if (!streamGoodLocked())
                    return true;
                size_t room = pa_stream_writable_size(m_stream);
                return room != size_t(-1) && room > 0;
            };
            if (!waitLocked(roomOrBroken, deadline) || !streamGoodLocked()) {
                if (streamGoodLocked())
                    LOGW("audio: the sound output took nothing for %d ms", kWriteTimeoutMs);
                ok = false;
                break;
            }
            chunk = std::min(chunk, pa_stream_writable_size(m_stream));
        }
        if (pa_stream_write(m_stream, bytes + done, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            LOGE("audio: writing %zu bytes failed: %s", chunk, lastError());
            ok = false;
            break;
        }
        done += int(chunk);
        m_written += int64_t(chunk);
    }
    m_client->unlock();
    return ok;
}

int AudioPlayer::cached_millisec() {
    if (!m_client)
        return 0;
    m_client->lock();
    int ms = 0;
    if (streamGoodLocked()) {
        // Fresh indexes from the server: the automatic updates come up to a
        // second and a half apart, and a stream that stood still at the last
        // one would seem not to drain until the next.
        if (pa_operation* op = pa_stream_update_timing_info(m_stream, onOperationDone, this)) {
            const int64_t deadline = int64_t(pa_rtclock_now()) + int64_t(kTimingTimeoutMs) * 1000;
            waitLocked([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, deadline);
            pa_operation_unref(op);
        } else {
            LOGW("audio: cannot ask for the output's timing: %s", lastError());
        }
    }
    m_running = false;
    m_latencyUs = -1;
    const pa_timing_info* timing = streamGoodLocked() ? pa_stream_get_timing_info(m_stream) : nullptr;
    if (timing) {
        pa_usec_t usec = 0;
        int negative = 0;
        if (pa_stream_get_latency(m_stream, &usec, &negative) == 0)
            m_latencyUs = negative ? 0 : int64_t(usec);
    }
    if (timing && !timing->write_index_corrupt && !timing->read_index_corrupt) {
        // What the stream still holds, less what the sink may take from it
        // at one go: the sink reads ahead in blocks, and the stream runs dry
        // (an underrun) when a block finds less than that. The block is the
        // most the sink was seen holding in the last readings.
        m_running = timing->playing != 0;
        const int sinkMs = int(timing->sink_usec / 1000);
        // A sink that has not settled on the stream's latency yet may report
        // far more; its blocks are not longer than half the stream's buffer.
        m_sinkHeld[m_sinkHeldNext] = std::min(sinkMs, kBufferMs / 2);
        m_sinkHeldNext = (m_sinkHeldNext + 1) % kSinkHeldReadings;
        const int sinkAheadMs = *std::max_element(std::begin(m_sinkHeld), std::end(m_sinkHeld));
        int64_t queued = std::max<int64_t>(0, timing->write_index - timing->read_index);
        ms = std::max(0, int(queued * 1000 / m_bytesPerSecond) - (m_running ? sinkAheadMs : 0));
    } else if (timing) {
        pa_usec_t usec = 0;
        int negative = 0;
        int r = pa_stream_get_latency(m_stream, &usec, &negative);
        if (r == 0)
            ms = negative ? 0 : int(usec / 1000);
        else
            LOGW("audio: cannot read the output latency: %s", pa_strerror(-r));
    } else if (streamGoodLocked()) {
        // No timing from the server yet: nothing has been heard.
        ms = int(m_written * 1000 / m_bytesPerSecond);
    }
    m_client->unlock();
    return ms;
}

void AudioPlayer::stop() {
    if (!m_client)
        return;
    m_client->lock();
    m_client->setStateHook(nullptr);
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        if (streamGoodLocked()) {
            // Stopping means silence now, not after the queue has played out.
            if (pa_operation* op = pa_stream_flush(m_stream, nullptr, nullptr))
                pa_operation_unref(op);
            else
                LOGW("audio: cannot flush the playback stream: %s", lastError());
        }
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
            pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    m_client->unlock();
    m_client->close();
    m_client.reset();
    m_bytesPerSecond = 0;
    m_frameBytes = 0;
    m_running = false;
    m_latencyUs = -1;
}

} // namespace zya
