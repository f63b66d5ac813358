#include "moved-media.h"

#include <QDir>
#include <QFileInfo>

namespace {

// How many folders above a missing file the old project folder may lie.
constexpr int kLevelsUp = 6;

} // namespace

QHash<QString, QString> findMovedMedia(const QStringList& missing, const QString& projectFolder) {
    QHash<QString, QString> found;
    const QString now = QDir::cleanPath(projectFolder);
    if (now.isEmpty() || !QFileInfo(now).isDir())
        return found;
    // Each folder that, taken as the old project folder, explains a missing
    // file: how many it explains.
    QHash<QString, int> votes;
    for (const QString& path : missing) {
        const QString clean = QDir::cleanPath(path);
        if (!QDir::isAbsolutePath(clean))
            continue;
        QString rel = QFileInfo(clean).fileName();
        QString old = QFileInfo(clean).path();
        for (int level = 0; level < kLevelsUp && !rel.isEmpty() && old != QLatin1String("/"); ++level) {
            // A folder that still stands was not moved: its file is missing,
            // not elsewhere.
            if (old != now && !QFileInfo::exists(old) && QFileInfo(now + QLatin1Char('/') + rel).isFile())
                ++votes[old];
            rel = QFileInfo(old).fileName() + QLatin1Char('/') + rel;
            old = QFileInfo(old).path();
        }
    }
    QString from;
    int most = 0;
    for (auto it = votes.constBegin(); it != votes.constEnd(); ++it) {
        // Ties go to the folder higher up: more of each path agrees.
        if (it.value() > most || (it.value() == most && it.key().size() < from.size())) {
            from = it.key();
            most = it.value();
        }
    }
    if (from.isEmpty())
        return found;
    const QDir old(from);
    for (const QString& path : missing) {
        const QString rel = old.relativeFilePath(QDir::cleanPath(path));
        if (rel.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(rel))
            continue;
        const QString there = now + QLatin1Char('/') + rel;
        if (QFileInfo(there).isFile())
            found.insert(path, there);
    }
    return found;
}
