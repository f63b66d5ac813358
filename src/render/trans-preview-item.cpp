#include "trans-preview-item.h"

#include "render/fit-size.h"
#include "render/shader-library.h"
#include "render/video-decoder-task.h"


TransFilter::TransFilter(int width, int height) : GsFilter(width, height) {}

void TransFilter::set(GsTexture* texture, const gs_transform& transform, const ColourControls& colour) {
    m_texture = texture;
    m_transform = transform;
    m_colour = colour;
}

void TransFilter::Render() {
    if (!m_texture)
        return;
    GsContextDefault::SetViewport(0, 0, width(), height());
    if (!m_buffer)
        m_buffer = std::make_unique<GsConstantBuffer>(int(sizeof(ColourBlock)));
    // The layer's transparency is applied by the transition program instead.
    ColourBlock block = colourBlock(m_colour, 1.0f);
    m_buffer->Update(&block, int(sizeof block));
    GsTextureBinder bind(m_texture);
    if (GsContextDefault::BindShader("rgba_base")) {
        if (m_buffer->Bind(0))
            GsContextDefault::DrawRect(m_transform, {float(width()), float(height())});
    }
    GsContextDefault::UnbindShader();
}

TransPreviewItem::TransPreviewItem() {
    z = kZ;
    visible = false;
    hoverable = false;
    selectable = false;
}

TransPreviewItem::~TransPreviewItem() {
    for (TransFilter*& f : m_filters) {
        if (f) {
            f->Detach();
            f->Release();
            f = nullptr;
        }
    }
}

void TransPreviewItem::setPending(const RenderProps& props) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending = props;
    m_hasPending = true;
}

void TransPreviewItem::setCurrent(const RenderProps& props) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_current = props;
}

void TransPreviewItem::prepareLayer(int index, const VFrameInfo& layer) {
    if (layer.frame) {
        QRect part = visiblePart(layer.clipRect, layer.frame->width, layer.frame->height);
        if (part.isEmpty()) {
            m_textures[index].reset();
            m_uploaded[index].reset();
        } else if (layer.frame != m_uploaded[index] || part != m_uploadedPart[index] || !m_textures[index]) {
            const bool filled = fillFrameTexture(m_textures[index], layer.frame, part);
            m_uploaded[index] = filled ? layer.frame : nullptr;
            m_uploadedPart[index] = part;
        }
    }
    GsScene* s = scene();
    GsTexture* texture = layer.frame ? m_textures[index].get() : nullptr;
    if (texture && s && !m_filters[index]) {
        m_filters[index] = new TransFilter(s->width(), s->height());
        m_filters[index]->Attach();
    }
    if (!m_filters[index])
        return;
    m_direct[index] = false;
    m_covers[index] = false;
    if (!texture) {
        m_filters[index]->set(nullptr, gs_transform {}, ColourControls {});
        return;
    }
    gs_vec2 drawn = fitSize({layer.width, layer.height}, texture->width(), texture->height(), layer.stretch);
    // A picture that covers the scene exactly with its colours at rest would
    // only be copied by the filter: the transition samples it directly.
    const bool atRest = layer.colour.atRest();
    m_covers[index] = s && layer.frame->opaque && layer.transparent >= 1.0f &&
                      coversScene(layer.centerX, layer.centerY, drawn, layer.rotation, s->width(), s->height());
    if (s && atRest && layer.centerX == 0 && layer.centerY == 0 && layer.rotation == 0 &&
        drawn.x == float(s->width()) && drawn.y == float(s->height())) {
        m_direct[index] = true;
        m_filters[index]->set(nullptr, gs_transform {}, ColourControls {});
        return;
    }
    m_filters[index]->set(texture, {layer.centerX, layer.centerY, drawn.x, drawn.y, layer.rotation}, layer.colour);
}

void TransPreviewItem::Update() {
    RenderProps current;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_skipPending && m_hasPending) {
            m_current = m_pending;
            m_hasPending = false;
        }
        current = m_current;
    }
    prepareLayer(0, current.from);
    prepareLayer(1, current.to);
    GsDevice* device = GsDevice::DefaultDevice();
    m_programReady = device && device->HasShader(current.program.toStdString());
}

void TransPreviewItem::Draw() {
    GsScene* s = scene();
    bool any = m_filters[0] || m_filters[1];
    if (!s || !visible || !any || !(m_textures[0] || m_textures[1]))
        return;
    RenderProps current;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        current = m_current;
    }
    GsContextDefault::SetViewport(0, 0, s->width(), s->height());
    if (!m_buffer)
        m_buffer = std::make_unique<GsConstantBuffer>(int(sizeof(TransitionBlock)));
    TransitionBlock block = {float(current.progress), float(s->width()) / float(s->height()),
                             current.from.transparent, current.to.transparent};
    m_buffer->Update(&block, int(sizeof block));
    GsTexture* sources[2];
    for (int i = 0; i < 2; ++i)
        sources[i] = m_direct[i] ? m_textures[i].get() : (m_filters[i] ? m_filters[i]->texture() : nullptr);
    GsTextureBinder bind(sources[0], sources[1]);
    if (GsContextDefault::BindShader(current.program.toStdString())) {
        if (m_buffer->Bind(0))
            GsContextDefault::DrawRect({0, 0, float(s->width()), float(s->height()), 0},
                                       {float(s->width()), float(s->height())});
    }
    GsContextDefault::UnbindShader();
}
