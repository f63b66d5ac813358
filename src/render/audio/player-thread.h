// The thread that runs while playing: it asks the timeline for the next
// frame, waits for the answer (the sound of that frame), mixes and plays it,
// and lets the sound output's fill level, or the clock when there is no
// output, decide when to ask again.
#pragma once

#include "render/audio/audio-frame-data.h"
#include "render/frame-types.h"

#include <QList>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class AudioMixerPlayer;

class PlayerThread : public QThread {
    Q_OBJECT
public:
    // One frame step at 30 frames per second, for pacing without sound.
    static constexpr std::chrono::microseconds kFramePeriod{33333};
    // How long playback waits at its start for a sink that holds the first
    // frames' sound but has not begun to play it; then the pictures go on
    // without it.
    static constexpr std::chrono::milliseconds kSinkStartWait{3000};
    // How often the output is asked meanwhile.
    static constexpr std::chrono::milliseconds kSinkStartPoll{5};
    // The longest wait for the output to play out at the timeline's end.
    static constexpr int64_t kLongestDrain = 2000000; // microseconds

    // Not started; the owner calls start().
    PlayerThread() = default;
    // Stops the loop (waking it once) and joins it.
    ~PlayerThread() override;

    // GUI thread: the timeline's answer to the last request. An answer at
    // or past the last frame emits sig_exit() and keeps nothing.
    void submit(const QList<AudioFrameData>& sounds, int64_t current, int64_t fps, int64_t last);
    // Any thread but this one: ends the loop at once, also while it waits
    // for an answer or for the clock; the step being played is finished.
    void requestStop();

signals:
    // Emitted on this thread, once per step: advance one frame as playback.
    void sig_frontFrameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    // The end of the timeline was reached (emitted on the GUI thread from
    // submit(), or on this thread after the last frame sounded).
    void sig_exit();

protected:
    void run() override;

private:
    struct Step {
        QList<AudioFrameData> sounds;
        int64_t current = 0;
        int64_t fps = 30;
        int64_t last = 0;
    };
    // False when stopping.
    bool waitForAnswer(Step* step);
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);
    void waitForStop();
    // At the start, while the sound output holds the first frames but its
    // sink has not begun: waits (bounded) for it, so that the first
    // frames are heard and the pictures start with them. False when stopping.
    bool waitForSink(AudioMixerPlayer* mixer, std::chrono::steady_clock::time_point until);
    // Sets the sound clock from the step just played.
    void tellClock(const AudioMixerPlayer& mixer, const Step& step);

    std::mutex m_lock; // guards m_stop, m_ready, m_sounds, m_current, m_fps, m_last
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_ready = false;
    QList<AudioFrameData> m_sounds;
    int64_t m_current = 0;
    int64_t m_fps = 30;
    int64_t m_last = 0;
};
