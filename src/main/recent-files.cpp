#include "recent-files.h"

#include "value/interface.h"
#include "values/whole-write.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>
#include <QVector>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace recent {

namespace {

const QString kBookmarkNs = QStringLiteral("http://www.freedesktop.org/standards/desktop-bookmarks");
const QString kMimeNs = QStringLiteral("http://www.freedesktop.org/standards/shared-mime-info");
const QString kAppName = QStringLiteral("Korvel");
const QString kAppExec = QStringLiteral("'korvel %u'");
// Far beyond any real list; a bigger file is not one we should hold in memory.
constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;

// One <bookmark> of the existing file, as the first reading saw it.
struct Entry {
    bool target = false;   // names the project being added
    bool ownOnly = false;  // Korvel is its only application
    QDateTime modified;
    int ownCount = 0;      // Korvel's use count in it
};

bool isTopBookmark(const QXmlStreamReader& reader, int depth) {
    return depth == 1 && reader.namespaceUri().isEmpty() && reader.name() == QLatin1String("bookmark");
}

bool isApplication(const QXmlStreamReader& reader) {
    return reader.namespaceUri() == kBookmarkNs && reader.name() == QLatin1String("application");
}

QString fileOf(const QStringRef& href) {
    const QUrl url = QUrl::fromEncoded(href.toUtf8());
    return url.isLocalFile() ? QDir::cleanPath(url.toLocalFile()) : QString();
}

// Reads every bookmark of data. False (error set) when it is no bookmark file.
bool scan(const QByteArray& data, const QString& path, QVector<Entry>* entries, QString* error) {
    QXmlStreamReader reader(data);
    int depth = 0;
    bool sawRoot = false;
    Entry* current = nullptr;
    int apps = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (depth == 0 && reader.name() != QLatin1String("xbel")) {
                *error = QStringLiteral("its root is <%1>, not <xbel>").arg(reader.name().toString());
                return false;
            }
            sawRoot = true;
            if (isTopBookmark(reader, depth)) {
                entries->append(Entry());
                current = &entries->last();
                apps = 0;
                const QXmlStreamAttributes attributes = reader.attributes();
                current->target = fileOf(attributes.value(QLatin1String("href"))) == path;
                current->modified =
                    QDateTime::fromString(attributes.value(QLatin1String("modified")).toString(), Qt::ISODateWithMs);
            } else if (current && isApplication(reader)) {
                ++apps;
                const QXmlStreamAttributes attributes = reader.attributes();
                if (attributes.value(QLatin1String("name")) == kAppName) {
                    current->ownOnly = true;
                    current->ownCount = attributes.value(QLatin1String("count")).toInt();
                }
            }
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            if (current && depth == 1) {
                current->ownOnly = current->ownOnly && apps == 1;
                current = nullptr;
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        *error = QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
        return false;
    }
    if (!sawRoot || depth != 0) {
        *error = QStringLiteral("it holds no <xbel> list");
        return false;
    }
    return true;
}

void writeApplication(QXmlStreamWriter& w, const QString& now, int count) {
    w.writeEmptyElement(kBookmarkNs, QStringLiteral("application"));
    w.writeAttribute(QStringLiteral("name"), kAppName);
    w.writeAttribute(QStringLiteral("exec"), kAppExec);
    w.writeAttribute(QStringLiteral("modified"), now);
    w.writeAttribute(QStringLiteral("count"), QString::number(count));
}

void writeInfo(QXmlStreamWriter& w, const QString& mime, const QString& now, int count) {
    w.writeStartElement(QStringLiteral("info"));
    w.writeStartElement(QStringLiteral("metadata"));
    w.writeAttribute(QStringLiteral("owner"), QStringLiteral("http://freedesktop.org"));
    w.writeEmptyElement(kMimeNs, QStringLiteral("mime-type"));
    w.writeAttribute(QStringLiteral("type"), mime);
    w.writeStartElement(kBookmarkNs, QStringLiteral("applications"));
    writeApplication(w, now, count);
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndElement();
}

void writeNewBookmark(QXmlStreamWriter& w, const QString& href, const QString& mime, const QString& now) {
    w.writeStartElement(QStringLiteral("bookmark"));
    w.writeAttribute(QStringLiteral("href"), href);
    w.writeAttribute(QStringLiteral("added"), now);
    w.writeAttribute(QStringLiteral("modified"), now);
    w.writeAttribute(QStringLiteral("visited"), now);
    writeInfo(w, mime, now, 1);
    w.writeEndElement();
}

} // namespace

QString defaultFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/recently-used.xbel");
}

bool addProject(const QString& projectPath, const QString& xbelFile) {
    const QString path = QDir::cleanPath(QFileInfo(projectPath).absoluteFilePath());
    const QString href = QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
    const QString mime = QFileInfo(path).suffix() == QLatin1String("zya")
                             ? QStringLiteral("application/x-korvel-project-old")
                             : QStringLiteral("application/x-korvel-project");
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);

    QByteArray existing;
    QFile in(xbelFile);
    if (in.exists()) {
        if (in.size() > kMaxFileBytes) {
            LOGW("recent files: %s is %lld bytes; it is left as it is", qUtf8Printable(xbelFile),
                 static_cast<long long>(in.size()));
            return false;
        }
        if (!in.open(QIODevice::ReadOnly)) {
            LOGW("recent files: cannot read %s: %s", qUtf8Printable(xbelFile), qUtf8Printable(in.errorString()));
            return false;
        }
        existing = in.readAll();
        in.close();
    }

    QVector<Entry> entries;
    const bool fresh = existing.trimmed().isEmpty();
    if (!fresh) {
        QString error;
        if (!scan(existing, path, &entries, &error)) {
            LOGW("recent files: %s cannot be read (%s); it is left as it is", qUtf8Printable(xbelFile),
                 qUtf8Printable(error));
            return false;
        }
    }

    // Korvel's own older entries beyond the limit go, oldest first; the
    // entry being refreshed counts as the newest.
    QSet<int> dropped;
    QVector<int> own;
    int target = -1;
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].target && target < 0)
            target = i;
        else if (entries[i].target)
            dropped.insert(i); // a second entry of the same file
        else if (entries[i].ownOnly)
            own.append(i);
    }
    // Newest first; of two written in the same millisecond, the later in
    // the file is the newer (entries are appended).
    std::sort(own.begin(), own.end(), [&](int a, int b) {
        if (entries[a].modified != entries[b].modified)
            return entries[a].modified > entries[b].modified;
        return a > b;
    });
    for (int i = kMaxOwnEntries - 1; i < own.size(); ++i)
        dropped.insert(own[i]);

    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormattingIndent(2);
    if (fresh) {
        w.setAutoFormatting(true);
        w.writeStartDocument();
        w.writeNamespace(kBookmarkNs, QStringLiteral("bookmark"));
        w.writeNamespace(kMimeNs, QStringLiteral("mime"));
        w.writeStartElement(QStringLiteral("xbel"));
        w.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
        writeNewBookmark(w, href, mime, now);
        w.writeEndElement();
        w.writeEndDocument();
    } else {
        // Copied token by token, so that other programs' entries stay as they are.
        QXmlStreamReader reader(existing);
        int depth = 0;
        int ordinal = -1;
        bool inTarget = false, wroteOwnApp = false, skipSpace = false;
        while (!reader.atEnd()) {
            const QXmlStreamReader::TokenType token = reader.readNext();
            if (skipSpace && token == QXmlStreamReader::Characters && reader.isWhitespace()) {
                skipSpace = false;
                continue;
            }
            skipSpace = false;
            switch (token) {
            case QXmlStreamReader::StartDocument:
                w.writeStartDocument(reader.documentVersion().isEmpty() ? QStringLiteral("1.0")
                                                                        : reader.documentVersion().toString());
                w.writeCharacters(QStringLiteral("\n"));
                continue;
            case QXmlStreamReader::StartElement:
                if (isTopBookmark(reader, depth)) {
                    ++ordinal;
                    if (dropped.contains(ordinal)) {
                        reader.skipCurrentElement();
                        skipSpace = true;
                        continue;
                    }
                    if (ordinal == target) {
                        inTarget = true;
                        w.writeStartElement(QStringLiteral("bookmark"));
                        for (const QXmlStreamAttribute& a : reader.attributes()) {
                            if (a.name() != QLatin1String("modified") && a.name() != QLatin1String("visited"))
                                w.writeAttribute(a);
                        }
                        w.writeAttribute(QStringLiteral("modified"), now);
                        w.writeAttribute(QStringLiteral("visited"), now);
                        ++depth;
                        continue;
                    }
                }
                if (inTarget && isApplication(reader) &&
                    reader.attributes().value(QLatin1String("name")) == kAppName) {
                    reader.skipCurrentElement();
                    skipSpace = true;
                    continue;
                }
                ++depth;
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                // What is added is indented like the rest of the file.
                w.setAutoFormatting(true);
                if (inTarget && reader.namespaceUri() == kBookmarkNs &&
                    reader.name() == QLatin1String("applications")) {
                    writeApplication(w, now, entries[target].ownCount + 1);
                    wroteOwnApp = true;
                }
                if (inTarget && depth == 1) {
                    if (!wroteOwnApp)
                        writeInfo(w, mime, now, entries[target].ownCount + 1);
                    inTarget = false;
                }
                if (depth == 0 && target < 0) {
                    w.writeCharacters(QStringLiteral("  "));
                    writeNewBookmark(w, href, mime, now);
                    w.writeCharacters(QStringLiteral("\n"));
                }
                w.setAutoFormatting(false);
                break;
            default:
                break;
            }
            w.writeCurrentToken(reader);
        }
        if (reader.hasError()) {
            LOGW("recent files: %s cannot be read (%s); it is left as it is", qUtf8Printable(xbelFile),
                 qUtf8Printable(reader.errorString()));
            return false;
        }
    }

    QDir().mkpath(QFileInfo(xbelFile).absolutePath());
    QSaveFile file(xbelFile);
    // Unbuffered: a full disk fails the write itself, and commit() then
    // leaves the list as it was instead of putting a cut copy in its place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !writeWhole(file, out) || !file.commit()) {
        LOGW("recent files: cannot write %s: %s", qUtf8Printable(xbelFile), qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}

} // namespace recent
