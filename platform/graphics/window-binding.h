// Keeps a window's OpenGL drawable alive between frame cycles.
//
// Mesa's GLX destroys the driver's drawable of a plain X window, and the
// window's back buffers with it, as soon as no context has it bound. The
// frame cycle lets its context go after every cycle (other threads take it
// in turn), so every picture presented allocated the buffers again; on
// llvmpipe that is a fresh shared memory segment a frame, faulted in page by
// page by the rasterizer. A second context, current on the window on a
// thread of its own that does nothing but wait, keeps the drawable bound.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class QOpenGLContext;
class QSurfaceFormat;
class QWindow;

namespace gs {

class WindowBinding {
public:
    // Binds on its own thread; the window must exist (have a native handle)
    // until the binding is destroyed.
    WindowBinding(QWindow* window, const QSurfaceFormat& format);
    // Lets the window go and joins the thread.
    ~WindowBinding();
    WindowBinding(const WindowBinding&) = delete;
    WindowBinding& operator=(const WindowBinding&) = delete;

    // True once the window is bound (creating a context can take a while).
    bool held() const { return m_held.load(); }

    // Only GLX needs it (on X11, Qt may also have fallen back to EGL, where
    // a second binding would take the window from the frame cycle).
    static bool useful(const QOpenGLContext* context);

private:
    void hold(QWindow* window, const QSurfaceFormat& format);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::atomic<bool> m_held{false};
    std::thread m_thread;
};

} // namespace gs
