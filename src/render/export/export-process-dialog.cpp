#include "render/export/export-process-dialog.h"

#include "value/interface.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

constexpr const char* kStyleSheet = ":/qss/exportprocess-dialog.css";

double displayScale() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() / 96.0 : 1.0;
}

void showHint(QWidget* parent, const QString& title, const QString& text, const QString& button) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.setObjectName("messageBox_exportResult");
    box.button(QMessageBox::Ok)->setText(button);
    box.exec();
}

} // namespace

ExportProcessDialog::ExportProcessDialog(StopCallback onStop, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_onStop(std::move(onStop)),
      m_opener([](const QString& path) { return bg::iface()->showInFileManager(path.toUtf8().toStdString()); }) {
    setObjectName(QStringLiteral("ExportProcessDialog"));
    setWindowTitle(tr("exportmvdialog.ExportMV"));
    // The export runs beside the editor, which stays usable.
    setWindowModality(Qt::NonModal);
    const double scale = displayScale();
    resize(int(500 * scale), int(150 * scale));

    auto* top = new QVBoxLayout(this);
    m_label = new QLabel(tr("exportmvdialog.Time"), this);
    m_label->setObjectName("label_time");
    top->addWidget(m_label);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName("progressBar");
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    top->addWidget(m_bar);
    auto* buttons = new QHBoxLayout;
    top->addLayout(buttons);
    buttons->addStretch();
    auto* runBack = new QPushButton(tr("exportmvdialog.BackRunning"), this);
    runBack->setObjectName("pushButton_runback");
    buttons->addWidget(runBack);
    auto* achieve = new QPushButton(tr("exportmvdialog.achieve"), this);
    achieve->setObjectName("pushButton_acheive");
    buttons->addWidget(achieve);

    QFile css(QString::fromLatin1(kStyleSheet));
    if (css.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(css.readAll()));
    else
        LOGW("no style sheet %s", kStyleSheet);

    QMetaObject::connectSlotsByName(this);
    progress(0, 0);
}

ExportProcessDialog::~ExportProcessDialog() = default;

void ExportProcessDialog::progress(int64_t done, int64_t total) {
    done = std::max<int64_t>(0, done);
    total = std::max<int64_t>(0, total);
    if (total > 0)
        done = std::min(done, total);
    // The bar counts in int: long exports are shown in scaled steps.
    int64_t divisor = 1;
    while (total / divisor > INT_MAX)
        divisor *= 2;
    // A known total of 0 would turn the bar into a busy indicator; keep it empty instead.
    m_bar->setRange(0, total > 0 ? int(total / divisor) : 1);
    m_bar->setValue(total > 0 ? int(done / divisor) : 0);
    m_label->setText(total > 0 ? tr("exportmvdialog.Time") + QStringLiteral(" %1 / %2").arg(done).arg(total)
                               : tr("exportmvdialog.Time"));
}

void ExportProcessDialog::slot_processUpdate(int value, int max) {
    progress(value, max);
}

int ExportProcessDialog::value() const {
    return m_bar->value();
}

int ExportProcessDialog::maximum() const {
    return m_bar->maximum();
}

QString ExportProcessDialog::progressText() const {
    return m_label->text();
}

void ExportProcessDialog::on_pushButton_runback_clicked() {
    // The export goes on; the editor is not minimised, it is what the user goes back to.
    hide();
    emit sig_putAside();
}

void ExportProcessDialog::on_pushButton_acheive_clicked() {
    accept();
}

void ExportProcessDialog::done(int result) {
    // Closing before the export ended means "stop now"; the file keeps what was written.
    if (!m_finished)
        requestStop();
    QDialog::done(result);
}

void ExportProcessDialog::requestStop() {
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    LOGD("export stopped by the user");
    if (m_onStop)
        m_onStop();
}

void ExportProcessDialog::dismiss() {
    m_finished = true;
    hide();
}

void ExportProcessDialog::finished(const ExportResult& result) {
    m_finished = true;
    if (result.ok)
        progress(maximum(), maximum());
    hide();
    QWidget* owner = parentWidget();
    const QFileInfo file(result.path);
    if (result.ok && file.exists()) {
        LOGD("---> 打开导出文件目录:[%s]", result.path.toUtf8().constData());
        if (!m_opener || !m_opener(file.absoluteFilePath()))
            LOGW("cannot show %s in the file manager", result.path.toUtf8().constData());
        return;
    }
    if (result.ok) {
        // Reported as written, yet nothing is there.
        LOGE("---> 生成文件失败:[%s]", result.path.toUtf8().constData());
        showHint(owner, tr("exportmvwindow.Hint"), tr("exportmvwindow.fileinexistenError"), tr("exportmvwindow.Ok"));
        return;
    }
    // A failed export may leave a partial file; it is still a failure.
    const QString reason = result.reason.isEmpty() ? tr("exportmvwindow.fileinexistenError") : result.reason;
    LOGE("---> export failed: %s", reason.toUtf8().constData());
    showHint(owner, tr("exportmvwindow.Hint"), tr("exportmvwindow.WriteFail").arg(reason), tr("exportmvwindow.Ok"));
}
