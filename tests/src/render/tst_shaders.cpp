// The picture programs drawn for real and checked pixel by pixel against the
// same formulas worked out here in double precision.
#include "graphics/graphics.h"
#include "media/media.h"
#include "render/shader-library.h"
#include "support/test-main.h"

#include <QtTest>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
    Rgba operator*(double k) const { return {r * k, g * k, b * k, a * k}; }
    Rgba operator+(Rgba o) const { return {r + o.r, g + o.g, b + o.b, a + o.a}; }
    Rgba alphaTimes(double k) const { return {r, g, b, a * k}; }
};

// RGBA bytes, top row first: a picture drawn from, or a frame read back.
struct Pixels {
    int w = 0, h = 0;
    std::vector<uint8_t> bytes;
    Rgba texel(int x, int y) const {
        x = std::clamp(x, 0, w - 1);
        y = std::clamp(y, 0, h - 1);
        const uint8_t* p = &bytes[(size_t(y) * w + x) * 4];
        return {p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0};
    }
};

// A picture the size of the scene, so that pixel centres fall on texel centres.
struct Picture : Pixels {
    enum Kind { First, Second, Colourful };
    Picture(int width, int height, Kind kind)
        : Pixels{width, height, std::vector<uint8_t>(size_t(width) * height * 4)} {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                double gx = double(x) / (w - 1), gy = double(y) / (h - 1);
                // Every channel moves smoothly and the two transition pictures differ everywhere.
                double c[4] = {gx, gy, 1 - (gx + gy) / 2, 1};
                if (kind == Second) {
                    c[0] = 30 / 255.0;
                    c[1] = 1 - gy;
                    c[2] = 1 - gx;
                }
                if (kind != First)
                    c[3] = 0.8;
                for (int i = 0; i < 4; ++i)
                    bytes[(size_t(y) * w + x) * 4 + i] = uint8_t(std::lround(c[i] * 255));
            }
        }
    }
    // Linear filtering with edges clamped, as the engine's textures sample.
    Rgba sample(double u, double v) const {
        double fx = u * w - 0.5, fy = v * h - 0.5;
        int x0 = int(std::floor(fx)), y0 = int(std::floor(fy));
        double tx = fx - x0, ty = fy - y0;
        Rgba top = texel(x0, y0) * (1 - tx) + texel(x0 + 1, y0) * tx;
        Rgba bottom = texel(x0, y0 + 1) * (1 - tx) + texel(x0 + 1, y0 + 1) * tx;
        return top * (1 - ty) + bottom * ty;
    }
    std::unique_ptr<GsTexture> texture() const {
        return std::make_unique<GsTexture>(bytes.data(), w * 4, GsTexture::RGBA, w, h);
    }
};

// The opaque colour under every program, so that alpha shows in the result.
constexpr uint8_t kBackground[4] = {102, 153, 51, 255};

// What the framebuffer holds after a source colour is clamped and blended over the background.
Rgba overBackground(Rgba s) {
    auto c = [](double v) { return std::clamp(v, 0.0, 1.0); };
    double a = c(s.a);
    return {c(s.r) * a + kBackground[0] / 255.0 * (1 - a), c(s.g) * a + kBackground[1] / 255.0 * (1 - a),
            c(s.b) * a + kBackground[2] / 255.0 * (1 - a), 1};
}

// Two colours mixed by the light each gives, its colour times its opacity.
Rgba mixLight(const Rgba& a, const Rgba& b, double t) {
    const double alpha = a.a * (1 - t) + b.a * t;
    if (alpha <= 0)
        return {0, 0, 0, 0};
    auto light = [&](double ca, double cb) { return (ca * a.a * (1 - t) + cb * b.a * t) / alpha; };
    return {light(a.r, b.r), light(a.g, b.g), light(a.b, b.b), alpha};
}

Rgba transition(const QString& name, double x, double y, const TransitionBlock& k, const Picture& from,
                const Picture& to) {
    const double p = k.progress;
    const Rgba a = from.sample(x, y).alphaTimes(k.transparent_from);
    const Rgba b = to.sample(x, y).alphaTimes(k.transparent_to);
    auto pick = [&](bool cond) { return cond ? b : a; };
    if (name == "clip_banding") {
        for (int i = 0; i < 10; ++i)
            if (i * 0.1 <= y && y <= (i + 1) * 0.1)
                return pick(i % 2 == 0 ? x < p : x > 1 - p);
        return a;
    }
    if (name == "clip_box")
        return pick(std::abs(x - 0.5) < p / 2 && std::abs(y - 0.5) < p / 2);
    if (name == "clip_circle") {
        double r = p / 2 * std::hypot(1.0, 1.0 / k.aspect);
        double sx = k.aspect <= 1 ? k.aspect : 1, sy = k.aspect <= 1 ? 1 : 1 / k.aspect;
        return pick(std::hypot((x - 0.5) * sx, (y - 0.5) * sy) <= r);
    }
    if (name == "clip_cross")
        return pick(std::abs(x - 0.5) < p / 2 || std::abs(y - 0.5) < p / 2);
    if (name == "clip_herase")
        return pick(x <= p);
    if (name == "clip_open")
        return pick(std::abs(x - 0.5) < p / 2);
    if (name == "clip_radial")
        return std::abs(p - 1) < 0.0001 ? b : pick(-std::sin(std::atan((y - 1) / x)) < p);
    if (name == "clip_winshades") {
        for (int i = 0; i < 5; ++i)
            if (i * 0.2 <= y && y <= (i + 1) * 0.2)
                return pick(y - i * 0.2 < p / 5);
        return a;
    }
    if (name == "over_black" || name == "over_white") {
        Rgba mid = name == "over_black" ? Rgba{0, 0, 0, 1} : Rgba{1, 1, 1, 1};
        return p < 0.5 ? mixLight(a, mid, 2 * p) : mixLight(mid, b, 2 * p - 1);
    }
    if (name == "over_cross")
        return mixLight(a, b, p);
    if (name == "scale_boxes") {
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                if (i * 0.25 <= x && x <= (i + 1) * 0.25 && j * 0.25 <= y && y <= (j + 1) * 0.25)
                    return pick(std::abs(x - (2 * i + 1) * 0.125) < p / 8 &&
                                std::abs(y - (2 * j + 1) * 0.125) < p / 8);
        return a;
    }
    if (name == "scale_in")
        return pick(std::hypot(x - 0.5, y - 0.5) <= p * std::sqrt(0.5));
    if (name == "trans_move")
        return x < p ? to.sample(x + 1 - p, y).alphaTimes(k.transparent_to)
                     : from.sample(x - p, y).alphaTimes(k.transparent_from);
    return {};
}

// A layer's colour controls in the order they apply, and its opacity.
struct Adjustment {
    float temperature = 0, hue = 0, brightness = 0, contrast = 0, saturation = 0, highlight = 0, transparent = 1;
    ColourBlock block() const {
        ColourControls c;
        c.temperature = temperature;
        c.hue = hue;
        c.brightness = brightness;
        c.contrast = contrast;
        c.saturation = saturation;
        c.highlight = highlight;
        return colourBlock(c, transparent);
    }
};

// Each control in turn, per pixel, as the controls are described to users.
Rgba colour(Rgba s, const Adjustment& k) {
    double c[3] = {s.r, s.g, s.b};
    const double t = k.temperature, m = std::clamp(t + 1, 0.0, 1.0);
    const double cool[3] = {1 - std::abs(t) * 0.5, 1, 1 + std::abs(t) * 0.7};
    const double warm[3] = {1 + t * 0.8, 1, 1 - t * 0.4};
    for (int i = 0; i < 3; ++i)
        c[i] *= cool[i] * (1 - m) + warm[i] * m;
    const double an = k.hue * 3.1415926, co = std::cos(an), si = std::sin(an);
    // The YIQ hue turn: output channel i from row i.
    const double rows[3][3] = {
        {0.299 + 0.701 * co + 0.168 * si, 0.587 - 0.587 * co + 0.330 * si, 0.114 - 0.114 * co - 0.497 * si},
        {0.299 - 0.299 * co - 0.328 * si, 0.587 + 0.413 * co + 0.035 * si, 0.114 - 0.114 * co + 0.292 * si},
        {0.299 - 0.300 * co + 1.250 * si, 0.587 - 0.588 * co - 1.050 * si, 0.114 + 0.886 * co - 0.203 * si}};
    double h[3];
    for (int i = 0; i < 3; ++i)
        h[i] = rows[i][0] * c[0] + rows[i][1] * c[1] + rows[i][2] * c[2];
    for (int i = 0; i < 3; ++i)
        c[i] = ((h[i] + k.brightness) - 0.5) * (k.contrast + 1) + 0.5;
    const double luma = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
    for (double& v : c)
        v = std::min(luma + (v - luma) * (k.saturation + 1) + k.highlight, 1.0);
    return {c[0], c[1], c[2], s.a * k.transparent};
}

// The scene read back after the background and then the program are drawn.
struct Frame : Pixels {
    bool drawn = false;
};

class Capture : public GsOutputRaw {
public:
    using GsOutputRaw::GsOutputRaw;
    void OnFrame(int w, int h, const uint8_t* pixels, int bytesPerRow, int64_t) override {
        frame.w = w;
        frame.h = h;
        frame.bytes.clear();
        for (int y = 0; y < h; ++y)
            frame.bytes.insert(frame.bytes.end(), pixels + size_t(y) * bytesPerRow,
                               pixels + size_t(y) * bytesPerRow + size_t(w) * 4);
    }
    Frame frame;
};

// Draws one program over the whole scene, as the render code will.
class ProgramItem : public GsItem {
public:
    ProgramItem(std::string program, const void* block, int bytes, GsTexture* from, GsTexture* to)
        : m_program(std::move(program)), m_block(bytes), m_buffer(bytes), m_from(from), m_to(to) {
        std::memcpy(m_block.data(), block, size_t(bytes));
    }
    void Draw() override {
        bound = GsContextDefault::BindShader(m_program);
        if (!bound)
            return;
        m_buffer.Update(m_block.data(), int(m_block.size()));
        m_buffer.Bind(0);
        GsTextureBinder bind(m_from, m_to);
        GsScene* s = scene();
        float w = float(s->width()), h = float(s->height());
        GsContextDefault::SetViewport(0, 0, s->width(), s->height());
        GsContextDefault::DrawRect({0, 0, w, h, 0}, {w, h});
        GsContextDefault::UnbindShader();
    }
    bool bound = false;

private:
    std::string m_program;
    std::vector<uint8_t> m_block;
    GsConstantBuffer m_buffer;
    GsTexture* m_from;
    GsTexture* m_to;
};

template <typename Block>
Frame drawProgram(const std::string& program, const Block& block, int w, int h, GsTexture* from,
                  GsTexture* to = nullptr) {
    GsTexture backgroundTexture(kBackground, 4, GsTexture::RGBA, 1, 1);
    AlphaBlock opaque;
    auto* background = new ProgramItem("rgba", &opaque, sizeof opaque, &backgroundTexture, nullptr);
    auto* item = new ProgramItem(program, &block, sizeof block, from, to);
    GsScene* scene = new GsScene(w, h);
    scene->AddItem(background);
    scene->AddItem(item);
    auto* output = new Capture(scene, w, h, GsOutputRaw::GsFormatRGBA);
    output->Start();
    TickSource();
    OutputFrame(1, 1);
    output->Stop();
    Frame f = output->frame;
    f.drawn = background->bound && item->bound;
    output->Release();
    item->Release();
    background->Release();
    scene->Release();
    return f;
}

using Expected = std::function<Rgba(double u, double v)>;
using Oracle = std::function<Rgba(int x, int y)>;

// Every pixel against the formula (skipping those within a twentieth of a
// pixel of a boundary) and, where given, against an independent oracle.
// Empty when they agree, else the first difference.
QString compare(const Frame& got, const Expected& expected, const Oracle& oracle = nullptr) {
    const double tolerance = 2.0 / 255 + 1e-6;
    auto differ = [&](Rgba x, Rgba y, double tol) {
        return std::abs(x.r - y.r) > tol || std::abs(x.g - y.g) > tol || std::abs(x.b - y.b) > tol ||
               std::abs(x.a - y.a) > tol;
    };
    auto report = [&](int x, int y, const char* what, Rgba want) {
        Rgba c = got.texel(x, y);
        return QString::asprintf("pixel %d,%d is (%.0f %.0f %.0f %.0f), %s (%.1f %.1f %.1f %.1f)", x, y,
                                 c.r * 255, c.g * 255, c.b * 255, c.a * 255, what, want.r * 255, want.g * 255,
                                 want.b * 255, want.a * 255);
    };
    if (int(got.bytes.size()) != got.w * got.h * 4)
        return "no frame came back";
    int compared = 0;
    for (int y = 0; y < got.h; ++y) {
        for (int x = 0; x < got.w; ++x) {
            const double u = (x + 0.5) / got.w, v = (y + 0.5) / got.h, du = 0.05 / got.w, dv = 0.05 / got.h;
            const Rgba want = overBackground(expected(u, v));
            if (oracle && differ(got.texel(x, y), overBackground(oracle(x, y)), tolerance))
                return report(x, y, "the oracle says", overBackground(oracle(x, y)));
            const std::pair<double, double> offsets[] = {{-du, -dv}, {du, -dv}, {-du, dv}, {du, dv}};
            bool nearEdge = false;
            for (auto [ou, ov] : offsets)
                nearEdge = nearEdge || differ(overBackground(expected(u + ou, v + ov)), want, 1.0 / 255);
            if (nearEdge)
                continue;
            ++compared;
            if (differ(got.texel(x, y), want, tolerance))
                return report(x, y, "expected", want);
        }
    }
    if (compared < got.w * got.h * 8 / 10)
        return QString("only %1 pixels away from boundaries").arg(compared);
    return QString();
}

enum Check { NoCheck, ShowsFrom, ShowsTo, OpaqueBlack, OpaqueWhite, MovedHalves };

const std::vector<std::string> kOrder = {
    "clip_banding", "clip_box",       "clip_circle", "clip_cross",    "clip_herase",   "clip_open",
    "clip_radial",  "clip_winshades", "over_black",  "over_cross",    "over_white",    "scale_boxes",
    "scale_in",     "trans_move",     "rgba_base",   "rgba_subtitle", "rgba_from_yuv", "rgba_to_yuv420"};

} // namespace

Q_DECLARE_METATYPE(Check)
Q_DECLARE_METATYPE(Adjustment)

class TestShaders : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void registersEveryProgramInOrder();
    void aBrokenProgramIsLoggedAndTheRestRegister();
    void transitions_data();
    void transitions();
    void colourAdjustments_data();
    void colourAdjustments();
    void hueKeepsGreysAndLuminance();
    void subtitleAppliesItsTransparency();
    void yuvPlanesShowAsTheCpuConvertsThem_data();
    void yuvPlanesShowAsTheCpuConvertsThem();
};

void TestShaders::initTestCase() {
    QVERIFY(GsDevice::CreateDefaultDevice(false));
    QCOMPARE(RegisterShaders(GsDevice::DefaultDevice()), 18);
}

void TestShaders::registersEveryProgramInOrder() {
    QCOMPARE(ShaderNames(), kOrder);
    std::vector<std::string> asked;
    auto reader = [&](const std::string& file) {
        asked.push_back(file);
        return ReadShaderResource(file);
    };
    QCOMPARE(RegisterShaders(GsDevice::DefaultDevice(), reader), 18);
    std::vector<std::string> expected = {"vertex.glsl", "transition-common.glsl"};
    for (const std::string& name : kOrder) {
        expected.push_back(name + ".glsl");
        QVERIFY2(GsDevice::DefaultDevice()->HasShader(name), name.c_str());
    }
    QCOMPARE(asked, expected);
}

void TestShaders::aBrokenProgramIsLoggedAndTheRestRegister() {
    // A fresh device, so programs registered before cannot hide the failure.
    GsDevice::DestroyDefaultDevice();
    QVERIFY(GsDevice::CreateDefaultDevice(false));
    GsDevice* device = GsDevice::DefaultDevice();
    auto reader = [](const std::string& file) {
        if (file == "clip_cross.glsl")
            return std::string("#version 330 core\nvoid main() { nonsense; }\n");
        if (file == "rgba_base.glsl")
            return std::string();
        return ReadShaderResource(file);
    };
    int registered = 0;
    QByteArray log = korvel::test::captureStderr([&] { registered = RegisterShaders(device, reader); });
    QCOMPARE(registered, 16);
    QVERIFY2(log.contains("build shader [clip_cross] failed!"), log.constData());
    QVERIFY2(log.contains("build shader [rgba_base] failed!"), log.constData());
    QCOMPARE(log.count("build shader ["), 2);
    for (const std::string& name : kOrder)
        QCOMPARE(device->HasShader(name), name != "clip_cross" && name != "rgba_base");
    QCOMPARE(RegisterShaders(device), 18);
}

void TestShaders::transitions_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<double>("progress");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("transparentFrom");
    QTest::addColumn<double>("transparentTo");
    QTest::addColumn<Check>("check");
    const QSize wide(64, 36), tall(36, 64);
    for (size_t i = 0; i < 14; ++i) {
        QString name = QString::fromStdString(kOrder[i]);
        Check middle = name == "over_black"   ? OpaqueBlack
                       : name == "over_white" ? OpaqueWhite
                       : name == "trans_move" ? MovedHalves
                                              : NoCheck;
        QTest::addRow("%s 0", qPrintable(name)) << name << 0.0 << wide << 1.0 << 1.0 << ShowsFrom;
        QTest::addRow("%s 0.5", qPrintable(name)) << name << 0.5 << wide << 1.0 << 1.0 << middle;
        QTest::addRow("%s 1", qPrintable(name)) << name << 1.0 << wide << 1.0 << 1.0 << ShowsTo;
        // Each picture's own transparency; every program has its own copy of the sampling.
        QTest::addRow("%s 0.5 see-through", qPrintable(name)) << name << 0.5 << wide << 0.5 << 0.25 << middle;
    }
    // Away from the symmetric middle, and the circle on a tall picture.
    QTest::newRow("clip_banding 0.3") << "clip_banding" << 0.3 << wide << 1.0 << 1.0 << NoCheck;
    QTest::newRow("clip_radial 0.8") << "clip_radial" << 0.8 << wide << 1.0 << 1.0 << NoCheck;
    QTest::newRow("clip_winshades 0.3") << "clip_winshades" << 0.3 << wide << 1.0 << 1.0 << NoCheck;
    QTest::newRow("scale_boxes 0.7") << "scale_boxes" << 0.7 << wide << 1.0 << 1.0 << NoCheck;
    QTest::newRow("trans_move 0.25") << "trans_move" << 0.25 << wide << 1.0 << 1.0 << NoCheck;
    QTest::newRow("clip_circle tall 0.5") << "clip_circle" << 0.5 << tall << 1.0 << 1.0 << NoCheck;
    QTest::newRow("clip_circle tall 1") << "clip_circle" << 1.0 << tall << 1.0 << 1.0 << ShowsTo;
    QTest::newRow("clip_box 0 see-through") << "clip_box" << 0.0 << wide << 0.5 << 0.25 << ShowsFrom;
    QTest::newRow("scale_in 1 see-through") << "scale_in" << 1.0 << wide << 0.5 << 0.25 << ShowsTo;
    // The fades show only black or white at 0.5: each half on its own.
    for (const char* name : {"over_black", "over_white"}) {
        QTest::addRow("%s 0.25 see-through", name) << name << 0.25 << wide << 0.5 << 0.25 << NoCheck;
        QTest::addRow("%s 0.75 see-through", name) << name << 0.75 << wide << 0.5 << 0.25 << NoCheck;
    }
    QTest::newRow("over_black 0.5 invisible") << "over_black" << 0.5 << wide << 0.0 << 0.0 << OpaqueBlack;
}

void TestShaders::transitions() {
    QFETCH(QString, program);
    QFETCH(double, progress);
    QFETCH(QSize, size);
    QFETCH(double, transparentFrom);
    QFETCH(double, transparentTo);
    QFETCH(Check, check);
    const int w = size.width(), h = size.height();
    const Picture from(w, h, Picture::First), to(w, h, Picture::Second);
    TransitionBlock block;
    block.progress = float(progress);
    block.aspect = float(w) / h;
    block.transparent_from = float(transparentFrom);
    block.transparent_to = float(transparentTo);
    auto fromTexture = from.texture(), toTexture = to.texture();
    Frame got = drawProgram(program.toStdString(), block, w, h, fromTexture.get(), toTexture.get());
    QVERIFY(got.drawn);

    // What the row is known to show, worked out from whole texels without the formula.
    const double tf = block.transparent_from, tt = block.transparent_to;
    auto shown = [&](int x, int y) -> Rgba {
        if (check == ShowsFrom)
            return from.texel(x, y).alphaTimes(tf);
        if (check == ShowsTo)
            return to.texel(x, y).alphaTimes(tt);
        // The left half shows the right half of the new picture, the right half the left of the old.
        if (check == MovedHalves)
            return x < w / 2 ? to.texel(x + w / 2, y).alphaTimes(tt)
                             : from.texel(x - w / 2, y).alphaTimes(tf);
        return check == OpaqueBlack ? Rgba{0, 0, 0, 1} : Rgba{1, 1, 1, 1};
    };
    auto expected = [&](double u, double v) { return transition(program, u, v, block, from, to); };
    QString difference = compare(got, expected, check == NoCheck ? Oracle() : Oracle(shown));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestShaders::colourAdjustments_data() {
    QTest::addColumn<Adjustment>("adjustment");
    // Temperature, hue, brightness, contrast, saturation, highlight, transparent.
    const std::pair<const char*, Adjustment> rows[] = {
        {"identity", {}},
        {"warmer", {0.5f}},
        {"cooler", {-0.5f}},
        {"hue", {0, 0.25f}},
        {"brightness", {0, 0, 0.2f}},
        {"contrast", {0, 0, 0, 0.5f}},
        {"grey", {0, 0, 0, 0, -1}},
        {"saturated", {0, 0, 0, 0, 0.5f}},
        {"highlight", {0, 0, 0, 0, 0, 0.3f}},
        {"see-through", {0, 0, 0, 0, 0, 0, 0.5f}},
        {"everything", {-0.3f, -0.4f, -0.1f, 0.3f, 0.4f, 0.1f, 0.7f}},
    };
    for (const auto& [name, adjustment] : rows)
        QTest::newRow(name) << adjustment;
}

void TestShaders::colourAdjustments() {
    QFETCH(Adjustment, adjustment);
    const int w = 64, h = 36;
    const Picture picture(w, h, Picture::Colourful);
    auto texture = picture.texture();
    Frame got = drawProgram("rgba_base", adjustment.block(), w, h, texture.get());
    QVERIFY(got.drawn);
    auto expected = [&](double u, double v) { return colour(picture.sample(u, v), adjustment); };
    Oracle unchanged;
    if (QByteArray(QTest::currentDataTag()) == "identity")
        unchanged = [&](int x, int y) { return picture.texel(x, y); };
    QString difference = compare(got, expected, unchanged);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// Hue turns colours around the grey axis: a grey stays the same grey, and
// a colour keeps its luminance, at any setting.
void TestShaders::hueKeepsGreysAndLuminance() {
    for (float hue : {-1.0f, -0.5f, 0.3f, 0.6f, 1.0f}) {
        ColourControls controls;
        controls.hue = hue;
        const ColourBlock block = colourBlock(controls, 1.0f);
        auto turned = [&](const std::array<double, 3>& in) {
            std::array<double, 3> out {};
            for (int row = 0; row < 3; ++row)
                for (int column = 0; column < 3; ++column)
                    out[row] += block.transform[column * 4 + row] * in[column];
            for (double& v : out)
                v += block.offset;
            return out;
        };
        const std::array<double, 3> grey = turned({0.5, 0.5, 0.5});
        for (double v : grey)
            QVERIFY2(std::abs(v - 0.5) < 0.005, qPrintable(QString("hue %1: grey becomes %2").arg(hue).arg(v)));
        const auto luma = [](const std::array<double, 3>& c) { return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]; };
        const std::array<double, 3> blue {0.19, 0.31, 0.75};
        QVERIFY2(std::abs(luma(turned(blue)) - luma(blue)) < 0.01, qPrintable(QString("hue %1").arg(hue)));
    }
}

void TestShaders::subtitleAppliesItsTransparency() {
    const int w = 64, h = 36;
    const Picture picture(w, h, Picture::Colourful);
    auto texture = picture.texture();
    for (float transparent : {1.0f, 0.5f, 0.0f}) {
        AlphaBlock block;
        block.transparent = transparent;
        Frame got = drawProgram("rgba_subtitle", block, w, h, texture.get());
        QVERIFY(got.drawn);
        auto expected = [&](double u, double v) { return picture.sample(u, v).alphaTimes(transparent); };
        QString difference =
            compare(got, expected, [&](int x, int y) { return picture.texel(x, y).alphaTimes(transparent); });
        QVERIFY2(difference.isEmpty(),
                 qPrintable(QString("transparent %1: %2").arg(transparent).arg(difference)));
    }
}

// A decoded picture with hard colour edges in both directions (bars a few
// chroma samples wide, as in test cards and titles), where any difference in
// how chroma is placed or filtered shows at once.
std::shared_ptr<ff::VFrameCtx> barsPicture(AVPixelFormat format, int w, int h) {
    const bool nv12 = format == AV_PIX_FMT_NV12, words = format == AV_PIX_FMT_YUV420P10LE;
    const int shiftY = format == AV_PIX_FMT_YUV422P ? 0 : 1, cw = w / 2, ch = h >> shiftY;
    const int bytes = words ? 2 : 1, scale = words ? 4 : 1;
    auto f = std::make_shared<ff::VFrameCtx>();
    f->width = w;
    f->height = h;
    f->planes = nv12 ? 2 : 3;
    f->bits = words ? 10 : 8;
    f->chromaShiftX = 1;
    f->chromaShiftY = shiftY;
    f->pixelFormat = format;
    f->matrix = AVCOL_SPC_BT709;
    f->planeStride[0] = w * bytes;
    f->planeStride[1] = f->planeStride[2] = nv12 ? cw * 2 : cw * bytes;
    f->planeOffset[1] = size_t(w) * h * bytes;
    f->planeOffset[2] = f->planeOffset[1] + size_t(f->planeStride[1]) * ch;
    f->pixels.resize(f->planeOffset[2] + (nv12 ? 0 : size_t(f->planeStride[2]) * ch));
    f->stride = f->planeStride[0];
    auto put = [&](int plane, int x, int y, int value) {
        uint8_t* at =
            f->pixels.data() + f->planeOffset[plane] + size_t(y) * f->planeStride[plane] + size_t(x) * bytes;
        value *= scale;
        at[0] = uint8_t(value & 0xff);
        if (words)
            at[1] = uint8_t(value >> 8);
    };
    // Colours inside what RGB can show, so that neither conversion clips,
    // as BT.709 limited-range YUV; luma carries a ripple of its own.
    const double colours[5][3] = {
        {190, 40, 40}, {40, 170, 60}, {50, 60, 200}, {210, 200, 50}, {120, 120, 120}};
    int yy[5], uu[5], vv[5];
    for (int i = 0; i < 5; ++i) {
        const double r = colours[i][0], g = colours[i][1], b = colours[i][2];
        const double l = 0.2126 * r + 0.7152 * g + 0.0722 * b;
        yy[i] = int(std::lround(16 + l * 219 / 255));
        uu[i] = int(std::lround(128 + (b - l) / 1.8556 * 224 / 255));
        vv[i] = int(std::lround(128 + (r - l) / 1.5748 * 224 / 255));
    }
    auto bar = [](int cx, int cy) { return (cx / 3 + cy / 4) % 5; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            put(0, x, y, yy[bar(x / 2, y >> shiftY)] + (x + y) % 3 * 4 - 4);
    for (int y = 0; y < ch; ++y) {
        for (int x = 0; x < cw; ++x) {
            const int i = bar(x, y);
            if (nv12) {
                put(1, x * 2, y, uu[i]);
                put(1, x * 2 + 1, y, vv[i]);
            } else {
                put(1, x, y, uu[i]);
                put(2, x, y, vv[i]);
            }
        }
    }
    return f;
}

void TestShaders::yuvPlanesShowAsTheCpuConvertsThem_data() {
    QTest::addColumn<int>("format");
    QTest::newRow("4:2:0") << int(AV_PIX_FMT_YUV420P);
    QTest::newRow("4:2:0 interleaved chroma") << int(AV_PIX_FMT_NV12);
    QTest::newRow("4:2:0 10 bits") << int(AV_PIX_FMT_YUV420P10LE);
    QTest::newRow("4:2:2") << int(AV_PIX_FMT_YUV422P);
}

// The preview turns decoded planes into RGB on the GPU where it can and on
// the CPU where it cannot; a picture must look the same either way. The
// part drawn starts at an odd pixel, as a cropped clip's does.
void TestShaders::yuvPlanesShowAsTheCpuConvertsThem() {
    QFETCH(int, format);
    const int w = 96, h = 48, left = 5, top = 3, pw = 80, ph = 40;
    const std::shared_ptr<ff::VFrameCtx> frame = barsPicture(AVPixelFormat(format), w, h);
    const ff::VFramePtr cpu = ff::rgbaFrame(frame);
    QVERIFY(cpu);

    GsPlanes planes;
    planes.count = frame->planes;
    for (int i = 0; i < frame->planes; ++i) {
        planes.data[i] = frame->plane(i);
        planes.stride[i] = frame->planeStride[i];
    }
    planes.width = w;
    planes.height = h;
    planes.chromaShiftX = frame->chromaShiftX;
    planes.chromaShiftY = frame->chromaShiftY;
    planes.bits = frame->bits;
    planes.kr = 0.2126f;
    planes.kb = 0.0722f;
    std::unique_ptr<GsTexture> texture;
    {
        GsDeviceScope scope;
        QVERIFY(scope.ok());
        QVERIFY(GsPlaneConverter::ForDevice()->Convert(planes, left, top, pw, ph, texture));
    }
    AlphaBlock opaque;
    const Frame gpu = drawProgram("rgba", opaque, pw, ph, texture.get());
    QVERIFY(gpu.drawn);
    QCOMPARE(gpu.w, pw);

    double squares = 0;
    int worst = 0;
    for (int y = 0; y < ph; ++y) {
        for (int x = 0; x < pw; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int d =
                    int(gpu.bytes[(size_t(y) * pw + x) * 4 + c]) - int(cpu->row(y + top)[(x + left) * 4 + c]);
                squares += double(d) * d;
                worst = std::max(worst, std::abs(d));
            }
        }
    }
    const double psnr = 10 * std::log10(255.0 * 255.0 / std::max(squares / (pw * ph * 3), 1e-9));
    qInfo("GPU against CPU: %.1f dB, worst %d levels", psnr, worst);
    // The CPU filters chroma with a cubic and the GPU linearly, which on
    // edges this dense leaves 28 dB (4:2:0) to 32 dB (4:2:2); chroma placed
    // a quarter sample off falls to 23 dB.
    QVERIFY2(psnr >= 26.0, qPrintable(QString::number(psnr)));
}

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestShaders");
    korvel::test::requireDisplay();
    QGuiApplication app(argc, argv);
    TestShaders tc;
    int status = QTest::qExec(&tc, argc, argv);
    GsDevice::DestroyDefaultDevice();
    return status;
}

#include "tst_shaders.moc"
