#include "menu/subtitle-menu.h"

#include "menu/menu-form.h"
#include "values/timeline-keys.h"
#include "value/interface.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFontComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

constexpr const char* kKeys = "subtitle_source_menu";

QPushButton* styleToggle(QWidget* parent, const char* objectName, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(objectName));
    b->setCheckable(true);
    // 32 pixels, or what the letter needs with larger fonts.
    b->setMinimumWidth(32);
    b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return b;
}

} // namespace

const QStringList& SubtitleMenu::fontSizes() {
    static const QStringList sizes{"6",  "7",  "8",  "9",  "10", "12", "14", "16", "18", "20", "22",
                                   "24", "26", "28", "36", "48", "64", "72", "84", "96", "120"};
    return sizes;
}

QString SubtitleMenu::colorStyle(const QColor& color) {
    return QStringLiteral("QPushButton {background-color: %1; border: 0px;}").arg(color.name());
}

SubtitleMenu::SubtitleMenu(QWidget* parent) : AbstractMenu(parent) {
    setObjectName(QStringLiteral("SubtitleMenu"));
    loadStyleSheet(QStringLiteral(":/qss/subtitle-menu.css"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* page = new QWidget(scroll);
    page->setObjectName(QStringLiteral("widget_subtitle"));
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setVerticalSpacing(8);
    int row = 0;

    row = m_place.build(page, grid, row, kKeys,
                        {{"spinBox_x", "spinBox_y", "spinBox_width", "spinBox_height", "spinBox_angle",
                          "spinBox_transparent"},
                         {"Pos", "Width", "Height", "rorate", "Transparent"}});
    m_backgroundTransparent = menu::spinBox(page, "spinBox_backgroundTransparent", 0, 255);
    menu::addRow(grid, row++, menu::text(kKeys, "backgroundTransparent"), m_backgroundTransparent);

    m_font = new QFontComboBox(page);
    m_font->setObjectName(QStringLiteral("fontComboBox"));
    menu::addRow(grid, row++, menu::text(kKeys, "Font"), m_font);
    m_fontSize = new QComboBox(page);
    m_fontSize->setObjectName(QStringLiteral("comboBox_fontSize"));
    // Any size may be typed (40, say); the list offers the usual ones.
    m_fontSize->setEditable(true);
    m_fontSize->setInsertPolicy(QComboBox::NoInsert);
    m_fontSize->setValidator(new QIntValidator(1, kLargestFontSize, m_fontSize));
    m_fontSize->setCompleter(nullptr); // "4" is 4, not the 48 of the list
    m_fontSize->setView(new QListView(m_fontSize)); // a plain list takes the style sheet
    {
        const QSignalBlocker quiet(m_fontSize);
        m_fontSize->addItems(fontSizes());
    }
    connect(m_fontSize->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        const int points = m_fontSize->currentText().toInt();
        if (points <= 0)
            return;
        {
            const QSignalBlocker quiet(m_fontSize);
            showFontSize(points);
        }
        send(tlkey::Font);
    });
    menu::addRow(grid, row++, menu::text(kKeys, "FontSize"), m_fontSize);

    auto* styles = new QWidget(page);
    auto* stylesRow = new QHBoxLayout(styles);
    stylesRow->setContentsMargins(0, 0, 0, 0);
    m_bold = styleToggle(styles, "pushButton_bold", QStringLiteral("B"));
    m_italic = styleToggle(styles, "pushButton_italic", QStringLiteral("I"));
    m_underline = styleToggle(styles, "pushButton_underline", QStringLiteral("U"));
    m_strikeOut = styleToggle(styles, "pushButton_strikeOut", QStringLiteral("S"));
    for (QPushButton* b : {m_bold, m_italic, m_underline, m_strikeOut})
        stylesRow->addWidget(b);
    stylesRow->addStretch(1);
    grid->addWidget(styles, row++, 1);

    m_colorButton = new QPushButton(page);
    m_colorButton->setObjectName(QStringLiteral("pushButton_color"));
    m_colorButton->setFixedSize(48, 20);
    m_colorButton->setStyleSheet(colorStyle(m_color));
    menu::addRow(grid, row++, menu::text(kKeys, "color"), m_colorButton);
    m_backgroundButton = new QPushButton(page);
    m_backgroundButton->setObjectName(QStringLiteral("pushButton_background"));
    m_backgroundButton->setFixedSize(48, 20);
    m_backgroundButton->setStyleSheet(colorStyle(m_backgroundColor));
    menu::addRow(grid, row++, menu::text(kKeys, "background"), m_backgroundButton);

    m_text = new QTextEdit(page);
    m_text->setObjectName(QStringLiteral("textEdit"));
    m_text->setAcceptRichText(false);
    m_text->setMinimumHeight(80);
    grid->addWidget(m_text, row++, 0, 1, 2);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    scroll->setWidget(page);
    menu::scrollPastFields(scroll);
    outer->addWidget(scroll);

    connect(m_place.x, &QSpinBox::editingFinished, this, &SubtitleMenu::on_spinBox_x_editingFinished);
    connect(m_place.y, &QSpinBox::editingFinished, this, &SubtitleMenu::on_spinBox_y_editingFinished);
    connect(m_place.width, &QSpinBox::editingFinished, this, &SubtitleMenu::on_spinBox_width_editingFinished);
    connect(m_place.height, &QSpinBox::editingFinished, this,
            &SubtitleMenu::on_spinBox_height_editingFinished);
    connect(m_place.angle, &QSpinBox::editingFinished, this, &SubtitleMenu::on_spinBox_angle_editingFinished);
    connect(m_place.transparency, &QSpinBox::editingFinished, this,
            &SubtitleMenu::on_spinBox_transparent_editingFinished);
    connect(m_backgroundTransparent, &QSpinBox::editingFinished, this,
            &SubtitleMenu::on_spinBox_backgroundTransparent_editingFinished);
    connect(m_font, &QFontComboBox::currentFontChanged, this,
            &SubtitleMenu::on_fontComboBox_currentFontChanged);
    connect(m_fontSize, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SubtitleMenu::on_comboBox_fontSize_currentIndexChanged);
    connect(m_bold, &QPushButton::clicked, this, &SubtitleMenu::on_pushButton_bold_clicked);
    connect(m_italic, &QPushButton::clicked, this, &SubtitleMenu::on_pushButton_italic_clicked);
    connect(m_underline, &QPushButton::clicked, this, &SubtitleMenu::on_pushButton_underline_clicked);
    connect(m_strikeOut, &QPushButton::clicked, this, &SubtitleMenu::on_pushButton_strikeOut_clicked);
    connect(m_colorButton, &QPushButton::clicked, this, &SubtitleMenu::on_pushButton_color_clicked);
    connect(m_backgroundButton, &QPushButton::clicked, this, &SubtitleMenu::on_pushButton_background_clicked);
    connect(m_text, &QTextEdit::textChanged, this, &SubtitleMenu::on_textEdit_textChanged);
    menu::endTypingStepOnFocusOut(m_text);
}

SubtitleMenu::~SubtitleMenu() {
    m_fontSize->lineEdit()->disconnect(this);
}

QFont SubtitleMenu::currentFont() const {
    QFont font = m_font->currentFont();
    // Text still being typed ("", "0", "600") is no size: the last one stands.
    bool ok = false;
    const int typed = m_fontSize->currentText().toInt(&ok);
    font.setPointSize(ok && typed >= 1 && typed <= kLargestFontSize ? typed : m_fontPoints);
    font.setWeight(m_bold->isChecked() ? QFont::Bold : QFont::Normal);
    font.setItalic(m_italic->isChecked());
    font.setUnderline(m_underline->isChecked());
    font.setStrikeOut(m_strikeOut->isChecked());
    return font;
}

bg::ValueMap SubtitleMenu::valueMap() const {
    bg::ValueMap map;
    m_place.write(map);
    map[tlkey::BackgroundTransparent] = bg::Value(m_backgroundTransparent->value());
    map[tlkey::Font] = bg::Value(currentFont().toString().toStdString());
    map[tlkey::Color] = bg::Value(m_color.name().toStdString());
    map[tlkey::BackgroundColor] = bg::Value(m_backgroundColor.name().toStdString());
    const QString content = m_text->toPlainText();
    LOGD("content: %s", qPrintable(content));
    map[tlkey::Content] = bg::Value(content.toStdString());
    return map;
}

void SubtitleMenu::send(const char* datatype) {
    emit sig_updateData(MenuSubtitle, valueMap(), datatype);
}

void SubtitleMenu::on_spinBox_x_editingFinished() {
    send(tlkey::X);
}
void SubtitleMenu::on_spinBox_y_editingFinished() {
    send(tlkey::Y);
}
void SubtitleMenu::on_spinBox_width_editingFinished() {
    send(tlkey::W);
}
void SubtitleMenu::on_spinBox_height_editingFinished() {
    send(tlkey::H);
}
void SubtitleMenu::on_spinBox_angle_editingFinished() {
    send(tlkey::Rotate);
}
void SubtitleMenu::on_spinBox_transparent_editingFinished() {
    send(tlkey::Transparent);
}
void SubtitleMenu::on_spinBox_backgroundTransparent_editingFinished() {
    send(tlkey::BackgroundTransparent);
}
void SubtitleMenu::on_fontComboBox_currentFontChanged(const QFont&) {
    send(tlkey::Font);
}
void SubtitleMenu::showFontSize(int points) {
    if (points <= 0)
        return;
    m_fontPoints = points;
    // A size the fixed list lacks (a template made at 60) is shown as it is,
    // in its place among the others, so that the next edit keeps it.
    const QString text = QString::number(points);
    int index = m_fontSize->findText(text);
    if (index < 0) {
        if (!m_extraFontSize.isEmpty())
            m_fontSize->removeItem(m_fontSize->findText(m_extraFontSize));
        index = 0;
        while (index < m_fontSize->count() && m_fontSize->itemText(index).toInt() < points)
            ++index;
        m_fontSize->insertItem(index, text);
        m_extraFontSize = text;
    }
    m_fontSize->setCurrentIndex(index);
}

void SubtitleMenu::on_comboBox_fontSize_currentIndexChanged(int) {
    send(tlkey::Font);
}
void SubtitleMenu::on_pushButton_bold_clicked() {
    send(tlkey::Font);
}
void SubtitleMenu::on_pushButton_italic_clicked() {
    send(tlkey::Font);
}
void SubtitleMenu::on_pushButton_underline_clicked() {
    send(tlkey::Font);
}
void SubtitleMenu::on_pushButton_strikeOut_clicked() {
    send(tlkey::Font);
}
void SubtitleMenu::on_textEdit_textChanged() {
    send(tlkey::Content);
}

bool SubtitleMenu::chooseColor(QColor& current, QPushButton* button) {
    const QColor chosen =
        QColorDialog::getColor(current, this, menu::text("subtitletemplatewindow", "ChooseColor"));
    if (!chosen.isValid() || chosen == current)
        return false;
    current = chosen;
    button->setStyleSheet(colorStyle(current));
    return true;
}

void SubtitleMenu::on_pushButton_color_clicked() {
    if (chooseColor(m_color, m_colorButton))
        send(tlkey::Color);
}

void SubtitleMenu::on_pushButton_background_clicked() {
    if (chooseColor(m_backgroundColor, m_backgroundButton))
        send(tlkey::BackgroundColor);
}

void SubtitleMenu::UpdateData(bg::ValueMap map) {
    m_place.load(map);
    menu::setQuietly(m_backgroundTransparent, map.get(tlkey::BackgroundTransparent).toInt());

    if (map.contains(tlkey::Font)) {
        QFont font;
        if (font.fromString(QString::fromStdString(map.get(tlkey::Font).toStdString()))) {
            {
                const QSignalBlocker quiet(m_font);
                m_font->setCurrentFont(font);
            }
            {
                const QSignalBlocker quiet(m_fontSize);
                showFontSize(font.pointSize());
            }
            const QSignalBlocker b(m_bold), i(m_italic), u(m_underline), s(m_strikeOut);
            m_bold->setChecked(font.weight() > 57);
            m_italic->setChecked(font.italic());
            m_underline->setChecked(font.underline());
            m_strikeOut->setChecked(font.strikeOut());
        } else {
            LOGW("subtitle font is not readable: %s", map.get(tlkey::Font).toStdString().c_str());
        }
    }
    if (map.contains(tlkey::Color)) {
        const QColor c(QString::fromStdString(map.get(tlkey::Color).toStdString()));
        if (c.isValid())
            m_color = c;
        m_colorButton->setStyleSheet(colorStyle(m_color));
    }
    if (map.contains(tlkey::BackgroundColor)) {
        const QColor c(QString::fromStdString(map.get(tlkey::BackgroundColor).toStdString()));
        if (c.isValid())
            m_backgroundColor = c;
        m_backgroundButton->setStyleSheet(colorStyle(m_backgroundColor));
    }
    const QString content = QString::fromStdString(map.get(tlkey::Content).toStdString());
    // A refresh after the user's own typing must not move the cursor.
    if (content != m_text->toPlainText()) {
        const QSignalBlocker quiet(m_text);
        m_text->setPlainText(content);
    }
}
