// Inside the graphics engine: the context, programs and the device's lists.
#pragma once

#include "graphics.h"

#include <QOpenGLFunctions_3_3_Core>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLDebugLogger;
class QThread;

namespace gs {

class DeviceImpl {
public:
    struct Program {
        GLuint id = 0;
        GLint mvp = -1;
    };
    // A framebuffer being drawn: items think in logical pixels (the scene's
    // size), the framebuffer may be larger or smaller. The logical picture
    // fills the area, the whole framebuffer unless given.
    struct Target {
        GLuint fbo;
        int logicalW, logicalH, physicalW, physicalH;
        bool flip;
        int areaX, areaY, areaW, areaH;
        bool wholeArea() const { return areaX == 0 && areaY == 0 && areaW == physicalW && areaH == physicalH; }
    };

    bool makeCurrent();
    void doneCurrent();
    // Sends the driver's messages about this context to the log (context current).
    void startDebugOutput();
    GLuint compile(GLenum type, const std::string& source, const std::string& name);
    bool addProgram(const std::string& name, const std::string& vertex, const std::string& pixel);
    const Program* program(const std::string& name);
    void pushTarget(GLuint fbo, int logicalW, int logicalH, int physicalW, int physicalH, bool flip);
    // The same, with the logical picture drawn into `area` of the framebuffer only.
    void pushTarget(GLuint fbo, int logicalW, int logicalH, int physicalW, int physicalH, bool flip,
                    const GsPixelRect& area);
    void popTarget();
    void setViewport(int x, int y, int w, int h);
    void drawQuad(const gs_transform& t, const gs_vec2& canvas);
    // Copies the texture onto the whole current target, which must be an
    // off-screen one of the texture's pixel size; false (nothing done) when
    // it is not. Software renderers copy memory where a draw would shade
    // every pixel.
    bool copyToTarget(const GsTexture& texture);
    GLuint copyFbo = 0; // reads the texture being copied

    // While `trackDrawn` is set, every quad drawn and every copy widens
    // `drawn` (window coordinates of the bound target, x0/y0 inclusive,
    // x1/y1 exclusive; empty while x1 <= x0) to the pixels it may touch.
    bool trackDrawn = false;
    struct Bounds {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    } drawn;
    void addDrawn(int x0, int y0, int x1, int y1);

    // Textures bound to units 0..3 by GsTextureBinder (0 x 0 when none).
    int boundWidth[4] = {0, 0, 0, 0};
    int boundHeight[4] = {0, 0, 0, 0};
    // Picks the sampling for the next quad: texel-exact draws sample the
    // nearest texel, which gives the same picture at half the cost on
    // software renderers; everything else filters linearly.
    void chooseSampling(const gs_transform& t, const gs_vec2& canvas);
    GLuint nearestSampler = 0, linearSampler = 0;

    QOffscreenSurface* surface = nullptr;
    QOpenGLContext* context = nullptr;
    QOpenGLFunctions_3_3_Core* gl = nullptr;
    QOpenGLDebugLogger* debugLogger = nullptr; // debug contexts only
    bool headless = false;                      // the context is EGL's, adopted
    std::string renderer;
    bool coloursOnCpu = false; // see GsDevice::ConvertsColourOnCpu
    GLuint vao = 0, vbo = 0;

    // Held by whoever uses the context; the context is current on that thread.
    std::recursive_mutex mutex;
    int depth = 0;
    QThread* currentThread = nullptr;

    std::mutex programsMutex; // guards programs (entries are never removed while running)
    std::map<std::string, Program> programs;
    const Program* currentProgram = nullptr;
    std::vector<Target> targets;

    // Turns decoded YUV planes into RGB; made on first use, freed first.
    std::unique_ptr<GsPlaneConverter> planeConverter;

    std::mutex listsMutex; // guards filters, views, outputs
    std::vector<GsFilter*> filters;
    std::vector<GsViewImpl*> views;
    std::vector<GsOutputRaw*> outputs;
};

// The default device's inside; null before CreateDefaultDevice.
DeviceImpl* impl();

// Makes an RGBA texture target with its framebuffer; false on failure.
bool makeTarget(int width, int height, std::unique_ptr<GsTexture>* texture, GLuint* fbo);

} // namespace gs
