#include "menu/sound-source-menu.h"

#include "menu/menu-form.h"
#include "values/timeline-keys.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

SoundSourceMenu::SoundSourceMenu(MenuType type, QWidget* parent) : AbstractMenu(parent), m_type(type) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* tabRow = new QWidget(this);
    tabRow->setObjectName(QStringLiteral("widget_tabs"));
    auto* pages = new QStackedWidget(this);
    auto* page = new QWidget(pages);
    page->setObjectName(QStringLiteral("page_edit"));
    menu::TabSet tabs(this, tabRow, pages);
    tabs.addTab("pushButton_edit", menu::text("auido_source_menu", "Edit"), page);

    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setVerticalSpacing(8);
    m_name = menu::readOnlyField(page, "audioName");
    m_path = menu::readOnlyField(page, "audioPath");
    menu::addRow(grid, 0, menu::text("audio_source_menu", "Name"), m_name);
    menu::addRow(grid, 1, menu::text("audio_source_menu", "Filepath"), m_path);
    auto* volume = new QWidget(page);
    auto* volumeRow = new QHBoxLayout(volume);
    volumeRow->setContentsMargins(0, 0, 0, 0);
    m_volume = new QSlider(Qt::Horizontal, volume);
    m_volume->setObjectName(QStringLiteral("audioVolumeSlider"));
    m_volume->setRange(0, 128);
    m_volume->setValue(15);
    menu::makeDragOneUndoStep(m_volume, QStringLiteral("Volume"));
    m_volumeLabel = new QLabel(QString::number(m_volume->value()), volume);
    m_volumeLabel->setObjectName(QStringLiteral("audioVolumeLabel"));
    m_volumeLabel->setMinimumWidth(28);
    volumeRow->addWidget(m_volume, 1);
    volumeRow->addWidget(m_volumeLabel);
    menu::addRow(grid, 2, menu::text("audio_source_menu", "Volume"), volume);
    m_mute = new QCheckBox(menu::text("audio_source_menu", "Mute"), page);
    m_mute->setObjectName(QStringLiteral("audioMute"));
    grid->addWidget(m_mute, 3, 1);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(1, 1);
    layout->addWidget(tabRow);
    layout->addWidget(pages, 1);
    connect(m_volume, &QSlider::valueChanged, this, &SoundSourceMenu::on_audioVolumeSlider_valueChanged);
    connect(m_mute, &QCheckBox::stateChanged, this, &SoundSourceMenu::on_audioMute_stateChanged);
}

bg::ValueMap SoundSourceMenu::valueMap() const {
    bg::ValueMap map;
    map[tlkey::Volume] = bg::Value(m_volume->value());
    map[tlkey::Mute] = bg::Value(m_mute->isChecked());
    return map;
}

void SoundSourceMenu::on_audioVolumeSlider_valueChanged(int value) {
    emit sig_updateData(m_type, valueMap(), tlkey::Volume);
    m_volumeLabel->setText(QString::number(value));
}

void SoundSourceMenu::on_audioMute_stateChanged(int) {
    emit sig_updateData(m_type, valueMap(), tlkey::Mute);
}

void SoundSourceMenu::UpdateData(bg::ValueMap map) {
    const QString path = QString::fromStdString(map.get(tlkey::Path).toStdString());
    m_name->setText(QFileInfo(path).fileName());
    m_path->setText(path);
    const QSignalBlocker quietVolume(m_volume);
    const QSignalBlocker quietMute(m_mute);
    m_volume->setValue(map.get(tlkey::Volume).toInt(m_volume->value()));
    m_volumeLabel->setText(QString::number(m_volume->value()));
    m_mute->setChecked(map.get(tlkey::Mute).toBool());
}

AudioMenu::AudioMenu(QWidget* parent) : SoundSourceMenu(MenuDub, parent) {
    setObjectName(QStringLiteral("AudioMenu"));
    loadStyleSheet(QStringLiteral(":/qss/audio-menu.css"));
}

MusicMenu::MusicMenu(QWidget* parent) : SoundSourceMenu(MenuAudio, parent) {
    setObjectName(QStringLiteral("MusicMenu"));
    // The same look as the dub panel.
    loadStyleSheet(QStringLiteral(":/qss/audio-menu.css"));
}
