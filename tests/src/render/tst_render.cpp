// Preview items, the transition item and the render manager, drawn for real
// and read back.
#include "render/audio/sound-clock.h"
#include "render/preview-item.h"
#include "render/render-manager.h"
#include "render/shader-library.h"
#include "support/test-main.h"

#include <QSignalSpy>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QElapsedTimer>
#include <QtTest>

#include <cstring>

namespace {

QString media(const char* name) { return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name; }

class Capture : public GsOutputRaw {
public:
    using GsOutputRaw::GsOutputRaw;
    void OnFrame(int w, int h, const uint8_t* pixels, int bytesPerRow, int64_t) override {
        width = w;
        height = h;
        frame.resize(size_t(w) * h * 4);
        for (int y = 0; y < h; ++y)
            std::memcpy(frame.data() + size_t(y) * w * 4, pixels + size_t(y) * bytesPerRow, size_t(w) * 4);
        if (w > 10 && h > 10 && pixels[10 * bytesPerRow + 40] > 200 && pixels[10 * bytesPerRow + 41] < 50)
            sawRed = true;
    }
    std::atomic<bool> sawRed {false};
    QColor at(int x, int y) const {
        const uint8_t* p = frame.data() + (size_t(y) * width + x) * 4;
        return QColor(p[0], p[1], p[2], p[3]);
    }
    int width = 0, height = 0;
    std::vector<uint8_t> frame;
};

// A frame whose left half is one colour and right half another.
ff::VFramePtr twoColourFrame(int w, int h, QColor left, QColor right) {
    auto f = std::make_shared<ff::VFrameCtx>();
    f->width = w;
    f->height = h;
    f->stride = w * 4 + 16;
    f->pixels.assign(size_t(f->stride) * h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            QColor c = x < w / 2 ? left : right;
            uint8_t* p = f->pixels.data() + size_t(y) * f->stride + x * 4;
            p[0] = uint8_t(c.red());
            p[1] = uint8_t(c.green());
            p[2] = uint8_t(c.blue());
            p[3] = 255;
        }
    }
    return f;
}

// Draws the scene once through an output of its size.
std::unique_ptr<Capture, void (*)(Capture*)> draw(GsScene* scene) {
    auto* out = new Capture(scene, scene->width(), scene->height(), GsOutputRaw::GsFormatRGBA);
    out->Start();
    TickSource();
    HandleFilter();
    OutputFrame(0, 1);
    out->Stop();
    return {out, [](Capture* c) { c->Release(); }};
}

bool near(const QColor& a, const QColor& b, int tolerance = 3) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

VFrameInfo layer(ff::VFramePtr frame, float x, float y, float w, float h, int stretch = 1) {
    VFrameInfo l;
    l.frame = std::move(frame);
    l.centerX = x;
    l.centerY = y;
    l.width = w;
    l.height = h;
    l.stretch = stretch;
    return l;
}

} // namespace

class TestRender : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void fitModeKeepsThePictureAspect();
    void clipRectangleCutsTheFrame();
    void aPictureFillingTheSceneShowsExactlyWithWhatIsOverIt();
    void transitionItemBlendsTwoClips();
    void onlyTheNewestRequestIsServed();
    void emptyRequestHidesAndCloses();
    void aClipNeverShowsAnotherClipsPicture();
    void subtitleExtentAndImage();
    void aHugeSubtitleIsLaidOutOncePerChange();
    void sceneSizeIsEven();
    void videoItemBringsItsCompanion();
    void renderThreadRunsOneLoop();
    void mediaInfoReportsAndAdapts();
    void projectSectionRoundTrips();
};

void TestRender::initTestCase() {
    QVERIFY(GsDevice::CreateDefaultDevice(false));
    QCOMPARE(RegisterShaders(GsDevice::DefaultDevice()), 18);
}

void TestRender::fitModeKeepsThePictureAspect() {
    // A 1920 x 1080 frame in a 1000 x 1000 item draws 1000 x 562.5 about its centre.
    GsScene* scene = new GsScene(1200, 1200);
    auto* item = new VideoPreviewItem({1000, 1000});
    scene->AddItem(item);
    item->beginExport();
    RenderProps props;
    props.contentMask = ContentSelf;
    props.self = layer(twoColourFrame(1920, 1080, Qt::red, Qt::red), 0, 0, 1000, 1000);
    item->applyRenderProps(props);
    QVERIFY(item->visible);
    auto out = draw(scene);
    QVERIFY(near(out->at(600, 600), Qt::red));
    QVERIFY(near(out->at(101, 321), Qt::red));
    QVERIFY(near(out->at(1098, 878), Qt::red));
    QVERIFY(near(out->at(600, 316), Qt::black));
    QVERIFY(near(out->at(600, 883), Qt::black));
    QVERIFY(near(out->at(98, 600), Qt::black));

    // Without fit mode the picture fills the item.
    props.self.stretch = 0;
    item->applyRenderProps(props);
    out = draw(scene);
    QVERIFY(near(out->at(600, 110), Qt::red));
    QVERIFY(near(out->at(600, 1090), Qt::red));
    item->endExport();
    scene->RemoveItem(item);
    item->Release();
    scene->Release();
}

void TestRender::aPictureFillingTheSceneShowsExactlyWithWhatIsOverIt() {
    // Every pixel different, so that a shifted, flipped or filtered picture shows.
    const int w = 64, h = 36;
    auto noise = std::make_shared<ff::VFrameCtx>();
    noise->width = w;
    noise->height = h;
    noise->stride = w * 4;
    noise->opaque = true;
    noise->pixels.resize(size_t(w) * h * 4);
    for (size_t i = 0; i < noise->pixels.size(); ++i)
        noise->pixels[i] = i % 4 == 3 ? 255 : uint8_t((i * 2654435761u) >> 13);
    auto shown = [&](int x, int y) {
        const uint8_t* p = noise->pixels.data() + (size_t(y) * w + x) * 4;
        return QColor(p[0], p[1], p[2]);
    };

    GsScene* scene = new GsScene(w, h);
    auto* base = new VideoPreviewItem({float(w), float(h)});
    auto* over = new VideoPreviewItem({16, 16});
    over->z = 1;
    scene->AddItem(base);
    scene->AddItem(over);
    scene->OrderItem();
    base->beginExport();
    over->beginExport();
    RenderProps props;
    props.contentMask = ContentSelf;
    props.self = layer(noise, 0, 0, w, h);
    base->applyRenderProps(props);
    RenderProps red;
    red.contentMask = ContentSelf;
    red.self = layer(twoColourFrame(16, 16, Qt::red, Qt::red), 16, 0, 16, 16);
    over->applyRenderProps(red);

    auto out = draw(scene);
    QCOMPARE(out->width, w);
    int wrong = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool underRed = x >= 40 && x < 56 && y >= 10 && y < 26;
            if (out->at(x, y).rgb() != (underRed ? QColor(Qt::red) : shown(x, y)).rgb())
                ++wrong;
        }
    }
    QCOMPARE(wrong, 0);

    // Brighter: every pixel changes, none is the picture as it is.
    props.self.colour.brightness = 0.2f;
    base->applyRenderProps(props);
    out = draw(scene);
    QVERIFY(out->at(2, 2).red() >= std::min(255, shown(2, 2).red() + 45));

    // Composed at half the size, the picture is drawn smaller, not cut.
    props.self.colour = ColourControls();
    base->applyRenderProps(props);
    auto* half = new Capture(scene, w / 2, h / 2, GsOutputRaw::GsFormatRGBA);
    half->Start();
    TickSource();
    HandleFilter();
    OutputFrame(0, 1);
    half->Stop();
    QCOMPARE(half->width, w / 2);
    QVERIFY(near(half->at(24, 9), Qt::red, 40));
    int asIfCut = 0; // pixels equal to the picture's top left quarter at full size
    for (int y = 0; y < h / 2; ++y) {
        for (int x = 0; x < w / 2; ++x)
            asIfCut += half->at(x, y).rgb() == shown(x, y).rgb();
    }
    QVERIFY2(asIfCut < w * h / 16, qPrintable(QString::number(asIfCut)));
    half->Release();

    base->endExport();
    over->endExport();
    scene->RemoveItem(base);
    scene->RemoveItem(over);
    base->Release();
    over->Release();
    scene->Release();
}

void TestRender::clipRectangleCutsTheFrame() {
    GsScene* scene = new GsScene(100, 100);
    auto* item = new VideoPreviewItem({100, 100});
    scene->AddItem(item);
    item->beginExport();
    RenderProps props;
    props.contentMask = ContentSelf;
    props.self = layer(twoColourFrame(64, 32, Qt::red, Qt::green), 0, 0, 100, 100, 0);
    props.self.clipRect = QRect(32, 0, 32, 32); // the green half only
    item->applyRenderProps(props);
    auto out = draw(scene);
    QVERIFY(near(out->at(5, 50), Qt::green));
    QVERIFY(near(out->at(95, 50), Qt::green));

    // A rectangle outside the frame, and geometry that is no number, draw nothing.
    auto* fresh = new VideoPreviewItem({100, 100});
    scene->RemoveItem(item);
    scene->AddItem(fresh);
    fresh->beginExport();
    props.self.clipRect = QRect(500, 500, 10, 10);
    fresh->applyRenderProps(props);
    out = draw(scene);
    QVERIFY(near(out->at(50, 50), Qt::black));
    props.self.clipRect = QRect();
    props.self.centerX = std::nanf("");
    fresh->applyRenderProps(props);
    out = draw(scene);
    QVERIFY(near(out->at(50, 50), Qt::black));
    fresh->endExport();
    item->endExport();
    scene->RemoveItem(fresh);
    fresh->Release();
    item->Release();
    scene->Release();
}

void TestRender::transitionItemBlendsTwoClips() {
    GsScene* scene = new GsScene(80, 40);
    auto* item = new VideoPreviewItem({80, 40});
    scene->AddItem(item);
    scene->AddItem(item->companion());
    item->beginExport();
    RenderProps props;
    props.contentMask = ContentTransition;
    props.program = "over_cross";
    props.progress = 0.5;
    props.from = layer(twoColourFrame(16, 8, Qt::red, Qt::red), 0, 0, 80, 40);
    props.to = layer(twoColourFrame(16, 8, Qt::blue, Qt::blue), 0, 0, 80, 40);
    item->applyRenderProps(props);
    QVERIFY(!item->visible);
    QVERIFY(item->companion()->visible);
    auto out = draw(scene);
    QVERIFY2(near(out->at(40, 20), QColor(128, 0, 128), 4), qPrintable(out->at(40, 20).name()));
    // A clip-wipe at the half: the first picture on the right, the second on the left.
    props.program = "clip_herase";
    item->applyRenderProps(props);
    out = draw(scene);
    QVERIFY(near(out->at(10, 20), Qt::blue));
    QVERIFY(near(out->at(70, 20), Qt::red));
    // A layer with its colours changed, or smaller than the scene, goes through
    // its filter first: brightened, and placed where the clip stands.
    props.program = "over_cross";
    props.progress = 0.0;
    props.from = layer(twoColourFrame(16, 8, QColor(100, 0, 0), QColor(100, 0, 0)), -20, 0, 40, 40, 0);
    props.from.colour.brightness = 0.2f;
    item->applyRenderProps(props);
    out = draw(scene);
    QVERIFY2(near(out->at(20, 20), QColor(151, 51, 51), 4), qPrintable(out->at(20, 20).name()));
    QVERIFY(near(out->at(60, 20), Qt::black));
    item->endExport();
    scene->RemoveItem(item->companion());
    scene->RemoveItem(item);
    item->Release();
    scene->Release();
}

void TestRender::onlyTheNewestRequestIsServed() {
    GsScene* scene = new GsScene(320, 240);
    auto* item = new VideoPreviewItem({320, 240});
    scene->AddItem(item);
    FrameRequest request;
    request.decodeMask = DecodeSelf;
    request.showMask = ShowClip;
    request.self.path = media("h264-30fps.mp4");
    request.self.width = 320;
    request.self.height = 240;
    // A burst while the worker is busy: the last one wins.
    for (int i = 0; i < 20; ++i) {
        request.self.frame = i;
        item->request(request);
    }
    QTRY_VERIFY_WITH_TIMEOUT(item->servedRequests() >= 1, 5000);
    QTest::qWait(300);
    QVERIFY2(item->servedRequests() <= 2, qPrintable(QString::number(item->servedRequests())));
    scene->Update();
    QVERIFY(item->currentProps().self.frame);
    QCOMPARE(item->currentProps().self.frame->ptsUs, int64_t(633333));

    // A steady stream of requests is served at most once a request interval.
    int before = item->servedRequests();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1000) {
        request.self.frame = (request.self.frame + 1) % 90;
        item->request(request);
        QTest::qWait(5);
    }
    int served = item->servedRequests() - before;
    const qint64 spentUs = clock.elapsed() * 1000;
    QVERIFY2(served <= spentUs / VideoPreviewItem::kRequestIntervalUs + 2, qPrintable(QString::number(served)));
    QVERIFY(served >= 5);

    // Playing, frames asked for one after another in a burst (the sound
    // output takes sound in bursts) are each served: none of their pictures
    // goes missing. Another frame in the middle replaces those waiting.
    QTest::qWait(100);
    SoundClock::instance().heard(1000000, 30, std::chrono::steady_clock::now());
    before = item->servedRequests();
    for (int frame : {40, 41, 42}) {
        request.frame = request.self.frame = frame;
        item->request(request);
    }
    QTRY_COMPARE(item->servedRequests(), before + 3);
    before = item->servedRequests();
    for (int frame : {50, 51, 52, 53, 54, 55, 70}) {
        request.frame = request.self.frame = frame;
        item->request(request);
    }
    QTRY_VERIFY(item->servedRequests() > before);
    QTest::qWait(300);
    QVERIFY2(item->servedRequests() - before <= 2, qPrintable(QString::number(item->servedRequests() - before)));
    SoundClock::instance().stop();
    scene->RemoveItem(item);
    item->Release();
    scene->Release();
}

void TestRender::emptyRequestHidesAndCloses() {
    auto* item = new VideoPreviewItem({320, 240});
    FrameRequest request;
    request.decodeMask = DecodeSelf;
    request.showMask = ShowClip;
    request.self.path = media("h264-30fps.mp4");
    item->selected = true;
    item->request(request);
    QVERIFY(item->visible);
    QTRY_VERIFY(item->servedRequests() == 1);
    QByteArray log = korvel::test::captureStderr([&] {
        item->request(FrameRequest());
        QTest::qWait(200);
    });
    QVERIFY(!item->visible);
    QVERIFY(!item->selected); // hiding clears the selection
    QVERIFY(log.contains("~Vedio DecoderTask"));
    item->Release();
}

void TestRender::aClipNeverShowsAnotherClipsPicture() {
    // A small green picture, then the play head reaches an 8000 x 6000 photo
    // (red left, blue right) on the same track, then a clip whose file is
    // gone. Until a clip's own frame is decoded the item draws nothing;
    // it never shows the previous clip's picture in the new clip's place.
    GsScene* scene = new GsScene(320, 240);
    auto* item = new VideoPreviewItem({320, 240});
    scene->AddItem(item);
    item->MoveTo(0, 0);
    FrameRequest request;
    request.decodeMask = DecodeSelf;
    request.showMask = ShowClip;
    request.self.stretch = 0;
    request.self.width = 320;
    request.self.height = 240;
    auto show = [&](const char* uuid, const QString& path, QSize size) {
        request.self.uuid = QLatin1String(uuid);
        request.self.path = path;
        request.self.clipRect = QRect(QPoint(0, 0), size);
        item->request(request);
    };
    show("{logo}", media("export-green.png"), {64, 48});
    QTRY_VERIFY_WITH_TIMEOUT(item->servedRequests() == 1, 10000);
    QVERIFY(near(draw(scene)->at(160, 120), QColor(0, 255, 0)));

    show("{photo}", media("huge-photo.png"), {8000, 6000});
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        auto out = draw(scene);
        const QColor left = out->at(40, 120), right = out->at(280, 120);
        QVERIFY2(!near(left, QColor(0, 255, 0), 40) && !near(right, QColor(0, 255, 0), 40),
                 qPrintable(left.name() + " " + right.name()));
        if (near(left, Qt::red) && near(right, Qt::blue))
            break;
        QVERIFY2(near(left, Qt::black) && near(right, Qt::black), qPrintable(left.name() + " " + right.name()));
        QVERIFY2(clock.elapsed() < 60000, "the photo never showed");
        QTest::qWait(20);
    }

    show("{gone}", media("no-such-file.png"), {64, 48});
    QTRY_VERIFY_WITH_TIMEOUT(item->servedRequests() == 3, 10000);
    QVERIFY(near(draw(scene)->at(160, 120), Qt::black));
    scene->RemoveItem(item);
    item->Release();
    scene->Release();
}

void TestRender::subtitleExtentAndImage() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(16);
    QFontMetricsF metrics(font);
    QSizeF extent = SubtitlePreviewItem::textExtent("short\na longer line", font);
    QCOMPARE(extent.width(), metrics.horizontalAdvance("a longer line") + 12);
    QCOMPARE(extent.height(), 2 * metrics.lineSpacing() + 12);
    QCOMPARE(SubtitlePreviewItem::textExtent("one", font).height(), metrics.lineSpacing() + 12);

    // A line wider than the canvas wraps between words, or between any two
    // characters of Chinese, into lines that fit; none is lost (it was cut
    // at both sides of the picture). A line that fits and an empty one stay.
    const gs_vec2 canvas {320, 180};
    for (const QString& text :
         {QStringLiteral("A very long line that runs far past the width of the canvas and must wrap\n\nshort"),
          QString(60, QChar(0x4f60)), QStringLiteral("x") + QString(80, QLatin1Char('m'))}) {
        const QStringList lines = SubtitlePreviewItem::fitToCanvas(text, font, canvas).split('\n');
        QVERIFY2(lines.size() > text.count('\n') + 1, qPrintable(lines.join('|')));
        for (const QString& line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= canvas.x - 12, qPrintable(line));
        QString joined = lines.join(QString());
        QString plain = text;
        QCOMPARE(joined.remove(' '), plain.remove(' ').remove('\n'));
    }
    const QString sentence = "A very long line that runs far past the width of the canvas";
    const QString first = SubtitlePreviewItem::fitToCanvas(sentence, font, canvas).section('\n', 0, 0);
    QVERIFY2(first.size() > 10 && sentence.startsWith(first + " "), qPrintable(first)); // broken between words
    QCOMPARE(SubtitlePreviewItem::fitToCanvas("fits\n\nhere", font, canvas), QString("fits\n\nhere"));

    // A small item grows to the text; a big one keeps its size.
    auto* small = new SubtitlePreviewItem({640, 360});
    small->Resize(10, 10);
    SubtitleRequest look;
    look.text = "short\na longer line";
    look.font = font;
    look.backgroundColor = Qt::blue;
    look.backgroundAlpha = 255;
    small->request(look);
    QCOMPARE(small->size().x, float(extent.width()));
    QCOMPARE(small->size().y, float(extent.height()));
    auto* big = new SubtitlePreviewItem({400, 200});
    big->request(look);
    QCOMPARE(big->size().x, 400.0f);
    QCOMPARE(big->image().size(), QSize(400, 200));

    // An empty text still draws its background.
    GsScene* scene = new GsScene(400, 200);
    look.text.clear();
    big->request(look);
    big->setVisible(true);
    scene->AddItem(big);
    auto out = draw(scene);
    QVERIFY(near(out->at(200, 100), Qt::blue));
    QVERIFY(near(out->at(2, 2), Qt::blue));
    scene->RemoveItem(big);
    big->Release();
    small->Release();
    scene->Release();
}

// 5 MB of text: laid out once, cut to what a 640 x 360 canvas can show,
// and each further frame of the same look costs next to nothing.
void TestRender::aHugeSubtitleIsLaidOutOncePerChange() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(24);
    QString line = QString(99, QLatin1Char('x')) + QLatin1Char('\n');
    SubtitleState state;
    state.previewRect = QRectF(0, 0, 640, 360);
    state.look.font = font;
    state.look.text = line.repeated(50000);
    auto props = std::make_shared<SubtitleState>(state);
    RenderProps frame;
    frame.visible = true;
    frame.subtitle = props;
    auto* item = new SubtitlePreviewItem({640, 360});
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 250; ++i)
        item->applyRenderProps(frame);
    QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
    const QFontMetricsF metrics(font);
    QVERIFY(item->extent().height() <= 360 + 2 * metrics.lineSpacing() + 12);
    QVERIFY(item->extent().width() < 640 * 20);
    QCOMPARE(item->image().height(), int(item->size().y));
    item->Release();
}

void TestRender::sceneSizeIsEven() {
    RenderManager manager;
    QSignalSpy sent(&manager, &RenderManager::sig_sendScene);
    QSignalSpy sized(&manager, &RenderManager::sig_updateSceneSize);
    manager.setSceneSize(1281, 721, true);
    QCOMPARE(manager.sceneWidth(), 1280u);
    QCOMPARE(manager.sceneHeight(), 720u);
    QCOMPARE(manager.scene()->width(), 1280);
    QVERIFY(manager.isSizeLocked());
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sized.takeFirst(), (QList<QVariant> {1280, 720}));
    // An impossible size keeps the scene.
    manager.setSceneSize(0, 100, false);
    QCOMPARE(manager.sceneWidth(), 1280u);
}

void TestRender::videoItemBringsItsCompanion() {
    RenderManager manager;
    manager.setSceneSize(640, 360, false);
    auto* video = new VideoPreviewItem({640, 360});
    auto* subtitle = new SubtitlePreviewItem({640, 360});
    manager.addItem(video);
    manager.addItem(subtitle);
    int count = 0;
    std::vector<int32_t> order;
    manager.scene()->EnumItems(
        [&](GsItem* item, void*) {
            ++count;
            order.push_back(item->z);
            return true;
        },
        nullptr);
    QCOMPARE(count, 3);
    QCOMPARE(order, (std::vector<int32_t> {0, 10000, TransPreviewItem::kZ}));
    QCOMPARE(video->companion()->baseSize().x, 640.0f);
    // Once placed, the transition sits right above its own clip and under
    // what is laid over the clip.
    video->setStacking(7);
    manager.orderItems();
    std::vector<GsItem*> items;
    manager.scene()->EnumItems([&](GsItem* item, void*) { return items.push_back(item), true; }, nullptr);
    QCOMPARE(items, (std::vector<GsItem*> {video, video->companion(), subtitle}));
    manager.removeItem(video);
    count = 0;
    manager.scene()->EnumItems([&](GsItem*, void*) { return ++count, true; }, nullptr);
    QCOMPARE(count, 1);
    manager.removeItem(subtitle);
    video->Release();
    subtitle->Release();
}

void TestRender::renderThreadRunsOneLoop() {
    RenderManager manager;
    manager.setSceneSize(320, 180, false);
    manager.slot_startRenderThread();
    RenderThread* first = manager.renderThread();
    manager.slot_startRenderThread();
    RenderThread* second = manager.renderThread();
    QVERIFY(second);
    QVERIFY(first != second || first->isRunning());
    QTRY_COMPARE(RenderThread::running(), 1);
    // It draws when something changed. The scene it draws (through an
    // output, with a picture in it) is replaced and let go meanwhile.
    auto* item = new VideoPreviewItem({320, 180});
    manager.addItem(item);
    item->beginExport();
    RenderProps props;
    props.contentMask = ContentSelf;
    props.self = layer(twoColourFrame(320, 180, Qt::red, Qt::green), 0, 0, 320, 180);
    item->applyRenderProps(props);
    auto* out = new Capture(manager.scene(), 320, 180, GsOutputRaw::GsFormatRGBA);
    out->Start();
    QTest::qWait(300);
    manager.removeItem(item);
    item->endExport();
    item->Release();
    for (int i = 0; i < 5; ++i)
        manager.setSceneSize(320 + 2 * i, 180, false);
    QTest::qWait(300);
    out->Stop();
    bool drawn = out->sawRed;
    out->Release();
    QVERIFY(drawn); // the render thread drew the first scene's picture
    QVERIFY(second->cycles() >= 1);
    manager.slot_closeRenderThread();
    QCOMPARE(RenderThread::running(), 0);
}

void TestRender::mediaInfoReportsAndAdapts() {
    RenderManager manager;
    manager.setSceneSize(1920, 1080, false);
    bg::ValueMap audio = manager.mediaInfo(media("tone.mp3"), true);
    QVERIFY(audio["valid"].toBool());
    QCOMPARE(audio["width"].toInt(), 0);
    QVERIFY(std::abs(audio["duration"].toInt64() - 2000) < 100);
    QCOMPARE(manager.sceneWidth(), 1920u);

    bg::ValueMap video = manager.mediaInfo(media("h264-25fps.mkv"), true);
    QVERIFY(video["valid"].toBool());
    QCOMPARE(video["width"].toInt(), 320);
    QCOMPARE(video["pix"].toInt64(), int64_t(90)); // three seconds
    // Two seconds are 60 frames, not 59.999... truncated.
    QCOMPARE(manager.mediaInfo(media("export-blue.mp4"), false)["pix"].toInt64(), int64_t(60));
    // A recording of 101 frames (3.3666... s) is 101 frames long, not 100.
    const QString take = korvel::test::workFolder("take") + "/take.wav";
    {
        const uint32_t samples = 101 * 44100 / 30, bytes = samples * 4;
        QByteArray wav("RIFF");
        auto put32 = [&wav](uint32_t v) { wav.append(reinterpret_cast<const char*>(&v), 4); };
        auto put16 = [&wav](uint16_t v) { wav.append(reinterpret_cast<const char*>(&v), 2); };
        put32(36 + bytes);
        wav += "WAVEfmt ";
        put32(16), put16(1), put16(2), put32(44100), put32(44100 * 4), put16(4), put16(16);
        wav += "data";
        put32(bytes);
        wav.append(QByteArray(int(bytes), '\0'));
        QFile file(take);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(wav) == wav.size());
    }
    QCOMPARE(manager.mediaInfo(take, false)["pix"].toInt64(), int64_t(101));
    QCOMPARE(manager.sceneWidth(), 320u);
    // A locked size stays.
    manager.setSceneSize(1280, 720, true);
    manager.mediaInfo(media("h264-30fps.mp4"), true);
    QCOMPARE(manager.sceneWidth(), 1280u);
    QVERIFY(!manager.mediaInfo(media("random.mp4"), true)["valid"].toBool());
    QVERIFY(!manager.mediaInfo(media("none.mp4"), true)["valid"].toBool());
}

void TestRender::projectSectionRoundTrips() {
    RenderManager manager;
    manager.setSceneSize(1440, 1080, false);
    QString xml;
    QXmlStreamWriter writer(&xml);
    manager.writeSection(writer);
    QCOMPARE(xml, QString("<scene><width>1440</width><height>1080</height></scene>"));

    RenderManager reader;
    QXmlStreamReader in(xml);
    in.readNextStartElement();
    reader.readSection(in);
    QCOMPARE(reader.sceneWidth(), 1440u);
    QXmlStreamReader partial(QString("<scene><depth>3</depth><height>481</height></scene>"));
    partial.readNextStartElement();
    reader.readSection(partial);
    QCOMPARE(reader.sceneWidth(), 1920u);
    QCOMPARE(reader.sceneHeight(), 480u);
    reader.readOldCanvas("[rectf]x:0.000000;y:0.000000;w:1281.700000;h:721.200000");
    QCOMPARE(reader.sceneWidth(), 1280u);
    QCOMPARE(reader.sceneHeight(), 720u);
    reader.readOldCanvas("not a rectangle");
    QCOMPARE(reader.sceneWidth(), 1280u);
}

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestRender");
    korvel::test::requireDisplay();
    QGuiApplication app(argc, argv);
    TestRender tc;
    int status = QTest::qExec(&tc, argc, argv);
    GsDevice::DestroyDefaultDevice();
    return status;
}

#include "tst_render.moc"
