#include "window-binding.h"

#include "value/interface.h"

#include <QOpenGLContext>
#include <QWindow>

namespace gs {

WindowBinding::WindowBinding(QWindow* window, const QSurfaceFormat& format)
    : m_thread([this, window, format] { hold(window, format); }) {}

WindowBinding::~WindowBinding() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool WindowBinding::useful(const QOpenGLContext* context) {
    return context && qstrcmp(context->nativeHandle().typeName(), "QGLXNativeContext") == 0;
}

void WindowBinding::hold(QWindow* window, const QSurfaceFormat& format) {
    QOpenGLContext context;
    context.setFormat(format);
    const bool bound = context.create() && context.makeCurrent(window);
    m_held = bound;
    if (!bound)
        LOGW("graphics: the preview window's drawable cannot be held; its buffers are made anew for each "
             "picture");
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [this] { return m_stop; });
    if (bound)
        context.doneCurrent();
}

} // namespace gs
