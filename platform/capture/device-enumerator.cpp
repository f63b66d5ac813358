#include "capture/device-enumerator.h"

#include "pulse/pulse-client.h"
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
    pulse::PulseClient* client = nullptr; // woken when an answer is in
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
    reading->client->signal();
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* reading = static_cast<Reading*>(userdata);
    if (eol)
        reading->sinksDone = true;
    else if (info)
        reading->outputs.append(device(info->name, info->description));
    reading->client->signal();
}

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* reading = static_cast<Reading*>(userdata);
    if (info) {
        reading->defaultInput = QString::fromUtf8(info->default_source_name ? info->default_source_name : "");
        reading->defaultOutput = QString::fromUtf8(info->default_sink_name ? info->default_sink_name : "");
    }
    reading->serverDone = true;
    reading->client->signal();
}

} // namespace

struct DeviceEnumerator::State {
    DeviceEnumerator* owner = nullptr;
    pulse::PulseClient client;

    // Guarded by the loop's lock (the loop thread's callbacks run under it).
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

    void onContextStateLocked(pa_context_state_t state);
    static void onSubscription(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* self);

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

void DeviceEnumerator::State::onContextStateLocked(pa_context_state_t state) {
    if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state))
        queueLocked(&State::settle);
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

bool DeviceEnumerator::State::startConnectLocked() {
    std::string error;
    if (!client.beginConnectLocked(&error)) {
        logFailure(error.c_str());
        return false;
    }
    return true;
}

void DeviceEnumerator::State::dropContextLocked() {
    if (client.readyLocked()) {
        pa_context_set_subscribe_callback(client.context(), nullptr, nullptr);
        if (pa_operation* op = pa_context_subscribe(client.context(), PA_SUBSCRIPTION_MASK_NULL, nullptr, nullptr))
            pa_operation_unref(op);
    }
    client.dropContextLocked();
}

bool DeviceEnumerator::State::readLocked(Reading* reading) {
    reading->client = &client;
    pa_context* context = client.context();
    if (!client.readyLocked())
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
        done = client.waitLocked(
            [context, reading] {
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
    client.lock();
    pa_context* context = client.context();
    if (!context) {
        client.unlock();
        return;
    }
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        if (connected) { // already set up by an earlier notice
            client.unlock();
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
        client.unlock();
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
        client.unlock();
        return;
    }
    logFailure(pa_strerror(pa_context_errno(context)));
    dropContextLocked();
    client.unlock();
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
    client.lock();
    // Once a connection is on its way, settle() decides: set up, or retry again.
    const bool onItsWay = client.context() || startConnectLocked();
    client.unlock();
    if (onItsWay)
        retry->stop();
}

void DeviceEnumerator::State::refresh() {
    client.lock();
    const bool devices = devicesDirty;
    devicesDirty = serverDirty = false;
    refreshQueued = false;
    client.unlock();
    reread(devices);
}

void DeviceEnumerator::State::reread(bool devices) {
    Reading reading;
    client.lock();
    const bool read = readLocked(&reading);
    client.unlock();
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
    st->client.setStateHook([st](pa_context_state_t state) { st->onContextStateLocked(state); });
    std::string error;
    if (!st->client.startLoop(&error)) {
        LOGE("devices: %s", error.c_str());
        return;
    }
    st->client.lock();
    if (st->startConnectLocked()) {
        const uint64_t deadline = pulse::PulseClient::deadlineAfter(kTimeoutMs);
        if (!st->client.waitReadyLocked(deadline, &error) &&
            PA_CONTEXT_IS_GOOD(pa_context_get_state(st->client.context())))
            LOGW("devices: %s (waited %d ms)", error.c_str(), kTimeoutMs);
    }
    const bool started = st->client.context() != nullptr;
    st->client.unlock();
    if (started)
        st->settle(); // the queued notice that follows finds the work done
    else
        st->retry->start();
}

DeviceEnumerator::~DeviceEnumerator() {
    State* st = m_state.get();
    st->retry->stop();
    if (!st->client.loop())
        return;
    st->client.lock();
    st->stopping = true;
    st->dropContextLocked();
    st->client.unlock();
    st->client.close();
}

bool DeviceEnumerator::isConnected() const { return m_state->connected; }

QList<AudioDevice> DeviceEnumerator::inputDevices() const { return m_state->inputs; }

QList<AudioDevice> DeviceEnumerator::outputDevices() const { return m_state->outputs; }

QString DeviceEnumerator::defaultInputId() const { return m_state->defaultInput; }

QString DeviceEnumerator::defaultOutputId() const { return m_state->defaultOutput; }

void DeviceEnumerator::Update() {
    if (!m_state->client.loop() || !m_state->connected) {
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
