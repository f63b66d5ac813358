#include "render/export/export-param-widget.h"

#include "value/interface.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QKeyEvent>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstring>

namespace {

constexpr const char* kFolderKey = "export_default_path";
constexpr const char* kStyleSheet = ":/qss/exportparam-widget.css";

// Shown state of the Advanced section, kept from one opening to the next.
bool s_advancedShown = false;

QLabel* label(const QString& objectName, const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(objectName);
    return l;
}

QComboBox* combo(const QString& objectName, const QStringList& items, const QString& current, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(objectName);
    c->addItems(items);
    c->setCurrentText(current);
    return c;
}

// The folder a first export goes to when none was saved or it has gone.
QString fallbackFolder() {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!videos.isEmpty() && QFileInfo(videos).isDir())
        return videos;
    return QDir::homePath();
}

} // namespace

const QStringList& ExportParamWidget::frameRates() {
    // 24: the rate of film, which users of other editors expect to find.
    static const QStringList list {"30", "25", "24", "20", "15", "10", "7", "5"};
    return list;
}

const QStringList& ExportParamWidget::extensions() {
    static const QStringList list {".avi", ".mp3", ".mp4"};
    return list;
}

const QStringList& ExportParamWidget::presetSizes() {
    static const QStringList list {"320 x 240",  "480 x 320",  "640 x 480",   "720 x 640",
                                   "720 x 1280", "1280 x 720", "1080 x 1920", "1920 x 1080"};
    return list;
}

const QStringList& ExportParamWidget::playRates() {
    static const QStringList list {"2.0", "1.5", "1.25", "1.0", "0.75", "0.5"};
    return list;
}

const QString& ExportParamWidget::forbiddenCharacters() {
    static const QString list = QStringLiteral("\\/:*?\"<>|") + QChar(0xFF1F);
    return list;
}

int ExportParamWidget::recommendedBitRate(int width, int height, int frameRate) {
    // The magnitude of a negative product rounded up to a multiple of 100;
    // the order of operations is kept so results match earlier releases.
    const double x = double(width) * double(height) * (-0.003) / 1000.0 * double(frameRate) * 32.0;
    const int64_t truncated = int64_t(x);
    return int(((99 - truncated) / 100) * 100);
}

bool ExportParamWidget::advancedShown() {
    return s_advancedShown;
}

ExportParamWidget::ExportParamWidget(ExportCallback onExport, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_onExport(std::move(onExport)), m_presetTexts(presetSizes()) {
    setObjectName(QStringLiteral("ExportParamWidget"));
    setWindowTitle(tr("exportmvwindow.ExportMV"));
    setWindowModality(Qt::ApplicationModal);
    buildForm();
    resize(800, 509);
    setMinimumWidth(600);

    QFile css(QString::fromLatin1(kStyleSheet));
    if (css.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(css.readAll()));
    else
        LOGW("no style sheet %s", kStyleSheet);

    QString start = QString::fromUtf8(bg::configText(kFolderKey, QDir::homePath().toStdString()).c_str());
    if (start.isEmpty() || !QFileInfo(start).isDir()) {
        if (!start.isEmpty())
            LOGW("export folder %s is gone; using the default", start.toUtf8().constData());
        start = fallbackFolder();
    }
    setFolder(start);
    m_name->setText(QStringLiteral("export_") + QDateTime::currentDateTime().toString("yyyyMMddHHmmss"));

    QMetaObject::connectSlotsByName(this);
    on_radioButton_resolution_select_toggled(true);
    on_radioButton_resolution_custom_toggled(false);
    on_radioButton_rate_select_toggled(true);
    on_radioButton_rate_custom_toggled(false);
    applyAdvanced();
}

ExportParamWidget::~ExportParamWidget() = default;

void ExportParamWidget::buildForm() {
    auto* top = new QVBoxLayout(this);
    top->addWidget(label("label_title", tr("exportmvwindow.ExportMVSettings"), this));

    auto* form = new QGridLayout;
    top->addLayout(form);
    form->addWidget(label("label_path", tr("exportmvwindow.SavePath"), this), 0, 0);
    m_path = new QLineEdit(this);
    m_path->setObjectName("lineEdit_path");
    form->addWidget(m_path, 0, 1);
    m_browse = new QPushButton(QStringLiteral("..."), this);
    m_browse->setObjectName("pushButton_path");
    form->addWidget(m_browse, 0, 2);

    form->addWidget(label("label_name", tr("exportmvwindow.VideoName"), this), 1, 0);
    m_name = new QLineEdit(this);
    m_name->setObjectName("lineEdit_name");
    form->addWidget(m_name, 1, 1);
    m_extension = combo("comboBox_extension", extensions(), ".mp4", this);
    form->addWidget(m_extension, 1, 2);

    form->addWidget(label("label_fps", tr("exportmvwindow.Fps"), this), 2, 0);
    m_frameRate = combo("comboBox_fps", frameRates(), "30", this);
    form->addWidget(m_frameRate, 2, 1);
    form->addWidget(label("label_fpsUnit", tr("exportmvwindow.FramePerSec"), this), 2, 2);
    m_srt = new QCheckBox(tr("exportmvwindow.WriteSrt"), this);
    m_srt->setObjectName("checkBox_srt");
    form->addWidget(m_srt, 3, 1, 1, 2);

    m_premium = new QPushButton(tr("exportmvwindow.Advance"), this);
    m_premium->setObjectName("pushButton_premium");
    m_premium->setIconSize(QSize(12, 12));
    m_premium->setLayoutDirection(Qt::RightToLeft); // the arrow after the text
    m_premium->setProperty("isEnglish", bg::configText("IsEnglish", "简体中文") == "English");
    top->addWidget(m_premium, 0, Qt::AlignLeft);

    m_advanced = new QWidget(this);
    m_advanced->setObjectName("widget_advanced");
    top->addWidget(m_advanced);
    auto* adv = new QGridLayout(m_advanced);

    adv->addWidget(label("label_frameSize", tr("exportmvwindow.ExportFrameSize"), m_advanced), 0, 0);
    m_sizeSelect = new QRadioButton(tr("exportmvwindow.ChooseSize"), m_advanced);
    m_sizeSelect->setObjectName("radioButton_resolution_select");
    m_sizeSelect->setChecked(true);
    adv->addWidget(m_sizeSelect, 0, 1);
    m_size = combo("comboBox_resolution", m_presetTexts, "1920 x 1080", m_advanced);
    adv->addWidget(m_size, 0, 2);
    m_srcSize = label("label_srcSize", QString(), m_advanced);
    adv->addWidget(m_srcSize, 0, 3, 1, 3);

    m_sizeCustom = new QRadioButton(tr("exportmvwindow.CustomSize"), m_advanced);
    m_sizeCustom->setObjectName("radioButton_resolution_custom");
    adv->addWidget(m_sizeCustom, 1, 1);
    m_widthLabel = label("label_width", tr("exportmvwindow.Width"), m_advanced);
    adv->addWidget(m_widthLabel, 1, 2);
    m_width = new QSpinBox(m_advanced);
    m_width->setObjectName("spinBox_width");
    m_width->setRange(96, 2560);
    m_width->setValue(1280);
    adv->addWidget(m_width, 1, 3);
    m_heightLabel = label("label_height", tr("exportmvwindow.Height"), m_advanced);
    adv->addWidget(m_heightLabel, 1, 4);
    m_height = new QSpinBox(m_advanced);
    m_height->setObjectName("spinBox_height");
    m_height->setRange(96, 1440);
    m_height->setValue(720);
    adv->addWidget(m_height, 1, 5);
    auto* sizeGroup = new QButtonGroup(m_advanced);
    sizeGroup->addButton(m_sizeSelect);
    sizeGroup->addButton(m_sizeCustom);

    m_rateArea = new QWidget(m_advanced);
    m_rateArea->setObjectName("widget_bitrate");
    m_rateArea->setToolTip(tr("exportmvwindow.BitrateTooltip"));
    adv->addWidget(m_rateArea, 2, 0, 1, 6);
    auto* rates = new QHBoxLayout(m_rateArea);
    rates->setContentsMargins(0, 0, 0, 0);
    rates->addWidget(label("label_bitrate", tr("exportmvwindow.Bitrate"), m_rateArea));
    m_tooltip = new QToolButton(m_rateArea);
    m_tooltip->setObjectName("toolButton_tooltip");
    m_tooltip->setText(QStringLiteral("?"));
    rates->addWidget(m_tooltip);
    m_rateSelect = new QRadioButton(m_rateArea);
    m_rateSelect->setObjectName("radioButton_rate_select");
    m_rateSelect->setChecked(true);
    rates->addWidget(m_rateSelect);
    m_rate = new QComboBox(m_rateArea);
    m_rate->setObjectName("comboBox_bitrate");
    m_rate->addItems({tr("exportmvwindow.qualitypriority"), tr("exportmvwindow.volumepriority"),
                      tr("exportmvwindow.recommand")});
    m_rate->setCurrentIndex(0);
    rates->addWidget(m_rate);
    m_rateCustom = new QRadioButton(m_rateArea);
    m_rateCustom->setObjectName("radioButton_rate_custom");
    rates->addWidget(m_rateCustom);
    m_rateValue = new QSpinBox(m_rateArea);
    m_rateValue->setObjectName("spinBox_bitrate");
    m_rateValue->setRange(200, 500000);
    m_rateValue->setValue(2300);
    m_rateValue->setSuffix(QStringLiteral(" kbps"));
    rates->addWidget(m_rateValue);
    rates->addStretch();
    auto* rateGroup = new QButtonGroup(m_rateArea);
    rateGroup->addButton(m_rateSelect);
    rateGroup->addButton(m_rateCustom);

    adv->addWidget(label("label_playRate", tr("exportmvwindow.PlayRate"), m_advanced), 3, 0);
    m_playRate = combo("comboBox_playRate", playRates(), "1.0", m_advanced);
    adv->addWidget(m_playRate, 3, 1);
    adv->addWidget(label("label_changeRate", tr("exportmvwindow.ChangeRate"), m_advanced), 3, 2, 1, 4);

    top->addStretch();
    m_export = new QPushButton(tr("exportmvwindow.Export"), this);
    m_export->setObjectName("pushButton_export");
    m_export->setDefault(true);
    top->addWidget(m_export, 0, Qt::AlignRight);
}

void ExportParamWidget::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        m_export->click();
        break;
    case Qt::Key_Escape:
        close();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void ExportParamWidget::showForExport() {
    m_name->setText(QStringLiteral("export_") + QDateTime::currentDateTime().toString("yyyyMMddHHmmss"));
    show();
    raise();
    activateWindow();
}

void ExportParamWidget::setFolder(const QString& folder) {
    m_folder = QDir::fromNativeSeparators(folder);
    m_path->setText(m_folder.endsWith('/') ? m_folder : m_folder + '/');
}

bool ExportParamWidget::writeSubtitles() const {
    return m_srt->isChecked();
}

void ExportParamWidget::slot_updateSceneSize(int width, int height) {
    LOGD("width: %d height: %d", width, height);
    const QString text = QStringLiteral("%1 x %2").arg(width).arg(height);
    QStringList items = m_presetTexts;
    if (!items.contains(text))
        items.prepend(text);
    m_size->clear();
    m_size->addItems(items);
    m_size->setCurrentText(text);
    m_srcSize->setText(tr("exportmvwindow.SrcSize").arg(text));
}

void ExportParamWidget::on_pushButton_path_clicked() {
    const QString chosen = QFileDialog::getExistingDirectory(this, tr("exportmvwindow.ChooseDir"), m_folder,
                                                             QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return;
    setFolder(chosen);
    bg::iface()->configSet(kFolderKey, m_folder.toUtf8().toStdString());
    if (!bg::iface()->configSave())
        LOGW("cannot save the setting %s", kFolderKey);
}

void ExportParamWidget::on_pushButton_premium_clicked() {
    s_advancedShown = !s_advancedShown;
    applyAdvanced();
    // The window's size follows the section only after the layout has settled.
    QTimer::singleShot(0, this, [this] { adjustSize(); });
}

void ExportParamWidget::applyAdvanced() {
    m_advanced->setVisible(s_advancedShown);
    m_premium->setIcon(QIcon(s_advancedShown ? QStringLiteral(":/image/export-collapse.png")
                                             : QStringLiteral(":/image/export-expand.png")));
}

void ExportParamWidget::on_radioButton_resolution_select_toggled(bool checked) {
    m_size->setEnabled(checked);
}

void ExportParamWidget::on_radioButton_resolution_custom_toggled(bool checked) {
    m_width->setEnabled(checked);
    m_height->setEnabled(checked);
    m_widthLabel->setEnabled(checked);
    m_heightLabel->setEnabled(checked);
}

void ExportParamWidget::on_radioButton_rate_select_toggled(bool checked) {
    m_rate->setEnabled(checked);
}

void ExportParamWidget::on_radioButton_rate_custom_toggled(bool checked) {
    m_rateValue->setEnabled(checked);
}

void ExportParamWidget::on_toolButton_tooltip_clicked() {
    const QPoint global = QCursor::pos();
    QCoreApplication::postEvent(m_rateArea, new QHelpEvent(QEvent::ToolTip, m_rateArea->mapFromGlobal(global), global));
}

void ExportParamWidget::hint(QWidget* parent, const QString& title, const QString& text, const QString& button) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.setObjectName("messageBox_exportHint");
    box.button(QMessageBox::Ok)->setText(button);
    box.exec();
}

bool ExportParamWidget::fillParams(MVParams& params) {
    const QString folderText = m_path->text().trimmed();
    // Only a folder can hold the export; an existing file here would make the
    // output path a child of a file.
    if (folderText.isEmpty() || !QFileInfo(folderText).isDir()) {
        LOGW("export folder %s does not exist", folderText.toUtf8().constData());
        hint(this, tr("exportmvwindow.Hint"), tr("exportmvwindow.dirNoneExist"), tr("exportmvwindow.Ok"));
        return false;
    }
    // Said now rather than by a failed job in the Jobs window.
    if (!QFileInfo(folderText).isWritable()) {
        LOGW("export folder %s cannot be written", folderText.toUtf8().constData());
        hint(this, tr("exportmvwindow.Hint"), tr("exportmvwindow.FolderNotWritable").arg(folderText),
             tr("exportmvwindow.Ok"));
        return false;
    }
    QString name = m_name->text().trimmed();
    // A name typed with the chosen format's extension keeps one of it.
    const QString extension = m_extension->currentText();
    if (name.endsWith(extension, Qt::CaseInsensitive) && name.size() > extension.size())
        name.chop(extension.size());
    if (name.isEmpty()) {
        hint(this, tr("exportmvwindow.Hint"), tr("exportmvwindow.NameEmpty"), tr("exportmvwindow.Ok"));
        return false;
    }
    for (const QChar c : forbiddenCharacters()) {
        if (name.contains(c)) {
            hint(this, tr("historyitemwidget.RenameFailed"),
                 tr("historyitemwidget.NameList") + QStringLiteral(": ") + forbiddenCharacters(),
                 tr("historyitemwidget.Ok"));
            return false;
        }
    }

    params = MVParams();
    params.width = 1920;
    params.height = 1080;
    params.frameRate = 25;
    params.keyFrameInterval = 25;
    params.channels = 2;
    params.bitRate = 44100;
    params.playRate = 1.0;

    params.frameRate = m_frameRate->currentText().toInt();
    params.keyFrameInterval = params.frameRate;
    params.playRate = m_playRate->currentText().toDouble();

    // Joined as a path, so a folder typed without its trailing "/" still works.
    const QString path = QDir(folderText).filePath(name + extension);
    if (!exportfn::setExportPath(params, path)) {
        LOGW("export path too long (%d bytes): %s", int(path.toUtf8().size()), path.toUtf8().constData());
        hint(this, tr("exportmvwindow.Hint"),
             tr("exportmvwindow.PathTooLong").arg(int(sizeof(params.filePath)) - 1), tr("exportmvwindow.Ok"));
        return false;
    }
    // The file is written under a longer hidden name first (with the
    // exporter's process id, at most 7 digits), which must fit a file name.
    constexpr int kNameMax = 255;
    const int hiddenBytes = QFileInfo(exportfn::partialPath(path, 9999999)).fileName().toUtf8().size();
    if (hiddenBytes > kNameMax) {
        LOGW("export name too long: %s", path.toUtf8().constData());
        hint(this, tr("exportmvwindow.Hint"),
             tr("exportmvwindow.NameTooLong").arg(name.toUtf8().size() - (hiddenBytes - kNameMax)),
             tr("exportmvwindow.Ok"));
        return false;
    }
    QStringList written {path};
    if (writeSubtitles())
        written << exportfn::srtPathBeside(path);
    for (const QString& file : written) {
        if (m_readByProject && m_readByProject(QFileInfo(file).absoluteFilePath())) {
            LOGW("export refused: the project reads %s", file.toUtf8().constData());
            hint(this, tr("exportmvwindow.Hint"), tr("exportmvwindow.ReadByProject").arg(file),
                 tr("exportmvwindow.Ok"));
            return false;
        }
        if (m_outputInUse && m_outputInUse(QFileInfo(file).absoluteFilePath())) {
            LOGW("export refused: an export to %s waits or runs", file.toUtf8().constData());
            hint(this, tr("exportmvwindow.Hint"), tr("exportmvwindow.OutputInUse").arg(file), tr("exportmvwindow.Ok"));
            return false;
        }
    }
    params.audioOnly = extension == QLatin1String(".mp3") ? 1 : 0;
    params.gif = extension == QLatin1String(".gif") ? 1 : 0;

    if (m_sizeCustom->isChecked()) {
        params.width = m_width->value();
        params.height = m_height->value();
    } else {
        static const QRegularExpression sizePattern(QStringLiteral("^(\\d+)\\s*x\\s*(\\d+)$"));
        const QRegularExpressionMatch match = sizePattern.match(m_size->currentText());
        const int width = match.hasMatch() ? match.captured(1).toInt() : 0;
        const int height = match.hasMatch() ? match.captured(2).toInt() : 0;
        if (width <= 0 || height <= 0) {
            LOGW("export resolution '%s' is not a size", m_size->currentText().toUtf8().constData());
            hint(nullptr, tr("exportmvwindow.Hint"), tr("exportmvwindow.reslutionError"), tr("exportmvwindow.Ok"));
            return false;
        }
        params.width = width;
        params.height = height;
    }

    if (m_rateCustom->isChecked()) {
        params.bitRate = m_rateValue->value();
    } else {
        switch (m_rate->currentIndex()) {
        case 1: // Size Minimum: fewer key frames
            params.bitRate = 0;
            params.keyFrameInterval = 120;
            break;
        case 2:
            params.bitRate = recommendedBitRate(params.width, params.height, params.frameRate);
            break;
        default:
            params.bitRate = 0;
            break;
        }
    }

    const QString problem = exportfn::checkParams(params);
    if (!problem.isEmpty()) {
        LOGW("export refused: %s", problem.toUtf8().constData());
        hint(this, tr("exportmvwindow.Hint"), tr("exportmvwindow.ParamError").arg(problem), tr("exportmvwindow.Ok"));
        return false;
    }

    // Overwriting someone's file silently loses it: ask first, for the
    // subtitles beside it too.
    QStringList existing;
    if (QFileInfo::exists(path))
        existing << path;
    if (writeSubtitles() && QFileInfo::exists(exportfn::srtPathBeside(path)))
        existing << exportfn::srtPathBeside(path);
    if (!existing.isEmpty()) {
        QMessageBox box(QMessageBox::Question, tr("exportmvwindow.Hint"),
                        tr("exportmvwindow.FileExists").arg(existing.join(QLatin1Char('\n'))),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName("messageBox_exportOverwrite");
        box.button(QMessageBox::Yes)->setText(tr("exportmvwindow.Overwrite"));
        box.button(QMessageBox::No)->setText(tr("exportmvwindow.Cancel"));
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return false;
    }
    return true;
}

void ExportParamWidget::on_pushButton_export_clicked() {
    MVParams params;
    if (!fillParams(params))
        return;
    m_params = params;
    close();
    if (m_onExport)
        m_onExport(&m_params);
    emit sig_exportParam(&m_params);
}
