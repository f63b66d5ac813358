// Waveforms on clips: the peaks of a real file, the peaks files in the cache
// folder (reused, remade when the media or the file changes), the waveform
// as the timeline draws it, and the pruning of the cache folder.
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-item.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/waveform-cache.h"
#include "undo/undo-controller.h"
#include "values/cache-folder.h"
#include "values/media-thumbnail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>

#include <cmath>

#include <memory>

namespace {

constexpr double kAmplitude = 0.5;

// Runs the ffmpeg command; the file is made in the test's work folder.
QString makeMedia(const QString& name, const QStringList& args) {
    const QString path = korvel::test::runFolder() + "/work/" + name;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList {"-nostdin", "-v", "error", "-y"} + args + QStringList {path});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0) {
        qWarning() << "ffmpeg failed:" << ffmpeg.readAllStandardError();
        return QString();
    }
    return path;
}

// Stereo 16-bit sound: 3 s of a 440 Hz tone, 3 s of silence, 3 s of tone.
QString makeToneWithGap(const QString& name) {
    return makeMedia(name, {"-f", "lavfi", "-i",
                            QString("aevalsrc=%1*sin(2*PI*440*t)*lt(mod(t\\,6)\\,3):s=44100:d=9:c=stereo")
                                .arg(kAmplitude),
                            "-c:a", "pcm_s16le"});
}

PeaksPtr peaksOf(const QString& path) {
    WaveformCache* cache = WaveformCache::instance();
    if (PeaksPtr ready = cache->peaks(path))
        return ready;
    QSignalSpy ready(cache, &WaveformCache::sig_peaksReady);
    for (int i = 0; i < 100 && !cache->peaks(path); ++i)
        ready.wait(200);
    return cache->peaks(path);
}

} // namespace

class TestWaveform : public QObject {
    Q_OBJECT

private slots:
    void init() {
        timeline::overrideDpiScale(1.0);
        zya::UndoController::instance()->reset();
    }

    // Exact silence where the file is silent, the tone's height where it sounds.
    void peaksFollowTheSound() {
        const QString tone = makeToneWithGap("tone.wav");
        QVERIFY(!tone.isEmpty());
        ff::AudioPeaks peaks;
        QCOMPARE(int(ff::computeAudioPeaks(tone.toUtf8().constData(), 100, nullptr, &peaks)), int(ff::PeaksResult::Ok));
        QCOMPARE(peaks.lanes, 2);
        QCOMPARE(peaks.count, int64_t(900));
        const int expected = int(kAmplitude * 32767);
        for (int64_t i = 0; i < peaks.count; ++i) {
            const double t = double(i) / 100;
            for (int lane = 0; lane < 2; ++lane) {
                if (t > 3.0 && t < 5.99) {
                    QVERIFY2(peaks.minAt(i, lane) == 0 && peaks.maxAt(i, lane) == 0, qPrintable(QString::number(i)));
                } else if (std::fmod(t, 6.0) < 2.99) {
                    // A 10 ms peak holds 4.4 periods of 440 Hz: both crests.
                    QVERIFY2(std::abs(peaks.maxAt(i, lane) - expected) <= expected / 50, qPrintable(QString::number(i)));
                    QVERIFY2(std::abs(peaks.minAt(i, lane) + expected) <= expected / 50, qPrintable(QString::number(i)));
                }
            }
        }

        // A picture-only video has no sound; a damaged file gives nothing, without a crash.
        const QString silentMovie = makeMedia("silent.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:d=1",
                                                             "-c:v", "mpeg4"});
        QVERIFY(!silentMovie.isEmpty());
        QCOMPARE(int(ff::computeAudioPeaks(silentMovie.toUtf8().constData(), 100, nullptr, &peaks)),
                 int(ff::PeaksResult::NoSound));
        QVERIFY(!peaks.hasSound());
        const QString junk = korvel::test::workFolder("junk") + "/noise.mp3";
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, '\x5a'));
        f.close();
        QVERIFY(ff::computeAudioPeaks(junk.toUtf8().constData(), 100, nullptr, &peaks) != ff::PeaksResult::Ok);
        QVERIFY(!peaks.hasSound());
    }

    // The peaks file is made once and read again; a changed media file or a
    // damaged peaks file is decoded again.
    void peaksFilesAreReusedAndRemade() {
        WaveformCache* cache = WaveformCache::instance();
        const QString media = makeToneWithGap("cached.wav");
        QVERIFY(!media.isEmpty());
        const int decodes = cache->decodeCount();
        PeaksPtr first = peaksOf(media);
        QVERIFY(first && first->hasSound());
        QCOMPARE(cache->decodeCount(), decodes + 1);
        const QString file = WaveformCache::cacheFilePath(media);
        QVERIFY(file.startsWith(korvel::test::runFolder() + "/home/.cache/Korvel/peaks/"));
        QVERIFY(QFileInfo::exists(file));
        const QDateTime written = QFileInfo(file).lastModified();

        // A new session (nothing in memory) reads the file and writes nothing.
        cache->clearMemory();
        QTest::qWait(20);
        PeaksPtr second = peaksOf(media);
        QVERIFY(second && second != first);
        QCOMPARE(cache->decodeCount(), decodes + 1);
        QCOMPARE(second->values, first->values);
        QCOMPARE(QFileInfo(file).lastModified(), written);

        // Damaged files (cut short, another header) are remade, not trusted.
        for (int cut : {7, 100}) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.resize(cut == 7 ? 7 : f.size() - cut));
            f.close();
            cache->clearMemory();
            PeaksPtr remade = peaksOf(media);
            QVERIFY(remade);
            QCOMPARE(remade->values, first->values);
        }
        QCOMPARE(cache->decodeCount(), decodes + 3);

        // The media file changes (another length): its old peaks are not used.
        QVERIFY(QFile::remove(media));
        QVERIFY(!makeMedia("cached.wav", {"-f", "lavfi", "-i", "sine=frequency=440:d=2", "-c:a", "pcm_s16le"})
                     .isEmpty());
        PeaksPtr changed = peaksOf(media);
        QVERIFY(changed && changed->hasSound());
        QCOMPARE(changed->lanes, 1);
        QCOMPARE(changed->count, int64_t(200));
        QCOMPARE(cache->decodeCount(), decodes + 4);
        QVERIFY(WaveformCache::cacheFilePath(media) != file);

        // A video without sound is looked at once too (its file was called
        // damaged and it was decoded again at every use).
        const QString silent = makeMedia("silent-cached.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:d=1",
                                                               "-c:v", "mpeg4"});
        QVERIFY(!silent.isEmpty());
        PeaksPtr none = peaksOf(silent);
        QVERIFY(none && !none->hasSound());
        cache->clearMemory();
        QVERIFY(peaksOf(silent));
        QCOMPARE(cache->decodeCount(), decodes + 5);
    }

    // The clip on the real timeline shows its sound and nothing where the
    // file is silent; a muted clip shows a flat line only.
    void clipShowsItsWaveform() {
        const QString media = makeToneWithGap("clip.wav");
        QVERIFY(!media.isEmpty());
        TimeLineWidget widget;
        widget.resize(1000, 400);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        widget.view()->setZoomLevel(11);
        TimeLineTreeModel* model = widget.model();
        ClassifyItem* track = model->header(SourceAudio);
        // 9 s of media, of which the clip shows from 1 s on (trimmed).
        SourceData* data = model->createSource(track, 30, 8 * 30, 30, 9 * 30, media, QRectF(), QRect());
        track->addSource(data);
        auto* clip = dynamic_cast<SourceItem*>(data);
        QVERIFY(clip && clip->showsWaveform());
        QTRY_VERIFY_WITH_TIMEOUT(clip->waveformPeaks() != nullptr, 20000);
        QVERIFY(clip->waveformPeaks()->hasSound());

        auto darkColumns = [&](double fromSecond, double toSecond, int* darkRows) {
            // Media seconds to view pixels: the clip starts 1 s into its media.
            const QPolygon box = widget.view()->mapFromScene(clip->sceneBoundingRect());
            const QRect r = box.boundingRect();
            const double perSecond = widget.view()->horizontalScale() * timeline::frameWidth() * 30;
            const QImage shot = widget.view()->viewport()->grab().toImage();
            const QColor fill = shot.pixelColor(r.left() + r.width() / 2, r.top() + 3);
            int columns = 0;
            *darkRows = 0;
            for (int x = int(r.left() + (fromSecond - 1) * perSecond); x < int(r.left() + (toSecond - 1) * perSecond);
                 ++x) {
                int dark = 0;
                for (int y = r.top() + 2; y < r.bottom() - 1; ++y) {
                    const QColor c = shot.pixelColor(x, y);
                    if (c.red() + c.green() + c.blue() < fill.red() + fill.green() + fill.blue() - 90)
                        ++dark;
                }
                columns += dark > 0;
                *darkRows = std::max(*darkRows, dark);
            }
            return columns;
        };
        int rows = 0;
        QTRY_VERIFY(darkColumns(6.3, 8.7, &rows) > 10);
        // The tone fills half the lane's height around the middle.
        QVERIFY2(rows >= int(clip->rowHeightPx() * 0.4), qPrintable(QString::number(rows)));
        QCOMPARE(darkColumns(3.3, 5.7, &rows), 0);

        bg::ValueMap mute;
        mute["mute"] = bg::Value(true);
        data->updateData(MenuAudio, mute, "mute");
        QVERIFY(clip->mute());
        QTRY_VERIFY(darkColumns(6.3, 8.7, &rows) >= 0 && rows <= 1);
    }

    // Old or oversized cache entries go, oldest first; recent ones stay.
    void pruningKeepsRecentEntries() {
        const QString folder = korvel::test::workFolder("cache");
        QDir().mkpath(folder + "/peaks");
        const QDateTime now = QDateTime::currentDateTime();
        auto make = [&](const QString& name, int kilobytes, int daysAgo) {
            QFile f(folder + "/" + name);
            if (!f.open(QIODevice::WriteOnly))
                return false;
            f.write(QByteArray(kilobytes * 1024, 'x'));
            f.flush();
            const QDateTime when = now.addDays(-daysAgo);
            return f.setFileTime(when, QFileDevice::FileModificationTime) &&
                   f.setFileTime(when, QFileDevice::FileAccessTime);
        };
        QVERIFY(make("peaks/ancient.peaks", 1, 40));
        QVERIFY(make("peaks/older.peaks", 400, 10));
        QVERIFY(make("old-thumb.png", 400, 5));
        QVERIFY(make("peaks/recent.peaks", 400, 1));
        QVERIFY(make("fresh-thumb.png", 100, 0));
        const CachePruneResult r = pruneCache(folder, 1000 * 1024, kCacheMaxAgeDays, now);
        QCOMPARE(r.removed, 2);
        QVERIFY(!QFile::exists(folder + "/peaks/ancient.peaks"));
        QVERIFY(!QFile::exists(folder + "/peaks/older.peaks"));
        QVERIFY(QFile::exists(folder + "/old-thumb.png"));
        QVERIFY(QFile::exists(folder + "/peaks/recent.peaks"));
        QVERIFY(QFile::exists(folder + "/fresh-thumb.png"));
        QCOMPARE(r.bytesKept, qint64(900 * 1024));

        // The thumbnails live in the cache folder; an earlier one in the
        // temporary folder is still found.
        const QString media = "/media/" + QUuid::createUuid().toString(QUuid::Id128) + ".mp4";
        QVERIFY(mediaThumbnailPath(media).startsWith(cacheFolder() + "/thumbnails/"));
        QFile legacy(legacyMediaThumbnailPath(media));
        QVERIFY(legacy.open(QIODevice::WriteOnly));
        legacy.close();
        QCOMPARE(SourceItem::thumbnailPath(media), legacy.fileName());
        QFile::remove(legacy.fileName());
    }
};

KORVEL_GUI_TEST_MAIN(TestWaveform)
#include "tst_waveform.moc"
