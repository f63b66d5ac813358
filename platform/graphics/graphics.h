// The GPU scene engine on OpenGL 3.3 core (through Qt): one device, named
// programs, textures, constant blocks, scenes of reference-counted items,
// off-screen filters, views that present into a native window, and raw
// frame output read back without stalling the next frame.
//
// Threads: the frame cycle (TickSource, HandleFilter, OutputFrame,
// DrawDisplay) runs on one thread at a time and holds the device while it
// runs. The GUI thread may meanwhile add, remove, order and enumerate items,
// move and resize them and set their fields; the scene's lock keeps that
// safe. Item Update/Draw, filter Render and output callbacks run on the
// frame-cycle thread with the device's context current.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QObject;
class QWindow;
class QSurfaceFormat;

namespace gs {
class DeviceImpl;
class WindowBinding;
}

struct gs_vec2 {
    float x = 0.0f;
    float y = 0.0f;
};

// Centre, size (canvas pixels, origin at the canvas centre) and rotation (radians).
struct gs_transform {
    float x = 0.0f;
    float y = 0.0f;
    float w = 0.0f;
    float h = 0.0f;
    float rotation = 0.0f;
};

// The lock a view holds while it walks the scene.
class MCMutex {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Atomic reference count; deletes itself at zero.
class GsRefCounted {
public:
    GsRefCounted() = default;
    GsRefCounted(const GsRefCounted&) = delete;
    GsRefCounted& operator=(const GsRefCounted&) = delete;

    void AddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void Release() {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            Destroy();
    }
    bool HasOneRef() const { return m_refs.load(std::memory_order_acquire) == 1; }

protected:
    virtual ~GsRefCounted() = default;
    // Called once the last reference is gone, on whichever thread let go.
    virtual void Destroy() { delete this; }

private:
    std::atomic<int> m_refs {1}; // the creator holds the first reference
};

class GsDevice {
public:
    // Makes the one device (an OpenGL 3.3 core context on an off-screen
    // surface). Call on the GUI thread. False, with a log line, when no
    // such context can be made.
    static bool CreateDefaultDevice(bool debug);
    static GsDevice* DefaultDevice();
    // The format of the device's context; windows the views present into use it.
    static QSurfaceFormat SurfaceFormat();
    static void DestroyDefaultDevice();

    // Compiles and links a named program from GLSL 330 sources. False, with
    // the compiler's log, on failure; the name then stays unusable.
    bool AddShader(const std::string& name, const std::string& vertexSource, const std::string& pixelSource);
    bool HasShader(const std::string& name) const;
    std::string Renderer() const;
    // Whether colour conversions (decoded YUV planes to RGB, the drawn
    // picture to a writer's YUV) are better left to the CPU's converters:
    // true on a software renderer (llvmpipe, softpipe, swrast), whose
    // shaders cost more than they save. KORVEL_COLOUR_CONVERSION=gpu or
    // =cpu decides instead.
    bool ConvertsColourOnCpu() const;

    gs::DeviceImpl* impl() const { return m_impl.get(); }
    ~GsDevice();

private:
    GsDevice();
    std::unique_ptr<gs::DeviceImpl> m_impl;
};

// Makes the device's context current on this thread for the scope (and
// takes the device, so one thread draws at a time).
class GsDeviceScope {
public:
    explicit GsDeviceScope(GsDevice* device = nullptr);
    ~GsDeviceScope();
    bool ok() const { return m_ok; }

private:
    GsDevice* m_device;
    bool m_ok = false;
};

class GsTexture {
public:
    enum Format { RGBA = 0 };
    // Copies a 4-byte-per-pixel image (rows `stride` bytes apart).
    GsTexture(const uint8_t* pixels, int stride, Format format, int width, int height, GsDevice* device = nullptr);
    // An empty texture to render into.
    GsTexture(int width, int height, GsDevice* device = nullptr);
    ~GsTexture();
    GsTexture(const GsTexture&) = delete;
    GsTexture& operator=(const GsTexture&) = delete;

    // Replaces the pixels; same size: no new allocation.
    bool Upload(const uint8_t* pixels, int stride, int width, int height);
    // Puts the pixels into the texture held by `slot`: refilled when the size
    // is the same, made anew otherwise; the slot is emptied when the picture
    // cannot be a texture. True when the slot holds the picture.
    static bool Fill(std::unique_ptr<GsTexture>& slot, const uint8_t* pixels, int stride, int width, int height);
    bool valid() const { return m_id != 0; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    unsigned id() const { return m_id; }

    // Largest side a texture may have.
    static constexpr int kMaxSide = 8192;

private:
    unsigned m_id = 0;
    int m_width = 0;
    int m_height = 0;
};

// Binds up to four textures to units 0.. for the scope.
class GsConstantBuffer;

// A YUV picture as a decoder gives it: its planes, read in place.
struct GsPlanes {
    const uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0}; // bytes
    int count = 3;              // 3: Y, U, V; 2: Y, then U and V interleaved (8 bits only)
    int width = 0, height = 0;  // of the luma plane
    int chromaShiftX = 1, chromaShiftY = 1;
    int bits = 8; // 8: bytes; 9..16: 16-bit words, the value in the low bits
    float kr = 0.2126f, kb = 0.0722f;
    bool fullRange = false;
};

// Turns YUV planes into an RGBA texture on the GPU with the picture's own
// matrix and range: the planes go into textures of their own (refilled
// while their size stays) and are drawn by the rgba_from_yuv program.
// Frame-cycle thread, or any thread holding the device.
class GsPlaneConverter {
public:
    GsPlaneConverter() = default;
    ~GsPlaneConverter();
    GsPlaneConverter(const GsPlaneConverter&) = delete;
    GsPlaneConverter& operator=(const GsPlaneConverter&) = delete;

    // The device's own converter (frame-cycle thread); null without a device.
    static GsPlaneConverter* ForDevice();
    // Whether the program is registered.
    static bool Available();
    // Draws the part (x, y, w, h, in luma pixels) of the picture into
    // `slot`, made anew when its size differs. False when it cannot (no
    // program, a layout it does not take): the caller converts otherwise.
    bool Convert(const GsPlanes& planes, int x, int y, int w, int h, std::unique_ptr<GsTexture>& slot);

private:
    struct Plane {
        int width = 0, height = 0, inside = 0;
    };
    bool upload(int index, const uint8_t* data, int stride, int width, int height, int channels, bool words);
    unsigned m_planes[3] = {0, 0, 0};
    Plane m_shape[3];
    unsigned m_fbo = 0;
    std::unique_ptr<GsConstantBuffer> m_block;
};

class GsTextureBinder {
public:
    explicit GsTextureBinder(GsTexture* t0, GsTexture* t1 = nullptr, GsTexture* t2 = nullptr,
                             GsTexture* t3 = nullptr);
    ~GsTextureBinder();

private:
    int m_count = 0;
};

// The pixel program's constant block: a std140 uniform block at binding 0.
class GsConstantBuffer {
public:
    explicit GsConstantBuffer(int bytes, GsDevice* device = nullptr);
    ~GsConstantBuffer();
    void Update(const void* data, int bytes);
    bool Bind(int slot);

private:
    unsigned m_id = 0;
    int m_bytes = 0;
};

class GsContextDefault {
public:
    static bool BindShader(const std::string& name);
    static void UnbindShader();
    static void SetViewport(int x, int y, int w, int h);
    // One textured quad; the canvas is the target's size in pixels.
    static void DrawRect(const gs_transform& transform, const gs_vec2& canvas);
};

class GsScene;

class GsItem : public GsRefCounted {
public:
    explicit GsItem(GsDevice* device = nullptr);
    GsItem(const gs_vec2& size, GsDevice* device = nullptr);

    void MoveTo(float x, float y);
    void Resize(float w, float h);
    void SetBaseSize(float w, float h);
    gs_vec2 pos() const;
    gs_vec2 size() const;
    gs_vec2 baseSize() const;
    GsScene* scene() const { return m_scene; }

    // Prepares textures and filters; runs during TickSource.
    virtual void Update() {}
    // Draws; runs while a frame is drawn.
    virtual void Draw() {}
    // True when the next Draw paints every pixel of the scene opaquely: the
    // items beneath need not be drawn.
    virtual bool CoversScene() const { return false; }
    // The texture the next Draw would stretch unchanged over exactly the
    // whole scene (an opaque picture, in place, unrotated, fully opaque, its
    // colours at rest), or null. A scene composed at the texture's pixel
    // size then copies it instead of drawing the item.
    virtual const GsTexture* SceneCopy() const { return nullptr; }

    float rotation = 0.0f;
    int32_t z = 0;
    bool visible = true;
    bool hoverable = false;
    bool hovered = false;
    bool selectable = false;
    bool selected = false;

protected:
    ~GsItem() override = default;

private:
    friend class GsScene;
    mutable std::mutex m_geometryMutex; // guards m_pos, m_size, m_baseSize
    gs_vec2 m_pos;
    gs_vec2 m_size;
    gs_vec2 m_baseSize;
    GsScene* m_scene = nullptr;
};

class GsFilter : public GsRefCounted {
public:
    GsFilter(int width, int height, GsDevice* device = nullptr);
    // Joins the device's filter list: Render runs in every HandleFilter.
    void Attach();
    void Detach();
    GsTexture* texture() const { return m_target.get(); }
    int width() const { return m_width; }
    int height() const { return m_height; }

    // Draws into the filter's target, which is bound when it is called.
    virtual void Render() {}
    // False when Render would draw nothing: the target is then left alone.
    virtual bool HasWork() const { return true; }

    // For the frame cycle: binds the target, calls Render, unbinds.
    void RunRender();

protected:
    ~GsFilter() override;

private:
    int m_width, m_height;
    std::unique_ptr<GsTexture> m_target;
    unsigned m_fbo = 0;
};

class GsScene : public GsRefCounted {
public:
    GsScene(int width, int height, GsDevice* device = nullptr);

    void AddItem(GsItem* item);
    void RemoveItem(GsItem* item);
    // Sorts by z, lowest first (drawn first).
    void OrderItem();
    // Calls back for each item in draw order until the callback returns false.
    void EnumItems(const std::function<bool(GsItem*, void*)>& callback, void* context);
    int width() const { return m_width; }
    int height() const { return m_height; }

    // Updates every item (frame-cycle thread).
    virtual void Update();
    // Draws every visible item into the bound target of the scene's size,
    // cleared first to the colour given. An item that paints every pixel
    // opaquely spares the clear, the items under it and blending.
    void Draw(float r, float g, float b, float a);

    MCMutex& mutex() { return m_lock; }
    // A texture that holds the last drawn frame: the whole scene, at the
    // pixel size Render was last given.
    GsTexture* sceneTexture();
    // Draws the scene into its texture, at pixelWidth x pixelHeight (the
    // scene's own size when 0, and never more): a window that shows the
    // scene smaller gets it composed at the size it shows, not drawn large
    // and scaled down.
    void Render(int pixelWidth = 0, int pixelHeight = 0);

protected:
    ~GsScene() override;

private:
    std::vector<GsItem*> snapshot();

    int m_width, m_height;
    MCMutex m_lock; // guards m_items
    std::vector<GsItem*> m_items; // each holds a reference
    std::unique_ptr<GsTexture> m_texture;
    unsigned m_fbo = 0;
};

class GsView : public GsRefCounted {
public:
    virtual void SetScene(GsScene* scene) = 0;
    virtual GsScene* scene() const = 0;
};

// Presents the scene's texture into a native window, from the frame-cycle thread.
class GsViewImpl : public GsView {
public:
    GsViewImpl(QWindow* window, int width, int height, GsDevice* device = nullptr);

    // Joins the device's view list (DrawDisplay draws it); Detach leaves it,
    // after the frame cycle under way, so the window may be destroyed then.
    void Attch();
    void Detach();
    void SetBackgroundColor(float r, float g, float b, float a);
    void SetClampX(float f);
    void SetClampY(float f);
    void SetScene(GsScene* scene) override;
    GsScene* scene() const override;
    virtual void Resize(int width, int height);
    int width() const;
    int height() const;
    // Added to a window point, gives the point from the window's centre.
    gs_vec2 preview_offset() const;
    // The guide lines (SetClampX/Y: scene lines times the device pixel ratio), NaN when none.
    void clampLines(float* x, float* y) const;

    // Draws the scene texture at w x h pixels in the window's centre.
    void DrawSceneTexture(float w, float h);
    // The size (window units) Draw shows the scene at; the scene is
    // composed at that size times the window's pixel ratio.
    virtual gs_vec2 SceneSizeInWindow() const;
    // Called by DrawDisplay with the window's surface current; the default
    // clears to the background and draws the scene at its own size.
    virtual void Draw();

    QWindow* window() const { return m_window; }
    void Present();
    // True while the window's drawable is held bound between frame cycles
    // (see WindowBinding); false where that is not needed.
    bool HoldsWindow() const;
    // Lets the window's drawable go (the native window is about to be
    // destroyed); the next picture presented binds it again.
    void ReleaseWindow();

protected:
    // Called on the frame-cycle thread right after a picture was swapped
    // onto the window.
    virtual void OnPresented() {}
    ~GsViewImpl() override;

private:
    QWindow* m_window;
    // Made by the first picture presented into the native window; gone in
    // Detach and when the native window is about to go (it may be made anew).
    std::unique_ptr<gs::WindowBinding> m_binding;
    std::unique_ptr<QObject> m_surfaceWatch; // watches m_window for that
    mutable std::mutex m_mutex; // guards everything below
    int m_width, m_height;
    float m_background[4] = {0.196f, 0.196f, 0.196f, 1.0f};
    float m_clampX = std::numeric_limits<float>::quiet_NaN();
    float m_clampY = std::numeric_limits<float>::quiet_NaN();
    GsScene* m_scene = nullptr;
};

class GsOutput : public GsRefCounted {
public:
    virtual void Start() {}
    virtual void Stop() {}
};

// The scene drawn at the output size (fitted whole, see pictureArea) into a
// framebuffer and read back through pixel buffer objects: OnFrame for one
// frame runs in the OutputFrame call after the one that drew it, and Stop
// delivers the last.
//
// Asked for YUV 4:2:0 (limited range, with BT.709's or BT.601's matrix), a
// program packs the picture into its planes before the read-back, so that
// 1.5 bytes a pixel cross instead of 4 and the encoder takes them as they
// are. That needs the rgba_to_yuv420 program, a width that is a multiple of
// 8 and a height that is a multiple of 4; otherwise, and for GsFormatRGBA,
// RGBA is read back. format() says which, from Start on.
// A rectangle of pixels; empty when either side is 0.
struct GsPixelRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

class GsOutputRaw : public GsOutput {
public:
    enum Format { GsFormatRGBA = 1, GsFormatI420BT709 = 2, GsFormatI420BT601 = 3 };
    GsOutputRaw(GsScene* scene, int width, int height, int format, GsDevice* device = nullptr);

    void Start() override;
    void Stop() override;
    // A finished frame, top row first: RGBA pixels with rows bytesPerRow
    // apart; or YUV 4:2:0, the Y plane (bytesPerRow = width) followed by the
    // U and V planes (width / 2 bytes a row), without gaps.
    virtual void OnFrame(int width, int height, const uint8_t* pixels, int bytesPerRow, int64_t timestamp);
    int format() const { return m_format; }

    // Draws the scene and queues its read-back (frame-cycle thread).
    void Capture(int64_t timestamp);
    // Draws the scene over a transparent picture, outside the read-back
    // queue, and reads at once the part that the drawing touched: `*drawn`
    // gets that rectangle in output pixels (top row first; rounded out to
    // even coordinates, so that it covers whole 2 x 2 blocks of 4:2:0
    // chroma; empty when nothing was drawn) and `*rgba` its premultiplied
    // RGBA rows, drawn->width * 4 bytes apart. Items drawn over each other
    // keep their order, so laying the layer over a picture gives what
    // drawing them over that picture gives. False when it cannot draw
    // (frame-cycle thread); call Flush first when queued read-backs must
    // come before it.
    bool CaptureLayer(std::vector<uint8_t>* rgba, GsPixelRect* drawn);
    // Hands over the last queued read-back now, instead of with the next
    // capture (frame-cycle thread): a cycle that goes idle calls it, or the
    // last picture drawn would never reach OnFrame.
    void Flush();
    int width() const { return m_width; }
    int height() const { return m_height; }
    GsScene* scene() const { return m_scene; }

protected:
    ~GsOutputRaw() override;

    // Where the scene lies in the output: all of it when they have the same
    // shape; otherwise the scene is fitted whole, centred, and the rest is
    // black.
    GsPixelRect pictureArea() const;

private:
    void deliverPending();
    size_t frameBytes() const;
    // Draws the packed planes into m_packFbo and leaves it bound (pushed);
    // false, with nothing pushed, when the program cannot draw.
    bool pack();

    GsScene* m_scene;
    int m_width, m_height;
    int m_asked;                 // the format asked for
    int m_format = GsFormatRGBA; // the format read back
    unsigned m_fbo = 0;
    std::unique_ptr<GsTexture> m_target;
    unsigned m_packFbo = 0;
    std::unique_ptr<GsTexture> m_packTarget;
    std::unique_ptr<GsConstantBuffer> m_packBlock;
    unsigned m_pbo[2] = {0, 0};
    int m_next = 0;           // the buffer the next capture fills
    bool m_pending[2] = {false, false};
    int64_t m_pendingTime[2] = {0, 0};
    bool m_started = false;
    std::vector<uint8_t> m_rows; // the read-back turned top row first
};

// Drawing on demand: whatever changes what a view or an output would show
// (an item moved, a new picture, a view resized) asks for a frame, and the
// owner of the frame cycle sleeps until one is asked for. Any thread.
void GsRequestFrame();
// Frames asked for since the process started.
uint64_t GsFrameRequests();
// Waits until more than `seen` frames were asked for or the deadline has
// passed; returns the count then.
uint64_t GsWaitForFrameRequest(uint64_t seen, std::chrono::steady_clock::time_point deadline);

// The frame cycle.
void TickSource();
void HandleFilter();
void OutputFrame(int64_t timestamp, int count);
// Every output's last read-back, before the frame cycle sleeps.
void FlushOutputs();
void DrawDisplay();

// For the cycle: outputs and views join and leave the device's lists.
void RegisterOutput(GsOutputRaw* output);
void UnregisterOutput(GsOutputRaw* output);
// Whether some output reads the scene back (an export, a capture).
bool AnyOutputRegistered();
