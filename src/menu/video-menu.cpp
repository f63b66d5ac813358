#include "menu/video-menu.h"

#include "values/timeline-keys.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

VideoMenu::VideoMenu(QWidget* parent)
    : VisualSourceMenu(MenuVideo, "video", "video_source_menu", true, parent) {
    setObjectName(QStringLiteral("VideoMenu"));
    loadStyleSheet(QStringLiteral(":/qss/video-menu.css"));
    connect(m_place.x, &QSpinBox::editingFinished, this, &VideoMenu::on_videoX_editingFinished);
    connect(m_place.y, &QSpinBox::editingFinished, this, &VideoMenu::on_videoY_editingFinished);
    connect(m_place.width, &QSpinBox::editingFinished, this, &VideoMenu::on_videoWidth_editingFinished);
    connect(m_place.height, &QSpinBox::editingFinished, this, &VideoMenu::on_videoHeight_editingFinished);
    connect(m_place.angle, &QSpinBox::editingFinished, this, &VideoMenu::on_videoAngle_editingFinished);
    connect(m_place.transparency, &QSpinBox::editingFinished, this,
            &VideoMenu::on_videoTransparency_editingFinished);
    connect(m_contrast, &QSpinBox::editingFinished, this, &VideoMenu::on_spinBox_contrast_editingFinished);
    connect(m_bright, &QSpinBox::editingFinished, this, &VideoMenu::on_spinBox_bright_editingFinished);
    connect(m_highlight, &QSpinBox::editingFinished, this, &VideoMenu::on_spinBox_highlight_editingFinished);
    connect(m_hue, &QSpinBox::editingFinished, this, &VideoMenu::on_spinBox_hue_editingFinished);
    connect(m_temperature, &QSpinBox::editingFinished, this,
            &VideoMenu::on_spinBox_temperature_editingFinished);
    connect(m_saturation, &QSpinBox::editingFinished, this,
            &VideoMenu::on_spinBox_saturability_editingFinished);
    // One edit for every step of a drag.
    connect(m_volume, &QSlider::valueChanged, this, &VideoMenu::on_videoVolumeSlider_valueChanged);
    connect(m_mute, &QCheckBox::stateChanged, this, &VideoMenu::on_videoMute_stateChanged);
    connect(m_adaptive, &QPushButton::clicked, this, &VideoMenu::on_selfAdaption_clicked);
    connect(m_stretch, &QPushButton::clicked, this, &VideoMenu::on_stretch_clicked);
    connect(m_full, &QPushButton::clicked, this, &VideoMenu::on_initialSize_clicked);
}

void VideoMenu::on_videoX_editingFinished() {
    sendSpinEdit(m_place.x, tlkey::X, true);
}
void VideoMenu::on_videoY_editingFinished() {
    sendSpinEdit(m_place.y, tlkey::Y, true);
}
void VideoMenu::on_videoWidth_editingFinished() {
    sendSpinEdit(m_place.width, tlkey::W, true);
}
void VideoMenu::on_videoHeight_editingFinished() {
    sendSpinEdit(m_place.height, tlkey::H, true);
}
void VideoMenu::on_videoAngle_editingFinished() {
    sendSpinEdit(m_place.angle, tlkey::Rotate, true);
}
void VideoMenu::on_videoTransparency_editingFinished() {
    sendSpinEdit(m_place.transparency, tlkey::Transparent, true);
}
void VideoMenu::on_spinBox_contrast_editingFinished() {
    sendSpinEdit(m_contrast, tlkey::Contrast, true);
}
void VideoMenu::on_spinBox_bright_editingFinished() {
    sendSpinEdit(m_bright, tlkey::Bright, true);
}
void VideoMenu::on_spinBox_highlight_editingFinished() {
    sendSpinEdit(m_highlight, tlkey::Highlight, true);
}
void VideoMenu::on_spinBox_hue_editingFinished() {
    sendSpinEdit(m_hue, tlkey::Hue, true);
}
void VideoMenu::on_spinBox_temperature_editingFinished() {
    sendSpinEdit(m_temperature, tlkey::Temperature, true);
}
void VideoMenu::on_spinBox_saturability_editingFinished() {
    sendSpinEdit(m_saturation, tlkey::Saturation, true);
}
void VideoMenu::on_videoVolumeSlider_valueChanged(int value) {
    volumeChanged(value);
}
void VideoMenu::on_videoMute_stateChanged(int) {
    sendEdit(tlkey::Mute);
}
void VideoMenu::on_selfAdaption_clicked() {
    fitAdaptive();
}
void VideoMenu::on_stretch_clicked() {
    fitStretch();
}
void VideoMenu::on_initialSize_clicked() {
    fitFull();
}
void VideoMenu::slot_videoMenuSwitch(int page) {
    switchPage(page);
}
