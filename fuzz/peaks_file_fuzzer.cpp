// Waveform peaks files come from the cache folder, where anything may have
// been left or cut short. Whatever the bytes, reading must not crash, and
// what reads successfully must write back to the same bytes.
#include "timeline/waveform-cache.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    ff::AudioPeaks peaks;
    if (!WaveformCache::parsePeaks(bytes, &peaks))
        return 0;
    if (peaks.values.size() != size_t(peaks.count * peaks.lanes * 2))
        std::abort();
    static const QString path = QDir::tempPath() + QStringLiteral("/korvel-peaks-fuzz.peaks");
    if (!WaveformCache::writePeaksFile(path, peaks))
        return 0;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.readAll() != bytes)
        std::abort();
    return 0;
}
