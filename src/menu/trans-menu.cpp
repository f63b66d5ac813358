#include "menu/trans-menu.h"

#include "values/transtranslate.h"
#include "menu/menu-form.h"
#include "values/timeline-keys.h"
#include "value/interface.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr const char* kKeys = "translation_source_menu";

} // namespace

TransMenu::TransMenu(QWidget* parent) : AbstractMenu(parent) {
    setObjectName(QStringLiteral("TransMenu"));
    loadStyleSheet(QStringLiteral(":/qss/trans-menu.css"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setVerticalSpacing(10);
    int row = 0;

    m_direction = new QLabel(this);
    m_direction->setObjectName(QStringLiteral("label_direction"));
    grid->addWidget(m_direction, row++, 0, 1, 2);

    m_type = new QComboBox(this);
    m_type->setObjectName(QStringLiteral("comboBox_type"));
    m_type->setView(new QListView(m_type));
    for (const auto& entry : TransTranslate::instance()->allTransitions())
        m_type->addItem(QCoreApplication::translate("menu", entry.second.toUtf8().constData()));
    menu::addRow(grid, row++, menu::text(kKeys, "type"), m_type);

    auto* duration = new QWidget(this);
    auto* durationRow = new QHBoxLayout(duration);
    durationRow->setContentsMargins(0, 0, 0, 0);
    m_duration = menu::spinBox(duration, "SpinBox_time", 100, 20000);
    m_duration->setValue(800);
    durationRow->addWidget(m_duration, 1);
    durationRow->addWidget(menu::label(duration, menu::text(kKeys, "Millisec")));
    menu::addRow(grid, row++, menu::text(kKeys, "Duration"), duration);

    m_align = new QComboBox(this);
    m_align->setObjectName(QStringLiteral("comboBox_align"));
    m_align->setView(new QListView(m_align));
    m_align->addItems({menu::text(kKeys, "SplitStart"), menu::text(kKeys, "SplitCenter"),
                       menu::text(kKeys, "SplitEnd"), menu::text(kKeys, "Custom")});
    menu::addRow(grid, row++, menu::text(kKeys, "Align"), m_align);

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("horizontalSlider_align"));
    m_slider->setRange(0, 10);
    // The value is the share before the cut; to the left, as on the
    // timeline, the transition lies earlier.
    m_slider->setInvertedAppearance(true);
    m_slider->setValue(5);
    m_slider->setFocusPolicy(Qt::NoFocus); // no keyboard steps: an edit is sent on release
    m_slider->setTickInterval(50);
    grid->addWidget(m_slider, row++, 1);
    {
        const QSignalBlocker quiet(m_align);
        m_align->setCurrentIndex(SplitCenter);
    }

    for (const char* hint : {"Attation1", "Attation2"}) {
        auto* note = menu::label(this, menu::text(kKeys, hint));
        note->setObjectName(QStringLiteral("label_hint"));
        note->setWordWrap(true);
        grid->addWidget(note, row++, 0, 1, 2);
    }
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);

    connect(m_type, &QComboBox::currentTextChanged, this, &TransMenu::slot_currentTransTextChanged);
    connect(m_align, &QComboBox::currentTextChanged, this, &TransMenu::slot_currentAlignTextChanged);
    connect(m_slider, &QSlider::sliderReleased, this, &TransMenu::slot_sliderReleased);
    connect(m_duration, &QSpinBox::editingFinished, this, &TransMenu::on_SpinBox_time_editingFinished);
}

TransMenu::Align TransMenu::alignFor(int value) {
    switch (value) {
    case 0:
        return SplitStart;
    case 5:
        return SplitCenter;
    case 10:
        return SplitEnd;
    default:
        return SplitCustom;
    }
}

bg::ValueMap TransMenu::valueMap() const {
    bg::ValueMap map;
    // The box shows translated names; the transition keeps its own name.
    QString name;
    const int index = m_type->currentIndex();
    const auto table = TransTranslate::instance()->allTransitions();
    if (index >= 0 && index < table.size())
        name = table[index].first;
    map[tlkey::Type] = bg::Value(name.toStdString());
    map[tlkey::Duration] = bg::Value(m_duration->value());
    map[tlkey::Value] = bg::Value(m_slider->value());
    return map;
}

void TransMenu::send() {
    emit sig_updateData(MenuTransition, valueMap(), std::string());
}

void TransMenu::showAlignFor(int value) {
    const QSignalBlocker quiet(m_align);
    m_align->setCurrentIndex(alignFor(value));
}

void TransMenu::slot_currentTransTextChanged(const QString&) {
    send();
}

void TransMenu::slot_currentAlignTextChanged(const QString&) {
    LOGD("slot_currentAlignTextChanged");
    static const int kValues[] = {0, 5, 10};
    const int index = m_align->currentIndex();
    if (index >= SplitStart && index <= SplitEnd) {
        const QSignalBlocker quiet(m_slider);
        m_slider->setValue(kValues[index]);
    }
    send();
}

void TransMenu::slot_sliderReleased() {
    showAlignFor(m_slider->value());
    send();
}

void TransMenu::on_SpinBox_time_editingFinished() {
    m_duration->clearFocus();
    send();
}

void TransMenu::UpdateData(bg::ValueMap map) {
    LOGD("UpdateData");
    const int direction = map.get(tlkey::Direction).toInt();
    if (direction == -1)
        m_direction->setText(menu::text(kKeys, "left"));
    else if (direction == 1)
        m_direction->setText(menu::text(kKeys, "right"));
    else
        m_direction->setText(menu::text(kKeys, "independent"));
    m_align->setEnabled(direction != 0);
    m_slider->setEnabled(direction != 0);

    const QString name = QString::fromStdString(map.get(tlkey::Type).toStdString());
    const auto table = TransTranslate::instance()->allTransitions();
    for (int i = 0; i < table.size(); ++i) {
        if (table[i].first == name) {
            const QSignalBlocker quiet(m_type);
            m_type->setCurrentIndex(i);
            break;
        }
    }
    {
        const QSignalBlocker quiet(m_duration);
        m_duration->setValue(map.get(tlkey::Duration).toInt(m_duration->value()));
    }
    {
        const QSignalBlocker quiet(m_slider);
        m_slider->setValue(map.get(tlkey::Value).toInt(m_slider->value()));
    }
    showAlignFor(m_slider->value());
}
