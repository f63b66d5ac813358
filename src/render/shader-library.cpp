#include "render/shader-library.h"

#include "graphics/graphics.h"
#include "value/interface.h"

#include <QFile>

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
