// A clip's colour controls, and one picture layer as decoded: shared by the
// timeline (which asks), the preview items (which decode and draw) and the
// panels (which show the frame being cropped).
#pragma once

#include "media/media.h"
#include "values/timeline-keys.h"

#include <QList>
#include <QMetaType>
#include <QRect>
#include <QString>

#include <cstdint>
#include <string>

// The six colour controls, in the one order that clip objects, the project
// file's elements, frame requests and decoded layers all use. As ints they
// are the panels' steps (-50..50, highlight 0..50); as floats, what the
// colour program takes (steps / 50, brightness steps / 100).
template <typename T> struct ColourControlsOf {
    T temperature{};
    T saturation{};
    T hue{};
    T brightness{};
    T contrast{};
    T highlight{};

    static constexpr int kCount = 6;
    // The control at i (0..kCount - 1) in the order above.
    T& at(int i) { return const_cast<T&>(static_cast<const ColourControlsOf*>(this)->at(i)); }
    const T& at(int i) const {
        switch (i) {
        case 0:
            return temperature;
        case 1:
            return saturation;
        case 2:
            return hue;
        case 3:
            return brightness;
        case 4:
            return contrast;
        default:
            return highlight;
        }
    }
    bool atRest() const { return *this == ColourControlsOf{}; }
    bool operator==(const ColourControlsOf& o) const {
        return temperature == o.temperature && saturation == o.saturation && hue == o.hue &&
               brightness == o.brightness && contrast == o.contrast && highlight == o.highlight;
    }
};

using ColourSteps = ColourControlsOf<int>;
using ColourControls = ColourControlsOf<float>;

// The controls' keys in clip objects, panel maps and project files, in the
// same order ("bright" is the brightness).
constexpr const char* kColourKeys[ColourSteps::kCount] = {
    tlkey::Temperature, tlkey::Saturation, tlkey::Hue, tlkey::Bright, tlkey::Contrast, tlkey::Highlight};

// The index of a control's key, or -1.
inline int colourIndex(const std::string& key) {
    for (int i = 0; i < ColourSteps::kCount; ++i) {
        if (key == kColourKeys[i])
            return i;
    }
    return -1;
}

// The steps as the colour program takes them.
inline ColourControls colourLevels(const ColourSteps& s) {
    ColourControls c;
    c.temperature = float(s.temperature) / 50.0f;
    c.saturation = float(s.saturation) / 50.0f;
    c.hue = float(s.hue) / 50.0f;
    c.brightness = float(s.brightness) / 100.0f;
    c.contrast = float(s.contrast) / 50.0f;
    c.highlight = float(s.highlight) / 50.0f;
    return c;
}

// One picture layer as decoded.
struct VFrameInfo {
    ff::VFramePtr frame; // may be empty
    QRect clipRect;      // in the frame's pixels
    QString uuid;
    float transparent = 1.0f;
    ColourControls colour;
    int32_t stretch = 1; // 1 keeps the picture's aspect inside the target size; others fill it
    float centerX = 0.0f, centerY = 0.0f, width = 0.0f, height = 0.0f; // scene pixels
    float rotation = 0.0f;                                             // radians
};

Q_DECLARE_METATYPE(VFrameInfo)
Q_DECLARE_METATYPE(QList<VFrameInfo>)
