// The preview's drawing surface: a native window inside a widget, into which
// the engine's view presents the scene from the render thread.
#pragma once

#include "graphics/graphics.h"

#include <QWidget>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// The native OpenGL window the view presents into.
class DisplaySurface : public QWindow {
    Q_OBJECT
public:
    DisplaySurface();

signals:
    void exposedChanged();

protected:
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

// The engine's view of the preview: the scene at the zoom, the frames of the
// hovered and selected items with their handles, and the guide lines.
class ZyeGsView : public GsViewImpl {
public:
    ZyeGsView(QWindow* window, int width, int height);

    void setZoom(double zoom) {
        m_zoom = zoom;
        GsRequestFrame();
    }
    double zoom() const { return m_zoom; }
    void setDevicePixelRatio(float ratio) {
        m_ratio = ratio;
        GsRequestFrame();
    }
    // Screen pixels per scene pixel.
    double scale() const { return m_ratio * m_zoom; }

    void Draw() override;
    gs_vec2 SceneSizeInWindow() const override;

    // A picture that reached the window showing a frame of the play head
    // that the one before did not show.
    struct Presented {
        int64_t frame = -1;
        std::chrono::steady_clock::time_point at; // just after the swap
        bool clocked = false; // playback's sound clock ran: heardUs is set
        int64_t heardUs = 0;  // the timeline instant being heard then
        bool missing = false; // a shown video item had no picture to draw
    };
    // Pictures swapped onto the window so far (any content).
    int presents() const { return m_presents.load(); }
    // The newest new frames, oldest first (at most kPresentedKept).
    std::vector<Presented> presented() const;
    static constexpr size_t kPresentedKept = 4096;

    // Handle boxes are this many screen pixels wide; the rotate icon sits
    // this far above the top edge.
    static constexpr float kHandle = 8.0f;
    static constexpr float kRotateIcon = 16.0f;
    static constexpr float kRotateGap = 20.0f;

protected:
    ~ZyeGsView() override;
    void OnPresented() override;

private:
    void ensureTextures();
    void drawFrame(GsItem* item, float s, float canvasW, float canvasH);
    void drawBox(GsTexture* texture, float x, float y, float w, float h, float rotation, float canvasW,
                 float canvasH);

    std::atomic<double> m_zoom {1.0};
    std::atomic<float> m_ratio {1.0f};
    std::unique_ptr<GsTexture> m_blue, m_red, m_green, m_black, m_rotate;
    int64_t m_drawnFrame = -1; // the frame-cycle thread's: set by Draw
    bool m_drawnMissing = false; // likewise: a shown video item had no picture
    int64_t m_lastFrame = -1;  // the frame-cycle thread's: the last new frame
    std::atomic<int> m_presents {0};
    mutable std::mutex m_presentedLock; // guards m_presented
    std::deque<Presented> m_presented;
};

class ZyeDisplayWindow : public QWidget {
    Q_OBJECT
public:
    explicit ZyeDisplayWindow(QWidget* parent = nullptr);
    ~ZyeDisplayWindow() override;

    ZyeGsView* view() const { return m_view; }
    DisplaySurface* surface() const { return m_surface; }
    // Shows this scene (a reference is taken by the view).
    void setScene(GsScene* scene);

signals:
    void ViewCreated();
    void ViewResized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void ensureView();

    DisplaySurface* m_surface;
    QWidget* m_container;
    ZyeGsView* m_view = nullptr; // one reference held
    GsScene* m_pendingScene = nullptr;
};
