#include "export-function.h"

#include "value/interface.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace exportfn {

namespace {

// The writer reports FFmpeg codes: negative errno values for system failures
// such as a full disk.
QString writerFailure(const char* what, int code) {
    const int err = -code;
    const QString text = err > 0 && err < 4096 ? QString::fromLocal8Bit(std::strerror(err))
                                               : QStringLiteral("error %1").arg(code);
    return QStringLiteral("the movie writer failed to write %1: %2").arg(QLatin1String(what), text);
}

} // namespace

QString partialPath(const QString& output, qint64 pid) {
    const QFileInfo target(output);
    return QStringLiteral("%1/.%2.korvel-%3.%4")
        .arg(target.absolutePath(), target.completeBaseName())
        .arg(pid)
        .arg(target.suffix());
}

QString srtPathBeside(const QString& exportPath) {
    const QFileInfo info(exportPath);
    return info.dir().filePath(info.completeBaseName() + QLatin1String(".srt"));
}

bool setExportPath(MVParams& params, const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    if (utf8.isEmpty() || size_t(utf8.size()) >= sizeof(params.filePath))
        return false;
    std::memset(params.filePath, 0, sizeof(params.filePath));
    std::memcpy(params.filePath, utf8.constData(), size_t(utf8.size()));
    return true;
}

QString exportPath(const MVParams& params) {
    const void* end = std::memchr(params.filePath, 0, sizeof(params.filePath));
    if (!end)
        return QString();
    return QString::fromUtf8(params.filePath, int(static_cast<const char*>(end) - params.filePath));
}

QString checkParams(const MVParams& params) {
    if (!std::memchr(params.filePath, 0, sizeof(params.filePath)))
        return QStringLiteral("the output path is longer than %1 bytes").arg(sizeof(params.filePath) - 1);
    if (params.filePath[0] == 0)
        return QStringLiteral("no output path");
    if (params.fromFrame < 0 || (params.toFrame >= 0 && params.toFrame <= params.fromFrame))
        return QStringLiteral("the range [%1, %2) holds no frame").arg(params.fromFrame).arg(params.toFrame);
    if (params.audioOnly && params.videoOnly)
        return QStringLiteral("a file with neither pictures nor sound");
    if (params.audioOnly)
        return QString();
    if (params.frameRate < kMinFrameRate || params.frameRate > kMaxFrameRate)
        return QStringLiteral("frame rate %1 is outside %2 to %3")
            .arg(params.frameRate)
            .arg(kMinFrameRate)
            .arg(kMaxFrameRate);
    if (params.width <= 0 || params.height <= 0)
        return QStringLiteral("picture size %1x%2 is impossible").arg(params.width).arg(params.height);
    if (params.bitRate < 0)
        return QStringLiteral("bit rate %1 is negative").arg(params.bitRate);
    return QString();
}

MVSettings movieSettings(const MVParams& params, const char* metadata) {
    MVSettings s;
    const bool video = !params.audioOnly;
    s.width = video ? params.width : 1920;
    s.height = video ? params.height : 1080;
    s.audioOnly = params.audioOnly;
    // The composition's own rate: the writer spaces its pictures by the play
    // rate (a rate widened here instead would put them in uneven slots).
    s.frameRate = video ? params.frameRate : 25;
    s.keyFrameInterval = video ? params.keyFrameInterval : 25;
    s.fixedKeyFrames = video ? params.fixedKeyFrames : 0;
    s.bitRate = video ? params.bitRate : 0;
    s.gif = params.gif;
    s.audioChannels = kChannels;
    s.audioSampleRate = kSampleRate;
    s.playRate = params.playRate;
    s.noSound = video && params.videoOnly ? 1 : 0;
    s.metadata = metadata;
    return s;
}

mv::Movie* openMovie(const MVParams& params, QString* reason) {
    const QString problem = checkParams(params);
    if (!problem.isEmpty()) {
        if (reason)
            *reason = problem;
        return nullptr;
    }
    const MVSettings settings = movieSettings(params);
    mv::Movie* movie = mv::create_movie(&settings, params.filePath);
    if (!movie && reason) {
        const std::string why = mv::create_movie_failure();
        *reason = why.empty() ? QStringLiteral("the movie writer cannot create %1").arg(exportPath(params))
                              : QStringLiteral("the movie writer cannot create %1: %2")
                                    .arg(exportPath(params), QString::fromStdString(why));
    }
    return movie;
}

QString pushPicture(mv::Movie* movie, const uint8_t* pixels, int bytesPerRow, int height, int64_t ptsUs) {
    const size_t bytes = size_t(bytesPerRow) * size_t(height);
    const int ret = mv::push_image_frame(movie, pixels, bytes, bytesPerRow, ptsUs, mv::PTS_MICROSECONDS);
    return ret < 0 ? writerFailure("a picture", ret) : QString();
}

QString pushPlanes(mv::Movie* movie, const uint8_t* planes, int width, int height, int64_t ptsUs) {
    const size_t bytes = size_t(width) * size_t(height) * 3 / 2;
    const int ret = mv::push_yuv420_frame(movie, planes, bytes, ptsUs, mv::PTS_MICROSECONDS);
    return ret < 0 ? writerFailure("a picture", ret) : QString();
}

QString pushPlanes(mv::Movie* movie, const ff::VFrameCtx& frame, int64_t ptsUs) {
    const uint8_t* const planes[3] = {frame.plane(0), frame.plane(1), frame.plane(2)};
    const int ret = mv::push_yuv420_planes(movie, planes, frame.planeStride, ptsUs, mv::PTS_MICROSECONDS);
    return ret < 0 ? writerFailure("a picture", ret) : QString();
}

QString pushSound(mv::Movie* movie, const uint8_t* pcm, size_t byteCount, int64_t ptsUs) {
    const int ret = mv::push_pcm_frame(movie, pcm, byteCount, ptsUs, mv::PTS_MICROSECONDS);
    return ret < 0 ? writerFailure("sound", ret) : QString();
}

int64_t timelineFrameOf(int64_t k, int rate) {
    // round(k * 30 / rate) in integers: no float error over long exports.
    return (2 * k * kUnitsPerSecond + rate) / (2 * int64_t(rate));
}

int64_t outputFrameCount(int64_t total, int rate) {
    if (total <= 0)
        return 0;
    // The first k whose frame lies at or past total: k * 30 / rate >= total - 0.5.
    int64_t k = ((2 * total - 1) * rate + 2 * kUnitsPerSecond - 1) / (2 * kUnitsPerSecond);
    while (k > 0 && timelineFrameOf(k - 1, rate) >= total)
        --k;
    while (timelineFrameOf(k, rate) < total)
        ++k;
    return k;
}

int64_t frameTimestampNs(int64_t k, int rate) {
    return k * 1000000000 / rate;
}

int64_t frameOfTimestamp(int64_t timestampNs, int rate) {
    // The inverse of the truncating division above.
    return (timestampNs * rate + 999999999) / 1000000000;
}

int64_t picturePtsUs(int64_t k, int rate) {
    return k * 1000000 / rate;
}

int64_t soundPtsUs(int64_t index, int64_t unitsPerSecond) {
    return unitsPerSecond > 0 ? index * 1000000 / unitsPerSecond : 0;
}

} // namespace exportfn
