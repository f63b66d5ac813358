#include "resource/subtitle-template-widget.h"

#include "resource/project/project-common.h"
#include "resource/subtitle-tag-line-edit.h"
#include "value/interface.h"
#include "values/screen-scale.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Names templates made without a label; lives for the whole run and is
// never stored, so names may repeat those of a loaded project.
int s_unnamedCount = 1;

constexpr int kLabelLength = 30;
constexpr int kStartSize = 22;
const char* const kSizes[] = {"6",  "7",  "8",  "9",  "10", "12", "14", "16", "18", "20", "22",
                              "24", "26", "28", "36", "48", "64", "72", "84", "96", "120"};

QPushButton* styleButton(const char* name, QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setCheckable(true);
    return button;
}

} // namespace

SubtitleTemplateWidget::SubtitleTemplateWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SubtitleTemplateWidget"));
    buildForm();
    resize(521, 300);
    setWindowTitle(tr("subtitletemplatewindow.CreatTemplate"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    project::loadStyleSheet(this, QStringLiteral(":/qss/subtitletemplate-widget.css"));
    const double s = screenDpiScale();
    resize(int(600 * s), int(240 * s));

    for (const char* size : kSizes)
        m_size->addItem(QLatin1String(size));
    // The size the new font starts with; its row, not a fixed index, so the two agree.
    m_size->setCurrentIndex(std::max(0, m_size->findText(QString::number(kStartSize))));
    m_font = QFont(m_family->currentFont().family());
    m_font.setPointSize(m_size->currentText().toInt());
    applyColor();
    connect(m_label, &SubtitleTagLineEdit::sig_subtitleTagDoubleClicked, this,
            [this] { m_labelBox->setChecked(!m_labelBox->isChecked()); });
    // Only now, so that filling the boxes above does not pass through the slots.
    QMetaObject::connectSlotsByName(this);
}

void SubtitleTemplateWidget::buildForm() {
    auto* layout = new QVBoxLayout(this);

    auto* labelRow = new QHBoxLayout;
    m_labelBox = new QCheckBox(tr("subtitletemplatewindow.Label"), this);
    m_labelBox->setObjectName(QStringLiteral("labelCB"));
    m_label = new SubtitleTagLineEdit(this);
    m_label->setObjectName(QStringLiteral("labelLE"));
    m_label->setMaxLength(kLabelLength);
    m_label->setPlaceholderText(tr("subtitletemplatewindow.LabelTooltip"));
    labelRow->addWidget(m_labelBox);
    labelRow->addWidget(m_label, 1);
    layout->addLayout(labelRow);

    auto* fontRow = new QHBoxLayout;
    m_family = new QFontComboBox(this);
    m_family->setObjectName(QStringLiteral("fontComboBox"));
    m_family->setFocusPolicy(Qt::NoFocus);
    m_family->setMaxVisibleItems(7);
    auto* sizeCaption = new QLabel(tr("subtitletemplatewindow.FontSize"), this);
    sizeCaption->setObjectName(QStringLiteral("label"));
    sizeCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_size = new QComboBox(this);
    m_size->setObjectName(QStringLiteral("fontSizeBox"));
    m_size->setEditable(true);
    m_size->setView(new QListView(m_size)); // a plain list, so the style sheet reaches its rows
    m_colorButton = new QPushButton(this);
    m_colorButton->setObjectName(QStringLiteral("fontColor"));
    fontRow->addWidget(m_family, 1);
    fontRow->addWidget(sizeCaption);
    fontRow->addWidget(m_size);
    for (const char* name : {"boldBtn", "italicBtn", "underlineBtn", "strikeOutBtn"})
        fontRow->addWidget(styleButton(name, this));
    fontRow->addWidget(m_colorButton);
    layout->addLayout(fontRow);

    auto* previewRow = new QHBoxLayout;
    auto* previewCaption = new QLabel(tr("subtitletemplatewindow.Preview"), this);
    previewCaption->setObjectName(QStringLiteral("label_2"));
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    auto* frameLayout = new QVBoxLayout(frame);
    m_preview = new QLabel(tr("subtitletemplatewindow.Template"), frame);
    m_preview->setObjectName(QStringLiteral("fontPreviewLB"));
    m_preview->setAlignment(Qt::AlignCenter);
    QPalette palette = m_preview->palette();
    palette.setColor(QPalette::Active, QPalette::WindowText, QColor(255, 0, 255));
    palette.setColor(QPalette::Inactive, QPalette::WindowText, QColor(255, 0, 255));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    m_preview->setPalette(palette);
    frameLayout->addWidget(m_preview);
    previewRow->addWidget(previewCaption, 0, Qt::AlignTop);
    previewRow->addWidget(frame, 1);
    layout->addLayout(previewRow, 1);

    auto* buttonRow = new QHBoxLayout;
    m_create = new QPushButton(tr("subtitletemplatewindow.Create"), this);
    m_create->setObjectName(QStringLiteral("createSubtitleTemplate"));
    m_create->setShortcut(QKeySequence(Qt::Key_Return));
    auto* cancel = new QPushButton(tr("subtitletemplatewindow.Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelBtn"));
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_create);
    buttonRow->addWidget(cancel);
    layout->addLayout(buttonRow);
}

void SubtitleTemplateWidget::reset() {
    m_labelBox->setChecked(false);
    m_label->clear();
    m_create->setFocus(Qt::OtherFocusReason);
}

int SubtitleTemplateWidget::nextUnnamedNumber() {
    return s_unnamedCount;
}

void SubtitleTemplateWidget::applyColor() {
    const QString sheet = QStringLiteral("#fontColor { background-color: %1;border: 1px solid "
                                         "%2;}#fontColor:hover {background-color: %1;border: 1px "
                                         "solid %3;}#fontColor:pressed {background-color: %1;border: 1px "
                                         "solid %3;margin-left: 1px;margin-top: "
                                         "1px;margin-right: 1px;}");
    m_colorButton->setStyleSheet(
        sheet.arg(m_color.name(), m_color.darker(140).name(), m_color.darker(170).name()));
    QPalette palette = m_preview->palette();
    palette.setColor(QPalette::WindowText, m_color); // every group
    m_preview->setPalette(palette);
    showFont();
}

void SubtitleTemplateWidget::showFont() {
    m_preview->setFont(m_font);
}

void SubtitleTemplateWidget::on_labelCB_stateChanged(int checked) {
    if (checked == Qt::Unchecked)
        m_label->setEditable(false);
    else if (!m_label->editable())
        m_label->setEditable(true);
}

void SubtitleTemplateWidget::on_fontComboBox_currentFontChanged(QFont f) {
    m_font.setFamily(f.family());
    showFont();
}

void SubtitleTemplateWidget::on_fontSizeBox_currentTextChanged(QString fontSize) {
    bool ok = false;
    const int size = fontSize.toInt(&ok, 10);
    // A size that is not a positive number keeps the previous one, as QFont would.
    if (ok && size > 0)
        m_font.setPointSize(size);
    LOGD("font: %d", m_font.pointSize());
    showFont();
}

void SubtitleTemplateWidget::on_boldBtn_toggled(bool checked) {
    m_font.setWeight(checked ? QFont::Bold : QFont::Normal);
    showFont();
}

void SubtitleTemplateWidget::on_italicBtn_toggled(bool checked) {
    m_font.setStyle(checked ? QFont::StyleItalic : QFont::StyleNormal);
    showFont();
}

void SubtitleTemplateWidget::on_underlineBtn_toggled(bool checked) {
    m_font.setUnderline(checked);
    showFont();
}

void SubtitleTemplateWidget::on_strikeOutBtn_toggled(bool checked) {
    m_font.setStrikeOut(checked);
    showFont();
}

void SubtitleTemplateWidget::on_fontColor_clicked() {
    const QColor chosen = QColorDialog::getColor(m_color, this, tr("subtitletemplatewindow.ChooseColor"));
    if (!chosen.isValid())
        return; // cancelled
    m_color = chosen;
    applyColor();
}

void SubtitleTemplateWidget::on_cancelBtn_clicked() {
    hide();
}

void SubtitleTemplateWidget::on_createSubtitleTemplate_clicked() {
    if (m_labelBox->checkState() != Qt::Unchecked) {
        m_name = m_label->text();
    } else {
        QString pattern = tr("material_view.SubTitle");
        if (!pattern.contains(QLatin1String("%1")))
            pattern = QStringLiteral("Subtitle-%1"); // a translation without the number
        m_name = pattern.arg(s_unnamedCount++);
    }
    emit sig_createResSubtitle(m_name, QFont(m_font), QColor(m_color));
    hide();
}
