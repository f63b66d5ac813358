// One open audio decoder for one media file, and the per-frame decoding
// into the process-wide mixer. A task belongs to the thread that mixes (the
// player thread or the export thread); it holds no locks.
#pragma once

#include "media/media.h"

#include <QObject>
#include <QString>

#include <cstdint>

class AudioDecoderTask : public QObject {
    Q_OBJECT
public:
    // Probes the file and opens its best audio stream, if it has one.
    explicit AudioDecoderTask(const QString& path);
    ~AudioDecoderTask() override;

    const QString& path() const { return m_path; }
    // Audio streams of the file; 0 when it has none or cannot be read.
    int audioStreams() const { return m_audioStreams; }
    bool isOpened() const { return m_decoder.isOpened(); }

    // Decodes the sound of one frame, num / den to (num + 1) / den seconds
    // of the media, in the mixer's format and adds it to the mixer's block
    // at volume (128 unity, 0 silent). Nothing without audio or mixer.
    void decodeInto(int64_t num, int64_t den, int volume);

private:
    QString m_path;
    ff::FFDecoder m_decoder;
    int m_audioStreams = 0;
};
