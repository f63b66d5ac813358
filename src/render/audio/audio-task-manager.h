// The audio decoders of one mixing thread, kept open while their files keep
// sounding from one frame step to the next. Belongs to one thread (the
// player thread or the export thread); holds no locks.
#pragma once

#include "render/audio/audio-frame-data.h"

#include <QList>
#include <QObject>

class AudioDecoderTask;

class AudioTaskManager : public QObject {
    Q_OBJECT
public:
    explicit AudioTaskManager(QObject* parent = nullptr) : QObject(parent) {}
    ~AudioTaskManager() override;

    // Decodes one frame of every sounding clip into the mixer's open block.
    // A file that sounds again keeps its decoder, one that fell silent loses
    // it, and two clips of one file sounding at once get one decoder each.
    void mix(QList<AudioFrameData> sounds);

    const QList<AudioDecoderTask*>& tasks() const { return m_tasks; }

private:
    QList<AudioDecoderTask*> m_tasks; // owned
};
