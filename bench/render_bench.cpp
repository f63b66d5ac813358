// Engine frame cycles per second: a 1920 x 1080 scene with two video layers,
// one running transition and one subtitle, new pictures uploaded every
// cycle and every frame read back, as an export drives it.
//
//   render_bench [cycles]
#include "render/preview-item.h"
#include "render/shader-library.h"

#include <QGuiApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class Sink : public GsOutputRaw {
public:
    using GsOutputRaw::GsOutputRaw;
    void OnFrame(int, int, const uint8_t* pixels, int, int64_t) override { checksum += pixels[0]; ++frames; }
    int frames = 0;
    unsigned checksum = 0;
};

// Two decoded pictures that alternate, so every cycle uploads a new one.
ff::VFramePtr picture(int shade) {
    auto f = std::make_shared<ff::VFrameCtx>();
    f->width = 1920;
    f->height = 1080;
    f->stride = 1920 * 4;
    f->opaque = true; // as decoded video is
    f->pixels.assign(size_t(f->stride) * f->height, uint8_t(shade));
    return f;
}

VFrameInfo layer(ff::VFramePtr frame, float x, float w, float h, float brightness = 0.0f) {
    VFrameInfo l;
    l.frame = std::move(frame);
    l.centerX = x;
    l.width = w;
    l.height = h;
    l.colour.brightness = brightness;
    return l;
}

} // namespace

int main(int argc, char** argv) {
    int cycles = argc > 1 ? std::atoi(argv[1]) : 200;
    // "all": a transition that lets the layer below show through, so every layer is drawn.
    bool drawAll = argc > 2 && std::string(argv[2]) == "all";
    QGuiApplication app(argc, argv);
    if (!GsDevice::CreateDefaultDevice(false) || RegisterShaders(GsDevice::DefaultDevice()) != 18) {
        std::fprintf(stderr, "no graphics device or programs\n");
        return 1;
    }
    std::printf("renderer: %s\n", GsDevice::DefaultDevice()->Renderer().c_str());
    ff::VFramePtr frames[2] = {picture(60), picture(180)};

    GsScene* scene = new GsScene(1920, 1080);
    auto* a = new VideoPreviewItem({1920, 1080});
    auto* b = new VideoPreviewItem({1920, 1080});
    auto* subtitle = new SubtitlePreviewItem({800, 120});
    for (GsItem* item : {static_cast<GsItem*>(a), static_cast<GsItem*>(b), static_cast<GsItem*>(subtitle)})
        scene->AddItem(item);
    scene->AddItem(a->companion());
    a->beginExport();
    b->beginExport();
    SubtitleRequest text;
    text.text = "Korvel benchmark\nsecond line";
    text.backgroundAlpha = 128;
    subtitle->request(text);
    subtitle->setVisible(true);
    subtitle->MoveTo(0, 400);

    Sink* sink = new Sink(scene, 1920, 1080, GsOutputRaw::GsFormatRGBA);
    sink->Start();
    auto start = std::chrono::steady_clock::now();
    double tick = 0, filter = 0, output = 0;
    for (int i = 0; i < cycles; ++i) {
        RenderProps one, two;
        // The first track is inside its transition: the companion draws it.
        one.contentMask = ContentTransition;
        one.program = "clip_circle";
        one.progress = double(i % 60) / 60.0;
        one.from = layer(frames[i % 2], 0, 1920, 1080);
        one.to = layer(frames[(i + 1) % 2], 0, 1920, 1080);
        if (drawAll)
            one.from.transparent = 0.99f;
        a->applyRenderProps(one);
        two.contentMask = ContentSelf;
        two.self = layer(frames[(i + 1) % 2], 0, 1920, 1080, 0.1f);
        b->applyRenderProps(two);
        auto t0 = std::chrono::steady_clock::now();
        TickSource();
        auto t1 = std::chrono::steady_clock::now();
        HandleFilter();
        auto t2 = std::chrono::steady_clock::now();
        OutputFrame(int64_t(i) * 33333333, 1);
        auto t3 = std::chrono::steady_clock::now();
        tick += std::chrono::duration<double>(t1 - t0).count();
        filter += std::chrono::duration<double>(t2 - t1).count();
        output += std::chrono::duration<double>(t3 - t2).count();
    }
    sink->Stop();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("per cycle: update and upload %.1f ms, filters %.1f ms, draw and read-back %.1f ms\n",
                tick * 1000 / cycles, filter * 1000 / cycles, output * 1000 / cycles);
    std::printf("frame cycles%s: %.1f per second over %d cycles (%d frames read back), target >= 40\n",
                drawAll ? " (every layer drawn)" : "", cycles / seconds, cycles, sink->frames);
    a->endExport();
    b->endExport();
    sink->Release();
    for (GsItem* item : {static_cast<GsItem*>(a), static_cast<GsItem*>(b), static_cast<GsItem*>(subtitle),
                         static_cast<GsItem*>(a->companion())})
        scene->RemoveItem(item);
    a->Release();
    b->Release();
    subtitle->Release();
    scene->Release();
    GsDevice::DestroyDefaultDevice();
    return 0;
}
