// Playback as the rest of the program sees it: on, off, and the timeline's
// answers. Lives on the GUI thread and is used there only; the player
// thread it owns exists only while playing.
#pragma once

#include "render/audio/audio-frame-data.h"
#include "render/frame-types.h"

#include <QList>
#include <QObject>

#include <cstdint>

class PlayerThread;

class PlayerManager : public QObject {
    Q_OBJECT
public:
    explicit PlayerManager(QObject* parent = nullptr);
    // Stops playback first.
    ~PlayerManager() override;

    // True starts a player thread, false stops and joins it (at once, also
    // while it waits for an answer). Nothing when already in that state.
    void setPlaying(bool playing);
    bool isPlaying() const { return m_playing; }
    // The timeline's answer to the last frame request; dropped when not playing.
    void submit(const QList<AudioFrameData>& sounds, int64_t current, int64_t fps, int64_t last);

signals:
    // The player's request for the next frame (playback, one frame, 30 fps).
    void sig_frontFrameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    // Playback reached the end: whoever shows the play button turns it off.
    void sig_controlPlay();

public slots:
    void slot_exit();

private:
    PlayerThread* m_thread = nullptr; // owned; present only while playing
    bool m_playing = false;
    // Counts player threads, so that a request or an end queued by a thread
    // that was stopped since is not taken for the current one's.
    uint64_t m_generation = 0;
};
