// Placement arithmetic of the preview: boxes, handles, rotation, resizing
// and snapping, in scene pixels with the origin at the scene's centre (y
// down). Plain functions with no window behind them, so the rules can be
// checked alone. Any thread.
#pragma once

#include <QPointF>
#include <QSizeF>

class GsItem;

namespace preview {

// A handle's box on screen and the rotate handle's distance above the top
// edge, in screen pixels at device pixel ratio 1 (the view draws them so).
constexpr double kHandle = 8.0;
constexpr double kRotateGap = 20.0;

// Handle kinds, as bits; corners combine one horizontal and one vertical bit.
enum Handle : int {
    HandleNone = 0, // the item itself: move
    HandleLeft = 1,
    HandleRight = 2,
    HandleTop = 4,
    HandleBottom = 8,
    HandleTopLeft = HandleTop | HandleLeft,
    HandleTopRight = HandleTop | HandleRight,
    HandleBottomLeft = HandleBottom | HandleLeft,
    HandleBottomRight = HandleBottom | HandleRight,
    HandleRotate = 16,
};

// An item's centre, size and rotation (radians).
struct Box {
    double x = 0, y = 0, w = 0, h = 0, rotation = 0;
};

Box boxOf(const GsItem* item);
// q relative to the box's centre, turned into the box's own axes.
QPointF toBoxAxes(const Box& box, const QPointF& q);
// A point given in the box's axes (from its centre), in scene coordinates.
QPointF fromBoxAxes(const Box& box, const QPointF& local);
bool contains(const Box& box, const QPointF& q);

// Where a handle sits in the box's axes; the rotate handle is kRotateGap
// screen pixels above the top edge at s screen pixels per scene pixel.
QPointF handlePoint(const Box& box, int handle, double s);
// The point that stays put while the handle is dragged (scene coordinates):
// the opposite corner or the middle of the opposite edge.
QPointF anchorPoint(const Box& box, int handle);
// The handle whose box (kHandle screen pixels square, turned with the item)
// holds q, or -1 when none does.
int handleAt(const Box& box, const QPointF& q, double s);

// The rotation the rotate handle gives when the pointer is at q: 0 points up,
// clockwise positive, in (-pi, pi]; within 10 degrees of 0, +-90 or 180 it
// snaps there. `fallback` when q is on the centre.
double rotationFor(const Box& box, const QPointF& q, double fallback);
double snapRotation(double radians);

// The box after dragging `handle` to q with the anchor fixed. keepAspect keeps
// `ratio` (width / height at press) for corner handles. Sizes are whole
// pixels, at least 1 and at least `minimum`.
Box resized(const Box& box, int handle, const QPointF& anchor, const QPointF& q, double ratio,
            bool keepAspect, const QSizeF& minimum);

// Snapping of a proposed centre against the scene's centre lines and borders.
struct Snap {
    double dx = 0, dy = 0; // add to the proposed centre
    double lineX, lineY;   // the line snapped to, NaN when none
};
Snap snapMove(const Box& proposed, const QSizeF& sceneSize, double threshold);

// Rotation in radians as the clip stores it: whole degrees 0..359.
int toDegrees(double radians);

} // namespace preview
