// The waveform peaks of media files for the timeline's clips: made once per
// file on a worker thread, kept in memory and in the cache folder's "peaks",
// where a file is named after a hash of the media's absolute path, size and
// modification time, so that a changed file is read again.
//
// instance() and peaks() are for the GUI thread only; the decoding and the
// cache files are handled on the cache's own worker. Peaks handed out are
// shared and never change.
#pragma once

#include "media/peaks.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>

using PeaksPtr = std::shared_ptr<const ff::AudioPeaks>;

class WaveformCache : public QObject {
    Q_OBJECT
public:
    // Peaks per second of the files this cache writes.
    static constexpr int kPeaksPerSecond = 100;

    // Lives as long as the application object (made on first use).
    static WaveformCache* instance();

    // The file's peaks when they are ready (an empty set for a file without
    // sound or one that cannot be read); otherwise null, and
    // sig_peaksReady(mediaPath) follows once they are.
    PeaksPtr peaks(const QString& mediaPath);
    // How many times peaks were decoded from media (not read from the cache).
    int decodeCount() const { return m_decodes.load(); }
    // Forgets what is in memory (the files stay); the next peaks() reads them.
    void clearMemory();

    // The cache file of the media file as it is now; empty when the media
    // file does not exist.
    static QString cacheFilePath(const QString& mediaPath);
    // The cache file format; false (and nothing read) when the file is
    // missing, cut short, of another version or inconsistent.
    static bool readPeaksFile(const QString& path, ff::AudioPeaks* peaks);
    // The same for the bytes of a whole file.
    static bool parsePeaks(const QByteArray& bytes, ff::AudioPeaks* peaks);
    static bool writePeaksFile(const QString& path, const ff::AudioPeaks& peaks);

    ~WaveformCache() override;

signals:
    void sig_peaksReady(const QString& mediaPath);

private:
    explicit WaveformCache(QObject* parent);
    // Worker side: the cache file, else decoding (then the file is written).
    PeaksPtr load(const QString& mediaPath, const QString& file);

    struct Entry {
        QString file; // the cache file it was made for: a new name means the media changed
        PeaksPtr peaks; // null while being made
    };
    QHash<QString, Entry> m_entries; // by media path; GUI thread only
    QThreadPool m_pool;
    std::atomic<bool> m_cancel {false};
    std::atomic<int> m_decodes {0};
};
