#include "capture/device-enumerator.h"

#include "value/interface.h"

#include <pulse/pulseaudio.h>

#include <QTimer>

#include <cstdint>

namespace cap {

namespace {

// How often a missing or lost server is asked for again.
constexpr int kRetryMs = 3000;

// The answers of one reading of the server, filled by the loop thread's
// callbacks while the owner waits on the loop (its lock held).
struct Reading {
    pa_threaded_mainloop* loop = nullptr;
    bool sourcesDone = false;
    bool sinksDone = false;
    bool serverDone = false;
    QList<AudioDevice> inputs;
    QList<AudioDevice> outputs;
    QString defaultInput;
    QString defaultOutput;
};

AudioDevice device(const char* name, const char* description) {
    AudioDevice d;
    d.id = QString::fromUtf8(name ? name : "");
    d.name = description && *description ? QString::fromUtf8(description) : d.id;
    return d;
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* reading = static_cast<Reading*>(userdata);
    if (eol)
        reading->sourcesDone = true;
    else if (info && info->monitor_of_sink == PA_INVALID_INDEX) // a sink's monitor hears playback, not a voice
        reading->inputs.append(device(info->name, info->description));
    pa_threaded_mainloop_signal(reading->loop, 0);
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* reading = static_cast<Reading*>(userdata);
    if (eol)
        reading->sinksDone = true;
    else if (info)
        reading->outputs.append(device(info->name, info->description));
    pa_threaded_mainloop_signal(reading->loop, 0);
}

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* reading = static_cast<Reading*>(userdata);
    if (info) {
        reading->defaultInput = QString::fromUtf8(info->default_source_name ? info->default_source_name : "");
        reading->defaultOutput = QString::fromUtf8(info->default_sink_name ? info->default_sink_name : "");
    }
    reading->serverDone = true;
    pa_threaded_mainloop_signal(reading->loop, 0);
}

struct WaitTimer {
    pa_threaded_mainloop* loop;
    bool expired = false;
};

void onWaitTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* timer = static_cast<WaitTimer*>(userdata);
    timer->expired = true;
    pa_threaded_mainloop_signal(timer->loop, 0);
}

} // namespace

struct DeviceEnumerator::State {
    DeviceEnumerator* owner = nullptr;
    pa_threaded_mainloop* loop = nullptr;

    // Guarded by the loop's lock (the loop thread's callbacks run under it).
    pa_context* context = nullptr;
    bool stopping = false;      // the destructor runs: callbacks queue nothing more
    bool refreshQueued = false; // a refresh is on its way to the owner's thread
    bool devicesDirty = false;  // a source or sink came, went or changed
    bool serverDirty = false;   // the server's defaults may have changed

    // The owner's thread only.
    bool connected = false;
    bool failureLogged = false; // one log line per outage
    QList<AudioDevice> inputs;
    QList<AudioDevice> outputs;
    QString defaultInput;
    QString defaultOutput;
    QTimer* retry = nullptr;

    static void onContextState(pa_context* context, void* self);
    static void onSubscription(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* self);

    template <class Ready> bool waitLocked(Ready ready, pa_usec_t deadline);
    bool startConnectLocked();
    void dropContextLocked();
    bool readLocked(Reading* reading);
    void queueLocked(void (DeviceEnumerator::State::*what)());

    // Owner's thread, loop unlocked.
    void settle();
    void refresh();
    void retryConnect();
    void reread(bool devices);
    void logFailure(const char* why);
};

void DeviceEnumerator::State::queueLocked(void (DeviceEnumerator::State::*what)()) {
    if (stopping)
        return;
    // Posted events for a destroyed owner are dropped by Qt, and the
    // destructor sets `stopping` under the lock before anything is freed.
    QMetaObject::invokeMethod(owner, [this, what] { (this->*what)(); }, Qt::QueuedConnection);
}

void DeviceEnumerator::State::onContextState(pa_context* context, void* self) {
    auto* st = static_cast<State*>(self);
    pa_threaded_mainloop_signal(st->loop, 0);
    if (context != st->context)
        return;
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state))
        st->queueLocked(&State::settle);
}

void DeviceEnumerator::State::onSubscription(pa_context*, pa_subscription_event_type_t type, uint32_t, void* self) {
    auto* st = static_cast<State*>(self);
    const unsigned facility = unsigned(type) & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE || facility == PA_SUBSCRIPTION_EVENT_SINK)
        st->devicesDirty = true;
    else if (facility == PA_SUBSCRIPTION_EVENT_SERVER)
        st->serverDirty = true;
    else
        return;
    // One refresh answers any number of events that arrive before it runs.
    if (!st->refreshQueued) {
        st->refreshQueued = true;
        st->queueLocked(&State::refresh);
    }
}

template <class Ready> bool DeviceEnumerator::State::waitLocked(Ready ready, pa_usec_t deadline) {
    if (ready())
        return true;
    WaitTimer timer {loop};
    pa_time_event* event = pa_context_rttime_new(context, deadline, onWaitTimer, &timer);
    if (!event) {
        LOGE("devices: cannot arm the wait timer: %s", pa_strerror(pa_context_errno(context)));
        return false;
    }
    while (!ready() && !timer.expired)
        pa_threaded_mainloop_wait(loop);
    pa_threaded_mainloop_get_api(loop)->time_free(event);
    return ready();
}

bool DeviceEnumerator::State::startConnectLocked() {
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Korvel devices");
    if (!context) {
        logFailure("cannot create a sound server context");
        return false;
    }
    pa_context_set_state_callback(context, onContextState, this);
    // Never start a server of our own; PULSE_SERVER and the client
    // configuration say where it is.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        logFailure(pa_strerror(pa_context_errno(context)));
        dropContextLocked();
        return false;
    }
    return true;
}

void DeviceEnumerator::State::dropContextLocked() {
    if (!context)
        return;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    if (pa_context_get_state(context) == PA_CONTEXT_READY) {
        if (pa_operation* op = pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_NULL, nullptr, nullptr))
            pa_operation_unref(op);
    }
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
}

bool DeviceEnumerator::State::readLocked(Reading* reading) {
    reading->loop = loop;
    if (!context || pa_context_get_state(context) != PA_CONTEXT_READY)
        return false;
    const pa_usec_t deadline = pa_rtclock_now() + pa_usec_t(kTimeoutMs) * 1000;
    pa_operation* ops[] = {
        pa_context_get_source_info_list(context, onSourceInfo, reading),
        pa_context_get_sink_info_list(context, onSinkInfo, reading),
        pa_context_get_server_info(context, onServerInfo, reading),
    };
    const bool issued = ops[0] && ops[1] && ops[2];
    bool done = false;
    if (issued) {
        done = waitLocked(
            [this, reading] {
                return (reading->sourcesDone && reading->sinksDone && reading->serverDone) ||
                       pa_context_get_state(context) != PA_CONTEXT_READY;
            },
            deadline);
        done = done && reading->sourcesDone && reading->sinksDone && reading->serverDone;
    }
    for (pa_operation* op : ops) {
        if (!op)
            continue;
        pa_operation_cancel(op); // a late answer must not write into *reading
        pa_operation_unref(op);
    }
    if (!done)
        LOGW("devices: reading the sound server's devices failed: %s",
             issued && pa_context_get_state(context) == PA_CONTEXT_READY ? "timed out"
                                                                          : pa_strerror(pa_context_errno(context)));
    return done;
}

void DeviceEnumerator::State::logFailure(const char* why) {
    if (failureLogged)
        return;
    failureLogged = true;
    LOGW("devices: no sound server: %s; trying again every %d ms", why, kRetryMs);
}

void DeviceEnumerator::State::settle() {
    pa_threaded_mainloop_lock(loop);
    if (!context) {
        pa_threaded_mainloop_unlock(loop);
        return;
    }
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        if (connected) { // already set up by an earlier notice
            pa_threaded_mainloop_unlock(loop);
            return;
        }
        pa_context_set_subscribe_callback(context, onSubscription, this);
        const auto mask =
            pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
        if (pa_operation* op = pa_context_subscribe(context, mask, nullptr, nullptr))
            pa_operation_unref(op);
        else
            LOGW("devices: cannot follow the sound server's changes: %s", pa_strerror(pa_context_errno(context)));
        Reading reading;
        const bool read = readLocked(&reading);
        pa_threaded_mainloop_unlock(loop);
        connected = true;
        failureLogged = false;
        retry->stop();
        if (read) {
            inputs = reading.inputs;
            outputs = reading.outputs;
            defaultInput = reading.defaultInput;
            defaultOutput = reading.defaultOutput;
        }
        emit owner->DeviceCollectionChanged();
        return;
    }
    if (PA_CONTEXT_IS_GOOD(state)) { // still on its way
        pa_threaded_mainloop_unlock(loop);
        return;
    }
    logFailure(pa_strerror(pa_context_errno(context)));
    dropContextLocked();
    pa_threaded_mainloop_unlock(loop);
    const bool wasConnected = connected;
    connected = false;
    inputs.clear();
    outputs.clear();
    defaultInput.clear();
    defaultOutput.clear();
    if (wasConnected)
        emit owner->DeviceCollectionChanged();
    retry->start();
}

void DeviceEnumerator::State::retryConnect() {
    pa_threaded_mainloop_lock(loop);
    // Once a connection is on its way, settle() decides: set up, or retry again.
    const bool onItsWay = context || startConnectLocked();
    pa_threaded_mainloop_unlock(loop);
    if (onItsWay)
        retry->stop();
}

void DeviceEnumerator::State::refresh() {
    pa_threaded_mainloop_lock(loop);
    const bool devices = devicesDirty;
    devicesDirty = serverDirty = false;
    refreshQueued = false;
    pa_threaded_mainloop_unlock(loop);
    reread(devices);
}

void DeviceEnumerator::State::reread(bool devices) {
    Reading reading;
    pa_threaded_mainloop_lock(loop);
    const bool read = readLocked(&reading);
    pa_threaded_mainloop_unlock(loop);
    if (read) {
        inputs = reading.inputs;
        outputs = reading.outputs;
    }
    if (devices)
        emit owner->DeviceCollectionChanged();
    if (!read)
        return;
    if (reading.defaultInput != defaultInput)
        owner->OnDefaultInputDeviceChanged(reading.defaultInput);
    if (reading.defaultOutput != defaultOutput)
        owner->OnDefaultOutputDeviceChanged(reading.defaultOutput);
}

DeviceEnumerator::DeviceEnumerator(QObject* parent) : QObject(parent), m_state(new State) {
    State* st = m_state.get();
    st->owner = this;
    st->retry = new QTimer(this);
    st->retry->setInterval(kRetryMs);
    connect(st->retry, &QTimer::timeout, this, [st] { st->retryConnect(); });
    st->loop = pa_threaded_mainloop_new();
    if (!st->loop) {
        LOGE("devices: cannot create the sound main loop");
        return;
    }
    if (pa_threaded_mainloop_start(st->loop) < 0) {
        LOGE("devices: cannot start the sound main loop");
        pa_threaded_mainloop_free(st->loop);
        st->loop = nullptr;
        return;
    }
    pa_threaded_mainloop_lock(st->loop);
    if (st->startConnectLocked()) {
        const pa_usec_t deadline = pa_rtclock_now() + pa_usec_t(kTimeoutMs) * 1000;
        st->waitLocked(
            [st] {
                const pa_context_state_t s = pa_context_get_state(st->context);
                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
            },
            deadline);
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(st->context)) &&
            pa_context_get_state(st->context) != PA_CONTEXT_READY)
            LOGW("devices: the sound server did not answer within %d ms", kTimeoutMs);
    }
    const bool started = st->context != nullptr;
    pa_threaded_mainloop_unlock(st->loop);
    if (started)
        st->settle(); // the queued notice that follows finds the work done
    else
        st->retry->start();
}

DeviceEnumerator::~DeviceEnumerator() {
    State* st = m_state.get();
    st->retry->stop();
    if (!st->loop)
        return;
    pa_threaded_mainloop_lock(st->loop);
    st->stopping = true;
    st->dropContextLocked();
    pa_threaded_mainloop_unlock(st->loop);
    pa_threaded_mainloop_stop(st->loop);
    pa_threaded_mainloop_free(st->loop);
    st->loop = nullptr;
}

bool DeviceEnumerator::isConnected() const { return m_state->connected; }

QList<AudioDevice> DeviceEnumerator::inputDevices() const { return m_state->inputs; }

QList<AudioDevice> DeviceEnumerator::outputDevices() const { return m_state->outputs; }

QString DeviceEnumerator::defaultInputId() const { return m_state->defaultInput; }

QString DeviceEnumerator::defaultOutputId() const { return m_state->defaultOutput; }

void DeviceEnumerator::Update() {
    if (!m_state->loop || !m_state->connected) {
        emit DeviceCollectionChanged();
        return;
    }
    m_state->reread(true);
}

void DeviceEnumerator::OnDefaultInputDeviceChanged(QString deviceId) {
    m_state->defaultInput = deviceId;
    emit DefaultInputDeviceChanged();
}

void DeviceEnumerator::OnDefaultOutputDeviceChanged(QString deviceId) {
    m_state->defaultOutput = deviceId;
    emit DefaultOutputDeviceChanged();
}

} // namespace cap
