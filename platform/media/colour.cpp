#include "colour.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ff::av {

namespace {

constexpr int kEncodeSteps = 8192;

bool isJpegLike(AVCodecID codec, int format) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return true;
    default:
        break;
    }
    return codec == AV_CODEC_ID_MJPEG || codec == AV_CODEC_ID_JPEGLS || codec == AV_CODEC_ID_WEBP;
}

// The BT.709 (and BT.2020 10/12-bit) transfer curve and its inverse.
double bt709ToLinear(double v) { return v < 0.081 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1.0 / 0.45); }
double bt709FromLinear(double l) { return l < 0.018 ? l * 4.5 : 1.099 * std::pow(l, 0.45) - 0.099; }

// Untagged video larger than standard definition is taken as BT.709, as players take it.
bool looksHighDefinition(int width, int height) { return width >= 1280 || height > 576; }

} // namespace

FrameColour frameColour(const AVFrame* frame, AVCodecID codec) {
    FrameColour c;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    c.yuv = desc && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && desc->nb_components >= 3;
    const bool jpeg = isJpegLike(codec, frame->format);
    switch (frame->colorspace) {
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_FCC:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_SMPTE240M:
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        c.matrix = frame->colorspace == AVCOL_SPC_BT2020_CL ? AVCOL_SPC_BT2020_NCL : frame->colorspace;
        break;
    default:
        // Untagged: JPEG means BT.601; video is guessed by its size, as players do.
        c.matrix = !jpeg && looksHighDefinition(frame->width, frame->height) ? AVCOL_SPC_BT709 : AVCOL_SPC_BT470BG;
        break;
    }
    if (frame->color_range == AVCOL_RANGE_JPEG)
        c.fullRange = true;
    else if (frame->color_range == AVCOL_RANGE_MPEG)
        c.fullRange = false;
    else
        c.fullRange = jpeg;
    c.wideGamut = frame->color_primaries == AVCOL_PRI_BT2020 ||
                  (frame->color_primaries == AVCOL_PRI_UNSPECIFIED && c.matrix == AVCOL_SPC_BT2020_NCL);
    return c;
}

void setYuvToRgb(SwsContext* sws, const FrameColour& colour) {
    if (!sws || !colour.yuv)
        return;
    int* invTable = nullptr;
    int* table = nullptr;
    int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(sws, &invTable, &srcRange, &table, &dstRange, &brightness, &contrast,
                                 &saturation) < 0)
        return;
    const int* coefficients = sws_getCoefficients(colour.matrix);
    sws_setColorspaceDetails(sws, coefficients, colour.fullRange ? 1 : 0, table, 1, brightness, contrast,
                             saturation);
}

bool RgbaConverter::convert(const uint8_t* const source[4], const int sourceStride[4], AVPixelFormat format,
                            int sourceWidth, int sourceHeight, const FrameColour& colour, uint8_t* rgba, int stride,
                            int width, int height) {
    constexpr int kExact = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const bool alpha = desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA);
    const bool planar = colour.yuv;
    const AVPixelFormat target = !planar ? AV_PIX_FMT_RGBA : alpha ? AV_PIX_FMT_GBRAP : AV_PIX_FMT_GBRP;
    const Made wanted {int(format), sourceWidth, sourceHeight, int(target), width, height, colour};
    if (!m_convert || !(wanted == m_made)) {
        m_made = Made();
        m_convert.reset(sws_getCachedContext(m_convert.release(), sourceWidth, sourceHeight, format, width, height,
                                             target, kExact, nullptr, nullptr, nullptr));
        if (!m_convert)
            return false;
        setYuvToRgb(m_convert.get(), colour);
        m_made = wanted;
    }
    if (!planar) {
        uint8_t* planes[4] = {rgba, nullptr, nullptr, nullptr};
        const int strides[4] = {stride, 0, 0, 0};
        sws_scale(m_convert.get(), source, sourceStride, 0, sourceHeight, planes, strides);
        return true;
    }
    m_pack.reset(sws_getCachedContext(m_pack.release(), width, height, target, width, height, AV_PIX_FMT_RGBA,
                                      kExact, nullptr, nullptr, nullptr));
    if (!m_pack)
        return false;
    const int planeStride = FFALIGN(width, 64);
    const size_t planeBytes = size_t(planeStride) * size_t(height);
    const int planeCount = alpha ? 4 : 3;
    if (m_planar.size() < planeBytes * size_t(planeCount))
        m_planar.resize(planeBytes * size_t(planeCount));
    // GBRP's planes are G, B, R (and A), in that order.
    uint8_t* planes[4] = {m_planar.data(), m_planar.data() + planeBytes, m_planar.data() + 2 * planeBytes,
                          alpha ? m_planar.data() + 3 * planeBytes : nullptr};
    const int strides[4] = {planeStride, planeStride, planeStride, alpha ? planeStride : 0};
    sws_scale(m_convert.get(), source, sourceStride, 0, sourceHeight, planes, strides);
    uint8_t* packed[4] = {rgba, nullptr, nullptr, nullptr};
    const int packedStride[4] = {stride, 0, 0, 0};
    sws_scale(m_pack.get(), planes, strides, 0, height, packed, packedStride);
    return true;
}

void GamutMapper::build() {
    m_toLinear.resize(256);
    for (int i = 0; i < 256; ++i)
        m_toLinear[size_t(i)] = float(bt709ToLinear(i / 255.0));
    m_fromLinear.resize(kEncodeSteps + 1);
    for (int i = 0; i <= kEncodeSteps; ++i)
        m_fromLinear[size_t(i)] =
            uint8_t(std::clamp(std::lround(bt709FromLinear(double(i) / kEncodeSteps) * 255.0), 0L, 255L));
}

void GamutMapper::bt2020ToBt709(uint8_t* rgba, int width, int height, int stride) {
    if (m_toLinear.empty())
        build();
    // Linear-light BT.2020 RGB to BT.709 RGB (ITU-R BT.2087).
    static const float m[3][3] = {{1.6605f, -0.5876f, -0.0728f},
                                  {-0.1246f, 1.1329f, -0.0083f},
                                  {-0.0182f, -0.1006f, 1.1187f}};
    auto encode = [this](float linear) {
        const float clipped = std::clamp(linear, 0.0f, 1.0f);
        return m_fromLinear[size_t(std::lround(clipped * kEncodeSteps))];
    };
    for (int y = 0; y < height; ++y) {
        uint8_t* p = rgba + size_t(y) * size_t(stride);
        for (int x = 0; x < width; ++x, p += 4) {
            const float r = m_toLinear[p[0]], g = m_toLinear[p[1]], b = m_toLinear[p[2]];
            p[0] = encode(m[0][0] * r + m[0][1] * g + m[0][2] * b);
            p[1] = encode(m[1][0] * r + m[1][1] * g + m[1][2] * b);
            p[2] = encode(m[2][0] * r + m[2][1] * g + m[2][2] * b);
        }
    }
}

} // namespace ff::av
