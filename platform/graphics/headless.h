// OpenGL without any display: on a server, in a container or in CI with no
// X or Wayland server, the device's context comes from EGL on Mesa's
// surfaceless platform (llvmpipe, or the first GPU render node), wrapped in
// Qt's eglfs platform so that the engine's Qt OpenGL calls work unchanged.
#pragma once

class QOpenGLContext;
class QSurfaceFormat;

namespace gs {

// Call in main() before the application object is made. When neither
// DISPLAY nor WAYLAND_DISPLAY is set, chooses the platform that gives
// OpenGL without a display (the process environment is changed for that)
// and returns true; otherwise changes nothing and returns false.
bool prepareHeadlessPlatform();

// True when the running application uses that platform.
bool runsHeadless();

// An EGL context (OpenGL core of the format's version, surfaceless platform)
// adopted by a new QOpenGLContext; the caller owns the context and calls
// releaseHeadlessContext after deleting it. Null, with a log line, on failure.
QOpenGLContext* createHeadlessContext(const QSurfaceFormat& format);
void releaseHeadlessContext();

} // namespace gs
