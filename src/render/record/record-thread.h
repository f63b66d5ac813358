// The voice-over recording thread: opens the WAV file, starts the capture
// source on the chosen microphone and, once the microphone gives sound,
// keeps the timeline's play head where the sound being recorded is, in
// 1/30-second frames, for as long as it runs. The recording keeps as much
// sound as the play head moved.
//
// Owned by the RecordManager (GUI thread); destroying it stops the thread,
// the capture and the file, in that order, and joins before returning.
// Its signals are emitted on the recording thread.
#pragma once

#include "render/frame-types.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>

class RecordThread : public QThread {
    Q_OBJECT

public:
    static constexpr int64_t kTickUs = 33333;

    RecordThread(const QString& path, QObject* parent);
    ~RecordThread() override;

    // Stops the capture and the file and joins the thread (GUI thread).
    void stop();
    // The frames the play head is owed: the take has run on by them since
    // the last call. Any thread.
    int64_t takeOwedFrames() { return m_owed.exchange(0); }

signals:
    // Frames are owed (`times` of them when it was sent; take them with
    // takeOwedFrames). Not sent again until they are taken: a play head
    // that cannot keep up skips frames instead of running behind the sound.
    void sig_frameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    void sig_recordError();
    void sig_recordStop();
    // The file takes no more sound; the take ends with what it holds.
    void sig_recordFull();

protected:
    void run() override;

private:
    // Sleeps one tick (cut short by the stop); false when stopping.
    bool sleepTick();

    std::mutex m_stopLock; // guards m_stop
    std::condition_variable m_stopWake;
    bool m_stop = false;
    std::atomic<int64_t> m_owed{0};
    const QString m_path;
};
