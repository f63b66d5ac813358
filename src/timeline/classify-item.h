// One track row of the timeline's tree: a header (the first track of its
// kind) or a track added under it. It owns the clips lying on it, kept sorted
// by start, and its adding and removing are undoable. Picture, video and
// subtitle tracks own the preview item that shows their active clip; the
// item's requests (delete, edit, raise, lower) act on that clip. GUI thread only.
#pragma once

#include "render/preview-item.h"
#include "timeline/timeline-units.h"
#include "undo/zy-object.h"

#include <QList>
#include <QMetaObject>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class RenderManager;
class SourceData;
class TimeLineTreeModel;

// What the model hands to the view and the delegate for a row.
struct ClassifyData {
    uint32_t type = 0;
    bool isHeader = false;
    uint32_t id = 0;
    bool flag = false;
    QString uuid;
};
Q_DECLARE_METATYPE(ClassifyData)

class ClassifyItem : public QObject, public zya::ZyObject, public PreviewTrack {
    Q_OBJECT
public:
    ClassifyItem(uint32_t kind, bool header, ClassifyItem* parent);
    // Deletes the clips on it and the rows under it. Clips and rows that the
    // undo history holds are not touched.
    ~ClassifyItem() override;

    // 1: back under the header at "row" of "model"; 2: out of it.
    void onChange(int operation, const bg::Value& data) override;

    uint32_t kind() const { return m_kind; }
    bool isHeader() const { return m_header; }
    uint32_t id() const { return m_id; }
    QString uuid() const { return m_uuid; }
    bool expanded() const { return m_expanded; }
    void setExpanded(bool expanded) { m_expanded = expanded; }
    ClassifyData data() const;

    ClassifyItem* parentItem() const { return m_parent; }
    void setParentItem(ClassifyItem* parent) { m_parent = parent; }
    const QList<ClassifyItem*>& children() const { return m_children; }
    QList<ClassifyItem*>& children() { return m_children; }
    // Index under the parent; -1 without one.
    int row() const;
    TimeLineTreeModel* model() const { return m_model; }
    void setModel(TimeLineTreeModel* model) { m_model = model; }

    // Clips, sorted by start.
    const QList<SourceData*>& sources() const { return m_sources; }
    int indexOf(const SourceData* clip) const { return m_sources.indexOf(const_cast<SourceData*>(clip)); }
    // Used by the clip's callbacks: the clip goes in at col (then the list is
    // sorted again) or comes out.
    void insertSource(SourceData* clip, int col);
    int takeSource(SourceData* clip);
    void sortSources();

    // Adds a clip in one "AddSource" step: recorded as added, keys set, laid out.
    void addSource(SourceData* clip);
    // Pushes right every clip that starts before the end of the one before it;
    // the moves are undoable. Gaps stay.
    void layout();
    // Takes each clip out undoably with its index.
    void removeSources(const QList<SourceData*>& clips);
    // A valid clip that covers the frame; null when none does.
    SourceData* activeClip(int64_t frame) const;
    int64_t endFrame() const;

    // Top of the row in the scene (0 without a model).
    double rowTop() const;

    // The renderer's item for this row (referenced while held); it is told
    // that this track owns it.
    void setPreviewItem(PreviewItem* item);
    PreviewItem* previewItem() const { return m_previewItem; }
    // Picture, video and subtitle tracks show pictures; the others have no item.
    bool showsPicture() const;
    // A fresh item at the model's render size, handed to the model's render
    // manager in place of the old one, placed for the active clip.
    void rebuildPreviewItem();
    // Out of the render manager and let go (the track left the tree).
    void dropPreviewItem();

    // The clip the item shows: a valid clip covering the frame. When it
    // changes the item is placed for it.
    SourceData* updateActiveClip(int64_t frame);
    SourceData* currentClip() const;
    int64_t activeFrame() const { return m_activeFrame; }
    // Takes the active clip at the frame and sends the item its request.
    void requestFrame(int64_t frame);
    // The item takes the active clip's placement, rotation, selection and z.
    void placePreviewItem();
    // The item's selected flag follows the active clip's selection.
    void refreshSelection();

    // PreviewTrack: the item's context menu acts on the active clip.
    void deleteActiveClip() override;
    void editActiveClip(int mode) override;
    void raiseActiveClip() override;
    void lowerActiveClip() override;
    // The preview's move, resize or rotation, written undoably to the active
    // clip's "previewRect" and "rotate" (inside the caller's merge sequence).
    void commitPlacement(const QRectF& previewRect, int rotateDegrees) override;
    // The active clip's selection on the timeline follows the preview.
    void previewSelectionChanged(bool selected) override;

signals:
    // The preview asks to open the clip's panel.
    void sig_editClip(SourceData* clip, int mode);
    // The active clip's placement changed: its open panel shows stale values.
    void sig_refreshPanel(SourceData* clip);

private:
    RenderManager* renderManager() const;
    void setActive(SourceData* clip);
    uint32_t m_kind;
    bool m_header;
    uint32_t m_id;
    bool m_flag = false;
    QString m_uuid;
    bool m_expanded = false;
    ClassifyItem* m_parent;
    QList<ClassifyItem*> m_children;
    QList<SourceData*> m_sources;
    PreviewItem* m_previewItem = nullptr;
    TimeLineTreeModel* m_model = nullptr;
    QPointer<SourceData> m_active;
    QMetaObject::Connection m_activeWatch;
    int64_t m_activeFrame = 0;
};
