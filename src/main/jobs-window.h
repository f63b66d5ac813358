// The Jobs window: a small tool window beside the editor listing each
// export of the session, newest first: its file name, state, progress and
// time left, the end of its log when it failed, Cancel while it is queued
// or running, and "Open folder" once written. A line on top says which
// export ended last.
//
// GUI thread only; owned by the main window, fed by an ExportJobQueue.
#pragma once

#include <QHash>
#include <QWidget>

#include <functional>

class ExportJobQueue;
class QLabel;
class QVBoxLayout;

class JobsWindow : public QWidget {
    Q_OBJECT
public:
    // Shows a path in the desktop's file manager.
    using FolderOpener = std::function<bool(const QString& path)>;

    JobsWindow(ExportJobQueue* queue, QWidget* parent);

    void setFolderOpener(FolderOpener opener) { m_opener = std::move(opener); }
    // The row of a job (object name "job_ID"); null when it has none.
    QWidget* row(int id) const { return m_rows.value(id); }
    // What the line on top says.
    QString note() const;

private:
    void addRow(int id);
    void updateRow(int id);
    void jobEnded(int id);
    // "Open folder": the exported file in the file manager; when it has
    // been moved or deleted since, the user is told and its folder opens.
    void showExported(const QString& output);

    ExportJobQueue* m_queue;
    FolderOpener m_opener;
    QLabel* m_note = nullptr;
    QWidget* m_noteOpen = nullptr;
    QString m_noteFolderOf;
    QLabel* m_empty = nullptr;
    QVBoxLayout* m_list = nullptr;
    QHash<int, QWidget*> m_rows;
};
