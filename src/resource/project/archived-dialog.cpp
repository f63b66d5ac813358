#include "resource/project/archived-dialog.h"

#include "resource/project/project-common.h"
#include "values/screen-scale.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ArchivedDialog::ArchivedDialog(ArchiveCall archive, QWidget* parent)
    : QDialog(parent), m_archiveCall(std::move(archive)) {
    setObjectName(QStringLiteral("ArchivedDialog"));
    setWindowTitle(tr("archivedialog.SourceArchive"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    project::loadStyleSheet(this, QStringLiteral(":/qss/archived-dialog.css"));
    buildForm();
    m_folder->setText(QDir::toNativeSeparators(QDir::homePath()));
    const double scale = screenDpiScale();
    resize(int(540 * scale), int(230 * scale));
    QMetaObject::connectSlotsByName(this);
}

void ArchivedDialog::buildForm() {
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(tr("archivedialog.SourceArchive"), this);
    title->setObjectName(QStringLiteral("label_title"));
    layout->addWidget(title);

    auto* fields = new QGridLayout;
    auto label = [this](const char* key, const char* name) {
        auto* l = new QLabel(tr(key), this);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    m_source = new QLineEdit(this);
    m_source->setObjectName(QStringLiteral("lineEdit_source"));
    m_source->setReadOnly(true);
    m_folder = new QLineEdit(this);
    m_folder->setObjectName(QStringLiteral("lineEdit_dir"));
    m_select = new QPushButton(tr("archivedialog.Choose"), this);
    m_select->setObjectName(QStringLiteral("pushButton_select"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("lineEdit_name"));
    fields->addWidget(label("archivedialog.Source", "label_source"), 0, 0);
    fields->addWidget(m_source, 0, 1, 1, 2);
    fields->addWidget(label("archivedialog.ExportDir", "label_dir"), 1, 0);
    fields->addWidget(m_folder, 1, 1);
    fields->addWidget(m_select, 1, 2);
    fields->addWidget(label("archivedialog.AsName", "label_name"), 2, 0);
    fields->addWidget(m_name, 2, 1, 1, 2);
    fields->setColumnStretch(1, 1);
    layout->addLayout(fields);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(label("archivedialog.Describ", "label_describ"), 1);
    m_archive = new QPushButton(tr("archivedialog.Archive"), this);
    m_archive->setObjectName(QStringLiteral("pushButton_archived"));
    m_archive->setShortcut(QKeySequence(QStringLiteral("Ctrl+Tab")));
    m_archive->setDefault(true);
    bottom->addWidget(m_archive);
    layout->addLayout(bottom);
}

QString ArchivedDialog::defaultArchiveName(const QDateTime& when) {
    return QStringLiteral("Dunmere-") + when.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('_') +
           when.toString(QStringLiteral("HH-mm"));
}

int ArchivedDialog::run(const QString& sourcePath) {
    m_source->setText(QDir::toNativeSeparators(sourcePath));
    m_name->setText(defaultArchiveName());
    m_name->selectAll();
    m_name->setFocus();
    return exec();
}

QString ArchivedDialog::refusal(const QString& folder, const QString& name) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return QStringLiteral("archivedialog.dirNoneExist");
    if (project::hasForbiddenCharacters(name))
        return QStringLiteral("archivedialog.NameLimit");
    // The archive folder is the name up to its first dot: without one it
    // would be the target folder itself, and the project a hidden ".zya2".
    if (name.section(QLatin1Char('.'), 0, 0).trimmed().isEmpty())
        return QStringLiteral("archivedialog.NameEmpty");
    return QString();
}

void ArchivedDialog::on_pushButton_select_clicked() {
    const QString chosen = QFileDialog::getExistingDirectory(
        this, tr("archivedialog.ChooseDir"), m_folder->text().trimmed(), QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        m_folder->setText(QDir::toNativeSeparators(chosen));
}

void ArchivedDialog::on_pushButton_archived_clicked() {
    const QString folder = QDir::fromNativeSeparators(m_folder->text().trimmed());
    const QString name = m_name->text().trimmed();
    const QString key = refusal(folder, name);
    if (!key.isEmpty()) {
        QString text = tr(key.toUtf8().constData());
        if (key == QLatin1String("archivedialog.NameLimit"))
            text += project::forbiddenCharacterList();
        project::showMessage(this, tr("archivedialog.Hint"), text, tr("archivedialog.Ok"));
        return;
    }
    accept();
    if (m_archiveCall)
        m_archiveCall(folder + QLatin1Char('/') + name);
}
