#include "player-manager.h"

#include "render/audio/player-thread.h"

PlayerManager::PlayerManager(QObject* parent) : QObject(parent) {
    qRegisterMetaType<MoveType>("MoveType");
    qRegisterMetaType<EditType>("EditType");
    qRegisterMetaType<int64_t>("int64_t");
}

PlayerManager::~PlayerManager() {
    setPlaying(false);
}

void PlayerManager::setPlaying(bool playing) {
    if (playing == m_playing)
        return;
    if (!playing) {
        delete m_thread; // wakes and joins it
        m_thread = nullptr;
        m_playing = false;
        return;
    }
    m_playing = true;
    const uint64_t generation = ++m_generation;
    m_thread = new PlayerThread;
    // Requests come from the player thread and are queued to this thread.
    connect(m_thread, &PlayerThread::sig_frontFrameRequest, this,
            [this, generation](MoveType type, EditType edit, int64_t times, int64_t fps) {
                if (generation == m_generation && m_playing)
                    emit sig_frontFrameRequest(type, edit, times, fps);
            });
    // Queued even when emitted on this thread by submit(): the answer to
    // sig_controlPlay may stop playback, which must not delete the thread
    // inside its own submit().
    connect(
        m_thread, &PlayerThread::sig_exit, this,
        [this, generation] {
            if (generation == m_generation && m_playing)
                slot_exit();
        },
        Qt::QueuedConnection);
    m_thread->start(QThread::InheritPriority);
}

void PlayerManager::submit(const QList<AudioFrameData>& sounds, int64_t current, int64_t fps, int64_t last) {
    if (!m_playing || !m_thread)
        return;
    m_thread->submit(sounds, current, fps, last);
}

void PlayerManager::slot_exit() {
    emit sig_controlPlay();
}
