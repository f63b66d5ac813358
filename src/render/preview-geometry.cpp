#include "render/preview-geometry.h"

#include "graphics/graphics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSnapAngle = 0.1745329; // 10 degrees
constexpr double kInside = 1e-6;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

namespace preview {

Box boxOf(const GsItem* item) {
    gs_vec2 p = item->pos(), s = item->size();
    return {p.x, p.y, s.x, s.y, item->rotation};
}

QPointF toBoxAxes(const Box& box, const QPointF& q) {
    const double c = std::cos(box.rotation), s = std::sin(box.rotation);
    const double dx = q.x() - box.x, dy = q.y() - box.y;
    return {dx * c + dy * s, -dx * s + dy * c};
}

QPointF fromBoxAxes(const Box& box, const QPointF& local) {
    const double c = std::cos(box.rotation), s = std::sin(box.rotation);
    return {box.x + local.x() * c - local.y() * s, box.y + local.x() * s + local.y() * c};
}

bool contains(const Box& box, const QPointF& q) {
    const QPointF l = toBoxAxes(box, q);
    return std::abs(l.x()) - box.w / 2 < kInside && std::abs(l.y()) - box.h / 2 < kInside;
}

namespace {
// -1, 0 or 1 along one axis of the box for the handle's bits.
double sideX(int handle) {
    return (handle & HandleLeft) ? -1.0 : (handle & HandleRight) ? 1.0 : 0.0;
}
double sideY(int handle) {
    return (handle & HandleTop) ? -1.0 : (handle & HandleBottom) ? 1.0 : 0.0;
}
} // namespace

QPointF handlePoint(const Box& box, int handle, double s) {
    if (handle == HandleRotate)
        return {0.0, -box.h / 2 - kRotateGap / s};
    return {sideX(handle) * box.w / 2, sideY(handle) * box.h / 2};
}

QPointF anchorPoint(const Box& box, int handle) {
    if (handle == HandleRotate || handle == HandleNone)
        return {box.x, box.y};
    return fromBoxAxes(box, {-sideX(handle) * box.w / 2, -sideY(handle) * box.h / 2});
}

int handleAt(const Box& box, const QPointF& q, double s) {
    if (!(s > 0))
        return -1;
    static const int order[] = {HandleRotate,     HandleTopLeft,     HandleTopRight,
                                HandleBottomLeft, HandleBottomRight, HandleLeft,
                                HandleRight,      HandleTop,         HandleBottom};
    const QPointF l = toBoxAxes(box, q);
    const double half = kHandle / s / 2;
    for (int handle : order) {
        const QPointF h = handlePoint(box, handle, s);
        if (std::abs(l.x() - h.x()) <= half && std::abs(l.y() - h.y()) <= half)
            return handle;
    }
    return -1;
}

double snapRotation(double radians) {
    for (double target : {0.0, kPi / 2, -kPi / 2, kPi, -kPi}) {
        if (std::abs(radians - target) < kSnapAngle)
            return target == -kPi ? kPi : target;
    }
    return radians;
}

double rotationFor(const Box& box, const QPointF& q, double fallback) {
    const double dx = q.x() - box.x, dy = q.y() - box.y;
    const double length = std::hypot(dx, dy);
    if (!(length > 0) || !std::isfinite(length))
        return fallback;
    double angle = std::acos(std::clamp(-dy / length, -1.0, 1.0));
    if (dx < 0)
        angle = -angle;
    return snapRotation(angle);
}

Box resized(const Box& box, int handle, const QPointF& anchor, const QPointF& q, double ratio,
            bool keepAspect, const QSizeF& minimum) {
    Box turned = box;
    turned.x = anchor.x();
    turned.y = anchor.y();
    // q seen from the anchor, in the item's axes.
    const QPointF l = toBoxAxes(turned, q);
    const bool horizontal = handle & (HandleLeft | HandleRight);
    const bool vertical = handle & (HandleTop | HandleBottom);
    double w = box.w, h = box.h, su = 0, sv = 0;
    if (horizontal) {
        w = std::abs(l.x());
        su = l.x() > 0 ? 1.0 : l.x() < 0 ? -1.0 : sideX(handle);
    }
    if (vertical) {
        h = std::abs(l.y());
        sv = l.y() > 0 ? 1.0 : l.y() < 0 ? -1.0 : sideY(handle);
    }
    if (horizontal && vertical && keepAspect && ratio > 0 && std::isfinite(ratio)) {
        if (h > 0 && w / h < ratio)
            w = h * ratio; // widen the narrow side
        else
            h = w / ratio;
    }
    w = std::max({std::round(w), std::ceil(minimum.width()), 1.0});
    h = std::max({std::round(h), std::ceil(minimum.height()), 1.0});
    Box out = box;
    out.w = w;
    out.h = h;
    const QPointF centre = fromBoxAxes(turned, {su * w / 2, sv * h / 2});
    out.x = centre.x();
    out.y = centre.y();
    return out;
}

Snap snapMove(const Box& proposed, const QSizeF& sceneSize, double threshold) {
    Snap snap;
    snap.lineX = kNaN;
    snap.lineY = kNaN;
    const double c = std::cos(proposed.rotation), s = std::sin(proposed.rotation);
    // The corner at (-w/2, -h/2) turned with the item; the opposite one is its negation.
    const double cornerX = -proposed.w / 2 * c + proposed.h / 2 * s;
    const double cornerY = -proposed.w / 2 * s - proposed.h / 2 * c;
    auto pick = [threshold](double centre, double corner, double half, double* line) {
        const double tests[][2] = {
            {centre, 0},          {centre + corner, -half}, {centre - corner, -half}, {centre + corner, 0},
            {centre - corner, 0}, {centre + corner, half},  {centre - corner, half}};
        for (const auto& t : tests) {
            if (std::abs(t[0] - t[1]) < threshold) {
                *line = t[1];
                return t[1] - t[0];
            }
        }
        return 0.0;
    };
    snap.dx = pick(proposed.x, cornerX, sceneSize.width() / 2, &snap.lineX);
    snap.dy = pick(proposed.y, cornerY, sceneSize.height() / 2, &snap.lineY);
    return snap;
}

int toDegrees(double radians) {
    if (!std::isfinite(radians))
        return 0;
    const long degrees = std::lround(radians * 180.0 / kPi);
    return int(((degrees % 360) + 360) % 360);
}

} // namespace preview
