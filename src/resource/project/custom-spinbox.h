// A spin box that holds even numbers only: video encoders need even frame
// sides for their 4:2:0 pictures. GUI thread only.
#pragma once

#include <QSpinBox>

class CustomSpinBox : public QSpinBox {
    Q_OBJECT
public:
    explicit CustomSpinBox(QWidget* parent = nullptr);

    // The value rounded toward zero to an even number.
    static int toEven(int value) { return value - value % 2; }

protected:
    QString textFromValue(int value) const override;
    int valueFromText(const QString& text) const override;
};
