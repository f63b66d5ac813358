// What the transition and sticker pages share: the grid walk (items in
// order, row by row, wrapping when the next cell would pass the view's
// width) and the drag data the timeline accepts from them. The grid is plain
// arithmetic, callable from any thread; the drag helpers are for the GUI thread.
#pragma once

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <QVector>

class QImage;
class QMimeData;

namespace resource {

// One page's cell geometry, in scene pixels (already scaled).
struct GridFlow {
    double cellWidth = 0; // a row wraps when x + cellWidth passes the width
    double advance = 0;   // x grows by this after each item (truncated)
    double rowStep = 0;   // y grows by this on each wrap (truncated)
    QPointF offset;       // added to (x, y) to place an item
    double bottom = 0;    // scene height below the last row's y
};

// Positions of count items in a view width wide; *height (when given)
// receives the scene height, bottom + the last row's y.
QVector<QPointF> flowGrid(int count, double width, const GridFlow& flow, double* height = nullptr);

// The transition page: cells 95 x 75 with 10 between them.
GridFlow transitionFlow(double scale);
// The sticker page: cells 55 x 55 with 15 beside and 10 below them.
GridFlow stickerFlow(double scale);

// The "data" payload of a library item: two strings, the kind ("transition"
// or "gif") and the transition name or sticker path.
QByteArray libraryDragPayload(const QString& kind, const QString& value);
// The whole drag data: the marker text, the payload and, when not null, the
// item's picture as image data. The caller owns it.
QMimeData* libraryMimeData(const QString& kind, const QString& value, const QImage& image);

} // namespace resource
