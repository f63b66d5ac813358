#include "menu/image-menu.h"

#include "values/timeline-keys.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

ImageMenu::ImageMenu(QWidget* parent)
    : VisualSourceMenu(MenuPicture, "image", "image_source_menu", false, parent) {
    setObjectName(QStringLiteral("ImageMenu"));
    loadStyleSheet(QStringLiteral(":/qss/image-menu.css"));
    connect(m_place.x, &QSpinBox::editingFinished, this, &ImageMenu::on_imageX_editingFinished);
    connect(m_place.y, &QSpinBox::editingFinished, this, &ImageMenu::on_imageY_editingFinished);
    connect(m_place.width, &QSpinBox::editingFinished, this, &ImageMenu::on_imageWidth_editingFinished);
    connect(m_place.height, &QSpinBox::editingFinished, this, &ImageMenu::on_imageHeight_editingFinished);
    connect(m_place.angle, &QSpinBox::editingFinished, this, &ImageMenu::on_imageAngle_editingFinished);
    connect(m_place.transparency, &QSpinBox::editingFinished, this,
            &ImageMenu::on_imageTransparency_editingFinished);
    connect(m_contrast, &QSpinBox::editingFinished, this, &ImageMenu::on_spinBox_contrast_editingFinished);
    connect(m_bright, &QSpinBox::editingFinished, this, &ImageMenu::on_spinBox_bright_editingFinished);
    connect(m_highlight, &QSpinBox::editingFinished, this, &ImageMenu::on_spinBox_highlight_editingFinished);
    connect(m_hue, &QSpinBox::editingFinished, this, &ImageMenu::on_spinBox_hue_editingFinished);
    connect(m_temperature, &QSpinBox::editingFinished, this,
            &ImageMenu::on_spinBox_temperature_editingFinished);
    connect(m_saturation, &QSpinBox::editingFinished, this,
            &ImageMenu::on_spinBox_saturability_editingFinished);
    connect(m_name, &QLineEdit::editingFinished, this, &ImageMenu::on_imageName_editingFinished);
    connect(m_adaptive, &QPushButton::clicked, this, &ImageMenu::on_selfAdaption_clicked);
    connect(m_stretch, &QPushButton::clicked, this, &ImageMenu::on_stretch_clicked);
    connect(m_full, &QPushButton::clicked, this, &ImageMenu::on_initialSize_clicked);
}

void ImageMenu::on_imageX_editingFinished() {
    sendSpinEdit(m_place.x, tlkey::X, false);
}
void ImageMenu::on_imageY_editingFinished() {
    sendSpinEdit(m_place.y, tlkey::Y, false);
}
void ImageMenu::on_imageWidth_editingFinished() {
    sendSpinEdit(m_place.width, tlkey::W, false);
}
void ImageMenu::on_imageHeight_editingFinished() {
    sendSpinEdit(m_place.height, tlkey::H, false);
}
void ImageMenu::on_imageAngle_editingFinished() {
    sendSpinEdit(m_place.angle, tlkey::Rotate, false);
}
void ImageMenu::on_imageTransparency_editingFinished() {
    sendSpinEdit(m_place.transparency, tlkey::Transparent, false);
}
void ImageMenu::on_spinBox_contrast_editingFinished() {
    sendSpinEdit(m_contrast, tlkey::Contrast, false);
}
void ImageMenu::on_spinBox_bright_editingFinished() {
    sendSpinEdit(m_bright, tlkey::Bright, false);
}
void ImageMenu::on_spinBox_highlight_editingFinished() {
    sendSpinEdit(m_highlight, tlkey::Highlight, false);
}
void ImageMenu::on_spinBox_hue_editingFinished() {
    sendSpinEdit(m_hue, tlkey::Hue, false);
}
void ImageMenu::on_spinBox_temperature_editingFinished() {
    sendSpinEdit(m_temperature, tlkey::Temperature, false);
}
void ImageMenu::on_spinBox_saturability_editingFinished() {
    sendSpinEdit(m_saturation, tlkey::Saturation, false);
}
// The name is only shown; its edit names no field of the clip.
void ImageMenu::on_imageName_editingFinished() {
    sendEdit("");
}
void ImageMenu::on_selfAdaption_clicked() {
    fitAdaptive();
}
void ImageMenu::on_stretch_clicked() {
    fitStretch();
}
void ImageMenu::on_initialSize_clicked() {
    fitFull();
}
void ImageMenu::slot_imageMenuSwitch(int page) {
    switchPage(page);
}
