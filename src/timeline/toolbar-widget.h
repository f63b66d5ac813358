// The strip between the preview and the timeline: undo, redo, split, dub,
// edit, subtitle, clear, auto-align, zoom and export. It only emits signals;
// the main window wires them to the timeline, recorder and windows.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include <cstdint>

class QCheckBox;
class QLabel;
class QSlider;
class QToolButton;

class ToolBarWidget : public QWidget {
    Q_OBJECT
public:
    // Zoom levels run 0..kMaxZoom; the slider runs the other way.
    static constexpr int kMaxZoom = 24;
    static constexpr int kStartZoom = 12;

    explicit ToolBarWidget(QWidget* parent = nullptr);

    int64_t length() const { return m_length; }
    // Flips auto-align without the hint, stores it and reports it; called on
    // every press and release of Shift so holding it inverts the switch.
    void toggleAutoAlign();

public slots:
    void on_pushButton_undo_clicked();
    void on_pushButton_redo_clicked();
    void on_pushButton_split_clicked();
    void on_pushButton_audio_clicked(bool checked);
    void on_pushButton_edit_clicked();
    void on_pushButton_clear_clicked();
    void on_pushButton_subtitle_clicked();
    void on_pushButton_export_clicked();
    void on_horizontalSlider_scale_valueChanged(int value);
    void on_checkBox_auto_align_clicked(bool checked);
    void slot_scaleSliderValueChanged(int value);
    void slot_splitButtonEnable(bool enable);
    void slot_clearButtonEnable(bool enable);
    void slot_editButtonEnable(bool enable);
    void slot_showTime(int64_t frame, int64_t length);
    // Switches a running recording off as a click on the dub button would.
    void slot_controlRecord();

signals:
    void sig_createSubtitle(QString name, QFont font, QColor color);
    void sig_scaleSliderValue(int);
    void sig_splitSourceItem();
    void sig_editSourceItem();
    void sig_recordAudio(bool);
    void sig_clearSourceItems();
    void sig_pushButtonUndo();
    void sig_pushButtonRedo();
    void sig_pushButtonSplit();
    void sig_autoAlign(bool align);
    void sig_opertorUi(bool, bool);
    // Until the subtitle templates and the export window exist, the main
    // window opens them on these.
    void sig_showSubtitleTemplates();
    void sig_showExport();

private:
    QToolButton* addButton(const QString& name, const QString& image, const QString& text);
    void setAutoAlign(bool on);

    QToolButton* m_undo = nullptr;
    QToolButton* m_redo = nullptr;
    QToolButton* m_split = nullptr;
    QToolButton* m_audio = nullptr;
    QToolButton* m_edit = nullptr;
    QToolButton* m_subtitle = nullptr;
    QToolButton* m_clear = nullptr;
    QToolButton* m_export = nullptr;
    QCheckBox* m_autoAlign = nullptr;
    QSlider* m_scale = nullptr;
    QLabel* m_time = nullptr;
    int64_t m_length = 0;
};
