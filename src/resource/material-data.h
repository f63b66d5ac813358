// One material of the media library, as a plain record: copies of it go to
// the material view, the project file and the drag payload.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>

#include <cstdint>

// Kinds of material, one bit each (the names of the older project layout).
enum MaterialType : uint32_t {
    MaterialNone = 0,
    Image = 1,
    Movie = 2,
    Mic = 4,
    Text = 8,
    Music = 16,
};
constexpr uint32_t kAllMaterials = Image | Movie | Mic | Text | Music;

struct MaterialData {
    QString uuid;
    uint32_t type = MaterialNone;
    QString name;
    bool draggable = false;       // can be placed on the timeline
    bool archiveRecoverd = false; // restored from a project file
    QString path;                 // absolute; empty for subtitle templates
    QImage preview;               // null until the preview worker made it
    QFont font;                   // subtitle templates
    QColor color;                 // subtitle templates
    bool inLibrary = false;
    bool removed = false;
};

// The kind of a file by its extension (case ignored); MaterialNone when it
// is not a material.
uint32_t ClassifyMaterialPath(const QString& path);
// A subtitle file (".srt", ".vtt", case ignored): no material, its cues go
// onto the timeline's subtitle track.
bool IsSubtitleFile(const QString& path);
