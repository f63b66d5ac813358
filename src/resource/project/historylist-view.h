// The works history: recently created, opened and saved projects, newest
// first, kept in the configuration store under "work.history" (the first
// kMaxStored rows). Each row shows a HistoryItemWidget.
//
// GUI thread only. Lives on the resource panel's works page, owned by it.
// Emits signal_openProject(path) when the user asks for a project; the
// panel forwards it, queued, to the application. prependProject receives
// the application's history signal.
#pragma once

#include <QListView>
#include <QString>
#include <QStringList>

#include <functional>

class HistoryItemWidget;
class QStandardItemModel;

class HistoryListView : public QListView {
    Q_OBJECT
public:
    static constexpr int kMaxStored = 10;
    static constexpr int kPathRole = Qt::UserRole + 2;

    explicit HistoryListView(QWidget* parent = nullptr);
    // Saves the list.
    ~HistoryListView() override;

    // The file the editor has open now; a row naming it is not renamed.
    using CurrentProjectQuery = std::function<QString()>;
    void setCurrentProjectQuery(CurrentProjectQuery query);

    int count() const;
    // The rows' paths, top first.
    QStringList paths() const;
    HistoryItemWidget* itemWidget(int row) const;
    QString importFolder() const { return m_importFolder; }

    // Writes the first kMaxStored paths to the configuration store and saves it.
    void save();

public slots:
    // Puts the path on top, removing any row that names the same file.
    void prependProject(QString path);
    void slot_removeProject(QString proPath);
    // Asks for another project file to open.
    void slot_addWork();

signals:
    void signal_openProject(QString proPath);
    void signal_openEarlierVersion(QString versionPath, QString projectPath);

private:
    void load();
    void insertPath(int row, const QString& path);
    int rowOf(const QString& path) const;
    void makeWidgets(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void slot_pathChanged(HistoryItemWidget* widget, const QString& newPath);

    QStandardItemModel* m_model = nullptr;
    QString m_importFolder;
    CurrentProjectQuery m_currentProject;
};
