#include "resource/library-common.h"

#include "resource/material-item.h"

#include <QDataStream>
#include <QImage>
#include <QMimeData>

namespace resource {

QVector<QPointF> flowGrid(int count, double width, const GridFlow& flow, double* height) {
    QVector<QPointF> places;
    places.reserve(count > 0 ? count : 0);
    double x = 0;
    double y = 0;
    for (int i = 0; i < count; ++i) {
        if (x + flow.cellWidth > width) {
            x = 0;
            y = int(y + flow.rowStep);
        }
        places.append(QPointF(x, y) + flow.offset);
        x = int(x + flow.advance);
    }
    if (height)
        *height = flow.bottom + y;
    return places;
}

GridFlow transitionFlow(double s) {
    GridFlow flow;
    flow.cellWidth = 95 * s;
    flow.advance = 95 * s + 10 * s;
    flow.rowStep = 75 * s + 10 * s;
    flow.offset = QPointF(10 * s, 10 * s);
    flow.bottom = 75 * s + 10 * s;
    return flow;
}

GridFlow stickerFlow(double s) {
    GridFlow flow;
    flow.cellWidth = 55 * s;
    flow.advance = 55 * s + 15 * s;
    flow.rowStep = 10 * s + 55 * s;
    flow.offset = QPointF(15 * s, 0);
    flow.bottom = 55 * s + 10 * s;
    return flow;
}

QByteArray libraryDragPayload(const QString& kind, const QString& value) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << kind << value;
    return bytes;
}

QMimeData* libraryMimeData(const QString& kind, const QString& value, const QImage& image) {
    auto* mime = new QMimeData;
    mime->setText(QLatin1String(kDragText));
    mime->setData(QLatin1String(kDragFormat), libraryDragPayload(kind, value));
    if (!image.isNull())
        mime->setImageData(image);
    return mime;
}

} // namespace resource
