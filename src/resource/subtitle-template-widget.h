// The small modal window that makes subtitle templates: a label, a font
// (family, size, bold, italic, underline, strike-out) and a colour with a
// live preview. "Create" emits the template and hides the window; the
// resource panel adds it to the library. The window keeps no templates and
// writes nothing; it is made once and shown again, keeping font, size and
// colour between showings. GUI thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QLabel;
class QPushButton;
class SubtitleTagLineEdit;

class SubtitleTemplateWidget : public QWidget {
    Q_OBJECT
public:
    // A top-level window; the caller owns it (normally without a parent).
    explicit SubtitleTemplateWidget(QWidget* parent = nullptr);

    // Before every showing: label box unchecked, label empty, focus on Create.
    void reset();

    const QString& name() const { return m_name; }
    const QFont& font() const { return m_font; }
    const QColor& color() const { return m_color; }
    // The number the next unlabelled template gets; process-wide, from 1.
    static int nextUnnamedNumber();

signals:
    // A template is to be made; the arguments are copies.
    void sig_createResSubtitle(QString name, QFont font, QColor color);

private slots:
    // Connected by object name.
    void on_labelCB_stateChanged(int checked);
    void on_fontComboBox_currentFontChanged(QFont f);
    void on_fontSizeBox_currentTextChanged(QString fontSize);
    void on_boldBtn_toggled(bool checked);
    void on_italicBtn_toggled(bool checked);
    void on_underlineBtn_toggled(bool checked);
    void on_strikeOutBtn_toggled(bool checked);
    // Opens the colour chooser (modal); a cancelled choice changes nothing.
    void on_fontColor_clicked();
    void on_cancelBtn_clicked();
    void on_createSubtitleTemplate_clicked();

private:
    void buildForm();
    void applyColor();
    void showFont();

    QString m_name;
    QColor m_color{QStringLiteral("#ff00ff")};
    QFont m_font;

    QCheckBox* m_labelBox = nullptr;
    SubtitleTagLineEdit* m_label = nullptr;
    QFontComboBox* m_family = nullptr;
    QComboBox* m_size = nullptr;
    QPushButton* m_colorButton = nullptr;
    QLabel* m_preview = nullptr;
    QPushButton* m_create = nullptr;
};
