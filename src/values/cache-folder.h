// The folder of files the program can always make again (media previews,
// waveform peaks): $KORVEL_CACHE_DIR, else $XDG_CACHE_HOME/Korvel, else
// ~/.cache/Korvel. Nothing in it is ever the only copy of anything, so it is
// pruned by age and size at every start.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

// The cache folder itself (not made here).
QString cacheFolder();
// A folder inside it ("thumbnails", "peaks"), made when missing; any thread.
QString cacheSubfolder(const QString& name);

// The settings key of the size limit in megabytes, and its default.
constexpr const char* kCacheMaxMBKey = "cache.maxMB";
constexpr int kCacheMaxMBDefault = 1024;
// Entries unused for longer are removed whatever the size.
constexpr int kCacheMaxAgeDays = 30;

struct CachePruneResult {
    int removed = 0;
    int kept = 0;
    qint64 bytesKept = 0;
};
// Removes every file under `folder` last used (read or written) before
// now - maxAgeDays, then the least recently used ones until at most
// maxBytes are left. Blocks for as long as the folder takes to walk; any thread.
CachePruneResult pruneCache(const QString& folder, qint64 maxBytes, int maxAgeDays, const QDateTime& now);

// Reads the limit from the settings (on the calling thread) and prunes the
// cache folder on a worker thread; returns at once.
void startCachePruning();
