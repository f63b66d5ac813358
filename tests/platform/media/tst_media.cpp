// The media decoder against the ffmpeg command's own reading of the same files.
#include "media/hw-decode.h"
#include "media/media.h"
#include "support/test-main.h"
#include "value/interface.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

extern "C" {
#include <libavutil/hwcontext.h>
}

namespace {

QString media(const QString& name) { return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name; }

QByteArray run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return p.readAllStandardOutput();
}

// Frame n of the file as ffmpeg decodes it, in RGBA.
QByteArray referenceFrame(const QString& file, int n) {
    // Converted as the decoder converts: exact rounding, chroma interpolated along each row.
    return run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-vf",
                          QString("select=eq(n\\,%1),scale=flags=bicubic+accurate_rnd+full_chroma_int").arg(n),
                          "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgba", "-"});
}

// Presentation times of every frame, in microseconds from the file's start.
QList<qint64> frameTimes(const QString& file) {
    QList<qint64> times;
    const double start = run("ffprobe", {"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0",
                                         file})
                             .trimmed()
                             .toDouble();
    const QByteArray out = run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                           "frame=best_effort_timestamp_time", "-of", "csv=p=0", file});
    for (const QByteArray& line : out.split('\n')) {
        QByteArray value = line.split(',').first().trimmed(); // side data may follow
        if (line.trimmed().isEmpty())
            continue;
        bool ok = false;
        double t = value.toDouble(&ok);
        // The last frames of an AVI come out of the decoder without a time:
        // they follow on at the same step.
        if (!ok && times.size() >= 2)
            times << 2 * times[times.size() - 1] - times[times.size() - 2];
        else if (ok)
            times << qRound64((t - start) * 1e6);
    }
    return times;
}

// How far the decoded picture lies from a packed reference, channel by channel.
struct Difference {
    int largest = 1000;
    double mean = 1000.0;
};
Difference difference(const ff::VFrameCtx& frame, const QByteArray& reference) {
    Difference d;
    if (reference.size() != frame.width * frame.height * 4)
        return d;
    d.largest = 0;
    double sum = 0.0;
    for (int y = 0; y < frame.height; ++y) {
        const uint8_t* a = frame.row(y);
        const auto* b = reinterpret_cast<const uint8_t*>(reference.constData()) + size_t(y) * frame.width * 4;
        for (int i = 0; i < frame.width * 4; ++i) {
            const int off = std::abs(int(a[i]) - int(b[i]));
            d.largest = std::max(d.largest, off);
            sum += off;
        }
    }
    d.mean = sum / (double(frame.width) * frame.height * 4);
    return d;
}
int maxDifference(const ff::VFrameCtx& frame, const QByteArray& reference) {
    return difference(frame, reference).largest;
}

ff::AFramePtr audioRange(ff::FFDecoder& decoder, int64_t from, int64_t to, int64_t den) {
    ff::RequireAudioFrame request;
    request.start = {from, den};
    request.end = {to, den};
    return decoder.getAudioFrame(request);
}

ff::AFrameCtx sine(double frequency, double amplitude, int64_t samples, int64_t offset) {
    ff::AFrameCtx frame;
    frame.format = ff::SF_S16;
    frame.sampleRate = 44100;
    frame.channels = 2;
    frame.samples = samples;
    frame.data.resize(size_t(samples) * 4);
    auto* out = reinterpret_cast<int16_t*>(frame.data.data());
    for (int64_t i = 0; i < samples; ++i) {
        auto v = int16_t(std::lround(amplitude * std::sin(2 * M_PI * frequency * double(i + offset) / 44100)));
        out[2 * i] = out[2 * i + 1] = v;
    }
    return frame;
}

} // namespace

class TestMedia : public QObject {
    Q_OBJECT
private slots:
    void probe_data();
    void probe();
    void brokenFilesFailCleanly_data();
    void brokenFilesFailCleanly();
    void framesAreExact_data();
    void framesAreExact();
    void readingOnDecodesEachFrameOnce_data();
    void readingOnDecodesEachFrameOnce();
    void phoneVideoShowsUpright();
    void photoStandsAsTheCameraWasHeld_data();
    void photoStandsAsTheCameraWasHeld();
    void coloursHoldAtEverySize();
    void stillPictureServesEveryTime();
    void animatedWebpPlaysItsFrames();
    void audioRangesJoinWithoutGaps_data();
    void audioRangesJoinWithoutGaps();
    void audioOutsideTheMediaIsSilence();
    void mixerAddsSources();
    void thumbnailFitsTheBox();
    void ffmpegComplaintsReachTheLog();
    void hardwareDecodingFallsBackToSoftware_data();
    void hardwareDecodingFallsBackToSoftware();
};

void TestMedia::probe_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("videos");
    QTest::addColumn<int>("audios");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("still");
    QTest::newRow("h264 mp4 with sound") << "h264-30fps.mp4" << 1 << 1 << QSize(320, 240) << 0 << 3.0 << false;
    QTest::newRow("h264 mkv") << "h264-25fps.mkv" << 1 << 0 << QSize(320, 240) << 0 << 3.0 << false;
    QTest::newRow("mpeg4 avi") << "mpeg4-60fps.avi" << 1 << 1 << QSize(320, 240) << 0 << 2.0 << false;
    QTest::newRow("odd size") << "odd-size.mkv" << 1 << 0 << QSize(317, 181) << 0 << 1.0 << false;
    // Its index, at the front, lists 2 s; only the frames ffmpeg decodes from it count (-1).
    QTest::newRow("cut short") << "truncated-tail.mp4" << 1 << 0 << QSize(320, 240) << 0 << -1.0 << false;
    QTest::newRow("phone clip") << "rotated.mp4" << 1 << 0 << QSize(180, 320) << 270 << 1.0 << false;
    QTest::newRow("wav") << "mono-48k.wav" << 0 << 1 << QSize() << 0 << 2.0 << false;
    QTest::newRow("mp3") << "tone.mp3" << 0 << 1 << QSize() << 0 << 2.0 << false;
    QTest::newRow("m4a") << "tone.m4a" << 0 << 1 << QSize() << 0 << 2.0 << false;
    QTest::newRow("png") << "alpha.png" << 1 << 0 << QSize(64, 48) << 0 << 0.0 << true;
    QTest::newRow("jpg") << "photo.jpg" << 1 << 0 << QSize(640, 480) << 0 << 0.0 << true;
    QTest::newRow("portrait photo") << "phone-photo.jpg" << 1 << 0 << QSize(180, 320) << 90 << 0.0 << true;
    QTest::newRow("bmp") << "picture.bmp" << 1 << 0 << QSize(160, 120) << 0 << 0.0 << true;
    QTest::newRow("animated gif") << "anim.gif" << 1 << 0 << QSize(96, 64) << 0 << 1.0 << false;
    QTest::newRow("gif of one picture") << "still.gif" << 1 << 0 << QSize(64, 48) << 0 << 0.0 << true;
    QTest::newRow("apng of one picture") << "still-apng.png" << 1 << 0 << QSize(64, 48) << 0 << 0.0 << true;
    // What a file holds decides, not its name.
    QTest::newRow("animated png") << "animated.png" << 1 << 0 << QSize(96, 64) << 0 << 1.0 << false;
    QTest::newRow("movie named .png") << "movie-named.png" << 1 << 1 << QSize(320, 240) << 0 << 3.0 << false;
    QTest::newRow("animated webp") << "anim.webp" << 1 << 0 << QSize(96, 64) << 0 << 1.0 << false;
    QTest::newRow("webp") << "picture.webp" << 1 << 0 << QSize(96, 64) << 0 << 0.0 << true;
    QTest::newRow("webp animation of one frame") << "anim-one.webp" << 1 << 0 << QSize(96, 64) << 0 << 0.0 << true;
}

void TestMedia::probe() {
    QFETCH(QString, file);
    QFETCH(int, videos);
    QFETCH(int, audios);
    QFETCH(QSize, size);
    QFETCH(int, rotation);
    QFETCH(double, seconds);
    QFETCH(bool, still);
    auto info = ff::getMovieInfo(media(file).toUtf8().constData(), nullptr);
    QVERIFY(info);
    if (seconds < 0) {
        const QList<qint64> shown = frameTimes(media(file));
        QVERIFY(shown.size() > 1 && shown.last() < 1900000);
        seconds = (shown.last() + 33333) / 1e6;
    }
    QCOMPARE(info->videoStreams, videos);
    QCOMPARE(info->audioStreams, audios);
    QCOMPARE(info->stillPicture, still);
    QVERIFY2(std::abs(info->durationUs / 1e6 - seconds) < 0.1, qPrintable(QString::number(info->durationUs)));
    if (videos) {
        const ff::StreamInfo* s = info->stream(info->bestVideoStream);
        QVERIFY(s);
        QCOMPARE(QSize(s->width, s->height), size);
        QCOMPARE(s->rotation, rotation);
    }
    if (audios)
        QVERIFY(info->stream(info->bestAudioStream)->sampleRate > 0);

    // A set cancel flag ends the probe with nothing.
    std::atomic<bool> cancel {true};
    QVERIFY(!ff::getMovieInfo(media(file).toUtf8().constData(), &cancel));
}

void TestMedia::brokenFilesFailCleanly_data() {
    QTest::addColumn<QString>("file");
    for (const char* name : {"truncated.mp4", "truncated-tail.mp4", "truncated.webp", "empty.mp4", "random.mp4",
                             "text-named.png", "no-such-file.mp4"})
        QTest::newRow(name) << QString(name);
}

void TestMedia::brokenFilesFailCleanly() {
    QFETCH(QString, file);
    QElapsedTimer clock;
    clock.start();
    QByteArray path = media(file).toUtf8();
    auto info = ff::getMovieInfo(path.constData(), nullptr);
    ff::ImageRequest thumb;
    ff::VFramePtr picture = ff::getMovieImage(path.constData(), thumb, nullptr);
    if (!info) {
        QVERIFY(!picture);
        ff::FFDecoder decoder;
        QVERIFY(!decoder.open(path.constData(), 0));
        QVERIFY(!decoder.getVideoFrame({}));
    } else {
        // Readable in part: every request still ends, with a picture or nothing.
        ff::FFDecoder decoder;
        if (decoder.open(path.constData(), std::max(info->bestVideoStream, 0))) {
            for (int n : {0, 45, 10, 300, 5}) {
                ff::RequireVideoFrame request;
                request.time = {n, 30};
                ff::VFramePtr frame = decoder.getVideoFrame(request);
                if (frame)
                    QVERIFY(frame->width > 0 && frame->stride >= frame->width * 4);
            }
        }
    }
    QVERIFY2(clock.elapsed() < 20000, "broken input took too long");
}

void TestMedia::framesAreExact_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("h264 30 fps mp4") << "h264-30fps.mp4";
    QTest::newRow("h264 25 fps mkv") << "h264-25fps.mkv";
    QTest::newRow("mpeg4 60 fps avi") << "mpeg4-60fps.avi";
    QTest::newRow("variable frame rate") << "vfr.mkv";
    QTest::newRow("odd size") << "odd-size.mkv";
    QTest::newRow("animated gif") << "anim.gif";
    QTest::newRow("animated png") << "animated.png";
    QTest::newRow("movie named .png") << "movie-named.png";
    QTest::newRow("h264 in avi") << "h264-25fps.avi";
    QTest::newRow("mpeg4 in mkv") << "mpeg4-30fps.mkv";
    QTest::newRow("mpeg4 in mp4") << "mpeg4-silent.mp4";
    // Starts later than its sound; a seek to its start lands on its second key frame.
    QTest::newRow("h264 in MPEG-TS") << "h264.mts";
}

void TestMedia::framesAreExact() {
    QFETCH(QString, file);
    const QList<qint64> times = frameTimes(media(file));
    QVERIFY(times.size() >= 10);
    const int count = int(times.size());
    // In order, backwards, then at random; each frame asked at its own time
    // and half-way to the next one.
    QList<int> order;
    for (int n = 0; n < std::min(count, 12); ++n)
        order << n;
    for (int n = count - 1; n >= count - 6; --n)
        order << n;
    QRandomGenerator random(7);
    for (int i = 0; i < 8; ++i)
        order << int(random.bounded(count));

    ff::FFDecoder decoder;
    QVERIFY(decoder.open(media(file).toUtf8().constData(),
                         ff::getMovieInfo(media(file).toUtf8().constData(), nullptr)->bestVideoStream));
    QHash<int, QByteArray> references;
    for (int n : order) {
        if (!references.contains(n))
            references[n] = referenceFrame(media(file), n);
        for (bool halfway : {false, true}) {
            qint64 t = times[n];
            if (halfway)
                t = n + 1 < count ? (times[n] + times[n + 1]) / 2 : t + 10000;
            ff::RequireVideoFrame request;
            request.time = {t, 1000000};
            ff::VFramePtr frame = decoder.getVideoFrame(request);
            QVERIFY2(frame, qPrintable(QString("no frame %1 at %2 us").arg(n).arg(t)));
            int diff = maxDifference(*frame, references[n]);
            QVERIFY2(diff <= 3, qPrintable(QString("frame %1 at %2 us: difference %3").arg(n).arg(t).arg(diff)));
        }
    }
}

void TestMedia::readingOnDecodesEachFrameOnce_data() {
    QTest::addColumn<QString>("file");
    // MP4 files key frames under their decoding times, which run ahead of
    // the times they are shown at; Matroska under the times shown.
    QTest::newRow("h264 with B-frames in mp4") << "h264-30fps.mp4";
    QTest::newRow("h264 in mkv") << "h264-25fps.mkv";
    QTest::newRow("mpeg4 in avi") << "mpeg4-60fps.avi";
    QTest::newRow("h264 with B-frames in avi") << "h264-bframes.avi";
    QTest::newRow("h264 in MPEG-TS") << "h264.mts";
}

void TestMedia::readingOnDecodesEachFrameOnce() {
    // Playback and export read on across key frames: going back to decode a
    // group of pictures again would cost as much as the group itself.
    QFETCH(QString, file);
    const QList<qint64> times = frameTimes(media(file));
    QVERIFY(times.size() > 60);
    const QByteArray path = media(file).toUtf8();
    const int stream = ff::getMovieInfo(path.constData(), nullptr)->bestVideoStream;
    for (int step : {1, 3}) { // every frame, and an export at a third of the rate
        ff::FFDecoder decoder;
        QVERIFY(decoder.open(path.constData(), stream, ff::DecodeUse::Sequential));
        for (int n = 0; n < times.size(); n += step) {
            ff::RequireVideoFrame request;
            request.time = {times[n], 1000000};
            request.planes = 1;
            ff::VFramePtr frame = decoder.getVideoFrame(request);
            QVERIFY(frame);
            QVERIFY(qAbs(frame->ptsUs - times[n]) <= 1000);
        }
        QVERIFY2(decoder.packetsRead() <= times.size() + 1,
                 qPrintable(QString("step %1: %2 frames read for %3").arg(step).arg(decoder.packetsRead())
                                .arg(times.size())));
    }
}

void TestMedia::phoneVideoShowsUpright() {
    ff::FFDecoder decoder;
    QVERIFY(decoder.open(media("rotated.mp4").toUtf8().constData(), 0));
    ff::RequireVideoFrame request;
    request.time = {10, 30};
    ff::VFramePtr frame = decoder.getVideoFrame(request);
    QVERIFY(frame);
    QCOMPARE(QSize(frame->width, frame->height), QSize(180, 320));
    // ffmpeg turns the picture the same way by itself. It turns before it
    // converts to RGB, so its chroma is interpolated along the other axis:
    // edges differ a little, the picture as a whole does not.
    const double mean = difference(*frame, referenceFrame(media("rotated.mp4"), 10)).mean;
    QVERIFY2(mean <= 1.5, qPrintable(QString::number(mean)));
}

void TestMedia::photoStandsAsTheCameraWasHeld_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QString>("turn"); // how ffmpeg's filters show it
    QTest::newRow("as stored") << 1 << "null";
    QTest::newRow("mirrored") << 2 << "hflip";
    QTest::newRow("upside down") << 3 << "hflip,vflip";
    QTest::newRow("mirrored upside down") << 4 << "vflip";
    QTest::newRow("transposed") << 5 << "transpose=cclock_flip";
    QTest::newRow("held upright") << 6 << "transpose=clock";
    QTest::newRow("transverse") << 7 << "transpose=clock_flip";
    QTest::newRow("held the other way") << 8 << "transpose=cclock";
}

void TestMedia::photoStandsAsTheCameraWasHeld() {
    QFETCH(int, orientation);
    QFETCH(QString, turn);
    // The 640 x 480 photo with an EXIF segment (big-endian this time, the
    // orientation after another tag) put in after its start marker.
    QFile plain(media("photo.jpg"));
    QVERIFY(plain.open(QIODevice::ReadOnly));
    const QByteArray jpeg = plain.readAll();
    QByteArray tiff("MM\0\x2a\0\0\0\x08\0\x02", 10);
    tiff += QByteArray("\x01\x0f\0\x02\0\0\0\x04" "Cam\0", 12); // Make: "Cam"
    tiff += QByteArray("\x01\x12\0\x03\0\0\0\x01\0", 9) + char(orientation) + QByteArray(2, 0);
    tiff += QByteArray(4, 0);
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xff\xe1", 2);
    app1 += char((body.size() + 2) >> 8);
    app1 += char((body.size() + 2) & 0xff);
    QTemporaryDir dir;
    const QString path = dir.filePath("photo.jpg");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(jpeg.left(2) + app1 + body + jpeg.mid(2));
    file.close();

    const bool sideways = orientation >= 5;
    const QSize shown = sideways ? QSize(480, 640) : QSize(640, 480);
    auto info = ff::getMovieInfo(path.toUtf8().constData(), nullptr);
    QVERIFY(info && info->stream(info->bestVideoStream));
    QCOMPARE(QSize(info->stream(info->bestVideoStream)->width, info->stream(info->bestVideoStream)->height), shown);
    ff::FFDecoder decoder;
    QVERIFY(decoder.open(path.toUtf8().constData(), 0));
    ff::RequireVideoFrame request;
    request.time = {0, 1};
    ff::VFramePtr frame = decoder.getVideoFrame(request);
    QVERIFY(frame);
    QCOMPARE(QSize(frame->width, frame->height), shown);
    const QByteArray reference =
        run("ffmpeg", {"-nostdin", "-v", "error", "-i", media("photo.jpg"), "-vf",
                       turn + ",scale=flags=bicubic+accurate_rnd+full_chroma_int", "-f", "rawvideo", "-pix_fmt", "rgba", "-"});
    const double mean = difference(*frame, reference).mean;
    QVERIFY2(mean <= 1.5, qPrintable(QString::number(mean)));
}

void TestMedia::coloursHoldAtEverySize() {
    // A BT.709 clip asked for at its own size, smaller, and its own size
    // again (a preview zooming): each new size makes a new converter, which
    // must be told the clip's matrix again, or its colours turn BT.601.
    ff::FFDecoder decoder;
    QVERIFY(decoder.open(media("colour-bt709.mp4").toUtf8().constData(), 0));
    const QRgb expected[6] = {0xc02020, 0x20c040, 0x3050d0, 0xe0d040, 0x808080, 0x40c0c0};
    for (int down : {1, 2, 1, 4, 2}) {
        ff::RequireVideoFrame request;
        request.time = {5, 30};
        request.scaleDen = down;
        const ff::VFramePtr frame = decoder.getVideoFrame(request);
        QVERIFY(frame && frame->planes == 0);
        for (int i = 0; i < 6; ++i) {
            const int x = frame->width * (2 * (i % 3) + 1) / 6, y = frame->height * (2 * (i / 3) + 1) / 4;
            const uint8_t* p = frame->row(y) + size_t(x) * 4;
            const QColor want(expected[i]);
            const int off = std::max({std::abs(p[0] - want.red()), std::abs(p[1] - want.green()),
                                      std::abs(p[2] - want.blue())});
            QVERIFY2(off <= 3, qPrintable(QStringLiteral("1/%1 size, patch %2: %3 %4 %5 for %6")
                                              .arg(down)
                                              .arg(i)
                                              .arg(p[0])
                                              .arg(p[1])
                                              .arg(p[2])
                                              .arg(want.name())));
        }
    }
}

void TestMedia::stillPictureServesEveryTime() {
    // A grey picture keeps its full range of levels.
    for (const char* name : {"photo.jpg", "alpha.png", "picture.bmp", "grey.png", "adam7.png"}) {
        ff::FFDecoder decoder;
        QVERIFY(decoder.open(media(name).toUtf8().constData(), 0));
        ff::RequireVideoFrame request;
        ff::VFramePtr first = decoder.getVideoFrame(request);
        QVERIFY(first);
        request.time = {90, 30};
        ff::VFramePtr later = decoder.getVideoFrame(request);
        QVERIFY(later);
        QCOMPARE(later->pixels, first->pixels);
        QVERIFY2(maxDifference(*first, referenceFrame(media(name), 0)) <= 3, name);
        if (QByteArray(name) == "alpha.png")
            QVERIFY(std::abs(int(first->data()[3]) - 128) <= 1); // transparency kept
        // Only pictures that can be transparent say so; the engine skips what opaque ones hide.
        QCOMPARE(first->opaque, QByteArray(name) != "alpha.png");
    }
}

// FFmpeg reads no frame of an animated WebP: each frame comes, with its
// alpha, from the movie made of it, and an edited file is made again.
void TestMedia::animatedWebpPlaysItsFrames() {
    const QString file = korvel::test::workFolder("webp") + "/anim.webp";
    QFile::remove(file);
    QVERIFY(QFile::copy(media("anim.webp"), file));
    ff::FFDecoder decoder;
    QVERIFY(decoder.open(file.toUtf8().constData(), 0));
    for (int n : {0, 7, 3, 9}) {
        ff::RequireVideoFrame request;
        request.time = {2 * n + 1, 20}; // half-way through frame n
        ff::VFramePtr frame = decoder.getVideoFrame(request);
        QVERIFY2(frame, qPrintable(QString("frame %1").arg(n)));
        const QByteArray reference =
            run("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                           "testsrc2=size=96x64:rate=10:duration=1,format=rgba,colorchannelmixer=aa=0.5",
                           "-vf", QString("select=eq(n\\,%1)").arg(n), "-frames:v", "1", "-f", "rawvideo",
                           "-pix_fmt", "rgba", "-"});
        const int diff = maxDifference(*frame, reference);
        QVERIFY2(diff <= 1, qPrintable(QString("frame %1: difference %2").arg(n).arg(diff)));
    }
    decoder.close();

    QFile::remove(file);
    run("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=64x32:rate=10:duration=0.5",
                   "-c:v", "libwebp_anim", "-loop", "0", file});
    const auto edited = ff::getMovieInfo(file.toUtf8().constData(), nullptr);
    QVERIFY(edited);
    const ff::StreamInfo* s = edited->stream(edited->bestVideoStream);
    QCOMPARE(QSize(s->width, s->height), QSize(64, 32));
    QVERIFY2(std::abs(edited->durationUs - 500000) < 50000, qPrintable(QString::number(edited->durationUs)));
}

void TestMedia::audioRangesJoinWithoutGaps_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("aac in mp4") << "h264-30fps.mp4";
    QTest::newRow("mp3") << "tone.mp3";
    QTest::newRow("m4a") << "tone.m4a";
    QTest::newRow("mono 48 kHz wav") << "mono-48k.wav";
    QTest::newRow("mp3 in avi") << "mpeg4-60fps.avi";
    QTest::newRow("mp3 beside h264 in avi") << "h264-25fps.avi";
}

void TestMedia::audioRangesJoinWithoutGaps() {
    QFETCH(QString, file);
    QByteArray path = media(file).toUtf8();
    auto info = ff::getMovieInfo(path.constData(), nullptr);
    QVERIFY(info && info->bestAudioStream >= 0);

    ff::FFDecoder whole, steps;
    QVERIFY(whole.open(path.constData(), info->bestAudioStream));
    QVERIFY(steps.open(path.constData(), info->bestAudioStream));
    ff::AFramePtr all = audioRange(whole, 0, 45, 30); // 1.5 s
    QVERIFY(all);
    QCOMPARE(all->samples, int64_t(66150));
    QCOMPARE(all->data.size(), size_t(66150 * 4));
    std::vector<uint8_t> joined;
    for (int i = 0; i < 45; ++i) {
        ff::AFramePtr part = audioRange(steps, i, i + 1, 30);
        QVERIFY(part);
        QCOMPARE(part->samples, int64_t(1470));
        joined.insert(joined.end(), part->data.begin(), part->data.end());
    }
    QVERIFY(joined == all->data);
    // The tone is really there: louder than silence.
    auto* s = reinterpret_cast<const int16_t*>(all->data.data());
    int peak = 0;
    for (int i = 22050; i < 44100; ++i)
        peak = std::max(peak, std::abs(int(s[i])));
    QVERIFY2(peak > 2000, qPrintable(QString::number(peak)));
    // Mono reaches each speaker at its own level, an eighth of full scale
    // from ffmpeg's sine (it came 3 dB down).
    if (file == "mono-48k.wav")
        QVERIFY2(std::abs(peak - 4096) < 100, qPrintable(QString::number(peak)));

    // Going back to a range already played gives the same samples (the file seeks).
    if (file.endsWith(".wav")) {
        ff::AFramePtr again = audioRange(steps, 10, 11, 30);
        auto* a = reinterpret_cast<const int16_t*>(again->data.data());
        auto* b = reinterpret_cast<const int16_t*>(all->data.data()) + 10 * 1470 * 2;
        int worst = 0;
        for (int i = 0; i < 1470 * 2; ++i)
            worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
        QVERIFY2(worst <= 16, qPrintable(QString::number(worst)));
    }
}

void TestMedia::audioOutsideTheMediaIsSilence() {
    ff::FFDecoder decoder;
    QVERIFY(decoder.open(media("mono-48k.wav").toUtf8().constData(), 0));
    auto silent = [](const ff::AFramePtr& f) {
        return f && std::all_of(f->data.begin(), f->data.end(), [](uint8_t b) { return b == 0; });
    };
    ff::AFramePtr before = audioRange(decoder, -30, -15, 30);
    QVERIFY(silent(before));
    QCOMPARE(before->samples, int64_t(22050));
    ff::AFramePtr after = audioRange(decoder, 90, 120, 30); // 3 s to 4 s of a 2 s file
    QVERIFY(silent(after));
    QCOMPARE(after->samples, int64_t(44100));
    // Straddling the end: sound, then silence.
    ff::AFramePtr edge = audioRange(decoder, 57, 63, 30);
    QCOMPARE(edge->samples, int64_t(8820));
    auto* s = reinterpret_cast<const int16_t*>(edge->data.data());
    QVERIFY(std::any_of(s, s + 2 * 4410, [](int16_t v) { return std::abs(v) > 1000; }));
    QVERIFY(std::all_of(s + 2 * 4410 + 200, s + 2 * 8820, [](int16_t v) { return v == 0; }));
    // A request of nothing, or an impossible one.
    QCOMPARE(audioRange(decoder, 5, 5, 30)->samples, int64_t(0));
    ff::RequireAudioFrame bad;
    bad.channels = 0;
    QVERIFY(!decoder.getAudioFrame(bad));
}

void TestMedia::mixerAddsSources() {
    ff::AudioMixer mixer(44100, 2, ff::SF_S16);
    int a = 0, b = 0, c = 0;
    QVERIFY(mixer.begin({30, 30}, {31, 30}));
    ff::AFrameCtx first = sine(440, 12000, 1470, 0), second = sine(1000, 9000, 1470, 0);
    QVERIFY(mixer.getBuffer(&a)->write(first, 128));
    QVERIFY(mixer.getBuffer(&b)->write(second, 64));
    mixer.getBuffer(&c); // a source that writes nothing adds silence
    ff::PcmBuffer out = mixer.end();
    QCOMPARE(out.samples, int64_t(1470));
    QCOMPARE(out.size, size_t(1470 * 4));
    auto* mixed = reinterpret_cast<const int16_t*>(out.data);
    auto* x = reinterpret_cast<const int16_t*>(first.data.data());
    auto* y = reinterpret_cast<const int16_t*>(second.data.data());
    for (int i = 0; i < 1470 * 2; ++i)
        QCOMPARE(int(mixed[i]), (int(x[i]) * 128 + int(y[i]) * 64) / 128);

    // Loud sources saturate instead of wrapping round; muted ones add nothing;
    // a source's second write follows its first.
    QVERIFY(mixer.begin({0, 30}, {1, 30}));
    ff::AFrameCtx loud = sine(440, 30000, 735, 0), rest = sine(440, 30000, 735, 735);
    mixer.getBuffer(&a)->write(loud, 256);
    mixer.getBuffer(&a)->write(rest, 256);
    mixer.getBuffer(&b)->write(sine(440, 30000, 1470, 0), 0);
    out = mixer.end();
    mixed = reinterpret_cast<const int16_t*>(out.data);
    auto full = sine(440, 30000, 1470, 0);
    auto* f = reinterpret_cast<const int16_t*>(full.data.data());
    for (int i = 0; i < 1470 * 2; ++i)
        QCOMPARE(int(mixed[i]), std::clamp(int(f[i]) * 2, -32768, 32767));

    // Frames of another format are refused, not misread.
    QVERIFY(mixer.begin({0, 30}, {1, 30}));
    ff::AFrameCtx mono = sine(440, 1000, 1470, 0);
    mono.channels = 1;
    QVERIFY(!mixer.getBuffer(&a)->write(mono, 128));
    QVERIFY(mixer.end().size == 1470 * 4);
}

void TestMedia::thumbnailFitsTheBox() {
    ff::ImageRequest request; // 0.2 of the way in, inside 100 x 80
    ff::VFramePtr video = ff::getMovieImage(media("h264-30fps.mp4").toUtf8().constData(), request, nullptr);
    QVERIFY(video);
    QCOMPARE(QSize(video->width, video->height), QSize(100, 75));
    QVERIFY(video->stride >= 400);
    QVERIFY(std::abs(video->ptsUs - 600000) <= 34000);
    ff::VFramePtr phone = ff::getMovieImage(media("rotated.mp4").toUtf8().constData(), request, nullptr);
    QVERIFY(phone);
    QCOMPARE(QSize(phone->width, phone->height), QSize(45, 80));
    ff::VFramePtr gif = ff::getMovieImage(media("anim.gif").toUtf8().constData(), request, nullptr);
    QVERIFY(gif);
    QVERIFY(!ff::getMovieImage(media("tone.mp3").toUtf8().constData(), request, nullptr));
}

// FFmpeg's own words about a damaged file are in the log with their level
// and the file; a file that fails over and over does not flood it.
void TestMedia::ffmpegComplaintsReachTheLog() {
    const QString path = korvel::test::workFolder("ffmpeg-log") + "/no-index.mp4";
    {
        // An MP4 with its file type but no index of its samples.
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("\0\0\0\x18" "ftypisom" "\0\0\x02\0" "isomiso2", 24));
        file.write(QByteArray("\0\0\x10\x08" "mdat", 8) + QByteArray(4096, '\x55'));
    }
    const auto lines = [&path](const QByteArray& marker) {
        QFile log(QString::fromStdString(bg::iface()->logFilePath()));
        QList<QByteArray> found;
        if (log.open(QIODevice::ReadOnly)) {
            for (const QByteArray& l : log.readAll().split('\n')) {
                if (l.contains(marker) && l.contains(path.toUtf8()))
                    found << l;
            }
        }
        return found;
    };
    const QByteArray utf8 = path.toUtf8();
    korvel::test::captureStderr([&utf8] { QVERIFY(!ff::getMovieInfo(utf8.constData(), nullptr)); });
    QList<QByteArray> said = lines("moov atom not found");
    QCOMPARE(said.size(), 1);
    QVERIFY2(said.first().contains("[E][bg] ") && said.first().contains("ffmpeg: [mov,mp4"), said.first());

    korvel::test::captureStderr([&utf8] {
        for (int i = 0; i < 100; ++i)
            ff::getMovieInfo(utf8.constData(), nullptr);
    });
    said = lines("moov atom not found");
    QVERIFY2(said.size() >= 2 && said.size() <= 25, qPrintable(QString::number(said.size())));
    QCOMPARE(lines("left out").size(), 1);
}

void TestMedia::hardwareDecodingFallsBackToSoftware_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("posedDevice");
    QTest::newRow("no render node") << "/nonexistent/dri/renderD128" << false;
    QTest::newRow("a plain file posing as one") << "plain-file" << false;
    QTest::newRow("device opens, first frame fails") << "" << true;
}

// With hardware decoding on where no GPU decodes, every file still decodes,
// in software, to the very pixels of a software decoder, and the log says
// so once per file.
void TestMedia::hardwareDecodingFallsBackToSoftware() {
    QFETCH(QString, device);
    QFETCH(bool, posedDevice);
    const QString folder = korvel::test::workFolder(QStringLiteral("hw-%1").arg(QTest::currentDataTag()));
    const QString path = folder + "/clip.mp4";
    QFile::remove(path);
    QVERIFY(QFile::copy(media("h264-30fps.mp4"), path));
    if (device == "plain-file") {
        device = folder + "/renderD128";
        QFile plain(device);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("not a GPU");
    }
    qputenv("KORVEL_VAAPI_DEVICE", device.toUtf8());
    // A VA-API device context that was never given a display: FFmpeg takes
    // it, and its hardware set-up fails on the first frame.
    const ff::hw::DeviceOpener posed = [](std::string*) { return av_hwdevice_ctx_alloc(AV_HWDEVICE_TYPE_VAAPI); };
    ff::hw::setDeviceOpener(posedDevice ? posed : nullptr);
    const QByteArray utf8 = path.toUtf8();
    ff::FFDecoder software, automatic;
    ff::setHardwareDecoding(ff::HardwareDecoding::None);
    QVERIFY(software.open(utf8.constData(), 0));
    ff::setHardwareDecoding(ff::HardwareDecoding::Auto);
    korvel::test::captureStderr([&] { QVERIFY(automatic.open(utf8.constData(), 0, ff::DecodeUse::Sequential)); });
    ff::hw::setDeviceOpener(nullptr);
    qunsetenv("KORVEL_VAAPI_DEVICE");
    QVERIFY(!automatic.usesHardware());
    // In order, then jumping back and ahead.
    for (int n : {0, 1, 2, 45, 10, 89, 30}) {
        ff::RequireVideoFrame request;
        request.time = {n, 30};
        ff::VFramePtr a = automatic.getVideoFrame(request), b = software.getVideoFrame(request);
        QVERIFY(a && b);
        QCOMPARE(a->ptsUs, b->ptsUs);
        QVERIFY2(a->pixels == b->pixels, qPrintable(QStringLiteral("frame %1").arg(n)));
    }
    QFile log(QString::fromStdString(bg::iface()->logFilePath()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QList<QByteArray> said;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (line.contains(utf8 + ": decoded "))
            said << line;
    }
    QCOMPARE(said.size(), 1);
    QVERIFY2(said.first().contains("decoded in software"), said.first());
    if (posedDevice)
        QVERIFY2(said.first().contains("first frame"), said.first());
}

KORVEL_TEST_MAIN(TestMedia)
#include "tst_media.moc"
