#include "resource/subtitle-tag-line-edit.h"

#include <QMouseEvent>

SubtitleTagLineEdit::SubtitleTagLineEdit(QWidget* parent)
    : QLineEdit(parent), m_readOnlyPalette(palette()), m_editablePalette(palette()) {
    const QColor grey(QStringLiteral("#f0f0f0"));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        m_readOnlyPalette.setColor(group, QPalette::Base, grey);
    setReadOnly(true);
    setPalette(m_readOnlyPalette);
}

void SubtitleTagLineEdit::setEditable(bool editable) {
    m_editable = editable;
    setReadOnly(!editable);
    setPalette(editable ? m_editablePalette : m_readOnlyPalette);
}

void SubtitleTagLineEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !m_editable) {
        setEditable(true);
        emit sig_subtitleTagDoubleClicked();
    }
    QLineEdit::mouseDoubleClickEvent(event); // word selection as usual
}
