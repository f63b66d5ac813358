#include "display-window.h"

#include "render/audio/sound-clock.h"
#include "render/preview-item.h"
#include "render/video-decoder-task.h"
#include "value/interface.h"

#include <QImage>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

DisplaySurface::DisplaySurface() {
    setSurfaceType(QSurface::OpenGLSurface);
    // The engine's context draws here: the window needs a matching visual.
    setFormat(GsDevice::SurfaceFormat());
}

void DisplaySurface::exposeEvent(QExposeEvent*) {
    GsRequestFrame();
    emit exposedChanged();
}

void DisplaySurface::resizeEvent(QResizeEvent*) {
    GsRequestFrame();
    emit exposedChanged();
}

// ---- ZyeGsView ----

ZyeGsView::ZyeGsView(QWindow* window, int width, int height) : GsViewImpl(window, width, height) {}

ZyeGsView::~ZyeGsView() { VideoTaskManager::forgetScreen(this); }

namespace {
std::unique_ptr<GsTexture> solid(uint32_t rgba) {
    uint32_t pixels[4] = {rgba, rgba, rgba, rgba};
    return std::make_unique<GsTexture>(reinterpret_cast<const uint8_t*>(pixels), 8, GsTexture::RGBA, 2, 2);
}

QImage rotateIcon() {
    QImage icon(QStringLiteral(":/image/rotate.png"));
    if (icon.isNull()) {
        // No picture in the resources: a drawn circular arrow.
        icon = QImage(32, 32, QImage::Format_RGBA8888);
        icon.fill(Qt::transparent);
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0xf5, 0xa6, 0x23), 3));
        p.drawArc(QRectF(5, 5, 22, 22), 30 * 16, 300 * 16);
        p.setBrush(QColor(0xf5, 0xa6, 0x23));
        p.drawPolygon(QPolygonF({QPointF(22, 2), QPointF(30, 10), QPointF(20, 12)}));
    }
    icon = icon.convertToFormat(QImage::Format_RGBA8888);
    LOGD("rotate_image: %dx%d", icon.width(), icon.height());
    return icon;
}
} // namespace

void ZyeGsView::ensureTextures() {
    if (m_blue)
        return;
    m_blue = solid(0xffff8c3c);  // ABGR in memory: r 0x3c, g 0x8c, b 0xff
    m_red = solid(0xff2020e0);
    m_green = solid(0xff40c040);
    m_black = solid(0xff000000);
    QImage icon = rotateIcon();
    m_rotate = std::make_unique<GsTexture>(icon.constBits(), int(icon.bytesPerLine()), GsTexture::RGBA,
                                           icon.width(), icon.height());
}

void ZyeGsView::drawBox(GsTexture* texture, float x, float y, float w, float h, float rotation, float canvasW,
                        float canvasH) {
    GsTextureBinder bind(texture);
    GsContextDefault::DrawRect({x, y, w, h, rotation}, {canvasW, canvasH});
}

void ZyeGsView::drawFrame(GsItem* item, float s, float canvasW, float canvasH) {
    gs_vec2 p = item->pos(), size = item->size();
    float cx = p.x * s, cy = p.y * s, w = size.x * s, h = size.y * s, r = item->rotation;
    if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(w) || !std::isfinite(h) || !std::isfinite(r))
        return;
    float c = std::cos(r), sn = std::sin(r);
    // A point in the item's own axes, on screen.
    auto at = [&](float u, float v) { return gs_vec2 {cx + u * c - v * sn, cy + u * sn + v * c}; };
    GsTexture* colour = item->selected ? m_red.get() : m_blue.get();
    const float line = 2.0f;
    gs_vec2 top = at(0, -h / 2), bottom = at(0, h / 2), left = at(-w / 2, 0), right = at(w / 2, 0);
    drawBox(colour, top.x, top.y, w, line, r, canvasW, canvasH);
    drawBox(colour, bottom.x, bottom.y, w, line, r, canvasW, canvasH);
    drawBox(colour, left.x, left.y, line, h, r, canvasW, canvasH);
    drawBox(colour, right.x, right.y, line, h, r, canvasW, canvasH);
    if (!item->selected)
        return;
    const float handle = kHandle * m_ratio;
    for (float u : {-0.5f, 0.0f, 0.5f}) {
        for (float v : {-0.5f, 0.0f, 0.5f}) {
            if (u == 0.0f && v == 0.0f)
                continue;
            gs_vec2 q = at(u * w, v * h);
            drawBox(m_red.get(), q.x, q.y, handle, handle, r, canvasW, canvasH);
        }
    }
    gs_vec2 icon = at(0, -h / 2 - kRotateGap * m_ratio);
    drawBox(m_rotate.get(), icon.x, icon.y, kRotateIcon * m_ratio, kRotateIcon * m_ratio, r, canvasW, canvasH);
}

gs_vec2 ZyeGsView::SceneSizeInWindow() const {
    GsScene* s = scene();
    if (!s)
        return {0, 0};
    const float k = float(scale());
    return {std::round(s->width() * k), std::round(s->height() * k)};
}

void ZyeGsView::Draw() {
    GsScene* s = scene();
    int w = width(), h = height();
    if (!s || w <= 0 || h <= 0 || s->width() <= 0 || s->height() <= 0)
        return;
    s->mutex().Lock();
    // The preview's decoders need pictures no larger than the views show
    // them, unless the whole scene is also read back. When they now need
    // them larger than the pictures shown were decoded for (small steps of
    // a window being dragged larger add up), those are decoded again.
    VideoTaskManager::setScreenScale(this, AnyOutputRegistered() ? 0.0f : float(scale()));
    const float now = VideoTaskManager::screenScale();
    static float decodedFor = 0.0f; // frame-cycle thread only
    const bool sharper = decodedFor > 0 && (now == 0 || now > decodedFor * 1.01f);
    if (sharper || now < decodedFor || decodedFor == 0)
        decodedFor = now;
    const GsDevice* device = GsDevice::DefaultDevice();
    const bool redecode = sharper && device && device->ConvertsColourOnCpu();
    // The play head's frame this picture shows: the newest any track shows.
    int64_t frame = -1;
    bool missing = false;
    s->EnumItems(
        [&](GsItem* item, void*) {
            auto* video = dynamic_cast<VideoPreviewItem*>(item);
            if (video && redecode && (video->visible || video->companion()->visible))
                video->decodeAgain();
            if (video && video->visible) {
                frame = std::max(frame, video->shownFrame());
                missing = missing || !video->hasPicture();
            }
            return true;
        },
        nullptr);
    m_drawnFrame = frame;
    m_drawnMissing = missing;
    float k = float(scale());
    const gs_vec2 shown = SceneSizeInWindow();
    const float sceneW = shown.x, sceneH = shown.y;
    if (GsContextDefault::BindShader("rgba")) {
        // The canvas is black where no picture covers it.
        ensureTextures();
        drawBox(m_black.get(), 0, 0, sceneW, sceneH, 0, float(w), float(h));
        GsContextDefault::UnbindShader();
    }
    DrawSceneTexture(sceneW, sceneH);
    if (GsContextDefault::BindShader("rgba")) {
        s->EnumItems(
            [&](GsItem* item, void*) {
                if (item->visible && (item->hovered || item->selected))
                    drawFrame(item, k, float(w), float(h));
                return true;
            },
            nullptr);
        // The clamps are the snapped scene lines times the device pixel ratio.
        float clamp[2];
        clampLines(&clamp[0], &clamp[1]);
        float zoom = float(m_zoom.load());
        if (std::isfinite(clamp[0]))
            drawBox(m_green.get(), clamp[0] * zoom, 0, 2, float(h), 0, float(w), float(h));
        if (std::isfinite(clamp[1]))
            drawBox(m_green.get(), 0, clamp[1] * zoom, float(w), 2, 0, float(w), float(h));
        GsContextDefault::UnbindShader();
    }
    s->mutex().Unlock();
}

void ZyeGsView::OnPresented() {
    ++m_presents;
    if (m_drawnFrame < 0 || m_drawnFrame == m_lastFrame)
        return;
    m_lastFrame = m_drawnFrame;
    Presented picture;
    picture.frame = m_drawnFrame;
    picture.missing = m_drawnMissing;
    picture.at = std::chrono::steady_clock::now();
    picture.clocked = SoundClock::instance().measuredAt(picture.at, &picture.heardUs);
    std::lock_guard<std::mutex> lock(m_presentedLock);
    if (m_presented.size() >= kPresentedKept)
        m_presented.pop_front();
    m_presented.push_back(picture);
}

std::vector<ZyeGsView::Presented> ZyeGsView::presented() const {
    std::lock_guard<std::mutex> lock(m_presentedLock);
    return std::vector<Presented>(m_presented.begin(), m_presented.end());
}

// ---- ZyeDisplayWindow ----

ZyeDisplayWindow::ZyeDisplayWindow(QWidget* parent) : QWidget(parent), m_surface(new DisplaySurface) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_StaticContents);
    m_container = QWidget::createWindowContainer(m_surface, this);
    m_container->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_container);
    connect(m_surface, &DisplaySurface::exposedChanged, this, [this] {
        ensureView();
        if (m_view && m_surface->width() > 0) {
            m_view->Resize(m_surface->width(), m_surface->height());
            m_view->setDevicePixelRatio(float(m_surface->devicePixelRatio()));
            emit ViewResized();
        }
    });
}

ZyeDisplayWindow::~ZyeDisplayWindow() {
    if (m_view) {
        m_view->Detach();
        m_view->Release();
    }
    if (m_pendingScene)
        m_pendingScene->Release();
}

void ZyeDisplayWindow::setScene(GsScene* scene) {
    if (m_view) {
        m_view->SetScene(scene);
        return;
    }
    // Kept until the view exists.
    if (scene)
        scene->AddRef();
    if (m_pendingScene)
        m_pendingScene->Release();
    m_pendingScene = scene;
}

void ZyeDisplayWindow::ensureView() {
    if (m_view || !m_surface->isExposed() || !GsDevice::DefaultDevice())
        return;
    m_view = new ZyeGsView(m_surface, m_surface->width(), m_surface->height());
    m_view->setDevicePixelRatio(float(m_surface->devicePixelRatio()));
    m_view->Attch();
    m_view->SetBackgroundColor(0.196f, 0.196f, 0.196f, 1.0f);
    if (m_pendingScene) {
        m_view->SetScene(m_pendingScene);
        m_pendingScene->Release();
        m_pendingScene = nullptr;
    }
    emit ViewCreated();
}

void ZyeDisplayWindow::paintEvent(QPaintEvent*) { ensureView(); }

void ZyeDisplayWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ensureView();
}
