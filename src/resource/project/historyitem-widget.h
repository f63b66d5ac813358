// One row of the works history: the project's name as a link, its path and
// its last change, a right-click menu (edit, rename, open folder, earlier
// versions, load another project, remove from the list) and the in-place
// rename.
//
// GUI thread only. Owned by the history list's viewport (an index widget).
// Emits signal_openProject, signal_removeProject and signal_addWork for the
// list to act on, and signal_pathChanged after a successful rename.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;

class HistoryItemWidget : public QWidget {
    Q_OBJECT
public:
    // The file the editor has open now (empty when none); that file is
    // never renamed under the editor.
    using CurrentProjectQuery = std::function<QString()>;

    explicit HistoryItemWidget(QWidget* parent = nullptr);

    void setPath(const QString& path);
    QString path() const { return m_path; }
    void setCurrentProjectQuery(CurrentProjectQuery query) { m_currentProject = std::move(query); }

    // What the menu's Rename entry does: the name link gives way to a line
    // edit holding the name without its suffix.
    void startRename();
    bool isRenaming() const;

public slots:
    void on_label_openProject_linkActivated(QString link);
    // Applies the edited name; refusals are message boxes.
    void slot_renameFinished();
    void slot_renameRejected();

signals:
    void signal_openProject(QString proPath);
    void signal_removeProject(QString proPath);
    void signal_addWork();
    // One of the project's earlier versions, to be opened as a new project.
    void signal_openEarlierVersion(QString versionPath, QString projectPath);
    void signal_pathChanged(QString oldPath, QString newPath);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* addMenuAction(const char* name, const QString& text, const char* icon);
    void refresh();
    // Fits the name and the path into the room the row leaves them.
    void elideTexts();
    void fillEarlierVersions(QMenu* menu);
    void endRename();
    void renameFailed(const QString& text);
    // Renames the file to the edited name, or says why not.
    void applyRename();

    QString m_path;
    CurrentProjectQuery m_currentProject;
    QLabel* m_link = nullptr;
    QLabel* m_fullPath = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_open = nullptr;
    QLineEdit* m_rename = nullptr;
    bool m_renaming = false; // slot_renameFinished is running (its boxes move the focus)
};
