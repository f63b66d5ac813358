// The movie writer, checked through the files it writes: ffprobe reads them
// back and ffmpeg decodes a picture and the sound.
#include "media/media.h"
#include "movie/movie.h"

#include "support/file-size-limit.h"
#include "support/test-main.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

constexpr int kFrames = 60;
constexpr int kFps = 30;
constexpr int kRate = 44100;
constexpr double kToneHz = 1000.0;

struct Rgb {
    int r, g, b;
};
const Rgb kPalette[] = {{200, 40, 40},  {40, 200, 40},  {40, 40, 200},
                        {220, 220, 40}, {40, 200, 200}, {200, 40, 200}};

Rgb colourOf(int frame) {
    return kPalette[(frame / 10) % 6];
}

// Standard output of a tool, or its merged output when `merged`.
QByteArray runTool(const QString& tool, const QStringList& args, bool merged = false) {
    QProcess p;
    if (merged)
        p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool, args);
    if (!p.waitForFinished(120000))
        return "timed out";
    return p.readAllStandardOutput();
}

// Pictures from one thread, 2 s of a tone from another, both at once.
void writeMovie(const QString& path, const MVSettings& s, int* failures) {
    mv::Movie* movie = mv::create_movie(&s, path.toUtf8().constData());
    QVERIFY(movie);
    std::atomic<int> failed{0};
    std::thread pictures([&] {
        const int stride = s.width * 4 + 64; // rows with padding the writer must skip
        std::vector<uint8_t> pixels(size_t(stride) * s.height, 0xff);
        for (int i = 0; i < kFrames; ++i) {
            Rgb c = colourOf(i);
            for (int y = 0; y < s.height; ++y) {
                uint8_t* row = pixels.data() + size_t(y) * stride;
                for (int x = 0; x < s.width; ++x) {
                    row[4 * x] = uint8_t(c.r);
                    row[4 * x + 1] = uint8_t(c.g);
                    row[4 * x + 2] = uint8_t(c.b);
                    row[4 * x + 3] = 255;
                }
            }
            int64_t pts = int64_t(i) * 1000000 / kFps;
            // Repeats of a slot are dropped, not written as extra frames.
            for (int repeat = 0; repeat < (i == 20 ? 4 : 1); ++repeat) {
                if (mv::push_image_frame(movie, pixels.data(), pixels.size(), stride, pts,
                                         mv::PTS_MICROSECONDS) != 0)
                    ++failed;
            }
        }
    });
    std::thread sound([&] {
        const int chunk = kRate / kFps;
        std::vector<int16_t> pcm(size_t(chunk) * 2);
        for (int64_t start = 0; start < 2 * kRate; start += chunk) {
            for (int i = 0; i < chunk; ++i) {
                double t = double(start + i) / kRate;
                pcm[2 * i] = pcm[2 * i + 1] = int16_t(std::lround(12000 * std::sin(2 * M_PI * kToneHz * t)));
            }
            if (mv::push_pcm_frame(movie, reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size() * 2,
                                   start * 1000000 / kRate, mv::PTS_MICROSECONDS) != 0)
                ++failed;
        }
    });
    pictures.join();
    sound.join();
    QVERIFY(mv::stop_movie(&movie));
    QVERIFY(!movie);
    *failures = failed;
}

// Upward zero crossings per second, away from the ends.
double toneFrequency(const QByteArray& s16) {
    const auto* samples = reinterpret_cast<const int16_t*>(s16.constData());
    int count = s16.size() / 2;
    int from = kRate / 4, to = count - kRate / 4;
    int crossings = 0;
    for (int i = from + 1; i < to; ++i)
        crossings += samples[i - 1] < 0 && samples[i] >= 0;
    return to > from ? crossings * double(kRate) / (to - from) : 0;
}

MVSettings smallSettings() {
    MVSettings s;
    s.width = 320;
    s.height = 240;
    s.frameRate = kFps;
    s.keyFrameInterval = 25;
    return s;
}

} // namespace

class TestMovie : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("ffprobe").isEmpty() ||
            QStandardPaths::findExecutable("ffmpeg").isEmpty())
            QSKIP("ffprobe and ffmpeg are needed to read the files back");
    }

    void roundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("playRate");
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<QString>("videoCodec"); // empty: sound only
        QTest::addColumn<QString>("audioCodec");
        QTest::newRow("mp4") << "a.mp4" << 320 << 240 << 1.0 << 0 << "h264"
                             << "aac";
        QTest::newRow("mp4 bit rate, odd size") << "b.MP4" << 321 << 241 << 1.0 << 800 << "h264"
                                                << "aac";
        QTest::newRow("avi") << "c.avi" << 320 << 240 << 1.0 << 0 << "mpeg4"
                             << "mp3";
        QTest::newRow("avi bit rate") << "d.avi" << 320 << 240 << 1.0 << 1500 << "mpeg4"
                                      << "mp3";
        QTest::newRow("mp3") << "e.mp3" << 320 << 240 << 1.0 << 0 << ""
                             << "mp3";
        QTest::newRow("mp4 play rate 2") << "f.mp4" << 320 << 240 << 2.0 << 0 << "h264"
                                         << "aac";
        QTest::newRow("mp3 play rate 0.4") << "g.mp3" << 320 << 240 << 0.4 << 0 << ""
                                           << "mp3";
    }

    void roundTrip() {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(double, playRate);
        QFETCH(int, bitRate);
        QFETCH(QString, videoCodec);
        QFETCH(QString, audioCodec);
        const QString path = korvel::test::workFolder("round-" + name) + "/" + name;
        MVSettings s = smallSettings();
        s.width = width;
        s.height = height;
        s.playRate = playRate;
        s.bitRate = bitRate;
        s.metadata = "title:Round; trip;comment:made by tst_movie";
        int failures = -1;
        writeMovie(path, s, &failures);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(failures, 0);

        const QJsonObject probe =
            QJsonDocument::fromJson(
                runTool("ffprobe", {"-v", "error", "-count_frames", "-show_entries",
                                    "stream=codec_type,codec_name,width,height,nb_read_frames:"
                                    "format=duration:format_tags=title,comment",
                                    "-of", "json", path}))
                .object();
        QJsonObject video, audio;
        for (const QJsonValue& v : probe["streams"].toArray())
            (v["codec_type"].toString() == "video" ? video : audio) = v.toObject();
        QCOMPARE(video["codec_name"].toString(), videoCodec);
        QCOMPARE(audio["codec_name"].toString(), audioCodec);
        if (!videoCodec.isEmpty()) {
            QCOMPARE(video["width"].toInt(), width & ~1);
            QCOMPARE(video["height"].toInt(), height & ~1);
            QVERIFY2(std::abs(video["nb_read_frames"].toString().toInt() - kFrames) <= 1,
                     qPrintable(video["nb_read_frames"].toString()));
        }
        const double duration = probe["format"]["duration"].toString().toDouble();
        QVERIFY2(std::abs(duration - 2.0 / playRate) <= 0.1, qPrintable(QString::number(duration)));
        QCOMPARE(probe["format"]["tags"]["title"].toString(), QString("Round; trip"));
        QCOMPARE(probe["format"]["tags"]["comment"].toString(), QString("made by tst_movie"));

        QCOMPARE(QString(runTool("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"}, true)), QString());

        if (name.endsWith(".mp4", Qt::CaseInsensitive)) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY2(bytes.indexOf("moov") < bytes.indexOf("mdat"), "the index is not at the front");
        }

        if (!videoCodec.isEmpty()) {
            QByteArray rgb = runTool("ffmpeg", {"-v", "error", "-i", path, "-vf", "select=eq(n\\,15)",
                                                "-fps_mode", "passthrough", "-frames:v", "1", "-f",
                                                "rawvideo", "-pix_fmt", "rgb24", "-"});
            QCOMPARE(rgb.size(), (width & ~1) * (height & ~1) * 3);
            const Rgb want = colourOf(15);
            int worst = 0;
            for (int i = 0; i < rgb.size(); i += 3) {
                const auto* p = reinterpret_cast<const uint8_t*>(rgb.constData() + i);
                worst = std::max(
                    {worst, std::abs(p[0] - want.r), std::abs(p[1] - want.g), std::abs(p[2] - want.b)});
            }
            QVERIFY2(worst <= 12, qPrintable(QString("off by %1").arg(worst)));
        }

        QByteArray pcm = runTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a", "-ac", "1", "-ar",
                                            QString::number(kRate), "-f", "s16le", "-"});
        const double hz = toneFrequency(pcm);
        QVERIFY2(std::abs(hz - kToneHz) <= kToneHz * 0.02, qPrintable(QString("%1 Hz").arg(hz)));

        // Our own decoder reads the file back the same way.
        const QByteArray utf8 = path.toUtf8();
        auto info = ff::getMovieInfo(utf8.constData(), nullptr);
        QVERIFY(info);
        QVERIFY(std::abs(info->durationUs / 1e6 - 2.0 / playRate) <= 0.1);
        if (!videoCodec.isEmpty()) {
            const ff::StreamInfo* v = info->stream(info->bestVideoStream);
            QCOMPARE(QSize(v->width, v->height), QSize(width & ~1, height & ~1));
            ff::FFDecoder decoder;
            QVERIFY(decoder.open(utf8.constData(), info->bestVideoStream));
            ff::RequireVideoFrame at15;
            at15.time = {int64_t(15 * 1000000 / (kFps * playRate)), 1000000};
            ff::VFramePtr frame = decoder.getVideoFrame(at15);
            QVERIFY(frame);
            const Rgb want = colourOf(15);
            const uint8_t* mid = frame->row(frame->height / 2) + (frame->width / 2) * 4;
            QVERIFY(std::abs(mid[0] - want.r) <= 12 && std::abs(mid[1] - want.g) <= 12 &&
                    std::abs(mid[2] - want.b) <= 12);
        }
        ff::FFDecoder sound;
        QVERIFY(sound.open(utf8.constData(), info->bestAudioStream));
        ff::RequireAudioFrame all;
        all.start = {0, 1};
        all.end = {int64_t(2000 / playRate), 1000};
        ff::AFramePtr tone = sound.getAudioFrame(all);
        QVERIFY(tone);
        QByteArray left;
        const auto* stereo = reinterpret_cast<const int16_t*>(tone->data.data());
        for (int64_t i = 0; i < tone->samples; ++i)
            left.append(reinterpret_cast<const char*>(&stereo[2 * i]), 2);
        const double ourHz = toneFrequency(left);
        QVERIFY2(std::abs(ourHz - kToneHz) <= kToneHz * 0.02, qPrintable(QString("%1 Hz").arg(ourHz)));
    }

    // A later sound push leaves a gap of silence, so sound keeps its place.
    void soundGapBecomesSilence() {
        const QString path = korvel::test::workFolder("gap") + "/gap.mp3";
        MVSettings s = smallSettings();
        mv::Movie* movie = mv::create_movie(&s, path.toUtf8().constData());
        QVERIFY(movie);
        std::vector<int16_t> pcm(size_t(kRate) * 2, 1000);
        const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
        QCOMPARE(mv::push_pcm_frame(movie, bytes, pcm.size() * 2, 0, mv::PTS_MICROSECONDS), 0);
        QCOMPARE(mv::push_pcm_frame(movie, bytes, pcm.size() * 2, 1500000, mv::PTS_MICROSECONDS), 0);
        mv::stop_movie(&movie);
        const double duration =
            runTool("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path})
                .trimmed()
                .toDouble();
        QVERIFY2(std::abs(duration - 2.5) <= 0.1, qPrintable(QString::number(duration)));
    }

    // Played faster or slower, the sound lasts exactly its source's length
    // divided by the rate, as the pictures do, and sounds to its end; the
    // tempo filter kept its tail back (56 ms over 16 s at a quarter speed).
    void soundAtAnotherRateKeepsItsLength_data() {
        QTest::addColumn<double>("playRate");
        QTest::newRow("0.25") << 0.25;
        QTest::newRow("0.5") << 0.5;
        QTest::newRow("3") << 3.0;
    }
    void soundAtAnotherRateKeepsItsLength() {
        QFETCH(double, playRate);
        const QString path = korvel::test::workFolder("rate-" + QString::number(playRate)) + "/rate.wav";
        MVSettings s = smallSettings();
        s.playRate = playRate;
        mv::Movie* movie = mv::create_movie(&s, path.toUtf8().constData());
        QVERIFY(movie);
        std::vector<int16_t> pcm(size_t(kRate) * 2 * 2);
        for (size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = int16_t(8000 * std::sin(2 * M_PI * kToneHz * double(i / 2) / kRate));
        QCOMPARE(mv::push_pcm_frame(movie, reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size() * 2, 0,
                                    mv::PTS_MICROSECONDS),
                 0);
        QVERIFY(mv::stop_movie(&movie));
        const QByteArray out = runTool("ffmpeg", {"-v", "error", "-i", path, "-ac", "1", "-f", "s16le", "-"});
        QCOMPARE(qint64(out.size() / 2), qint64(std::llround(2.0 * kRate / playRate)));
        // The source's own sound to the end, not silence making up the length.
        const auto* samples = reinterpret_cast<const int16_t*>(out.constData());
        int loud = 0;
        for (int i = out.size() / 2 - kRate / 50; i < out.size() / 2 - kRate / 200; ++i)
            loud = std::max(loud, std::abs(int(samples[i])));
        QVERIFY2(loud > 4000, qPrintable(QString::number(loud)));
    }

    void createFails_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("frameRate");
        QTest::addColumn<double>("playRate");
        QTest::newRow("mkv") << "out.mkv" << 320 << 30 << 1.0;
        QTest::newRow("no extension") << "out" << 320 << 30 << 1.0;
        QTest::newRow("folder is a file") << "file.txt/out.mp4" << 320 << 30 << 1.0;
        QTest::newRow("missing folder") << "none/out.avi" << 320 << 30 << 1.0;
        QTest::newRow("width 0") << "out.mp4" << 0 << 30 << 1.0;
        QTest::newRow("width 1") << "out.avi" << 1 << 30 << 1.0;
        QTest::newRow("frame rate 0") << "out.mp4" << 320 << 0 << 1.0;
        QTest::newRow("play rate 0") << "out.mp4" << 320 << 30 << 0.0;
    }

    void createFails() {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(int, frameRate);
        QFETCH(double, playRate);
        const QString folder = korvel::test::workFolder("fails");
        QFile file(folder + "/file.txt");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        MVSettings s = smallSettings();
        s.width = width;
        s.frameRate = frameRate;
        s.playRate = playRate;
        const QString path = folder + "/" + name;
        mv::Movie* movie = reinterpret_cast<mv::Movie*>(1);
        QByteArray log =
            korvel::test::captureStderr([&] { movie = mv::create_movie(&s, path.toUtf8().constData()); });
        QVERIFY(!movie);
        QVERIFY2(log.contains("[E]"), log.constData());
        QVERIFY(!QFile::exists(path));
    }

    // The disk fills up just as the file is finished: the frames went into
    // the writer's buffer, but the rest of the file and its trailer cannot be
    // written. stop_movie says so, and leaves no unplayable file behind.
    void failedFinishIsReported_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("mp4") << "full.mp4";
        QTest::newRow("avi") << "full.avi";
    }
    void failedFinishIsReported() {
        QFETCH(QString, name);
        const QString path = korvel::test::workFolder("finish") + "/" + name;
        MVSettings s = smallSettings();
        mv::Movie* movie = mv::create_movie(&s, path.toUtf8().constData());
        QVERIFY(movie);
        std::vector<uint8_t> pixels(320 * 240 * 4, 90);
        std::vector<int16_t> pcm(size_t(kRate / kFps) * 2, 500);
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(mv::push_image_frame(movie, pixels.data(), pixels.size(), 320 * 4, int64_t(i) * 1000000 / kFps,
                                          mv::PTS_MICROSECONDS),
                     0);
            QCOMPARE(mv::push_pcm_frame(movie, reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size() * 2,
                                        int64_t(i) * 1000000 / kFps, mv::PTS_MICROSECONDS),
                     0);
        }
        bool finished = true;
        // The limit holds for every file of the process, the captured log too.
        const qint64 onDisk = QFileInfo(path).size();
        QVERIFY(onDisk < 32768);
        const QByteArray log = korvel::test::captureStderr([&] {
            korvel::test::FileSizeLimit full(rlim_t(std::max<qint64>(onDisk, 4096)));
            finished = mv::stop_movie(&movie);
        });
        QVERIFY(!finished);
        QVERIFY(!movie);
        QVERIFY2(log.contains("[E]") && log.contains(name.toUtf8()), log.constData());
        QVERIFY(!QFile::exists(path));
    }

    void stopIsHarmlessTwice() {
        mv::stop_movie(nullptr);
        MVSettings s = smallSettings();
        mv::Movie* movie =
            mv::create_movie(&s, (korvel::test::workFolder("stop") + "/s.mp4").toUtf8().constData());
        QVERIFY(movie);
        QVERIFY(mv::stop_movie(&movie));
        QVERIFY(!movie);
        QVERIFY(!mv::stop_movie(&movie));
    }

    void badPushesFail() {
        MVSettings s = smallSettings();
        mv::Movie* movie =
            mv::create_movie(&s, (korvel::test::workFolder("bad") + "/b.avi").toUtf8().constData());
        QVERIFY(movie);
        std::vector<uint8_t> pixels(320 * 240 * 4, 128);
        const uint8_t* px = pixels.data();
        const size_t n = pixels.size();
        korvel::test::captureStderr([&] {
            QVERIFY(mv::push_image_frame(movie, px, n - 4, 1280, 0, mv::PTS_MICROSECONDS) < 0);
            QVERIFY(mv::push_image_frame(movie, px, n - 1280, 1280, 0, mv::PTS_MICROSECONDS) < 0);
            QVERIFY(mv::push_image_frame(movie, px, n, 1276, 0, mv::PTS_MICROSECONDS) < 0);
            QVERIFY(mv::push_image_frame(movie, px, n, 0, 0, mv::PTS_MICROSECONDS) < 0);
            QVERIFY(mv::push_image_frame(movie, nullptr, n, 1280, 0, mv::PTS_MICROSECONDS) < 0);
            QVERIFY(mv::push_image_frame(movie, px, n, 1280, 0, 2) < 0);
            QVERIFY(mv::push_image_frame(nullptr, px, n, 1280, 0, mv::PTS_MICROSECONDS) < 0);
            QVERIFY(mv::push_pcm_frame(movie, px, 6, 0, mv::PTS_MICROSECONDS) < 0);
            QVERIFY(mv::push_pcm_frame(nullptr, px, 8, 0, mv::PTS_MICROSECONDS) < 0);
        });
        // The movie is still usable after the refusals.
        QCOMPARE(mv::push_image_frame(movie, px, n, 1280, 0, mv::PTS_MICROSECONDS), 0);
        QCOMPARE(mv::push_pcm_frame(movie, px, 4096, 0, mv::PTS_MICROSECONDS), 0);
        mv::stop_movie(&movie);
    }
};

KORVEL_TEST_MAIN(TestMovie)
#include "tst_movie.moc"
