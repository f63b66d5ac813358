#include "menu/menu-form.h"

#include "menu/abstract-menu.h"
#include "values/read-limits.h"
#include "values/timeline-keys.h"
#include "undo/undo-controller.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QWheelEvent>

namespace menu {

namespace {

// What a project file keeps as typed.
constexpr int kCoordinateLimit = int(timeline::kMaxPlacement);

// A wheel turn over a box that is not being edited scrolls the panel: the
// box would change without sending its edit, which goes out only when an
// edit is finished.
class PanelSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    void wheelEvent(QWheelEvent* event) override {
        if (!hasFocus()) {
            event->ignore();
            return;
        }
        QSpinBox::wheelEvent(event);
    }
};

// Holds the undo step of one slider's drag open.
class SliderDragStep : public QObject {
public:
    SliderDragStep(QSlider* slider, const QString& name) : QObject(slider), m_name(name) {
        connect(slider, &QSlider::sliderPressed, this, &SliderDragStep::open);
        connect(slider, &QSlider::sliderReleased, this, &SliderDragStep::close);
        slider->installEventFilter(this);
    }
    ~SliderDragStep() override { close(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide)
            close();
        return QObject::eventFilter(watched, event);
    }

private:
    void open() {
        if (m_open)
            return;
        m_open = true;
        zya::UndoController::instance()->beginMergeSequence(m_name);
    }
    void close() {
        if (!m_open)
            return;
        m_open = false;
        zya::UndoController::instance()->endMergeSequence();
    }

    QString m_name;
    bool m_open = false;
};

// Ends the typing step of a field when the field loses the focus.
class TypingStepEnd : public QObject {
public:
    explicit TypingStepEnd(QWidget* field) : QObject(field) { field->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut)
            zya::UndoController::instance()->endTyping();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void makeDragOneUndoStep(QSlider* slider, const QString& stepName) { new SliderDragStep(slider, stepName); }

void endTypingStepOnFocusOut(QWidget* field) { new TypingStepEnd(field); }

QSpinBox* spinBox(QWidget* parent, const char* objectName, int minimum, int maximum) {
    auto* box = new PanelSpinBox(parent);
    box->setObjectName(QLatin1String(objectName));
    box->setRange(minimum, maximum);
    box->setKeyboardTracking(false); // an edit is sent when it is finished, not per digit
    box->setFocusPolicy(Qt::StrongFocus);
    return box;
}

QLabel* label(QWidget* parent, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QStringLiteral("menuLabel"));
    return l;
}

QLineEdit* readOnlyField(QWidget* parent, const char* objectName) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(objectName));
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::ClickFocus);
    return field;
}

void addRow(QGridLayout* grid, int row, const QString& text, QWidget* control) {
    grid->addWidget(label(control->parentWidget(), text), row, 0);
    grid->addWidget(control, row, 1);
}

void setQuietly(QSpinBox* box, int value) {
    const QSignalBlocker quiet(box);
    box->setValue(value);
}

int Placement::build(QWidget* page, QGridLayout* grid, int row, const char* section, const Names& names) {
    x = spinBox(page, names.objects[0].constData(), -kCoordinateLimit, kCoordinateLimit);
    y = spinBox(page, names.objects[1].constData(), -kCoordinateLimit, kCoordinateLimit);
    auto* position = new QWidget(page);
    auto* positionRow = new QHBoxLayout(position);
    positionRow->setContentsMargins(0, 0, 0, 0);
    positionRow->addWidget(x);
    positionRow->addWidget(y);
    addRow(grid, row++, text(section, names.keys[0]), position);
    width = spinBox(page, names.objects[2].constData(), 0, kCoordinateLimit);
    height = spinBox(page, names.objects[3].constData(), 0, kCoordinateLimit);
    addRow(grid, row++, text(section, names.keys[1]), width);
    addRow(grid, row++, text(section, names.keys[2]), height);
    angle = spinBox(page, names.objects[4].constData(), -360, 360);
    addRow(grid, row++, text(section, names.keys[3]), angle);
    transparency = spinBox(page, names.objects[5].constData(), 0, 255);
    addRow(grid, row++, text(section, names.keys[4]), transparency);
    return row;
}

void Placement::write(bg::ValueMap& map) const {
    map[tlkey::X] = bg::Value(double(x->value()));
    map[tlkey::Y] = bg::Value(double(y->value()));
    map[tlkey::W] = bg::Value(double(width->value()));
    map[tlkey::H] = bg::Value(double(height->value()));
    map[tlkey::Rotate] = bg::Value(angle->value());
    map[tlkey::Transparent] = bg::Value(transparency->value());
}

void Placement::load(const bg::ValueMap& map) {
    setQuietly(x, int(map.get(tlkey::X).toDouble()));
    setQuietly(y, int(map.get(tlkey::Y).toDouble()));
    setQuietly(width, int(map.get(tlkey::W).toDouble()));
    setQuietly(height, int(map.get(tlkey::H).toDouble()));
    setQuietly(angle, map.get(tlkey::Rotate).toInt());
    setQuietly(transparency, map.get(tlkey::Transparent).toInt());
}

TabSet::TabSet(QWidget* owner, QWidget* buttonRow, QStackedWidget* pages)
    : m_row(buttonRow), m_pages(pages), m_group(new QButtonGroup(owner)) {
    m_group->setExclusive(true);
    if (!m_row->layout()) {
        auto* row = new QHBoxLayout(m_row);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        row->addStretch(1);
    }
}

QPushButton* TabSet::addTab(const char* objectName, const QString& text, QWidget* page) {
    auto* button = new QPushButton(text, m_row);
    button->setObjectName(QLatin1String(objectName));
    button->setCheckable(true);
    const int id = m_pages->addWidget(page);
    m_group->addButton(button, id);
    auto* row = static_cast<QHBoxLayout*>(m_row->layout());
    row->insertWidget(row->count() - 1, button); // before the closing stretch
    if (id == 0)
        button->setChecked(true);
    return button;
}

bool TabSet::isChecked(int id) const {
    QAbstractButton* button = m_group->button(id);
    return button && button->isChecked();
}

} // namespace menu
