#include "pulse/pulse-client.h"

#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/subscribe.h>
#include <pulse/rtclock.h>
#include <pulse/thread-mainloop.h>

#include <cstdlib>

namespace pulse {

namespace {

// Where the library looks for the server, for the error texts.
std::string serverName() {
    const char* server = std::getenv("PULSE_SERVER");
    return server && *server ? std::string("the sound server at ") + server : std::string("the sound server");
}

// The properties that name the application, for the context and each stream.
void setApplicationProperties(pa_proplist* list) {
    pa_proplist_sets(list, PA_PROP_APPLICATION_NAME, kApplicationName);
    pa_proplist_sets(list, PA_PROP_APPLICATION_ID, kApplicationId);
    pa_proplist_sets(list, PA_PROP_APPLICATION_ICON_NAME, kApplicationIcon);
}

} // namespace

PulseClient::PulseClient() = default;

PulseClient::~PulseClient() {
    close();
}

uint64_t PulseClient::deadlineAfter(int ms) {
    return pa_rtclock_now() + uint64_t(ms > 0 ? ms : 0) * 1000;
}

void PulseClient::onContextState(pa_context* context, void* self) {
    auto* client = static_cast<PulseClient*>(self);
    pa_threaded_mainloop_signal(client->m_loop, 0);
    if (context == client->m_context && client->m_stateHook)
        client->m_stateHook(pa_context_get_state(context));
}

bool PulseClient::startLoop(std::string* error) {
    if (m_loop)
        return true;
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        if (error)
            *error = "cannot create the sound main loop";
        return false;
    }
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        if (error)
            *error = "cannot start the sound main loop";
        return false;
    }
    return true;
}

bool PulseClient::beginConnectLocked(std::string* error) {
    dropContextLocked();
    pa_proplist* properties = pa_proplist_new();
    setApplicationProperties(properties);
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), kApplicationName, properties);
    pa_proplist_free(properties);
    if (!m_context) {
        if (error)
            *error = "cannot create a sound server context";
        return false;
    }
    pa_context_set_state_callback(m_context, onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        if (error)
            *error = "no connection to " + serverName() + ": " + errorText();
        dropContextLocked();
        return false;
    }
    return true;
}

bool PulseClient::waitLocked(const std::function<bool()>& ready, uint64_t deadlineUs) {
    if (ready())
        return true;
    struct Timer {
        pa_threaded_mainloop* loop;
        bool expired = false;
    } timer {m_loop};
    // The loop's own timer ends a wait that no event ends.
    pa_time_event* event = m_context ? pa_context_rttime_new(
                            m_context, pa_usec_t(deadlineUs),
                            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
                                auto* t = static_cast<Timer*>(userdata);
                                t->expired = true;
                                pa_threaded_mainloop_signal(t->loop, 0);
                            },
                            &timer)
                      : nullptr;
    if (!event)
        return ready();
    while (!ready() && !timer.expired)
        pa_threaded_mainloop_wait(m_loop);
    pa_threaded_mainloop_get_api(m_loop)->time_free(event);
    return ready();
}

bool PulseClient::waitReadyLocked(uint64_t deadlineUs, std::string* error) {
    if (!m_context) {
        if (error)
            *error = "not connecting to a sound server";
        return false;
    }
    waitLocked(
        [this] {
            const pa_context_state_t s = pa_context_get_state(m_context);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        },
        deadlineUs);
    const pa_context_state_t state = pa_context_get_state(m_context);
    if (state == PA_CONTEXT_READY)
        return true;
    if (error)
        *error = PA_CONTEXT_IS_GOOD(state) ? serverName() + " did not answer in time"
                                           : "no connection to " + serverName() + ": " + errorText();
    return false;
}

bool PulseClient::connect(int timeoutMs, std::string* error) {
    close();
    if (!startLoop(error))
        return false;
    lock();
    const bool ok = beginConnectLocked(error) && waitReadyLocked(deadlineAfter(timeoutMs), error);
    unlock();
    if (!ok)
        close();
    return ok;
}

void PulseClient::dropContextLocked() {
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void PulseClient::close() {
    if (!m_loop)
        return;
    lock();
    dropContextLocked();
    unlock();
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
}

void PulseClient::lock() { pa_threaded_mainloop_lock(m_loop); }

void PulseClient::unlock() { pa_threaded_mainloop_unlock(m_loop); }

void PulseClient::signal() { pa_threaded_mainloop_signal(m_loop, 0); }

pa_stream* PulseClient::newStreamLocked(const char* name, const char* role, const pa_sample_spec* spec,
                                        const pa_channel_map* map) {
    if (!m_context)
        return nullptr;
    pa_proplist* properties = pa_proplist_new();
    setApplicationProperties(properties);
    if (role)
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, role);
    pa_stream* stream = pa_stream_new_with_proplist(m_context, name, spec, map, properties);
    pa_proplist_free(properties);
    return stream;
}

bool PulseClient::readyLocked() const {
    return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

const char* PulseClient::errorText() const {
    return pa_strerror(m_context ? pa_context_errno(m_context) : PA_ERR_UNKNOWN);
}

} // namespace pulse
