// The engine drawn for real (Mesa's llvmpipe under Xvfb, or a GPU) and read back.
#include "graphics/graphics.h"
#include "graphics/headless.h"
#include "support/test-main.h"

#include <QtTest>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

namespace {

// A flat-coloured item drawn with the engine's plain program.
class ColourItem : public GsItem {
public:
    ColourItem(uint32_t rgba, float w, float h) : GsItem(gs_vec2 {w, h}) {
        std::vector<uint32_t> pixels(4, rgba);
        m_texture = std::make_unique<GsTexture>(reinterpret_cast<const uint8_t*>(pixels.data()), 8,
                                                GsTexture::RGBA, 2, 2);
    }
    void Draw() override {
        if (!GsContextDefault::BindShader("rgba"))
            return;
        GsScene* s = scene();
        GsTextureBinder bind(m_texture.get());
        GsContextDefault::SetViewport(0, 0, s->width(), s->height());
        gs_vec2 p = pos(), sz = size();
        GsContextDefault::DrawRect({p.x, p.y, sz.x, sz.y, rotation}, {float(s->width()), float(s->height())});
        GsContextDefault::UnbindShader();
        ++draws;
    }
    bool CoversScene() const override { return covers; }
    int draws = 0;
    bool covers = false;

private:
    std::unique_ptr<GsTexture> m_texture;
};

class Capture : public GsOutputRaw {
public:
    using GsOutputRaw::GsOutputRaw;
    void OnFrame(int w, int h, const uint8_t* pixels, int bytesPerRow, int64_t timestamp) override {
        width = w;
        height = h;
        stamps.push_back(timestamp);
        frame.resize(size_t(w) * h * 4);
        for (int y = 0; y < h; ++y)
            std::memcpy(frame.data() + size_t(y) * w * 4, pixels + size_t(y) * bytesPerRow, size_t(w) * 4);
    }
    uint32_t at(int x, int y) const {
        uint32_t v;
        std::memcpy(&v, frame.data() + (size_t(y) * width + x) * 4, 4);
        return v;
    }
    int width = 0, height = 0;
    std::vector<int64_t> stamps;
    std::vector<uint8_t> frame;
};

constexpr uint32_t kRed = 0xff0000ff, kGreen = 0xff00ff00, kBlue = 0xffff0000, kBlack = 0xff000000;

// One full cycle through an output, flushed.
void renderOnce(Capture* output) {
    TickSource();
    HandleFilter();
    OutputFrame(1000, 1);
    output->Stop();
}

} // namespace

class TestGraphics : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void itemsLandWhereTheyArePlaced();
    void zOrderDecidesWhatIsOnTop();
    void outputScalesTheScene();
    void framesArriveInOrder();
    void badInputDrawsNothing();
    void programsThatFailAreSkipped();
    void filtersRenderIntoTheirTarget();
    void drawsWithoutADisplay();
};

void TestGraphics::initTestCase() { QVERIFY(GsDevice::CreateDefaultDevice(false)); }

void TestGraphics::itemsLandWhereTheyArePlaced() {
    GsScene* scene = new GsScene(200, 100);
    auto* item = new ColourItem(kRed, 40, 20);
    item->MoveTo(50, -20); // right of centre, above it
    scene->AddItem(item);
    auto* output = new Capture(scene, 200, 100, GsOutputRaw::GsFormatRGBA);
    output->Start();
    renderOnce(output);
    QCOMPARE(output->width, 200);
    // The item covers x 130..170, y 20..40 (top row first).
    QCOMPARE(output->at(150, 30), kRed);
    QCOMPARE(output->at(131, 21), kRed);
    QCOMPARE(output->at(128, 30), kBlack);
    QCOMPARE(output->at(150, 42), kBlack);
    QCOMPARE(output->at(100, 50), kBlack);

    // A quarter turn makes it 20 wide and 40 high around the same centre.
    item->rotation = float(M_PI / 2);
    output->Start();
    renderOnce(output);
    QCOMPARE(output->at(150, 12), kRed);
    QCOMPARE(output->at(150, 48), kRed);
    QCOMPARE(output->at(135, 30), kBlack);
    output->Release();
    item->Release();
    scene->Release();
}

void TestGraphics::zOrderDecidesWhatIsOnTop() {
    GsScene* scene = new GsScene(64, 64);
    auto* low = new ColourItem(kRed, 64, 64);
    auto* high = new ColourItem(kGreen, 32, 32);
    high->z = 10;
    scene->AddItem(high);
    scene->AddItem(low);
    scene->OrderItem();
    auto* output = new Capture(scene, 64, 64, GsOutputRaw::GsFormatRGBA);
    output->Start();
    renderOnce(output);
    QCOMPARE(output->at(32, 32), kGreen);
    QCOMPARE(output->at(2, 2), kRed);
    high->z = -1;
    scene->OrderItem();
    output->Start();
    renderOnce(output);
    QCOMPARE(output->at(32, 32), kRed);
    // Hidden items are not drawn.
    low->visible = false;
    output->Start();
    renderOnce(output);
    QCOMPARE(output->at(32, 32), kGreen);
    QCOMPARE(output->at(2, 2), kBlack);
    // An item that paints the whole scene hides the ones below: they are not drawn.
    low->visible = true;
    high->z = 10;
    scene->OrderItem();
    low->covers = true;
    int before = low->draws;
    output->Start();
    renderOnce(output);
    QCOMPARE(low->draws, before + 1);
    high->covers = true;
    before = low->draws;
    output->Start();
    renderOnce(output);
    QCOMPARE(low->draws, before);
    QCOMPARE(output->at(32, 32), kGreen);
    // Hidden items hide nothing.
    high->visible = false;
    output->Start();
    renderOnce(output);
    QCOMPARE(low->draws, before + 1);
    QCOMPARE(output->at(32, 32), kRed);
    output->Release();
    low->Release();
    high->Release();
    scene->Release();
}

void TestGraphics::outputScalesTheScene() {
    // A 1920 x 1080 scene read back at 640 x 360: the same picture, smaller.
    GsScene* scene = new GsScene(1920, 1080);
    auto* item = new ColourItem(kBlue, 960, 540);
    item->MoveTo(-480, -270); // the top-left quarter
    scene->AddItem(item);
    auto* output = new Capture(scene, 640, 360, GsOutputRaw::GsFormatRGBA);
    output->Start();
    renderOnce(output);
    QCOMPARE(output->width, 640);
    QCOMPARE(output->height, 360);
    QCOMPARE(output->at(100, 100), kBlue);
    QCOMPARE(output->at(318, 178), kBlue);
    QCOMPARE(output->at(322, 182), kBlack);
    output->Release();
    item->Release();
    scene->Release();
}

void TestGraphics::framesArriveInOrder() {
    GsScene* scene = new GsScene(32, 32);
    auto* output = new Capture(scene, 32, 32, GsOutputRaw::GsFormatRGBA);
    output->Start();
    for (int64_t t = 1; t <= 5; ++t) {
        TickSource();
        OutputFrame(t * 33333333, 1);
    }
    // The read-back lags one frame; stopping delivers the last.
    QCOMPARE(output->stamps.size(), size_t(4));
    output->Stop();
    QCOMPARE(output->stamps, (std::vector<int64_t> {33333333, 66666666, 99999999, 133333332, 166666665}));
    output->Release();
    scene->Release();
}

void TestGraphics::badInputDrawsNothing() {
    std::vector<uint8_t> pixels(16, 0xff);
    GsTexture empty(pixels.data(), 0, GsTexture::RGBA, 0, 0);
    QVERIFY(!empty.valid());
    GsTexture wide(pixels.data(), 16384 * 4, GsTexture::RGBA, 16384, 1);
    QVERIFY(!wide.valid());
    GsTexture ok(pixels.data(), 8, GsTexture::RGBA, 2, 2);
    QVERIFY(ok.valid());

    GsScene* scene = new GsScene(32, 32);
    auto* item = new ColourItem(kRed, 32, 32);
    item->MoveTo(std::nanf(""), 0);
    scene->AddItem(item);
    auto* output = new Capture(scene, 32, 32, GsOutputRaw::GsFormatRGBA);
    output->Start();
    renderOnce(output);
    QCOMPARE(output->at(16, 16), kBlack);
    item->MoveTo(0, 0);
    item->Resize(INFINITY, 4);
    output->Start();
    renderOnce(output);
    QCOMPARE(output->at(16, 16), kBlack);
    output->Release();
    item->Release();
    scene->Release();
}

void TestGraphics::programsThatFailAreSkipped() {
    GsDevice* device = GsDevice::DefaultDevice();
    QVERIFY(!device->AddShader("broken", "#version 330 core\nvoid main() { nonsense; }", "x"));
    QVERIFY(!device->HasShader("broken"));
    GsDeviceScope scope;
    QVERIFY(!GsContextDefault::BindShader("broken"));
    QVERIFY(!GsContextDefault::BindShader("never-added"));
    QVERIFY(GsContextDefault::BindShader("rgba"));
    GsContextDefault::UnbindShader();
}

namespace {
class FillFilter : public GsFilter {
public:
    FillFilter() : GsFilter(16, 8) {}
    void Render() override {
        std::vector<uint32_t> pixels(4, kGreen);
        GsTexture t(reinterpret_cast<const uint8_t*>(pixels.data()), 8, GsTexture::RGBA, 2, 2);
        GsContextDefault::BindShader("rgba");
        GsTextureBinder bind(&t);
        GsContextDefault::SetViewport(0, 0, 16, 8);
        GsContextDefault::DrawRect({-4, 0, 8, 8, 0}, {16, 8}); // the left half
        GsContextDefault::UnbindShader();
        ++renders;
    }
    int renders = 0;
};

// Draws a filter's target over the whole scene.
class TextureItem : public GsItem {
public:
    explicit TextureItem(GsFilter* f) : filter(f) {}
    void Draw() override {
        GsScene* s = scene();
        GsContextDefault::BindShader("rgba");
        GsTextureBinder bind(filter->texture());
        GsContextDefault::DrawRect({0, 0, float(s->width()), float(s->height()), 0},
                                   {float(s->width()), float(s->height())});
        GsContextDefault::UnbindShader();
    }
    GsFilter* filter;
};
} // namespace

void TestGraphics::filtersRenderIntoTheirTarget() {
    auto* filter = new FillFilter;
    filter->Attach();
    GsScene* scene = new GsScene(16, 8);
    auto* item = new TextureItem(filter);
    scene->AddItem(item);
    auto* output = new Capture(scene, 16, 8, GsOutputRaw::GsFormatRGBA);
    output->Start();
    renderOnce(output);
    QCOMPARE(filter->renders, 1);
    // The filter's picture keeps its orientation through the second pass.
    QCOMPARE(output->at(2, 4), kGreen);
    QCOMPARE(output->at(13, 4), kBlack);
    filter->Detach();
    output->Start();
    renderOnce(output);
    QCOMPARE(filter->renders, 1);
    output->Release();
    item->Release();
    scene->Release();
    filter->Release();
}

// A server with no X or Wayland: this program again, with neither variable
// set, draws a known picture and reads it back (see headlessChild).
void TestGraphics::drawsWithoutADisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--headless-child"});
    QVERIFY(child.waitForFinished(120000));
    const QByteArray out = child.readAllStandardOutput(), err = child.readAllStandardError();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, (out + err).constData());
    QVERIFY2(out.contains("headless picture ok on eglfs"), (out + err).constData());
}

namespace {
int headlessChild(int argc, char** argv) {
    if (!gs::prepareHeadlessPlatform()) {
        std::printf("the headless platform was not chosen without DISPLAY\n");
        return 2;
    }
    // See requireDisplay: Mesa's driver stays resident for the leak check.
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
    QGuiApplication app(argc, argv);
    if (!GsDevice::CreateDefaultDevice(false)) {
        std::printf("no device on %s\n", qPrintable(app.platformName()));
        return 3;
    }
    // Red over the left half of a black scene, read back at twice the size.
    GsScene* scene = new GsScene(64, 32);
    auto* item = new ColourItem(kRed, 32, 32);
    item->MoveTo(-16, 0);
    scene->AddItem(item);
    auto* output = new Capture(scene, 128, 64, GsOutputRaw::GsFormatRGBA);
    output->Start();
    renderOnce(output);
    const bool ok = output->width == 128 && output->height == 64 && output->at(10, 10) == kRed &&
                    output->at(60, 60) == kRed && output->at(70, 10) == kBlack && output->at(127, 63) == kBlack;
    std::printf("headless picture %s on %s (%s): %08x %08x\n", ok ? "ok" : "wrong", qPrintable(app.platformName()),
                GsDevice::DefaultDevice()->Renderer().c_str(), output->width ? output->at(10, 10) : 0,
                output->width ? output->at(70, 10) : 0);
    output->Release();
    item->Release();
    scene->Release();
    GsDevice::DestroyDefaultDevice();
    return ok ? 0 : 4;
}
} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--headless-child") == 0)
        return headlessChild(argc, argv);
    korvel::test::prepareEnvironment("TestGraphics");
    korvel::test::requireDisplay();
    QGuiApplication app(argc, argv);
    TestGraphics tc;
    int status = QTest::qExec(&tc, argc, argv);
    GsDevice::DestroyDefaultDevice();
    return status;
}

#include "tst_graphics.moc"
