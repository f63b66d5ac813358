// The project file: its outer layout ("Tamsel" with the Render, Resource,
// Timeline and Preview sections), the older ".zya" layout ("Brindon"), and
// the automatic copy's name. The sections themselves belong to their owners,
// reached through ProjectSections. GUI thread only.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QIODevice;
class QXmlStreamReader;
class QXmlStreamWriter;

// The owners of a project's parts.
class ProjectSections {
public:
    virtual ~ProjectSections() = default;
    // Inside the open "Render", "Resource" and "Timeline" elements.
    virtual void writeRender(QXmlStreamWriter& writer) = 0;
    virtual void writeResource(QXmlStreamWriter& writer, bool archive) = 0;
    virtual void writeTimeline(QXmlStreamWriter& writer, bool archive) = 0;
    // Each stands on its section's start element and reads to its end.
    virtual void readRender(QXmlStreamReader& reader) = 0;
    virtual void readResource(QXmlStreamReader& reader) = 0;
    virtual void readTimeline(QXmlStreamReader& reader) = 0;
    // The older layout: the canvas rectangle's text, the material table, and
    // the timeline's object table and tree.
    virtual void readOldCanvas(const QString& rectText) = 0;
    virtual void readOldResource(QXmlStreamReader& objectMgr) = 0;
    virtual void readOldTimeline(QXmlStreamReader& objectMgr, QXmlStreamReader& tree) = 0;
    // Empties the library and the timeline.
    virtual void clearSections() = 0;
    // The media files the project names (library and clips) that are not
    // on disk, each once.
    virtual QStringList missingMedia() const { return {}; }
    // The clips' media files that are on disk but read as no media.
    virtual QStringList unreadableMedia() const { return {}; }
    // Every media file the clips read.
    virtual QStringList mediaFiles() const { return {}; }
    // What the last read left out or changed of the file's timeline, one
    // line each for the user; empty when it took everything as written.
    virtual QStringList readLosses() const { return {}; }
    // Points everything that names the file `from` at `to`; the number of
    // materials and clips changed.
    virtual int relinkMedia(const QString& from, const QString& to) {
        Q_UNUSED(from);
        Q_UNUSED(to);
        return 0;
    }
};

namespace project {

constexpr const char* kVersion = "1.0.0";

enum class ArchiveMark { None, No, Yes };

// How the file is written: the user's project (a link is written through,
// permissions kept), or an automatic copy, which may lie in a folder others
// write (the temporary folder): a link there is replaced, not followed, and
// the copy is readable by its owner only, unless it takes the permissions
// of the project file named in `permissionsOf`.
struct WriteAs {
    bool automaticCopy = false;
    QString permissionsOf;
};

// Writes the whole file or nothing: a temporary file beside the target
// replaces it only once complete. False with the reason on failure.
bool writeProject(const QString& path, ProjectSections& sections, ArchiveMark mark, bool archive,
                  QString* error, const WriteAs& as = WriteAs());

// Removes the temporary copies that saves of `path` left beside it when the
// process was killed before replacing it ("film.zya2.saving-Ab3dEf"). The
// project itself is whole either way, the old file or the new one. Returns
// how many went.
int removeLeftoverSaveCopies(const QString& path);

// Why the file at `path` cannot be opened as a project (no such file, not
// readable, another document, an XML error and its line), or an empty text
// when it can: the whole document is well formed and its root is the one of
// its layout (.zya2 or .zya). Checked before the open project is given up.
QString unreadableReason(const QString& path);

// Reading an opened file: false when it is no project (no root element,
// another root, or a broken document); the sections may hold part of it then.
// The current layout; archived tells the file's mark.
// onRoot hears the file's archive mark before any section is read.
bool readProject(QIODevice& file, ProjectSections& sections, const std::function<void(bool archived)>& onRoot);
// The older layout.
bool readOldProject(QIODevice& file, ProjectSections& sections, const std::function<void(bool archived)>& onRoot);

// Whether `file` is the project file or one of the media files its clips
// read (the same file on disk, under any name): what an output must not be.
bool readsFile(const ProjectSections& sections, const QString& projectPath, const QString& file);

// "~temp_" + the project's whole base name + ".zya2" ("film.v2.zya2" has
// "~temp_film.v2.zya2"), beside the project when the project file exists,
// else in the temporary folder.
QString autoSavePath(const QString& projectPath);
// prefix + base + suffix, the base cut (whole characters, then a hash of
// the whole base) as far as the name must be to fit the file system: a
// copy's or a temporary file's name of a project with a long name is
// longer than the project's own.
QString fittedName(const QString& prefix, const QString& base, const QString& suffix);
// Where the copy goes when that place cannot be written (a project in a
// read-only folder): "~temp_<name>-<hash of its path>.zya2" in "autosave"
// in the state folder.
QString autoSaveFallbackPath(const QString& projectPath);

} // namespace project
