#include "timeline/source-data.h"

#include "render/preview-item.h"
#include "timeline/classify-item.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <algorithm>
#include <cmath>

namespace {

// Stacking counters: later clips of a kind above earlier ones, every subtitle
// above every picture above every video. Never reset while the program runs.
constexpr int kSubtitleZFrom = 2000000, kPictureZFrom = 1000000, kVideoZFrom = 0;
int s_subtitleZ = kSubtitleZFrom;
int s_pictureZ = kPictureZFrom;
int s_videoZ = kVideoZFrom;

int takeZValue(SourceType type) {
    if (type & SourceSubtitle)
        return s_subtitleZ++;
    if (type & SourcePicture)
        return s_pictureZ++;
    if (type & SourceVideo)
        return s_videoZ++;
    return 0;
}

bool isVisual(SourceType t) { return t == SourcePicture || t == SourceVideo || t == SourceSubtitle; }
bool isSounding(SourceType t) { return t == SourceVideo || t == SourceDub || t == SourceAudio; }

} // namespace

SourceData::SourceData(SourceType type, ClassifyItem* parent, QGraphicsScene* scene, double width,
                       const QRectF& previewRect, const QString& path, const QString& uuid,
                       int64_t originalDuration, double offsetPx, const QRect& clipRect)
    : m_type(type), m_parent(parent), m_scene(scene), m_width(width), m_previewRect(previewRect), m_path(path),
      m_uuid(uuid), m_originalDuration(originalDuration),
      m_offset(std::max<int64_t>(0, timeline::pixelToFrame(offsetPx))), m_clipRect(clipRect),
      m_zValue(takeZValue(type)) {}

// The track is not touched: it may already be gone when the history drops a removed clip.
SourceData::~SourceData() = default;

int SourceData::peekZValue(SourceType type) {
    if (type & SourceSubtitle)
        return s_subtitleZ;
    if (type & SourcePicture)
        return s_pictureZ;
    if (type & SourceVideo)
        return s_videoZ;
    return 0;
}

void SourceData::restoreZValue(int z) {
    m_zValue = z;
    keepCountersAbove(m_type, z);
}

void SourceData::keepCountersAbove(SourceType type, int z) {
    // Pictures and videos stack together: a video raised among the pictures
    // moves the pictures' counter, so that a picture added next goes above it
    // rather than tying with it.
    int* counter = nullptr;
    if (type & SourceSubtitle)
        counter = z >= kSubtitleZFrom ? &s_subtitleZ : nullptr;
    else if (type & (SourcePicture | SourceVideo))
        counter = z >= kPictureZFrom && z < kSubtitleZFrom ? &s_pictureZ
                  : z >= kVideoZFrom && z < kPictureZFrom  ? &s_videoZ
                                                           : nullptr;
    if (counter && *counter <= z)
        *counter = z + 1;
}

QRectF SourceData::shownPlacement() const {
    QRectF place = m_previewRect;
    if (m_type == SourceSubtitle)
        place.setSize(place.size().expandedTo(SubtitlePreviewItem::textExtent(m_content, m_font)));
    return place;
}

void SourceData::onChange(int operation, const bg::Value& data) {
    switch (operation) {
    case OpAdded:
        if (m_parent) {
            m_parent->insertSource(this, data.toMap().get(tlkey::Col).toInt(0));
            sceneAttach(true);
            scenePlace(m_posX, m_parent->rowTop());
        }
        break;
    case OpRemoved:
        if (m_parent)
            m_parent->takeSource(this);
        sceneAttach(false);
        break;
    case OpChanged:
        applyKey(data.toStdString());
        break;
    default:
        break;
    }
}

void SourceData::onUndo(int operation, const bg::Value& data) {
    zya::ZyObject::onUndo(operation, data);
    // Only the order is refreshed: pushing clips here would undo an undo
    // half-way through a compound step.
    if (m_parent)
        m_parent->sortSources();
}

bg::ValueMap SourceData::sourceMap(ClassifyItem* parent, double posX, double sizeX, double offsetX) {
    bg::ValueMap map;
    map[tlkey::Parent] = bg::Value(static_cast<void*>(parent));
    map[tlkey::PosX] = bg::Value(posX);
    map[tlkey::SizeX] = bg::Value(sizeX);
    map[tlkey::OffsetX] = bg::Value(offsetX);
    return map;
}

void SourceData::writeSource(ClassifyItem* parent, int64_t start, int64_t length, int64_t offset, bool undoable) {
    setValue(tlkey::Source,
             bg::Value(sourceMap(parent, timeline::frameToPixel(start), timeline::frameToPixel(length),
                                 timeline::frameToPixel(std::max<int64_t>(0, offset)))),
             undoable, true);
}

void SourceData::setKeysFromFields() {
    writeSource(m_parent, startFrame(), lengthFrames(), m_offset, false);
    if (m_type == SourceSubtitle) {
        setValue(tlkey::Color, bg::Value(m_color.name().toStdString()), false, true);
        setValue(tlkey::BackgroundColor, bg::Value(m_backgroundColor.name().toStdString()), false, true);
        setValue(tlkey::Font, bg::Value(m_font.toString().toStdString()), false, true);
        setValue(tlkey::Content, bg::Value(m_content.toStdString()), false, true);
        setValue(tlkey::BackgroundTransparent, bg::Value(m_backgroundTransparent), false, true);
    }
    if (isVisual(m_type)) {
        setValue(tlkey::PreviewRect, bg::ValueQt(m_previewRect), false, true);
        setValue(tlkey::Rotate, bg::Value(m_rotate), false, true);
        setValue(tlkey::Transparent, bg::Value(m_transparent), false, true);
        setValue(tlkey::ZValue, bg::Value(m_zValue), false, true);
    }
    if (m_type == SourcePicture || m_type == SourceVideo) {
        setValue(tlkey::ClipRect, bg::ValueQt(m_clipRect), false, true);
        setValue(tlkey::Strech, bg::Value(m_stretch), false, true);
        for (int i = 0; i < ColourSteps::kCount; ++i)
            setValue(kColourKeys[i], bg::Value(m_colours.at(i)), false, true);
    }
    if (isSounding(m_type)) {
        setValue(tlkey::Volume, bg::Value(m_volume), false, true);
        setValue(tlkey::Mute, bg::Value(m_mute), false, true);
    }
}

void SourceData::applySource() {
    const bg::ValueMap map = value(tlkey::Source).toMap();
    auto* newParent = static_cast<ClassifyItem*>(map.get(tlkey::Parent).toPointer());
    const bool inTrack = m_parent && m_parent->indexOf(this) >= 0;
    if (newParent && newParent != m_parent) {
        if (inTrack)
            m_parent->takeSource(this);
        m_parent = newParent;
        if (inTrack)
            m_parent->insertSource(this, 0);
    }
    m_posX = map.get(tlkey::PosX).toDouble(m_posX);
    const double sizeX = map.get(tlkey::SizeX).toDouble(m_width);
    if (sizeX != m_width) {
        m_width = sizeX;
        sceneWidthChanged(m_width);
    }
    m_offset = std::max<int64_t>(0, timeline::pixelToFrame(map.get(tlkey::OffsetX).toDouble(0.0)));
    if (m_parent) {
        if (inTrack)
            m_parent->sortSources();
        scenePlace(m_posX, m_parent->rowTop());
    }
    emit sig_sourceChanged();
}

void SourceData::applyKey(const std::string& key) {
    const bg::Value v = value(key.c_str());
    if (key == tlkey::Source) {
        applySource();
    } else if (key == tlkey::PreviewRect) {
        if (v.type() != bg::VT_RECTF) {
            bg::toQRectF(v); // logs the conversion failure
            return;
        }
        m_previewRect = bg::toQRectF(v);
    } else if (key == tlkey::ClipRect) {
        if (v.type() != bg::VT_RECT) {
            bg::toQRect(v);
            return;
        }
        m_clipRect = bg::toQRect(v);
    } else if (key == tlkey::Rotate) {
        m_rotate = v.toInt(m_rotate);
    } else if (key == tlkey::Strech) {
        m_stretch = v.toInt(m_stretch);
    } else if (key == tlkey::Transparent) {
        m_transparent = v.toInt(m_transparent);
    } else if (key == tlkey::BackgroundTransparent) {
        m_backgroundTransparent = v.toInt(m_backgroundTransparent);
    } else if (key == tlkey::Volume) {
        m_volume = v.toInt(m_volume);
    } else if (key == tlkey::Mute) {
        m_mute = v.toBool(m_mute);
    } else if (key == tlkey::ZValue) {
        m_zValue = v.toInt(m_zValue);
        keepCountersAbove(m_type, m_zValue); // a clip added next goes above a raised one
    } else if (const int c = colourIndex(key); c >= 0) {
        m_colours.at(c) = v.toInt(m_colours.at(c));
    } else if (key == tlkey::Color) {
        m_color.setNamedColor(QString::fromStdString(v.toStdString()));
    } else if (key == tlkey::BackgroundColor) {
        m_backgroundColor.setNamedColor(QString::fromStdString(v.toStdString()));
    } else if (key == tlkey::Content) {
        m_content = QString::fromStdString(v.toStdString());
    } else if (key == tlkey::Font) {
        QFont font;
        font.fromString(QString::fromStdString(v.toStdString()));
        if (font != m_font) {
            m_font = font;
            // The text's box follows a new font; entering a track keeps the stored box.
            m_previewRect.setSize(SubtitlePreviewItem::textExtent(m_content, m_font));
            setValue(tlkey::PreviewRect, bg::ValueQt(m_previewRect), false, false);
        }
    } else {
        return;
    }
    emit sig_valueApplied(QString::fromStdString(key));
}

void SourceData::slot_updateFromTransTime(int64_t duration) {
    m_fromTransFrames = duration;
    emit sig_transTimeChanged();
}

void SourceData::slot_updateToTransTime(int64_t duration) {
    m_toTransFrames = duration;
    emit sig_transTimeChanged();
}

bg::ValueMap SourceData::panelMap() const {
    bg::ValueMap map;
    map[tlkey::Uuid] = bg::Value(m_uuid.toStdString());
    if (m_type != SourceSubtitle) {
        map[tlkey::Path] = bg::Value(m_path.toStdString());
    } else {
        map[tlkey::Font] = bg::Value(m_font.toString().toStdString());
        map[tlkey::Color] = bg::Value(m_color.name().toStdString());
        map[tlkey::BackgroundColor] = bg::Value(m_backgroundColor.name().toStdString());
        map[tlkey::Content] = bg::Value(m_content.toStdString());
        map[tlkey::BackgroundTransparent] = bg::Value(m_backgroundTransparent);
    }
    map[tlkey::X] = bg::Value(m_previewRect.x());
    map[tlkey::Y] = bg::Value(m_previewRect.y());
    // A subtitle's box is never smaller than its text (the preview grows it),
    // and a new one has no stored size yet: the panel shows the box as seen.
    const QSizeF box = shownPlacement().size();
    map[tlkey::W] = bg::Value(box.width());
    map[tlkey::H] = bg::Value(box.height());
    map[tlkey::Rotate] = bg::Value(m_rotate);
    map[tlkey::Transparent] = bg::Value(m_transparent);
    map[tlkey::Size] = bg::ValueQt(m_originalSize);
    map[tlkey::Rect] = bg::ValueQt(m_clipRect);
    map[tlkey::Strech] = bg::Value(m_stretch);
    for (int i = 0; i < ColourSteps::kCount; ++i)
        map[kColourKeys[i]] = bg::Value(m_colours.at(i));
    map[tlkey::Volume] = bg::Value(m_volume);
    map[tlkey::Mute] = bg::Value(m_mute);
    return map;
}

void SourceData::updateData(MenuType type, const bg::ValueMap& map, const std::string& datatype) {
    Q_UNUSED(type);
    if (datatype.empty())
        return; // the picture panel's name edit names no field
    const bg::Value v = map.get(datatype);
    // The panel sends a field again when it loses the focus after Enter
    // confirmed it: the same value makes no second undo step.
    // typed: text being typed, whose run of keys is one undo step.
    const auto edit = [this](const char* key, const bg::Value& value, bool typed = false) {
        if (hasValue(key) && this->value(key) == value) {
            emit sig_valueApplied(QString::fromLatin1(key));
            return;
        }
        if (typed)
            setTypedValue(key, value);
        else
            setValue(key, value, true, true);
    };
    if (datatype == tlkey::X || datatype == tlkey::Y || datatype == tlkey::W || datatype == tlkey::H) {
        QRectF r = m_previewRect;
        const double d = v.toDouble();
        if (datatype == tlkey::X)
            r.moveLeft(d);
        else if (datatype == tlkey::Y)
            r.moveTop(d);
        else if (datatype == tlkey::W)
            r.setWidth(d);
        else
            r.setHeight(d);
        edit(tlkey::PreviewRect, bg::ValueQt(r));
    } else if (datatype == tlkey::Strech || datatype == tlkey::SizeType) {
        fitMode(map, datatype);
    } else if (datatype == tlkey::Volume || datatype == tlkey::Mute) {
        // A drag of the panel's slider joins one step (the panel opens it).
        setValue(datatype.c_str(), datatype == tlkey::Mute ? bg::Value(v.toBool()) : bg::Value(v.toInt()), true,
                 true);
    } else if (datatype == tlkey::Rect) {
        if (v.type() != bg::VT_RECT) {
            bg::toQRect(v);
            return;
        }
        setValue(tlkey::ClipRect, v, true, true);
    } else if (datatype == tlkey::Content) {
        edit(tlkey::Content, bg::Value(v.toStdString()), true);
    } else if (datatype == tlkey::Font || datatype == tlkey::Color || datatype == tlkey::BackgroundColor) {
        edit(datatype.c_str(), bg::Value(v.toStdString()));
    } else if (datatype == tlkey::Rotate || datatype == tlkey::Transparent ||
               datatype == tlkey::BackgroundTransparent || colourIndex(datatype) >= 0) {
        edit(datatype.c_str(), bg::Value(v.toInt()));
    } else {
        LOGW("unknown panel edit: %s", datatype.c_str());
    }
}

void SourceData::fitMode(const bg::ValueMap& map, const std::string& datatype) {
    Q_UNUSED(datatype);
    const int stretch = map.get(tlkey::Strech).toInt(m_stretch);
    const int sizeType = map.get(tlkey::SizeType).toInt(0);
    if (sizeType == 0) {
        // A change of fit mode alone ("Equal ratio" / "padding") keeps where
        // the user placed the clip.
        if (stretch != m_stretch)
            setValue(tlkey::Strech, bg::Value(stretch), true, true);
        else
            emit sig_valueApplied(QString::fromLatin1(tlkey::Strech));
        return;
    }
    QSizeF target = m_previewRect.size();
    if (sizeType == 2 || sizeType == 3) {
        if (m_parent && m_parent->model())
            target = m_parent->model()->renderSize();
    } else if (sizeType == 1) {
        target = m_clipRect.size();
    }
    const QRectF fitted(0, 0, target.width(), target.height());
    if (m_previewRect == fitted && m_rotate == 0 && stretch == m_stretch) {
        emit sig_valueApplied(QString::fromLatin1(tlkey::Strech));
        return;
    }
    // One undo step for the whole fit.
    zya::UndoController* undo = zya::UndoController::instance();
    undo->beginMergeSequence(QString::fromLatin1(tlkey::SeqStretch));
    if (stretch != m_stretch)
        setValue(tlkey::Strech, bg::Value(stretch), true, true);
    if (m_previewRect != fitted)
        setValue(tlkey::PreviewRect, bg::ValueQt(fitted), true, true);
    if (m_rotate != 0)
        setValue(tlkey::Rotate, bg::Value(0), true, true);
    undo->endMergeSequence();
}

void SourceData::copyLookFrom(const SourceData& o) {
    m_previewRect = o.m_previewRect;
    m_rotate = o.m_rotate;
    m_transparent = o.m_transparent;
    m_backgroundTransparent = o.m_backgroundTransparent;
    m_volume = o.m_volume;
    m_mute = o.m_mute;
    m_color = o.m_color;
    m_backgroundColor = o.m_backgroundColor;
    m_font = o.m_font;
    m_content = o.m_content;
    m_clipRect = o.m_clipRect;
    m_originalSize = o.m_originalSize;
    m_stretch = o.m_stretch;
    m_zValue = o.m_zValue;
    m_valid = o.m_valid;
    m_colours = o.m_colours;
}

void SourceData::setInitialLook(int rotate, int transparent, int volume, bool mute) {
    m_rotate = rotate;
    m_transparent = transparent;
    m_volume = volume;
    m_mute = mute;
}

void SourceData::setInitialSubtitle(const QColor& color, const QColor& backgroundColor, const QFont& font,
                                    const QString& content, int backgroundTransparent) {
    m_color = color;
    m_backgroundColor = backgroundColor;
    m_font = font;
    m_content = content;
    m_backgroundTransparent = backgroundTransparent;
}

void SourceData::relink(const QString& path, int valid, const QSize& size) {
    m_path = path;
    m_valid = valid;
    if (size.isValid() && !size.isEmpty() && size != m_originalSize) {
        if (m_originalSize.isValid() && !m_originalSize.isEmpty() && !m_clipRect.isEmpty()) {
            const double kx = double(size.width()) / m_originalSize.width();
            const double ky = double(size.height()) / m_originalSize.height();
            const QRect scaled(int(std::lround(m_clipRect.x() * kx)), int(std::lround(m_clipRect.y() * ky)),
                               int(std::lround(m_clipRect.width() * kx)), int(std::lround(m_clipRect.height() * ky)));
            m_clipRect = scaled.intersected(QRect(QPoint(0, 0), size));
        } else {
            m_clipRect = QRect(QPoint(0, 0), size);
        }
        LOGW("timeline: %s is %dx%d, not %dx%d as before; the crop is now %d,%d %dx%d", qUtf8Printable(path),
             size.width(), size.height(), m_originalSize.width(), m_originalSize.height(), m_clipRect.x(),
             m_clipRect.y(), m_clipRect.width(), m_clipRect.height());
        m_originalSize = size;
    }
    sceneMediaChanged();
}
