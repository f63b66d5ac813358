// Decoders of a video preview item, kept open from one request to the next.
// A manager and its tasks belong to one thread (the item's worker, or the
// export thread); they hold no locks.
#pragma once

#include "media/media.h"
#include "render/preview-requests.h"

#include <QList>
#include <QObject>
#include <QString>

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

    const QString& path() const { return m_path; }
    // The picture at frame `index` (30 per second; negative means 0); empty
    // when the file could not be opened or the frame not decoded.
    ff::VFramePtr frame(int64_t index);
    // The file's pictures are decoded at 1 / scaleDown() of their size.
    int scaleDown() const { return m_scaleDown; }

private:
    QString m_path;
    ff::FFDecoder m_decoder;
    int m_scaleDown = 1;
};

class VideoTaskManager : public QObject {
    Q_OBJECT
public:
    explicit VideoTaskManager(QObject* parent = nullptr) : QObject(parent) {}
    ~VideoTaskManager() override { clear(); }

    // Three entries, in the order self, from, to. Files the request no longer
    // names have their decoders closed; files it names again keep theirs.
    QList<VFrameInfo> decode(const FrameRequest& request);
    // Closes every decoder.
    void clear();

    int openTasks() const { return int(m_inUse.size() + m_previous.size()); }

private:
    VFrameInfo decodeLayer(const LayerRequest& layer);

    QList<VideoDecoderTask*> m_inUse;    // used by the request being served
    QList<VideoDecoderTask*> m_previous; // used by the request before
};
