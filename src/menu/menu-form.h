// Small builders shared by the property panels' forms, so every panel's
// controls look and load alike.
#pragma once

#include "value/value.h"

#include <QByteArray>
#include <QString>

class QAbstractButton;
class QButtonGroup;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QStackedWidget;
class QWidget;

namespace menu {

QSpinBox* spinBox(QWidget* parent, const char* objectName, int minimum, int maximum);
QLabel* label(QWidget* parent, const QString& text);
QLineEdit* readOnlyField(QWidget* parent, const char* objectName);
// A label in column 0 and the control spanning the rest of the row.
void addRow(QGridLayout* grid, int row, const QString& text, QWidget* control);

// Position, size, angle and transparency: the rows the picture, video and
// subtitle panels share, with their part of the value map.
struct Placement {
    // Object names of x, y, width, height, angle and transparency, and the
    // keys (in section) of the position, width, height, angle and
    // transparency labels.
    struct Names {
        QByteArray objects[6];
        const char* keys[5];
    };
    QSpinBox* x = nullptr;
    QSpinBox* y = nullptr;
    QSpinBox* width = nullptr;
    QSpinBox* height = nullptr;
    QSpinBox* angle = nullptr;
    QSpinBox* transparency = nullptr;

    // Adds the rows from row on; returns the next free row.
    int build(QWidget* page, QGridLayout* grid, int row, const char* section, const Names& names);
    // "X", "Y", "W", "H" (doubles), "rotate", "transparent".
    void write(bg::ValueMap& map) const;
    // The same keys, loaded without signals; geometry shown in whole pixels.
    void load(const bg::ValueMap& map);
};

// A drag of the slider is one undo step: every value it sends while held
// joins one step of the undo history, closed when it is let go (or hidden
// or destroyed while held). Keys and the wheel make a step each.
void makeDragOneUndoStep(QSlider* slider, const QString& stepName);
// The typing in a text field is one undo step until the field loses the
// focus; what is typed after is another.
void endTypingStepOnFocusOut(QWidget* field);

// Sets a spin box without sending its signals.
void setQuietly(QSpinBox* box, int value);

// Checkable tab buttons over a page stack: clicking button n shows page n.
// The buttons go into row; ids count from 0 in the order added.
class TabSet {
public:
    TabSet(QWidget* owner, QWidget* buttonRow, QStackedWidget* pages);
    QPushButton* addTab(const char* objectName, const QString& text, QWidget* page);
    QButtonGroup* group() const { return m_group; }
    QStackedWidget* pages() const { return m_pages; }
    bool isChecked(int id) const;

private:
    QWidget* m_row;
    QStackedWidget* m_pages;
    QButtonGroup* m_group;
};

} // namespace menu
