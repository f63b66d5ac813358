#include "video-decoder-task.h"

#include "graphics/graphics.h"
#include "render/fit-size.h"
#include "value/interface.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

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
            m_sourceSize = QSize(stream->width, stream->height);
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

namespace {
// How many pictures at 1 / down of `size` fit in `budget` bytes, within 1..most.
int framesWithin(QSize size, int down, int64_t budget, int most) {
    const int64_t bytes = int64_t(size.width() / down + 1) * (size.height() / down + 1) * 4;
    return int(std::clamp<int64_t>(budget / std::max<int64_t>(bytes, 1), 1, most));
}
} // namespace

int VideoDecoderTask::aheadLimit(int down) const {
    return framesWithin(m_sourceSize, down, kAheadBytes, kAheadFrames);
}

int VideoDecoderTask::behindLimit(int down) const {
    return framesWithin(m_sourceSize, down, kBehindBytes, kBehindFrames);
}

void VideoDecoderTask::stopReadingAhead(std::unique_lock<std::mutex>& hold) {
    m_reading = false;
    ++m_generation;
    m_ahead.clear();
    m_changed.wait(hold, [this] { return !m_busy; });
}

ff::VFramePtr VideoDecoderTask::frame(int64_t index, int shrink, int* decodedAt) {
    if (!m_decoder.isOpened())
        return nullptr;
    index = std::max<int64_t>(index, 0);
    const int down = std::max(m_scaleDown, shrink);
    // The same frame again (a redraw, an edit): the same picture.
    if (index == m_lastIndex && m_last && m_lastDown <= down) {
        if (decodedAt)
            *decodedAt = m_lastDown;
        return m_last;
    }
    // A frame kept from a step back.
    for (const Kept& kept : m_behind) {
        if (kept.index == index && kept.down <= down) {
            m_lastIndex = index;
            m_last = kept.frame;
            m_lastDown = kept.down;
            if (decodedAt)
                *decodedAt = kept.down;
            return kept.frame;
        }
    }
    ff::VFramePtr out;
    int outDown = down;
    const bool forward = m_lastIndex >= 0 && index > m_lastIndex && index - m_lastIndex <= kAheadFrames;
    {
        std::unique_lock<std::mutex> hold(m_lock);
        // A picture decoded ahead smaller than now asked for is not used.
        if (m_reading && forward && m_jobDown <= down) {
            // The frame is there, or the worker reaches it with the frames
            // it is allowed ahead: the same decoding as reading on here.
            if (index < m_job + kAheadFrames) {
                for (;;) {
                    while (!m_ahead.empty() && m_ahead.front().index < index)
                        m_ahead.pop_front();
                    if (!m_ahead.empty() || !m_reading)
                        break;
                    m_changed.notify_all(); // room for the worker
                    m_changed.wait(hold);
                }
            }
            if (!m_ahead.empty() && m_ahead.front().index == index) {
                out = m_ahead.front().frame;
                outDown = m_ahead.front().down;
                m_ahead.pop_front();
                m_changed.notify_all();
            }
        }
        if (!out)
            stopReadingAhead(hold);
    }
    if (!out) {
        // The worker is idle and reads nothing: the decoder is the caller's.
        const bool stepBack = m_lastIndex >= 0 && index < m_lastIndex && m_lastIndex - index <= 2;
        m_behind.clear(); // kept pictures go back to the decoder's pool
        if (stepBack) {
            // The frames on the way from the target's key frame (not from
            // one before it), for the next steps back.
            int64_t first = std::max<int64_t>(0, index - behindLimit(down) + 1);
            const int64_t keyUs = m_decoder.keyFrameShownByUs(index * 1000000 / 30);
            if (keyUs >= 0)
                first = std::max(first, (keyUs * 30 + 999999) / 1000000);
            for (int64_t i = first; i < index; ++i) {
                ++m_decodedInPlace;
                if (ff::VFramePtr passed = decodeNow(i, down))
                    m_behind.push_back({i, down, std::move(passed)});
            }
        }
        ++m_decodedInPlace;
        out = decodeNow(index, down);
        if (stepBack && out)
            m_behind.push_back({index, down, out});
        if (forward && out) {
            {
                std::lock_guard<std::mutex> hold(m_lock);
                m_reading = true;
                m_job = index + 1;
                m_jobDown = down;
            }
            if (!m_worker.joinable())
                m_worker = std::thread([this] { work(); });
            m_changed.notify_all();
        }
    }
    m_lastIndex = index;
    m_last = out;
    m_lastDown = outDown;
    if (decodedAt)
        *decodedAt = outDown;
    return out;
}

void VideoDecoderTask::work() {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_changed.wait(hold, [this] {
            return m_quit || (m_reading && int(m_ahead.size()) < aheadLimit(m_jobDown));
        });
        if (m_quit)
            return;
        const int64_t job = m_job;
        const int down = m_jobDown;
        const uint64_t generation = m_generation;
        m_busy = true;
        hold.unlock();
        ++m_decodedAhead;
        ff::VFramePtr decoded = decodeNow(job, down);
        hold.lock();
        m_busy = false;
        if (generation == m_generation) {
            if (decoded) {
                m_ahead.push_back({job, down, std::move(decoded)});
                ++m_job;
            } else {
                m_reading = false; // a fault: the caller decodes in place
            }
        }
        m_changed.notify_all();
    }
}

ff::VFramePtr VideoDecoderTask::decodeNow(int64_t index, int down) {
    ff::RequireVideoFrame request;
    request.time = {index, 30};
    request.scaleNum = 1;
    request.scaleDen = down;
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

namespace {
std::atomic<float> g_screenScale {0.0f}; // what screenScale() answers
std::mutex g_screensLock;                // guards g_screens
std::vector<std::pair<const void*, float>> g_screens;

void recomputeScreenScale() {
    float largest = 0.0f;
    for (const auto& [view, scale] : g_screens) {
        if (scale <= 0) {
            largest = 0.0f;
            break;
        }
        largest = std::max(largest, scale);
    }
    g_screenScale = largest;
}
} // namespace

void VideoTaskManager::setScreenScale(const void* view, float pixelsPerScenePixel) {
    const float scale = std::isfinite(pixelsPerScenePixel) && pixelsPerScenePixel > 0 ? pixelsPerScenePixel : 0.0f;
    std::lock_guard<std::mutex> lock(g_screensLock);
    auto it = std::find_if(g_screens.begin(), g_screens.end(), [view](const auto& s) { return s.first == view; });
    if (it == g_screens.end())
        g_screens.emplace_back(view, scale);
    else
        it->second = scale;
    recomputeScreenScale();
}

void VideoTaskManager::forgetScreen(const void* view) {
    std::lock_guard<std::mutex> lock(g_screensLock);
    g_screens.erase(std::remove_if(g_screens.begin(), g_screens.end(), [view](const auto& s) { return s.first == view; }),
                    g_screens.end());
    recomputeScreenScale();
}

float VideoTaskManager::screenScale() { return g_screenScale.load(); }

int VideoTaskManager::shrinkFor(const LayerRequest& layer, const VideoDecoderTask& task) const {
    const float screen = screenScale();
    // A capture or an export reads the whole scene back: full size.
    if (!m_followsScreen || task.decodesPlanes() || screen <= 0 || AnyOutputRegistered())
        return 1;
    const QSize source = layer.clipRect.isEmpty() ? task.sourceSize() : layer.clipRect.size();
    const double needW = double(layer.width) * screen, needH = double(layer.height) * screen;
    if (source.isEmpty() || !(needW > 0) || !(needH > 0))
        return 1;
    // The file's own rotation is applied to its size and pictures alike,
    // and the clip's turns the box and the picture together: width goes
    // with width.
    int shrink = 1;
    while (shrink < 8 && source.width() / (shrink * 2.0) >= needW && source.height() / (shrink * 2.0) >= needH)
        shrink *= 2;
    return shrink;
}

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
    if (!task) {
        task = new VideoDecoderTask(layer.path);
        // Before its worker starts: the worker reads it.
        if (m_decodesPlanes)
            task->setDecodesPlanes(true);
    }
    m_inUse.append(task);
    VFrameInfo info = infoFromLayer(layer);
    int down = 1;
    info.frame = task->frame(layer.frame, shrinkFor(layer, *task), &down);
    // The crop is in the file's pixels; a picture decoded smaller takes it scaled.
    const QSize file = task->sourceSize();
    if (info.frame && std::max(file.width(), file.height()) / down > GsTexture::kMaxSide) {
        // Longer than a texture: the decoder scaled it to fit.
        const QRect& crop = layer.clipRect;
        const double sx = double(info.frame->width) / file.width(), sy = double(info.frame->height) / file.height();
        const int left = int(crop.x() * sx), top = int(crop.y() * sy);
        info.clipRect = QRect(left, top, int(std::ceil((crop.x() + crop.width()) * sx)) - left,
                              int(std::ceil((crop.y() + crop.height()) * sy)) - top);
    } else if (down > 1) {
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
