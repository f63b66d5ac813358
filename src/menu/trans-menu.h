// The panel of a transition (MenuType 5): which side it was opened from,
// its kind, its duration and where it sits around the cut. Every edit is
// sent with an empty datatype; the timeline takes the whole map.
// GUI thread only.
#pragma once

#include "menu/abstract-menu.h"

class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;

class TransMenu : public AbstractMenu {
    Q_OBJECT
public:
    enum Align { SplitStart = 0, SplitCenter, SplitEnd, SplitCustom };

    explicit TransMenu(QWidget* parent = nullptr);

    void UpdateData(bg::ValueMap map) override;
    bg::ValueMap valueMap() const;
    // The alignment entry that a slider value stands for.
    static Align alignFor(int value);

public slots:
    void slot_currentTransTextChanged(const QString& text);
    void slot_currentAlignTextChanged(const QString& text);
    void slot_sliderReleased();
    void on_SpinBox_time_editingFinished();

private:
    void send();
    void showAlignFor(int value);

    QLabel* m_direction = nullptr;
    QComboBox* m_type = nullptr;
    QSpinBox* m_duration = nullptr;
    QComboBox* m_align = nullptr;
    QSlider* m_slider = nullptr;
};
