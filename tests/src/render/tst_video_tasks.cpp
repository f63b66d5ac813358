#include "render/fit-size.h"
#include "render/video-decoder-task.h"
#include "support/test-main.h"

#include <QtTest>

namespace {

QString media(const char* name) { return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name; }

LayerRequest layer(const QString& path, int64_t frame, const QString& uuid = QString()) {
    LayerRequest l;
    l.path = path;
    l.frame = frame;
    l.uuid = uuid;
    return l;
}

int count(const QByteArray& log, const QByteArray& line) { return int(log.count(line)); }

} // namespace

class TestVideoTasks : public QObject {
    Q_OBJECT
private slots:
    void entriesFollowTheMask();
    void decodersAreKeptForFilesUsedAgain();
    void negativeIndexAsksForTheFirstFrame();
    void unreadableFileGivesNoFrame();
    void aHugePhotoIsDecodedSmallerWithItsCrop();
    void aStillPictureComesAsOnePicture();
    void thePreviewDecodesNoLargerThanTheScreenShows();
    void framesReadAheadAreTheFramesAskedFor();
    void steppingBackDecodesEachGroupOnce();
};

namespace {
QByteArray picture(const ff::VFramePtr& f) {
    if (!f)
        return QByteArray();
    QByteArray bytes;
    for (int y = 0; y < f->height; ++y)
        bytes.append(reinterpret_cast<const char*>(f->data()) + size_t(y) * size_t(f->stride), f->width * 4);
    return bytes;
}

// The first `count` pictures of the clip as a fresh decoder gives them.
QVector<QByteArray> pictures(const QString& clip, int count) {
    QVector<QByteArray> out;
    VideoDecoderTask reference(clip);
    for (int i = 0; i < count; ++i)
        out.append(picture(reference.frame(i)));
    return out;
}
} // namespace

// Played with skips, repeats, a step back and a jump, a task that reads
// ahead gives exactly the picture a fresh decoder gives for each frame, and
// decodes each frame it passes once, however many it has ready ahead.
void TestVideoTasks::framesReadAheadAreTheFramesAskedFor() {
    const QString clip = media("h264-30fps.mp4");
    const QVector<QByteArray> expected = pictures(clip, 90);
    QVERIFY(!expected.first().isEmpty() && !expected.last().isEmpty());
    QVERIFY(expected[0] != expected[1]); // the pictures move
    VideoDecoderTask task(clip);
    QCOMPARE(task.aheadLimit(1), VideoDecoderTask::kAheadFrames);
    const QVector<int> played = {0, 1, 2, 3, 5, 6, 6, 7, 9, 10, 11, 15, 16, 17, 18, 19, 20, 20, 21, 22, 23, 24, 25,
                                 26, 27, 28, 29, 30, 31, 33, 34, 35, 36, 37, 38, 39, 40};
    for (int index : played) {
        const ff::VFramePtr frame = task.frame(index);
        QVERIFY2(picture(frame) == expected[index], qPrintable(QString("frame %1").arg(index)));
    }
    // Frames 0 and 1 in place (reading ahead starts with the second
    // request in order); frames 2 to 40 ahead, each once, and at most the
    // frames kept ahead beyond them.
    QCOMPARE(task.decodedInPlace(), 2);
    QVERIFY2(task.decodedAhead() <= 39 + VideoDecoderTask::kAheadFrames, qPrintable(QString::number(task.decodedAhead())));
    for (int index : {12, 13, 14, 80, 81, 60, 2, 89, 89, 88})
        QVERIFY2(picture(task.frame(index)) == expected[index], qPrintable(QString("frame %1").arg(index)));
    // Past the end, and back.
    task.frame(400);
    QVERIFY(picture(task.frame(45)) == expected[45]);
}

// 8000 x 6000 (red left, blue right) is decoded at half its size, and a crop
// of its right half, given in the file's pixels, still shows only blue.
void TestVideoTasks::aHugePhotoIsDecodedSmallerWithItsCrop() {
    VideoTaskManager manager;
    FrameRequest request;
    request.decodeMask = DecodeSelf;
    request.self = layer(media("huge-photo.png"), 0);
    request.self.clipRect = QRect(4000, 0, 4000, 6000);
    const QList<VFrameInfo> out = manager.decode(request);
    QVERIFY(out[0].frame);
    QCOMPARE(QSize(out[0].frame->width, out[0].frame->height), QSize(4000, 3000));
    QCOMPARE(out[0].clipRect, QRect(2000, 0, 2000, 3000));
    const QRect part = visiblePart(out[0].clipRect, out[0].frame->width, out[0].frame->height);
    const ff::VFrameCtx& f = *out[0].frame;
    for (int x : {part.left(), part.center().x(), part.right()}) {
        const uint8_t* pixel = f.data() + size_t(part.center().y()) * size_t(f.stride) + size_t(x) * 4;
        QVERIFY2(pixel[2] > 200 && pixel[0] < 50, qPrintable(QString("x %1: %2 %3 %4").arg(x).arg(pixel[0]).arg(pixel[1]).arg(pixel[2])));
    }
}

// A picture shown over many frames is decoded and converted once: each
// frame gets the same picture, so nothing downstream uploads or draws it
// again. Also where the decoder would rather hand over YUV planes, which an
// RGBA picture cannot come as (an export's decoders; it was converted
// afresh for every frame).
void TestVideoTasks::aStillPictureComesAsOnePicture() {
    for (bool planes : {false, true}) {
        VideoTaskManager manager;
        manager.setDecodesPlanes(planes);
        FrameRequest request;
        request.decodeMask = DecodeSelf;
        ff::VFramePtr first;
        for (int64_t frame = 0; frame < 12; ++frame) {
            request.self = layer(media("e2e-logo.png"), frame);
            const ff::VFramePtr got = manager.decode(request)[0].frame;
            QVERIFY(got);
            if (!first)
                first = got;
            QVERIFY2(got == first, qPrintable(QString("planes %1, frame %2").arg(planes).arg(frame)));
        }
        QCOMPARE(first->planes, 0);
        QCOMPARE(QSize(first->width, first->height), QSize(160, 90));
    }
}

// A cropped clip shown at a quarter of its pixels: the preview's decoder
// gives it at a quarter of its size with the crop scaled alike, showing the
// same part of the picture as the full-size decode (test bars, compared at
// the middle of each bar). An export's decoder, and the preview while the
// scene is captured (screen scale 0), keep the full size.
void TestVideoTasks::thePreviewDecodesNoLargerThanTheScreenShows() {
    LayerRequest clip = layer(media("e2e-b.mp4"), 12, "bars");
    clip.clipRect = QRect(320, 0, 320, 360);
    clip.width = 320;
    clip.height = 360;
    FrameRequest request;
    request.decodeMask = DecodeSelf;
    request.self = clip;
    VideoTaskManager exportTasks, previewTasks;
    previewTasks.setFollowsScreen(true);
    const int screen = 0; // stands for a preview view
    VideoTaskManager::setScreenScale(&screen, 0.25f);
    const VFrameInfo full = exportTasks.decode(request)[0];
    const VFrameInfo small = previewTasks.decode(request)[0];
    QVERIFY(full.frame && small.frame);
    QCOMPARE(QSize(full.frame->width, full.frame->height), QSize(640, 360));
    QCOMPARE(full.clipRect, clip.clipRect);
    QCOMPARE(QSize(small.frame->width, small.frame->height), QSize(160, 90));
    QCOMPARE(small.clipRect, QRect(80, 0, 80, 90));
    auto at = [](const VFrameInfo& info, double u, double v) {
        const QRect part = visiblePart(info.clipRect, info.frame->width, info.frame->height);
        const int x = part.left() + int(u * part.width()), y = part.top() + int(v * part.height());
        const uint8_t* p = info.frame->data() + size_t(y) * size_t(info.frame->stride) + size_t(x) * 4;
        return QColor(p[0], p[1], p[2]);
    };
    // The crop's right half holds four of the eight bars.
    for (double u : {0.125, 0.375, 0.625, 0.875}) {
        const QColor want = at(full, u, 0.3), got = at(small, u, 0.3);
        const int off = std::max({std::abs(want.red() - got.red()), std::abs(want.green() - got.green()),
                                  std::abs(want.blue() - got.blue())});
        QVERIFY2(off <= 12, qPrintable(QStringLiteral("at %1: %2 for %3").arg(u).arg(got.name(), want.name())));
    }
    VideoTaskManager::setScreenScale(&screen, 0.0f);
    request.self.frame = 13;
    const VFrameInfo captured = previewTasks.decode(request)[0];
    QVERIFY(captured.frame);
    QCOMPARE(QSize(captured.frame->width, captured.frame->height), QSize(640, 360));
    QCOMPARE(captured.clipRect, clip.clipRect);
    VideoTaskManager::forgetScreen(&screen);
}

void TestVideoTasks::entriesFollowTheMask() {
    VideoTaskManager manager;
    FrameRequest request;
    request.decodeMask = DecodeSelf | DecodeTo;
    request.self = layer(media("h264-30fps.mp4"), 10, "self-clip");
    request.self.stretch = 0;
    request.self.transparent = 0.5f;
    request.from = layer(media("h264-25fps.mkv"), 3, "from-clip");
    request.to = layer(media("photo.jpg"), 0, "to-clip");
    QList<VFrameInfo> out = manager.decode(request);
    QCOMPARE(out.size(), 3);
    QVERIFY(out[0].frame);
    QCOMPARE(out[0].uuid, QString("self-clip"));
    QCOMPARE(out[0].stretch, 0);
    QCOMPARE(out[0].transparent, 0.5f);
    // The from bit is clear: a default entry, and no decoder for its file.
    QVERIFY(!out[1].frame);
    QVERIFY(out[1].uuid.isEmpty());
    QCOMPARE(out[1].transparent, 1.0f);
    QCOMPARE(out[1].stretch, 1);
    QVERIFY(out[2].frame);
    QCOMPARE(QSize(out[2].frame->width, out[2].frame->height), QSize(640, 480));
    QCOMPARE(manager.openTasks(), 2);
}

void TestVideoTasks::decodersAreKeptForFilesUsedAgain() {
    VideoTaskManager manager;
    FrameRequest first;
    first.decodeMask = DecodeSelf | DecodeFrom;
    first.self = layer(media("h264-30fps.mp4"), 0);
    first.from = layer(media("mpeg4-60fps.avi"), 0);
    QByteArray log = korvel::test::captureStderr([&] { manager.decode(first); });
    QCOMPARE(count(log, "\"vedio DecoderTask\""), 2);

    // A and B after A and C: A keeps its decoder, B opens, C closes.
    FrameRequest second = first;
    second.from = layer(media("h264-25fps.mkv"), 0);
    second.self.frame = 1;
    log = korvel::test::captureStderr([&] { manager.decode(second); });
    QCOMPARE(count(log, "\"vedio DecoderTask\""), 1);
    QCOMPARE(count(log, "\"~Vedio DecoderTask\""), 1);
    QCOMPARE(manager.openTasks(), 2);

    // One file on two layers of one request gets two decoders.
    FrameRequest twice;
    twice.decodeMask = DecodeSelf | DecodeFrom | DecodeTo;
    twice.self = layer(media("h264-30fps.mp4"), 2);
    twice.from = layer(media("h264-30fps.mp4"), 40);
    log = korvel::test::captureStderr([&] { manager.decode(twice); });
    QCOMPARE(count(log, "\"vedio DecoderTask\""), 1);
    QCOMPARE(count(log, "\"~Vedio DecoderTask\""), 1); // the mkv; the empty path needs none
    QCOMPARE(manager.openTasks(), 2);

    log = korvel::test::captureStderr([&] { manager.clear(); });
    QCOMPARE(count(log, "\"~Vedio DecoderTask\""), 2);
    QCOMPARE(manager.openTasks(), 0);
}

void TestVideoTasks::negativeIndexAsksForTheFirstFrame() {
    VideoDecoderTask task(media("h264-30fps.mp4"));
    ff::VFramePtr first = task.frame(0);
    QVERIFY(first);
    std::vector<uint8_t> pixels = first->pixels;
    task.frame(50);
    ff::VFramePtr negative = task.frame(-25);
    QVERIFY(negative);
    QVERIFY(negative->pixels == pixels);
}

void TestVideoTasks::unreadableFileGivesNoFrame() {
    VideoTaskManager manager;
    FrameRequest request;
    request.decodeMask = DecodeSelf;
    request.self = layer(media("random.mp4"), 5, "broken");
    QList<VFrameInfo> out = manager.decode(request);
    QCOMPARE(out.size(), 3);
    QVERIFY(!out[0].frame);
    QCOMPARE(out[0].uuid, QString("broken"));
    request.self = layer(media("missing.mp4"), 5);
    out = manager.decode(request);
    QVERIFY(!out[0].frame);
}

// Stepping back frame by frame (a key frame every 30 frames) gives the
// exact pictures, and reads each compressed frame about once, not the whole
// way from the key frame for every step.
void TestVideoTasks::steppingBackDecodesEachGroupOnce() {
    const QString clip = media("h264-30fps.mp4");
    const QVector<QByteArray> expected = pictures(clip, 90);
    VideoDecoderTask task(clip);
    QVERIFY(picture(task.frame(89)) == expected[89]);
    const int64_t before = task.packetsRead();
    for (int index = 88; index >= 31; --index)
        QVERIFY2(picture(task.frame(index)) == expected[index], qPrintable(QString("frame %1").arg(index)));
    // 58 steps over two groups of pictures: each step decoding from its key
    // frame would read about 900 frames; keeping a group's worth, about 120.
    const int64_t read = task.packetsRead() - before;
    QVERIFY2(read <= 200, qPrintable(QString::number(read)));
    // Forward again over the kept frames, and a step back after a jump.
    for (int index : {32, 33, 34, 70, 69, 68})
        QVERIFY2(picture(task.frame(index)) == expected[index], qPrintable(QString("frame %1").arg(index)));
    // A step back onto a key frame keeps nothing from the group before it:
    // it reads the key frame and the few frames the decoder looks ahead.
    VideoDecoderTask fresh(clip);
    QVERIFY(picture(fresh.frame(61)) == expected[61]);
    const int64_t beforeKey = fresh.packetsRead();
    QVERIFY(picture(fresh.frame(60)) == expected[60]);
    QVERIFY2(fresh.packetsRead() - beforeKey <= 8, qPrintable(QString::number(fresh.packetsRead() - beforeKey)));
    QVERIFY(picture(fresh.frame(59)) == expected[59]);
}

KORVEL_TEST_MAIN(TestVideoTasks)
#include "tst_video_tasks.moc"
