#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// The file that writing to path replaces: the end of a chain of symbolic
// links (at most 40 of them), else path itself, made absolute. Files are
// written through a link, as editors do, and the link stays.
QString writtenPath(const QString& path);

// Writes all of data to a file opened unbuffered. A disk that fills up takes
// part of a write without an error; the rest is written again, and that write
// then fails with the reason ("No space left on device", "File too large")
// in the file's errorString() instead of "Unknown error".
bool writeWhole(QFileDevice& file, const char* data, qint64 size);
inline bool writeWhole(QFileDevice& file, const QByteArray& bytes) {
    return writeWhole(file, bytes.constData(), bytes.size());
}
