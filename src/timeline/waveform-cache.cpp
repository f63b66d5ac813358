#include "timeline/waveform-cache.h"

#include "value/interface.h"
#include "values/cache-folder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>

#include <cstring>

namespace {

// Header of a peaks file, little-endian: magic, version, peaks per second,
// lanes, count (64-bit), then count * lanes * 2 signed 16-bit values.
constexpr char kMagic[4] = {'K', 'V', 'P', 'K'};
constexpr quint32 kVersion = 1;
constexpr int kHeaderBytes = 4 + 4 + 4 + 4 + 8;

} // namespace

WaveformCache::WaveformCache(QObject* parent) : QObject(parent) {
    // One file at a time: a long file already keeps two cores busy.
    m_pool.setMaxThreadCount(1);
}

WaveformCache::~WaveformCache() {
    m_cancel = true;
    m_pool.waitForDone();
}

WaveformCache* WaveformCache::instance() {
    static QPointer<WaveformCache> cache;
    if (!cache)
        cache = new WaveformCache(QCoreApplication::instance());
    return cache;
}

void WaveformCache::clearMemory() {
    // Entries still being made stay, so that their result is not asked twice.
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->peaks)
            it = m_entries.erase(it);
        else
            ++it;
    }
}

QString WaveformCache::cacheFilePath(const QString& mediaPath) {
    const QFileInfo info(mediaPath);
    if (!info.isFile())
        return QString();
    const QString key = info.absoluteFilePath() + QLatin1Char('\n') + QString::number(info.size()) +
                        QLatin1Char('\n') + QString::number(info.lastModified().toMSecsSinceEpoch());
    return cacheSubfolder(QStringLiteral("peaks")) + QLatin1Char('/') +
           QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex()) +
           QLatin1String(".peaks");
}

PeaksPtr WaveformCache::peaks(const QString& mediaPath) {
    static const PeaksPtr none = std::make_shared<const ff::AudioPeaks>();
    const QString file = cacheFilePath(mediaPath);
    if (file.isEmpty())
        return none;
    auto it = m_entries.find(mediaPath);
    if (it != m_entries.end() && it->file == file)
        return it->peaks; // ready, or null while being made
    m_entries[mediaPath] = Entry {file, nullptr};
    m_pool.start([this, mediaPath, file] {
        PeaksPtr made = load(mediaPath, file);
        QMetaObject::invokeMethod(
            this,
            [this, mediaPath, file, made] {
                auto entry = m_entries.find(mediaPath);
                if (entry == m_entries.end() || entry->file != file)
                    return; // the file changed meanwhile: its new peaks are on their way
                entry->peaks = made;
                emit sig_peaksReady(mediaPath);
            },
            Qt::QueuedConnection);
    });
    return nullptr;
}

PeaksPtr WaveformCache::load(const QString& mediaPath, const QString& file) {
    auto peaks = std::make_shared<ff::AudioPeaks>();
    if (QFileInfo::exists(file)) {
        if (readPeaksFile(file, peaks.get()))
            return peaks;
        LOGW("waveform: the cache file %s of %s is damaged; it is made again", qUtf8Printable(file),
             qUtf8Printable(mediaPath));
    }
    ++m_decodes;
    const ff::PeaksResult result =
        ff::computeAudioPeaks(mediaPath.toUtf8().constData(), kPeaksPerSecond, &m_cancel, peaks.get());
    switch (result) {
    case ff::PeaksResult::Ok:
    case ff::PeaksResult::NoSound:
        if (!writePeaksFile(file, *peaks))
            LOGW("waveform: cannot write the cache file %s", qUtf8Printable(file));
        break;
    case ff::PeaksResult::Failed:
        LOGW("waveform: no peaks for %s", qUtf8Printable(mediaPath));
        *peaks = ff::AudioPeaks();
        break;
    case ff::PeaksResult::Cancelled:
        *peaks = ff::AudioPeaks();
        break;
    }
    return peaks;
}

bool WaveformCache::readPeaksFile(const QString& path, ff::AudioPeaks* peaks) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // The largest file a valid header can describe: anything longer is not ours.
    const qint64 largest = kHeaderBytes + qint64(ff::kMaxPeakHours) * 3600 * 1000 * 2 * 2 * qint64(sizeof(int16_t));
    if (f.size() > largest)
        return false;
    return parsePeaks(f.readAll(), peaks);
}

bool WaveformCache::parsePeaks(const QByteArray& bytes, ff::AudioPeaks* peaks) {
    if (bytes.size() < kHeaderBytes || std::memcmp(bytes.constData(), kMagic, 4) != 0)
        return false;
    QDataStream in(bytes.mid(4, kHeaderBytes - 4));
    in.setByteOrder(QDataStream::LittleEndian);
    quint32 version = 0, pps = 0, lanes = 0;
    qint64 count = 0;
    in >> version >> pps >> lanes >> count;
    if (version != kVersion || pps == 0 || pps > 1000 || lanes > 2 || count < 0)
        return false;
    const qint64 maxCount = qint64(ff::kMaxPeakHours) * 3600 * qint64(pps);
    if (count > maxCount || (lanes == 0) != (count == 0))
        return false;
    const qint64 size = count * qint64(lanes) * 2 * qint64(sizeof(int16_t));
    if (qint64(bytes.size()) != kHeaderBytes + size)
        return false;
    ff::AudioPeaks read;
    read.peaksPerSecond = int(pps);
    read.lanes = int(lanes);
    read.count = count;
    read.values.resize(size_t(count * lanes * 2));
    if (size > 0)
        std::memcpy(read.values.data(), bytes.constData() + kHeaderBytes, size_t(size));
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    for (int16_t& v : read.values)
        v = int16_t(qFromLittleEndian(quint16(v)));
#endif
    *peaks = std::move(read);
    return true;
}

bool WaveformCache::writePeaksFile(const QString& path, const ff::AudioPeaks& peaks) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray head(kMagic, 4);
    {
        QDataStream out(&head, QIODevice::Append);
        out.setByteOrder(QDataStream::LittleEndian);
        out << kVersion << quint32(peaks.peaksPerSecond) << quint32(peaks.lanes) << qint64(peaks.count);
    }
    f.write(head);
    const qint64 bytes = qint64(peaks.values.size() * sizeof(int16_t));
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    std::vector<int16_t> le(peaks.values);
    for (int16_t& v : le)
        v = int16_t(qToLittleEndian(quint16(v)));
    f.write(reinterpret_cast<const char*>(le.data()), bytes);
#else
    f.write(reinterpret_cast<const char*>(peaks.values.data()), bytes);
#endif
    return f.commit();
}
