#include "values/read-limits.h"

#include "value/interface.h"
#include "values/frame-info.h"

#include <QFont>

#include <algorithm>
#include <cmath>

namespace timeline {

int clampSetting(int v, int lo, int hi, const char* what) {
    if (v >= lo && v <= hi)
        return v;
    const int fixed = std::clamp(v, lo, hi);
    LOGW("reader: %s %d outside %d..%d, using %d", what, v, lo, hi, fixed);
    return fixed;
}

double clampCoordinate(double v, const char* what, double limit) {
    if (!std::isfinite(v)) {
        LOGW("reader: %s is not a number, using 0", what);
        return 0.0;
    }
    if (std::abs(v) <= limit)
        return v;
    const double fixed = std::clamp(v, -limit, limit);
    LOGW("reader: %s %g outside +-%g, using %g", what, v, limit, fixed);
    return fixed;
}

void fitClipSpan(int64_t* start, int64_t* length) {
    if (*start < 0 || *start >= kMaxFrames) {
        const int64_t fixed = std::clamp<int64_t>(*start, 0, kMaxFrames - 1);
        LOGW("reader: clip start %lld outside the 24-hour timeline, using %lld", static_cast<long long>(*start),
             static_cast<long long>(fixed));
        *start = fixed;
    }
    const int64_t room = kMaxFrames - *start;
    if (*length < 1 || *length > room) {
        const int64_t fixed = std::clamp<int64_t>(*length, 1, room);
        LOGW("reader: clip length %lld at frame %lld does not fit the 24-hour timeline, using %lld",
             static_cast<long long>(*length), static_cast<long long>(*start), static_cast<long long>(fixed));
        *length = fixed;
    }
}

void fitFont(QFont* font, const char* what) {
    // A font is saved as one comma-separated description, so a family with a
    // comma in it would not read back. Older files may hold a list of
    // families ("Arial, Helvetica"): the first is the one meant.
    const QString family = font->family();
    const int comma = family.indexOf(QLatin1Char(','));
    if (comma >= 0) {
        const QString first = family.left(comma).trimmed();
        LOGW("reader: %s family \"%s\" holds a comma, using \"%s\"", what, qUtf8Printable(family),
             qUtf8Printable(first));
        font->setFamily(first);
    }
    if (font->family().isEmpty())
        font->setFamily(QFont().family());
    if (font->pointSizeF() > kMaxFontSize) {
        LOGW("reader: %s of %g points, using %d", what, font->pointSizeF(), kMaxFontSize);
        font->setPointSize(kMaxFontSize);
    } else if (font->pixelSize() > kMaxFontSize) {
        LOGW("reader: %s of %d pixels, using %d", what, font->pixelSize(), kMaxFontSize);
        font->setPixelSize(kMaxFontSize);
    }
}

void fitColours(ColourSteps* colours) {
    for (int i = 0; i < ColourSteps::kCount; ++i) {
        const bool highlight = &colours->at(i) == &colours->highlight;
        colours->at(i) = clampSetting(colours->at(i), highlight ? kHighlightMin : kColourControlMin,
                                      highlight ? kHighlightMax : kColourControlMax, kColourKeys[i]);
    }
}

} // namespace timeline
