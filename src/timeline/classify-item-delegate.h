// Paints a track row of the timeline's tree (kind icon, label, add or delete
// button) and turns a press or double click on the button into the model's
// "add" (header) or "remove" (added track) command. GUI thread only.
#pragma once

#include <QFont>
#include <QPoint>
#include <QFontMetrics>
#include <QStyledItemDelegate>

#include <cstdint>

class ClassifyItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ClassifyItemDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // Where the pointer is, in the view's viewport; outside: (-1, -1).
    void setHoverPos(const QPoint& pos) { m_hoverPos = pos; }

    // Geometry inside a row's rectangle, scaled by the screen; the label box
    // is wide enough for the longest kind label in the rows' font as the
    // view draws it (its metrics, which carry the view's DPI).
    static QRect iconRect(const QRect& row);
    static QRect labelRect(const QRect& row, const QFontMetrics& metrics = QFontMetrics(QFont()));
    static QRect buttonRect(const QRect& row, const QFontMetrics& metrics = QFontMetrics(QFont()));
    static int labelWidth(const QFontMetrics& metrics);
    // The narrowest tree that shows a whole row.
    static int minimumRowWidth(const QFontMetrics& metrics);
    // Resource names; empty for kinds without an icon.
    static QString iconPath(uint32_t kind);
    static QString buttonPath(bool header, bool hovered);

private:
    QPoint m_hoverPos{-1, -1};
};
