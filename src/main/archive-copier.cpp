#include "archive-copier.h"

#include "value/interface.h"
#include "values/whole-write.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstring>
#include <vector>

namespace archive {

namespace {

constexpr qint64 kChunk = 1 << 20;
// More numbered names than any folder of media holds; a bound all the same.
constexpr int kMaxNumber = 10000;

bool stopped(const Progress* progress) {
    return progress && progress->stop.load();
}

void advance(Progress* progress, qint64 bytes) {
    if (progress)
        progress->bytesDone += bytes;
}

// The file a path names, the same for every spelling of it.
QString identity(const QString& path) {
    const QFileInfo info(path);
    const QString real = info.canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : real;
}

// Writes a new file target with the bytes of source. The copy is written
// under a temporary name and appears whole or not at all.
bool copyFile(const QString& source, const QString& target, Progress* progress, QString* reason) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *reason = in.errorString();
        return false;
    }
    QSaveFile out(target);
    // Unbuffered: every failed write (a full disk) shows at once, never only
    // in a flush inside commit() that would let a cut copy take the name.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *reason = out.errorString();
        return false;
    }
    std::vector<char> buffer(kChunk);
    for (;;) {
        if (stopped(progress)) {
            out.cancelWriting();
            *reason = QStringLiteral("stopped");
            return false;
        }
        const qint64 got = in.read(buffer.data(), kChunk);
        if (got < 0) {
            out.cancelWriting();
            *reason = in.errorString();
            return false;
        }
        if (got == 0)
            break;
        if (!writeWhole(out, buffer.data(), got)) {
            *reason = out.errorString();
            out.cancelWriting();
            return false;
        }
        advance(progress, got);
    }
    if (!out.commit()) {
        *reason = out.errorString();
        return false;
    }
    return true;
}

// Finds or makes the copy of source inside dir: the first of "name",
// "name (2)", ... that either does not exist yet (then copied) or already
// holds the same bytes (then reused).
bool placeCopy(const QString& source, const QDir& dir, Progress* progress, QString* copy, bool* made,
               QString* reason) {
    const QFileInfo from(source);
    const QString fileName = from.fileName();
    for (int n = 1; n <= kMaxNumber; ++n) {
        const QString target = dir.absoluteFilePath(numberedName(fileName, n));
        const QFileInfo there(target);
        if (!there.exists() && !there.isSymLink()) {
            if (!copyFile(source, target, progress, reason))
                return false;
            *copy = target;
            *made = true;
            return true;
        }
        if (there.isFile() && there.size() == from.size() && sameContent(source, target, progress)) {
            *copy = target;
            return true;
        }
        if (stopped(progress)) {
            *reason = QStringLiteral("stopped");
            return false;
        }
    }
    *reason = QStringLiteral("no free name left in %1").arg(dir.absolutePath());
    return false;
}

} // namespace

QString numberedName(const QString& fileName, int n) {
    if (n <= 1)
        return fileName;
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString number = QStringLiteral(" (%1)").arg(n);
    if (dot <= 0)
        return fileName + number;
    return fileName.left(dot) + number + fileName.mid(dot);
}

bool sameContent(const QString& a, const QString& b, Progress* progress) {
    if (identity(a) == identity(b))
        return QFileInfo(a).isFile();
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    std::vector<char> ba(kChunk), bb(kChunk);
    for (;;) {
        if (stopped(progress))
            return false;
        const qint64 ga = fa.read(ba.data(), kChunk);
        const qint64 gb = fb.read(bb.data(), kChunk);
        if (ga < 0 || gb < 0 || ga != gb)
            return false;
        if (ga == 0)
            return true;
        if (std::memcmp(ba.data(), bb.data(), size_t(ga)) != 0)
            return false;
        advance(progress, ga);
    }
}

CopyResult copyMedia(const QStringList& sources, const QString& resourceDir, Progress* progress) {
    struct Entry {
        QString source;
        QStringList given;
        qint64 size = 0;
    };
    std::vector<Entry> entries;
    QHash<QString, size_t> byIdentity;
    for (const QString& path : sources) {
        if (path.isEmpty())
            continue;
        const QString id = identity(path);
        auto found = byIdentity.constFind(id);
        if (found != byIdentity.constEnd()) {
            if (!entries[*found].given.contains(path))
                entries[*found].given.append(path);
            continue;
        }
        byIdentity.insert(id, entries.size());
        const QFileInfo info(path);
        entries.push_back(Entry{path, {path}, info.isFile() ? info.size() : 0});
    }
    if (progress) {
        int64_t total = 0;
        for (const Entry& e : entries)
            total += e.size;
        progress->filesTotal = int(entries.size());
        progress->bytesTotal = total;
    }

    CopyResult result;
    auto fail = [&result](const Entry& e, const QString& reason) {
        LOGE("archive: %s is not in the archive: %s", qUtf8Printable(e.source), qUtf8Printable(reason));
        for (const QString& given : e.given)
            result.failures.append(Failure{given, reason});
    };
    const QDir dir(resourceDir);
    if (!entries.empty() && (!QDir().mkpath(resourceDir) || !QFileInfo(resourceDir).isDir())) {
        for (const Entry& e : entries)
            fail(e,
                 QStringLiteral("the folder %1 cannot be made").arg(QDir::toNativeSeparators(resourceDir)));
        return result;
    }
    int64_t finishedBytes = 0;
    for (const Entry& e : entries) {
        if (stopped(progress)) {
            result.stopped = true;
            fail(e, QStringLiteral("stopped"));
            continue;
        }
        QString copy, reason;
        bool made = false;
        if (!QFileInfo(e.source).isFile()) {
            fail(e, QFileInfo::exists(e.source) ? QStringLiteral("not a file")
                                                : QStringLiteral("the file is missing"));
        } else if (placeCopy(e.source, dir, progress, &copy, &made, &reason)) {
            for (const QString& given : e.given)
                result.copies.insert(given, copy);
            if (made)
                result.made.append(copy);
        } else {
            // Stopped inside this file: the archive was stopped, not failed.
            if (stopped(progress))
                result.stopped = true;
            fail(e, reason);
        }
        // A reused or failed file counts whole, so the bar ends at its total.
        finishedBytes += e.size;
        if (progress) {
            progress->bytesDone = finishedBytes;
            ++progress->filesDone;
        }
    }
    return result;
}

} // namespace archive
