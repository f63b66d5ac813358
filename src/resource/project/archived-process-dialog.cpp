#include "resource/project/archived-process-dialog.h"

#include "resource/project/project-common.h"
#include "values/screen-scale.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace {

QString megabytes(int64_t bytes) {
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1);
}

} // namespace

ArchivedProcessDialog::ArchivedProcessDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ArchivedProcessDialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::ApplicationModal);
    project::loadStyleSheet(this, QStringLiteral(":/qss/archivedprocess-dialog.css"));

    // The window itself is transparent; this panel is what the user sees.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("widget_back"));
    outer->addWidget(panel);
    auto* layout = new QVBoxLayout(panel);
    auto* title = new QLabel(tr("archivedprocessdialog.SourceArchive"), panel);
    title->setObjectName(QStringLiteral("label_title"));
    layout->addWidget(title);
    auto* icon = new QLabel(panel);
    icon->setObjectName(QStringLiteral("label_icon"));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon, 1);
    m_bar = new QProgressBar(panel);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    layout->addWidget(m_bar);
    m_progressText = new QLabel(panel);
    m_progressText->setObjectName(QStringLiteral("label_progress"));
    m_progressText->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_progressText);
    m_note = new QLabel(tr("archivedprocessdialog.SuccessNote"), panel);
    m_note->setObjectName(QStringLiteral("label_note"));
    m_note->setAlignment(Qt::AlignCenter);
    m_note->setWordWrap(true);
    m_note->hide();
    layout->addWidget(m_note);

    const double scale = screenDpiScale();
    resize(int(400 * scale), int(260 * scale));
}

void ArchivedProcessDialog::start() {
    m_running = true;
    m_note->hide();
    m_bar->show();
    m_progressText->show();
    setProgress(0, 0, 0, 0);
    open();
}

void ArchivedProcessDialog::setProgress(int filesDone, int filesTotal, int64_t bytesDone,
                                        int64_t bytesTotal) {
    // By bytes when there are any, so one large film moves the bar smoothly.
    double fraction = 0.0;
    if (bytesTotal > 0)
        fraction = double(bytesDone) / double(bytesTotal);
    else if (filesTotal > 0)
        fraction = double(filesDone) / double(filesTotal);
    m_bar->setValue(int(qBound(0.0, fraction, 1.0) * m_bar->maximum()));
    m_progressText->setText(tr("archivedprocessdialog.Progress")
                                .arg(filesDone)
                                .arg(filesTotal)
                                .arg(megabytes(bytesDone), megabytes(bytesTotal)));
}

void ArchivedProcessDialog::showSuccess() {
    m_bar->setValue(m_bar->maximum());
    m_bar->hide();
    m_progressText->hide();
    m_note->show();
}

void ArchivedProcessDialog::finish() {
    m_running = false;
    accept();
}

QString ArchivedProcessDialog::progressText() const {
    return m_progressText->text();
}

QString ArchivedProcessDialog::noteText() const {
    return m_note->isVisibleTo(this) ? m_note->text() : QString();
}

void ArchivedProcessDialog::reject() {
    // Once started an archive runs to its end; Escape must not hide it.
    if (!m_running)
        QDialog::reject();
}
