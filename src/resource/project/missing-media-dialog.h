// The window that lists a project's missing media files when it opens: each
// can be located by hand, or all of them searched for (by name, in a folder
// and its subfolders). A file found is relinked at once through the
// caller's function; clips of files that stay missing keep their place.
// GUI thread only.
#pragma once

#include <QDialog>
#include <QHash>
#include <QStringList>

#include <functional>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

class MissingMediaDialog : public QDialog {
    Q_OBJECT
public:
    // relink(from, to) points the project at the found file; true when it did.
    using Relink = std::function<bool(const QString& from, const QString& to)>;
    // The most entries a folder search looks at.
    static constexpr int kSearchLimit = 200000;

    MissingMediaDialog(const QStringList& missing, Relink relink, QWidget* parent = nullptr);

    // Missing files still not found.
    QStringList stillMissing() const;
    int relinkedCount() const { return m_relinked; }

    // Looks for every missing file in the folder and its subfolders. A file
    // of the missing one's name is relinked when it lies under more of the
    // missing file's folder names than any other does; each file found is
    // given to one missing file at most, and a tie is left for Locate.
    // The number relinked.
    int searchFolder(const QString& folder);
    // Relinks the row's file to the chosen file.
    bool locate(const QString& missing, const QString& chosen);

private:
    void askForFolder();
    void askForFile();
    void markFound(QTreeWidgetItem* row, const QString& found);
    // How many folder names the two paths share, counted up from the file.
    static int sharedFolders(const QString& missing, const QString& candidate);
    // Where the file dialogs open: near the missing file (the first one
    // still missing when none is given).
    QString startFolder(const QString& missing = QString()) const;
    void updateSummary();

    Relink m_relink;
    QTreeWidget* m_list = nullptr;
    QLabel* m_summary = nullptr;
    QHash<QString, QTreeWidgetItem*> m_rows; // missing path -> its row
    int m_relinked = 0;
};
