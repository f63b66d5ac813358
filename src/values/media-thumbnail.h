// Where the small preview picture of a media file is kept: the library
// writes it when the file is added, the timeline's clips read it.
#pragma once

#include <QObject>
#include <QString>

// A PNG in the cache folder's "thumbnails" (made when missing), named after
// the file's whole absolute path, so two files with the same name in
// different folders keep their own.
QString mediaThumbnailPath(const QString& mediaPath);
// Where earlier versions wrote it: the same name in the temporary folder.
// Still read when the cache has none, never written.
QString legacyMediaThumbnailPath(const QString& mediaPath);
// The picture to read: the cache's when it exists, else the earlier one
// when that exists, else the cache's (missing) path.
QString existingMediaThumbnailPath(const QString& mediaPath);

// Tells the timeline's clips that a media file's thumbnail was written (the
// library makes them in the background, often after the clips are drawn).
// Any thread may emit; receivers on the GUI thread get it queued.
class MediaThumbnails : public QObject {
    Q_OBJECT
public:
    static MediaThumbnails* instance();

signals:
    void sig_written(const QString& mediaPath);

private:
    MediaThumbnails() = default;
};
