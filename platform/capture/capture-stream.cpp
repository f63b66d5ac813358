#include "capture/capture-stream.h"

#include "pulse/pulse-client.h"
#include "value/interface.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstring>

namespace cap {

namespace {

// What the source tells about itself before the stream is made.
struct SourceFacts {
    pulse::PulseClient* client = nullptr; // woken when the answer is in
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
    facts->client->signal();
}

} // namespace

CaptureStream::CaptureStream() = default;

CaptureStream::~CaptureStream() {
    close();
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
    stream->m_client->signal();
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
    m_data = data;
    m_lost = lost;
    m_lostReported = false;
    m_startedAtUs = 0;
    m_client = std::make_unique<pulse::PulseClient>();
    if (!m_client->connect(kTimeoutMs, error)) {
        close();
        return false;
    }
    m_client->lock();
    auto fail = [this, error](const std::string& why) {
        if (error)
            *error = why;
        m_client->unlock();
        close();
        return false;
    };
    pa_context* context = m_client->context();
    // A server that goes away ends a running recording.
    m_client->setStateHook([this](pa_context_state_t state) {
        if (!PA_CONTEXT_IS_GOOD(state))
            markLost();
    });
    const uint64_t deadline = pulse::PulseClient::deadlineAfter(kTimeoutMs);
    auto waitLocked = [this](const std::function<bool()>& ready, uint64_t until) {
        return m_client->waitLocked(ready, until);
    };
    // The source's own rate and channels, so that the samples are kept as heard.
    SourceFacts facts;
    facts.client = m_client.get();
    const std::string lookup = deviceId.empty() || deviceId == "default" ? "@DEFAULT_SOURCE@" : deviceId;
    pa_operation* op = pa_context_get_source_info_by_name(context, lookup.c_str(), onSourceInfo, &facts);
    if (!op)
        return fail(pa_strerror(pa_context_errno(context)));
    waitLocked([&facts, op, context] { return facts.done || pa_operation_get_state(op) != PA_OPERATION_RUNNING ||
                                           !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)); },
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
    m_stream = m_client->newStreamLocked(
        "Korvel voice-over", pulse::kRoleRecording, &spec,
        pa_channel_map_valid(&facts.map) && facts.map.channels == spec.channels ? &facts.map : nullptr);
    if (!m_stream)
        return fail(pa_strerror(pa_context_errno(context)));
    pa_stream_set_state_callback(m_stream, onStreamState, this);
    pa_stream_set_read_callback(m_stream, onStreamRead, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr); // -1: the server's choice
    attr.fragsize = uint32_t(pa_usec_to_bytes(20000, &spec));
    // A source that goes away ends the recording instead of it going on
    // from another microphone.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(m_stream, facts.name.c_str(), &attr, flags) < 0)
        return fail(pa_strerror(pa_context_errno(context)));
    waitLocked([this] { return pa_stream_get_state(m_stream) != PA_STREAM_CREATING; }, deadline);
    if (pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return fail(pa_stream_get_state(m_stream) == PA_STREAM_CREATING
                        ? std::string("the recording stream did not start in time")
                        : std::string(pa_strerror(pa_context_errno(context))));
    m_recording = true;
    m_client->unlock();
    return true;
}

void CaptureStream::close() {
    m_recording = false;
    if (m_client && m_client->loop()) {
        m_client->lock();
        m_client->setStateHook(nullptr);
        if (m_stream) {
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_set_read_callback(m_stream, nullptr, nullptr);
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
        m_client->unlock();
    }
    m_client.reset(); // stops the loop: no callback runs after this
    m_data = nullptr;
    m_lost = nullptr;
    m_startedAtUs = 0;
}

} // namespace cap
