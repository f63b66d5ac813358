// The records that carry a track's state at one instant to its preview item.
// Plain values, copied across threads.
#pragma once

#include "media/media.h"
#include "values/frame-info.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QMetaType>
#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>

// One layer of a frame request.
struct LayerRequest {
    int64_t frame = 0; // index at 30 frames per second inside the media file
    QString uuid;
    float transparent = 1.0f;
    ColourControls colour;
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
    int64_t frame = -1; // the play head's frame it shows; -1 when none is known
    QString program; // the transition's program
    double progress = 0.0;
    int32_t decodeMask = 0;
    int32_t showMask = 0;
    LayerRequest self, from, to;
};

// The request for a subtitle track's item.
struct SubtitleRequest {
    int64_t frame = 0; // distance of the play-head from the clip's start
    QString uuid;
    QColor textColor = Qt::white;
    QColor backgroundColor = Qt::black;
    QFont font;
    QString text;
    int backgroundAlpha = 0; // 0..255
    double transparent = 1.0;
};

// What a subtitle item shows; kept by the subtitle clip.
struct SubtitleState {
    QRectF previewRect; // centre x, y and size, scene pixels
    double rotateDegrees = 0;
    SubtitleRequest look;
};

// Content-mask bits of a drawable state.
enum ContentMask { ContentSelf = 1, ContentTransition = 2 };

// One drawable state of a preview item.
struct RenderProps {
    QString program = QStringLiteral("rgba_base");
    double progress = 1.0;
    bool visible = false;
    VFrameInfo from, to, self;
    int32_t contentMask = 0;
    // Subtitle items: the clip's state (export reads it from here).
    std::shared_ptr<const SubtitleState> subtitle;
};

class PreviewItem;
// One export frame's state of one preview item. The export thread applies
// it; the item is alive for the whole export because nothing is edited
// while it runs.
struct ExportFrameEntry {
    PreviewItem* item = nullptr;
    RenderProps props;
    bool stacked = false; // a clip covers the frame, and its zValue is `stacking`
    int32_t stacking = 0;
};
using ExportFrameRecord = QList<ExportFrameEntry>;
