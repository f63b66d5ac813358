#include "capture/capture-stream.h"

#include "value/interface.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstring>

namespace cap {

namespace {

// What the source tells about itself before the stream is made.
struct SourceFacts {
    pa_threaded_mainloop* loop = nullptr; // woken when the answer is in
    bool done = false;
    bool found = false;
    pa_sample_spec spec {};
    pa_channel_map map {};
    std::string name;
    std::string description;
};

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* facts = static_cast<SourceFacts*>(userdata);
    if (eol) {
        facts->done = true;
    } else if (info && !facts->found) {
        facts->found = true;
        facts->spec = info->sample_spec;
        facts->map = info->channel_map;
        facts->name = info->name ? info->name : "";
        facts->description = info->description ? info->description : facts->name;
    }
    pa_threaded_mainloop_signal(facts->loop, 0);
}

} // namespace

CaptureStream::CaptureStream() = default;

CaptureStream::~CaptureStream() {
    close();
}

void CaptureStream::onContextState(pa_context* context, void* self) {
    auto* stream = static_cast<CaptureStream*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state))
        stream->markLost();
    pa_threaded_mainloop_signal(stream->m_loop, 0);
}

void CaptureStream::onStreamState(pa_stream* s, void* self) {
    auto* stream = static_cast<CaptureStream*>(self);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_READY && stream->m_startedAtUs.load() == 0) {
        // The source hands the stream what it captures from now on.
        stream->m_startedAtUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
    }
    if (!PA_STREAM_IS_GOOD(state))
        stream->markLost();
    pa_threaded_mainloop_signal(stream->m_loop, 0);
}

void CaptureStream::onStreamRead(pa_stream* s, size_t, void* self) {
    auto* stream = static_cast<CaptureStream*>(self);
    // Everything the server has for us, fragment by fragment.
    for (;;) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0) {
            LOGW("capture: reading the recording stream failed: %s",
                 pa_strerror(pa_context_errno(pa_stream_get_context(s))));
            return;
        }
        if (bytes == 0)
            return;
        // A hole (data null) is a gap the server could not fill: nothing to keep.
        if (data && stream->m_data)
            stream->m_data(data, bytes);
        pa_stream_drop(s);
    }
}

void CaptureStream::markLost() {
    // Only a stream that ran can be lost; a failing open reports by its result.
    if (!m_recording.exchange(false))
        return;
    if (!m_lostReported.exchange(true) && m_lost)
        m_lost();
}

bool CaptureStream::open(const std::string& deviceId, const DataCallback& data, const LostCallback& lost,
                         CaptureFormat* format, std::string* description, std::string* error) {
    close();
    auto fail = [this, error](const std::string& why) {
        if (error)
            *error = why;
        if (m_loop)
            pa_threaded_mainloop_unlock(m_loop);
        close();
        return false;
    };
    m_data = data;
    m_lost = lost;
    m_lostReported = false;
    m_startedAtUs = 0;
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        if (error)
            *error = "cannot create the sound main loop";
        return false;
    }
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Korvel recording");
    if (!m_context) {
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        if (error)
            *error = "cannot create a sound server context";
        return false;
    }
    pa_context_set_state_callback(m_context, onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        const std::string why = pa_strerror(pa_context_errno(m_context));
        pa_context_unref(m_context);
        m_context = nullptr;
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        if (error)
            *error = why;
        return false;
    }
    pa_threaded_mainloop_lock(m_loop);
    if (pa_threaded_mainloop_start(m_loop) < 0)
        return fail("cannot start the sound main loop");

    const uint64_t deadline = pa_rtclock_now() + uint64_t(kTimeoutMs) * 1000;
    if (!waitLocked([this] { return pa_context_get_state(m_context) == PA_CONTEXT_READY ||
                                    !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)); },
                    deadline) ||
        pa_context_get_state(m_context) != PA_CONTEXT_READY)
        return fail(PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) ? "the sound server did not answer in time"
                                                                         : pa_strerror(pa_context_errno(m_context)));
    // The source's own rate and channels, so that the samples are kept as heard.
    SourceFacts facts;
    facts.loop = m_loop;
    const std::string lookup = deviceId.empty() || deviceId == "default" ? "@DEFAULT_SOURCE@" : deviceId;
    pa_operation* op = pa_context_get_source_info_by_name(m_context, lookup.c_str(), onSourceInfo, &facts);
    if (!op)
        return fail(pa_strerror(pa_context_errno(m_context)));
    waitLocked([&facts, op, this] { return facts.done || pa_operation_get_state(op) != PA_OPERATION_RUNNING ||
                                           !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)); },
               deadline);
    pa_operation_cancel(op); // a late answer must not write into `facts`
    pa_operation_unref(op);
    if (!facts.found)
        return fail(std::string("no capture source named ") + lookup);

    pa_sample_spec spec;
    spec.format = PA_SAMPLE_FLOAT32LE;
    spec.rate = facts.spec.rate;
    spec.channels = facts.spec.channels;
    if (!pa_sample_spec_valid(&spec))
        return fail("the source's sample format is not usable");
    // Known before the first fragment arrives.
    if (format) {
        format->rate = int(spec.rate);
        format->channels = int(spec.channels);
    }
    if (description)
        *description = facts.description;
    m_stream = pa_stream_new(m_context, "Korvel voice-over", &spec,
                             pa_channel_map_valid(&facts.map) && facts.map.channels == spec.channels ? &facts.map
                                                                                                    : nullptr);
    if (!m_stream)
        return fail(pa_strerror(pa_context_errno(m_context)));
    pa_stream_set_state_callback(m_stream, onStreamState, this);
    pa_stream_set_read_callback(m_stream, onStreamRead, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr); // -1: the server's choice
    attr.fragsize = uint32_t(pa_usec_to_bytes(20000, &spec));
    // A source that goes away ends the recording instead of it going on
    // from another microphone.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(m_stream, facts.name.c_str(), &attr, flags) < 0)
        return fail(pa_strerror(pa_context_errno(m_context)));
    waitLocked([this] { return pa_stream_get_state(m_stream) != PA_STREAM_CREATING; }, deadline);
    if (pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return fail(pa_stream_get_state(m_stream) == PA_STREAM_CREATING
                        ? std::string("the recording stream did not start in time")
                        : std::string(pa_strerror(pa_context_errno(m_context))));
    m_recording = true;
    pa_threaded_mainloop_unlock(m_loop);
    return true;
}

bool CaptureStream::waitLocked(const std::function<bool()>& ready, uint64_t deadlineUs) {
    if (ready())
        return true;
    // The loop signals on every state change; its own timer ends the wait.
    struct Timer {
        pa_threaded_mainloop* loop;
        bool expired = false;
    } timer {m_loop};
    pa_time_event* event = pa_context_rttime_new(
        m_context, pa_usec_t(deadlineUs),
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
            auto* t = static_cast<Timer*>(userdata);
            t->expired = true;
            pa_threaded_mainloop_signal(t->loop, 0);
        },
        &timer);
    if (!event)
        return ready();
    while (!ready() && !timer.expired)
        pa_threaded_mainloop_wait(m_loop);
    pa_threaded_mainloop_get_api(m_loop)->time_free(event);
    return ready();
}

void CaptureStream::close() {
    m_recording = false;
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
    m_data = nullptr;
    m_lost = nullptr;
    m_startedAtUs = 0;
}

} // namespace cap
