#include "resource/project/custom-spinbox.h"

CustomSpinBox::CustomSpinBox(QWidget* parent) : QSpinBox(parent) {
    // An odd value set from code is pulled down as well, so value() always
    // matches what the box shows.
    connect(this, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int value) {
        const int even = toEven(value);
        if (even != value && even >= minimum())
            setValue(even);
    });
}

QString CustomSpinBox::textFromValue(int value) const {
    return QString::number(toEven(value));
}

int CustomSpinBox::valueFromText(const QString& text) const {
    QString digits = text;
    if (!prefix().isEmpty() && digits.startsWith(prefix()))
        digits.remove(0, prefix().size());
    if (!suffix().isEmpty() && digits.endsWith(suffix()))
        digits.chop(suffix().size());
    return toEven(digits.trimmed().toInt());
}
