// The panels of a dub clip (AudioMenu, MenuType 2) and an audio clip
// (MusicMenu, MenuType 4): name, path, volume and mute. The two forms are
// the same; only the type they send differs. GUI thread only.
#pragma once

#include "menu/abstract-menu.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QSlider;

class SoundSourceMenu : public AbstractMenu {
    Q_OBJECT
public:
    void UpdateData(bg::ValueMap map) override;
    MenuType menuType() const { return m_type; }
    bg::ValueMap valueMap() const;

public slots:
    void on_audioVolumeSlider_valueChanged(int value);
    void on_audioMute_stateChanged(int state);

protected:
    SoundSourceMenu(MenuType type, QWidget* parent);

private:
    MenuType m_type;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_path = nullptr;
    QSlider* m_volume = nullptr;
    QLabel* m_volumeLabel = nullptr;
    QCheckBox* m_mute = nullptr;
};

class AudioMenu : public SoundSourceMenu {
    Q_OBJECT
public:
    explicit AudioMenu(QWidget* parent = nullptr);
};

class MusicMenu : public SoundSourceMenu {
    Q_OBJECT
public:
    explicit MusicMenu(QWidget* parent = nullptr);
};
