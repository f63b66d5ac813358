#include "sound-clock.h"

#include <algorithm>

using namespace std::chrono;

SoundClock& SoundClock::instance() {
    static SoundClock clock;
    return clock;
}

int64_t SoundClock::frameOf(int64_t us, int64_t fps) {
    const int64_t scaled = us * fps;
    // Rounded down also before the timeline's start.
    return scaled >= 0 ? scaled / 1000000 : -((-scaled + 999999) / 1000000);
}

int64_t SoundClock::smoothedAtLocked(Clock::time_point when) const {
    return m_anchorUs + duration_cast<microseconds>(when - m_anchorAt).count();
}

void SoundClock::setOnStartStop(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_wake = std::move(wake);
}

void SoundClock::heard(int64_t heardUs, int64_t fps, Clock::time_point at) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_fps = fps > 0 ? fps : 30;
    m_measuredUs = heardUs;
    m_measuredAt = at;
    if (!m_running) {
        m_running = true;
        m_anchorUs = heardUs;
        m_anchorAt = at;
        const std::function<void()> wake = m_wake;
        lock.unlock();
        if (wake)
            wake();
        return;
    }
    const int64_t predicted = smoothedAtLocked(at);
    const int64_t error = heardUs - predicted;
    m_anchorUs = (error > kJumpUs || error < -kJumpUs) ? heardUs : predicted + error / kSmoothing;
    m_anchorAt = at;
}

void SoundClock::stop() {
    std::unique_lock<std::mutex> lock(m_lock);
    const bool was = m_running;
    m_running = false;
    const std::function<void()> wake = m_wake;
    lock.unlock();
    // The pictures still waiting for the clock are shown now.
    if (was && wake)
        wake();
}

bool SoundClock::running() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_running;
}

bool SoundClock::positionAt(Clock::time_point when, int64_t* us) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_running)
        return false;
    *us = smoothedAtLocked(when);
    return true;
}

bool SoundClock::measuredAt(Clock::time_point when, int64_t* us) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_running)
        return false;
    *us = m_measuredUs + duration_cast<microseconds>(when - m_measuredAt).count();
    return true;
}

void SoundClock::setDrawLead(microseconds lead) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_lead = lead;
}

bool SoundClock::dueFrame(int64_t* frame, Clock::time_point now) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_running)
        return false;
    *frame = frameOf(smoothedAtLocked(now + m_lead), m_fps);
    return true;
}

bool SoundClock::nextDue(Clock::time_point now, Clock::time_point* when) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_running)
        return false;
    const int64_t next = frameOf(smoothedAtLocked(now + m_lead), m_fps) + 1;
    // The instant that frame starts to be heard, less the lead.
    const int64_t scaled = next * 1000000;
    const int64_t startUs = scaled >= 0 ? (scaled + m_fps - 1) / m_fps : -(-scaled / m_fps);
    *when = m_anchorAt + microseconds(startUs - m_anchorUs) - m_lead;
    return true;
}
