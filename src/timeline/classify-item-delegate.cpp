#include "timeline/classify-item-delegate.h"

#include "timeline/classify-item.h"
#include "timeline/timeline-units.h"

#include <QColor>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>

#include <algorithm>

namespace {

int scaled(double v) {
    return int(v * timeline::dpiScale() + 0.5);
}

QRect centred(const QRect& row, double x, double w, double h) {
    const int height = scaled(h);
    return QRect(row.left() + scaled(x), row.top() + (row.height() - height) / 2, scaled(w), height);
}

QPixmap pixmap(const QString& path) {
    QPixmap p;
    if (!QPixmapCache::find(path, &p)) {
        p.load(path);
        QPixmapCache::insert(path, p);
    }
    return p;
}

ClassifyData rowData(const QModelIndex& index) {
    return index.data(Qt::UserRole).value<ClassifyData>();
}

} // namespace

ClassifyItemDelegate::ClassifyItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QRect ClassifyItemDelegate::iconRect(const QRect& row) {
    return centred(row, 30, 18, 18);
}
int ClassifyItemDelegate::labelWidth(const QFontMetrics& metrics) {
    // The box is 45 pixels at 96 DPI; a label that needs more (a larger
    // font, a longer language) widens it, so that the button moves right
    // instead of covering the text.
    int widest = 0;
    for (uint32_t kind : {SourceVideo, SourcePicture, SourceAudio, SourceDub, SourceSubtitle})
        widest = std::max(widest, metrics.horizontalAdvance(timeline::kindLabel(kind)));
    return std::max(scaled(100) - scaled(55), widest + scaled(4));
}
QRect ClassifyItemDelegate::labelRect(const QRect& row, const QFontMetrics& metrics) {
    return QRect(row.left() + scaled(55), row.top(), labelWidth(metrics), row.height());
}
QRect ClassifyItemDelegate::buttonRect(const QRect& row, const QFontMetrics& metrics) {
    const int height = scaled(18);
    return QRect(labelRect(row, metrics).right() + 1, row.top() + (row.height() - height) / 2, scaled(18), height);
}
int ClassifyItemDelegate::minimumRowWidth(const QFontMetrics& metrics) {
    return std::max(scaled(130), buttonRect(QRect(0, 0, 1, 1), metrics).right() + 1 + scaled(12));
}

QString ClassifyItemDelegate::iconPath(uint32_t kind) {
    switch (kind) {
    case SourceVideo:
        return QStringLiteral(":/image/timeline_vedio.png");
    case SourcePicture:
        return QStringLiteral(":/image/timeline_image.png");
    case SourceAudio:
        return QStringLiteral(":/image/timeline_music.png");
    case SourceDub:
        return QStringLiteral(":/image/timeline_audio");
    case SourceSubtitle:
        return QStringLiteral(":/image/timeline_subtitle");
    default:
        return QString();
    }
}

QString ClassifyItemDelegate::buttonPath(bool header, bool hovered) {
    if (header)
        return hovered ? QStringLiteral(":/image/timeline_add_hover.png")
                       : QStringLiteral(":/image/timeline_add.png");
    return hovered ? QStringLiteral(":/image/timeline_del_hover.png")
                   : QStringLiteral(":/image/timeline_del.png");
}

void ClassifyItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    const ClassifyData d = rowData(index);
    // The kind-0 row is an empty spacer.
    if (!timeline::isKnownKind(d.type))
        return;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawPixmap(iconRect(option.rect), pixmap(iconPath(d.type)));
    painter->setPen(QColor(QStringLiteral("#000000")));
    painter->setFont(option.font);
    painter->drawText(labelRect(option.rect, option.fontMetrics), Qt::AlignLeft | Qt::AlignVCenter,
                      timeline::kindLabel(d.type));
    const QRect button = buttonRect(option.rect, option.fontMetrics);
    painter->drawPixmap(button, pixmap(buttonPath(d.isHeader, button.contains(m_hoverPos))));
    painter->restore();
}

QSize ClassifyItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return QSize(option.rect.width(), int(timeline::rowHeight(rowData(index).type)));
}

bool ClassifyItemDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                       const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    const ClassifyData d = rowData(index);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (!timeline::isKnownKind(d.type) || mouse->button() != Qt::LeftButton ||
        !buttonRect(option.rect, option.fontMetrics).contains(mouse->pos()))
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    // A double click arrives as a press and then a double-click event: acting
    // on both would add two tracks, or remove the row that moved up under the
    // pointer as well. The second event is only swallowed.
    if (event->type() == QEvent::MouseButtonPress)
        model->setData(index, QString::fromLatin1(d.isHeader ? "add" : "remove"), Qt::EditRole);
    return true;
}
