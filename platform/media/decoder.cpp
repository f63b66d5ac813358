#include "media.h"

#include "av-util.h"
#include "colour.h"
#include "hw-decode.h"
#include "value/interface.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <map>
#include <tuple>
#include <cstring>

namespace ff {

namespace {

constexpr int64_t kMicro = 1000000;
// A request this far past the decoded position seeks instead of decoding through.
constexpr int64_t kSeekAheadUs = 2 * kMicro;
// Longest audio range one request may ask for; a hostile range must not exhaust memory.
constexpr int64_t kMaxAudioSeconds = 600;
// Seeks that land after the target are retried this many times, further back.
constexpr int kSeekRetries = 4;
constexpr int64_t kPtsToleranceUs = 1000;

// The pictures handed out lately; one that no caller holds any more is
// filled again, so that a warm user allocates no picture memory.
class FramePool {
public:
    explicit FramePool(size_t size) : m_size(size) {}
    // A picture to fill: a pooled one no one holds (other than `keep`),
    // else a new one.
    std::shared_ptr<VFrameCtx> take(const std::shared_ptr<VFrameCtx>& keep = nullptr) {
        for (std::shared_ptr<VFrameCtx>& frame : m_frames) {
            if (frame.use_count() == 1 && frame != keep) {
                // The decoder's picture it shared goes back to the decoder.
                if (frame->source.use_count() == 1)
                    av_frame_unref(static_cast<AVFrame*>(frame->source.get()));
                else
                    frame->source.reset(); // a copy of the frame still shows it
                std::fill(std::begin(frame->planeAt), std::end(frame->planeAt), nullptr);
                return frame;
            }
        }
        auto frame = std::make_shared<VFrameCtx>();
        if (m_frames.size() < m_size)
            m_frames.push_back(frame);
        return frame;
    }

private:
    size_t m_size;
    std::vector<std::shared_ptr<VFrameCtx>> m_frames;
};
constexpr int64_t kAudioPrerollUs = 100000;

AVSampleFormat toAvFormat(SampleFormat f) {
    switch (f) {
    case SF_U8:
        return AV_SAMPLE_FMT_U8;
    case SF_S16:
        return AV_SAMPLE_FMT_S16;
    case SF_S32:
        return AV_SAMPLE_FMT_S32;
    case SF_FLT:
        return AV_SAMPLE_FMT_FLT;
    default:
        return AV_SAMPLE_FMT_NONE;
    }
}

// Turns an RGBA picture as `upright` says: mirrored left to right first
// when asked, then by 0, 90, 180 or 270 degrees clockwise.
void turnRgba(const uint8_t* src, int w, int h, int srcStride, av::Upright upright, uint8_t* dst, int dstStride) {
    for (int y = 0; y < h; ++y) {
        const uint32_t* in = reinterpret_cast<const uint32_t*>(src + size_t(y) * srcStride);
        for (int sx = 0; sx < w; ++sx) {
            const int x = upright.mirrored ? w - 1 - sx : sx;
            int dx, dy;
            if (upright.degrees == 0) {
                dx = x;
                dy = y;
            } else if (upright.degrees == 90) {
                dx = h - 1 - y;
                dy = x;
            } else if (upright.degrees == 180) {
                dx = w - 1 - x;
                dy = h - 1 - y;
            } else {
                dx = y;
                dy = w - 1 - x;
            }
            std::memcpy(dst + size_t(dy) * dstStride + size_t(dx) * 4, &in[sx], 4);
        }
    }
}

} // namespace

class DecoderImpl {
public:
    ~DecoderImpl() { av_channel_layout_uninit(&m_inLayout); }
    bool open(const char* path, int streamIndex, DecodeUse use);
    bool usesHardware() const { return m_hwDevice != nullptr; }
    int64_t packetsRead() const { return m_packetsRead; }
    bool isVideo() const { return m_stream && m_stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO; }
    bool isAudio() const { return m_stream && m_stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO; }
    VFramePtr video(const RequireVideoFrame& request);
    AFramePtr audio(const RequireAudioFrame& request);
    // Whether the next requests may be answered with YUV planes.
    void wantPlanes(bool planes) { m_wantPlanes = planes; }
    // When the last key frame shown at or before `toUs` is shown (from the
    // stream's start); -1 when the index cannot tell.
    int64_t keyFrameShownByUs(int64_t toUs) const;

private:
    // A decoder for the stream of `format`: on the GPU while a device is
    // held, else in software with the threads of the decoder's use.
    av::CodecPtr makeCodec(AVFormatContext* format);
    // Takes a VA-API device when hardware decoding is wanted and the file's
    // first frame decodes on it; otherwise software, with one log line.
    void chooseHardware();
    // Drops the GPU decoder for software; the next request seeks.
    bool fallBackToSoftware(const char* why);
    VFramePtr videoAt(const RequireVideoFrame& request);
    bool reopen();
    int64_t startTicks() const;
    bool keyFrameBetween(int64_t fromUs, int64_t toUs) const;
    // The index entry of the last key frame shown at or before `target`
    // (stream ticks), and when it is shown; null when the index cannot tell.
    const AVIndexEntry* lastKeyFrameBy(int64_t target, int64_t* shown) const;
    // Notes, from a key frame read, when the seek index's entry for it is shown.
    void learnKeyFrame(const AVPacket* packet);
    // The next decoded frame of the stream: 0, AVERROR_EOF, or another error.
    int decodeNext(AVFrame* out);
    // Microseconds from the stream's start to the frame.
    int64_t framePtsUs(const AVFrame* frame);
    bool seekToUs(int64_t targetUs);
    // Starts reading again at the top of the file, for demuxers whose seek
    // to the start lands further on (MPEG-TS).
    bool readFromTop();
    void forgetPosition();
    VFramePtr convert(const AVFrame* frame, int64_t ptsUs, int scaleNum, int scaleDen);
    // The frame's planes as they are, when they are in a layout the GPU
    // converts (planar or NV12, 8 or 10 bits, unrotated, at its own size);
    // false otherwise, and `out` is left for the RGBA conversion.
    bool copyPlanes(const AVFrame* frame, const av::FrameColour& colour, VFrameCtx* out);

    bool configureResampler(const AVFrame* frame);
    int64_t fifoEnd() const { return m_fifoStart + int64_t(m_fifo.size()) / m_outFrameBytes; }
    void appendConverted(const uint8_t* const* input, int inputSamples);

    std::string m_path;
    int m_index = -1;
    DecodeUse m_use = DecodeUse::Scrubbing;
    struct BufferUnref {
        void operator()(AVBufferRef* b) const { av_buffer_unref(&b); }
    };
    std::unique_ptr<AVBufferRef, BufferUnref> m_hwDevice; // held while decoding on the GPU
    bool m_hwFailed = false;     // the GPU decoder failed during this request
    bool m_lastFromGpu = false;  // the last frame came out of the GPU
    av::FramePtr m_surface;      // a GPU frame on its way to memory
    hw::Transfer m_transfer;
    av::FormatPtr m_format;
    av::CodecPtr m_codec;
    AVStream* m_stream = nullptr;
    av::PacketPtr m_packet;
    bool m_demuxDone = false;
    int64_t m_startPts = 0;
    int64_t m_lastPtsUs = -1;
    av::Upright m_upright; // how the decoded picture is turned to be shown
    bool m_loggedBadPacket = false;
    int64_t m_skipTarget = AV_NOPTS_VALUE; // stream ticks of the instant being looked for
    // Some containers (MP4) file key frames in the seek index under their
    // decoding times, which run ahead of the times they are shown at by the
    // frames that B-frames reorder, and not always by the same number (open
    // groups of pictures). The times key frames read were shown at, by index
    // time, and the least lead seen, for key frames not read yet.
    std::map<int64_t, int64_t> m_keyShownAt;
    int64_t m_indexLead = 0;
    bool m_indexLeadSeen = false;
    int64_t m_maxPacketPts = INT64_MIN;    // latest presentation time read since the last seek
    int64_t m_maxPacketPos = -1;           // furthest file position read since the last seek
    int64_t m_packetsRead = 0;
    bool m_atTop = true; // nothing read since the file was opened: the next packet is its first

    // Video: the frame on screen and the one after it.
    av::FramePtr m_cur, m_next, m_scratch;
    bool m_hasCur = false, m_hasNext = false, m_videoEnd = false;
    int64_t m_curPts = 0, m_nextPts = 0;
    int64_t m_firstUs = 0; // when the stream's first picture is shown; earlier requests show it
    bool m_still = false;
    FramePool m_pool {16}; // what a reader keeps ahead and its consumers hold
    std::shared_ptr<VFrameCtx> m_out; // the last picture handed out
    // Whether planes are asked for, and whether they were when m_out was
    // made (a picture that cannot come as planes comes as RGBA either way).
    bool m_wantPlanes = false, m_outWantedPlanes = false;
    int64_t m_outPts = -1;
    int m_outScale[2] = {0, 0};
    av::RgbaConverter m_rgba;
    av::GamutMapper m_gamut;
    std::vector<uint8_t> m_unrotated;

    // Audio: converted samples from absolute output sample m_fifoStart on.
    av::SwrPtr m_swr;
    int m_outRate = 0, m_outChannels = 0;
    SampleFormat m_outFormat = SF_NONE;
    int m_outFrameBytes = 1;
    int m_inRate = 0, m_inFormat = -1;
    AVChannelLayout m_inLayout {};
    std::vector<uint8_t> m_fifo;
    std::vector<uint8_t> m_convertBuffer;
    int64_t m_fifoStart = 0;
    bool m_fifoValid = false;
    bool m_audioEnd = false;
    bool m_audioUsed = false; // the decoder has moved from the file's start
    av::FramePtr m_audioFrame;
};

bool DecoderImpl::open(const char* path, int streamIndex, DecodeUse use) {
    m_path = path ? path : "";
    m_index = streamIndex;
    m_format = av::openInput(path, nullptr);
    if (!m_format)
        return false;
    if (streamIndex < 0 || streamIndex >= int(m_format->nb_streams)) {
        LOGE("%s has no stream %d", path, streamIndex);
        return false;
    }
    m_stream = m_format->streams[streamIndex];
    AVMediaType type = m_stream->codecpar->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) {
        LOGE("stream %d of %s is neither video nor audio", streamIndex, path);
        return false;
    }
    if (type == AVMEDIA_TYPE_VIDEO && (m_stream->codecpar->width <= 0 || m_stream->codecpar->height <= 0)) {
        LOGE("stream %d of %s has no picture size", streamIndex, path);
        return false;
    }
    m_use = use;
    m_codec = makeCodec(m_format.get());
    if (!m_codec)
        return false;
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        if (int(i) != streamIndex)
            m_format->streams[i]->discard = AVDISCARD_ALL;
    }
    m_startPts = startTicks();
    if (m_stream->start_time != AV_NOPTS_VALUE)
        m_firstUs = std::max<int64_t>(0, av_rescale_q(m_stream->start_time - m_startPts, m_stream->time_base,
                                                      {1, kMicro}));
    m_packet.reset(av_packet_alloc());
    m_cur.reset(av_frame_alloc());
    m_next.reset(av_frame_alloc());
    m_scratch.reset(av_frame_alloc());
    m_surface.reset(av_frame_alloc());
    m_audioFrame.reset(av_frame_alloc());
    if (!m_packet || !m_cur || !m_next || !m_scratch || !m_surface || !m_audioFrame)
        return false;
    m_still = av::isStillPicture(m_format.get(), path);
    if (type == AVMEDIA_TYPE_VIDEO) {
        m_upright = {av::streamRotation(m_stream), false};
        // A photo says in its EXIF tag how the camera was held.
        if (m_still && m_stream->codecpar->codec_id == AV_CODEC_ID_MJPEG)
            m_upright = av::jpegUpright(path);
        if (!m_still)
            chooseHardware();
    }
    return m_codec != nullptr;
}

av::CodecPtr DecoderImpl::makeCodec(AVFormatContext* format) {
    if (format->streams[m_index]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return av::openDecoder(format, m_index, m_path.c_str(), 1); // sound decodes fast on one thread
    // The GPU decodes alone: more threads only add frames in flight.
    if (m_hwDevice)
        return av::openDecoder(format, m_index, m_path.c_str(), 1, FF_THREAD_SLICE, m_hwDevice.get());
    // Frame threads decode several frames at once, and each seek waits for
    // them to fill again. Scrubbing still gains: it decodes from the key
    // frame on, and most H.264 has one slice a frame, which slice threads
    // cannot share out (slices alone took 1.7 times as long per random
    // frame in media_bench). So both uses take frame and slice threads, as
    // many as FFmpeg counts cores for.
    return av::openDecoder(format, m_index, m_path.c_str(), 0, FF_THREAD_FRAME | FF_THREAD_SLICE);
}

void DecoderImpl::chooseHardware() {
    if (hardwareDecoding() != HardwareDecoding::Auto)
        return;
    if (av::hasAlphaLayer(m_stream)) {
        LOGD("%s: decoded in software: the GPU leaves its alpha out", m_path.c_str());
        return;
    }
    const AVCodec* codec = avcodec_find_decoder(m_stream->codecpar->codec_id);
    if (!hw::codecSupportsVaapi(codec)) {
        LOGD("%s: decoded in software: VA-API does not decode %s", m_path.c_str(),
             avcodec_get_name(m_stream->codecpar->codec_id));
        return;
    }
    std::string why;
    m_hwDevice.reset(hw::openDevice(&why));
    if (!m_hwDevice) {
        LOGD("%s: decoded in software: %s", m_path.c_str(), why.c_str());
        return;
    }
    av::CodecPtr software = std::move(m_codec);
    m_codec = makeCodec(m_format.get());
    // The first frame must come out of the GPU: a driver may open and still
    // not decode this profile, and FFmpeg then quietly decodes in software.
    const bool decoded = m_codec && decodeNext(m_scratch.get()) == 0 && m_lastFromGpu;
    av_frame_unref(m_scratch.get());
    if (decoded && !m_hwFailed && seekToUs(0)) {
        LOGD("%s: decoded on the GPU (VA-API)", m_path.c_str());
        return;
    }
    m_hwDevice.reset();
    m_hwFailed = false;
    m_codec = std::move(software);
    LOGW("%s: decoded in software: its first frame does not decode on the GPU", m_path.c_str());
    if (!seekToUs(0))
        m_codec.reset();
}

bool DecoderImpl::fallBackToSoftware(const char* why) {
    LOGW("%s: decoded in software from here on: %s", m_path.c_str(), why);
    m_hwDevice.reset();
    m_hwFailed = false;
    m_codec = makeCodec(m_format.get());
    // With nothing decoded, the next request seeks to its frame.
    m_hasCur = m_hasNext = m_videoEnd = false;
    return m_codec != nullptr;
}

bool DecoderImpl::reopen() {
    // Demuxers that cannot seek (some GIFs, damaged files) start over instead.
    av::FormatPtr format = av::openInput(m_path.c_str(), nullptr);
    if (!format || m_index >= int(format->nb_streams))
        return false;
    av::CodecPtr codec = makeCodec(format.get());
    if (!codec)
        return false;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (int(i) != m_index)
            format->streams[i]->discard = AVDISCARD_ALL;
    }
    m_codec = std::move(codec);
    m_format = std::move(format);
    m_stream = m_format->streams[m_index];
    m_startPts = startTicks();
    m_demuxDone = false;
    m_atTop = true;
    return true;
}

int64_t DecoderImpl::startTicks() const {
    // Times count from the container's start, so that the streams of one
    // file stay in step with each other.
    if (m_format->start_time != AV_NOPTS_VALUE)
        return av_rescale_q(m_format->start_time, AV_TIME_BASE_Q, m_stream->time_base);
    return m_stream->start_time == AV_NOPTS_VALUE ? 0 : m_stream->start_time;
}

int DecoderImpl::decodeNext(AVFrame* out) {
    for (;;) {
        int r = avcodec_receive_frame(m_codec.get(), m_hwDevice ? m_surface.get() : out);
        if (r == 0 && m_hwDevice) {
            m_lastFromGpu = hw::isHardwareFrame(m_surface.get());
            if (m_lastFromGpu) {
                r = m_transfer.toMemory(m_surface.get(), out);
                av_frame_unref(m_surface.get());
                if (r < 0) {
                    av::logError("cannot read a GPU picture of", m_path.c_str(), r);
                    m_hwFailed = true;
                }
                return r;
            }
            av_frame_move_ref(out, m_surface.get()); // FFmpeg went on in software by itself
        }
        if (r == 0)
            return 0;
        if (r == AVERROR_EOF)
            return AVERROR_EOF;
        if (r != AVERROR(EAGAIN)) {
            av::logError("decoding failed in", m_path.c_str(), r);
            m_hwFailed = m_hwDevice != nullptr;
            return r;
        }
        if (m_demuxDone)
            return AVERROR_EOF;
        r = av_read_frame(m_format.get(), m_packet.get());
        if (r < 0) {
            if (r != AVERROR_EOF)
                av::logError("reading stopped in", m_path.c_str(), r);
            m_demuxDone = true;
            avcodec_send_packet(m_codec.get(), nullptr); // drain what the decoder holds
            continue;
        }
        if (m_packet->stream_index != m_index) {
            av_packet_unref(m_packet.get());
            continue;
        }
        learnKeyFrame(m_packet.get());
        ++m_packetsRead;
        m_atTop = false;
        m_maxPacketPos = std::max(m_maxPacketPos, m_packet->pos);
        // On the way to a target, a frame that is followed on screen by one
        // already read (and still not after the target) can never be the one
        // shown: let the decoder skip it when nothing refers to it.
        int64_t pts = m_packet->pts;
        if (m_skipTarget != AV_NOPTS_VALUE && pts != AV_NOPTS_VALUE) {
            bool hidden = pts < m_maxPacketPts && m_maxPacketPts <= m_skipTarget;
            m_codec->skip_frame = hidden ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            m_maxPacketPts = std::max(m_maxPacketPts, pts);
        }
        r = avcodec_send_packet(m_codec.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (r < 0 && r != AVERROR(EAGAIN) && !m_loggedBadPacket) {
            // Damaged data: skip the packet and go on with the next one.
            m_loggedBadPacket = true;
            av::logError("skipping damaged data in", m_path.c_str(), r);
        }
    }
}

int64_t DecoderImpl::framePtsUs(const AVFrame* frame) {
    int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = frame->pts;
    int64_t us;
    if (pts == AV_NOPTS_VALUE) {
        // No timestamp: follow on from the previous frame.
        int64_t step = frame->pkt_duration > 0 ? av_rescale_q(frame->pkt_duration, m_stream->time_base, {1, kMicro})
                       : m_stream->avg_frame_rate.num > 0 ? av_rescale(kMicro, m_stream->avg_frame_rate.den,
                                                                       m_stream->avg_frame_rate.num)
                                                          : 40000;
        us = m_lastPtsUs < 0 ? 0 : m_lastPtsUs + step;
    } else {
        us = av_rescale_q(pts - m_startPts, m_stream->time_base, {1, kMicro});
    }
    m_lastPtsUs = us;
    return us;
}

void DecoderImpl::learnKeyFrame(const AVPacket* packet) {
    if (!(packet->flags & AV_PKT_FLAG_KEY) || packet->pts == AV_NOPTS_VALUE || packet->dts == AV_NOPTS_VALUE ||
        packet->pos < 0)
        return;
    const int index = av_index_search_timestamp(m_stream, packet->dts, AVSEEK_FLAG_ANY);
    const AVIndexEntry* entry = index < 0 ? nullptr : avformat_index_get_entry(m_stream, index);
    if (!entry || entry->pos != packet->pos || entry->timestamp != packet->dts)
        return; // not filed under its decoding time
    // A lying file must not move key frames far: a second at most.
    const int64_t second = av_rescale_q(kMicro, {1, kMicro}, m_stream->time_base);
    const int64_t lead = std::clamp<int64_t>(packet->pts - packet->dts, 0, second);
    m_indexLead = m_indexLeadSeen ? std::min(m_indexLead, lead) : lead;
    m_indexLeadSeen = true;
    if (m_keyShownAt.size() < 65536)
        m_keyShownAt[entry->timestamp] = entry->timestamp + lead;
}

void DecoderImpl::forgetPosition() {
    m_hasCur = m_hasNext = m_videoEnd = false;
    m_lastPtsUs = -1;
    m_maxPacketPts = INT64_MIN;
    m_maxPacketPos = -1;
}

bool DecoderImpl::readFromTop() {
    forgetPosition();
    if (reopen())
        return true;
    LOGE("cannot read %s from its start again", m_path.c_str());
    return false;
}

bool DecoderImpl::seekToUs(int64_t targetUs) {
    forgetPosition();
    m_atTop = false;
    int64_t ts = m_startPts + av_rescale_q(std::max<int64_t>(targetUs, 0), {1, kMicro}, m_stream->time_base);
    int r = av_seek_frame(m_format.get(), m_index, ts, AVSEEK_FLAG_BACKWARD);
    if (r < 0 && targetUs <= 0)
        r = avformat_seek_file(m_format.get(), -1, INT64_MIN, 0, 0, 0);
    if (r < 0) {
        if (!reopen()) {
            LOGE("cannot seek in %s", m_path.c_str());
            return false;
        }
        return true;
    }
    avcodec_flush_buffers(m_codec.get());
    m_demuxDone = false;
    return true;
}

VFramePtr DecoderImpl::video(const RequireVideoFrame& request) {
    VFramePtr frame = videoAt(request);
    // The GPU gave up half-way: the same request again, in software.
    if (m_hwFailed && fallBackToSoftware("the GPU decoder failed"))
        frame = videoAt(request);
    return frame;
}

VFramePtr DecoderImpl::videoAt(const RequireVideoFrame& request) {
    int scaleNum = request.scaleNum > 0 ? request.scaleNum : 1;
    int scaleDen = request.scaleDen > 0 ? request.scaleDen : 1;
    if (m_still) {
        // A still picture decodes once and serves every request.
        if (!m_hasCur) {
            if (decodeNext(m_cur.get()) != 0)
                return nullptr;
            m_hasCur = true;
            m_curPts = 0;
        }
        return convert(m_cur.get(), 0, scaleNum, scaleDen);
    }

    // Containers round timestamps (Matroska to the millisecond): a frame
    // stamped within the tolerance after the instant already counts as shown.
    int64_t t = std::max<int64_t>(0, toMicroseconds(request.time)) + kPtsToleranceUs;
    t = std::max(t, m_firstUs);
    if (m_hasCur && t >= m_curPts && ((m_hasNext && t < m_nextPts) || (!m_hasNext && m_videoEnd)))
        return convert(m_cur.get(), m_curPts, scaleNum, scaleDen);

    bool seek = !m_hasCur || t < m_curPts || t > m_curPts + kSeekAheadUs || keyFrameBetween(m_curPts, t);
    // A decoder fresh at the top of its file reads on to a frame near the start.
    if (!m_hasCur && m_atTop && t <= m_firstUs + kSeekAheadUs && !keyFrameBetween(m_firstUs, t))
        seek = false;
    m_skipTarget = m_startPts + av_rescale_q(t, {1, kMicro}, m_stream->time_base);
    int64_t seekTarget = t;
    bool fromTop = false;
    for (int attempt = 0; attempt <= kSeekRetries; ++attempt) {
        if (seek && !(fromTop ? readFromTop() : seekToUs(seekTarget)))
            return nullptr;
        bool first = !m_hasCur;
        while (true) {
            AVFrame* incoming;
            int64_t pts;
            if (m_hasNext) {
                std::swap(m_scratch, m_next);
                m_hasNext = false;
                incoming = m_scratch.get();
                pts = m_nextPts;
            } else {
                int r = decodeNext(m_scratch.get());
                if (r != 0) {
                    m_videoEnd = true;
                    break;
                }
                incoming = m_scratch.get();
                pts = framePtsUs(incoming);
            }
            if (!m_hasCur || pts <= t) {
                std::swap(m_cur, m_scratch);
                av_frame_unref(m_scratch.get());
                m_hasCur = true;
                m_curPts = pts;
                continue;
            }
            std::swap(m_next, m_scratch);
            av_frame_unref(m_scratch.get());
            m_hasNext = true;
            m_nextPts = pts;
            break;
        }
        // A seek that landed after the target (inexact index), or where
        // nothing decodes before the end (MPEG-TS lands between key frames),
        // goes further back, and at last reads from the top.
        if (seek && first && (!m_hasCur || m_curPts > t) && attempt < kSeekRetries) {
            if (seekTarget > m_firstUs) {
                seekTarget = std::max<int64_t>(0, seekTarget - kMicro * (attempt + 1));
                continue;
            }
            if (!fromTop) {
                fromTop = true;
                continue;
            }
            if (m_hasCur)
                m_firstUs = m_curPts; // read from the top, nothing comes out before it
        }
        break;
    }
    m_skipTarget = AV_NOPTS_VALUE;
    m_codec->skip_frame = AVDISCARD_DEFAULT;
    if (!m_hasCur)
        return nullptr;
    return convert(m_cur.get(), m_curPts, scaleNum, scaleDen);
}

const AVIndexEntry* DecoderImpl::lastKeyFrameBy(int64_t target, int64_t* shown) const {
    // A guess at the time a key frame is shown may be early, so one found
    // shown after the target gives way to the one before it.
    for (int64_t search = target - m_indexLead, tries = 0; tries < 4; ++tries) {
        const int index = av_index_search_timestamp(m_stream, search, AVSEEK_FLAG_BACKWARD);
        const AVIndexEntry* entry = index < 0 ? nullptr : avformat_index_get_entry(m_stream, index);
        if (!entry || entry->timestamp == AV_NOPTS_VALUE)
            return nullptr;
        const auto known = m_keyShownAt.find(entry->timestamp);
        *shown = known != m_keyShownAt.end() ? known->second : entry->timestamp + m_indexLead;
        if (*shown <= target)
            return entry;
        search = entry->timestamp - 1;
    }
    return nullptr;
}

int64_t DecoderImpl::keyFrameShownByUs(int64_t toUs) const {
    if (!m_stream)
        return -1;
    int64_t shown = 0;
    if (!lastKeyFrameBy(m_startPts + av_rescale_q(toUs, {1, kMicro}, m_stream->time_base), &shown))
        return -1;
    return std::max<int64_t>(0, av_rescale_q(shown - m_startPts, m_stream->time_base, {1, kMicro}));
}

bool DecoderImpl::keyFrameBetween(int64_t fromUs, int64_t toUs) const {
    // Decoding on from the current frame costs more than a seek when the
    // target's key frame is shown after it and has not been read yet. One
    // already read is decoded on to: a seek would throw away the frames in
    // flight (a sequential reader passes every key frame this way).
    if (toUs <= fromUs)
        return false;
    const auto ticks = [this](int64_t us) { return m_startPts + av_rescale_q(us, {1, kMicro}, m_stream->time_base); };
    int64_t keyShown = 0;
    // The last key frame shown by the target.
    const AVIndexEntry* entry = lastKeyFrameBy(ticks(toUs), &keyShown);
    if (!entry || keyShown <= ticks(fromUs))
        return false;
    // Read already? By file position where the index has one, else by time.
    return entry->pos >= 0 && m_maxPacketPos >= 0 ? entry->pos > m_maxPacketPos : keyShown > m_maxPacketPts;
}

VFramePtr DecoderImpl::convert(const AVFrame* frame, int64_t ptsUs, int scaleNum, int scaleDen) {
    if (m_out && m_outPts == ptsUs && m_outScale[0] == scaleNum && m_outScale[1] == scaleDen &&
        m_outWantedPlanes == m_wantPlanes)
        return m_out;
    int sw = frame->width, sh = frame->height;
    if (sw <= 0 || sh <= 0)
        return nullptr;
    int dw = std::max(1, int(int64_t(sw) * scaleNum / scaleDen));
    int dh = std::max(1, int(int64_t(sh) * scaleNum / scaleDen));
    if (const int longest = std::max(dw, dh); longest > av::kMaxPictureSide) {
        dw = std::max(1, int(int64_t(dw) * av::kMaxPictureSide / longest));
        dh = std::max(1, int(int64_t(dh) * av::kMaxPictureSide / longest));
    }
    bool sideways = m_upright.degrees == 90 || m_upright.degrees == 270;
    const bool turned = m_upright.degrees != 0 || m_upright.mirrored;
    int ow = sideways ? dh : dw, oh = sideways ? dw : dh;
    int stride = FFALIGN(ow * 4, 64);

    std::shared_ptr<VFrameCtx> out = m_pool.take(m_out);
    out->width = ow;
    out->height = oh;
    out->stride = stride;
    out->ptsUs = ptsUs;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    out->opaque = desc && !(desc->flags & AV_PIX_FMT_FLAG_ALPHA);
    // The source's own matrix and range; a fresh converter starts on BT.601.
    const av::FrameColour colour = av::frameColour(frame, m_codec->codec_id);
    out->planes = 0;
    // An interlaced picture holds two fields a field period apart: woven
    // together, whatever moves shows combs. Its first field alone, scaled
    // to the picture's height, shows none.
    const uint8_t* source[4] = {frame->data[0], frame->data[1], frame->data[2], frame->data[3]};
    int sourceStride[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2], frame->linesize[3]};
    int sourceHeight = sh;
    // (A still is never: a PNG stored interlaced is whole once decoded.)
    const bool interlaced = !m_still && frame->interlaced_frame && sh % 4 == 0 && desc &&
                            !(desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM));
    if (interlaced) {
        for (int i = 0; i < 4 && source[i]; ++i) {
            if (!frame->top_field_first)
                source[i] += sourceStride[i];
            sourceStride[i] *= 2;
        }
        sourceHeight = sh / 2;
    }
    if (m_wantPlanes && !interlaced && !turned && dw == sw && dh == sh && copyPlanes(frame, colour, out.get())) {
        m_out = out;
        m_outPts = ptsUs;
        m_outScale[0] = scaleNum;
        m_outScale[1] = scaleDen;
        m_outWantedPlanes = m_wantPlanes;
        return out;
    }
    out->pixels.resize(size_t(stride) * size_t(oh));

    uint8_t* target = out->pixels.data();
    int targetStride = stride;
    int scaledStride = FFALIGN(dw * 4, 64);
    if (turned) {
        m_unrotated.resize(size_t(scaledStride) * dh);
        target = m_unrotated.data();
        targetStride = scaledStride;
    }
    if (!m_rgba.convert(source, sourceStride, AVPixelFormat(frame->format), sw, sourceHeight, colour, target,
                        targetStride, dw, dh)) {
        LOGE("cannot convert %s pictures of %s", av_get_pix_fmt_name(AVPixelFormat(frame->format)),
             m_path.c_str());
        return nullptr;
    }
    if (colour.wideGamut)
        m_gamut.bt2020ToBt709(target, dw, dh, targetStride);
    if (turned)
        turnRgba(m_unrotated.data(), dw, dh, scaledStride, m_upright, out->pixels.data(), stride);

    m_out = out;
    m_outPts = ptsUs;
    m_outScale[0] = scaleNum;
    m_outScale[1] = scaleDen;
    m_outWantedPlanes = m_wantPlanes;
    return out;
}

bool DecoderImpl::copyPlanes(const AVFrame* frame, const av::FrameColour& colour, VFrameCtx* out) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (!desc || !colour.yuv || colour.wideGamut || desc->nb_components != 3 ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL |
                        AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_FLOAT)))
        return false;
    const int bits = desc->comp[0].depth;
    const int sample = bits > 8 ? 2 : 1;
    for (int i = 0; i < 3; ++i) {
        if (desc->comp[i].depth != bits || desc->comp[i].shift != 0)
            return false;
    }
    // Y, U, V each in a plane of its own, or U and V interleaved (NV12).
    const bool threePlanes = desc->comp[0].plane == 0 && desc->comp[1].plane == 1 && desc->comp[2].plane == 2 &&
                             desc->comp[0].step == sample && desc->comp[1].step == sample;
    const bool shared = desc->comp[0].plane == 0 && desc->comp[1].plane == 1 && desc->comp[2].plane == 1 &&
                        bits == 8 && desc->comp[1].step == 2 && desc->comp[1].offset == 0 &&
                        desc->comp[2].offset == 1;
    if ((bits != 8 && bits != 10) || !(threePlanes || shared))
        return false;
    const int count = shared ? 2 : 3;
    const int w = frame->width, h = frame->height;
    const int cw = AV_CEIL_RSHIFT(w, desc->log2_chroma_w), ch = AV_CEIL_RSHIFT(h, desc->log2_chroma_h);
    int rowBytes[3] = {w * sample, cw * sample * (shared ? 2 : 1), cw * sample};
    int rows[3] = {h, ch, ch};
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
        if (!frame->data[i] || frame->linesize[i] < rowBytes[i])
            return false;
    }
    // The decoder's picture is shared: a reference to its buffers, in an
    // AVFrame this pooled frame keeps from one picture to the next.
    if (!out->source)
        out->source = std::shared_ptr<AVFrame>(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    AVFrame* held = static_cast<AVFrame*>(out->source.get());
    if (held && frame->buf[0] && av_frame_ref(held, frame) == 0) {
        out->pixels.clear();
        for (int i = 0; i < count; ++i) {
            out->planeAt[i] = held->data[i];
            out->planeStride[i] = held->linesize[i];
            out->planeOffset[i] = 0;
        }
    } else {
        for (int i = 0; i < count; ++i) {
            out->planeOffset[i] = total;
            out->planeStride[i] = FFALIGN(rowBytes[i], 64);
            total += size_t(out->planeStride[i]) * size_t(rows[i]);
        }
        out->pixels.resize(total);
        for (int i = 0; i < count; ++i)
            av_image_copy_plane(out->pixels.data() + out->planeOffset[i], out->planeStride[i], frame->data[i],
                                frame->linesize[i], rowBytes[i], rows[i]);
    }
    out->planes = count;
    out->bits = bits;
    out->chromaShiftX = desc->log2_chroma_w;
    out->chromaShiftY = desc->log2_chroma_h;
    out->stride = out->planeStride[0];
    out->pixelFormat = frame->format;
    out->matrix = colour.matrix;
    // The matrix's luma weights, from the converter's table of it (whose
    // chroma factors are scaled for limited range: 255 / 224).
    const int* table = sws_getCoefficients(colour.matrix);
    out->kr = float(1.0 - table[0] / 65536.0 * 224.0 / 255.0 / 2.0);
    out->kb = float(1.0 - table[1] / 65536.0 * 224.0 / 255.0 / 2.0);
    out->fullRange = colour.fullRange;
    return true;
}

bool DecoderImpl::configureResampler(const AVFrame* frame) {
    AVChannelLayout inLayout {};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&inLayout, std::max(1, frame->ch_layout.nb_channels));
    else
        av_channel_layout_copy(&inLayout, &frame->ch_layout);
    if (m_swr && m_inRate == frame->sample_rate && m_inFormat == frame->format &&
        av_channel_layout_compare(&m_inLayout, &inLayout) == 0) {
        av_channel_layout_uninit(&inLayout);
        return true;
    }
    AVChannelLayout outLayout {};
    av_channel_layout_default(&outLayout, m_outChannels);
    SwrContext* raw = nullptr;
    int r = swr_alloc_set_opts2(&raw, &outLayout, toAvFormat(m_outFormat), m_outRate, &inLayout,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outLayout);
    av::SwrPtr swr(raw);
    // Mono goes to every speaker at full level, as it was recorded (the
    // resampler's own mix puts it 3 dB down and takes no centre level for it).
    if (r >= 0 && inLayout.nb_channels == 1) {
        const std::vector<double> fullLevel(size_t(std::max(1, m_outChannels)), 1.0);
        r = swr_set_matrix(swr.get(), fullLevel.data(), 1);
    }
    if (r >= 0)
        r = swr_init(swr.get());
    if (r < 0) {
        av_channel_layout_uninit(&inLayout);
        av::logError("cannot convert the sound of", m_path.c_str(), r);
        return false;
    }
    m_swr = std::move(swr);
    m_inRate = frame->sample_rate;
    m_inFormat = frame->format;
    av_channel_layout_uninit(&m_inLayout);
    m_inLayout = inLayout;
    return true;
}

void DecoderImpl::appendConverted(const uint8_t* const* input, int inputSamples) {
    int capacity = swr_get_out_samples(m_swr.get(), inputSamples);
    if (capacity <= 0)
        return;
    m_convertBuffer.resize(size_t(capacity) * m_outFrameBytes);
    uint8_t* out[1] = {m_convertBuffer.data()};
    int got = swr_convert(m_swr.get(), out, capacity, const_cast<const uint8_t**>(input), inputSamples);
    if (got < 0) {
        av::logError("sound conversion failed in", m_path.c_str(), got);
        return;
    }
    m_fifo.insert(m_fifo.end(), m_convertBuffer.begin(), m_convertBuffer.begin() + size_t(got) * m_outFrameBytes);
}

AFramePtr DecoderImpl::audio(const RequireAudioFrame& request) {
    int rate = request.sampleRate, channels = request.channels;
    SampleFormat format = request.format;
    if (rate <= 0 || rate > 768000 || channels <= 0 || channels > 16 || bytesPerSample(format) == 0 ||
        request.start.den <= 0 || request.end.den <= 0) {
        LOGE("impossible sound request for %s (%d Hz, %d channels, format %d)", m_path.c_str(), rate, channels,
             int(format));
        return nullptr;
    }
    int64_t s0 = av_rescale_rnd(request.start.num, rate, request.start.den,
                                AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
    int64_t s1 = av_rescale_rnd(request.end.num, rate, request.end.den,
                                AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
    int64_t count = std::clamp<int64_t>(s1 - s0, 0, kMaxAudioSeconds * rate);
    s1 = s0 + count;

    if (rate != m_outRate || channels != m_outChannels || format != m_outFormat) {
        m_outRate = rate;
        m_outChannels = channels;
        m_outFormat = format;
        m_outFrameBytes = channels * bytesPerSample(format);
        m_swr.reset();
        m_fifo.clear();
        m_fifoValid = false;
    }

    auto frame = std::make_shared<AFrameCtx>();
    frame->format = format;
    frame->sampleRate = rate;
    frame->channels = channels;
    frame->samples = count;
    // Silence is zero for every signed format; unsigned 8-bit centres on 128.
    frame->data.assign(size_t(count) * m_outFrameBytes, format == SF_U8 ? 0x80 : 0);
    if (count == 0)
        return frame;

    bool behind = m_fifoValid && s0 < m_fifoStart;
    bool farAhead = m_fifoValid && s0 > fifoEnd() + 2 * int64_t(rate) && !m_audioEnd;
    bool fresh = !m_fifoValid && !m_audioEnd;
    if (fresh || behind || farAhead) {
        // The very first request from the start needs no seek.
        // Land a little early so the resampler has settled by the range's start.
        if (m_audioUsed || s0 > 0)
            seekToUs(std::max<int64_t>(0, av_rescale(s0, kMicro, rate) - kAudioPrerollUs));
        m_audioUsed = true;
        m_fifo.clear();
        m_fifoValid = false;
        m_audioEnd = false;
        if (m_swr)
            swr_init(m_swr.get()); // drops samples held from before the seek
    }

    while (!m_audioEnd && (!m_fifoValid || fifoEnd() < s1)) {
        int r = decodeNext(m_audioFrame.get());
        if (r != 0) {
            if (m_swr)
                appendConverted(nullptr, 0); // what the resampler still holds
            m_audioEnd = true;
            if (!m_fifoValid) {
                m_fifoStart = s0;
                m_fifoValid = true;
            }
            break;
        }
        if (!configureResampler(m_audioFrame.get())) {
            av_frame_unref(m_audioFrame.get());
            m_audioEnd = true;
            break;
        }
        if (!m_fifoValid) {
            int64_t ptsUs = framePtsUs(m_audioFrame.get());
            m_fifoStart = av_rescale(ptsUs, rate, kMicro);
            m_fifoValid = true;
        }
        appendConverted(m_audioFrame->extended_data, m_audioFrame->nb_samples);
        av_frame_unref(m_audioFrame.get());
        // Drop what lies before the request as it comes, so long skips stay small.
        if (m_fifoValid && fifoEnd() < s0) {
            m_fifoStart = fifoEnd();
            m_fifo.clear();
        }
    }

    if (m_fifoValid) {
        int64_t from = std::max(s0, m_fifoStart), to = std::min(s1, fifoEnd());
        if (to > from) {
            std::memcpy(frame->data.data() + size_t(from - s0) * m_outFrameBytes,
                        m_fifo.data() + size_t(from - m_fifoStart) * m_outFrameBytes,
                        size_t(to - from) * m_outFrameBytes);
        }
        // Keep the samples from the request's start on; the next request usually follows on.
        if (s0 > m_fifoStart) {
            int64_t drop = std::min<int64_t>(s0 - m_fifoStart, int64_t(m_fifo.size()) / m_outFrameBytes);
            m_fifo.erase(m_fifo.begin(), m_fifo.begin() + size_t(drop) * m_outFrameBytes);
            m_fifoStart += drop;
        }
    }
    return frame;
}

FFDecoder::FFDecoder() = default;
FFDecoder::~FFDecoder() = default;

bool FFDecoder::open(const char* path, int streamIndex, DecodeUse use) {
    close();
    auto impl = std::make_unique<DecoderImpl>();
    if (!impl->open(path, streamIndex, use))
        return false;
    m_impl = std::move(impl);
    return true;
}

bool FFDecoder::isOpened() const { return m_impl != nullptr; }

bool FFDecoder::usesHardware() const { return m_impl && m_impl->usesHardware(); }

int64_t FFDecoder::packetsRead() const { return m_impl ? m_impl->packetsRead() : 0; }

int64_t FFDecoder::keyFrameShownByUs(int64_t toUs) const {
    return m_impl && m_impl->isVideo() ? m_impl->keyFrameShownByUs(toUs) : -1;
}

void FFDecoder::close() { m_impl.reset(); }

struct RgbaFrames::Impl {
    // One converter per kind of picture (format and size), so that layers
    // of different sources do not rebuild one converter in turns.
    std::map<std::tuple<int, int, int>, av::RgbaConverter> converters;
    FramePool pool {12}; // an export holds its queue of pictures and those shown

    VFramePtr convert(const VFramePtr& frame) {
        if (!frame || frame->planes == 0)
            return frame;
        const int w = frame->width, h = frame->height;
        av::FrameColour colour;
        colour.matrix = frame->matrix;
        colour.fullRange = frame->fullRange;
        std::shared_ptr<VFrameCtx> out = pool.take();
        out->width = w;
        out->height = h;
        out->stride = FFALIGN(w * 4, 64);
        out->ptsUs = frame->ptsUs;
        out->opaque = frame->opaque;
        out->pixels.resize(size_t(out->stride) * size_t(h));
        const uint8_t* planes[4] = {frame->plane(0), frame->plane(1),
                                    frame->planes == 3 ? frame->plane(2) : nullptr, nullptr};
        const int strides[4] = {frame->planeStride[0], frame->planeStride[1],
                                frame->planes == 3 ? frame->planeStride[2] : 0, 0};
        const auto kind = std::make_tuple(frame->pixelFormat, w, h);
        if (converters.size() >= 8 && !converters.count(kind))
            converters.clear();
        if (!converters[kind].convert(planes, strides, AVPixelFormat(frame->pixelFormat), w, h, colour,
                                      out->pixels.data(), out->stride, w, h)) {
            LOGE("cannot convert %s pictures to RGBA", av_get_pix_fmt_name(AVPixelFormat(frame->pixelFormat)));
            return nullptr;
        }
        return out;
    }
};

RgbaFrames::RgbaFrames() : m_impl(std::make_unique<Impl>()) {}
RgbaFrames::~RgbaFrames() = default;
VFramePtr RgbaFrames::convert(const VFramePtr& frame) { return m_impl->convert(frame); }

VFramePtr rgbaFrame(const VFramePtr& frame) {
    // A converter of its own: callers may be on any thread. The picture
    // outlives the converter and its pool.
    RgbaFrames once;
    return once.convert(frame);
}

VFramePtr FFDecoder::getVideoFrame(const RequireVideoFrame& request) {
    if (!m_impl || !m_impl->isVideo())
        return nullptr;
    m_impl->wantPlanes(request.planes != 0);
    return m_impl->video(request);
}

AFramePtr FFDecoder::getAudioFrame(const RequireAudioFrame& request) {
    if (!m_impl || !m_impl->isAudio())
        return nullptr;
    return m_impl->audio(request);
}

} // namespace ff
