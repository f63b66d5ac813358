#include "media.h"

#include "av-util.h"
#include "value/interface.h"

#include <algorithm>
#include <cmath>

namespace ff {

VFramePtr getMovieImage(const char* path, const ImageRequest& request, std::atomic<bool>* cancel) {
    if (request.width <= 0 || request.height <= 0 || request.width > 16384 || request.height > 16384) {
        LOGE("thumbnail of %s: impossible size %dx%d", path ? path : "", request.width, request.height);
        return nullptr;
    }
    std::shared_ptr<MovieCtx> info = getMovieInfo(path, cancel);
    if (!info || info->bestVideoStream < 0)
        return nullptr;
    FFDecoder decoder;
    if (!decoder.open(path, info->bestVideoStream) || (cancel && cancel->load()))
        return nullptr;
    double position = std::isfinite(request.position) ? std::clamp(request.position, 0.0, 1.0) : 0.0;
    RequireVideoFrame frameRequest;
    frameRequest.time = {int64_t(double(info->durationUs) * position), 1000000};
    VFramePtr frame = decoder.getVideoFrame(frameRequest);
    if (!frame || (cancel && cancel->load()))
        return nullptr;

    int w = request.width, h = request.height;
    if (request.keepAspect) {
        double scale = std::min(double(w) / frame->width, double(h) / frame->height);
        w = std::max(1, int(std::lround(frame->width * scale)));
        h = std::max(1, int(std::lround(frame->height * scale)));
    }
    av::SwsPtr sws(sws_getContext(frame->width, frame->height, AV_PIX_FMT_RGBA, w, h, AV_PIX_FMT_RGBA, SWS_AREA,
                                  nullptr, nullptr, nullptr));
    if (!sws) {
        LOGE("thumbnail of %s: cannot scale", path);
        return nullptr;
    }
    auto out = std::make_shared<VFrameCtx>();
    out->width = w;
    out->height = h;
    out->stride = FFALIGN(w * 4, 64);
    out->ptsUs = frame->ptsUs;
    out->opaque = frame->opaque;
    out->pixels.resize(size_t(out->stride) * h);
    const uint8_t* src[4] = {frame->data(), nullptr, nullptr, nullptr};
    int srcStride[4] = {frame->stride, 0, 0, 0};
    uint8_t* dst[4] = {out->pixels.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {out->stride, 0, 0, 0};
    sws_scale(sws.get(), src, srcStride, 0, frame->height, dst, dstStride);
    return out;
}

} // namespace ff
