#include "media.h"

#include "av-util.h"
#include "value/interface.h"

namespace ff {

int bytesPerSample(SampleFormat format) {
    switch (format) {
    case SF_U8:
        return 1;
    case SF_S16:
        return 2;
    case SF_S32:
    case SF_FLT:
        return 4;
    default:
        return 0;
    }
}

int64_t toMicroseconds(Rational t) {
    if (t.den == 0)
        return 0;
    return av_rescale_rnd(t.num, 1000000, t.den, AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
}

const StreamInfo* MovieCtx::stream(int index) const {
    for (const auto& s : streams) {
        if (s.index == index)
            return &s;
    }
    return nullptr;
}

namespace {

// Some containers (GIF among them) carry no duration: add up the packets.
int64_t measureDuration(AVFormatContext* format, int streamIndex, std::atomic<bool>* cancel) {
    AVStream* stream = format->streams[streamIndex];
    av::PacketPtr packet(av_packet_alloc());
    int64_t end = 0;
    while (!(cancel && cancel->load()) && av_read_frame(format, packet.get()) >= 0) {
        if (packet->stream_index == streamIndex && packet->pts != AV_NOPTS_VALUE) {
            int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
            end = std::max(end, packet->pts - start + std::max<int64_t>(packet->duration, 0));
        }
        av_packet_unref(packet.get());
    }
    return av_rescale_q(end, stream->time_base, AVRational {1, 1000000});
}

// A file cut short (a copy or a recording that stopped) may keep an index
// that lists all of it: an MP4 written for streaming has it first. Its
// media then end with the last frame read whole from the file, found by
// reading on from the key frame before the first one the file lost. In
// microseconds from the container's start; -1 when the stream is whole or
// its index says nothing.
int64_t readableEndUs(AVFormatContext* format, int streamIndex, std::atomic<bool>* cancel) {
    const int64_t fileSize = format->pb ? avio_size(format->pb) : -1;
    if (fileSize <= 0)
        return -1;
    AVStream* stream = format->streams[streamIndex];
    int64_t firstLost = AV_NOPTS_VALUE;
    const int entries = avformat_index_get_entries_count(stream);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (entry && entry->pos >= 0 && entry->size > 0 && entry->pos + entry->size > fileSize &&
            (firstLost == AV_NOPTS_VALUE || entry->timestamp < firstLost))
            firstLost = entry->timestamp;
    }
    if (firstLost == AV_NOPTS_VALUE)
        return -1;
    int64_t end = firstLost; // frames shown later can still have come whole
    if (av_seek_frame(format, streamIndex, firstLost, AVSEEK_FLAG_BACKWARD) >= 0) {
        av::PacketPtr packet(av_packet_alloc());
        constexpr int kPacketLimit = 100000;
        for (int read = 0; read < kPacketLimit && !(cancel && cancel->load()) &&
                           av_read_frame(format, packet.get()) >= 0;
             ++read) {
            if (packet->stream_index == streamIndex && packet->pts != AV_NOPTS_VALUE &&
                !(packet->flags & AV_PKT_FLAG_CORRUPT))
                end = std::max(end, packet->pts + std::max<int64_t>(packet->duration, 0));
            av_packet_unref(packet.get());
        }
    }
    const int64_t start = format->start_time == AV_NOPTS_VALUE ? 0 : format->start_time;
    return std::max<int64_t>(0, av_rescale_q(end, stream->time_base, AV_TIME_BASE_Q) - start);
}

} // namespace

bool firstFrameDecodes(const char* path, int streamIndex, std::atomic<bool>* cancel) {
    av::FormatPtr format = av::openInput(path, cancel);
    if (!format)
        return false;
    av::CodecPtr codec = av::openDecoder(format.get(), streamIndex, path, 1);
    if (!codec)
        return false;
    av::PacketPtr packet(av_packet_alloc());
    av::FramePtr frame(av_frame_alloc());
    // Enough packets for any decoder's delay; random bytes never give a frame.
    constexpr int kPacketLimit = 512;
    bool flushed = false;
    for (int read = 0; read < kPacketLimit && !(cancel && cancel->load());) {
        if (avcodec_receive_frame(codec.get(), frame.get()) == 0)
            return true;
        if (flushed)
            break;
        const int err = av_read_frame(format.get(), packet.get());
        if (err < 0) {
            avcodec_send_packet(codec.get(), nullptr); // drain what is held back
            flushed = true;
            continue;
        }
        if (packet->stream_index == streamIndex) {
            ++read;
            avcodec_send_packet(codec.get(), packet.get());
        }
        av_packet_unref(packet.get());
    }
    LOGW("%s: no frame of stream %d can be decoded", path, streamIndex);
    return false;
}

std::shared_ptr<MovieCtx> getMovieInfo(const char* path, std::atomic<bool>* cancel) {
    return getMovieInfo(path, cancel, nullptr);
}

std::shared_ptr<MovieCtx> getMovieInfo(const char* path, std::atomic<bool>* cancel, MediaProblem* why) {
    MediaProblem ignored = MediaProblem::None;
    MediaProblem& problem = why ? *why : ignored;
    problem = MediaProblem::None;
    av::FormatPtr format = av::openInput(path, cancel);
    if (!format) {
        problem = cancel && cancel->load() ? MediaProblem::Cancelled : MediaProblem::Unreadable;
        return nullptr;
    }
    bool oversized = false;
    auto info = std::make_shared<MovieCtx>();
    info->stillPicture = av::isStillPicture(format.get(), path);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        AVStream* st = format->streams[i];
        AVCodecParameters* par = st->codecpar;
        StreamInfo s;
        s.index = int(i);
        if (st->duration != AV_NOPTS_VALUE)
            s.durationUs = av_rescale_q(st->duration, st->time_base, AVRational {1, 1000000});
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            if (par->width <= 0 || par->height <= 0 || !avcodec_find_decoder(par->codec_id))
                continue;
            if (int64_t(par->width) * par->height > av::kMaxFramePixels) {
                LOGW("%s: its picture claims %d x %d pixels, more than the %lld that Korvel decodes", path,
                     par->width, par->height, static_cast<long long>(av::kMaxFramePixels));
                oversized = true;
                continue;
            }
            s.kind = StreamInfo::Video;
            s.rotation = info->stillPicture && par->codec_id == AV_CODEC_ID_MJPEG ? av::jpegUpright(path).degrees
                                                                                  : av::streamRotation(st);
            bool sideways = s.rotation == 90 || s.rotation == 270;
            s.width = sideways ? par->height : par->width;
            s.height = sideways ? par->width : par->height;
            if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0)
                s.frameRate = av_q2d(st->avg_frame_rate);
            ++info->videoStreams;
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0 || !avcodec_find_decoder(par->codec_id))
                continue;
            s.kind = StreamInfo::Audio;
            s.sampleRate = par->sample_rate;
            s.channels = par->ch_layout.nb_channels;
            ++info->audioStreams;
        }
        info->streams.push_back(s);
    }
    if (info->videoStreams == 0 && info->audioStreams == 0) {
        LOGW("%s holds no stream that can be decoded", path);
        problem = oversized ? MediaProblem::TooLarge : MediaProblem::NoStream;
        return nullptr;
    }
    if (info->videoStreams > 0)
        info->bestVideoStream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (info->audioStreams > 0)
        info->bestAudioStream = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    // av_find_best_stream may pick a stream we left out (no decoder); fall back to ours.
    auto fix = [&](int& best, StreamInfo::Kind kind) {
        const StreamInfo* s = info->stream(best);
        if (s && s->kind == kind)
            return;
        best = -1;
        for (const auto& candidate : info->streams) {
            if (candidate.kind == kind) {
                best = candidate.index;
                break;
            }
        }
    };
    fix(info->bestVideoStream, StreamInfo::Video);
    fix(info->bestAudioStream, StreamInfo::Audio);

    if (info->stillPicture) {
        info->durationUs = 0;
    } else if (format->duration != AV_NOPTS_VALUE && format->duration > 0 &&
               format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        info->durationUs = format->duration;
    } else {
        int stream = info->bestVideoStream >= 0 ? info->bestVideoStream : info->bestAudioStream;
        info->durationUs = measureDuration(format.get(), stream, cancel);
    }
    if (!info->stillPicture) {
        // The length is what the streams' frames in the file cover.
        int64_t cutAt = -1, readable = -1;
        for (int best : {info->bestVideoStream, info->bestAudioStream}) {
            if (best < 0)
                continue;
            const int64_t end = readableEndUs(format.get(), best, cancel);
            cutAt = std::max(cutAt, end);
            readable = std::max(readable, end < 0 ? info->durationUs : end);
        }
        if (cutAt >= 0 && readable < info->durationUs) {
            LOGW("%s is cut short: its index lists %.2f s, the file holds %.2f s", path, info->durationUs / 1e6,
                 readable / 1e6);
            info->durationUs = readable;
        }
    }
    if (cancel && cancel->load()) {
        problem = MediaProblem::Cancelled;
        return nullptr;
    }
    return info;
}

} // namespace ff
