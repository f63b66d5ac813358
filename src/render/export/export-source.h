// What an export asks of the composition, and the answers it gets back on
// its own thread: the picture of a timeline frame and the sound of a
// timeline unit, each with the timeline's length. An implementation answers
// from its own data with whatever locking that needs; it never calls into a
// widget.
#pragma once

#include "render/audio/audio-frame-data.h"
#include "render/preview-requests.h"

#include <QList>
#include <QStringList>

#include <cstdint>

struct ExportPicture {
    ExportFrameRecord record; // what each picture track shows
    int64_t totalFrames = 0;  // the timeline's length in frames
};

struct ExportSound {
    QList<AudioFrameData> sounds; // what sounds during the unit
    int64_t totalFrames = 0;      // the timeline's length in frames
};

class ExportSource {
public:
    virtual ~ExportSource() = default;
    // Called on the export's picture thread.
    virtual ExportPicture exportPicture(int64_t frame) = 0;
    // Called on the export's sound thread: unit `index` of `unitsPerSecond`.
    virtual ExportSound exportSound(int64_t index, int64_t unitsPerSecond) = 0;
    // The media files the composition reads (called on the export's own
    // thread before and while it runs; the composition is not edited then).
    virtual QStringList mediaFiles() const { return {}; }
};
