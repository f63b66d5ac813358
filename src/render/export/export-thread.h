// The export's three workers and the manager that runs them.
//
// ExportFetchFrame asks the composition (an ExportSource) for what the
// picture tracks show at each output frame; the answer comes back on its
// thread and waits in ExportImage's queue (at most five records, the asker
// blocks while it is full). ExportImage applies each record to the scene,
// runs one engine frame cycle and pushes the read-back picture to the
// writer. ExportAudio asks for the sound of each 1/30 s step, mixes it and
// pushes it.
// audioGate lets the sound run only as far as the pictures have gone;
// videoWindow keeps the pictures at most ten steps ahead of the sound.
//
// Threads: ExportManager lives on the GUI thread; Export runs there and
// returns when the export has ended. The source answers on the asking
// worker. Nothing here touches a widget.
#pragma once

#include "graphics/graphics.h"
#include "media/media.h"
#include "render/audio/audio-frame-data.h"
#include "render/export/export-function.h"
#include "render/export/direct-picture.h"
#include "render/export/export-source.h"
#include "render/export/overlay-planes.h"
#include "render/preview-requests.h"

#include "render/frame-types.h"

#include <QMutex>
#include <QObject>
#include <QQueue>
#include <QSemaphore>
#include <QSet>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class AudioTaskManager;

// Shared by the three workers of one export; made and freed by Export.
struct ExportContext {
    static constexpr int kVideoWindow = 10;

    std::atomic<int64_t> timestamp{0}; // ns of the frame being output
    int32_t frameRate = 30;
    double playRate = 1.0;
    QSemaphore audioGate{0};              // timeline units the pictures have covered
    QSemaphore videoWindow{kVideoWindow}; // units the pictures may lead the sound by
    mv::Movie* movie = nullptr;

    // The part of the whole export written (MVParams' fromFrame and
    // toFrame): output frames at frameRate, -1 to the end. Its sound is the
    // timeline's from the unit the first picture shows.
    int64_t fromFrame = 0;
    int64_t toFrame = -1;
    bool noSound = false; // the sound is followed for pacing but not written

    // The timeline's length in frames, known from its first answer (-1 before).
    std::atomic<int64_t> total{-1};
    std::atomic<int64_t> picturesPushed{0};
    std::atomic<int64_t> soundsPushed{0};
    // Units past which the sound is not written (-1: none): an export
    // finished early ends its sound with its last picture.
    std::atomic<int64_t> soundLimit{-1};

    // Timeline units where the part's sound starts and ends (for a timeline
    // of `total` frames), and what the part holds.
    int64_t soundFrom() const { return exportfn::timelineFrameOf(fromFrame, frameRate); }
    int64_t soundTo(int64_t total) const;
    int64_t soundUnits(int64_t total) const;
    int64_t outputFrames(int64_t total) const;

    // The first writer failure ends the export; later ones are dropped.
    void fail(const QString& reason);
    bool failed() const { return m_failed.load(); }
    QString failure() const;

private:
    mutable QMutex m_failureLock; // guards m_failure
    QString m_failure;
    std::atomic<bool> m_failed{false};
};

class ExportImage;

// Asks for one record per output frame until told to stop or the timeline ends.
class ExportFetchFrame : public QThread {
    Q_OBJECT
public:
    ExportFetchFrame(ExportContext* context, ExportSource* source, ExportImage* image);
    void setStop() { m_stop = true; }
    bool stopped() const { return m_stop.load(); }

protected:
    void run() override;

private:
    // The export's decoders hand over YUV planes; where the CPU converts
    // colours, a frame that is to be composed gets its pictures as RGBA.
    void readyForComposing(ExportFrameRecord& record);

    ExportContext* m_context;
    ExportSource* m_source;
    ExportImage* m_image;
    ff::RgbaFrames m_toRgba;
    // The last frame's conversions: (decoded, converted) pairs.
    std::vector<std::pair<ff::VFramePtr, ff::VFramePtr>> m_converted;
    std::atomic<bool> m_stop{false};
};

// Draws the queued records and pushes the pictures. Reference counted
// through its GsOutputRaw base: Release() after the thread has ended.
class ExportImage : public QThread, public GsOutputRaw {
    Q_OBJECT
public:
    static constexpr int kQueueSlots = 5;
    // Display views are drawn once in this many cycles plus one.
    static constexpr int kDisplayCountdown = 100;

    ExportImage(ExportContext* context, GsScene* scene, int width, int height);

    void setStop() { m_stop = true; }
    // Stopping: wakes the thread wherever it blocks (once each).
    void wake();
    // Fetcher's thread: blocks while kQueueSlots records wait. endOfTimeline
    // marks that the timeline has no frame `outputIndex`. False when stopped.
    bool enqueue(const ExportFrameRecord& record, int64_t outputIndex, bool endOfTimeline);
    // Fetcher's thread, when it is being stopped and may block in enqueue.
    void wakeProducer() { m_freeSlots.release(); }

    void OnFrame(int width, int height, const uint8_t* pixels, int bytesPerRow, int64_t timestamp) override;
    // The decoded planes the frame's other layers are laid onto (see
    // decodedBase in direct-picture.h): only where the CPU converts
    // colours. Any thread.
    DecodedBase decodedBase(const ExportFrameRecord& record) const;

signals:
    // (output frame, output frames in all); queued to whoever listens.
    void sig_processUpdate(int value, int maximum);

protected:
    ~ExportImage() override;
    void run() override;

private:
    // Pushes output frame k through `push` (given its time), unless the
    // export failed or the frame lies past the end; reports the progress.
    void deliver(int64_t k, const std::function<QString(int64_t pts)>& push);
    // The picture of a frame that goes to the writer as decoded, or null
    // (see directPicture).
    ff::VFramePtr directFrame(const ExportFrameRecord& record) const;
    // Output frame k is one picture as decoded: straight to the writer.
    void writeDirect(const ff::VFramePtr& frame, int64_t outputIndex);
    // Gives the items their state of the frame; the entry at `hidden` (or
    // none, -1) is hidden.
    void applyRecord(const ExportFrameRecord& record, int hidden);
    // Output frame k is the layers of the record drawn over the planes of
    // its lowest entry: only they are drawn, and laid onto a copy (or the
    // dissolve's mix) of the planes. False, with nothing written, when that
    // cannot be done.
    bool writeOverlaid(const ExportFrameRecord& record, const DecodedBase& base, int64_t outputIndex);
    // Lets the sound run up to the next output frame's time; false when stopped.
    bool holdPictureFor(int64_t outputIndex);

    struct Queued {
        ExportFrameRecord record;
        int64_t outputIndex = 0;
        bool end = false;
    };
    // Lets the sound follow up to the timeline unit `to` (exclusive).
    void openAudioTo(int64_t to);

    ExportContext* m_context;
    const int m_writerMatrix; // the movie's YUV matrix (mv::picture_matrix)
    std::atomic<bool> m_stop{false};
    QMutex m_queueLock; // guards m_queue
    QQueue<Queued> m_queue;
    QSemaphore m_freeSlots{kQueueSlots};
    QSemaphore m_queued{0};
    std::atomic<int64_t> m_endIndex{-1}; // output frames in all, once known
    int64_t m_audioOpened = 0;           // units released to the sound (this thread)
    int64_t m_directPictures = 0;        // written without composing (this thread)
    int64_t m_overlaidPictures = 0;      // written by writeOverlaid (this thread)
    int64_t m_layersDrawn = 0;           // the layers it drew for them (this thread)
    ff::RgbaFrames m_toRgba;             // for those the writer takes as RGBA
    // writeOverlaid's last drawn layers (this thread): the record they were
    // drawn from (its base entry emptied) and its base entry, -1 when none;
    // the layers made ready to lay over planes, and the planes with them.
    ExportFrameRecord m_layerRecord;
    int m_layerBase = -1;
    PlanesOverlay m_overlay;
    std::vector<uint8_t> m_overlaid;
};

// Mixes and pushes the sound, one timeline unit per request.
class ExportAudio : public QThread {
    Q_OBJECT
public:
    ExportAudio(ExportContext* context, ExportSource* source, bool audioOnly);
    ~ExportAudio() override;
    void setStop() { m_stop = true; }
    bool audioOnly() const { return m_audioOnly; }
    // On this thread: mixes one unit and pushes it.
    void mixStep(const QList<AudioFrameData>& sounds, int64_t index, int64_t unitsPerSecond);

signals:
    void sig_processUpdate(int value, int maximum);

protected:
    void run() override;

private:
    // Where the files sounding at unit `from` began to sound without a break.
    int64_t decodedSince(int64_t from);

    ExportContext* m_context;
    ExportSource* m_source;
    bool m_audioOnly;
    std::atomic<bool> m_stop{false};
    AudioTaskManager* m_tasks = nullptr; // this thread's, while it runs
};

struct ExportResult {
    bool ok = false;
    bool stoppedEarly = false; // stop() ended it before the timeline's end
    bool cancelled = false;    // cancel() ended it: nothing was put in place
    bool started = false;      // the writer was created and frames were asked for
    QString reason;            // why it failed
    QString path;
};

// Owned by the render manager; GUI thread apart from stop() and cancel()
// (any thread).
class ExportManager : public QObject {
    Q_OBJECT
public:
    // (done, total) in output frames (sound steps for ".mp3"); total is 0
    // until the timeline's length is known.
    using Progress = std::function<void(int64_t done, int64_t total)>;
    static constexpr int kProgressIntervalMs = 40;

    explicit ExportManager(QObject* parent = nullptr);
    ~ExportManager() override;

    // What the workers ask for frames and sound (not owned); asked on the workers.
    void setSource(ExportSource* source) { m_source = source; }
    ExportSource* source() const { return m_source; }
    // Called on the thread running Export about every kProgressIntervalMs;
    // a dialog may process events in it and call stop().
    void setProgress(Progress progress) { m_progress = std::move(progress); }
    // Ends a running export soon; the file keeps what was written (any thread).
    void stop() { m_stopNow = true; }
    // Ends it soon and writes nothing: a file already at the output path
    // stays as it was (any thread).
    void cancel() {
        m_cancel = true;
        m_stopNow = true;
    }
    bool isExporting() const { return m_running; }

    // Runs one export to its end, stop(), cancel() or a writer failure. The
    // movie is written under a hidden name beside the output and renamed
    // over it only when it was written and reads back, so a failure never
    // harms a file already there.
    ExportResult Export(MVParams* params, GsScene* scene);

signals:
    void sig_frameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    void sig_exportContinue();
    void sig_decoderAudioFrameDataList(QList<AudioFrameData> list);

private:
    ExportResult runAudioOnly(ExportContext& context);
    ExportResult runVideo(ExportContext& context, GsScene* scene, int width, int height);
    void report(const ExportContext& context, bool audioOnly);
    // A media file of the timeline that could not be opened since the
    // export began (moved, deleted, its disk unmounted) fails the export:
    // its clips would be black and silent.
    void checkMedia(ExportContext& context) const;

    ExportSource* m_source = nullptr;
    QSet<QString> m_watchedMedia; // the timeline's media files
    size_t m_failuresBefore = 0;  // media open failures before the export began
    Progress m_progress;
    std::atomic<bool> m_stopNow{false};
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_running{false};

};
