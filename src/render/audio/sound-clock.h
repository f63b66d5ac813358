// The clock of playback: which instant of the timeline is being heard now,
// taken from the sound output (what was written less what the sink still
// holds), or from the player's own timer when there is no output. The
// preview shows the picture of the instant being heard.
//
// Any thread: the player sets it after each step, the render thread and the
// preview items read it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

class SoundClock {
public:
    using Clock = std::chrono::steady_clock;

    // A reading further than this from the running clock is taken as it is
    // (a jump, an underrun, the start); nearer ones are smoothed in.
    static constexpr int64_t kJumpUs = 40000;
    // Each reading moves the smoothed clock by this share of its error.
    static constexpr int kSmoothing = 8;

    static SoundClock& instance();

    // At `at`, the sound of timeline time `heardUs` (microseconds from the
    // timeline's start) was being heard. Frames are counted at fps.
    void heard(int64_t heardUs, int64_t fps, Clock::time_point at);
    // Playback ended: no clock until the next reading.
    void stop();
    bool running() const;

    // Timeline microseconds heard at `when`, smoothed (for pacing).
    bool positionAt(Clock::time_point when, int64_t* us) const;
    // The same from the newest reading alone (for measuring).
    bool measuredAt(Clock::time_point when, int64_t* us) const;

    // How long a frame cycle takes from its start to the swap: pictures are
    // chosen for the instant they will reach the screen.
    void setDrawLead(std::chrono::microseconds lead);
    // The frame whose picture is due in a cycle starting now; false when
    // the clock does not run.
    bool dueFrame(int64_t* frame, Clock::time_point now = Clock::now()) const;
    // When the cycle for the frame after the one due at `now` should start;
    // false when the clock does not run.
    bool nextDue(Clock::time_point now, Clock::time_point* when) const;

    // Called (outside the clock's lock) when the clock starts or stops: a
    // sleeping frame cycle must wake to follow it, as no picture change
    // may ask for a frame until the first picture falls due.
    void setOnStartStop(std::function<void()> wake);

    // Frame number of timeline time `us` at fps (rounded down).
    static int64_t frameOf(int64_t us, int64_t fps);

private:
    SoundClock() = default;
    int64_t smoothedAtLocked(Clock::time_point when) const;

    mutable std::mutex m_lock; // guards everything below
    bool m_running = false;
    int64_t m_fps = 30;
    int64_t m_anchorUs = 0; // the smoothed clock read m_anchorUs at m_anchorAt
    Clock::time_point m_anchorAt;
    int64_t m_measuredUs = 0; // the newest reading
    Clock::time_point m_measuredAt;
    std::chrono::microseconds m_lead {0};
    std::function<void()> m_wake;
};
