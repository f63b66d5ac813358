// The property panel of a video clip (MenuType 1).
#pragma once

#include "menu/visual-source-menu.h"

class VideoMenu : public VisualSourceMenu {
    Q_OBJECT
public:
    explicit VideoMenu(QWidget* parent = nullptr);

public slots:
    // Each spin box gives up the focus first, so no other edit is pending.
    void on_videoX_editingFinished();
    void on_videoY_editingFinished();
    void on_videoWidth_editingFinished();
    void on_videoHeight_editingFinished();
    void on_videoAngle_editingFinished();
    void on_videoTransparency_editingFinished();
    void on_spinBox_contrast_editingFinished();
    void on_spinBox_bright_editingFinished();
    void on_spinBox_highlight_editingFinished();
    void on_spinBox_hue_editingFinished();
    void on_spinBox_temperature_editingFinished();
    void on_spinBox_saturability_editingFinished();
    void on_videoVolumeSlider_valueChanged(int value);
    void on_videoMute_stateChanged(int state);
    void on_selfAdaption_clicked();
    void on_stretch_clicked();
    void on_initialSize_clicked();
    void slot_videoMenuSwitch(int page);
};
