// Earlier versions of project files. Before a save replaces a project file,
// the file as it was is kept as "<yyyyMMdd-HHmmss-zzz>.zya2" in a folder of
// its own under <state folder>/backups/ ("<name>-<hash of its path>"). The
// newest kKeepNewest stay, and beyond them the newest of each of the last
// kKeepDays days. GUI thread only (plain file work, no threads).
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace project {

struct EarlierVersion {
    QString path;    // the kept copy
    QDateTime saved; // when it was replaced
};

class ProjectBackups {
public:
    static constexpr int kKeepNewest = 10;
    static constexpr int kKeepDays = 7;

    // The folder under the state folder that holds every project's backups.
    static QString rootFolder();
    // The folder of one project's backups (its absolute path names it).
    static QString folderFor(const QString& projectPath);

    // Keeps the project file as it is now, then prunes. True when there was
    // nothing to keep (no file, an empty one) or it was kept whole; false
    // with the reason otherwise.
    static bool keep(const QString& projectPath, QString* error = nullptr);
    // When the kept copy at versionPath was replaced (invalid for other files).
    static QDateTime savedAt(const QString& versionPath);
    // The project's earlier versions, newest first.
    static QList<EarlierVersion> earlierVersions(const QString& projectPath);
    // Deletes what the rule above does not keep, as of `now`.
    static void prune(const QString& projectPath, const QDateTime& now);
};

} // namespace project
