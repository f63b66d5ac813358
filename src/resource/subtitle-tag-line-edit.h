// The label field of the subtitle template window: read-only and grey until
// the label box is checked or the field is double-clicked. GUI thread only.
#pragma once

#include <QLineEdit>
#include <QPalette>

class SubtitleTagLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit SubtitleTagLineEdit(QWidget* parent = nullptr);

    bool editable() const { return m_editable; }
    // Writable with the widget's own palette, or read-only on grey.
    void setEditable(bool editable);

signals:
    // A left double-click made the read-only field writable.
    void sig_subtitleTagDoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QPalette m_readOnlyPalette; // base colour "#f0f0f0" in every group
    QPalette m_editablePalette; // the widget's own
    bool m_editable = false;
};
