// The preview panel: the interactive preview window, the time display, the
// transport buttons (back, play, front, replay, full screen) and the zoom
// slider. GUI thread only.
//
// Wiring it makes with the render manager given at construction (which must
// outlive it; null leaves the panel unwired, for tests): sig_queryScene ->
// RenderManager::sig_queryScene; RenderManager::sig_sendScene ->
// slot_setScene; RenderManager::sig_controlPlay clicks the play button;
// sig_opertorUi -> RenderManager::slot_opertorUi; the window's sig_closeMenu
// -> RenderManager::sig_closeMenu. The buttons emit the render manager's
// frame requests and call its setPlaying.
//
// For the main window: sig_toolButtonFront, sig_toolButtonBack,
// sig_toolButtonPlay and sig_toolButtonReplay are inputs (a shortcut connected
// to one clicks that button); sig_toolButtonFull is an output, emitted by the
// full-screen button (connect it, and F5, to the full-preview toggle);
// sig_removeSourceItem carries the preview's Delete key to the timeline;
// slot_showTime takes the timeline's sig_showTime.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>

class GsScene;
class RenderManager;
class ZyePreviewWindow;
class QLabel;
class QSlider;
class QToolButton;

namespace Ui {
class PreviewWidget;
}

class PreviewWidget : public QWidget {
    Q_OBJECT
public:
    // The zoom slider's range and start; each step is 0.1 of the scene's size.
    static constexpr int kScaleMin = 0;
    static constexpr int kScaleMax = 10;
    static constexpr int kScaleStart = 3;

    explicit PreviewWidget(RenderManager* render, QWidget* parent = nullptr);
    ~PreviewWidget() override;

    ZyePreviewWindow* previewWindow() const;
    // The zoom for a slider value: 1.0 + 0.1 x (3 - value), times the scale
    // that fits the canvas into the panel.
    static double zoomFor(int sliderValue);
    double zoom() const { return m_zoom; }
    // "%1:%2:%3,%4": hours, minutes, seconds, frame within the second (30 fps).
    static QString timeText(int64_t frame);

signals:
    void sig_queryScene();
    void sig_toolButtonFront();
    void sig_toolButtonBack();
    void sig_toolButtonPlay();
    void sig_toolButtonReplay();
    void sig_toolButtonFull();
    void sig_opertorUi(bool playing, bool recording);
    void sig_removeSourceItem();

public slots:
    // Hands the scene to the view (a reference is taken).
    void slot_setScene(GsScene* scene);
    void on_toolButton_front_clicked();
    void on_toolButton_back_clicked();
    void on_toolButton_play_clicked(bool checked);
    void on_toolButton_replay_clicked();
    void on_toolButton_full_clicked();
    void slot_showTime(int64_t current, int64_t total);
    void on_horizontalSlider_scale_valueChanged(int value);

protected:
    // One slider step per wheel turn: towards the user zooms out.
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyZoom();

    std::unique_ptr<Ui::PreviewWidget> m_ui;
    RenderManager* m_render; // not owned
    int m_sliderValue = kScaleStart;
    int64_t m_shownFrame = 0; // the play head and the timeline's length, as the time shows them
    int64_t m_shownTotal = 0;
    double m_zoom = 1.0;
};
