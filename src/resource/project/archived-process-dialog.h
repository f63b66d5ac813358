// The window shown while an archive is made: a frameless, modal panel with
// the files and bytes copied so far, and the success note at the end. It
// has no cancel: Escape does nothing while an archive runs; its owner
// closes it with finish().
//
// GUI thread only. Owned by the application object, created hidden once and
// reused for every archive.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QProgressBar;

class ArchivedProcessDialog : public QDialog {
    Q_OBJECT
public:
    explicit ArchivedProcessDialog(QWidget* parent = nullptr);

    // Shows the window at nought, modal but without blocking the caller.
    void start();
    // Files and bytes handled so far of their totals.
    void setProgress(int filesDone, int filesTotal, int64_t bytesDone, int64_t bytesTotal);
    // Replaces the progress with the success note.
    void showSuccess();
    // Closes the window (accepted).
    void finish();

    bool running() const { return m_running; }
    QString progressText() const;
    QString noteText() const;

public slots:
    void reject() override;

private:
    QLabel* m_note = nullptr;
    QLabel* m_progressText = nullptr;
    QProgressBar* m_bar = nullptr;
    bool m_running = false;
};
