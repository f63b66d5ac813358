// One sounding clip at an instant of the timeline: where in its file the
// sound is, which file, and how loud. Plain record, copied between threads.
#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <cstdint>

struct AudioFrameData {
    int64_t num = 0; // media time num / den seconds
    int64_t den = 30;
    QString path;
    int volume = 0; // 128 is the clip's own level; 0 when muted
    QString uuid;   // the clip, for the log
};

Q_DECLARE_METATYPE(AudioFrameData)
Q_DECLARE_METATYPE(QList<AudioFrameData>)
