#include "timeline/timeline-units.h"

#include "values/screen-scale.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cmath>

namespace timeline {

namespace {
double s_override = 0.0;
}

double dpiScale() {
    if (s_override > 0.0)
        return s_override;
    // Asked for every clip edge: the screen is asked once. Clip positions are
    // kept in pixels of this scale, so it must not change under them either.
    static double scale = 0.0;
    if (scale <= 0.0) {
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            return screenDpiScale(); // no screens yet: not kept
        scale = screenDpiScale();
    }
    return scale;
}

void overrideDpiScale(double scale) { s_override = scale; }

int64_t pixelToFrame(double px) { return int64_t(std::floor(px / frameWidth() + 0.5)); }

double rowHeight(uint32_t kind) {
    switch (kind) {
    case SourceVideo:
        return 48.0 * dpiScale();
    case SourcePicture:
    case SourceDub:
    case SourceSubtitle:
    case SourceAudio:
        return 36.0 * dpiScale();
    default:
        return 30.0 * dpiScale();
    }
}

bool isKnownKind(uint32_t kind) {
    return kind == SourcePicture || kind == SourceVideo || kind == SourceDub || kind == SourceSubtitle ||
           kind == SourceAudio;
}

QString kindLabel(uint32_t kind) {
    switch (kind) {
    case SourcePicture:
        return QCoreApplication::translate("ClassifyItem", "timeline-classifynode.Picture");
    case SourceVideo:
        return QCoreApplication::translate("ClassifyItem", "timeline-classifynode.video");
    case SourceDub:
        return QCoreApplication::translate("ClassifyItem", "timeline-classifynode.Dub");
    case SourceSubtitle:
        return QCoreApplication::translate("ClassifyItem", "timeline-classifynode.Subtitle");
    case SourceAudio:
        return QCoreApplication::translate("ClassifyItem", "timeline-classifynode.Audio");
    default:
        return QString::fromUtf8("未知");
    }
}

} // namespace timeline
