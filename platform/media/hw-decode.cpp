#include "hw-decode.h"

#include "av-util.h"
#include "media.h"

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
}

#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ff::hw {

namespace {

std::atomic<DeviceOpener> g_opener {nullptr};

AVBufferRef* openVaapi(std::string* why) {
    const std::string path = devicePath();
    if (path.empty()) {
        *why = "the machine has no render device (/dev/dri/renderD*)";
        return nullptr;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        *why = path + " does not exist";
        return nullptr;
    }
    AVBufferRef* device = nullptr;
    const int r = av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, path.c_str(), nullptr, 0);
    if (r < 0) {
        *why = "VA-API does not open " + path + ": " + av::errorText(r);
        return nullptr;
    }
    return device;
}

} // namespace

std::string devicePath() {
    if (const char* chosen = std::getenv("KORVEL_VAAPI_DEVICE"); chosen && *chosen)
        return chosen;
    std::vector<std::string> nodes;
    if (DIR* dir = ::opendir("/dev/dri")) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind("renderD", 0) == 0)
                nodes.push_back("/dev/dri/" + name);
        }
        ::closedir(dir);
    }
    // renderD128 is the first GPU; a second one (renderD129...) is rarely the display's.
    std::sort(nodes.begin(), nodes.end());
    return nodes.empty() ? std::string() : nodes.front();
}

bool codecSupportsVaapi(const AVCodec* codec) {
    for (int i = 0; codec; ++i) {
        const AVCodecHWConfig* config = avcodec_get_hw_config(codec, i);
        if (!config)
            return false;
        if (config->device_type == AV_HWDEVICE_TYPE_VAAPI && (config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX))
            return true;
    }
    return false;
}

AVBufferRef* openDevice(std::string* why) {
    std::string ignored;
    if (!why)
        why = &ignored;
    DeviceOpener opener = g_opener.load();
    return opener ? opener(why) : openVaapi(why);
}

void setDeviceOpener(DeviceOpener opener) { g_opener = opener; }

AVPixelFormat chooseFormat(AVCodecContext*, const AVPixelFormat* offered) {
    AVPixelFormat software = AV_PIX_FMT_NONE;
    for (const AVPixelFormat* f = offered; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == AV_PIX_FMT_VAAPI)
            return *f;
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(*f);
        if (software == AV_PIX_FMT_NONE && desc && !(desc->flags & AV_PIX_FMT_FLAG_HWACCEL))
            software = *f;
    }
    return software;
}

bool isHardwareFrame(const AVFrame* frame) { return frame && frame->format == AV_PIX_FMT_VAAPI; }

Transfer::~Transfer() { av_buffer_pool_uninit(&m_pool); }

int Transfer::toMemory(const AVFrame* surface, AVFrame* out) {
    av_frame_unref(out);
    if (!surface->hw_frames_ctx)
        return AVERROR(EINVAL);
    const auto* frames = reinterpret_cast<const AVHWFramesContext*>(surface->hw_frames_ctx->data);
    const int format = frames->sw_format;
    if (format != m_format || surface->width != m_width || surface->height != m_height || !m_pool) {
        const int size = av_image_get_buffer_size(AVPixelFormat(format), surface->width, surface->height, 64);
        if (size < 0)
            return size;
        // Frames still held by a caller keep the old pool alive until they go.
        av_buffer_pool_uninit(&m_pool);
        m_pool = av_buffer_pool_init(size_t(size), nullptr);
        if (!m_pool)
            return AVERROR(ENOMEM);
        m_format = format;
        m_width = surface->width;
        m_height = surface->height;
    }
    out->buf[0] = av_buffer_pool_get(m_pool);
    if (!out->buf[0])
        return AVERROR(ENOMEM);
    int r = av_image_fill_arrays(out->data, out->linesize, out->buf[0]->data, AVPixelFormat(format), m_width,
                                 m_height, 64);
    if (r < 0) {
        av_frame_unref(out);
        return r;
    }
    out->format = format;
    out->width = m_width;
    out->height = m_height;
    r = av_hwframe_transfer_data(out, surface, 0);
    if (r < 0) {
        av_frame_unref(out);
        return r;
    }
    // The properties the decoder reads; side data stays behind (copying it allocates).
    out->pts = surface->pts;
    out->best_effort_timestamp = surface->best_effort_timestamp;
    out->pkt_dts = surface->pkt_dts;
    out->pkt_duration = surface->pkt_duration;
    out->key_frame = surface->key_frame;
    out->pict_type = surface->pict_type;
    out->sample_aspect_ratio = surface->sample_aspect_ratio;
    out->color_range = surface->color_range;
    out->color_primaries = surface->color_primaries;
    out->color_trc = surface->color_trc;
    out->colorspace = surface->colorspace;
    out->chroma_location = surface->chroma_location;
    return 0;
}

} // namespace ff::hw

namespace ff {

namespace {
std::atomic<HardwareDecoding> g_hardwareDecoding {HardwareDecoding::Auto};
}

void setHardwareDecoding(HardwareDecoding mode) { g_hardwareDecoding = mode; }

HardwareDecoding hardwareDecoding() { return g_hardwareDecoding.load(); }

} // namespace ff
