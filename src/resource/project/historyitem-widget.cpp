#include "resource/project/historyitem-widget.h"

#include "resource/project/project-backups.h"
#include "resource/project/project-common.h"
#include "value/interface.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QScopedValueRollback>
#include <QVBoxLayout>

HistoryItemWidget::HistoryItemWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("HistoryItemWidget"));
    setAttribute(Qt::WA_StyledBackground);
    project::loadStyleSheet(this, QStringLiteral(":/qss/historyitem-widget.css"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 4, 10, 4);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    m_link = new QLabel(this);
    m_link->setObjectName(QStringLiteral("label_openProject"));
    m_link->setTextFormat(Qt::RichText);
    m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_rename = new QLineEdit(this);
    m_rename->setObjectName(QStringLiteral("lineEdit_rename"));
    m_rename->setMinimumWidth(240);
    m_rename->hide();
    m_rename->installEventFilter(this);
    m_fullPath = new QLabel(this);
    m_fullPath->setObjectName(QStringLiteral("label_path"));
    m_time = new QLabel(this);
    m_time->setObjectName(QStringLiteral("label_time"));
    // The row is as wide as the list: the name and the path give way
    // (elided in the middle, where a path says least) so that the "Open"
    // link always shows whole.
    for (QLabel* label : {m_link, m_fullPath})
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(m_link);
    column->addWidget(m_rename);
    column->addWidget(m_fullPath);
    column->addWidget(m_time);
    row->addLayout(column, 1);
    m_open = new QLabel(
        QStringLiteral("<a href=\"open\">%1</a>").arg(tr("historyitemwidget.Open").toHtmlEscaped()), this);
    m_open->setObjectName(QStringLiteral("label_open"));
    m_open->setTextFormat(Qt::RichText);
    m_open->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_open->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    row->addWidget(m_open);

    connect(m_link, &QLabel::linkActivated, this, &HistoryItemWidget::on_label_openProject_linkActivated);
    connect(m_open, &QLabel::linkActivated, this, [this] { emit signal_openProject(m_path); });
    connect(m_rename, &QLineEdit::editingFinished, this, &HistoryItemWidget::slot_renameFinished);

    connect(addMenuAction("action_edit", tr("historyitemwidget.EditProject"), "history-edit"),
            &QAction::triggered, this, [this] { emit signal_openProject(m_path); });
    connect(addMenuAction("action_rename", tr("historyitemwidget.Rename"), "history-rename"),
            &QAction::triggered, this, &HistoryItemWidget::startRename);
    connect(addMenuAction("action_openDir", tr("historyitemwidget.OpenDir"), "history-explorer"),
            &QAction::triggered, this, [this] {
                if (!bg::iface()->showInFileManager(m_path.toStdString()))
                    LOGW("history: the file manager cannot show %s", qUtf8Printable(m_path));
            });
    // The versions a save replaced, listed when the menu opens.
    QAction* earlier = addMenuAction("action_earlierVersions", tr("historyitemwidget.EarlierVersions"), "history-open");
    auto* versions = new QMenu(this);
    versions->setObjectName(QStringLiteral("menu_earlierVersions"));
    earlier->setMenu(versions);
    connect(versions, &QMenu::aboutToShow, this, [this, versions] { fillEarlierVersions(versions); });
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    connect(addMenuAction("action_load", tr("historyitemwidget.LoadProject"), "history-open"),
            &QAction::triggered, this, [this] { emit signal_addWork(); });
    connect(addMenuAction("action_remove", tr("historyitemwidget.RemoveFromList"), "history-delete"),
            &QAction::triggered, this, [this] { emit signal_removeProject(m_path); });
}

void HistoryItemWidget::fillEarlierVersions(QMenu* menu) {
    menu->clear();
    const QList<project::EarlierVersion> versions = project::ProjectBackups::earlierVersions(m_path);
    if (versions.isEmpty()) {
        menu->addAction(tr("historyitemwidget.NoEarlierVersions"))->setEnabled(false);
        return;
    }
    const QLocale locale;
    for (const project::EarlierVersion& version : versions) {
        const QString path = version.path;
        QAction* action = menu->addAction(locale.toString(version.saved, QLocale::ShortFormat));
        action->setData(path);
        connect(action, &QAction::triggered, this, [this, path] { emit signal_openEarlierVersion(path, m_path); });
    }
}

QAction* HistoryItemWidget::addMenuAction(const char* name, const QString& text, const char* icon) {
    auto* action = new QAction(QIcon(QStringLiteral(":/image/%1.png").arg(QLatin1String(icon))), text, this);
    action->setObjectName(QLatin1String(name));
    addAction(action);
    return action;
}

void HistoryItemWidget::setPath(const QString& path) {
    m_path = path;
    refresh();
}

void HistoryItemWidget::refresh() {
    const QFileInfo info(m_path);
    m_time->setText(info.exists() ? QLocale::system().toString(info.lastModified(), QLocale::LongFormat)
                                  : tr("historyitemwidget.FileMiss"));
    setToolTip(tr("historyitemwidget.OpenProject") + info.fileName());
    elideTexts();
}

void HistoryItemWidget::elideTexts() {
    const QString name = QFileInfo(m_path).fileName();
    const QString path = QDir::toNativeSeparators(m_path);
    m_link->ensurePolished();
    m_fullPath->ensurePolished();
    // Until the row is shown its labels have no width of their own yet.
    const bool laidOut = isVisible();
    const int room = laidOut ? m_link->width() : QWIDGETSIZE_MAX;
    const QString shownName = m_link->fontMetrics().elidedText(name, Qt::ElideMiddle, room);
    // The link's target is not read back: the path can hold characters an
    // anchor would mangle, so a click always opens m_path.
    m_link->setText(
        QStringLiteral("<a href=\"%1\" style=\"color:#3d8af7; text-decoration:underline;\">%2</a>")
            .arg(m_path.toHtmlEscaped(), shownName.toHtmlEscaped()));
    const int pathRoom = laidOut ? m_fullPath->width() : QWIDGETSIZE_MAX;
    m_fullPath->setText(m_fullPath->fontMetrics().elidedText(path, Qt::ElideMiddle, pathRoom));
}

void HistoryItemWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    elideTexts();
}

void HistoryItemWidget::showEvent(QShowEvent* event) {
    // The file may have been changed, moved or deleted since the row was made.
    refresh();
    QWidget::showEvent(event);
}

bool HistoryItemWidget::isRenaming() const {
    return !m_rename->isHidden();
}

void HistoryItemWidget::startRename() {
    m_link->hide();
    // The whole name before the suffix: "my.cut.zya2" edits as "my.cut".
    m_rename->setText(QFileInfo(m_path).completeBaseName());
    m_rename->show();
    m_rename->setFocus();
    m_rename->selectAll();
}

void HistoryItemWidget::endRename() {
    m_rename->hide();
    m_link->show();
}

void HistoryItemWidget::on_label_openProject_linkActivated(QString link) {
    Q_UNUSED(link);
    emit signal_openProject(m_path);
}

void HistoryItemWidget::slot_renameRejected() {
    endRename();
}

void HistoryItemWidget::slot_renameFinished() {
    // Message boxes and hiding the edit move the focus, which finishes the
    // editing again.
    if (m_renaming || m_rename->isHidden())
        return;
    const QScopedValueRollback<bool> guard(m_renaming, true);
    applyRename();
    endRename();
}

void HistoryItemWidget::renameFailed(const QString& text) {
    project::showMessage(this, tr("historyitemwidget.RenameFailed"), text, tr("historyitemwidget.Ok"));
}

void HistoryItemWidget::applyRename() {
    const QFileInfo info(m_path);
    if (!info.exists()) {
        renameFailed(tr("historyitemwidget.FileNoExist") +
                     QStringLiteral(":\n%1").arg(QDir::toNativeSeparators(m_path)));
        return;
    }
    const QString suffix = QLatin1String(project::kProjectSuffix);
    QString name = m_rename->text().trimmed();
    if (name.isEmpty())
        return;
    if (!name.endsWith(suffix, Qt::CaseInsensitive))
        name += suffix;
    if (name == info.fileName() || name.size() == suffix.size())
        return;
    if (project::hasForbiddenCharacters(name)) {
        renameFailed(tr("historyitemwidget.NameList") + project::forbiddenCharacterList());
        return;
    }
    // The editor keeps writing (saves, the automatic copy) to the path it opened.
    if (m_currentProject && project::samePath(m_currentProject(), m_path)) {
        renameFailed(tr("historyitemwidget.ProjectOpen"));
        return;
    }
    const QString target = info.absolutePath() + QLatin1Char('/') + name;
    const QFileInfo targetInfo(target);
    if (targetInfo.exists() || targetInfo.isSymLink()) {
        renameFailed(tr("historyitemwidget.AreadyExist") + QChar(0xFF1A) +
                     QStringLiteral("\n%1").arg(QDir::toNativeSeparators(target)));
        return;
    }
    QFile file(m_path);
    if (!file.rename(target)) {
        LOGW("history: %s cannot be renamed to %s: %s", qUtf8Printable(m_path), qUtf8Printable(target),
             qUtf8Printable(file.errorString()));
        renameFailed(tr("historyitemwidget.WriteForbidden") +
                     QStringLiteral(":\n%1\n%2")
                         .arg(QDir::toNativeSeparators(m_path), QDir::toNativeSeparators(target)));
        return;
    }
    const QString old = m_path;
    setPath(target);
    emit signal_pathChanged(old, target);
}

void HistoryItemWidget::contextMenuEvent(QContextMenuEvent* event) {
    QMenu::exec(actions(), event->globalPos(), nullptr, this);
    event->accept();
}

void HistoryItemWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    Q_UNUSED(event);
    emit signal_openProject(m_path);
}

bool HistoryItemWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_rename && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        slot_renameRejected();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
