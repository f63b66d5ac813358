#include "render/shader-library.h"

#include "graphics/graphics.h"
#include "value/interface.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cmath>

ColourBlock colourBlock(const ColourControls& c, float transparent) {
    using Matrix = std::array<std::array<double, 3>, 3>;
    auto times = [](const Matrix& a, const Matrix& b) {
        Matrix m {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    m[i][j] += a[i][k] * b[k][j];
        return m;
    };
    // Temperature scales the channels: cooler towards blue, warmer towards red.
    const double t = c.temperature, warmth = std::clamp(t + 1.0, 0.0, 1.0);
    const double cool[3] = {1.0 - std::abs(t) * 0.5, 1.0, 1.0 + std::abs(t) * 0.7};
    const double warm[3] = {1.0 + t * 0.8, 1.0, 1.0 - t * 0.4};
    Matrix m {};
    for (int i = 0; i < 3; ++i)
        m[i][i] = cool[i] * (1.0 - warmth) + warm[i] * warmth;
    // Hue turns the colour around the grey axis, keeping its luminance.
    const double a = c.hue * 3.1415926, co = std::cos(a), si = std::sin(a);
    // Each row gives one output channel and sums to 1, so greys stay grey.
    const Matrix hue = {{{0.299 + 0.701 * co + 0.168 * si, 0.587 - 0.587 * co + 0.330 * si,
                          0.114 - 0.114 * co - 0.497 * si},
                         {0.299 - 0.299 * co - 0.328 * si, 0.587 + 0.413 * co + 0.035 * si,
                          0.114 - 0.114 * co + 0.292 * si},
                         {0.299 - 0.300 * co + 1.250 * si, 0.587 - 0.588 * co - 1.050 * si,
                          0.114 + 0.886 * co - 0.203 * si}}};
    m = times(hue, m);
    // Saturation moves each channel towards or away from the luminance.
    const double saturation = c.saturation + 1.0, luma[3] = {0.2126, 0.7152, 0.0722};
    Matrix saturate {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            saturate[i][j] = (i == j ? saturation : 0.0) + (1.0 - saturation) * luma[j];
    // Contrast stretches around mid grey after brightness is added; grey
    // stays grey under saturation, so the constant part is one number.
    const double contrast = c.contrast + 1.0;
    m = times(saturate, m);
    ColourBlock block;
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row)
            block.transform[column * 4 + row] = float(contrast * m[row][column]);
    block.offset = float(contrast * (c.brightness - 0.5) + 0.5 + c.highlight);
    block.transparent = transparent;
    return block;
}

const std::vector<std::string>& ShaderNames() {
    static const std::vector<std::string> names = {
        "clip_banding", "clip_box",       "clip_circle", "clip_cross",    "clip_herase", "clip_open",
        "clip_radial",  "clip_winshades", "over_black",  "over_cross",    "over_white",  "scale_boxes",
        "scale_in",     "trans_move",     "rgba_base",   "rgba_subtitle", "rgba_from_yuv", "rgba_to_yuv420",
    };
    return names;
}

std::string ReadShaderResource(const std::string& file) {
    QFile f(QStringLiteral(":/shaders/") + QString::fromStdString(file));
    if (!f.open(QIODevice::ReadOnly))
        return std::string();
    return f.readAll().toStdString();
}

int RegisterShaders(GsDevice* device, const ShaderSourceReader& read) {
    if (!device || !read)
        return 0;
    const std::string vertex = read("vertex.glsl");
    // Transition programs hold only their main(); the rest they share.
    const std::string transitionCommon = read("transition-common.glsl");
    int registered = 0;
    for (const std::string& name : ShaderNames()) {
        std::string pixel = read(name + ".glsl");
        bool transition = name.compare(0, 5, "rgba_") != 0;
        if (transition && !pixel.empty())
            pixel = transitionCommon.empty() ? std::string() : transitionCommon + pixel;
        if (!vertex.empty() && !pixel.empty() && device->AddShader(name, vertex, pixel))
            ++registered;
        else
            LOGD("build shader [%s] failed!", name.c_str());
    }
    return registered;
}
