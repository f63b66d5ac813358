#include "values/transtranslate.h"

TransTranslate* TransTranslate::instance() {
    static TransTranslate* table = new TransTranslate; // shared for the whole process
    return table;
}

TransTranslate::TransTranslate() {
    m_table = {
        {"clip_cross", "global_info.Clip_Cross"},         {"clip_open", "global_info.Clip_Open"},
        {"clip_box", "global_info.Clip_Box"},             {"clip_banding", "global_info.Clip_Banding"},
        {"trans_move", "global_info.Clip_Move"},          {"clip_herase", "global_info.Clip_HErase"},
        {"over_white", "global_info.Overlap_White"},      {"clip_circle", "global_info.Clip_Circle"},
        {"scale_in", "global_info.Clip_Centre"},          {"clip_winshades", "global_info.Clip_WinShades"},
        {"over_black", "global_info.Overlap_Black"},      {"scale_boxes", "global_info.Scale_Boxes"},
        {"over_cross", "global_info.Overlap_Cross"},      {"clip_radial", "global_info.Clip_Radial"},
    };
}

QString TransTranslate::nameToKey(const QString& name) const {
    for (const auto& entry : m_table) {
        if (entry.first == name)
            return entry.second;
    }
    return QString();
}

QString TransTranslate::drawable(const QString& name) const {
    return nameToKey(name).isEmpty() ? QStringLiteral("over_cross") : name;
}

QString TransTranslate::keyToName(const QString& key) const {
    for (const auto& entry : m_table) {
        if (entry.second == key)
            return entry.first;
    }
    return QString();
}
