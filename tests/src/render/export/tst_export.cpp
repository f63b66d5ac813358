// Exports through the real pieces: a timeline of a red clip with a tone
// followed by a blue silent clip, the timeline view answering the export's
// workers on their threads, the render manager, the preview items decoding,
// the engine drawing and the movie writer encoding. The files are read back
// with ffprobe and ffmpeg.
#include "render/export/export-function.h"
#include "render/export/export-thread.h"
#include "render/render-manager.h"
#include "support/file-size-limit.h"
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-units.h"
#include "timeline/timeline-view.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QVector>
#include <QtTest>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>

namespace {

const QString kMedia = QStringLiteral(KORVEL_TEST_MEDIA_DIR);
constexpr int64_t kClipFrames = 45; // 1.5 s each; the timeline is 3 s
constexpr double kSwitchSeconds = 1.5;

QByteArray runTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qWarning("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

double durationOf(const QString& path) {
    return runTool("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path})
        .trimmed()
        .toDouble();
}

QList<double> framePts(const QString& path) {
    QList<double> pts;
    const QByteArray out = runTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                               "frame=pts_time", "-of", "csv=p=0", path});
    for (const QByteArray& line : out.split('\n')) {
        if (!line.trimmed().isEmpty())
            pts.append(line.trimmed().toDouble());
    }
    return pts;
}

enum Colour { Other, Red, Blue };

// The centre colour of every picture, in decoding order.
QList<Colour> frameColours(const QString& path) {
    const QByteArray raw =
        runTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
                           "scale=4:4", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    QList<Colour> colours;
    const int frameBytes = 4 * 4 * 3;
    for (int at = 0; at + frameBytes <= raw.size(); at += frameBytes) {
        const auto* px = reinterpret_cast<const uint8_t*>(raw.constData() + at + (2 * 4 + 2) * 3);
        colours.append(px[0] > 150 && px[2] < 90 ? Red : px[2] > 150 && px[0] < 90 ? Blue : Other);
    }
    return colours;
}

// One whole picture, by its index in decoding order, as rgb24.
struct Picture {
    QByteArray rgb;
    int width = 0;
    QColor at(int x, int y) const {
        const int i = (y * width + x) * 3;
        if (i < 0 || i + 2 >= rgb.size())
            return QColor();
        return QColor(uint8_t(rgb[i]), uint8_t(rgb[i + 1]), uint8_t(rgb[i + 2]));
    }
    // Pixels bright in all three channels: the subtitle's white text.
    int whitePixels() const {
        int count = 0;
        for (int i = 0; i + 2 < rgb.size(); i += 3)
            count += uint8_t(rgb[i]) > 220 && uint8_t(rgb[i + 1]) > 220 && uint8_t(rgb[i + 2]) > 220;
        return count;
    }
};

Picture pictureAt(const QString& path, int index, int width = 320) {
    Picture p;
    p.width = width;
    p.rgb = runTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:v:0", "-vf",
                               QString("select=eq(n\\,%1)").arg(index), "-frames:v", "1", "-fps_mode",
                               "passthrough", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    return p;
}

// Within `tolerance` of the expected colour in every channel.
bool near(const QColor& c, int r, int g, int b, int tolerance = 30) {
    return std::abs(c.red() - r) <= tolerance && std::abs(c.green() - g) <= tolerance &&
           std::abs(c.blue() - b) <= tolerance;
}

QString describe(const QColor& c) { return QString("(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue()); }

constexpr int kSoundRate = 8000;

// The sound, mono at 8 kHz.
QVector<int16_t> soundSamples(const QString& path) {
    const QByteArray raw = runTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-ar",
                                              QString::number(kSoundRate), "-f", "s16le", "-"});
    QVector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.constData(), size_t(samples.size()) * 2);
    return samples;
}

// The pitch between two instants, from the count of rising zero crossings.
double toneFrequency(const QVector<int16_t>& samples, double from, double to) {
    const int first = int(from * kSoundRate), last = std::min(int(to * kSoundRate), int(samples.size()));
    int rising = 0;
    for (int i = first + 1; i < last; ++i)
        rising += samples[i - 1] < 0 && samples[i] >= 0;
    return last > first ? rising / (double(last - first) / kSoundRate) : 0.0;
}

// Sound level of each 10 ms, mono at 8 kHz.
QList<double> soundLevels(const QString& path) {
    const QVector<int16_t> samples = soundSamples(path);
    const int16_t* s = samples.constData();
    const int n = samples.size();
    QList<double> levels;
    for (int at = 0; at + 80 <= n; at += 80) {
        double sum = 0;
        for (int i = at; i < at + 80; ++i)
            sum += double(s[i]) * s[i];
        levels.append(std::sqrt(sum / 80));
    }
    return levels;
}

constexpr double kLoud = 500.0; // the fixtures' tones sit near 2900

// Seconds into the sound where it falls silent after having sounded, -1 if never.
double silenceAfterTone(const QList<double>& levels) {
    bool sounded = false;
    for (int i = 0; i < levels.size(); ++i) {
        if (levels[i] > kLoud)
            sounded = true;
        else if (sounded)
            return i * 0.01;
    }
    return -1;
}

MVParams paramsFor(const QString& path, int rate) {
    MVParams params;
    exportfn::setExportPath(params, path);
    params.width = 320;
    params.height = 240;
    params.frameRate = rate;
    params.keyFrameInterval = rate;
    params.audioOnly = path.endsWith(".mp3") ? 1 : 0;
    return params;
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT

    std::unique_ptr<RenderManager> m_render;
    std::unique_ptr<TimeLineTreeModel> m_model;
    std::unique_ptr<TimeLineGraphicsScene> m_scene;
    std::unique_ptr<TimeLineGraphicsView> m_view;
    QMutex m_masksLock; // guards m_masks
    QList<int> m_masks; // the questions the workers asked

    enum Asked { AskedPicture = 1, AskedSound = 2 };
    // Notes each question of the export's workers and passes it on.
    struct NotingSource : ExportSource {
        TestExport* test = nullptr;
        ExportSource* frames = nullptr;
        void note(int asked) {
            QMutexLocker hold(&test->m_masksLock);
            test->m_masks.append(asked);
        }
        ExportPicture exportPicture(int64_t frame) override {
            note(AskedPicture);
            return frames->exportPicture(frame);
        }
        ExportSound exportSound(int64_t index, int64_t unitsPerSecond) override {
            note(AskedSound);
            return frames->exportSound(index, unitsPerSecond);
        }
        QStringList mediaFiles() const override { return frames->mediaFiles(); }
    } m_source;

    void clearMasks() {
        QMutexLocker hold(&m_masksLock);
        m_masks.clear();
    }
    QList<int> masks() {
        QMutexLocker hold(&m_masksLock);
        return m_masks;
    }

    // Builds a timeline wired to the render manager as the application does.
    void buildTimeline(const std::function<void(TimeLineTreeModel&)>& fill) {
        m_view.reset();
        m_scene.reset();
        m_model.reset();
        m_model = std::make_unique<TimeLineTreeModel>();
        m_scene = std::make_unique<TimeLineGraphicsScene>();
        m_scene->setModel(m_model.get());
        m_view = std::make_unique<TimeLineGraphicsView>(m_scene.get());
        RenderManager* render = m_render.get();
        TimeLineGraphicsView* view = m_view.get();
        connect(render, &RenderManager::sig_resetFrame, view, &TimeLineGraphicsView::slot_resetFrame);
        connect(render, &RenderManager::sig_startExportPrepare, view,
                &TimeLineGraphicsView::slot_startExportPrepare);
        connect(render, &RenderManager::sig_stopExportPrepare, view,
                &TimeLineGraphicsView::slot_stopExportPrepare);
        connect(view, &TimeLineGraphicsView::sig_deliverAudio, render, &RenderManager::deliverAudio,
                Qt::DirectConnection);
        fill(*m_model);
        m_scene->updateLength();
        m_model->setRenderManager(render);
        m_source.test = this;
        m_source.frames = view->frames();
        render->exportManager()->setSource(&m_source);
        render->exportManager()->setProgress(ExportManager::Progress());
    }

    void buildRedBlue() {
        buildTimeline([](TimeLineTreeModel& model) {
            ClassifyItem* video = model.header(SourceVideo);
            const QRectF place(0, 0, 320, 240);
            const QRect crop(0, 0, 320, 240);
            video->addSource(model.createSource(video, 0, kClipFrames, 0, 60, kMedia + "/export-red-tone.mp4",
                                                place, crop));
            video->addSource(model.createSource(video, kClipFrames, kClipFrames, 0, 60,
                                                kMedia + "/export-blue.mp4", place, crop));
        });
    }

    ExportResult exportTo(MVParams& params) {
        clearMasks();
        m_render->slot_exportParam(&params);
        return m_render->lastExportResult();
    }

    // The whole timeline to `out` at 30 frames a second, 320 x 240.
    ExportResult exportAt30(const QString& out) {
        MVParams params = paramsFor(out, 30);
        return exportTo(params);
    }

private slots:
    void initTestCase() {
        timeline::overrideDpiScale(1.0);
        m_render = std::make_unique<RenderManager>();
        QVERIFY(m_render->init());
        m_render->setSceneSize(320, 240, true);
        QVERIFY(m_render->exportManager());
    }

    void cleanupTestCase() {
        m_view.reset();
        m_scene.reset();
        m_model.reset();
        m_render.reset();
    }

    // Each output frame shows the timeline frame at its own time, so one
    // second of output is always 30 timeline frames and nothing drifts.
    void frameArithmetic_data() {
        QTest::addColumn<int>("rate");
        for (int rate : {30, 25, 20, 15, 10, 7, 5})
            QTest::newRow(qPrintable(QString::number(rate))) << rate;
    }
    void frameArithmetic() {
        QFETCH(int, rate);
        for (int seconds = 0; seconds < 100; ++seconds)
            QCOMPARE(exportfn::timelineFrameOf(int64_t(seconds) * rate, rate), int64_t(seconds) * 30);
        for (int64_t total : {int64_t(0), int64_t(1), int64_t(89), int64_t(90), int64_t(10007)}) {
            const int64_t count = exportfn::outputFrameCount(total, rate);
            QVERIFY(count == 0 || exportfn::timelineFrameOf(count - 1, rate) < total);
            QVERIFY(exportfn::timelineFrameOf(count, rate) >= total);
        }
        for (int64_t k = 0; k < 5000; ++k)
            QCOMPARE(exportfn::frameOfTimestamp(exportfn::frameTimestampNs(k, rate), rate), k);
    }

    void settingsAndPath() {
        MVParams params = paramsFor("/tmp/a.mp4", 20);
        params.bitRate = 2500;
        params.playRate = 0.5;
        MVSettings s = exportfn::movieSettings(params);
        QCOMPARE(s.bitRate, 2500);
        QCOMPARE(s.frameRate, 20); // the slower play rate is the writer's to apply
        QCOMPARE(QByteArray(s.metadata).left(6), QByteArray("title:"));
        params.audioOnly = 1;
        s = exportfn::movieSettings(params);
        QCOMPARE(QList<int>({s.width, s.height, s.frameRate, s.bitRate}), QList<int>({1920, 1080, 25, 0}));

        MVParams path;
        QVERIFY(exportfn::setExportPath(path, "/" + QString(510, QChar(0x61))));
        QVERIFY(exportfn::checkParams(path).isEmpty() || !exportfn::checkParams(path).contains("longer"));
        QVERIFY(!exportfn::setExportPath(path, "/" + QString(511, QChar(0x61))));
        // Two bytes a character: 300 of them do not fit.
        QVERIFY(!exportfn::setExportPath(path, QString(300, QChar(0xe9))));
    }

    void exportVideo_data() {
        QTest::addColumn<int>("rate");
        QTest::newRow("30 fps") << 30;
        QTest::newRow("25 fps") << 25;
        QTest::newRow("15 fps") << 15;
        QTest::newRow("7 fps") << 7;
    }
    void exportVideo() {
        QFETCH(int, rate);
        buildRedBlue();
        const QString out = korvel::test::workFolder("video") + QString("/out-%1.mp4").arg(rate);
        MVParams params = paramsFor(out, rate);
        const ExportResult result = exportTo(params);
        QVERIFY2(result.ok, qPrintable(result.reason));
        QVERIFY(!result.stoppedEarly);

        const int64_t expected = exportfn::outputFrameCount(2 * kClipFrames, rate);
        const QList<double> pts = framePts(out);
        QCOMPARE(pts.size(), int(expected));
        for (int k = 0; k < pts.size(); ++k)
            QVERIFY2(std::abs(pts[k] - double(k) / rate) < 0.001,
                     qPrintable(QString("frame %1 at %2").arg(k).arg(pts[k])));
        QVERIFY(std::abs(durationOf(out) - 3.0) < 0.15);

        // The right clip at each instant, and the picture turns blue where the tone ends.
        const QList<Colour> colours = frameColours(out);
        QCOMPARE(colours.size(), pts.size());
        QCOMPARE(colours[int(0.5 * rate)], Red);
        QCOMPARE(colours[int(2.5 * rate)], Blue);
        const int firstBlue = int(colours.indexOf(Blue));
        QVERIFY(firstBlue > 0);
        const double pictureSwitch = pts[firstBlue];
        QVERIFY2(std::abs(pictureSwitch - kSwitchSeconds) <= 1.0 / rate + 0.001,
                 qPrintable(QString::number(pictureSwitch)));

        const QList<double> levels = soundLevels(out);
        QVERIFY(levels.size() > 280);
        QVERIFY(levels[100] > kLoud);
        QVERIFY(levels[250] < kLoud / 5);
        const double soundEnd = silenceAfterTone(levels);
        QVERIFY2(std::abs(soundEnd - kSwitchSeconds) < 0.04, qPrintable(QString::number(soundEnd)));
        QVERIFY(std::abs(pictureSwitch - soundEnd) <= 1.0 / rate + 0.04);

        // Both workers asked; the items are back in preview mode.
        const QList<int> asked = masks();
        QVERIFY(asked.contains(AskedPicture));
        QVERIFY(asked.contains(AskedSound));
        QVERIFY(m_render->renderThread());
    }

    // Two clips joined by a dissolve, the second one brightened, a picture
    // at a known place, a subtitle, a muted music clip and a voice on the
    // dub track: each one is found in the file at its instant.
    void composition() {
        buildTimeline([](TimeLineTreeModel& model) {
            ClassifyItem* video = model.header(SourceVideo);
            const QRectF place(0, 0, 320, 240);
            const QRect crop(0, 0, 320, 240);
            SourceData* red = model.createSource(video, 0, kClipFrames, 0, 60, kMedia + "/export-red-tone.mp4",
                                                 place, crop);
            SourceData* blue = model.createSource(video, kClipFrames, kClipFrames, 0, 60,
                                                  kMedia + "/export-blue.mp4", place, crop);
            ColourSteps brighter;
            brighter.brightness = 50; // half again as bright
            blue->setInitialColors(brighter);
            video->addSource(red);
            video->addSource(blue);
            // One second, half on each side of the joint: frames 30 to 60.
            QVERIFY(model.addTransition(red, blue, "over_cross", 1000));
            // 64 x 48 centred 100 right of and 70 above the canvas centre.
            ClassifyItem* pictures = model.header(SourcePicture);
            pictures->addSource(model.createSource(pictures, 0, 90, 0, timeline::kMaxFrames,
                                                   kMedia + "/export-green.png", QRectF(100, -70, 64, 48),
                                                   QRect(0, 0, 64, 48)));
            QVERIFY(model.createSubtitle(model.header(SourceSubtitle), 60, 30, "HELLO",
                                         QFont("Sans", 28, QFont::Bold), Qt::white));
            ClassifyItem* music = model.header(SourceAudio);
            SourceData* muted = model.createSource(music, 48, 10, 0, 60, kMedia + "/tone.mp3", QRectF(), QRect());
            muted->setInitialLook(0, 255, 128, true);
            music->addSource(muted);
            ClassifyItem* dub = model.header(SourceDub);
            dub->addSource(model.createSource(dub, 60, 30, 0, 60, kMedia + "/mono-48k.wav", QRectF(), QRect()));
        });
        const QString out = korvel::test::workFolder("composition") + "/out.mp4";
        const ExportResult result = exportAt30(out);
        QVERIFY2(result.ok, qPrintable(result.reason));
        QCOMPARE(framePts(out).size(), 90);

        // 0.5 s: the red clip, the picture over it, no subtitle yet.
        const Picture early = pictureAt(out, 15);
        QVERIFY2(near(early.at(40, 120), 255, 0, 0), qPrintable(describe(early.at(40, 120))));
        QVERIFY2(near(early.at(260, 50), 0, 255, 0), qPrintable(describe(early.at(260, 50))));
        QVERIFY(near(early.at(234, 50), 0, 255, 0) && near(early.at(286, 50), 0, 255, 0));
        QVERIFY(near(early.at(222, 50), 255, 0, 0) && near(early.at(260, 82), 255, 0, 0));
        QVERIFY(near(early.at(260, 20), 255, 0, 0) && near(early.at(298, 50), 255, 0, 0));
        QCOMPARE(early.whitePixels(), 0);

        // 1.5 s: half way through the dissolve, half red and half the brightened blue.
        const Picture middle = pictureAt(out, 45);
        QVERIFY2(near(middle.at(40, 120), 191, 64, 128, 35), qPrintable(describe(middle.at(40, 120))));
        QVERIFY(near(middle.at(260, 50), 0, 255, 0));

        // 2.5 s: the brightened blue and the subtitle.
        const Picture late = pictureAt(out, 75);
        QVERIFY2(near(late.at(40, 120), 128, 128, 255), qPrintable(describe(late.at(40, 120))));
        QVERIFY(near(late.at(260, 50), 0, 255, 0));
        QVERIFY2(late.whitePixels() > 100, qPrintable(QString::number(late.whitePixels())));

        // The red clip's tone, the muted music, then the voice.
        const QVector<int16_t> sound = soundSamples(out);
        const double first = toneFrequency(sound, 0.2, 0.8), voice = toneFrequency(sound, 2.2, 2.8);
        QVERIFY2(std::abs(first - 440) < 20, qPrintable(QString::number(first)));
        QVERIFY2(std::abs(voice - 1000) < 30, qPrintable(QString::number(voice)));
        const QList<double> levels = soundLevels(out);
        QVERIFY(levels.size() > 280);
        QVERIFY2(levels[175] < kLoud / 5, qPrintable(QString::number(levels[175])));
    }

    // A turned, half-transparent picture over a clip that fills the canvas:
    // where the CPU converts colours only the picture is drawn and laid onto
    // the clip's decoded planes. Its turned corners reach past the box it
    // would have unturned, and they must be there, blended.
    void aTurnedPictureOverAClipIsLaidWhole() {
        buildTimeline([](TimeLineTreeModel& model) {
            ClassifyItem* video = model.header(SourceVideo);
            video->addSource(model.createSource(video, 0, kClipFrames, 0, 60, kMedia + "/export-red-tone.mp4",
                                                QRectF(0, 0, 320, 240), QRect(0, 0, 320, 240)));
            ClassifyItem* pictures = model.header(SourcePicture);
            // 64 x 48 centred 60 left of and 20 below the canvas centre, turned 45 degrees, half opaque.
            SourceData* green = model.createSource(pictures, 0, kClipFrames, 0, timeline::kMaxFrames,
                                                   kMedia + "/export-green.png", QRectF(-60, 20, 64, 48),
                                                   QRect(0, 0, 64, 48));
            green->setInitialLook(45, 128, 128, false);
            pictures->addSource(green);
        });
        const QString out = korvel::test::workFolder("turned") + "/out.mp4";
        const ExportResult result = exportAt30(out);
        QVERIFY2(result.ok, qPrintable(result.reason));
        const Picture p = pictureAt(out, 10);
        const QPoint centre(160 - 60, 120 + 20);
        // Green at half over red, at the centre and at points 30 pixels up
        // and down, which only the turned picture covers.
        for (const QPoint& at : {centre, centre + QPoint(0, 30), centre - QPoint(0, 30)})
            QVERIFY2(near(p.at(at.x(), at.y()), 128, 128, 0, 35), qPrintable(describe(p.at(at.x(), at.y()))));
        // Red where the turned picture leaves the canvas alone: its
        // unturned corners, and well away from it.
        for (const QPoint& at : {centre + QPoint(30, 22), centre - QPoint(30, 22), QPoint(250, 60)})
            QVERIFY2(near(p.at(at.x(), at.y()), 255, 0, 0), qPrintable(describe(p.at(at.x(), at.y()))));
    }

    // A picture wider than a texture can be (a panorama) is shown scaled,
    // not left out, and its crop, in the file's pixels, still holds.
    void aPanoramaWiderThanATextureShows() {
        for (const bool cropped : {false, true}) {
            buildTimeline([cropped](TimeLineTreeModel& model) {
                ClassifyItem* pictures = model.header(SourcePicture);
                pictures->addSource(model.createSource(
                    pictures, 0, 10, 0, timeline::kMaxFrames, kMedia + "/export-wide-red-green.png",
                    QRectF(0, 0, 320, 240), cropped ? QRect(0, 0, 8000, 200) : QRect(0, 0, 16000, 200)));
            });
            const QString out = korvel::test::workFolder("panorama") + (cropped ? "/cropped.mp4" : "/whole.mp4");
            const ExportResult result = exportAt30(out);
            QVERIFY2(result.ok, qPrintable(result.reason));
            const Picture p = pictureAt(out, 5);
            QVERIFY2(near(p.at(20, 120), 255, 0, 0), qPrintable(describe(p.at(20, 120))));
            const QColor right = p.at(300, 120);
            QVERIFY2(cropped ? near(right, 255, 0, 0) : near(right, 0, 255, 0), qPrintable(describe(right)));
        }
    }

    // An interlaced clip shows one field at a time: no line-high stripes
    // where its two fields differ (white and grey).
    void anInterlacedClipShowsNoCombs() {
        buildTimeline([](TimeLineTreeModel& model) {
            ClassifyItem* video = model.header(SourceVideo);
            video->addSource(model.createSource(video, 0, 20, 0, 50, kMedia + "/export-interlaced.mp4",
                                                QRectF(0, 0, 320, 240), QRect(0, 0, 320, 240)));
        });
        const QString out = korvel::test::workFolder("interlaced") + "/out.mp4";
        const ExportResult result = exportAt30(out);
        QVERIFY2(result.ok, qPrintable(result.reason));
        const Picture p = pictureAt(out, 10);
        QVERIFY2(p.at(160, 100).value() > 80, qPrintable(describe(p.at(160, 100)))); // the clip is there
        for (int y = 100; y < 110; ++y) {
            const QColor below = p.at(160, y + 1);
            QVERIFY2(near(p.at(160, y), below.red(), below.green(), below.blue(), 40),
                     qPrintable(QString("line %1 %2, line %3 %4")
                                    .arg(y)
                                    .arg(describe(p.at(160, y)))
                                    .arg(y + 1)
                                    .arg(describe(below))));
        }
    }

    // A WebM overlay keeps its alpha beside the picture: the red clip
    // under it shows through its see-through half.
    void aWebmOverlayShowsWhatLiesUnder() {
        buildTimeline([](TimeLineTreeModel& model) {
            ClassifyItem* under = model.header(SourceVideo);
            under->addSource(model.createSource(under, 0, 30, 0, 60, kMedia + "/export-red-tone.mp4",
                                                QRectF(0, 0, 320, 240), QRect(0, 0, 320, 240)));
            ClassifyItem* over = model.addTrack(under);
            over->addSource(model.createSource(over, 0, 30, 0, 30, kMedia + "/export-alpha.webm",
                                               QRectF(0, 0, 320, 240), QRect(0, 0, 320, 240)));
        });
        const QString out = korvel::test::workFolder("webm-alpha") + "/out.mp4";
        const ExportResult result = exportAt30(out);
        QVERIFY2(result.ok, qPrintable(result.reason));
        const Picture p = pictureAt(out, 10);
        QVERIFY2(near(p.at(60, 120), 255, 0, 0), qPrintable(describe(p.at(60, 120))));
        QVERIFY2(near(p.at(260, 120), 0, 0, 255), qPrintable(describe(p.at(260, 120))));
    }

    // An animated WebP moves in the export, and what lies under its
    // see-through half shows.
    void anAnimatedWebpMoves() {
        buildTimeline([](TimeLineTreeModel& model) {
            ClassifyItem* under = model.header(SourceVideo);
            under->addSource(model.createSource(under, 0, 30, 0, 60, kMedia + "/export-red-tone.mp4",
                                                QRectF(0, 0, 320, 240), QRect(0, 0, 320, 240)));
            ClassifyItem* over = model.addTrack(under);
            over->addSource(model.createSource(over, 0, 30, 0, 30, kMedia + "/export-anim.webp",
                                               QRectF(0, 0, 320, 240), QRect(0, 0, 320, 240)));
        });
        const QString out = korvel::test::workFolder("webp-anim") + "/out.mp4";
        const ExportResult result = exportAt30(out);
        QVERIFY2(result.ok, qPrintable(result.reason));
        for (const auto& [frame, red, green, blue] : {std::tuple{5, 0, 0, 255}, std::tuple{22, 0, 255, 0}}) {
            const Picture p = pictureAt(out, frame);
            QVERIFY2(near(p.at(60, 120), red, green, blue), qPrintable(describe(p.at(60, 120))));
            QVERIFY2(near(p.at(260, 120), 255, 0, 0), qPrintable(describe(p.at(260, 120))));
        }
    }

    // A one-frame white flash with a click at the same instant: the click
    // starts when the flash shows, in either kind of movie (an .avi's sound
    // was late by its encoder's priming, 25 ms).
    void flashAndClickInStep_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("kind");
        QTest::newRow("30 fps") << 30 << "mp4";
        QTest::newRow("25 fps") << 25 << "mp4";
        QTest::newRow("15 fps") << 15 << "mp4";
        QTest::newRow("30 fps avi") << 30 << "avi";
    }
    void flashAndClickInStep() {
        QFETCH(int, rate);
        QFETCH(QString, kind);
        buildTimeline([](TimeLineTreeModel& model) {
            ClassifyItem* video = model.header(SourceVideo);
            video->addSource(model.createSource(video, 0, 60, 0, 60, kMedia + "/export-flash-click.mp4",
                                                QRectF(0, 0, 320, 240), QRect(0, 0, 320, 240)));
        });
        const QString out = korvel::test::workFolder("flash") + QString("/out-%1.%2").arg(rate).arg(kind);
        MVParams params = paramsFor(out, rate);
        const ExportResult result = exportTo(params);
        QVERIFY2(result.ok, qPrintable(result.reason));
        const QList<double> pts = framePts(out);
        QList<int> white;
        const QByteArray raw = runTool("ffmpeg", {"-v", "error", "-i", out, "-map", "0:v:0", "-fps_mode",
                                                  "passthrough", "-vf", "scale=1:1", "-f", "rawvideo", "-pix_fmt",
                                                  "gray", "-"});
        for (int k = 0; k < raw.size(); ++k) {
            if (uint8_t(raw[k]) > 200)
                white.append(k);
        }
        QCOMPARE(white.size(), 1);
        QCOMPARE(raw.size(), pts.size());
        const double flash = pts[white.first()];
        QVERIFY2(std::abs(flash - 1.0) < 0.001, qPrintable(QString::number(flash)));
        const QList<double> levels = soundLevels(out);
        const int onset = int(std::find_if(levels.begin(), levels.end(), [](double l) { return l > kLoud; }) -
                              levels.begin());
        QVERIFY(onset < levels.size());
        const double click = onset * 0.01;
        // Ten-millisecond steps: the onset is known to within one of them.
        QVERIFY2(std::abs(click - flash) <= 0.015,
                 qPrintable(QString("flash at %1, click at %2").arg(flash).arg(click)));
    }

    // Another speed: as much shorter or longer, the pictures evenly spaced
    // at the slowed or quickened rate, picture and sound still together, the
    // tone at its own pitch.
    void anotherSpeed_data() {
        QTest::addColumn<double>("rate");
        QTest::newRow("twice") << 2.0;
        QTest::newRow("three quarters") << 0.75;
    }
    void anotherSpeed() {
        QFETCH(double, rate);
        buildRedBlue();
        const QString out = korvel::test::workFolder("speed") + "/out.mp4";
        MVParams params = paramsFor(out, 30);
        params.playRate = rate;
        const ExportResult result = exportTo(params);
        QVERIFY2(result.ok, qPrintable(result.reason));
        const double duration = durationOf(out);
        QVERIFY2(std::abs(duration - 3 / rate) < 0.1, qPrintable(QString::number(duration)));
        const QList<double> pts = framePts(out);
        for (int i = 1; i < pts.size(); ++i)
            QVERIFY2(std::abs(pts[i] - pts[i - 1] - 1 / (30 * rate)) < 0.002,
                     qPrintable(QString("frame %1 at %2 after %3").arg(i).arg(pts[i]).arg(pts[i - 1])));
        const QList<Colour> colours = frameColours(out);
        QCOMPARE(colours.size(), pts.size());
        const int firstBlue = int(colours.indexOf(Blue));
        QVERIFY(firstBlue > 0);
        const double pictureSwitch = pts[firstBlue];
        QVERIFY2(std::abs(pictureSwitch - 1.5 / rate) < 0.05, qPrintable(QString::number(pictureSwitch)));
        const double soundEnd = silenceAfterTone(soundLevels(out));
        QVERIFY2(std::abs(soundEnd - 1.5 / rate) < 0.05, qPrintable(QString::number(soundEnd)));
        const double pitch = toneFrequency(soundSamples(out), 0.1, 0.6);
        QVERIFY2(std::abs(pitch - 440) < 20, qPrintable(QString::number(pitch)));
    }

    // A muted clip keeps its picture and gives no sound; a clip at half
    // volume is quieter than at its own level.
    void mutedAndQuieterClips() {
        buildTimeline([](TimeLineTreeModel& model) {
            ClassifyItem* video = model.header(SourceVideo);
            const QRectF place(0, 0, 320, 240);
            const QRect crop(0, 0, 320, 240);
            SourceData* muted = model.createSource(video, 0, kClipFrames, 0, 60, kMedia + "/export-red-tone.mp4",
                                                   place, crop);
            muted->setInitialLook(0, 255, 128, true);
            video->addSource(muted);
            SourceData* quiet = model.createSource(video, kClipFrames, kClipFrames, 0, 60,
                                                   kMedia + "/export-red-tone.mp4", place, crop);
            quiet->setInitialLook(0, 255, 64, false);
            video->addSource(quiet);
        });
        const QString out = korvel::test::workFolder("muted") + "/out.mp4";
        const ExportResult result = exportAt30(out);
        QVERIFY2(result.ok, qPrintable(result.reason));
        QCOMPARE(frameColours(out).value(15), Red);
        const QList<double> levels = soundLevels(out);
        QVERIFY(levels.size() > 280);
        QVERIFY2(levels[75] < kLoud / 5, qPrintable(QString::number(levels[75]))); // muted
        QVERIFY2(levels[225] > kLoud / 5, qPrintable(QString::number(levels[225]))); // half volume still sounds
    }

    void exportSoundOnly() {
        buildTimeline([](TimeLineTreeModel& model) {
            ClassifyItem* music = model.header(SourceAudio);
            music->addSource(
                model.createSource(music, 0, 60, 0, 60, kMedia + "/tone.mp3", QRectF(), QRect()));
        });
        const QString out = korvel::test::workFolder("mp3") + "/out.mp3";
        MVParams params = paramsFor(out, 25);
        QList<int64_t> progress;
        m_render->exportManager()->setProgress([&progress](int64_t done, int64_t) { progress.append(done); });
        const ExportResult result = exportTo(params);
        QVERIFY2(result.ok, qPrintable(result.reason));
        // No picture worker ever asked.
        const QList<int> asked = masks();
        QVERIFY(!asked.isEmpty());
        QVERIFY(!asked.contains(AskedPicture));
        QVERIFY(std::abs(durationOf(out) - 2.0) < 0.1);
        const QList<double> levels = soundLevels(out);
        QVERIFY(levels.size() > 150);
        QVERIFY(levels[100] > kLoud);
        QVERIFY(framePts(out).isEmpty());
    }

    // Stopping early leaves a shorter file that still plays, its sound as
    // long as its pictures (the sound, a few steps behind, was cut where it
    // was); a stop after the last picture leaves the whole export.
    void stopBeforeEnd_data() {
        QTest::addColumn<int>("stopAt");
        QTest::newRow("mid-way") << 20;
        QTest::newRow("after the last picture") << int(2 * kClipFrames);
    }
    void stopBeforeEnd() {
        QFETCH(int, stopAt);
        buildRedBlue();
        const QString out = korvel::test::workFolder("stop") + "/out.mp4";
        MVParams params = paramsFor(out, 30);
        ExportManager* exporter = m_render->exportManager();
        exporter->setProgress([exporter, stopAt](int64_t done, int64_t) {
            if (done >= stopAt)
                exporter->stop();
        });
        const ExportResult result = exportTo(params);
        QVERIFY2(result.ok, qPrintable(result.reason));
        QCOMPARE(result.stoppedEarly, stopAt < 2 * kClipFrames);
        const QList<double> pts = framePts(out);
        QVERIFY2(pts.size() >= stopAt && pts.size() <= 2 * kClipFrames, qPrintable(QString::number(pts.size())));
        if (stopAt < 2 * kClipFrames)
            QVERIFY(pts.size() < 2 * kClipFrames);
        // The sound ends with the last picture, within one picture and one
        // block of the sound encoder.
        const double pictures = pts.size() / 30.0;
        const double sound = double(soundSamples(out).size()) / kSoundRate;
        QVERIFY2(std::abs(sound - pictures) < 1 / 30.0 + 1024.0 / 44100,
                 qPrintable(QStringLiteral("%1 s of sound, %2 s of pictures").arg(sound).arg(pictures)));
        QVERIFY(m_render->renderThread());
    }

    // A media file that goes away while the export runs (moved, deleted, a
    // disk unmounted) fails the export when it is to be read again, and
    // nothing takes the output's name: its later clips came out black and
    // silent, and the export said it was written.
    void mediaGoneMidwayFailsTheExport() {
        const QString dir = korvel::test::workFolder("vanish");
        const QString media = dir + "/clip.mp4";
        QFile::remove(media + ".moved");
        QVERIFY(QFile::copy(kMedia + "/export-red-tone.mp4", media));
        buildTimeline([&media](TimeLineTreeModel& model) {
            ClassifyItem* video = model.header(SourceVideo);
            const QRectF place(0, 0, 320, 240);
            const QRect crop(0, 0, 320, 240);
            video->addSource(model.createSource(video, 0, 15, 0, 60, media, place, crop));
            video->addSource(model.createSource(video, 15, 105, 0, 60, kMedia + "/export-blue.mp4", place, crop));
            video->addSource(model.createSource(video, 120, 15, 0, 60, media, place, crop));
        });
        const QString out = dir + "/out.mp4";
        QFile::remove(out);
        MVParams params = paramsFor(out, 30);
        m_render->exportManager()->setProgress([&media](int64_t done, int64_t) {
            if (done >= 1 && QFileInfo::exists(media))
                QFile::rename(media, media + ".moved");
        });
        const ExportResult result = exportTo(params);
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.contains("could not be read during the export"), qPrintable(result.reason));
        QVERIFY(!QFileInfo::exists(out));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList {"clip.mp4.moved"});
    }

    ExportResult exportWithFileLimit(MVParams& params, rlim_t bytes) {
        korvel::test::FileSizeLimit full(bytes);
        return exportTo(params);
    }

    // A writer that cannot start or cannot write ends the export with the
    // reason, and the file that was at the output stays.
    void writerFailures_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing folder") << "missing";
        QTest::newRow("unknown extension") << "extension";
        QTest::newRow("path too long") << "long";
        QTest::newRow("disk full at the start") << "full";
        QTest::newRow("file limit reached while writing") << "limit";
        QTest::newRow("impossible picture size") << "size";
    }
    void writerFailures() {
        QFETCH(QString, kind);
        if (kind == "limit") {
            // Busy pictures: the file outgrows the writer's buffer long before the end.
            buildTimeline([](TimeLineTreeModel& model) {
                ClassifyItem* video = model.header(SourceVideo);
                video->addSource(model.createSource(video, 0, 90, 0, 90, kMedia + "/h264-30fps.mp4",
                                                    QRectF(0, 0, 320, 240), QRect(0, 0, 320, 240)));
            });
        } else {
            buildRedBlue();
        }
        const QString folder = korvel::test::workFolder("fail-" + kind);
        MVParams params = paramsFor(folder + "/out.mp4", 30);
        if (kind == "missing") {
            exportfn::setExportPath(params, folder + "/no/such/folder/out.mp4");
        } else if (kind == "extension") {
            exportfn::setExportPath(params, folder + "/out.txt");
        } else if (kind == "long") {
            std::memset(params.filePath, 'a', sizeof(params.filePath));
            params.filePath[0] = '/';
        } else if (kind == "size") {
            params.width = 20000;
            params.height = 7;
        }
        // Whatever was at the output before stays as it was.
        const QByteArray before("an earlier export, to be kept");
        {
            QFile old(exportfn::exportPath(params));
            if (old.open(QIODevice::WriteOnly))
                old.write(before);
        }
        ExportResult result;
        if (kind == "full" || kind == "limit") {
            // Writes past the limit fail with EFBIG, as on a full disk: at
            // once, or, past 20 kB, once the header is out.
            result = exportWithFileLimit(params, kind == "full" ? 16 : 20000);
            if (kind == "limit")
                QVERIFY(masks().contains(AskedPicture));
        } else {
            result = exportTo(params);
        }
        QVERIFY(!result.ok);
        QVERIFY(!result.reason.isEmpty());
        QVERIFY2(!result.reason.contains(".korvel-"), qPrintable(result.reason)); // names the user's file
        if (kind != "limit") // the disk filling up is the one reason that names the disk
            QVERIFY2(!result.reason.contains("read back"), qPrintable(result.reason));
        if (kind == "size")
            QVERIFY2(result.reason.contains("20000 x 7"), qPrintable(result.reason));
        if (kind != "limit")
            QVERIFY(masks().isEmpty());
        QVERIFY(m_render->renderThread());
        QFile old(exportfn::exportPath(params));
        if (old.open(QIODevice::ReadOnly))
            QCOMPARE(old.readAll(), before);
        QCOMPARE(QDir(folder).entryList({".*.korvel-*"}, QDir::Hidden | QDir::Files), QStringList());
    }

    // An empty timeline says so, and writes nothing.
    void anEmptyTimelineSaysSo() {
        buildTimeline([](TimeLineTreeModel&) {});
        const QString out = korvel::test::workFolder("empty") + "/out.mp4";
        const ExportResult result = exportAt30(out);
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.contains("empty"), qPrintable(result.reason));
        QVERIFY(!QFile::exists(out));
    }

    // An export replaces an earlier file only when it is whole; a cancelled
    // one leaves the earlier file and no temporary file.
    void theEarlierFileIsReplacedOnlyByAWholeExport() {
        buildRedBlue();
        const QString folder = korvel::test::workFolder("replace");
        const QString out = folder + "/out.mp4";
        const QByteArray before("an earlier export");
        {
            QFile old(out);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(before);
        }
        ExportManager* exporter = m_render->exportManager();
        exporter->setProgress([exporter](int64_t done, int64_t) {
            if (done >= 10)
                exporter->cancel();
        });
        MVParams params = paramsFor(out, 30);
        ExportResult result = exportTo(params);
        exporter->setProgress(ExportManager::Progress());
        QVERIFY(!result.ok);
        QVERIFY(result.cancelled);
        QFile kept(out);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), before);
        kept.close();
        QCOMPARE(QDir(folder).entryList({".*"}, QDir::Hidden | QDir::Files), QStringList());

        result = exportTo(params);
        QVERIFY2(result.ok, qPrintable(result.reason));
        QCOMPARE(framePts(out).size(), 2 * int(kClipFrames));
        QCOMPARE(QDir(folder).entryList(QDir::Hidden | QDir::Files), QStringList {"out.mp4"});

        // An output that is a link (here to a link, to a file with no
        // extension) is written through: the links stay and the file at the
        // end holds the movie the output's name asks for (the link was
        // replaced by a file).
        const QString elsewhere = korvel::test::workFolder("replace-target") + "/film";
        QVERIFY(QFile::copy(out, elsewhere));
        const QString link = folder + "/link.mp4";
        QVERIFY(QFile::link(elsewhere, folder + "/inner-link"));
        QVERIFY(QFile::link(folder + "/inner-link", link));
        params = paramsFor(link, 15);
        result = exportTo(params);
        QVERIFY2(result.ok, qPrintable(result.reason));
        QVERIFY(QFileInfo(link).isSymLink() && QFileInfo(folder + "/inner-link").isSymLink());
        QCOMPARE(framePts(elsewhere).size(), int(kClipFrames));
    }
};

KORVEL_GUI_TEST_MAIN(TestExport)

#include "tst_export.moc"
