// One client of the desktop's sound server: a PulseAudio threaded main loop
// and a context on it, with the connect, the bounded wait for the server and
// the teardown that playback, capture and the device list all need.
//
// The owner calls everything from its own thread. Calls marked "locked"
// need the loop's lock (lock()/unlock(), or a callback of the loop, which
// runs with it held). The state hook runs on the loop's thread, locked.
// Never starts a sound server: PULSE_SERVER and the client configuration
// say where it is, and without one connect() fails with the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <pulse/context.h>
#include <pulse/stream.h>

struct pa_threaded_mainloop;

namespace pulse {

// How the desktop's mixer names Korvel's streams: the application's name,
// its desktop id and the icon its launcher entry uses.
constexpr const char* kApplicationName = "Korvel";
constexpr const char* kApplicationId = "io.github.korvel.Korvel";
constexpr const char* kApplicationIcon = "io.github.korvel.Korvel";
// Media roles of the streams.
constexpr const char* kRolePlayback = "video";       // the preview's sound
constexpr const char* kRoleRecording = "production"; // the voice-over microphone

class PulseClient {
public:
    // How long connect() waits for the server by default.
    static constexpr int kConnectTimeoutMs = 2000;

    PulseClient();
    ~PulseClient(); // close()
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    // Starts the loop (once), makes a context and connects it, then waits
    // up to timeoutMs for the server. True when it is ready; false with
    // `error` saying why (no server there, refused, timed out), and then
    // nothing is left running.
    bool connect(int timeoutMs, std::string* error);

    // The parts of connect(), for an owner that retries in the background:
    // starts the loop thread; false when it cannot.
    bool startLoop(std::string* error);
    // Locked: makes a context and starts connecting it, without waiting.
    bool beginConnectLocked(std::string* error);
    // Locked: waits until the context is ready or has failed, or the
    // deadline (deadlineAfter()) passes. True when ready.
    bool waitReadyLocked(uint64_t deadlineUs, std::string* error);
    // Locked: waits (the loop's own timer bounds it) until ready() holds or
    // the deadline passes; returns ready().
    bool waitLocked(const std::function<bool()>& ready, uint64_t deadlineUs);
    // Locked: disconnects and frees the context; the loop keeps running.
    void dropContextLocked();
    // Drops the context, stops and frees the loop. No callback runs after
    // it returns. Safe to call twice. Not locked.
    void close();

    void lock();
    void unlock();
    // Locked: wakes whoever waits on the loop (callbacks call it).
    void signal();

    // Called, locked on the loop thread, after every change of the
    // context's state (the loop is woken first). Set before connecting.
    void setStateHook(std::function<void(pa_context_state_t)> hook) { m_stateHook = std::move(hook); }

    pa_threaded_mainloop* loop() const { return m_loop; }
    pa_context* context() const { return m_context; }
    // Locked: a new stream on the ready context, carrying the application's
    // properties and the media role. Null when it cannot be made.
    pa_stream* newStreamLocked(const char* name, const char* role, const pa_sample_spec* spec,
                               const pa_channel_map* map);
    // Locked: the context is connected and ready.
    bool readyLocked() const;
    // The server's text for the context's last error.
    const char* errorText() const;
    // pa_rtclock_now() + ms, for the waits.
    static uint64_t deadlineAfter(int ms);

private:
    static void onContextState(pa_context* context, void* self);

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr; // used under the loop's lock once the loop runs
    std::function<void(pa_context_state_t)> m_stateHook;
};

} // namespace pulse
