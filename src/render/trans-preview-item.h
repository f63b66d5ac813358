// The two classes that draw a transition: a filter per clip that draws the
// clip's frame into a scene-sized texture, and the scene item that blends
// the two textures with the transition's program.
#pragma once

#include "graphics/graphics.h"
#include "render/preview-requests.h"

#include <atomic>
#include <memory>
#include <mutex>

class TransFilter : public GsFilter {
public:
    TransFilter(int width, int height);
    void set(GsTexture* texture, const gs_transform& transform, const ColourControls& colour);
    void Render() override;
    bool HasWork() const override { return m_texture != nullptr; }

private:
    ~TransFilter() override = default;
    GsTexture* m_texture = nullptr; // the item's, which outlives the filter's use of it
    gs_transform m_transform;
    ColourControls m_colour;
    std::unique_ptr<GsConstantBuffer> m_buffer;
};

class TransPreviewItem : public GsItem {
public:
    // Above everything until its clip's item gives it its own stacking
    // (VideoPreviewItem::setStacking), so that pictures and subtitles laid
    // over the clip stay over the transition too.
    static constexpr int32_t kZ = 5000000;

    TransPreviewItem();
    // From the owner's worker: the next state to draw.
    void setPending(const RenderProps& props);
    // During export: the state to draw now, without the pending step.
    void setCurrent(const RenderProps& props);
    void setSkipPending(bool skip) { m_skipPending = skip; }

    void Update() override;
    void Draw() override;
    bool CoversScene() const override { return m_programReady && m_covers[0] && m_covers[1]; }

private:
    ~TransPreviewItem() override;
    void prepareLayer(int index, const VFrameInfo& layer);

    std::mutex m_lock; // guards m_pending, m_hasPending, m_current
    RenderProps m_pending, m_current;
    bool m_hasPending = false;
    std::atomic<bool> m_skipPending {false};
    std::unique_ptr<GsTexture> m_textures[2]; // from, to
    // What each texture holds: a frame is never rewritten while shared, so
    // the same frame and part need no second upload.
    ff::VFramePtr m_uploaded[2];
    QRect m_uploadedPart[2];
    TransFilter* m_filters[2] = {nullptr, nullptr};
    bool m_direct[2] = {false, false}; // the texture itself stands in for the filter's picture
    bool m_covers[2] = {false, false}; // the layer paints the whole scene opaquely
    bool m_programReady = false;      // the current block's program exists
    std::unique_ptr<GsConstantBuffer> m_buffer;
};
