#pragma once

#include <QByteArray>
#include <QFileDevice>

// Writes all of data to a file opened unbuffered. A disk that fills up takes
// part of a write without an error; the rest is written again, and that write
// then fails with the reason ("No space left on device", "File too large")
// in the file's errorString() instead of "Unknown error".
bool writeWhole(QFileDevice& file, const char* data, qint64 size);
inline bool writeWhole(QFileDevice& file, const QByteArray& bytes) {
    return writeWhole(file, bytes.constData(), bytes.size());
}
