// The play head as a frame number and the three questions asked of the
// timeline at an instant: the picture requests of the showing tracks, the
// sound, and what an export frame holds. A plain object over the model: the
// clip view draws the play head from it and forwards its requests here, a
// command-line export uses it with no view at all, and the exporter asks it
// through ExportSource on its own threads.
//
// Threads: the play head and requestPictures on the GUI thread; the
// ExportSource answers on the export's workers, one at a time. The model is
// not edited while an export runs (the export holds the editor).
#pragma once

#include "render/export/export-source.h"

#include <QList>

#include <atomic>
#include <cstdint>
#include <mutex>

class TimeLineTreeModel;

class FrameDispatcher : public ExportSource {
public:
    explicit FrameDispatcher(TimeLineTreeModel* model = nullptr) : m_model(model) {}

    TimeLineTreeModel* model() const { return m_model.load(); }
    void setModel(TimeLineTreeModel* model) { m_model = model; }

    // The play head (never below 0).
    int64_t frame() const { return m_frame.load(); }
    void setFrame(int64_t frame) { m_frame = frame < 0 ? 0 : frame; }
    // The end of the last clip, in frames.
    int64_t totalFrames() const;

    // Hands every showing track its request at `frame` (GUI thread).
    void requestPictures(int64_t frame) const;
    // The sound at `frame` of `fps` units a second.
    QList<AudioFrameData> soundAt(int64_t frame, int64_t fps) const;
    // What every picture track shows at `frame`, for an export.
    ExportFrameRecord exportFrameAt(int64_t frame) const;

    // Around an export (GUI thread): the picture items give up their
    // preview state, and take it back from the play head's clips after.
    void beginExport();
    void endExport();

    ExportPicture exportPicture(int64_t frame) override;
    ExportSound exportSound(int64_t index, int64_t unitsPerSecond) override;
    QStringList mediaFiles() const override;

private:
    std::atomic<TimeLineTreeModel*> m_model;
    std::atomic<int64_t> m_frame{0};
    std::mutex m_answering; // one export answer at a time
};
