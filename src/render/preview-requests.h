// The records that carry a track's state at one instant to its preview item
// (and from there to the crop editor). Plain values, copied across threads.
#pragma once

#include "media/media.h"

#include <QList>
#include <QMetaType>
#include <QRect>
#include <QString>

#include <cstdint>

// One picture layer as decoded.
struct VFrameInfo {
    ff::VFramePtr frame; // may be empty
    QRect clipRect;      // in the frame's pixels
    QString uuid;
    float transparent = 1.0f;
    float temperature = 0.0f;
    float saturation = 0.0f;
    float hue = 0.0f;
    float brightness = 0.0f;
    float contrast = 0.0f;
    float highlight = 0.0f;
    int32_t stretch = 1; // 1 keeps the picture's aspect inside the target size; others fill it
    float centerX = 0.0f, centerY = 0.0f, width = 0.0f, height = 0.0f; // scene pixels
    float rotation = 0.0f;                                             // radians
};

// One layer of a frame request.
struct LayerRequest {
    int64_t frame = 0; // index at 30 frames per second inside the media file
    QString uuid;
    float transparent = 1.0f;
    float temperature = 0.0f;
    float saturation = 0.0f;
    float hue = 0.0f;
    float brightness = 0.0f;
    float contrast = 0.0f;
    float highlight = 0.0f;
    int32_t stretch = 1;
    QString path;
    QRect clipRect;
    float centerX = 0.0f, centerY = 0.0f, width = 0.0f, height = 0.0f, rotation = 0.0f;
};

// Decode-mask bits.
enum DecodeMask { DecodeTo = 1, DecodeSelf = 2, DecodeFrom = 4 };
// Show-mask bits.
enum ShowMask { ShowClip = 1, ShowTransition = 2 };

// The request for a video or picture track's item.
struct FrameRequest {
    QString program; // the transition's program
    double progress = 0.0;
    int32_t decodeMask = 0;
    int32_t showMask = 0;
    LayerRequest self, from, to;
};

Q_DECLARE_METATYPE(VFrameInfo)
Q_DECLARE_METATYPE(QList<VFrameInfo>)
