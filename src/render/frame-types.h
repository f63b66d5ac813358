// The two enumerations carried by every frame request.
#pragma once

#include <QMetaType>

enum MoveType {
    MoveStep = 0,     // one step (seek, step buttons)
    MovePlayback = 1, // continuous playback
};

enum EditType {
    EditManual = 0,
    EditPlayback = 1,
    EditExport = 2,
    EditRecording = 3,
};

Q_DECLARE_METATYPE(MoveType)
Q_DECLARE_METATYPE(EditType)
