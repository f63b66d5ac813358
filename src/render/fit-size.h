// Fit mode: a picture drawn into a target box.
#pragma once

#include "graphics/graphics.h"
#include "media/media.h"

#include <QRect>

// In fit mode (stretch 1) the picture keeps its aspect inside the box, centred
// on it; otherwise it fills the box.
inline gs_vec2 fitSize(gs_vec2 box, int pictureWidth, int pictureHeight, int stretch) {
    if (stretch != 1 || pictureWidth <= 0 || pictureHeight <= 0 || box.y == 0)
        return box;
    float aspect = float(pictureWidth) / float(pictureHeight);
    if (box.x / box.y >= aspect)
        return {box.y * aspect, box.y};
    return {box.x, box.x / aspect};
}

// The part of a frame a clip shows: the clip rectangle inside the frame (a
// null rectangle means the whole frame). Empty when they do not overlap.
inline QRect visiblePart(const QRect& clip, int frameWidth, int frameHeight) {
    QRect frame(0, 0, frameWidth, frameHeight);
    return clip.isNull() ? frame : clip.intersected(frame);
}

// True when a picture drawn unturned at this centre and size covers the whole scene.
inline bool coversScene(float x, float y, gs_vec2 drawn, float rotation, int sceneWidth, int sceneHeight) {
    return rotation == 0.0f && x - drawn.x / 2 <= -sceneWidth / 2.0f && x + drawn.x / 2 >= sceneWidth / 2.0f &&
           y - drawn.y / 2 <= -sceneHeight / 2.0f && y + drawn.y / 2 >= sceneHeight / 2.0f;
}

// The first pixel of that part.
inline const uint8_t* framePart(const ff::VFrameCtx& frame, const QRect& part) {
    return frame.data() + size_t(part.top()) * size_t(frame.stride) + size_t(part.left()) * 4;
}
