// The progress window of one export: a bar and a "done / total" text fed by
// progress(), "Running in the background" (puts the window aside: it hides
// and says so with sig_putAside, the export goes on) and "Done" (ends the
// export early through the stop callback). The window is not modal: the
// editor stays usable while it shows. finished() reports the export's
// result: the folder in the file manager on success, a message box with the
// reason otherwise; dismiss() closes it without a word when the outcome is
// told elsewhere (the Jobs window).
//
// GUI thread only. The caller creates one per export and deletes it after
// finished() or dismiss(). Typical wiring to a background job:
//   dialog->show();
//   on the job's progress: dialog->progress(done, total);
//   on its end: dialog->dismiss();
#pragma once

#include "render/export/export-thread.h"

#include <QDialog>

#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

class ExportProcessDialog : public QDialog {
    Q_OBJECT
public:
    using StopCallback = std::function<void()>;
    // Shows a path in the desktop's file manager; false when it could not.
    using FolderOpener = std::function<bool(const QString& path)>;

    // onStop ends the running export (ExportManager::stop); it is called at
    // most once, when the user presses "Done" or closes the window before
    // finished().
    explicit ExportProcessDialog(StopCallback onStop, QWidget* parent = nullptr);
    ~ExportProcessDialog() override;

    // Replaces the value library's shell service (tests).
    void setFolderOpener(FolderOpener opener) { m_opener = std::move(opener); }

    // (done, total) in the exporter's units; total 0 while unknown.
    void progress(int64_t done, int64_t total);
    // The export has ended: closes the window and shows the outcome. Modal
    // message boxes may run here.
    void finished(const ExportResult& result);
    // The export has ended and its outcome is told elsewhere: hides the window.
    void dismiss();

    int value() const;
    int maximum() const;
    QString progressText() const;

signals:
    // "Running in the background" put the window aside.
    void sig_putAside();

public slots:
    void slot_processUpdate(int value, int max);
    void on_pushButton_runback_clicked();
    void on_pushButton_acheive_clicked();

protected:
    void done(int result) override;

private:
    void requestStop();

    StopCallback m_onStop;
    FolderOpener m_opener;
    bool m_stopRequested = false;
    bool m_finished = false;
    QLabel* m_label = nullptr;
    QProgressBar* m_bar = nullptr;
};
