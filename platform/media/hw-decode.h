// Hardware video decoding through FFmpeg's VA-API hwaccel, as the decoder
// uses it: which device to open, the pixel format a codec is asked for, and
// moving a decoded GPU surface into memory.
//
// Nothing here is shared between decoders: each opens its own device, so a
// decoder stays the property of the one thread that uses it.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

#include <string>

namespace ff::hw {

// The render node to open: $KORVEL_VAAPI_DEVICE when set, else the first
// /dev/dri/renderD* there is; empty when the machine has none.
std::string devicePath();

// Whether the codec can decode through VA-API at all.
bool codecSupportsVaapi(const AVCodec* codec);

// Opens a device for one decoder; null, with the reason in *why, when none
// opens. The caller owns the reference (av_buffer_unref).
AVBufferRef* openDevice(std::string* why);

// Replaces how openDevice opens a device (null: the real VA-API device).
// Tests use it to pose a device on a machine that has none.
using DeviceOpener = AVBufferRef* (*)(std::string* why);
void setDeviceOpener(DeviceOpener opener);

// The codec's get_format callback: VA-API surfaces when offered, else the
// first software format (FFmpeg asks again without VA-API when its
// hardware set-up fails).
AVPixelFormat chooseFormat(AVCodecContext* codec, const AVPixelFormat* offered);

// Whether the frame is a VA-API surface.
bool isHardwareFrame(const AVFrame* frame);

// Copies GPU surfaces into memory frames whose buffers come from a pool, so
// that a warm decoder allocates nothing per frame.
class Transfer {
public:
    Transfer() = default;
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Fills `out` (unreferenced first) with the surface's picture and its
    // properties. A negative AVERROR on failure.
    int toMemory(const AVFrame* surface, AVFrame* out);

private:
    AVBufferPool* m_pool = nullptr;
    int m_format = -1, m_width = 0, m_height = 0;
    int m_size = 0;
};

} // namespace ff::hw
