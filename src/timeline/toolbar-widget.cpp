#include "timeline/toolbar-widget.h"

#include "timeline/time-ruler.h"
#include "timeline/timeline-units.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

namespace {
constexpr const char* kAutoAlign = "autoAlign";
constexpr const char* kAutoAlignHint = "autoAlignHint";
} // namespace

ToolBarWidget::ToolBarWidget(QWidget* parent) : QWidget(parent) {
    qRegisterMetaType<int64_t>("int64_t");
    const double dpi = timeline::dpiScale();
    setFixedHeight(int(48 * dpi));
    QFile css(QStringLiteral(":/qss/toolbar-widget.css"));
    if (css.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(css.readAll()));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(int(10 * dpi), 0, int(10 * dpi), 0);
    layout->setSpacing(int(6 * dpi));

    m_undo = addButton(QStringLiteral("pushButton_undo"), QStringLiteral("undo"), QString());
    m_redo = addButton(QStringLiteral("pushButton_redo"), QStringLiteral("redo"), QString());
    m_split = addButton(QStringLiteral("pushButton_split"), QStringLiteral("cut"), tr("toolbar_form.Split"));
    m_split->setToolTip(tr("toolbar_form.SplitTip"));
    m_audio = addButton(QStringLiteral("pushButton_audio"), QStringLiteral("dub"), tr("toolbar_form.Mic"));
    m_audio->setCheckable(true);
    m_edit = addButton(QStringLiteral("pushButton_edit"), QStringLiteral("edit"), tr("toolbar_form.Edit"));
    m_subtitle = addButton(QStringLiteral("pushButton_subtitle"), QStringLiteral("captions"),
                           tr("toolbar_form.Subtitle"));
    m_clear =
        addButton(QStringLiteral("pushButton_clear"), QStringLiteral("clear"), tr("toolbar_form.Clear"));

    m_autoAlign = new QCheckBox(tr("toolbar_form.AutoAlign"), this);
    m_autoAlign->setObjectName(QStringLiteral("checkBox_auto_align"));

    m_scale = new QSlider(Qt::Horizontal, this);
    m_scale->setObjectName(QStringLiteral("horizontalSlider_scale"));
    m_scale->setRange(0, kMaxZoom);
    m_scale->setPageStep(1);
    m_scale->setFixedWidth(int(120 * dpi));
    m_scale->setValue(kMaxZoom - kStartZoom);

    m_time = new QLabel(timeline::clockText(0), this);
    m_time->setObjectName(QStringLiteral("label_time"));

    m_export = new QToolButton(this);
    m_export->setObjectName(QStringLiteral("pushButton_export"));
    m_export->setIcon(QIcon(QStringLiteral(":/image/toolbar-export.png")));
    m_export->setText(tr("toolbar_form.ExportMV"));
    m_export->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_export->setAutoRaise(true);

    for (QWidget* w :
         {static_cast<QWidget*>(m_undo), static_cast<QWidget*>(m_redo), static_cast<QWidget*>(m_split),
          static_cast<QWidget*>(m_audio), static_cast<QWidget*>(m_edit), static_cast<QWidget*>(m_subtitle),
          static_cast<QWidget*>(m_clear), static_cast<QWidget*>(m_autoAlign)})
        layout->addWidget(w);
    layout->addStretch(1);
    layout->addWidget(m_scale);
    layout->addWidget(m_time);
    layout->addStretch(1);
    layout->addWidget(m_export);

    // Enabled later by the undo history and by the timeline's selection.
    for (QToolButton* b : {m_undo, m_redo, m_split, m_edit})
        b->setEnabled(false);

    auto* undo = zya::UndoController::instance();
    connect(undo, &zya::UndoController::sig_canUndo, m_undo, &QWidget::setEnabled);
    connect(undo, &zya::UndoController::sig_canRedo, m_redo, &QWidget::setEnabled);

    QMetaObject::connectSlotsByName(this);

    // Queued so that whoever connects sig_autoAlign right after construction hears it.
    QTimer::singleShot(0, this, [this] {
        const bool on = bg::configBool(kAutoAlign, false);
        {
            const QSignalBlocker block(m_autoAlign);
            m_autoAlign->setChecked(on);
        }
        emit sig_autoAlign(on);
    });
}

QToolButton* ToolBarWidget::addButton(const QString& name, const QString& image, const QString& text) {
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    const QString base = QStringLiteral(":/image/toolbar-%1-%2.png");
    QIcon icon;
    icon.addFile(base.arg(image, QStringLiteral("default")), QSize(), QIcon::Normal);
    icon.addFile(base.arg(image, QStringLiteral("hover")), QSize(), QIcon::Active);
    icon.addFile(base.arg(image, QStringLiteral("forbidden")), QSize(), QIcon::Disabled);
    button->setIcon(icon);
    const int side = int(24 * timeline::dpiScale());
    button->setIconSize(QSize(side, side));
    button->setText(text);
    button->setToolButtonStyle(text.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
    // Auto-raise draws the Active (hover) image under the pointer.
    button->setAutoRaise(true);
    return button;
}

void ToolBarWidget::on_pushButton_undo_clicked() {
    emit sig_opertorUi(true, true);
    zya::UndoController::instance()->stack.undo();
}

void ToolBarWidget::on_pushButton_redo_clicked() {
    emit sig_opertorUi(true, true);
    zya::UndoController::instance()->stack.redo();
}

void ToolBarWidget::on_pushButton_split_clicked() {
    emit sig_opertorUi(true, true);
    emit sig_splitSourceItem();
}

void ToolBarWidget::on_pushButton_audio_clicked(bool checked) {
    emit sig_opertorUi(true, false);
    emit sig_recordAudio(checked);
}

void ToolBarWidget::slot_controlRecord() {
    if (m_audio->isChecked())
        m_audio->click();
}

void ToolBarWidget::on_pushButton_edit_clicked() {
    emit sig_editSourceItem();
}

void ToolBarWidget::on_pushButton_clear_clicked() {
    emit sig_opertorUi(true, true);
    emit sig_clearSourceItems();
}

void ToolBarWidget::on_pushButton_subtitle_clicked() {
    emit sig_showSubtitleTemplates();
}

void ToolBarWidget::on_pushButton_export_clicked() {
    emit sig_opertorUi(true, true);
    if (m_length == 0) {
        QMessageBox box(QMessageBox::NoIcon, tr("exportmvwindow.Hint"), tr("exportmvwindow.CantBeEmpty"),
                        QMessageBox::NoButton, this);
        box.addButton(tr("exportmvwindow.Ok"), QMessageBox::AcceptRole);
        box.exec();
        return;
    }
    emit sig_showExport();
}

void ToolBarWidget::on_horizontalSlider_scale_valueChanged(int value) {
    emit sig_scaleSliderValue(m_scale->maximum() - value);
}

void ToolBarWidget::on_checkBox_auto_align_clicked(bool checked) {
    if (checked && bg::configBool(kAutoAlignHint, true)) {
        QMessageBox box(QMessageBox::NoIcon, tr("toolbar_form.Hint"), tr("toolbar_form.DragAlign"),
                        QMessageBox::NoButton, this);
        QPushButton* never = box.addButton(tr("toolbar_form.DonntPopAgain"), QMessageBox::RejectRole);
        box.addButton(tr("toolbar_form.Ok"), QMessageBox::AcceptRole);
        box.exec();
        if (box.clickedButton() == never) {
            bg::configSetBool(kAutoAlignHint, false);
            bg::iface()->configSave();
        }
    }
    setAutoAlign(checked);
}

void ToolBarWidget::toggleAutoAlign() {
    const bool on = !m_autoAlign->isChecked();
    {
        const QSignalBlocker block(m_autoAlign);
        m_autoAlign->setChecked(on);
    }
    setAutoAlign(on);
}

void ToolBarWidget::setAutoAlign(bool on) {
    bg::configSetBool(kAutoAlign, on);
    bg::iface()->configSave();
    emit sig_autoAlign(on);
}

void ToolBarWidget::slot_scaleSliderValueChanged(int value) {
    // The view set this level itself: telling it again would only echo.
    const QSignalBlocker block(m_scale);
    m_scale->setValue(m_scale->maximum() - value);
}

void ToolBarWidget::slot_splitButtonEnable(bool enable) {
    m_split->setEnabled(enable);
}

void ToolBarWidget::slot_clearButtonEnable(bool enable) {
    m_clear->setEnabled(enable);
}

void ToolBarWidget::slot_editButtonEnable(bool enable) {
    m_edit->setEnabled(enable);
}

void ToolBarWidget::slot_showTime(int64_t frame, int64_t length) {
    m_time->setText(timeline::clockText(frame));
    m_length = length;
}
