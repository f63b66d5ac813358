#include "resource/project/historylist-view.h"

#include "resource/project/historyitem-widget.h"
#include "resource/project/project-common.h"
#include "value/interface.h"
#include "values/screen-scale.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardItemModel>
#include <QStyledItemDelegate>

#include <string>
#include <vector>

namespace {

// Every row is as wide as the view and 60 pixels (at 96 DPI) high.
class HistoryItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        Q_UNUSED(option);
        Q_UNUSED(index);
        return QSize(-1, int(60 * screenDpiScale()));
    }
};

QString startImportFolder() {
    const QString home = QDir::homePath();
    const QString stored =
        QString::fromStdString(bg::configText(project::kImportPathKey, home.toStdString()));
    return (stored.isEmpty() || !QFileInfo(stored).isDir()) ? home : stored;
}

} // namespace

HistoryListView::HistoryListView(QWidget* parent) : QListView(parent) {
    setObjectName(QStringLiteral("HistoryListView"));
    setStyleSheet(QStringLiteral("QListView::item:selected {background-color: #efefef;}"
                                 "QListView::item:hover {background-color: #efefff;}"
                                 "QListView:focus{outline: 0px;}"));
    setItemDelegate(new HistoryItemDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_model = new QStandardItemModel(0, 1, this);
    setModel(m_model);
    connect(m_model, &QStandardItemModel::dataChanged, this, &HistoryListView::makeWidgets);
    m_importFolder = startImportFolder();
    load();
}

HistoryListView::~HistoryListView() {
    LOGD(">> 保存作品历史记录");
    save();
}

void HistoryListView::setCurrentProjectQuery(CurrentProjectQuery query) {
    m_currentProject = std::move(query);
}

int HistoryListView::count() const {
    return m_model->rowCount();
}

QStringList HistoryListView::paths() const {
    QStringList list;
    for (int row = 0; row < m_model->rowCount(); ++row)
        list << m_model->index(row, 0).data(kPathRole).toString();
    return list;
}

HistoryItemWidget* HistoryListView::itemWidget(int row) const {
    return qobject_cast<HistoryItemWidget*>(indexWidget(m_model->index(row, 0)));
}

void HistoryListView::load() {
    const std::string stored = bg::configText(project::kHistoryKey);
    if (stored.empty())
        return;
    const std::vector<std::string> items = bg::Interface::decodeTextList(stored);
    if (items.empty())
        LOGW("history: the stored list \"%s\" cannot be read; the list starts empty", stored.c_str());
    for (const std::string& item : items) {
        const QString path = QString::fromStdString(item).trimmed();
        if (path.isEmpty() || rowOf(path) >= 0)
            continue;
        insertPath(m_model->rowCount(), path);
    }
}

void HistoryListView::save() {
    std::vector<std::string> items;
    QStringList all;
    const int rows = std::min(m_model->rowCount(), kMaxStored);
    for (int row = 0; row < rows; ++row) {
        const QString path = m_model->index(row, 0).data(kPathRole).toString();
        all << path;
        items.push_back(path.toStdString());
    }
    std::string text;
    if (!items.empty()) {
        // Each path is one entry of the list codec, so a path holding "|" (a
        // legal character here) comes back whole.
        LOGD("-- all: %s", qUtf8Printable(all.join(QLatin1Char('|'))));
        text = bg::Interface::encodeTextList(items);
        LOGD("-- history: %s", text.c_str());
    }
    bg::iface()->configSet(project::kHistoryKey, text);
    if (!bg::iface()->configSave())
        LOGW("history: the configuration store could not be saved to %s",
             bg::iface()->configFilePath().c_str());
}

int HistoryListView::rowOf(const QString& path) const {
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (project::samePath(m_model->index(row, 0).data(kPathRole).toString(), path))
            return row;
    }
    return -1;
}

void HistoryListView::insertPath(int row, const QString& path) {
    auto* item = new QStandardItem;
    item->setEditable(false);
    m_model->insertRow(row, item);
    // Setting the data makes the row's widget (dataChanged).
    item->setData(path, kPathRole);
}

void HistoryListView::makeWidgets(const QModelIndex& topLeft, const QModelIndex& bottomRight) {
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        const QModelIndex index = m_model->index(row, 0);
        if (indexWidget(index))
            continue;
        auto* widget = new HistoryItemWidget;
        widget->setCurrentProjectQuery([this] { return m_currentProject ? m_currentProject() : QString(); });
        connect(widget, &HistoryItemWidget::signal_openProject, this, &HistoryListView::signal_openProject);
        // Queued: both come from the row's menu, which is still on the stack,
        // and removing the row deletes the widget.
        connect(widget, &HistoryItemWidget::signal_removeProject, this, &HistoryListView::slot_removeProject,
                Qt::QueuedConnection);
        connect(widget, &HistoryItemWidget::signal_addWork, this, &HistoryListView::slot_addWork,
                Qt::QueuedConnection);
        connect(widget, &HistoryItemWidget::signal_openEarlierVersion, this,
                &HistoryListView::signal_openEarlierVersion);
        connect(
            widget, &HistoryItemWidget::signal_pathChanged, this,
            [this, widget](const QString&, const QString& newPath) { slot_pathChanged(widget, newPath); });
        widget->setPath(index.data(kPathRole).toString());
        setIndexWidget(index, widget);
    }
}

void HistoryListView::prependProject(QString path) {
    if (path.trimmed().isEmpty()) {
        LOGW("history: an empty project path is not listed");
        return;
    }
    for (int row = m_model->rowCount() - 1; row >= 0; --row) {
        if (project::samePath(m_model->index(row, 0).data(kPathRole).toString(), path))
            m_model->removeRow(row);
    }
    insertPath(0, path);
    setCurrentIndex(m_model->index(0, 0));
    save();
}

void HistoryListView::slot_removeProject(QString proPath) {
    const int row = rowOf(proPath);
    if (row < 0)
        return;
    // The view lets the row's widget go with deleteLater.
    m_model->removeRow(row);
    LOGE(">> 从列表中移除工程：%s", qUtf8Printable(proPath));
    save();
}

void HistoryListView::slot_pathChanged(HistoryItemWidget* widget, const QString& newPath) {
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const QModelIndex index = m_model->index(row, 0);
        if (indexWidget(index) != widget)
            continue;
        m_model->setData(index, newPath, kPathRole);
        // The old name no longer exists; the stored list follows at once.
        save();
        return;
    }
}

void HistoryListView::slot_addWork() {
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("导入"), m_importFolder,
                                                      QStringLiteral("*.zya2 *.zya"));
    if (file.isEmpty())
        return;
    m_importFolder = QFileInfo(file).absolutePath();
    bg::iface()->configSet(project::kImportPathKey, m_importFolder.toStdString());
    bg::iface()->configSave();
    emit signal_openProject(file);
}
