// The New project dialog: a name, a folder and a canvas size, checked here,
// then handed to the create call the owner gives. Its check box instead
// starts the simplified editor "Wixley" beside the program and quits.
//
// GUI thread only. The owner (the main window) constructs it with the create
// call, runs it with run() and deletes it.
#pragma once

#include <QDateTime>
#include <QDialog>

#include <functional>

class CustomSpinBox;
class IconTextButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CreateProjectDialog : public QDialog {
    Q_OBJECT
public:
    // Creates the project file of that canvas; false when it did not (the
    // user kept the open project, or the file could not be written: the
    // call has told the user). locked: the canvas size is fixed rather than
    // taken from the first video placed on the timeline.
    using CreateCall = std::function<bool(const QString& path, int width, int height, bool locked)>;

    explicit CreateProjectDialog(CreateCall create, QWidget* parent = nullptr);

    // Fills the name with a fresh default and runs the dialog modally.
    int run();
    // "zy_" + "yyyyMMdd" + "_" + "HHmmss" of the given moment.
    static QString defaultProjectName(const QDateTime& when = QDateTime::currentDateTime());
    // The simplified editor beside this program.
    static QString simplifiedEditorPath();
    // Whether that program is there and may be run; the check box is
    // disabled, with a tooltip saying why, while it is not.
    static bool simplifiedEditorInstalled();
    // The target the fields name now: folder + "/" + name + ".zya2".
    QString targetPath() const;

public slots:
    void on_radioButton_select_toggled(bool checked);
    void on_radioButton_custom_toggled(bool checked);
    void on_checkBox_single_toggled(bool checked);
    void on_pushButton_browse_clicked();
    void on_pushButton_create_clicked();
    void on_pushButton_cancel_clicked();
    void on_pushButton_advance_clicked(bool checked);

private:
    void buildForm();
    void updateEnabled();
    void updateSimplifiedEditor();
    void launchSimplifiedEditor();
    void hint(const QString& text);
    bool folderIsWritable(const QString& folder) const;
    bool askOverwrite();
    // Width, height and locked flag of the chosen resolution.
    void chosenResolution(int* width, int* height, bool* locked) const;

    CreateCall m_create;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_folder = nullptr;
    QPushButton* m_browse = nullptr;
    QWidget* m_resolution = nullptr;
    QButtonGroup* m_resolutionGroup = nullptr;
    QRadioButton* m_default = nullptr;
    QRadioButton* m_select = nullptr;
    QRadioButton* m_custom = nullptr;
    QComboBox* m_sizes = nullptr;
    CustomSpinBox* m_width = nullptr;
    CustomSpinBox* m_height = nullptr;
    QCheckBox* m_single = nullptr;
    IconTextButton* m_advance = nullptr;
    QPushButton* m_createButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
