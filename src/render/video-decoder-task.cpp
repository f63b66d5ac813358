#include "video-decoder-task.h"

#include "value/interface.h"

#include <algorithm>

VideoDecoderTask::VideoDecoderTask(const QString& path) : m_path(path) {
    LOGD("vedio DecoderTask");
    QByteArray utf8 = path.toUtf8();
    std::shared_ptr<ff::MovieCtx> info = ff::getMovieInfo(utf8.constData(), nullptr);
    if (info && info->bestVideoStream >= 0) {
        if (const ff::StreamInfo* stream = info->stream(info->bestVideoStream)) {
            while (int64_t(stream->width / m_scaleDown) * (stream->height / m_scaleDown) > kMaxDecodedPixels)
                m_scaleDown *= 2;
        }
        if (m_scaleDown > 1)
            LOGD("%s is decoded at 1/%d of its size", utf8.constData(), m_scaleDown);
        m_decoder.open(utf8.constData(), info->bestVideoStream);
    }
}

VideoDecoderTask::~VideoDecoderTask() {
    m_decoder.close();
    LOGD("~Vedio DecoderTask");
}

ff::VFramePtr VideoDecoderTask::frame(int64_t index) {
    if (!m_decoder.isOpened())
        return nullptr;
    ff::RequireVideoFrame request;
    request.time = {std::max<int64_t>(index, 0), 30};
    request.scaleNum = 1;
    request.scaleDen = m_scaleDown;
    request.reserved = 0;
    return m_decoder.getVideoFrame(request);
}

namespace {

VFrameInfo infoFromLayer(const LayerRequest& layer) {
    VFrameInfo info;
    info.clipRect = layer.clipRect;
    info.uuid = layer.uuid;
    info.transparent = layer.transparent;
    info.colour = layer.colour;
    info.stretch = layer.stretch;
    info.centerX = layer.centerX;
    info.centerY = layer.centerY;
    info.width = layer.width;
    info.height = layer.height;
    info.rotation = layer.rotation;
    return info;
}

} // namespace

VFrameInfo VideoTaskManager::decodeLayer(const LayerRequest& layer) {
    if (layer.path.isEmpty())
        return VFrameInfo();
    VideoDecoderTask* task = nullptr;
    for (int i = 0; i < m_previous.size(); ++i) {
        if (m_previous[i]->path() == layer.path) {
            task = m_previous.takeAt(i);
            break;
        }
    }
    if (!task)
        task = new VideoDecoderTask(layer.path);
    m_inUse.append(task);
    VFrameInfo info = infoFromLayer(layer);
    info.frame = task->frame(layer.frame);
    // The crop is in the file's pixels; a picture decoded smaller takes it scaled.
    if (const int down = task->scaleDown(); down > 1) {
        const QRect& crop = layer.clipRect;
        const int left = crop.x() / down, top = crop.y() / down;
        info.clipRect = QRect(left, top, (crop.x() + crop.width() + down - 1) / down - left,
                              (crop.y() + crop.height() + down - 1) / down - top);
    }
    return info;
}

QList<VFrameInfo> VideoTaskManager::decode(const FrameRequest& request) {
    m_previous.append(m_inUse);
    m_inUse.clear();
    QList<VFrameInfo> out;
    const std::pair<int, const LayerRequest*> layers[] = {
        {DecodeSelf, &request.self}, {DecodeFrom, &request.from}, {DecodeTo, &request.to}};
    for (const auto& [bit, layer] : layers)
        out.append((request.decodeMask & bit) ? decodeLayer(*layer) : VFrameInfo());
    qDeleteAll(m_previous);
    m_previous.clear();
    return out;
}

void VideoTaskManager::clear() {
    qDeleteAll(m_inUse);
    qDeleteAll(m_previous);
    m_inUse.clear();
    m_previous.clear();
}
