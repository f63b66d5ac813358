#include "jobs-window.h"

#include "export-jobs.h"
#include "value/interface.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <climits>

namespace {

QString clockText(int seconds) {
    return seconds >= 3600 ? QStringLiteral("%1:%2:%3")
                                 .arg(seconds / 3600)
                                 .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                           : QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

JobsWindow::JobsWindow(ExportJobQueue* queue, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_queue(queue),
      m_opener([](const QString& path) { return bg::iface()->showInFileManager(path.toUtf8().toStdString()); }) {
    setObjectName(QStringLiteral("JobsWindow"));
    setWindowTitle(tr("exportjobs.Title"));
    resize(460, 320);
    auto* top = new QVBoxLayout(this);

    auto* noteRow = new QHBoxLayout;
    top->addLayout(noteRow);
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("label_note"));
    m_note->setWordWrap(true);
    noteRow->addWidget(m_note, 1);
    auto* noteOpen = new QPushButton(tr("exportjobs.OpenFolder"), this);
    noteOpen->setObjectName(QStringLiteral("pushButton_noteOpenFolder"));
    noteOpen->hide();
    noteRow->addWidget(noteOpen);
    m_noteOpen = noteOpen;
    connect(noteOpen, &QPushButton::clicked, this, [this] { showExported(m_noteFolderOf); });

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    top->addWidget(scroll, 1);
    auto* inner = new QWidget(scroll);
    m_list = new QVBoxLayout(inner);
    m_empty = new QLabel(tr("exportjobs.Empty"), inner);
    m_empty->setObjectName(QStringLiteral("label_empty"));
    m_list->addWidget(m_empty);
    m_list->addStretch(1);
    scroll->setWidget(inner);

    for (const ExportJob& job : queue->jobs())
        addRow(job.id);
    connect(queue, &ExportJobQueue::jobAdded, this, &JobsWindow::addRow);
    connect(queue, &ExportJobQueue::jobChanged, this, &JobsWindow::updateRow);
    connect(queue, &ExportJobQueue::jobEnded, this, &JobsWindow::jobEnded);
}

QString JobsWindow::note() const {
    return m_note->text();
}

void JobsWindow::addRow(int id) {
    const ExportJob* job = m_queue->job(id);
    if (!job || m_rows.contains(id))
        return;
    m_empty->hide();
    QWidget* inner = m_list->parentWidget();
    auto* row = new QFrame(inner);
    row->setObjectName(QStringLiteral("job_%1").arg(id));
    row->setFrameShape(QFrame::StyledPanel);
    auto* lines = new QVBoxLayout(row);
    auto* head = new QHBoxLayout;
    lines->addLayout(head);
    auto* name = new QLabel(QFileInfo(job->output).fileName(), row);
    name->setObjectName(QStringLiteral("label_name"));
    name->setToolTip(job->output);
    head->addWidget(name, 1);
    auto* state = new QLabel(row);
    state->setObjectName(QStringLiteral("label_state"));
    head->addWidget(state);
    auto* cancel = new QPushButton(tr("exportjobs.Cancel"), row);
    cancel->setObjectName(QStringLiteral("pushButton_cancel"));
    head->addWidget(cancel);
    auto* open = new QPushButton(tr("exportjobs.OpenFolder"), row);
    open->setObjectName(QStringLiteral("pushButton_openFolder"));
    head->addWidget(open);
    auto* progressRow = new QHBoxLayout;
    lines->addLayout(progressRow);
    auto* bar = new QProgressBar(row);
    bar->setObjectName(QStringLiteral("progressBar"));
    bar->setRange(0, 1);
    bar->setValue(0);
    progressRow->addWidget(bar, 1);
    auto* left = new QLabel(row);
    left->setObjectName(QStringLiteral("label_timeLeft"));
    progressRow->addWidget(left);
    auto* log = new QPlainTextEdit(row);
    log->setObjectName(QStringLiteral("log"));
    log->setReadOnly(true);
    log->setMaximumHeight(120);
    log->hide();
    lines->addWidget(log);
    connect(cancel, &QPushButton::clicked, this, [this, id] { m_queue->cancel(id); });
    const QString output = job->output;
    connect(open, &QPushButton::clicked, this, [this, output] { showExported(output); });
    // Newest first.
    m_list->insertWidget(0, row);
    m_rows.insert(id, row);
    updateRow(id);
}

void JobsWindow::showExported(const QString& output) {
    if (!m_opener)
        return;
    const QFileInfo file(output);
    const QString shown = file.exists() ? output : file.absolutePath();
    if (!file.exists()) {
        auto* box = new QMessageBox(QMessageBox::NoIcon, tr("exportjobs.Title"),
                                    tr("exportjobs.FileGone").arg(QDir::toNativeSeparators(output)), QMessageBox::Ok,
                                    this);
        box->setObjectName(QStringLiteral("fileGoneMessage"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        if (!QFileInfo(shown).isDir())
            return;
    }
    if (!m_opener(shown))
        LOGW("cannot show %s in the file manager", qUtf8Printable(shown));
}

void JobsWindow::updateRow(int id) {
    const ExportJob* job = m_queue->job(id);
    QWidget* row = m_rows.value(id);
    if (!job || !row)
        return;
    static const char* const kStates[] = {"exportjobs.Queued", "exportjobs.Running", "exportjobs.Done",
                                          "exportjobs.Failed", "exportjobs.Cancelled"};
    row->findChild<QLabel*>(QStringLiteral("label_state"))->setText(tr(kStates[job->state]));
    row->findChild<QPushButton*>(QStringLiteral("pushButton_cancel"))->setVisible(!job->ended());
    row->findChild<QPushButton*>(QStringLiteral("pushButton_openFolder"))->setVisible(job->state == ExportJob::Done);
    auto* bar = row->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    // The bar counts in int: long exports are shown in scaled steps.
    int64_t divisor = 1;
    while (job->total / divisor > INT_MAX)
        divisor *= 2;
    if (job->state == ExportJob::Done && !job->finishedEarly) {
        bar->setRange(0, 1);
        bar->setValue(1);
    } else if (job->total > 0) {
        bar->setRange(0, int(job->total / divisor));
        bar->setValue(int(std::min(job->done, job->total) / divisor));
    }
    const int seconds = job->secondsLeft();
    row->findChild<QLabel*>(QStringLiteral("label_timeLeft"))
        ->setText(seconds >= 0 ? tr("exportjobs.TimeLeft").arg(clockText(seconds)) : QString());
    auto* log = row->findChild<QPlainTextEdit*>(QStringLiteral("log"));
    if (job->state == ExportJob::Failed) {
        const QString tail = job->logTail();
        log->setPlainText(tail.isEmpty() ? job->reason : job->reason + QLatin1Char('\n') + tail);
        log->show();
    }
}

void JobsWindow::jobEnded(int id) {
    const ExportJob* job = m_queue->job(id);
    if (!job)
        return;
    const QString name = QFileInfo(job->output).fileName();
    switch (job->state) {
    case ExportJob::Done: m_note->setText(ExportJobQueue::doneNote(*job)); break;
    case ExportJob::Failed: m_note->setText(tr("exportjobs.FailedNote").arg(name)); break;
    default: m_note->setText(tr("exportjobs.CancelledNote").arg(name)); break;
    }
    m_noteFolderOf = job->output;
    m_noteOpen->setVisible(job->state == ExportJob::Done);
}
