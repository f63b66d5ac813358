// The library's part of a project file: the "Resource" section, and the
// materials of the older layout's "ObjectMgr".
#include "resource/material-manager.h"

#include "values/read-limits.h"
#include "value/interface.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

// Far more materials than anyone gathers in one project; a file that lists
// more is broken or hostile, and the rest of its list is skipped.
constexpr int kMaxMaterials = 10000;

// Whether one more record fits; the first that does not is logged.
bool roomForMaterial(int count, bool* full) {
    if (count < kMaxMaterials)
        return true;
    if (!*full)
        LOGW("library: more than %d materials, the rest skipped", kMaxMaterials);
    *full = true;
    return false;
}

const char* boolText(bool b) {
    return b ? "true" : "false";
}

// The path written for a material: a copy inside the project folder for an
// archive, relative to the project folder when there is a project file,
// else absolute.
QString storedPath(const QString& path, bool archive, const QString& projectFile) {
    if (path.isEmpty() || projectFile.isEmpty())
        return path;
    const QDir projectDir = QFileInfo(projectFile).absoluteDir();
    if (!projectDir.exists() && !QDir().mkpath(projectDir.absolutePath())) {
        LOGW("library: cannot make the project folder %s", qUtf8Printable(projectDir.absolutePath()));
        return path;
    }
    if (archive) {
        const QString folder = projectDir.absoluteFilePath(QStringLiteral("resource"));
        if (!QDir().mkpath(folder)) {
            LOGE("library: cannot make %s; %s stays where it is", qUtf8Printable(folder), qUtf8Printable(path));
            return path;
        }
        const QString copy = folder + QLatin1Char('/') + QFileInfo(path).fileName();
        if (!QFileInfo::exists(copy) && !QFile::copy(path, copy)) {
            LOGE("library: cannot copy %s into the archive", qUtf8Printable(path));
            return path;
        }
        return projectDir.relativeFilePath(copy);
    }
    return projectDir.relativeFilePath(path);
}

} // namespace

void MaterialManager::WriteMaterials(QXmlStreamWriter& writer, const QList<MaterialData*>& materials, bool archive,
                                     const QString& projectFile) {
    for (const MaterialData* m : materials) {
        if (!m->inLibrary)
            continue;
        writer.writeStartElement(QStringLiteral("MaterialData"));
        writer.writeTextElement(QStringLiteral("uuid"), m->uuid);
        writer.writeTextElement(QStringLiteral("type"), QString::number(m->type));
        writer.writeTextElement(QStringLiteral("name"), m->name);
        writer.writeTextElement(QStringLiteral("draggable"), QLatin1String(boolText(m->draggable)));
        writer.writeTextElement(QStringLiteral("archiveRecoverd"), QLatin1String(boolText(m->archiveRecoverd)));
        const QString stored = storedPath(m->path, archive, projectFile);
        writer.writeTextElement(QStringLiteral("path"), stored);
        // Where the file lies, for a project file copied elsewhere without
        // its media: the path beside the project no longer leads there.
        if (!archive && stored != m->path)
            writer.writeTextElement(QStringLiteral("absolutePath"), m->path);
        writer.writeTextElement(QStringLiteral("preview"), QStringLiteral("preview"));
        writer.writeTextElement(QStringLiteral("font"), m->font.toString());
        writer.writeTextElement(QStringLiteral("color"), m->color.name());
        writer.writeEndElement();
    }
}

QString MaterialManager::resolveStoredPath(const QString& text) const {
    const QString project = projectFile();
    if (text.isEmpty() || project.isEmpty() || !QFileInfo::exists(project))
        return text;
    return QDir::cleanPath(QFileInfo(project).absoluteDir().absoluteFilePath(text));
}

void MaterialManager::ReadMaterials(QXmlStreamReader& reader) {
    QList<ReadRecord> records;
    bool full = false;
    while (reader.readNextStartElement()) {
        LOGD("reader: ========== %s", qUtf8Printable(reader.name().toString()));
        if (reader.name() != QLatin1String("MaterialData") || !roomForMaterial(records.size(), &full)) {
            reader.skipCurrentElement();
            continue;
        }
        ReadRecord record;
        QString absolute;
        while (reader.readNextStartElement()) {
            const QString name = reader.name().toString();
            LOGD("reader: %s", qUtf8Printable(name));
            if (name == QLatin1String("name")) {
                record.name = reader.readElementText();
            } else if (name == QLatin1String("uuid")) {
                record.uuid = reader.readElementText();
            } else if (name == QLatin1String("type")) {
                bool ok = false;
                record.type = reader.readElementText().toUInt(&ok);
                if (!ok)
                    record.type = MaterialNone;
            } else if (name == QLatin1String("path")) {
                record.path = resolveStoredPath(reader.readElementText());
            } else if (name == QLatin1String("absolutePath")) {
                absolute = reader.readElementText();
            } else if (name == QLatin1String("font")) {
                record.font.fromString(reader.readElementText());
                timeline::fitFont(&record.font, "template font");
            } else if (name == QLatin1String("color")) {
                record.color = QColor(reader.readElementText());
            } else {
                // draggable, archiveRecoverd and preview are worked out again.
                reader.skipCurrentElement();
            }
        }
        if (!record.path.isEmpty() && !QFileInfo::exists(record.path) && QFileInfo(absolute).isAbsolute() &&
            QFileInfo::exists(absolute)) {
            LOGW("library: %s is not beside the project; it is read where it was, %s", qUtf8Printable(record.path),
                 qUtf8Printable(absolute));
            record.path = QDir::cleanPath(absolute);
        }
        records.append(record);
    }
    if (reader.hasError())
        LOGW("library: the Resource section is broken (%s); read what came before",
             qUtf8Printable(reader.errorString()));
    addRead(records);
}

void MaterialManager::ReadOldMaterials(QXmlStreamReader& reader) {
    QList<ReadRecord> records;
    bool full = false;
    while (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("Object") || !roomForMaterial(records.size(), &full)) {
            reader.skipCurrentElement();
            continue;
        }
        ReadRecord record;
        while (reader.readNextStartElement()) {
            const QString name = reader.name().toString();
            if (name == QLatin1String("type")) {
                const QString t = reader.readElementText();
                if (t == QLatin1String("movie") || t == QLatin1String("0"))
                    record.type = Movie;
                else if (t == QLatin1String("music") || t == QLatin1String("1"))
                    record.type = Music;
                else if (t == QLatin1String("image") || t == QLatin1String("2"))
                    record.type = Image;
                else if (t == QLatin1String("text") || t == QLatin1String("3"))
                    record.type = Text;
                else if (t == QLatin1String("mic") || t == QLatin1String("4"))
                    record.type = Mic;
                else
                    record.type = MaterialNone;
            } else if (name == QLatin1String("name")) {
                record.name = reader.readElementText();
            } else if (name == QLatin1String("url")) {
                record.path = resolveStoredPath(reader.readElementText());
            } else if (name == QLatin1String("values")) {
                while (reader.readNextStartElement()) {
                    if (reader.name() == QLatin1String("color"))
                        record.color = QColor(reader.readElementText().mid(7));
                    else if (reader.name() == QLatin1String("font"))
                        record.font = QFont(reader.readElementText().mid(6));
                    else
                        reader.skipCurrentElement();
                }
            } else {
                reader.skipCurrentElement(); // uid and anything newer
            }
        }
        timeline::fitFont(&record.font, "template font");
        records.append(record);
    }
    if (reader.hasError())
        LOGW("library: the older material list is broken (%s); read what came before",
             qUtf8Printable(reader.errorString()));
    addRead(records);
}

void MaterialManager::addRead(const QList<ReadRecord>& records) {
    QStringList paths, uuids;
    QList<uint32_t> types;
    for (const ReadRecord& record : records) {
        if (record.type == Text) {
            AddMaterialSubtitle(record.name, record.font, record.color, true, record.uuid);
        } else if (!record.path.isEmpty()) {
            paths.append(record.path);
            uuids.append(record.uuid);
            types.append(record.type);
        }
    }
    if (!paths.isEmpty())
        AddMaterialFiles(paths, true, uuids, types);
}
