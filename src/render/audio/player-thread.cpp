#include "player-thread.h"

#include "media/media.h"
#include "render/audio/audio-task-manager.h"
#include "render/audio/audio_mixer_player.h"
#include "render/audio/sound-clock.h"

using Clock = std::chrono::steady_clock;

PlayerThread::~PlayerThread() {
    requestStop();
    wait();
}

void PlayerThread::requestStop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
        m_ready = true;
    }
    m_wake.notify_all();
}

void PlayerThread::submit(const QList<AudioFrameData>& sounds, int64_t current, int64_t fps, int64_t last) {
    if (current >= last) {
        emit sig_exit();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_sounds = sounds;
        m_current = current;
        m_fps = fps;
        m_last = last;
        m_ready = true;
    }
    m_wake.notify_one();
}

bool PlayerThread::waitForAnswer(Step* step) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_wake.wait(lock, [this] { return m_ready; });
    if (m_stop)
        return false;
    // Taken out so that decoding and the pacing sleep hold no lock: an
    // answer or a stop from the GUI thread never waits for this step.
    step->sounds.swap(m_sounds);
    m_sounds.clear();
    step->current = m_current;
    step->fps = m_fps;
    step->last = m_last;
    m_ready = false;
    return true;
}

bool PlayerThread::sleepUntil(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_lock);
    return !m_wake.wait_until(lock, deadline, [this] { return m_stop; });
}

void PlayerThread::waitForStop() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_wake.wait(lock, [this] { return m_stop; });
}

bool PlayerThread::waitForSink(AudioMixerPlayer* mixer, Clock::time_point until) {
    while (mixer->waitsForSink() && Clock::now() < until) {
        if (!sleepUntil(Clock::now() + kSinkStartPoll))
            return false;
        if (mixer->waitForStart())
            break;
    }
    return true;
}

void PlayerThread::tellClock(const AudioMixerPlayer& mixer, const Step& step) {
    const int64_t fps = step.fps > 0 ? step.fps : 30;
    int64_t latencyUs = 0;
    Clock::time_point at;
    if (mixer.lastLatency(&latencyUs, &at)) {
        // The step's sound ends at (current + 1) / fps; it is heard once
        // what the output still holds has played.
        const int64_t endUs = (step.current + 1) * 1000000 / fps;
        SoundClock::instance().heard(endUs - latencyUs, fps, at);
    } else if (!mixer.isOutputOpen()) {
        // No sound: the player's own timer keeps time, the step starts now.
        SoundClock::instance().heard(step.current * 1000000 / fps, fps, Clock::now());
    }
    // An output that fills up or waits for its sink says nothing yet.
}

void PlayerThread::run() {
    AudioMixerPlayer* mixer = AudioMixerPlayer::instance();
    {
        AudioTaskManager tasks;
        mixer->open(2, 44100, ff::SF_S16, true);
        Clock::time_point deadline = Clock::now();
        const Clock::time_point sinkStartBy = deadline + kSinkStartWait;
        Step step;
        // Playing starts with the frame under the play head, then steps on.
        int64_t advance = 0;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_stop)
                    break;
            }
            emit sig_frontFrameRequest(MovePlayback, EditPlayback, advance, 30);
            advance = 1;
            if (!waitForAnswer(&step))
                break;
            mixer->begin(step.current, 1, int(step.fps));
            tasks.mix(step.sounds);
            bool pacedBySound = mixer->end();
            if (!pacedBySound && mixer->waitsForSink()) {
                // Stepping on would leave these frames' sound out while
                // the pictures ran ahead of a sink that has not started.
                if (!waitForSink(mixer, sinkStartBy))
                    break;
                // Paced by the sound once the sink has started; not when the
                // wait ran out or the output broke meanwhile.
                pacedBySound = mixer->isOutputOpen() && !mixer->waitsForSink();
            }
            tellClock(*mixer, step);
            // The timeline holds the play head on its last frame; once that
            // frame has sounded there is nothing more to ask for.
            if (step.current + 1 >= step.last) {
                // What the output still holds is heard first: stopping it
                // now would drop the timeline's last tenth of a second.
                int64_t latencyUs = 0;
                Clock::time_point at;
                if (pacedBySound && mixer->lastLatency(&latencyUs, &at) && latencyUs > 0 &&
                    !sleepUntil(at + std::chrono::microseconds(std::min(latencyUs, kLongestDrain))))
                    break;
                emit sig_exit();
                waitForStop();
                break;
            }
            const Clock::time_point now = Clock::now();
            if (pacedBySound) {
                deadline = now;
                continue;
            }
            // Without sound the clock keeps time: one step a frame period
            // after the previous one, not after this step's own work.
            deadline += kFramePeriod;
            if (deadline < now - 3 * kFramePeriod)
                deadline = now; // fell far behind (a stall): go on from here, do not rush
            if (!sleepUntil(deadline))
                break;
        }
    } // the decoders close before the output goes
    SoundClock::instance().stop();
    mixer->stop();
}
