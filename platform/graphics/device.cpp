#include "device-impl.h"
#include "headless.h"

#include "value/interface.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLDebugLogger>
#include <QSurfaceFormat>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace gs {

GsDevice* g_device = nullptr;

namespace plain {

// The engine's own program: a texture as it is.
const char kPlainVertex[] = R"(#version 330 core
uniform mat4 mvp;
layout(location = 0) in vec3 a_pos;
layout(location = 1) in vec2 a_tex_coord;
out vec2 v_tex_coord;
void main() {
    gl_Position = mvp * vec4(a_pos, 1.0);
    v_tex_coord = a_tex_coord;
}
)";
const char kPlainPixel[] = R"(#version 330 core
uniform sampler2D texture_from;
in vec2 v_tex_coord;
out vec4 frag_color;
void main() { frag_color = texture(texture_from, v_tex_coord); }
)";

} // namespace plain

namespace {
// Measured on llvmpipe: a 1080p export with both conversions on the CPU
// takes about 60 % of the time it takes with them in shaders.
bool coloursOnCpu(const std::string& renderer) {
    const QByteArray asked = qgetenv("KORVEL_COLOUR_CONVERSION").trimmed().toLower();
    if (asked == "gpu" || asked == "cpu")
        return asked == "cpu";
    if (!asked.isEmpty())
        LOGW("graphics: KORVEL_COLOUR_CONVERSION=%s is neither gpu nor cpu; chosen by the renderer", asked.constData());
    const QString name = QString::fromStdString(renderer).toLower();
    return name.contains("llvmpipe") || name.contains("softpipe") || name.contains("swrast") ||
           name.contains("software rasterizer");
}
} // namespace

GLuint DeviceImpl::compile(GLenum type, const std::string& source, const std::string& name) {
    GLuint shader = gl->glCreateShader(type);
    const char* text = source.c_str();
    gl->glShaderSource(shader, 1, &text, nullptr);
    gl->glCompileShader(shader);
    GLint ok = 0;
    gl->glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048] = {0};
        gl->glGetShaderInfoLog(shader, sizeof log - 1, nullptr, log);
        LOGE("program %s: %s shader does not compile: %s", name.c_str(),
             type == GL_VERTEX_SHADER ? "vertex" : "pixel", log);
        gl->glDeleteShader(shader);
        return 0;
    }
    return shader;
}

bool DeviceImpl::addProgram(const std::string& name, const std::string& vertex, const std::string& pixel) {
    GLuint vs = compile(GL_VERTEX_SHADER, vertex, name);
    GLuint ps = vs ? compile(GL_FRAGMENT_SHADER, pixel, name) : 0;
    if (!vs || !ps) {
        if (vs)
            gl->glDeleteShader(vs);
        return false;
    }
    GLuint program = gl->glCreateProgram();
    gl->glAttachShader(program, vs);
    gl->glAttachShader(program, ps);
    gl->glBindAttribLocation(program, 0, "a_pos");
    gl->glBindAttribLocation(program, 1, "a_tex_coord");
    gl->glLinkProgram(program);
    gl->glDeleteShader(vs);
    gl->glDeleteShader(ps);
    GLint ok = 0;
    gl->glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = {0};
        gl->glGetProgramInfoLog(program, sizeof log - 1, nullptr, log);
        LOGE("program %s does not link: %s", name.c_str(), log);
        gl->glDeleteProgram(program);
        return false;
    }
    Program p;
    p.id = program;
    p.mvp = gl->glGetUniformLocation(program, "mvp");
    // The pixel program's one constant block reads binding 0; the textures
    // sit on units 0 and 1.
    GLint blocks = 0;
    gl->glGetProgramiv(program, GL_ACTIVE_UNIFORM_BLOCKS, &blocks);
    for (GLint i = 0; i < blocks; ++i)
        gl->glUniformBlockBinding(program, GLuint(i), 0);
    gl->glUseProgram(program);
    GLint from = gl->glGetUniformLocation(program, "texture_from");
    GLint to = gl->glGetUniformLocation(program, "texture_to");
    if (from >= 0)
        gl->glUniform1i(from, 0);
    if (to >= 0)
        gl->glUniform1i(to, 1);
    gl->glUseProgram(0);
    std::lock_guard<std::mutex> lock(programsMutex);
    auto old = programs.find(name);
    if (old != programs.end())
        gl->glDeleteProgram(old->second.id);
    programs[name] = p;
    return true;
}

const DeviceImpl::Program* DeviceImpl::program(const std::string& name) {
    std::lock_guard<std::mutex> lock(programsMutex);
    auto it = programs.find(name);
    return it == programs.end() ? nullptr : &it->second;
}

bool DeviceImpl::makeCurrent() {
    if (QOpenGLContext::currentContext() == context && QThread::currentThread() == currentThread)
        return true;
    if (!context->makeCurrent(surface)) {
        LOGE("the graphics context cannot be made current");
        return false;
    }
    currentThread = QThread::currentThread();
    return true;
}

void DeviceImpl::startDebugOutput() {
    // Needs the context current; the messages come on whichever thread draws.
    debugLogger = new QOpenGLDebugLogger;
    if (!debugLogger->initialize()) {
        LOGW("graphics: the OpenGL driver gives no debug output; GL errors go unreported");
        delete debugLogger;
        debugLogger = nullptr;
        return;
    }
    // Notifications (buffer placements, shader statistics) are no news, and
    // compile() and addProgram() log the compiler's own words.
    debugLogger->disableMessages(QOpenGLDebugMessage::AnySource, QOpenGLDebugMessage::AnyType,
                                 QOpenGLDebugMessage::NotificationSeverity);
    debugLogger->disableMessages(QOpenGLDebugMessage::ShaderCompilerSource);
    QObject::connect(
        debugLogger, &QOpenGLDebugLogger::messageLogged, debugLogger,
        [](const QOpenGLDebugMessage& message) {
            const QByteArray text = message.message().toUtf8();
            if (message.type() == QOpenGLDebugMessage::ErrorType)
                LOGE("graphics: OpenGL error %u: %s", message.id(), text.constData());
            else if (message.severity() == QOpenGLDebugMessage::LowSeverity)
                LOGD("graphics: OpenGL says %u: %s", message.id(), text.constData());
            else
                LOGW("graphics: OpenGL warns %u: %s", message.id(), text.constData());
        },
        Qt::DirectConnection);
    debugLogger->startLogging(QOpenGLDebugLogger::SynchronousLogging);
}

void DeviceImpl::doneCurrent() {
    context->doneCurrent();
    currentThread = nullptr;
}

void DeviceImpl::pushTarget(GLuint fbo, int logicalW, int logicalH, int physicalW, int physicalH, bool flip) {
    pushTarget(fbo, logicalW, logicalH, physicalW, physicalH, flip, GsPixelRect{0, 0, physicalW, physicalH});
}

void DeviceImpl::pushTarget(GLuint fbo, int logicalW, int logicalH, int physicalW, int physicalH, bool flip,
                            const GsPixelRect& area) {
    targets.push_back({fbo, logicalW, logicalH, physicalW, physicalH, flip, area.x, area.y, area.width, area.height});
    gl->glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    gl->glViewport(area.x, area.y, area.width, area.height);
}

void DeviceImpl::popTarget() {
    if (!targets.empty())
        targets.pop_back();
    if (targets.empty()) {
        gl->glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return;
    }
    const Target& t = targets.back();
    gl->glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
    gl->glViewport(t.areaX, t.areaY, t.areaW, t.areaH);
}

void DeviceImpl::drawQuad(const gs_transform& t, const gs_vec2& canvas) {
    const Program* p = currentProgram;
    if (!p || canvas.x <= 0 || canvas.y <= 0)
        return;
    if (!std::isfinite(t.x) || !std::isfinite(t.y) || !std::isfinite(t.w) || !std::isfinite(t.h) ||
        !std::isfinite(t.rotation))
        return;
    // Unit quad -> size -> rotation -> centre, in canvas pixels (y down), then
    // to clip space. Off-screen targets are drawn upside down, so that every
    // texture, uploaded or rendered, keeps its top row at v = 0.
    bool flip = !targets.empty() && targets.back().flip;
    float c = std::cos(t.rotation), s = std::sin(t.rotation);
    float sx = 2.0f / canvas.x, sy = (flip ? 2.0f : -2.0f) / canvas.y;
    // Column-major 4x4: clip = S * (T * R * Scale) * vertex.
    float m[16] = {
        sx * c * t.w, sy * s * t.w, 0, 0,   // column 0
        -sx * s * t.h, sy * c * t.h, 0, 0,  // column 1
        0, 0, 1, 0,                         // column 2
        sx * t.x, sy * t.y, 0, 1,           // column 3
    };
    if (p->mvp >= 0)
        gl->glUniformMatrix4fv(p->mvp, 1, GL_FALSE, m);
    if (trackDrawn) {
        // The quad's corners lie within these half extents of its centre
        // (canvas pixels), mapped through the viewport like the vertices.
        const float halfW = (std::abs(c) * t.w + std::abs(s) * t.h) / 2.0f;
        const float halfH = (std::abs(s) * t.w + std::abs(c) * t.h) / 2.0f;
        GLint viewport[4] = {0, 0, 0, 0};
        gl->glGetIntegerv(GL_VIEWPORT, viewport);
        auto toWindow = [](float clip, GLint origin, GLint size) { return (clip + 1.0f) / 2.0f * size + origin; };
        // Held to just beyond the viewport, so that a huge quad still
        // converts to int.
        auto clampTo = [](float v, GLint origin, GLint size) {
            return std::clamp(v, float(origin) - 2.0f, float(origin + size) + 2.0f);
        };
        const float xa = clampTo(toWindow(sx * (t.x - halfW), viewport[0], viewport[2]), viewport[0], viewport[2]);
        const float xb = clampTo(toWindow(sx * (t.x + halfW), viewport[0], viewport[2]), viewport[0], viewport[2]);
        const float ya = clampTo(toWindow(sy * (t.y - halfH), viewport[1], viewport[3]), viewport[1], viewport[3]);
        const float yb = clampTo(toWindow(sy * (t.y + halfH), viewport[1], viewport[3]), viewport[1], viewport[3]);
        // One pixel more on each side for filtering at the edges.
        addDrawn(int(std::floor(std::min(xa, xb))) - 1, int(std::floor(std::min(ya, yb))) - 1,
                 int(std::ceil(std::max(xa, xb))) + 1, int(std::ceil(std::max(ya, yb))) + 1);
    }
    chooseSampling(t, canvas);
    gl->glBindVertexArray(vao);
    gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    gl->glBindVertexArray(0);
}

bool DeviceImpl::copyToTarget(const GsTexture& texture) {
    if (targets.empty() || !texture.valid())
        return false;
    // Off-screen targets hold the top row first, as textures do; the window's
    // own framebuffer does not and is drawn into instead.
    const Target& t = targets.back();
    if (!t.flip || t.fbo == 0 || !t.wholeArea() || t.physicalW != texture.width() ||
        t.physicalH != texture.height())
        return false;
    if (!copyFbo)
        gl->glGenFramebuffers(1, &copyFbo);
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, copyFbo);
    gl->glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture.id(), 0);
    const bool complete = gl->glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        gl->glBlitFramebuffer(0, 0, t.physicalW, t.physicalH, 0, 0, t.physicalW, t.physicalH, GL_COLOR_BUFFER_BIT,
                              GL_NEAREST);
        if (trackDrawn)
            addDrawn(0, 0, t.physicalW, t.physicalH);
    }
    gl->glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
    return complete;
}

void DeviceImpl::addDrawn(int x0, int y0, int x1, int y1) {
    if (!targets.empty()) {
        // Nothing outside the target's area is drawn.
        const Target& t = targets.back();
        x0 = std::max(x0, t.areaX);
        y0 = std::max(y0, t.areaY);
        x1 = std::min(x1, t.areaX + t.areaW);
        y1 = std::min(y1, t.areaY + t.areaH);
    }
    if (x1 <= x0 || y1 <= y0)
        return;
    if (drawn.x1 <= drawn.x0) {
        drawn = {x0, y0, x1, y1};
        return;
    }
    drawn = {std::min(drawn.x0, x0), std::min(drawn.y0, y0), std::max(drawn.x1, x1), std::max(drawn.y1, y1)};
}

void DeviceImpl::chooseSampling(const gs_transform& t, const gs_vec2& canvas) {
    double kx = 1.0, ky = 1.0;
    if (!targets.empty()) {
        const Target& target = targets.back();
        kx = target.logicalW > 0 ? double(target.areaW) / target.logicalW : 1.0;
        ky = target.logicalH > 0 ? double(target.areaH) / target.logicalH : 1.0;
    }
    auto whole = [](double v) { return std::abs(v - std::round(v)) < 1e-3; };
    double w = t.w * kx, h = t.h * ky;
    double left = (t.x - t.w / 2.0 + canvas.x / 2.0) * kx, top = (t.y - t.h / 2.0 + canvas.y / 2.0) * ky;
    bool exact = t.rotation == 0.0f && whole(left) && whole(top);
    for (int unit = 0; unit < 4 && exact; ++unit) {
        if (boundWidth[unit] == 0)
            continue;
        exact = std::abs(w - boundWidth[unit]) < 1e-3 && std::abs(h - boundHeight[unit]) < 1e-3;
    }
    GLuint sampler = exact ? nearestSampler : linearSampler;
    for (int unit = 0; unit < 4; ++unit)
        gl->glBindSampler(GLuint(unit), boundWidth[unit] ? sampler : 0);
}

void DeviceImpl::setViewport(int x, int y, int w, int h) {
    if (targets.empty()) {
        gl->glViewport(x, y, w, h);
        return;
    }
    const Target& t = targets.back();
    double kx = t.logicalW > 0 ? double(t.areaW) / t.logicalW : 1.0;
    double ky = t.logicalH > 0 ? double(t.areaH) / t.logicalH : 1.0;
    gl->glViewport(t.areaX + int(std::lround(x * kx)), t.areaY + int(std::lround(y * ky)), int(std::lround(w * kx)),
                   int(std::lround(h * ky)));
}

} // namespace gs

using gs::DeviceImpl;
using gs::g_device;
using gs::plain::kPlainVertex;
using gs::plain::kPlainPixel;

GsDevice::GsDevice() : m_impl(std::make_unique<DeviceImpl>()) {}

GsDevice::~GsDevice() {
    DeviceImpl* d = m_impl.get();
    d->planeConverter.reset(); // takes the device itself to free its textures
    // A device whose set-up failed half-way has no functions to free with.
    if (d->context && d->gl && d->makeCurrent()) {
        for (auto& [name, p] : d->programs)
            d->gl->glDeleteProgram(p.id);
        if (d->vbo)
            d->gl->glDeleteBuffers(1, &d->vbo);
        if (d->vao)
            d->gl->glDeleteVertexArrays(1, &d->vao);
        d->gl->glDeleteSamplers(1, &d->nearestSampler);
        d->gl->glDeleteSamplers(1, &d->linearSampler);
        if (d->copyFbo)
            d->gl->glDeleteFramebuffers(1, &d->copyFbo);
        delete d->debugLogger;
        d->debugLogger = nullptr;
        d->doneCurrent();
    }
    delete d->debugLogger; // a context that cannot be made current leaves it to be freed here
    delete d->context;
    delete d->surface;
    if (d->headless)
        gs::releaseHeadlessContext();
}

bool GsDevice::CreateDefaultDevice(bool debug) {
    if (g_device)
        return true;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        LOGE("graphics: no GUI application, no device");
        return false;
    }
#ifndef NDEBUG
    // Debug builds report every GL error through the driver's debug output.
    debug = true;
#endif
    QSurfaceFormat format = SurfaceFormat();
    if (debug)
        format.setOption(QSurfaceFormat::DebugContext);
    // The frame cycle moves between the render and export threads.
    QCoreApplication::setAttribute(Qt::AA_DontCheckOpenGLContextThreadAffinity);

    std::unique_ptr<GsDevice> device(new GsDevice);
    DeviceImpl* d = device->m_impl.get();
    d->surface = new QOffscreenSurface;
    d->surface->setFormat(format);
    d->surface->create();
    if (!d->surface->isValid()) {
        LOGE("graphics: no off-screen surface can be made for OpenGL");
        return false;
    }
    if (gs::runsHeadless()) {
        // No window system: the context comes from EGL by hand.
        d->context = gs::createHeadlessContext(format);
        d->headless = d->context != nullptr;
        if (!d->context)
            return false;
    } else {
        d->context = new QOpenGLContext;
        d->context->setFormat(format);
        if (!d->context->create()) {
            LOGE("graphics: no OpenGL context can be made");
            return false;
        }
    }
    QSurfaceFormat got = d->context->format();
    if (got.majorVersion() * 10 + got.minorVersion() < 33 || got.profile() != QSurfaceFormat::CoreProfile) {
        LOGE("graphics: OpenGL %d.%d core is below the 3.3 core profile the engine needs", got.majorVersion(),
             got.minorVersion());
        return false;
    }
    if (!d->makeCurrent())
        return false;
    d->gl = d->context->versionFunctions<QOpenGLFunctions_3_3_Core>();
    if (!d->gl || !d->gl->initializeOpenGLFunctions()) {
        LOGE("graphics: OpenGL 3.3 functions are missing");
        d->doneCurrent();
        return false;
    }
    if (d->context->format().testOption(QSurfaceFormat::DebugContext))
        d->startDebugOutput();
    auto* gl = d->gl;
    // Quad: position (x, y, z) and texture coordinate, as a triangle strip.
    const float quad[] = {
        -0.5f, -0.5f, 0.0f, 0.0f, 0.0f, //
        0.5f,  -0.5f, 0.0f, 1.0f, 0.0f, //
        -0.5f, 0.5f,  0.0f, 0.0f, 1.0f, //
        0.5f,  0.5f,  0.0f, 1.0f, 1.0f, //
    };
    gl->glGenVertexArrays(1, &d->vao);
    gl->glBindVertexArray(d->vao);
    gl->glGenBuffers(1, &d->vbo);
    gl->glBindBuffer(GL_ARRAY_BUFFER, d->vbo);
    gl->glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
    gl->glEnableVertexAttribArray(0);
    gl->glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 5 * sizeof(float), nullptr);
    gl->glEnableVertexAttribArray(1);
    gl->glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 5 * sizeof(float),
                              reinterpret_cast<void*>(3 * sizeof(float)));
    gl->glBindVertexArray(0);
    gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl->glGenSamplers(1, &d->nearestSampler);
    gl->glGenSamplers(1, &d->linearSampler);
    for (GLuint sampler : {d->nearestSampler, d->linearSampler}) {
        GLint filter = sampler == d->nearestSampler ? GL_NEAREST : GL_LINEAR;
        gl->glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, filter);
        gl->glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, filter);
        gl->glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl->glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    gl->glEnable(GL_BLEND);
    gl->glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    d->renderer = reinterpret_cast<const char*>(gl->glGetString(GL_RENDERER));
    d->coloursOnCpu = gs::coloursOnCpu(d->renderer);
    bool plain = d->addProgram("rgba", kPlainVertex, kPlainPixel);
    d->doneCurrent();
    if (!plain)
        return false;
    LOGD("graphics: OpenGL %d.%d on %s; colours are converted on the %s", got.majorVersion(), got.minorVersion(),
         d->renderer.c_str(), d->coloursOnCpu ? "CPU" : "GPU");
    g_device = device.release();
    return true;
}

GsDevice* GsDevice::DefaultDevice() { return g_device; }

QSurfaceFormat GsDevice::SurfaceFormat() {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setAlphaBufferSize(8);
    return format;
}

void GsDevice::DestroyDefaultDevice() {
    delete g_device;
    g_device = nullptr;
}

bool GsDevice::AddShader(const std::string& name, const std::string& vertexSource, const std::string& pixelSource) {
    GsDeviceScope scope(this);
    return scope.ok() && m_impl->addProgram(name, vertexSource, pixelSource);
}

bool GsDevice::HasShader(const std::string& name) const { return m_impl->program(name) != nullptr; }

std::string GsDevice::Renderer() const { return m_impl->renderer; }

bool GsDevice::ConvertsColourOnCpu() const { return m_impl->coloursOnCpu; }

GsDeviceScope::GsDeviceScope(GsDevice* device) : m_device(device ? device : GsDevice::DefaultDevice()) {
    if (!m_device)
        return;
    DeviceImpl* d = m_device->impl();
    d->mutex.lock();
    if (d->depth++ == 0)
        m_ok = d->makeCurrent();
    else
        m_ok = true;
}

GsDeviceScope::~GsDeviceScope() {
    if (!m_device)
        return;
    DeviceImpl* d = m_device->impl();
    if (--d->depth == 0 && d->currentThread)
        d->doneCurrent();
    d->mutex.unlock();
}

DeviceImpl* gs::impl() { return g_device ? g_device->impl() : nullptr; }

bool GsContextDefault::BindShader(const std::string& name) {
    DeviceImpl* d = gs::impl();
    if (!d)
        return false;
    const DeviceImpl::Program* p = d->program(name);
    if (!p)
        return false;
    d->gl->glUseProgram(p->id);
    d->currentProgram = p;
    return true;
}

void GsContextDefault::UnbindShader() {
    if (DeviceImpl* d = gs::impl()) {
        d->gl->glUseProgram(0);
        d->currentProgram = nullptr;
    }
}

void GsContextDefault::SetViewport(int x, int y, int w, int h) {
    if (DeviceImpl* d = gs::impl())
        d->setViewport(x, y, w, h);
}

void GsContextDefault::DrawRect(const gs_transform& transform, const gs_vec2& canvas) {
    if (DeviceImpl* d = gs::impl())
        d->drawQuad(transform, canvas);
}
