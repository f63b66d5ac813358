#include "resource/project/project-backups.h"

#include "value/interface.h"
#include "value/paths.h"
#include "values/whole-write.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

namespace project {

namespace {

const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss-zzz");

} // namespace

QString ProjectBackups::rootFolder() {
    return QDir(QString::fromStdString(bg::stateDirectory())).filePath(QStringLiteral("backups"));
}

QString ProjectBackups::folderFor(const QString& projectPath) {
    const QFileInfo file(projectPath);
    const QByteArray hash =
        QCryptographicHash::hash(file.absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QDir(rootFolder()).filePath(file.completeBaseName() + QLatin1Char('-') + QString::fromLatin1(hash));
}

bool ProjectBackups::keep(const QString& projectPath, QString* error) {
    QFile source(projectPath);
    if (!QFileInfo(projectPath).isFile() || source.size() == 0)
        return true;
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!source.open(QIODevice::ReadOnly))
        return fail(source.errorString());
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return fail(source.errorString());
    const QString folder = folderFor(projectPath);
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("%1 cannot be made").arg(folder));
    // A save of an unchanged project keeps nothing new: ten of them would
    // otherwise push every different earlier version out.
    const QList<EarlierVersion> kept = earlierVersions(projectPath);
    if (!kept.isEmpty()) {
        QFile newest(kept.first().path);
        if (newest.size() == bytes.size() && newest.open(QIODevice::ReadOnly) && newest.readAll() == bytes)
            return true;
    }
    // The version is named by when it was saved, as the user knows it; it
    // is still the newest kept (a copied file's time may lie anywhere), so
    // it sorts first and pruning keeps it.
    const QDateTime now = QDateTime::currentDateTime();
    QDateTime saved = QFileInfo(projectPath).lastModified();
    if (!saved.isValid() || saved > now)
        saved = now;
    if (!kept.isEmpty() && saved <= kept.first().saved)
        saved = kept.first().saved.addMSecs(1);
    const QString name = QDir(folder).filePath(saved.toString(kStampFormat) + QStringLiteral(".zya2"));
    QSaveFile copy(name);
    if (!copy.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !writeWhole(copy, bytes) ||
        !copy.commit())
        return fail(copy.errorString());
    prune(projectPath, now);
    return true;
}

QDateTime ProjectBackups::savedAt(const QString& versionPath) {
    return QDateTime::fromString(QFileInfo(versionPath).completeBaseName(), kStampFormat);
}

QList<EarlierVersion> ProjectBackups::earlierVersions(const QString& projectPath) {
    QList<EarlierVersion> versions;
    const QDir folder(folderFor(projectPath));
    // Names sort as their times do; newest first.
    const QStringList names = folder.entryList({QStringLiteral("*.zya2")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& name : names) {
        const QDateTime saved = savedAt(name);
        if (saved.isValid())
            versions.append({folder.filePath(name), saved});
    }
    return versions;
}

void ProjectBackups::prune(const QString& projectPath, const QDateTime& now) {
    const QList<EarlierVersion> versions = earlierVersions(projectPath);
    QSet<QDate> daysKept;
    const QDate firstDay = now.date().addDays(-(kKeepDays - 1));
    for (int i = 0; i < versions.size(); ++i) {
        const QDate day = versions[i].saved.date();
        bool kept = i < kKeepNewest;
        if (!kept && day >= firstDay && !daysKept.contains(day))
            kept = true;
        daysKept.insert(day); // the newest of a day is the first met
        if (!kept && !QFile::remove(versions[i].path))
            LOGW("backups: %s cannot be deleted", qUtf8Printable(versions[i].path));
    }
}

} // namespace project
