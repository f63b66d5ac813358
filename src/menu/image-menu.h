// The property panel of a picture clip (MenuType 0).
#pragma once

#include "menu/visual-source-menu.h"

class ImageMenu : public VisualSourceMenu {
    Q_OBJECT
public:
    explicit ImageMenu(QWidget* parent = nullptr);

public slots:
    void on_imageX_editingFinished();
    void on_imageY_editingFinished();
    void on_imageWidth_editingFinished();
    void on_imageHeight_editingFinished();
    void on_imageAngle_editingFinished();
    void on_imageTransparency_editingFinished();
    void on_spinBox_contrast_editingFinished();
    void on_spinBox_bright_editingFinished();
    void on_spinBox_highlight_editingFinished();
    void on_spinBox_hue_editingFinished();
    void on_spinBox_temperature_editingFinished();
    void on_spinBox_saturability_editingFinished();
    void on_imageName_editingFinished();
    void on_selfAdaption_clicked();
    void on_stretch_clicked();
    void on_initialSize_clicked();
    void slot_imageMenuSwitch(int page);
};
