// The Archive dialog: shows the project to archive, asks for a target folder
// and a name, checks them and hands folder + "/" + name to the archive call
// its owner gives (the application's archiveProject).
//
// GUI thread only. The owner (the main window) creates it once, so the
// chosen folder stays for the next archive, runs it with run() and deletes it.
#pragma once

#include <QDateTime>
#include <QDialog>

#include <functional>

class QLineEdit;
class QPushButton;

class ArchivedDialog : public QDialog {
    Q_OBJECT
public:
    // Starts the archive of the current project into path.
    using ArchiveCall = std::function<void(const QString& path)>;

    explicit ArchivedDialog(ArchiveCall archive, QWidget* parent = nullptr);

    // Fills the source field and a fresh default name, then runs modally.
    int run(const QString& sourcePath);
    // "Dunmere-" + "yyyyMMdd" + "_" + "HH-mm" of the given moment.
    static QString defaultArchiveName(const QDateTime& when = QDateTime::currentDateTime());

    // What the fields say, checked in the order the user is told: the
    // translation key of the refusal, or empty when the archive may start.
    static QString refusal(const QString& folder, const QString& name);

    QLineEdit* sourceEdit() const { return m_source; }
    QLineEdit* folderEdit() const { return m_folder; }
    QLineEdit* nameEdit() const { return m_name; }
    QPushButton* archiveButton() const { return m_archive; }

public slots:
    void on_pushButton_select_clicked();
    void on_pushButton_archived_clicked();

private:
    void buildForm();

    ArchiveCall m_archiveCall;
    QLineEdit* m_source = nullptr;
    QLineEdit* m_folder = nullptr;
    QLineEdit* m_name = nullptr;
    QPushButton* m_select = nullptr;
    QPushButton* m_archive = nullptr;
};
