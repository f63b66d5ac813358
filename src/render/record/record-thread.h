// The voice-over recording thread: opens the WAV file, starts the capture
// source on the chosen microphone and, once the microphone gives sound,
// moves the timeline's play head one 1/30-second frame per tick for as long
// as it runs. The recording keeps as much sound as the play head moved.
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

signals:
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
    const QString m_path;
};
