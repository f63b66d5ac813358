#include "values/cache-folder.h"

#include "value/interface.h"
#include "value/paths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

QString cacheFolder() { return QString::fromStdString(bg::cacheDirectory()); }

QString cacheSubfolder(const QString& name) {
    const QString path = cacheFolder() + QLatin1Char('/') + name;
    if (!QFileInfo(path).isDir() && !QDir().mkpath(path))
        LOGW("cache: cannot make the folder %s", qUtf8Printable(path));
    return path;
}

CachePruneResult pruneCache(const QString& folder, qint64 maxBytes, int maxAgeDays, const QDateTime& now) {
    struct Entry {
        QString path;
        QDateTime used;
        qint64 size;
    };
    CachePruneResult result;
    std::vector<Entry> entries;
    const QDateTime oldest = now.addDays(-maxAgeDays);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        // Reading a file may not move its access time (noatime): the later
        // of the two times says when it was last of use.
        const QDateTime used = std::max(info.lastRead(), info.lastModified());
        if (used < oldest) {
            if (QFile::remove(info.filePath()))
                ++result.removed;
            else
                LOGW("cache: cannot remove %s", qUtf8Printable(info.filePath()));
            continue;
        }
        entries.push_back({info.filePath(), used, info.size()});
    }
    qint64 total = 0;
    for (const Entry& e : entries)
        total += e.size;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.used < b.used; });
    size_t next = 0;
    while (total > maxBytes && next < entries.size()) {
        const Entry& e = entries[next++];
        if (QFile::remove(e.path)) {
            ++result.removed;
            total -= e.size;
        } else {
            LOGW("cache: cannot remove %s", qUtf8Printable(e.path));
        }
    }
    result.kept = int(entries.size() - next);
    result.bytesKept = total;
    return result;
}

void startCachePruning() {
    qint64 maxMB = kCacheMaxMBDefault;
    std::string text;
    if (bg::Interface::instance()->configGet(kCacheMaxMBKey, &text)) {
        bool ok = false;
        const qint64 v = QString::fromStdString(text).trimmed().toLongLong(&ok);
        if (ok && v >= 0)
            maxMB = v;
        else
            LOGW("cache: %s=\"%s\" is not a size in megabytes; %d is used", kCacheMaxMBKey, text.c_str(),
                 kCacheMaxMBDefault);
    }
    const QString folder = cacheFolder();
    if (!QFileInfo(folder).isDir())
        return;
    (void)QtConcurrent::run([folder, maxMB] {
        const CachePruneResult r = pruneCache(folder, maxMB * 1024 * 1024, kCacheMaxAgeDays, QDateTime::currentDateTime());
        if (r.removed > 0)
            LOGD("cache: %d old files removed from %s, %d kept (%lld bytes)", r.removed, qUtf8Printable(folder),
                 r.kept, static_cast<long long>(r.bytesKept));
    });
}
