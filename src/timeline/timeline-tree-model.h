// The timeline's track tree and the edits on its clips and transitions. The
// invisible root holds six rows: Video, Picture, Audio, Dub, Subtitle and a
// kind-0 row. Every edit is undoable through the undo controller; each
// compound edit is one named merge sequence. GUI thread only.
#pragma once

#include "timeline/classify-item.h"
#include "timeline/timeline-units.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QSize>

#include <functional>
#include <memory>

class QGraphicsScene;
class QXmlStreamReader;
class RenderManager;
class QXmlStreamWriter;
class SourceData;
class TransitionData;
class TransitionObject;

class TimeLineTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit TimeLineTreeModel(QObject* parent = nullptr);
    ~TimeLineTreeModel() override;

    // Qt model: one column; display and user roles carry ClassifyData.
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Role 2 (edit): "add" on a header, "remove" on an added track.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    ClassifyItem* root() const { return m_root; }
    ClassifyItem* header(uint32_t kind) const;
    ClassifyItem* itemFromIndex(const QModelIndex& index) const;
    QModelIndex indexOf(const ClassifyItem* item) const;
    // Every track of every kind, headers first, in row order.
    QList<ClassifyItem*> tracks() const;

    // Undoable track edits. addTrack appends when row is out of range; it
    // stops a running recording first unless the recording itself asks.
    ClassifyItem* addTrack(ClassifyItem* header, int row = -1, bool stopsRecording = true);
    bool removeTrack(ClassifyItem* track);
    // Used by the track's callbacks.
    void insertTrack(ClassifyItem* track, int row);
    void takeTrack(ClassifyItem* track);

    // Row geometry in scene pixels.
    double headerTop(const ClassifyItem* header) const;
    double trackTop(const ClassifyItem* track) const;
    double sceneHeight(double scrollBarHeight = 0.0) const;

    // Clip creation through the factory (the scene makes items instead).
    using SourceFactory = std::function<SourceData*(SourceType, ClassifyItem*, QGraphicsScene*, double width,
                                                    const QRectF&, const QString& path, const QString& uuid,
                                                    int64_t originalDuration, double offsetPx, const QRect&)>;
    void setSourceFactory(SourceFactory factory) { m_sourceFactory = std::move(factory); }
    // Transition creation likewise (the scene makes transition items).
    using TransitionFactory = std::function<TransitionObject*(TransitionData*)>;
    void setTransitionFactory(TransitionFactory factory) { m_transitionFactory = std::move(factory); }
    // The scene's selection changes reach the preview items through it.
    void setScene(QGraphicsScene* scene);
    SourceData* createSource(ClassifyItem* track, int64_t start, int64_t length, int64_t offset,
                             int64_t originalDuration, const QString& path, const QRectF& previewRect,
                             const QRect& clipRect, const QString& uuid = QString());
    // Creates a clip from a probed material ("valid", "duration", "pix",
    // "width", "height") at the frame; null when the probe is not valid.
    SourceData* createFromMaterial(ClassifyItem* track, const QString& path, const bg::ValueMap& info,
                                   int64_t start);
    // The same, probing the file first.
    SourceData* createFromMaterial(ClassifyItem* track, const QString& path, int64_t start);
    // "valid", "duration" (ms), "pix" (frames), "width", "height": the render
    // manager's probe, or FFmpeg's directly without one.
    // While a ProbeCacheScope lives each file is probed once.
    bg::ValueMap probe(const QString& path) const;
    // Keeps one probe per file for as long as it lives (the section readers
    // open one per read); an inner scope shares the outer one's.
    class ProbeCacheScope {
    public:
        explicit ProbeCacheScope(const TimeLineTreeModel* model);
        ~ProbeCacheScope();
        ProbeCacheScope(const ProbeCacheScope&) = delete;
        ProbeCacheScope& operator=(const ProbeCacheScope&) = delete;

    private:
        const TimeLineTreeModel* m_model;
        QHash<QString, bg::ValueMap> m_cache;
        bool m_owner;
    };
    // Replaces the probe above (same answer shape) for callers that must not
    // touch the disk; an empty function brings the real probe back.
    using MediaProbe = std::function<bg::ValueMap(const QString& path)>;
    void setMediaProbe(MediaProbe probe) { m_mediaProbe = std::move(probe); }
    SourceData* createSubtitle(ClassifyItem* track, int64_t start, int64_t length, const QString& content,
                               const QFont& font, const QColor& color);

    QList<SourceData*> allSources() const;
    // Points every clip of the file `from` at `to` (a moved file); the
    // number of clips changed. Not an undo step.
    int relinkMedia(const QString& from, const QString& to);
    // The files of clips that are not on disk, each once.
    QStringList missingMedia() const;
    // The files of clips that are on disk but read as no media, each once.
    QStringList unreadableMedia() const;
    // Every file that clips read, each once.
    QStringList mediaFiles() const;
    SourceData* findSource(const QString& uuid) const;
    ClassifyItem* trackOf(const SourceData* clip) const;

    // Compound clip edits. Each returns false (recording nothing) when it cannot apply.
    bool splitSource(SourceData* clip, int64_t frame);
    SourceData* copySource(SourceData* clip);
    void setCopyBuffer(const SourceData* clip);
    SourceData* paste(ClassifyItem* track, int64_t frame);
    bool moveSource(SourceData* clip, ClassifyItem* track, int64_t start);
    bool trimSource(SourceData* clip, int64_t start, int64_t length, int64_t offset);
    void removeSources(const QList<SourceData*>& clips);
    // "UpLevel" (up) or "DownLevel": one above (below) every clip of its
    // stacking group under the frame whose placement overlaps its own; an
    // undoable "zValue". False for clips that do not stack.
    bool levelSource(SourceData* clip, int64_t frame, bool up);

    // Transitions.
    TransitionObject* addTransition(SourceData* from, SourceData* to, const QString& name, int64_t durationMs = 2000,
                                    int ratio = 5);
    void removeTransition(TransitionObject* transition);
    // Removes, as part of the open undo step, every transition whose clips
    // no longer meet: a clip left the timeline, the two sit on different
    // tracks, or they moved apart (a gap other than the one the transition
    // was made across). The others follow their clips' new frames.
    void dropTransitionsApart();
    const QList<TransitionObject*>& transitions() const { return m_transitions; }
    // index < 0 appends.
    void insertTransition(TransitionObject* transition, int index = -1);
    void takeTransition(TransitionObject* transition);
    TransitionObject* transitionFrom(const SourceData* clip) const;

    // Removes every clip and added track (undoably; the caller resets the
    // history) and gives the headers fresh preview items.
    void reset();

    // The project's picture size (fit mode and the preview items take it).
    QSize renderSize() const { return m_renderSize; }
    void setRenderSize(const QSize& size) { m_renderSize = size; }
    // Optional: without one the preview items are made but drawn nowhere and
    // files are probed directly. Takes the manager's scene size.
    void setRenderManager(RenderManager* manager);
    RenderManager* renderManager() const { return m_renderManager; }
    // A new picture size, from the render manager, which keeps the items.
    void updateSceneSize(int width, int height);
    // Off: tracks made or reset from then on get no preview item (each runs a
    // decoding worker), for callers that only read and write sections.
    void setPreviewItemsEnabled(bool enabled) { m_previewItems = enabled; }
    bool previewItemsEnabled() const { return m_previewItems; }

    // The timeline section, through TimelineSectionWriter and
    // TimelineSectionReader: "classify" elements and one "Trans" element,
    // written into the element the writer has open.
    using PathMapper = std::function<QString(const QString&)>;
    // mapPath and besidePath: see TimelineSectionWriter.
    void writeTimeline(QXmlStreamWriter& writer, const PathMapper& mapPath = PathMapper(),
                       const PathMapper& besidePath = PathMapper()) const;
    // Reads the children of the current element until its end. Values out
    // of range are clamped or skipped with a log line.
    bool readTimeline(QXmlStreamReader& reader, const PathMapper& mapPath = PathMapper());
    // What the last read could not take as the file has it: clips and
    // tracks beyond the most a project holds, clips past the 24-hour end.
    struct ReadLosses {
        int clipsSkipped = 0;
        int tracksSkipped = 0;
        int clipsShortened = 0;
        int clipsRemoved = 0;
        bool any() const { return clipsSkipped || tracksSkipped || clipsShortened || clipsRemoved; }
    };
    const ReadLosses& readLosses() const { return m_readLosses; }
    ReadLosses& readLossesToFill() { return m_readLosses; }
    // The older layout, through LegacyTimelineReader: each reader stands on
    // (or just before) its "ObjectMgr" and "Tree" element. Unreadable
    // objects, items and transitions are skipped with a log line; false on a
    // broken document.
    bool readOldSection(QXmlStreamReader& objectMgr, QXmlStreamReader& tree,
                        const PathMapper& mapPath = PathMapper());

signals:
    // Emitted before a track is added or removed (the view's sig_opertorUi).
    void sig_opertorUi(bool, bool);

private:
    ReadLosses m_readLosses;
    // Adds a new clip (the insertion rule pushes later clips along) and
    // drops the transitions it came between.
    void insertSource(ClassifyItem* track, SourceData* clip);

    mutable QHash<QString, bg::ValueMap>* m_probeCache = nullptr;

    MediaProbe m_mediaProbe;
    bool m_previewItems = true;

    ClassifyItem* m_root;
    QList<TransitionObject*> m_transitions;
    QGraphicsScene* m_scene = nullptr;
    RenderManager* m_renderManager = nullptr;
    SourceFactory m_sourceFactory;
    TransitionFactory m_transitionFactory;
    std::unique_ptr<SourceData> m_copyBuffer;
    QSize m_renderSize {1920, 1080};
};
