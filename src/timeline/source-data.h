// One clip on a track. Every editable value lives twice: as a field that the
// timeline and the renderer read, and as a key of the undoable object. Edits
// go through setValue; only onChange writes the fields, so edit, undo and
// redo take the same road. GUI thread only.
//
// The scene item (a QGraphicsItem) derives from this class and overrides the
// scene hooks; this class itself never touches a scene.
#pragma once

#include "timeline/timeline-units.h"
#include "values/frame-info.h"
#include "undo/zy-object.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

#include <cstdint>
#include <string>

class ClassifyItem;
class QGraphicsScene;

class SourceData : public QObject, public zya::ZyObject {
    Q_OBJECT
public:
    // offsetPx is turned into whole frames. zValue comes from the kind's counter.
    SourceData(SourceType type, ClassifyItem* parent, QGraphicsScene* scene, double width, const QRectF& previewRect,
               const QString& path, const QString& uuid, int64_t originalDuration, double offsetPx,
               const QRect& clipRect);
    ~SourceData() override;

    // 1: back into the track at "col" and into the scene; 2: out of both;
    // 3: apply the key. Other codes are ignored.
    void onChange(int operation, const bg::Value& data) override;
    // Undo maps 1 <-> 2, keeps 3, then refreshes the track's order.
    void onUndo(int operation, const bg::Value& data) override;

    // Sets every key this kind carries from the fields, without undo
    // records; start and length are written as whole frames.
    void setKeysFromFields();
    // A "source" map: parent, left edge, width and offset in scene pixels.
    static bg::ValueMap sourceMap(ClassifyItem* parent, double posX, double sizeX, double offsetX);
    // Writes "source" undoably with a new start and length in frames.
    void writeSource(ClassifyItem* parent, int64_t start, int64_t length, int64_t offset, bool undoable);

    // What the property panel shows.
    bg::ValueMap panelMap() const;
    // The property panels' edit entry; "volume" and "mute" leave no undo record.
    void updateData(MenuType type, const bg::ValueMap& map, const std::string& datatype);

    // Copies the look (placement, opacity, sound, text, crop, colours, stacking,
    // validity), not the media, uuid or position.
    void copyLookFrom(const SourceData& other);

    // Fields.
    SourceType type() const { return m_type; }
    ClassifyItem* parentTrack() const { return m_parent; }
    QGraphicsScene* scene() const { return m_scene; }
    double posX() const { return m_posX; }
    double width() const { return m_width; }
    int64_t startFrame() const { return timeline::pixelToFrame(m_posX); }
    int64_t lengthFrames() const { return timeline::pixelToFrame(m_width); }
    int64_t endFrame() const { return startFrame() + lengthFrames(); }
    bool covers(int64_t frame) const { return frame >= startFrame() && frame < endFrame(); }
    QRectF previewRect() const { return m_previewRect; }
    int rotate() const { return m_rotate; }
    int transparent() const { return m_transparent; }
    int backgroundTransparent() const { return m_backgroundTransparent; }
    int volume() const { return m_volume; }
    bool mute() const { return m_mute; }
    QString path() const { return m_path; }
    QString uuid() const { return m_uuid; }
    int64_t originalDuration() const { return m_originalDuration; }
    int64_t offset() const { return m_offset; }
    int64_t fromTransFrames() const { return m_fromTransFrames; }
    int64_t toTransFrames() const { return m_toTransFrames; }
    QColor color() const { return m_color; }
    QColor backgroundColor() const { return m_backgroundColor; }
    QFont font() const { return m_font; }
    QString content() const { return m_content; }
    QRect clipRect() const { return m_clipRect; }
    QSize originalSize() const { return m_originalSize; }
    int stretch() const { return m_stretch; }
    int zValue() const { return m_zValue; }
    int valid() const { return m_valid; }
    const ColourSteps& colours() const { return m_colours; }
    int temperature() const { return m_colours.temperature; }
    int saturation() const { return m_colours.saturation; }
    int hue() const { return m_colours.hue; }
    int contrast() const { return m_colours.contrast; }
    int bright() const { return m_colours.brightness; }
    int highlight() const { return m_colours.highlight; }

    // Set before the clip enters a track (creation, reading); no undo.
    void setPosX(double px) { m_posX = px; }
    void setOriginalSize(const QSize& size) { m_originalSize = size; }
    void setValid(int valid) { m_valid = valid; }
    // The clip's file moved: it reads from `path` now (not an undo step).
    // A file of another size (`size`, when known) keeps the crop where it
    // was in the picture, scaled to the new size.
    void relink(const QString& path, int valid, const QSize& size = QSize());
    void setStretch(int stretch) { m_stretch = stretch; }
    void setInitialLook(int rotate, int transparent, int volume, bool mute);
    void setInitialColors(const ColourSteps& colours) { m_colours = colours; }
    void setInitialSubtitle(const QColor& color, const QColor& backgroundColor, const QFont& font,
                            const QString& content, int backgroundTransparent);
    void setInitialZValue(int z) { m_zValue = z; }
    // A stacking order read back from a project: the clip takes it, and the
    // counters move past it (keepCountersAbove), so clips added afterwards
    // still go on top.
    void restoreZValue(int z);
    // A stacking value given to a clip of this kind: the counters move past
    // it where it lies in their range, so no clip added later ties with it.
    static void keepCountersAbove(SourceType type, int z);
    // Where the clip shows on the canvas: its placement, a subtitle's box at
    // least as large as its text (a new one has no stored size yet).
    QRectF shownPlacement() const;

    // The next zValue a new clip of this kind takes (counters never reset).
    static int peekZValue(SourceType type);

public slots:
    void slot_updateFromTransTime(int64_t duration);
    void slot_updateToTransTime(int64_t duration);

signals:
    // A key was applied to the fields (edit, undo or redo).
    void sig_valueApplied(const QString& key);
    // Start, length, offset or track changed.
    void sig_sourceChanged();
    void sig_transTimeChanged();

protected:
    // Scene hooks for the item.
    virtual void sceneAttach(bool shown) { Q_UNUSED(shown); }
    virtual void scenePlace(double x, double y) { Q_UNUSED(x); Q_UNUSED(y); }
    virtual void sceneWidthChanged(double width) { Q_UNUSED(width); }
    virtual void sceneMediaChanged() {}

private:
    void applyKey(const std::string& key);
    void applySource();
    void fitMode(const bg::ValueMap& map, const std::string& datatype);

    SourceType m_type;
    ClassifyItem* m_parent;
    QGraphicsScene* m_scene;
    double m_width;
    QRectF m_previewRect;
    int m_rotate = 0;
    int m_transparent = 255;
    int m_backgroundTransparent = 0;
    int m_volume = 128;
    bool m_mute = false;
    QString m_path;
    QString m_uuid;
    int64_t m_originalDuration;
    int64_t m_offset;
    int64_t m_fromTransFrames = 0;
    int64_t m_toTransFrames = 0;
    QColor m_color;
    QColor m_backgroundColor;
    QFont m_font;
    QString m_content;
    QRect m_clipRect;
    QSize m_originalSize {0, 0};
    int m_stretch = 1;
    int m_zValue = 0;
    int m_valid = 1;
    ColourSteps m_colours;

    double m_posX = 0.0; // the item's left edge, scene pixels
};
