// The panel of a subtitle clip (MenuType 3): geometry, angle, the two
// transparencies, font family, size and style, text and background colours,
// and the text itself. GUI thread only.
#pragma once

#include "menu/abstract-menu.h"
#include "menu/menu-form.h"
#include "values/read-limits.h"

#include <QColor>
#include <QFont>

class QComboBox;
class QFontComboBox;
class QPushButton;
class QSpinBox;
class QTextEdit;

class SubtitleMenu : public AbstractMenu {
    Q_OBJECT
public:
    explicit SubtitleMenu(QWidget* parent = nullptr);
    // The size field, losing the focus as the panel goes, sends nothing.
    ~SubtitleMenu() override;

    void UpdateData(bg::ValueMap map) override;
    bg::ValueMap valueMap() const;
    // The font as the controls describe it.
    QFont currentFont() const;
    QColor textColor() const { return m_color; }
    QColor backgroundColor() const { return m_backgroundColor; }

    // The sizes offered, in order.
    static const QStringList& fontSizes();
    // The largest size that may be typed, in points.
    static constexpr int kLargestFontSize = timeline::kMaxFontSize; // what a project file keeps
    // A colour's style for its button.
    static QString colorStyle(const QColor& color);

public slots:
    void on_spinBox_x_editingFinished();
    void on_spinBox_y_editingFinished();
    void on_spinBox_width_editingFinished();
    void on_spinBox_height_editingFinished();
    void on_spinBox_angle_editingFinished();
    void on_spinBox_transparent_editingFinished();
    void on_spinBox_backgroundTransparent_editingFinished();
    void on_fontComboBox_currentFontChanged(const QFont& font);
    void on_comboBox_fontSize_currentIndexChanged(int index);
    void on_pushButton_bold_clicked();
    void on_pushButton_italic_clicked();
    void on_pushButton_underline_clicked();
    void on_pushButton_strikeOut_clicked();
    void on_pushButton_color_clicked();
    void on_pushButton_background_clicked();
    void on_textEdit_textChanged();

private:
    void showFontSize(int points);
    void send(const char* datatype);
    // Opens the colour dialog on current; true when another valid colour was chosen.
    bool chooseColor(QColor& current, QPushButton* button);

    menu::Placement m_place;
    QSpinBox* m_backgroundTransparent = nullptr;
    QFontComboBox* m_font = nullptr;
    QComboBox* m_fontSize = nullptr;
    QString m_extraFontSize; // the size shown beyond the fixed list, if any
    int m_fontPoints = 22;   // the size last shown or taken
    QPushButton* m_bold = nullptr;
    QPushButton* m_italic = nullptr;
    QPushButton* m_underline = nullptr;
    QPushButton* m_strikeOut = nullptr;
    QPushButton* m_colorButton = nullptr;
    QPushButton* m_backgroundButton = nullptr;
    QTextEdit* m_text = nullptr;
    QColor m_color = Qt::white;
    QColor m_backgroundColor = Qt::black;
};
