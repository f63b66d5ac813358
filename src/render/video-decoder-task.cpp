#include "video-decoder-task.h"

#include "graphics/graphics.h"
#include "render/fit-size.h"
#include "value/interface.h"

#include <algorithm>

bool fillFrameTexture(std::unique_ptr<GsTexture>& slot, const ff::VFramePtr& frame, const QRect& part) {
    if (!frame || part.isEmpty())
        return false;
    if (frame->planes == 0)
        return GsTexture::Fill(slot, framePart(*frame, part), frame->stride, part.width(), part.height());
    GsPlanes planes;
    for (int i = 0; i < frame->planes; ++i) {
        planes.data[i] = frame->plane(i);
        planes.stride[i] = frame->planeStride[i];
    }
    planes.count = frame->planes;
    planes.width = frame->width;
    planes.height = frame->height;
    planes.chromaShiftX = frame->chromaShiftX;
    planes.chromaShiftY = frame->chromaShiftY;
    planes.bits = frame->bits;
    planes.kr = frame->kr;
    planes.kb = frame->kb;
    planes.fullRange = frame->fullRange;
    GsPlaneConverter* converter = GsPlaneConverter::ForDevice();
    if (converter && converter->Convert(planes, part.x(), part.y(), part.width(), part.height(), slot))
        return true;
    // No program for it: converted here instead.
    const ff::VFramePtr rgba = ff::rgbaFrame(frame);
    return rgba && GsTexture::Fill(slot, framePart(*rgba, part), rgba->stride, part.width(), part.height());
}

VideoDecoderTask::VideoDecoderTask(const QString& path) : m_path(path) {
    LOGD("vedio DecoderTask");
    const GsDevice* device = GsDevice::DefaultDevice();
    m_planes = device && !device->ConvertsColourOnCpu();
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
    if (m_worker.joinable()) {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_quit = true;
        }
        m_changed.notify_all();
        m_worker.join();
    }
    m_decoder.close();
    LOGD("~Vedio DecoderTask");
}

ff::VFramePtr VideoDecoderTask::frame(int64_t index) {
    if (!m_decoder.isOpened())
        return nullptr;
    index = std::max<int64_t>(index, 0);
    ff::VFramePtr out;
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_changed.wait(hold, [this] { return !m_busy; });
        if (m_aheadIndex == index)
            out = m_ahead;
        m_ahead.reset();
        m_aheadIndex = -1;
    }
    if (!out)
        out = decodeNow(index);
    const bool inOrder = index == m_lastIndex + 1;
    m_lastIndex = index;
    if (inOrder && out) {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_job = index + 1;
            m_busy = true;
        }
        if (!m_worker.joinable())
            m_worker = std::thread([this] { work(); });
        m_changed.notify_all();
    }
    return out;
}

void VideoDecoderTask::work() {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_changed.wait(hold, [this] { return m_busy || m_quit; });
        if (m_quit)
            return;
        const int64_t job = m_job;
        hold.unlock();
        ff::VFramePtr decoded = decodeNow(job);
        hold.lock();
        m_ahead = std::move(decoded);
        m_aheadIndex = m_ahead ? job : -1;
        m_busy = false;
        m_changed.notify_all();
    }
}

ff::VFramePtr VideoDecoderTask::decodeNow(int64_t index) {
    ff::RequireVideoFrame request;
    request.time = {index, 30};
    request.scaleNum = 1;
    request.scaleDen = m_scaleDown;
    // Planes at the file's own size go to the GPU as they are; where the
    // CPU converts faster, the decoder converts them on this thread.
    request.planes = m_planes ? 1 : 0;
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
