// The export settings window: output folder, name, format, frame rate,
// resolution, bit rate and play rate. Its export button checks the choices,
// fills one MVParams and hands it to the callback given at construction
// (the main window passes it on to RenderManager::slot_exportParam).
//
// GUI thread only. Owned by its Qt parent (the main window), created once
// and shown again for every export through showForExport().
#pragma once

#include "render/export/export-function.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;
class QCheckBox;

class ExportParamWidget : public QWidget {
    Q_OBJECT
public:
    using ExportCallback = std::function<void(MVParams*)>;

    // Frame rates, extensions, preset sizes and play rates the window offers.
    static const QStringList& frameRates();
    static const QStringList& extensions();
    static const QStringList& presetSizes();
    static const QStringList& playRates();
    // Characters a file name may not hold.
    static const QString& forbiddenCharacters();
    // The "Recommend" bit rate in kbit/s for a picture size and frame rate.
    static int recommendedBitRate(int width, int height, int frameRate);
    // Whether the Advanced section is shown: one flag for the whole process.
    static bool advancedShown();

    // onExport gets a record owned by this window, valid until the next
    // export; it may run the export synchronously.
    explicit ExportParamWidget(ExportCallback onExport, QWidget* parent = nullptr);
    ~ExportParamWidget() override;

    // Renews the file name ("export_" + local time) and shows the window.
    void showForExport();
    // The folder exports go to; the path field shows it followed by "/".
    QString folder() const { return m_folder; }
    // The record last handed to the callback.
    const MVParams& lastParams() const { return m_params; }
    // "Also write subtitles (.srt)": the timeline's subtitles go beside the export.
    bool writeSubtitles() const;
    // Whether an export waiting or running writes to a path: a second export
    // there is refused, as it would replace the first one's file.
    void setOutputInUse(std::function<bool(const QString& path)> inUse) { m_outputInUse = std::move(inUse); }
    // Whether the project reads a file (its media, the project file): an
    // export there is refused before it starts.
    void setReadByProject(std::function<bool(const QString& path)> reads) { m_readByProject = std::move(reads); }

public slots:
    // From RenderManager::sig_updateSceneSize: the project's size leads the presets.
    void slot_updateSceneSize(int width, int height);

    void on_pushButton_path_clicked();
    void on_pushButton_premium_clicked();
    void on_radioButton_resolution_select_toggled(bool checked);
    void on_radioButton_resolution_custom_toggled(bool checked);
    void on_radioButton_rate_select_toggled(bool checked);
    void on_radioButton_rate_custom_toggled(bool checked);
    void on_toolButton_tooltip_clicked();
    void on_pushButton_export_clicked();

signals:
    // Emitted with the same record right after the callback has returned.
    void sig_exportParam(MVParams* params);

protected:
    // Return exports and Escape closes the window, as in a dialog; keys that
    // an open list or a field takes for itself never get here.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildForm();
    void setFolder(const QString& folder);
    void applyAdvanced();
    // Shows a one-button information box; parent null gives a box of its own.
    void hint(QWidget* parent, const QString& title, const QString& text, const QString& button);
    // False with a message shown when the choices cannot be exported.
    bool fillParams(MVParams& params);

    ExportCallback m_onExport;
    std::function<bool(const QString&)> m_outputInUse;
    std::function<bool(const QString&)> m_readByProject;
    MVParams m_params;
    QString m_folder;           // the folder last chosen
    QStringList m_presetTexts;  // the size choices as first built

    QLineEdit* m_path = nullptr;
    QPushButton* m_browse = nullptr;
    QLineEdit* m_name = nullptr;
    QComboBox* m_extension = nullptr;
    QComboBox* m_frameRate = nullptr;
    QCheckBox* m_srt = nullptr;
    QPushButton* m_premium = nullptr;
    QWidget* m_advanced = nullptr;
    QRadioButton* m_sizeSelect = nullptr;
    QRadioButton* m_sizeCustom = nullptr;
    QComboBox* m_size = nullptr;
    QLabel* m_srcSize = nullptr;
    QLabel* m_widthLabel = nullptr;
    QLabel* m_heightLabel = nullptr;
    QSpinBox* m_width = nullptr;
    QSpinBox* m_height = nullptr;
    QWidget* m_rateArea = nullptr;
    QRadioButton* m_rateSelect = nullptr;
    QRadioButton* m_rateCustom = nullptr;
    QComboBox* m_rate = nullptr;
    QSpinBox* m_rateValue = nullptr;
    QToolButton* m_tooltip = nullptr;
    QComboBox* m_playRate = nullptr;
    QPushButton* m_export = nullptr;
};
