// The scene items that draw what a track shows at the play-head: a video
// preview item for picture and video tracks (decoding on its own worker), a
// subtitle preview item for subtitle tracks.
#pragma once

#include "graphics/graphics.h"
#include "render/preview-requests.h"
#include "render/trans-preview-item.h"

#include <QImage>
#include <QMutex>
#include <QRectF>
#include <QThread>
#include <QWaitCondition>

#include <deque>
#include <memory>
#include <mutex>

class VideoTaskManager;

// What a preview item asks of the track that owns it.
class PreviewTrack {
public:
    virtual ~PreviewTrack() = default;
    virtual void deleteActiveClip() = 0;
    virtual void editActiveClip(int mode) = 0;
    virtual void raiseActiveClip() = 0;
    virtual void lowerActiveClip() = 0;
    // The preview's edit of the active clip: centre and size in scene pixels
    // (x, y are the centre), rotation in whole degrees 0..359. Called inside
    // the preview's undo step; writes only what differs.
    virtual void commitPlacement(const QRectF& previewRect, int rotateDegrees) {
        Q_UNUSED(previewRect);
        Q_UNUSED(rotateDegrees);
    }
    // The user selected or cleared the item in the preview: the track's
    // active clip follows, so the timeline acts on what the preview shows.
    virtual void previewSelectionChanged(bool selected) { Q_UNUSED(selected); }
};

struct ItemGeometry {
    float x, y, width, height, rotation;
};

class PreviewItem : public GsItem {
public:
    explicit PreviewItem(const gs_vec2& baseSize);

    void setTrack(PreviewTrack* track) { m_track = track; }
    PreviewTrack* track() const { return m_track; }
    // Hiding always clears the selection too.
    void setVisible(bool visible);

    virtual void request(const FrameRequest&) {}
    virtual void request(const SubtitleRequest&) {}
    virtual RenderProps renderProps(const FrameRequest&) { return RenderProps(); }
    virtual void applyRenderProps(const RenderProps& props) { setVisible(props.visible); }
    virtual void beginExport() {}
    virtual void endExport() {}
    ItemGeometry geometry() const;
    virtual void deleteClip();
    virtual void editClip(int mode);
    virtual void raiseClip();
    virtual void lowerClip();
    // The stacking in the output picture (the clip's zValue).
    virtual void setStacking(int32_t value) { z = value; }

protected:
    ~PreviewItem() override = default;

private:
    PreviewTrack* m_track = nullptr;
};

class VideoPreviewItem : public PreviewItem, public QThread {
public:
    explicit VideoPreviewItem(const gs_vec2& baseSize);

    // GUI thread: only the newest request is served.
    void request(const FrameRequest& request) override;
    RenderProps renderProps(const FrameRequest& request) override;
    void applyRenderProps(const RenderProps& props) override;
    void beginExport() override;
    void endExport() override;

    TransPreviewItem* companion() const { return m_companion; }
    // The transition takes the clip's place in the stacking, just above the
    // clip itself (the scene's sort is stable and adds it second).
    void setStacking(int32_t value) override;
    // Requests the worker has served (for tests and the log).
    int servedRequests() const { return m_served.load(); }
    RenderProps currentProps();

    void Update() override;
    void Draw() override;
    bool CoversScene() const override;
    const GsTexture* SceneCopy() const override;

    // The worker pauses so that it serves at most one request in this time:
    // twice the timeline's 30 frames a second, so that playback loses no
    // frame to the pause while scrubbing cannot keep it decoding flat out.
    static constexpr int kRequestIntervalUs = 16667;
    // While playing, requests for frame after frame wait their turn, this
    // many at most; any other request replaces those waiting.
    static constexpr int kMaxWaitingRequests = 4;
    // Decoded pictures waiting for the sound clock; when full the oldest goes.
    static constexpr int kMaxDecodedAhead = 8;
    // The play head's frame of the picture the item shows now, -1 when none.
    int64_t shownFrame() const { return m_shownFrame.load(); }
    // Whether the item has a picture to draw (frame-cycle thread's view).
    bool hasPicture() const { return m_hasPicture.load(); }
    // Serves the last request again, when none waits and nothing plays:
    // its pictures are decoded afresh (at a larger size the screen now
    // shows them at). Any thread.
    void decodeAgain();

protected:
    ~VideoPreviewItem() override;
    void Destroy() override;
    void run() override;

private:
    QMutex m_queueLock; // guards m_queued, m_waiting, m_ready, m_quit
    QWaitCondition m_wake;
    FrameRequest m_queued;             // the newest request
    std::deque<FrameRequest> m_waiting; // not served yet, oldest first
    bool m_ready = false;               // m_waiting holds a request
    bool m_quit = false;

    // One decoded request, waiting to be shown.
    struct Decoded {
        int64_t frame = -1;
        bool hasSelf = false;
        RenderProps self;
        bool hasTransition = false;
        RenderProps transition;
    };
    void keep(Decoded decoded);
    // Render thread: the decoded picture due now becomes current.
    void takeDue();

    // While playing, whether the picture of an earlier clip (the one before
    // a cut) is still due: its own place is drawn until the clock reaches
    // the first frame asked of the newest clip. Render thread, under m_stateLock.
    bool earlierClipDue(const VFrameInfo& self) const;
    // Where the picture goes: the item's own place, or the earlier clip's.
    struct Placement {
        gs_vec2 centre;
        gs_vec2 box;
        float rotation = 0.0f;
    };
    Placement placement(const VFrameInfo& self) const;

    mutable std::mutex m_stateLock; // guards m_decoded, m_current, m_clipUuid, m_earlierUuid, m_clipSince
    std::deque<Decoded> m_decoded; // oldest first
    RenderProps m_current;
    std::atomic<int64_t> m_shownFrame {-1};
    std::atomic<bool> m_hasPicture {false};
    QString m_clipUuid; // the clip the item stands for now (the newest request's)
    QString m_earlierUuid; // the clip it stood for before that one
    int64_t m_clipSince = -1; // the play head's frame of the first request for m_clipUuid
    bool m_drawsEarlierClip = false; // the texture is an earlier clip's, drawn at its own place

    std::unique_ptr<GsTexture> m_texture;
    QString m_textureUuid; // the clip m_texture's picture belongs to
    ff::VFramePtr m_uploadedFrame; // what m_texture was made from
    QRect m_uploadedRect;
    std::unique_ptr<GsConstantBuffer> m_buffer;
    std::atomic<bool> m_exporting {false};
    std::unique_ptr<VideoTaskManager> m_exportTasks; // the export thread's
    std::atomic<int> m_served {0};
    TransPreviewItem* m_companion;
};

class SubtitlePreviewItem : public PreviewItem {
public:
    explicit SubtitlePreviewItem(const gs_vec2& baseSize);

    void request(const SubtitleRequest& request) override;
    void applyRenderProps(const RenderProps& props) override;

    // Widest line + 12 by (line breaks + 1) x line spacing + 12.
    static QSizeF textExtent(const QString& text, const QFont& font);
    // The font as the canvas draws it: its points taken at 96 dots an inch,
    // whatever the screen's resolution (or none, on a server), so that a
    // subtitle is the same size in every preview and every export.
    static QFont canvasFont(const QFont& font);
    // The part of the text that can show on a canvas of that size, a line
    // wider than the canvas wrapped onto further lines.
    static QString fitToCanvas(const QString& text, const QFont& font, const gs_vec2& canvas);
    QSizeF extent() const { return m_extent; }
    // Draws the text image again at the item's current size (after a resize).
    void refreshImage() { renderImage(); }
    QImage image();

    void Update() override;
    void Draw() override;

protected:
    ~SubtitlePreviewItem() override = default;

private:
    void take(const SubtitleRequest& look);
    void renderImage();

    SubtitleRequest m_look;
    bool m_hasLook = false;
    QString m_shownText; // m_look's text, cut to the canvas
    QSizeF m_extent;
    gs_vec2 m_renderedSize {0, 0};
    std::mutex m_lock; // guards m_image, m_transparent, m_imageChanged
    QImage m_image;
    float m_transparent = 1.0f;
    bool m_imageChanged = false;
    std::unique_ptr<GsTexture> m_texture;
    std::unique_ptr<GsConstantBuffer> m_buffer;
};
