#include "resource/project/missing-media-dialog.h"

#include "value/interface.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDirIterator>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
enum Column { NameColumn, FolderColumn, StateColumn };
constexpr int kPathRole = Qt::UserRole + 1;
} // namespace

MissingMediaDialog::MissingMediaDialog(const QStringList& missing, Relink relink, QWidget* parent)
    : QDialog(parent), m_relink(std::move(relink)) {
    setObjectName(QStringLiteral("missingMediaDialog"));
    setWindowTitle(tr("missingmedia.Title"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("missingmedia.Intro"), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("missingList"));
    m_list->setHeaderLabels({tr("missingmedia.File"), tr("missingmedia.Folder"), tr("missingmedia.State")});
    m_list->setRootIsDecorated(false);
    m_list->header()->setSectionResizeMode(FolderColumn, QHeaderView::Stretch);
    for (const QString& path : missing) {
        const QFileInfo file(path);
        auto* row = new QTreeWidgetItem(m_list, {file.fileName(), file.absolutePath(), tr("missingmedia.Missing")});
        row->setData(NameColumn, kPathRole, path);
        row->setToolTip(FolderColumn, path);
        m_rows.insert(path, row);
    }
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
    layout->addWidget(m_list, 1);
    m_summary = new QLabel(this);
    layout->addWidget(m_summary);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* search = buttons->addButton(tr("missingmedia.Search"), QDialogButtonBox::ActionRole);
    search->setObjectName(QStringLiteral("searchButton"));
    QPushButton* locateButton = buttons->addButton(tr("missingmedia.Locate"), QDialogButtonBox::ActionRole);
    locateButton->setObjectName(QStringLiteral("locateButton"));
    QPushButton* close = buttons->addButton(tr("missingmedia.Close"), QDialogButtonBox::AcceptRole);
    close->setObjectName(QStringLiteral("closeButton"));
    layout->addWidget(buttons);
    connect(search, &QPushButton::clicked, this, &MissingMediaDialog::askForFolder);
    connect(locateButton, &QPushButton::clicked, this, &MissingMediaDialog::askForFile);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &MissingMediaDialog::askForFile);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    resize(720, 360);
    updateSummary();
}

QStringList MissingMediaDialog::stillMissing() const {
    QStringList missing;
    for (auto it = m_rows.constBegin(); it != m_rows.constEnd(); ++it) {
        if (!it.value()->data(StateColumn, kPathRole).isValid())
            missing.append(it.key());
    }
    return missing;
}

int MissingMediaDialog::searchFolder(const QString& folder) {
    // Each missing name, to the files of that name found under the folder.
    QHash<QString, QStringList> found;
    for (const QString& path : stillMissing())
        found.insert(QFileInfo(path).fileName(), {});
    if (found.isEmpty() || folder.isEmpty())
        return 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QDirIterator walk(folder, QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    int seen = 0;
    while (walk.hasNext() && seen < kSearchLimit) {
        walk.next();
        ++seen;
        auto it = found.find(walk.fileName());
        if (it != found.end())
            it->append(walk.filePath());
    }
    QApplication::restoreOverrideCursor();
    if (seen >= kSearchLimit)
        LOGW("missing media: the search stopped after %d entries of %s", seen, qUtf8Printable(folder));
    // Files of one name are told apart by the folders they lie in: camera
    // clips are all called C0001.MP4. A missing file and a found one are
    // paired when each fits the other better than anything else left: lies
    // under more of the other's folder names (a/clip.mp4 is found as
    // moved/a/clip.mp4). A found file goes to one missing file only, also
    // across searches; where two fit equally well, the user chooses with
    // Locate.
    QSet<QString> taken;
    for (QTreeWidgetItem* row : qAsConst(m_rows)) {
        const QVariant found = row->data(StateColumn, kPathRole);
        if (found.isValid())
            taken.insert(found.toString());
    }
    QHash<QString, QStringList> missingByName;
    for (const QString& path : stillMissing())
        missingByName[QFileInfo(path).fileName()].append(path);
    int relinked = 0;
    for (auto group = missingByName.constBegin(); group != missingByName.constEnd(); ++group) {
        QStringList candidates;
        for (const QString& candidate : found.value(group.key())) {
            if (!taken.contains(candidate))
                candidates.append(candidate);
        }
        QStringList left = group.value();
        // The one best partner of each side, or none where two fit alike.
        auto bestOf = [](const QString& one, const QStringList& others) {
            int best = -1, ties = 0;
            QString partner;
            for (const QString& other : others) {
                const int score = sharedFolders(one, other);
                if (score > best) {
                    best = score;
                    ties = 0;
                    partner = other;
                } else if (score == best) {
                    ++ties;
                }
            }
            return ties == 0 ? partner : QString();
        };
        for (bool paired = true; paired && !left.isEmpty() && !candidates.isEmpty();) {
            paired = false;
            for (const QString& path : QStringList(left)) {
                const QString partner = bestOf(path, candidates);
                if (partner.isEmpty() || bestOf(partner, left) != path)
                    continue;
                left.removeOne(path);
                candidates.removeOne(partner);
                paired = true;
                if (locate(path, partner))
                    ++relinked;
            }
        }
        const int choices = found.value(group.key()).size();
        for (const QString& path : left) {
            if (choices > 1)
                m_rows.value(path)->setText(StateColumn, tr("missingmedia.Several").arg(choices));
        }
    }
    return relinked;
}

int MissingMediaDialog::sharedFolders(const QString& missing, const QString& candidate) {
    const QStringList a = QFileInfo(missing).absolutePath().split('/', Qt::SkipEmptyParts);
    const QStringList b = QFileInfo(candidate).absolutePath().split('/', Qt::SkipEmptyParts);
    int shared = 0;
    while (shared < a.size() && shared < b.size() && a.at(a.size() - 1 - shared) == b.at(b.size() - 1 - shared))
        ++shared;
    return shared;
}

bool MissingMediaDialog::locate(const QString& missing, const QString& chosen) {
    QTreeWidgetItem* row = m_rows.value(missing);
    if (!row || chosen.isEmpty() || !QFileInfo(chosen).isFile())
        return false;
    if (!m_relink || !m_relink(missing, chosen)) {
        row->setText(StateColumn, tr("missingmedia.NotUsable"));
        return false;
    }
    markFound(row, chosen);
    return true;
}

void MissingMediaDialog::markFound(QTreeWidgetItem* row, const QString& found) {
    row->setData(StateColumn, kPathRole, found);
    row->setText(StateColumn, tr("missingmedia.Found"));
    row->setToolTip(StateColumn, found);
    ++m_relinked;
    updateSummary();
}

void MissingMediaDialog::askForFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("missingmedia.Search"), startFolder());
    if (!folder.isEmpty())
        searchFolder(folder);
    updateSummary();
}

void MissingMediaDialog::askForFile() {
    QTreeWidgetItem* row = m_list->currentItem();
    if (!row)
        return;
    const QString missing = row->data(NameColumn, kPathRole).toString();
    const QString name = QFileInfo(missing).fileName();
    const QString chosen = QFileDialog::getOpenFileName(this, tr("missingmedia.Locate"), startFolder(missing),
                                                        QStringLiteral("%1 (%1);;* (*)").arg(name));
    locate(missing, chosen);
}

QString MissingMediaDialog::startFolder(const QString& missing) const {
    // The nearest folder that is still there above where a file was (not
    // the folder Korvel happened to be started in).
    const QStringList left = stillMissing();
    const QString from = missing.isEmpty() && !left.isEmpty() ? left.first() : missing;
    if (from.isEmpty())
        return QDir::homePath();
    QString folder = QFileInfo(from).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QFileInfo(folder).absolutePath())
        folder = QFileInfo(folder).absolutePath();
    return QFileInfo(folder).isDir() && !QDir(folder).isRoot() ? folder : QDir::homePath();
}

void MissingMediaDialog::updateSummary() {
    m_summary->setText(tr("missingmedia.Summary").arg(stillMissing().size()).arg(m_relinked));
}
