#include "values/media-thumbnail.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

QString mediaThumbnailPath(const QString& mediaPath) {
    const QFileInfo info(mediaPath);
    const QByteArray digest =
        QCryptographicHash::hash(info.absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    // The base name stays in front so the folder is still readable by eye.
    return QDir::tempPath() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('-') +
           QString::fromLatin1(digest) + QLatin1String(".png");
}
