#include "values/media-thumbnail.h"

#include "values/cache-folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace {
constexpr int kLongestBaseBytes = 200;

QString thumbnailName(const QString& mediaPath) {
    const QFileInfo info(mediaPath);
    const QByteArray digest =
        QCryptographicHash::hash(info.absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    // The base name stays in front so the folder is still readable by eye,
    // shortened where the whole name would pass the 255 bytes a file name
    // may have (the digest tells such names apart).
    QString base = info.completeBaseName();
    while (base.toUtf8().size() > kLongestBaseBytes)
        base.chop(base.size() >= 2 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
    return base + QLatin1Char('-') + QString::fromLatin1(digest) + QLatin1String(".png");
}
} // namespace

QString mediaThumbnailPath(const QString& mediaPath) {
    return cacheSubfolder(QStringLiteral("thumbnails")) + QLatin1Char('/') + thumbnailName(mediaPath);
}

QString legacyMediaThumbnailPath(const QString& mediaPath) {
    return QDir::tempPath() + QLatin1Char('/') + thumbnailName(mediaPath);
}

QString existingMediaThumbnailPath(const QString& mediaPath) {
    const QString current = mediaThumbnailPath(mediaPath);
    if (QFileInfo::exists(current))
        return current;
    const QString legacy = legacyMediaThumbnailPath(mediaPath);
    return QFileInfo::exists(legacy) ? legacy : current;
}

MediaThumbnails* MediaThumbnails::instance() {
    static MediaThumbnails* notices = new MediaThumbnails; // lives until the process ends
    return notices;
}
