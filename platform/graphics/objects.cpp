#include "device-impl.h"
#include "window-binding.h"

#include "value/interface.h"

#include <QOpenGLContext>
#include <QPlatformSurfaceEvent>
#include <QThread>
#include <QWindow>

#include <functional>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using gs::DeviceImpl;

// ---- textures ----

GsTexture::GsTexture(const uint8_t* pixels, int stride, Format, int width, int height, GsDevice* device) {
    (void)device;
    Upload(pixels, stride, width, height);
}

GsTexture::GsTexture(int width, int height, GsDevice* device) {
    (void)device;
    Upload(nullptr, width * 4, width, height);
}

GsTexture::~GsTexture() {
    if (!m_id)
        return;
    GsDeviceScope scope;
    if (scope.ok())
        gs::impl()->gl->glDeleteTextures(1, &m_id);
}

bool GsTexture::Upload(const uint8_t* pixels, int stride, int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || stride < width * 4 || stride % 4) {
        LOGW("graphics: no texture of %dx%d (stride %d)", width, height, stride);
        return false;
    }
    GsDeviceScope scope;
    if (!scope.ok())
        return false;
    auto* gl = gs::impl()->gl;
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, stride / 4);
    if (m_id && width == m_width && height == m_height) {
        gl->glBindTexture(GL_TEXTURE_2D, m_id);
        if (pixels)
            gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    } else {
        if (!m_id)
            gl->glGenTextures(1, &m_id);
        gl->glBindTexture(GL_TEXTURE_2D, m_id);
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        m_width = width;
        m_height = height;
    }
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

bool GsTexture::Fill(std::unique_ptr<GsTexture>& slot, const uint8_t* pixels, int stride, int width,
                     int height) {
    if (slot && slot->width() == width && slot->height() == height)
        return slot->Upload(pixels, stride, width, height);
    auto texture = std::make_unique<GsTexture>(pixels, stride, RGBA, width, height);
    slot = texture->valid() ? std::move(texture) : nullptr;
    return slot != nullptr;
}

GsTextureBinder::GsTextureBinder(GsTexture* t0, GsTexture* t1, GsTexture* t2, GsTexture* t3) {
    DeviceImpl* d = gs::impl();
    if (!d)
        return;
    GsTexture* all[4] = {t0, t1, t2, t3};
    for (int i = 0; i < 4; ++i) {
        d->gl->glActiveTexture(GL_TEXTURE0 + i);
        d->gl->glBindTexture(GL_TEXTURE_2D, all[i] ? all[i]->id() : 0);
        d->boundWidth[i] = all[i] ? all[i]->width() : 0;
        d->boundHeight[i] = all[i] ? all[i]->height() : 0;
        if (all[i])
            m_count = i + 1;
    }
    d->gl->glActiveTexture(GL_TEXTURE0);
}

GsTextureBinder::~GsTextureBinder() {
    DeviceImpl* d = gs::impl();
    if (!d)
        return;
    for (int i = m_count - 1; i >= 0; --i) {
        d->gl->glActiveTexture(GL_TEXTURE0 + i);
        d->gl->glBindTexture(GL_TEXTURE_2D, 0);
        d->gl->glBindSampler(GLuint(i), 0);
        d->boundWidth[i] = d->boundHeight[i] = 0;
    }
    d->gl->glActiveTexture(GL_TEXTURE0);
}

GsConstantBuffer::GsConstantBuffer(int bytes, GsDevice* device) : m_bytes((std::max(bytes, 16) + 15) / 16 * 16) {
    GsDeviceScope scope(device);
    if (!scope.ok())
        return;
    auto* gl = gs::impl()->gl;
    gl->glGenBuffers(1, &m_id);
    gl->glBindBuffer(GL_UNIFORM_BUFFER, m_id);
    gl->glBufferData(GL_UNIFORM_BUFFER, m_bytes, nullptr, GL_DYNAMIC_DRAW);
    gl->glBindBuffer(GL_UNIFORM_BUFFER, 0);
}

GsConstantBuffer::~GsConstantBuffer() {
    if (!m_id)
        return;
    GsDeviceScope scope;
    if (scope.ok())
        gs::impl()->gl->glDeleteBuffers(1, &m_id);
}

void GsConstantBuffer::Update(const void* data, int bytes) {
    DeviceImpl* d = gs::impl();
    if (!d || !m_id || !data || bytes <= 0)
        return;
    d->gl->glBindBuffer(GL_UNIFORM_BUFFER, m_id);
    d->gl->glBufferSubData(GL_UNIFORM_BUFFER, 0, std::min(bytes, m_bytes), data);
    d->gl->glBindBuffer(GL_UNIFORM_BUFFER, 0);
}

bool GsConstantBuffer::Bind(int slot) {
    DeviceImpl* d = gs::impl();
    if (!d || !m_id || slot < 0)
        return false;
    d->gl->glBindBufferBase(GL_UNIFORM_BUFFER, GLuint(slot), m_id);
    return true;
}

bool gs::makeTarget(int width, int height, std::unique_ptr<GsTexture>* texture, GLuint* fbo) {
    auto target = std::make_unique<GsTexture>(width, height);
    if (!target->valid())
        return false;
    auto* gl = impl()->gl;
    gl->glGenFramebuffers(1, fbo);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, *fbo);
    gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target->id(), 0);
    bool complete = gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    gl->glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete) {
        LOGE("graphics: a %dx%d frame buffer is incomplete", width, height);
        gl->glDeleteFramebuffers(1, fbo);
        *fbo = 0;
        return false;
    }
    *texture = std::move(target);
    return true;
}

namespace {

// The device's lists hold a reference to each member.
template <typename T>
void joinList(std::vector<T*>& list, T* member) {
    std::lock_guard<std::mutex> lock(gs::impl()->listsMutex);
    if (std::find(list.begin(), list.end(), member) == list.end()) {
        member->AddRef();
        list.push_back(member);
    }
}

// Leaves after the frame cycle under way (the device's lock), so the caller
// may free what the member draws with once this returns.
template <typename T>
void leaveList(std::vector<T*>& list, T* member) {
    DeviceImpl* d = gs::impl();
    std::lock_guard<std::recursive_mutex> cycle(d->mutex);
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(d->listsMutex);
        auto it = std::find(list.begin(), list.end(), member);
        if (it != list.end()) {
            list.erase(it);
            found = true;
        }
    }
    if (found)
        member->Release();
}

} // namespace

// ---- items ----

GsItem::GsItem(GsDevice* device) { (void)device; }

GsItem::GsItem(const gs_vec2& size, GsDevice* device) : m_size(size), m_baseSize(size) { (void)device; }

void GsItem::MoveTo(float x, float y) {
    {
        std::lock_guard<std::mutex> lock(m_geometryMutex);
        m_pos = {x, y};
    }
    GsRequestFrame();
}

void GsItem::Resize(float w, float h) {
    {
        std::lock_guard<std::mutex> lock(m_geometryMutex);
        m_size = {w, h};
    }
    GsRequestFrame();
}

void GsItem::SetBaseSize(float w, float h) {
    {
        std::lock_guard<std::mutex> lock(m_geometryMutex);
        m_baseSize = {w, h};
    }
    GsRequestFrame();
}

gs_vec2 GsItem::pos() const {
    std::lock_guard<std::mutex> lock(m_geometryMutex);
    return m_pos;
}

gs_vec2 GsItem::size() const {
    std::lock_guard<std::mutex> lock(m_geometryMutex);
    return m_size;
}

gs_vec2 GsItem::baseSize() const {
    std::lock_guard<std::mutex> lock(m_geometryMutex);
    return m_baseSize;
}

// ---- filters ----

GsFilter::GsFilter(int width, int height, GsDevice* device) : m_width(width), m_height(height) {
    GsDeviceScope scope(device);
    if (scope.ok())
        gs::makeTarget(width, height, &m_target, &m_fbo);
}

GsFilter::~GsFilter() {
    Detach();
    GsDeviceScope scope;
    if (scope.ok() && m_fbo)
        gs::impl()->gl->glDeleteFramebuffers(1, &m_fbo);
    m_target.reset();
}

void GsFilter::Attach() {
    if (gs::impl())
        joinList(gs::impl()->filters, this);
}

void GsFilter::Detach() {
    if (gs::impl())
        leaveList(gs::impl()->filters, static_cast<GsFilter*>(this));
}

void GsFilter::RunRender() {
    DeviceImpl* d = gs::impl();
    if (!d || !m_fbo || !HasWork())
        return;
    d->pushTarget(m_fbo, m_width, m_height, m_width, m_height, true);
    d->gl->glClearColor(0, 0, 0, 0);
    d->gl->glClear(GL_COLOR_BUFFER_BIT);
    Render();
    d->popTarget();
}

// ---- scenes ----

GsScene::GsScene(int width, int height, GsDevice* device) : m_width(width), m_height(height) { (void)device; }

GsScene::~GsScene() {
    for (GsItem* item : m_items) {
        // An item carried into a newer scene keeps pointing there.
        if (item->m_scene == this)
            item->m_scene = nullptr;
        item->Release();
    }
    GsDeviceScope scope;
    if (scope.ok() && m_fbo)
        gs::impl()->gl->glDeleteFramebuffers(1, &m_fbo);
    m_texture.reset();
}

void GsScene::AddItem(GsItem* item) {
    if (!item)
        return;
    m_lock.Lock();
    if (std::find(m_items.begin(), m_items.end(), item) == m_items.end()) {
        item->AddRef();
        item->m_scene = this;
        m_items.push_back(item);
    }
    m_lock.Unlock();
    GsRequestFrame();
}

void GsScene::RemoveItem(GsItem* item) {
    m_lock.Lock();
    auto it = std::find(m_items.begin(), m_items.end(), item);
    bool found = it != m_items.end();
    if (found) {
        m_items.erase(it);
        if (item->m_scene == this)
            item->m_scene = nullptr;
    }
    m_lock.Unlock();
    if (found) {
        item->Release();
        GsRequestFrame();
    }
}

void GsScene::OrderItem() {
    m_lock.Lock();
    std::stable_sort(m_items.begin(), m_items.end(), [](GsItem* a, GsItem* b) { return a->z < b->z; });
    m_lock.Unlock();
    GsRequestFrame();
}

std::vector<GsItem*> GsScene::snapshot() {
    m_lock.Lock();
    std::vector<GsItem*> items = m_items;
    for (GsItem* item : items)
        item->AddRef();
    m_lock.Unlock();
    return items;
}

void GsScene::EnumItems(const std::function<bool(GsItem*, void*)>& callback, void* context) {
    std::vector<GsItem*> items = snapshot();
    bool going = true;
    for (GsItem* item : items) {
        if (going && !callback(item, context))
            going = false;
        item->Release();
    }
}

void GsScene::Update() {
    for (GsItem* item : snapshot()) {
        item->Update();
        item->Release();
    }
}

void GsScene::Draw(float r, float g, float b, float a) {
    std::vector<GsItem*> items = snapshot();
    // Start at the topmost item that hides everything below it.
    size_t first = items.size();
    for (size_t i = items.size(); i-- > 0;) {
        if (items[i]->visible && items[i]->CoversScene()) {
            first = i;
            break;
        }
    }
    DeviceImpl* d = gs::impl();
    auto* gl = d->gl;
    if (first == items.size()) {
        first = 0;
        gl->glClearColor(r, g, b, a);
        gl->glClear(GL_COLOR_BUFFER_BIT);
    }
    for (size_t i = 0; i < items.size(); ++i) {
        if (i >= first && items[i]->visible) {
            // Opaque over anything: blending would read the target for nothing.
            const bool covers = i == first && items[i]->CoversScene();
            const GsTexture* copy = covers ? items[i]->SceneCopy() : nullptr;
            if (copy && d->copyToTarget(*copy)) {
                items[i]->Release();
                continue;
            }
            if (covers)
                gl->glDisable(GL_BLEND);
            items[i]->Draw();
            if (covers)
                gl->glEnable(GL_BLEND);
        }
        items[i]->Release();
    }
}

GsTexture* GsScene::sceneTexture() { return m_texture.get(); }

void GsScene::Render(int pixelWidth, int pixelHeight) {
    DeviceImpl* d = gs::impl();
    if (!d)
        return;
    const int w = pixelWidth > 0 ? std::min(pixelWidth, m_width) : m_width;
    const int h = pixelHeight > 0 ? std::min(pixelHeight, m_height) : m_height;
    if (m_texture && (m_texture->width() != w || m_texture->height() != h)) {
        d->gl->glDeleteFramebuffers(1, &m_fbo);
        m_fbo = 0;
        m_texture.reset();
    }
    if (!m_fbo && !gs::makeTarget(w, h, &m_texture, &m_fbo))
        return;
    d->pushTarget(m_fbo, m_width, m_height, w, h, true);
    Draw(0, 0, 0, 0);
    d->popTarget();
}

// ---- views ----

namespace {
// Calls back when a window's native surface is about to be destroyed (GUI thread).
class SurfaceWatch : public QObject {
public:
    SurfaceWatch(QWindow* window, std::function<void()> goes) : m_goes(std::move(goes)) {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::PlatformSurface &&
            static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
                QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
            m_goes();
        return false;
    }

private:
    std::function<void()> m_goes;
};
} // namespace

GsViewImpl::GsViewImpl(QWindow* window, int width, int height, GsDevice* device)
    : m_window(window), m_width(width), m_height(height) {
    (void)device;
    if (window)
        m_surfaceWatch = std::make_unique<SurfaceWatch>(window, [this] { ReleaseWindow(); });
}

void GsViewImpl::ReleaseWindow() {
    if (DeviceImpl* d = gs::impl()) {
        std::lock_guard<std::recursive_mutex> cycle(d->mutex);
        m_binding.reset();
    } else {
        m_binding.reset();
    }
}

GsViewImpl::~GsViewImpl() {
    Detach();
    SetScene(nullptr);
}

void GsViewImpl::Attch() {
    if (gs::impl())
        joinList(gs::impl()->views, this);
    GsRequestFrame();
}

void GsViewImpl::Detach() {
    // After this the window may be destroyed: no cycle presents into it any more.
    if (DeviceImpl* d = gs::impl()) {
        leaveList(d->views, static_cast<GsViewImpl*>(this));
    }
    ReleaseWindow();
    // The watch goes with the window's thread while it is there to go on.
    if (m_surfaceWatch && m_surfaceWatch->thread() == QThread::currentThread())
        m_surfaceWatch.reset();
}

void GsViewImpl::SetBackgroundColor(float r, float g, float b, float a) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_background[0] = r;
        m_background[1] = g;
        m_background[2] = b;
        m_background[3] = a;
    }
    GsRequestFrame();
}

void GsViewImpl::SetClampX(float f) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clampX = f;
    }
    GsRequestFrame();
}

void GsViewImpl::SetClampY(float f) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clampY = f;
    }
    GsRequestFrame();
}

void GsViewImpl::SetScene(GsScene* scene) {
    // Under the frame cycle's lock: the cycle takes the view's scene and
    // draws it without holding a reference across the swap, so the old
    // scene may only go between cycles.
    GsDeviceScope cycle;
    GsScene* old;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        old = m_scene;
        if (scene)
            scene->AddRef();
        m_scene = scene;
    }
    if (old)
        old->Release();
    GsRequestFrame();
}

GsScene* GsViewImpl::scene() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_scene;
}

void GsViewImpl::Resize(int width, int height) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_width = width;
        m_height = height;
    }
    GsRequestFrame();
}

int GsViewImpl::width() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_width;
}

int GsViewImpl::height() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_height;
}

void GsViewImpl::clampLines(float* x, float* y) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    *x = m_clampX;
    *y = m_clampY;
}

gs_vec2 GsViewImpl::preview_offset() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A window point plus this offset is the point from the window's centre.
    return {-m_width / 2.0f, -m_height / 2.0f};
}

void GsViewImpl::DrawSceneTexture(float w, float h) {
    DeviceImpl* d = gs::impl();
    GsScene* s = scene();
    if (!d || !s || !s->sceneTexture() || w <= 0 || h <= 0)
        return;
    if (!GsContextDefault::BindShader("rgba"))
        return;
    GsTextureBinder bind(s->sceneTexture());
    // The scene was composed over a clear canvas: where a picture lets it
    // through, its colour already holds that picture's opacity, as the
    // export writes it (over black). Blended by its alpha once more it would
    // show darker than the export (half opacity as a quarter); its colour is
    // copied as it stands, and the window keeps its own, opaque alpha.
    d->gl->glBlendFuncSeparate(GL_ONE, GL_ZERO, GL_ZERO, GL_ONE);
    GsContextDefault::DrawRect({0, 0, w, h, 0}, {float(width()), float(height())});
    d->gl->glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    GsContextDefault::UnbindShader();
}

gs_vec2 GsViewImpl::SceneSizeInWindow() const {
    GsScene* s = scene();
    if (!s || s->width() <= 0 || s->height() <= 0)
        return {0, 0};
    // Fit the scene into the window.
    float scale = std::min(float(width()) / s->width(), float(height()) / s->height());
    return {s->width() * scale, s->height() * scale};
}

void GsViewImpl::Draw() {
    const gs_vec2 size = SceneSizeInWindow();
    DrawSceneTexture(size.x, size.y);
}

bool GsViewImpl::HoldsWindow() const {
    DeviceImpl* d = gs::impl();
    if (!d)
        return false;
    std::lock_guard<std::recursive_mutex> cycle(d->mutex);
    return m_binding && m_binding->held();
}

void GsViewImpl::Present() {
    DeviceImpl* d = gs::impl();
    if (!d || !m_window || !m_window->isExposed() || width() <= 0 || height() <= 0)
        return;
    if (!d->context->makeCurrent(m_window))
        return;
    if (!m_binding && gs::WindowBinding::useful(d->context))
        m_binding = std::make_unique<gs::WindowBinding>(m_window, d->context->format());
    GsScene* s = scene();
    qreal ratio = m_window->devicePixelRatio();
    if (s) {
        const gs_vec2 shown = SceneSizeInWindow();
        s->Render(int(std::ceil(shown.x * ratio)), int(std::ceil(shown.y * ratio)));
    }
    float bg[4];
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::memcpy(bg, m_background, sizeof bg);
    }
    d->pushTarget(d->context->defaultFramebufferObject(), width(), height(), int(width() * ratio),
                  int(height() * ratio), false);
    d->gl->glClearColor(bg[0], bg[1], bg[2], bg[3]);
    d->gl->glClear(GL_COLOR_BUFFER_BIT);
    Draw();
    d->popTarget();
    d->context->swapBuffers(m_window);
    OnPresented();
    d->makeCurrent();
}

// ---- YUV planes ----

namespace {
// Turns planes into RGB; registered with the other programs.
constexpr char kPlaneProgram[] = "rgba_from_yuv";
} // namespace

GsPlaneConverter::~GsPlaneConverter() {
    GsDeviceScope scope;
    if (!scope.ok())
        return;
    auto* gl = gs::impl()->gl;
    for (GLuint& id : m_planes) {
        if (id)
            gl->glDeleteTextures(1, &id);
        id = 0;
    }
    if (m_fbo)
        gl->glDeleteFramebuffers(1, &m_fbo);
    m_fbo = 0;
}

GsPlaneConverter* GsPlaneConverter::ForDevice() {
    DeviceImpl* d = gs::impl();
    if (!d)
        return nullptr;
    if (!d->planeConverter)
        d->planeConverter = std::make_unique<GsPlaneConverter>();
    return d->planeConverter.get();
}

bool GsPlaneConverter::Available() {
    DeviceImpl* d = gs::impl();
    return d && d->program(kPlaneProgram);
}

bool GsPlaneConverter::upload(int index, const uint8_t* data, int stride, int width, int height, int channels,
                              bool words) {
    auto* gl = gs::impl()->gl;
    const int texel = channels * (words ? 2 : 1);
    if (!data || width <= 0 || height <= 0 || stride < width * texel || stride % texel)
        return false;
    const GLenum format = channels == 2 ? GL_RG : GL_RED;
    const GLenum type = words ? GL_UNSIGNED_SHORT : GL_UNSIGNED_BYTE;
    const GLint inside = channels == 2 ? (words ? GL_RG16 : GL_RG8) : (words ? GL_R16 : GL_R8);
    GLuint& id = m_planes[index];
    Plane& p = m_shape[index];
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, stride / texel);
    gl->glActiveTexture(GL_TEXTURE0 + GLenum(index));
    if (id && p.width == width && p.height == height && p.inside == inside) {
        gl->glBindTexture(GL_TEXTURE_2D, id);
        gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, type, data);
    } else {
        if (!id)
            gl->glGenTextures(1, &id);
        gl->glBindTexture(GL_TEXTURE_2D, id);
        gl->glTexImage2D(GL_TEXTURE_2D, 0, inside, width, height, 0, format, type, data);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        p = Plane {width, height, inside};
    }
    gl->glBindSampler(GLuint(index), 0);
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    return true;
}

bool GsPlaneConverter::Convert(const GsPlanes& planes, int x, int y, int w, int h,
                               std::unique_ptr<GsTexture>& slot) {
    DeviceImpl* d = gs::impl();
    if (!d || (planes.count != 2 && planes.count != 3) || planes.bits < 8 || planes.bits > 16 ||
        (planes.count == 2 && planes.bits != 8) || x < 0 || y < 0 || w <= 0 || h <= 0 ||
        x + w > planes.width || y + h > planes.height || w > GsTexture::kMaxSide || h > GsTexture::kMaxSide)
        return false;
    GsDeviceScope scope;
    const DeviceImpl::Program* program = scope.ok() ? d->program(kPlaneProgram) : nullptr;
    if (!program)
        return false;
    auto* gl = d->gl;
    // The target first: making a texture binds it to the active unit,
    // which must not be one the planes are bound to.
    if (!slot || slot->width() != w || slot->height() != h) {
        auto made = std::make_unique<GsTexture>(w, h);
        if (!made->valid())
            return false;
        slot = std::move(made);
    }
    const bool words = planes.bits > 8;
    const int cw = -((-planes.width) >> planes.chromaShiftX), ch = -((-planes.height) >> planes.chromaShiftY);
    bool uploaded = upload(0, planes.data[0], planes.stride[0], planes.width, planes.height, 1, words);
    if (planes.count == 2) {
        uploaded = uploaded && upload(1, planes.data[1], planes.stride[1], cw, ch, 2, words);
    } else {
        uploaded = uploaded && upload(1, planes.data[1], planes.stride[1], cw, ch, 1, words) &&
                   upload(2, planes.data[2], planes.stride[2], cw, ch, 1, words);
    }
    if (!uploaded) {
        gl->glActiveTexture(GL_TEXTURE0);
        LOGW("graphics: a %dx%d YUV picture cannot be uploaded", planes.width, planes.height);
        return false;
    }
    if (!m_fbo)
        gl->glGenFramebuffers(1, &m_fbo);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
    gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, slot->id(), 0);

    // Sampled values are fractions of 255 (bytes) or 65535 (words).
    const double top = words ? 65535.0 : 255.0;
    const double unit = double(1 << (planes.bits - 8));
    const double most = double((1 << planes.bits) - 1);
    float scale[4];
    if (planes.fullRange) {
        scale[0] = float(top / most);
        scale[1] = 0.0f;
        scale[2] = float(top / most);
        scale[3] = float(-128.0 * unit / most);
    } else {
        scale[0] = float(top / (219.0 * unit));
        scale[1] = float(-16.0 / 219.0);
        scale[2] = float(top / (224.0 * unit));
        scale[3] = float(-128.0 / 224.0);
    }
    const double kr = planes.kr, kb = planes.kb, kg = 1.0 - kr - kb;
    const float block[20] = {
        scale[0], scale[1], scale[2], scale[3],
        float(2 * (1 - kr)), float(-2 * (1 - kb) * kb / kg), float(-2 * (1 - kr) * kr / kg), float(2 * (1 - kb)),
        float(x), float(y), 0, 0,
        1.0f / float(1 << planes.chromaShiftX), 1.0f / float(1 << planes.chromaShiftY), 1.0f / float(cw),
        1.0f / float(ch),
        planes.count == 2 ? 1.0f : 0.0f, 0, 0, 0,
    };
    if (!m_block)
        m_block = std::make_unique<GsConstantBuffer>(int(sizeof block));
    m_block->Update(block, int(sizeof block));
    d->pushTarget(m_fbo, w, h, w, h, false);
    bool drawn = false;
    if (GsContextDefault::BindShader(kPlaneProgram) && m_block->Bind(0)) {
        const char* names[3] = {"plane_y", "plane_u", "plane_v"};
        for (int i = 0; i < 3; ++i) {
            const GLint at = gl->glGetUniformLocation(program->id, names[i]);
            if (at >= 0)
                gl->glUniform1i(at, i);
        }
        gl->glDisable(GL_BLEND);
        GsContextDefault::DrawRect({0, 0, float(w), float(h), 0}, {float(w), float(h)});
        gl->glEnable(GL_BLEND);
        drawn = true;
    }
    GsContextDefault::UnbindShader();
    d->popTarget();
    for (int i = 2; i >= 0; --i) {
        gl->glActiveTexture(GL_TEXTURE0 + GLenum(i));
        gl->glBindTexture(GL_TEXTURE_2D, 0);
    }
    if (!drawn)
        LOGW("graphics: the %s program cannot draw", kPlaneProgram);
    return drawn;
}

// ---- raw output ----

namespace {
// Packs the drawn picture as YUV 4:2:0 planes; registered with the other programs.
constexpr char kPackProgram[] = "rgba_to_yuv420";
} // namespace

GsOutputRaw::GsOutputRaw(GsScene* scene, int width, int height, int format, GsDevice* device)
    : m_scene(scene), m_width(width), m_height(height), m_asked(format) {
    (void)device;
    if (m_scene)
        m_scene->AddRef();
}

GsOutputRaw::~GsOutputRaw() {
    if (m_started)
        Stop();
    if (m_scene)
        m_scene->Release();
}

void GsOutputRaw::Start() {
    if (m_started)
        return;
    if (m_width <= 0 || m_height <= 0 || m_width > GsTexture::kMaxSide || m_height > GsTexture::kMaxSide) {
        LOGE("graphics: no output of %dx%d", m_width, m_height);
        return;
    }
    GsDeviceScope scope;
    if (!scope.ok() || !gs::makeTarget(m_width, m_height, &m_target, &m_fbo))
        return;
    m_format = GsFormatRGBA;
    if (m_asked == GsFormatI420BT709 || m_asked == GsFormatI420BT601) {
        // Four bytes of a plane to a pixel: the width must give whole pixels
        // in the chroma rows, the height whole rows of two chroma rows.
        if (m_width % 8 == 0 && m_height % 4 == 0 && gs::impl()->program(kPackProgram) &&
            gs::makeTarget(m_width / 4, m_height * 3 / 2, &m_packTarget, &m_packFbo)) {
            m_format = m_asked;
            m_packBlock = std::make_unique<GsConstantBuffer>(int(sizeof(float) * 16));
        } else {
            LOGW("graphics: %dx%d pictures are read back as RGBA (no %s program, or a size it does not pack)",
                 m_width, m_height, kPackProgram);
        }
    }
    auto* gl = gs::impl()->gl;
    gl->glGenBuffers(2, m_pbo);
    for (unsigned pbo : m_pbo) {
        gl->glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo);
        gl->glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(frameBytes()), nullptr, GL_STREAM_READ);
    }
    gl->glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    m_started = true;
    RegisterOutput(this);
}

void GsOutputRaw::Stop() {
    if (!m_started)
        return;
    UnregisterOutput(this);
    GsDeviceScope scope;
    if (scope.ok()) {
        // The frames still in flight, oldest first.
        deliverPending();
        m_next ^= 1;
        deliverPending();
        auto* gl = gs::impl()->gl;
        gl->glDeleteBuffers(2, m_pbo);
        if (m_fbo)
            gl->glDeleteFramebuffers(1, &m_fbo);
        if (m_packFbo)
            gl->glDeleteFramebuffers(1, &m_packFbo);
    }
    m_pbo[0] = m_pbo[1] = 0;
    m_fbo = m_packFbo = 0;
    m_target.reset();
    m_packTarget.reset();
    m_packBlock.reset();
    m_started = false;
}

void GsOutputRaw::OnFrame(int, int, const uint8_t*, int, int64_t) {}

void GsOutputRaw::deliverPending() {
    // The buffer at m_next was filled one capture ago.
    int index = m_next;
    if (!m_pending[index])
        return;
    m_pending[index] = false;
    auto* gl = gs::impl()->gl;
    gl->glBindBuffer(GL_PIXEL_PACK_BUFFER, m_pbo[index]);
    const void* data = gl->glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(frameBytes()), GL_MAP_READ_BIT);
    if (data)
        OnFrame(m_width, m_height, static_cast<const uint8_t*>(data),
                m_format == GsFormatRGBA ? m_width * 4 : m_width, m_pendingTime[index]);
    else
        LOGE("graphics: a finished frame cannot be read back");
    gl->glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    gl->glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

size_t GsOutputRaw::frameBytes() const {
    const size_t pixels = size_t(m_width) * size_t(m_height);
    return m_format == GsFormatRGBA ? pixels * 4 : pixels * 3 / 2;
}

bool GsOutputRaw::pack() {
    // Kr and Kb of the output's matrix; the rows below follow from them.
    const bool hd = m_format == GsFormatI420BT709;
    const float kr = hd ? 0.2126f : 0.299f, kb = hd ? 0.0722f : 0.114f, kg = 1.0f - kr - kb;
    const float block[16] = {
        kr, kg, kb, 0,
        -kr / (2 * (1 - kb)), -kg / (2 * (1 - kb)), 0.5f, 0,
        0.5f, -kg / (2 * (1 - kr)), -kb / (2 * (1 - kr)), 0,
        float(m_width), float(m_height), 0, 0,
    };
    DeviceImpl* d = gs::impl();
    const int w = m_width / 4, h = m_height * 3 / 2;
    d->pushTarget(m_packFbo, w, h, w, h, false);
    m_packBlock->Update(block, int(sizeof block));
    bool drawn = false;
    if (GsContextDefault::BindShader(kPackProgram) && m_packBlock->Bind(0)) {
        // Every byte is written as it is: no blending with what was there.
        d->gl->glDisable(GL_BLEND);
        GsTextureBinder bind(m_target.get());
        GsContextDefault::DrawRect({0, 0, float(w), float(h), 0}, {float(w), float(h)});
        d->gl->glEnable(GL_BLEND);
        drawn = true;
    }
    GsContextDefault::UnbindShader();
    if (!drawn) {
        d->popTarget();
        LOGE("graphics: the picture cannot be packed as YUV 4:2:0");
    }
    return drawn;
}

GsPixelRect GsOutputRaw::pictureArea() const {
    const GsPixelRect whole{0, 0, m_width, m_height};
    const int sceneW = m_scene ? m_scene->width() : 0, sceneH = m_scene ? m_scene->height() : 0;
    if (sceneW <= 0 || sceneH <= 0)
        return whole;
    // The scene keeps its shape: bars above and below or at the sides, with
    // even sides and offsets, so that no 2 x 2 chroma block holds both.
    const double scale = std::min(double(m_width) / sceneW, double(m_height) / sceneH);
    const int w = std::min(m_width, 2 * int(std::lround(sceneW * scale / 2)));
    const int h = std::min(m_height, 2 * int(std::lround(sceneH * scale / 2)));
    if (w <= 0 || h <= 0)
        return whole;
    // Shapes that differ by rounding only (1000 x 563 into 1280 x 720) fill
    // the output: a stretch of under 1 % is not seen, a line of black is.
    if ((m_width - w) * 100 < m_width && (m_height - h) * 100 < m_height)
        return whole;
    return GsPixelRect{(m_width - w) / 2 & ~1, (m_height - h) / 2 & ~1, w, h};
}

void GsOutputRaw::Capture(int64_t timestamp) {
    DeviceImpl* d = gs::impl();
    if (!d || !m_started || !m_scene)
        return;
    const GsPixelRect area = pictureArea();
    d->pushTarget(m_fbo, m_scene->width(), m_scene->height(), m_width, m_height, true, area);
    if (area.width != m_width || area.height != m_height) {
        // The bars: a scene that covers itself clears nothing outside it.
        d->gl->glClearColor(0, 0, 0, 1);
        d->gl->glClear(GL_COLOR_BUFFER_BIT);
    }
    m_scene->Draw(0, 0, 0, 1);
    const bool packed = m_format != GsFormatRGBA;
    if (packed && !pack()) {
        d->popTarget();
        return; // logged; the frame is not delivered
    }
    // Read into this capture's buffer; the copy runs while the next frame is drawn.
    int index = m_next;
    d->gl->glBindBuffer(GL_PIXEL_PACK_BUFFER, m_pbo[index]);
    if (packed)
        d->gl->glReadPixels(0, 0, m_width / 4, m_height * 3 / 2, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    else
        d->gl->glReadPixels(0, 0, m_width, m_height, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    d->gl->glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (packed)
        d->popTarget();
    d->popTarget();
    m_pending[index] = true;
    m_pendingTime[index] = timestamp;
    m_next ^= 1;
    deliverPending();
}

bool GsOutputRaw::CaptureLayer(std::vector<uint8_t>* rgba, GsPixelRect* drawn) {
    DeviceImpl* d = gs::impl();
    *drawn = GsPixelRect();
    if (!d || !m_started || !m_scene)
        return false;
    d->pushTarget(m_fbo, m_scene->width(), m_scene->height(), m_width, m_height, true, pictureArea());
    d->trackDrawn = true;
    d->drawn = DeviceImpl::Bounds();
    m_scene->Draw(0, 0, 0, 0);
    d->trackDrawn = false;
    const DeviceImpl::Bounds b = d->drawn;
    if (b.x1 > b.x0 && b.y1 > b.y0) {
        // Whole chroma blocks; the output's sides are even.
        const int x0 = b.x0 & ~1, y0 = b.y0 & ~1;
        const int x1 = std::min((b.x1 + 1) & ~1, m_width), y1 = std::min((b.y1 + 1) & ~1, m_height);
        *drawn = GsPixelRect{x0, y0, x1 - x0, y1 - y0};
        rgba->resize(size_t(drawn->width) * size_t(drawn->height) * 4);
        // The off-screen target holds the top row first.
        d->gl->glPixelStorei(GL_PACK_ALIGNMENT, 4);
        d->gl->glReadPixels(x0, y0, drawn->width, drawn->height, GL_RGBA, GL_UNSIGNED_BYTE, rgba->data());
    }
    d->popTarget();
    return true;
}

void GsOutputRaw::Flush() {
    if (!gs::impl() || !m_started)
        return;
    // The newest capture went into the buffer before m_next.
    m_next ^= 1;
    deliverPending();
    m_next ^= 1;
}

// ---- the frame cycle ----

void RegisterOutput(GsOutputRaw* output) {
    if (gs::impl())
        joinList(gs::impl()->outputs, output);
    GsRequestFrame();
}

void UnregisterOutput(GsOutputRaw* output) {
    // The list's reference; the output's owner still holds its own.
    if (gs::impl())
        leaveList(gs::impl()->outputs, output);
}

bool AnyOutputRegistered() {
    DeviceImpl* d = gs::impl();
    if (!d)
        return false;
    std::lock_guard<std::mutex> lock(d->listsMutex);
    return !d->outputs.empty();
}

namespace {

template <typename T>
std::vector<T*> referenced(std::vector<T*>& list, std::mutex& mutex) {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<T*> copy = list;
    for (T* item : copy)
        item->AddRef();
    return copy;
}

template <typename T>
void releaseAll(const std::vector<T*>& list) {
    for (T* item : list)
        item->Release();
}

std::vector<GsScene*> activeScenes(DeviceImpl* d) {
    std::vector<GsScene*> scenes;
    std::lock_guard<std::mutex> lock(d->listsMutex);
    auto add = [&](GsScene* s) {
        if (s && std::find(scenes.begin(), scenes.end(), s) == scenes.end()) {
            s->AddRef();
            scenes.push_back(s);
        }
    };
    for (GsViewImpl* v : d->views)
        add(v->scene());
    for (GsOutputRaw* o : d->outputs)
        add(o->scene());
    return scenes;
}

} // namespace

void TickSource() {
    DeviceImpl* d = gs::impl();
    if (!d)
        return;
    GsDeviceScope scope;
    if (!scope.ok())
        return;
    // Every scene that a view shows or an output draws.
    for (GsScene* s : activeScenes(d)) {
        s->Update();
        s->Release();
    }
}

namespace {

// Runs `step` on every member of one of the device's lists, on the frame
// cycle's thread with the context current. Members may leave the list
// meanwhile: each is held for the call.
template <typename T, typename Step>
void forEachMember(std::vector<T*> DeviceImpl::*list, Step step) {
    DeviceImpl* d = gs::impl();
    if (!d)
        return;
    GsDeviceScope scope;
    if (!scope.ok())
        return;
    std::vector<T*> members = referenced(d->*list, d->listsMutex);
    for (T* member : members)
        step(member);
    releaseAll(members);
}

} // namespace

void HandleFilter() { forEachMember(&DeviceImpl::filters, [](GsFilter* f) { f->RunRender(); }); }

void OutputFrame(int64_t timestamp, int count) {
    if (count > 0)
        forEachMember(&DeviceImpl::outputs, [timestamp](GsOutputRaw* o) { o->Capture(timestamp); });
}

void FlushOutputs() { forEachMember(&DeviceImpl::outputs, [](GsOutputRaw* o) { o->Flush(); }); }

void DrawDisplay() { forEachMember(&DeviceImpl::views, [](GsViewImpl* v) { v->Present(); }); }
