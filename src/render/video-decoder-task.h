// Decoders of a video preview item, kept open from one request to the next.
// A manager and its tasks belong to one thread (the item's worker, or the
// export thread); each task may use a worker thread of its own to decode
// ahead, which it joins before it is destroyed.
#pragma once

#include "media/media.h"
#include "render/preview-requests.h"

#include <QList>
#include <QObject>
#include <QString>

#include <QRect>
#include <QSize>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class GsTexture;

// Puts the part of a decoded picture into the texture held by `slot`, as
// GsTexture::Fill does (frame-cycle thread): YUV planes are turned into RGB
// on the GPU with the source's matrix and range, RGBA pictures are copied.
// True when the slot holds the picture.
bool fillFrameTexture(std::unique_ptr<GsTexture>& slot, const ff::VFramePtr& frame, const QRect& part);

// One open decoder for one media file.
class VideoDecoderTask : public QObject {
    Q_OBJECT
public:
    explicit VideoDecoderTask(const QString& path);
    ~VideoDecoderTask() override;

    // The most pixels a decoded picture keeps: larger ones (a photo of
    // 8000 x 6000) are decoded at a half, a quarter... of their size, which
    // is still more than any canvas shows of them.
    static constexpr int64_t kMaxDecodedPixels = 36LL * 1000 * 1000;
    // The most frames decoded ahead, and the memory they may take together
    // (large pictures get fewer, never none).
    static constexpr int kAheadFrames = 4;
    static constexpr int64_t kAheadBytes = 96LL * 1024 * 1024;

    const QString& path() const { return m_path; }
    // The picture at frame `index` (30 per second; negative means 0); empty
    // when the file could not be opened or the frame not decoded.
    //
    // Read-ahead policy ("the next frames ready"): once a request moves
    // forward from the one before by at most kAheadFrames (playing,
    // exporting, a play head that skips a frame), the task's worker decodes
    // the frames after it, in order, and keeps up to aheadLimit() of them.
    // A later request that finds its frame there, or under way, takes it and
    // drops those before it. A request for the frame just given gets the
    // same picture again. Anything else (a jump, a step back, a larger
    // picture) waits for the frame under way, drops the rest and decodes in
    // place.
    //
    // Stepping back: a request one or two frames before the one before
    // decodes from the key frame on, as any step back must; the frames on
    // the way to it, up to behindLimit() of them, are kept, so that the next
    // steps back find theirs without decoding. Any other decode drops them.
    //
    // `shrink` (1, 2, 4...) asks for the picture at that fraction of its
    // size or less; *decodedAt, when given, says at what fraction (1 / n)
    // the picture came: a frame decoded ahead keeps the size it was
    // decoded at.
    ff::VFramePtr frame(int64_t index, int shrink = 1, int* decodedAt = nullptr);
    // The file's pictures are decoded at 1 / scaleDown() of their size or less.
    int scaleDown() const { return m_scaleDown; }
    // The size of the file's pictures (0 x 0 when it has none).
    QSize sourceSize() const { return m_sourceSize; }
    // Whether pictures come as YUV planes for the GPU to convert (which a
    // smaller picture does not), rather than converted here to RGBA.
    bool decodesPlanes() const { return m_planes; }
    // Pictures at the file's own size come as YUV planes whoever converts
    // them (an export hands such pictures to its writer as they are). Only
    // before the first frame() (the read-ahead worker reads it).
    void setDecodesPlanes(bool planes) { m_planes = planes; }

    // How many frames decoded at 1 / down of their size are kept ahead.
    int aheadLimit(int down) const;
    // How many are kept for stepping back (a group of pictures of 30
    // frames, fewer for large pictures).
    int behindLimit(int down) const;
    static constexpr int kBehindFrames = 30;
    static constexpr int64_t kBehindBytes = 64LL * 1024 * 1024;
    // Frames decoded since the task was opened, by the worker and in place.
    int decodedAhead() const { return m_decodedAhead.load(); }
    int decodedInPlace() const { return m_decodedInPlace.load(); }
    // Compressed frames read from the file (what the decoding cost), when
    // the worker is not decoding.
    int64_t packetsRead() const { return m_decoder.packetsRead(); }

private:
    ff::VFramePtr decodeNow(int64_t index, int down);
    void work();
    // Stops reading ahead and waits for the frame under way (lock held).
    void stopReadingAhead(std::unique_lock<std::mutex>& hold);

    QString m_path;
    ff::FFDecoder m_decoder; // used by the worker while m_busy, else by the caller
    int m_scaleDown = 1;
    QSize m_sourceSize;
    bool m_planes = true; // pictures come as YUV planes for the GPU to convert, else as RGBA
    // The caller's thread only:
    int64_t m_lastIndex = -2;
    ff::VFramePtr m_last; // the frame given for m_lastIndex
    int m_lastDown = 1;
    // A decoded frame kept for a later request.
    struct Kept {
        int64_t index;
        int down; // decoded at 1 / down of its size
        ff::VFramePtr frame;
    };
    std::vector<Kept> m_behind; // for stepping back, in order

    std::thread m_worker; // started on the first read-ahead
    std::mutex m_lock;    // guards the fields below
    std::condition_variable m_changed;
    std::deque<Kept> m_ahead; // decoded ahead, in order, all after m_lastIndex
    bool m_reading = false;    // the worker decodes ahead, from m_job on
    bool m_busy = false;       // the worker decodes m_job (and holds m_decoder)
    bool m_quit = false;
    int64_t m_job = -1;
    int m_jobDown = 1;          // the fraction (1 / n) the frames ahead are decoded at
    uint64_t m_generation = 0;  // a frame under way when it changes is dropped
    std::atomic<int> m_decodedAhead {0};
    std::atomic<int> m_decodedInPlace {0};
};

class VideoTaskManager : public QObject {
    Q_OBJECT
public:
    explicit VideoTaskManager(QObject* parent = nullptr) : QObject(parent) {}
    ~VideoTaskManager() override { clear(); }

    // Three entries, in the order self, from, to. Files the request no longer
    // names have their decoders closed; files it names again keep theirs.
    QList<VFrameInfo> decode(const FrameRequest& request);

    // A preview's decoders (not an export's) decode a picture no larger
    // than the screen shows it, where pictures are converted to RGB on the
    // CPU: at a half, a quarter or an eighth of its size, its crop scaled
    // alike. The conversion costs by the pixel, and the screen would only
    // scale the rest away.
    void setFollowsScreen(bool follows) { m_followsScreen = follows; }
    // Every decoder hands over YUV planes where it can (see
    // VideoDecoderTask::setDecodesPlanes), from the next request on.
    void setDecodesPlanes(bool planes) { m_decodesPlanes = planes; }
    // Screen pixels a scene pixel takes in a preview view (each view sets
    // its own as it draws, 0 while something reads the whole scene back,
    // such as a capture); the largest counts, 0 (never smaller) above all.
    // A view that goes forgets its own.
    static void setScreenScale(const void* view, float pixelsPerScenePixel);
    static void forgetScreen(const void* view);
    static float screenScale();
    // Closes every decoder.
    void clear();

    int openTasks() const { return int(m_inUse.size() + m_previous.size()); }

private:
    VFrameInfo decodeLayer(const LayerRequest& layer);
    int shrinkFor(const LayerRequest& layer, const VideoDecoderTask& task) const;

    bool m_followsScreen = false;
    bool m_decodesPlanes = false;
    QList<VideoDecoderTask*> m_inUse;    // used by the request being served
    QList<VideoDecoderTask*> m_previous; // used by the request before
};
