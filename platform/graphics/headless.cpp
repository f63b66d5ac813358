#include "headless.h"

#include "value/interface.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QtPlatformHeaders/QEGLNativeContext>

#include <cstdlib>

namespace gs {

namespace {

bool set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// The one adopted context; Qt does not destroy contexts it did not make.
EGLDisplay g_display = EGL_NO_DISPLAY;
EGLContext g_context = EGL_NO_CONTEXT;

const char* eglErrorText(EGLint error) {
    switch (error) {
    case EGL_NOT_INITIALIZED: return "EGL is not initialised";
    case EGL_BAD_ALLOC: return "out of resources";
    case EGL_BAD_ATTRIBUTE: return "bad attribute";
    case EGL_BAD_CONFIG: return "no such configuration";
    case EGL_BAD_CONTEXT: return "bad context";
    case EGL_BAD_DISPLAY: return "bad display";
    case EGL_BAD_MATCH: return "the request does not fit the configuration";
    case EGL_BAD_PARAMETER: return "bad parameter";
    default: return "EGL error";
    }
}

} // namespace

bool prepareHeadlessPlatform() {
    if (set("DISPLAY") || set("WAYLAND_DISPLAY"))
        return false;
    // Qt's eglfs platform on its plain device integration draws nothing on
    // screen here: it only hands out pbuffers and adopts our context (see
    // createHeadlessContext). It insists on a framebuffer device to read the
    // screen size from; /dev/null answers, and the sizes come from below.
    qputenv("QT_QPA_PLATFORM", "eglfs");
    qputenv("QT_QPA_EGLFS_INTEGRATION", "none");
    qputenv("QT_QPA_EGLFS_FB", "/dev/null");
    qputenv("QT_QPA_EGLFS_WIDTH", "1920");
    qputenv("QT_QPA_EGLFS_HEIGHT", "1080");
    qputenv("QT_QPA_EGLFS_PHYSICAL_WIDTH", "508");
    qputenv("QT_QPA_EGLFS_PHYSICAL_HEIGHT", "286");
    qputenv("QT_QPA_EGLFS_DISABLE_INPUT", "1");
    qputenv("QT_QPA_EGLFS_HIDECURSOR", "1");
    // Mesa's EGL takes its default display from this; a choice of the user's
    // (for example "device") stands.
    if (!set("EGL_PLATFORM"))
        qputenv("EGL_PLATFORM", "surfaceless");
    return true;
}

bool runsHeadless() { return QGuiApplication::platformName() == QLatin1String("eglfs"); }

QOpenGLContext* createHeadlessContext(const QSurfaceFormat& format) {
    // The same display as the platform's: EGL hands out one per native display.
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
        LOGE("graphics: no EGL display without a window system: %s", eglErrorText(eglGetError()));
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        LOGE("graphics: EGL offers no desktop OpenGL here: %s", eglErrorText(eglGetError()));
        return nullptr;
    }
    // Pbuffers are what Qt gives an off-screen surface on this platform.
    const EGLint configWanted[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                   EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                                   EGL_ALPHA_SIZE, 8, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, configWanted, &config, 1, &count) || count < 1) {
        LOGE("graphics: EGL has no 8-bit RGBA OpenGL configuration: %s", eglErrorText(eglGetError()));
        return nullptr;
    }
    const bool debug = format.testOption(QSurfaceFormat::DebugContext);
    const EGLint contextWanted[] = {EGL_CONTEXT_MAJOR_VERSION, format.majorVersion(),
                                    EGL_CONTEXT_MINOR_VERSION, format.minorVersion(),
                                    EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                    EGL_CONTEXT_OPENGL_DEBUG, debug ? EGL_TRUE : EGL_FALSE,
                                    EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextWanted);
    if (context == EGL_NO_CONTEXT) {
        LOGE("graphics: EGL cannot make an OpenGL %d.%d core context: %s", format.majorVersion(),
             format.minorVersion(), eglErrorText(eglGetError()));
        return nullptr;
    }
    auto* adopted = new QOpenGLContext;
    adopted->setFormat(format);
    adopted->setNativeHandle(QVariant::fromValue(QEGLNativeContext(context, display)));
    if (!adopted->create()) {
        LOGE("graphics: Qt does not take the EGL context");
        delete adopted;
        eglDestroyContext(display, context);
        return nullptr;
    }
    g_display = display;
    g_context = context;
    LOGD("graphics: no display; OpenGL from EGL %d.%d (%s)", major, minor,
         eglQueryString(display, EGL_VENDOR));
    return adopted;
}

void releaseHeadlessContext() {
    if (g_context != EGL_NO_CONTEXT)
        eglDestroyContext(g_display, g_context);
    g_context = EGL_NO_CONTEXT;
    g_display = EGL_NO_DISPLAY;
}

} // namespace gs
