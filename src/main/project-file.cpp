#include "project-file.h"

#include "value/interface.h"
#include "value/paths.h"
#include "values/whole-write.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace project {

namespace {

// "film.zya2" is written as "film.zya2.saving-Ab3dEf" first.
const QLatin1String kSavingInfix(".saving-");

// The longest file name the file systems take, in bytes.
constexpr int kLongestName = 255;

} // namespace

QString fittedName(const QString& prefix, const QString& base, const QString& suffix) {
    if (QFile::encodeName(prefix + base + suffix).size() <= kLongestName)
        return prefix + base + suffix;
    // Cut names of two projects that begin alike stay apart by the whole name's hash.
    const QString mark = QLatin1Char('-') + QString::fromLatin1(QCryptographicHash::hash(base.toUtf8(),
                                                                QCryptographicHash::Sha1).toHex().left(8));
    QString cut = base;
    while (!cut.isEmpty() && QFile::encodeName(prefix + cut + mark + suffix).size() > kLongestName)
        cut.chop(cut.size() >= 2 && cut.at(cut.size() - 1).isLowSurrogate() ? 2 : 1);
    return prefix + cut + mark + suffix;
}

namespace {

// What the temporary file of a save of `fileName` is called, less its six
// random characters.
QString savingPrefix(const QString& fileName) {
    return fittedName(QString(), fileName, kSavingInfix + QStringLiteral("XXXXXX")).chopped(6);
}

void setError(QString* error, const QString& why) {
    if (error)
        *error = why;
}

// The bytes replace `path` whole, or nothing changes: they go to a temporary
// file beside it, reach the disk, and are renamed over it. The file keeps its
// permissions (a new one gets 0666 less the umask); a symbolic link is
// written through, as editors do.
bool replaceWhole(const QString& path, const char* data, qint64 size, QString* error, const WriteAs& as) {
    const QString real = as.automaticCopy ? QFileInfo(path).absoluteFilePath() : writtenPath(path);
    const QFileInfo target(real);
    QTemporaryFile temp(target.dir().filePath(savingPrefix(target.fileName()) + QStringLiteral("XXXXXX")));
    if (!temp.open()) {
        setError(error, temp.errorString());
        return false;
    }
    struct stat old {};
    mode_t mode = 0;
    if (as.automaticCopy) {
        struct stat project {};
        mode = !as.permissionsOf.isEmpty() && ::stat(QFile::encodeName(as.permissionsOf).constData(), &project) == 0
                   ? project.st_mode & 0777
                   : 0600;
    } else if (::stat(QFile::encodeName(real).constData(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(temp.handle(), mode) != 0)
        LOGW("project: cannot give %s the project's permissions: %s", qUtf8Printable(temp.fileName()),
             std::strerror(errno));
    // Straight to the file, so that a full disk says so.
    QFile direct;
    if (!direct.open(temp.handle(), QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) ||
        !writeWhole(direct, data, size)) {
        setError(error, direct.errorString());
        return false;
    }
    // On the disk before it replaces the old file: a power cut after the
    // rename must not leave an empty project.
    if (::fsync(temp.handle()) != 0) {
        setError(error, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(real).constData()) != 0) {
        setError(error, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    temp.setAutoRemove(false);
    return true;
}

} // namespace

int removeLeftoverSaveCopies(const QString& path) {
    const QFileInfo target(path);
    const QFileInfo project(target.isSymLink() ? target.symLinkTarget() : target.absoluteFilePath());
    const QDir folder = project.absoluteDir();
    if (!folder.exists())
        return 0;
    const QString prefix = savingPrefix(project.fileName());
    const QRegularExpression leftover(
        QStringLiteral("^%1[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(prefix)));
    int removed = 0;
    const QStringList names =
        folder.entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& name : names) {
        if (!leftover.match(name).hasMatch())
            continue;
        if (QFile::remove(folder.filePath(name))) {
            LOGW("project: removed %s, left by a save that was cut short", qUtf8Printable(folder.filePath(name)));
            ++removed;
        } else {
            LOGW("project: cannot remove %s, left by a save that was cut short",
                 qUtf8Printable(folder.filePath(name)));
        }
    }
    return removed;
}

bool writeProject(const QString& path, ProjectSections& sections, ArchiveMark mark, bool archive, QString* error,
                  const WriteAs& as) {
    removeLeftoverSaveCopies(path);
    // Written to memory first: the formatter starts with a line break that
    // the file should not, and the file is then written in one go.
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writer.writeStartElement(QStringLiteral("Tamsel"));
    writer.writeAttribute(QStringLiteral("Version"), QLatin1String(kVersion));
    if (mark != ArchiveMark::None)
        writer.writeAttribute(QStringLiteral("Archived"), mark == ArchiveMark::Yes ? "1" : "0");
    writer.writeStartElement(QStringLiteral("Render"));
    sections.writeRender(writer);
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("Resource"));
    sections.writeResource(writer, archive);
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("Timeline"));
    sections.writeTimeline(writer, archive);
    writer.writeEndElement();
    writer.writeEmptyElement(QStringLiteral("Preview"));
    writer.writeEndElement();
    if (writer.hasError()) {
        setError(error, QStringLiteral("the project could not be formatted"));
        return false;
    }
    int start = 0;
    while (start < bytes.size() && (bytes[start] == '\n' || bytes[start] == '\r'))
        ++start;
    return replaceWhole(path, bytes.constData() + start, bytes.size() - start, error, as);
}

namespace {

bool brokenAt(const QXmlStreamReader& reader) {
    LOGE("project: not a readable project (line %lld: %s)", static_cast<long long>(reader.lineNumber()),
         qUtf8Printable(reader.hasError() ? reader.errorString() : QStringLiteral("unexpected root element")));
    return false;
}

// A copy of the element the reader stands on, as a document of its own.
QByteArray captureElement(QXmlStreamReader& reader) {
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    int depth = 0;
    do {
        if (reader.isStartElement())
            ++depth;
        else if (reader.isEndElement())
            --depth;
        writer.writeCurrentToken(reader);
        if (depth == 0)
            break;
        reader.readNext();
    } while (!reader.atEnd() && !reader.hasError());
    return bytes;
}

// Finds the first child called `name` of the current element and captures it;
// the rest of the current element is skipped.
QByteArray captureChild(QXmlStreamReader& reader, const char* name) {
    QByteArray found;
    while (reader.readNextStartElement()) {
        if (found.isEmpty() && reader.name() == QLatin1String(name))
            found = captureElement(reader);
        else
            reader.skipCurrentElement();
    }
    return found;
}

} // namespace

QString unreadableReason(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return QStringLiteral("no such file");
    const QString suffix = info.suffix();
    const char* root = suffix == QLatin1String("zya2") ? "Tamsel" : suffix == QLatin1String("zya") ? "Brindon" : nullptr;
    if (!root)
        return QStringLiteral("not a .zya2 or .zya file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    if (file.size() == 0)
        return QStringLiteral("the file is empty");
    QXmlStreamReader reader(&file);
    if (!reader.readNextStartElement())
        return QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
    if (reader.name() != QLatin1String(root))
        return QStringLiteral("not a Korvel project (<%1>)").arg(reader.name().left(40));
    // What follows the root's end (padding a crash left) is not read, as
    // the reader of the project does not read it either.
    reader.skipCurrentElement();
    if (reader.hasError()) {
        // A short read is a file cut off, not a fault of the document.
        const bool cut = reader.error() == QXmlStreamReader::PrematureEndOfDocumentError;
        return QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(cut ? QStringLiteral("the file is cut off")
                                                                              : reader.errorString());
    }
    return QString();
}

bool readProject(QIODevice& file, ProjectSections& sections, const std::function<void(bool)>& onRoot) {
    QXmlStreamReader reader(&file);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("Tamsel"))
        return brokenAt(reader);
    onRoot(reader.attributes().value(QLatin1String("Archived")).toInt() != 0);
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("Render"))
            sections.readRender(reader);
        else if (reader.name() == QLatin1String("Resource"))
            sections.readResource(reader);
        else if (reader.name() == QLatin1String("Timeline"))
            sections.readTimeline(reader);
        else
            reader.skipCurrentElement(); // "Preview" and anything newer
    }
    if (reader.hasError())
        return brokenAt(reader);
    return true;
}

bool readOldProject(QIODevice& file, ProjectSections& sections, const std::function<void(bool)>& onRoot) {
    QXmlStreamReader reader(&file);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("Brindon"))
        return brokenAt(reader);
    onRoot(reader.attributes().value(QLatin1String("archive")).toInt() != 0);
    // The timeline needs its object table and its tree together, and they lie
    // in different branches: both are kept aside until the end.
    QByteArray objects, tree;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        if (name == QLatin1String("Preview")) {
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("ViewInfo")) {
                    while (reader.readNextStartElement()) {
                        if (reader.name() == QLatin1String("canvas_rect"))
                            sections.readOldCanvas(reader.readElementText());
                        else
                            reader.skipCurrentElement();
                    }
                } else if (reader.name() == QLatin1String("ViewModel")) {
                    while (reader.readNextStartElement()) {
                        if (reader.name() == QLatin1String("ZySceneModel") && objects.isEmpty())
                            objects = captureChild(reader, "ObjectMgr");
                        else
                            reader.skipCurrentElement();
                    }
                } else {
                    reader.skipCurrentElement();
                }
            }
        } else if (name == QLatin1String("TimeLine")) {
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("PosCtrl") && tree.isEmpty())
                    tree = captureChild(reader, "Tree");
                else
                    reader.skipCurrentElement();
            }
        } else if (name == QLatin1String("Resource")) {
            while (reader.readNextStartElement()) {
                if (reader.name() != QLatin1String("ViewModel")) {
                    reader.skipCurrentElement();
                    continue;
                }
                while (reader.readNextStartElement()) {
                    if (reader.name() != QLatin1String("ZySceneModel")) {
                        reader.skipCurrentElement();
                        continue;
                    }
                    while (reader.readNextStartElement()) {
                        if (reader.name() == QLatin1String("ObjectMgr"))
                            sections.readOldResource(reader);
                        else
                            reader.skipCurrentElement();
                    }
                }
            }
        } else {
            reader.skipCurrentElement();
        }
    }
    if (reader.hasError())
        return brokenAt(reader);
    if (!objects.isEmpty() && !tree.isEmpty()) {
        QXmlStreamReader objectReader(objects), treeReader(tree);
        sections.readOldTimeline(objectReader, treeReader);
    }
    return true;
}

QString autoSavePath(const QString& projectPath) {
    const QFileInfo project(projectPath);
    const QString name = fittedName(QStringLiteral("~temp_"), project.completeBaseName(), QStringLiteral(".zya2"));
    const QString folder = project.isAbsolute() && project.exists() ? project.absolutePath() : QDir::tempPath();
    return QDir(folder).filePath(name);
}

bool readsFile(const ProjectSections& sections, const QString& projectPath, const QString& file) {
    struct stat target {};
    if (::stat(QFile::encodeName(file).constData(), &target) != 0)
        return false;
    const QStringList read = sections.mediaFiles() << projectPath;
    return std::any_of(read.cbegin(), read.cend(), [&target](const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_dev == target.st_dev &&
               st.st_ino == target.st_ino;
    });
}

QString autoSaveFallbackPath(const QString& projectPath) {
    // Two projects of one name in different folders keep copies of their own.
    const QFileInfo project(projectPath);
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(project.absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
    const QString folder = QDir(QString::fromStdString(bg::stateDirectory())).filePath(QStringLiteral("autosave"));
    return QDir(folder).filePath(
        fittedName(QStringLiteral("~temp_"), project.completeBaseName(), QStringLiteral("-%1.zya2").arg(hash)));
}

} // namespace project
