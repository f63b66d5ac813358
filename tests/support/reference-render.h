// Pictures and sound as a viewer meets them: files decoded by the ffmpeg
// command (which honours the colour tags), compared frame by frame with a
// reference render made by an ffmpeg filter graph of the same composition.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>

namespace korvel::test {

// Runs `ffmpeg -nostdin -y ARGS`; on failure returns false with the end of
// what it said in *error.
bool runFfmpeg(const QStringList& arguments, QString* error = nullptr);
// Runs a program (korvel, or a test's own child mode) in a fresh process with
// leak checks off (it is judged by what it leaves); the exit status, or -1
// when it did not end in time. *said gets its error stream.
int runProgram(const QString& program, const QStringList& arguments, QByteArray* said, int timeoutMs = 280000,
               const QStringList& unset = {});

// The Y PSNR of every frame of `ours` against a lossless RGB `reference`,
// in frame order. The reference is turned into YUV with `matrix` ("bt601" or
// "bt709", limited range), as our export turns its pictures. A frame equal
// to its reference counts as 100 dB.
// With a `mask`, that rectangle is painted black in both before comparing.
QVector<double> psnrY(const QString& ours, const QString& reference, const QString& matrix,
                      QString* error = nullptr, const QRect& mask = QRect());
// Each video frame's presentation time in seconds.
QVector<double> frameTimes(const QString& file);
// The colour tags of the first video stream: "space,range,primaries,transfer".
QString colourTags(const QString& file);
// Frame `index` (0-based) of the file as RGB, converted with the file's own
// tags and exact rounding; null when there is none.
QImage decodeFrame(const QString& file, int index);
// The sound folded to mono at 8 kHz, as samples -1..1.
QVector<float> decodeSound(const QString& file);
// The root mean square of the samples between two instants (seconds).
double soundLevel(const QVector<float>& samples, double from, double to);
// PSNR of two RGB pictures of one size over all three channels, outside the mask.
double psnrRgb(const QImage& a, const QImage& b, const QRect& mask = QRect());

} // namespace korvel::test
