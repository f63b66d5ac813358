#include "movie/movie.h"

#include "ffmpeg/ffmpeg-owners.h"
#include "value/interface.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mv {
namespace {

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kBytesPerSample = 2 * kChannels; // one s16 stereo sample
constexpr AVRational kMicroseconds = {1, 1000000};
// Audio pushes that start later than the samples so far by more than this
// leave a gap, which becomes silence; smaller differences are jitter.
constexpr int64_t kGapTolerance = kSampleRate / 25;
// A larger jump is taken for a bad timestamp rather than a real gap.
constexpr int64_t kMaxGap = int64_t(kSampleRate) * 3600;

struct GraphDeleter {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
// Encoder and muxer options, freed on every path.
struct Options {
    AVDictionary* dict = nullptr;
    ~Options() { av_dict_free(&dict); }
};

using FormatPtr = ffmpeg::OutputPtr;
using ffmpeg::CodecPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using ffmpeg::SwrPtr;
using ffmpeg::SwsPtr;
using ffmpeg::errorText;
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;

// A macro, so the log line names the caller's line.
#define LOG_AV(code, fmt, ...) LOGE("movie: " fmt ": %s", ##__VA_ARGS__, errorText(code).c_str())

enum class Container { Mp4, Avi, Mp3, Wav, Flac };

struct VideoTrack {
    std::mutex lock; // conversion and encoding of pictures
    CodecPtr codec;
    AVStream* stream = nullptr;
    SwsPtr scaler;
    FramePtr frame;
    PacketPtr packet;
    AVRational slotBase{1, 25}; // one slot per source frame
    int64_t lastSlot = INT64_MIN;
    bool warnedOrder = false;
};

struct AudioTrack {
    std::mutex lock; // tempo, conversion and encoding of sound
    CodecPtr codec;
    AVStream* stream = nullptr;
    GraphPtr graph;
    AVFilterContext* source = nullptr; // owned by graph
    AVFilterContext* sink = nullptr;
    FramePtr filterIn;
    FramePtr filterOut;
    FifoPtr fifo; // s16 stereo after the tempo change
    SwrPtr converter;
    FramePtr frame; // one encoder frame
    std::vector<int16_t> chunk;
    PacketPtr packet;
    int frameSize = 1024;
    int64_t shift = 0;      // added to packet times, in the encoder's time base
    int64_t dropFront = 0;  // samples still to leave out at the start
    int64_t samplesIn = 0;  // source samples taken, silence included
    int64_t samplesOut = 0; // samples handed to the encoder
    double tempo = 1.0;     // play rate of the tempo filter, when there is one
    int64_t tempoOut = 0;   // samples the tempo filter gave
    int64_t sourceEnd = -1; // source samples in all, once the end is reached: output is cut there
    bool warnedOrder = false;
    bool warnedJump = false;
};

} // namespace

struct Movie {
    std::string path;
    std::string url;
    int width = 0; // of the pictures pushed; the encoded size may be one less
    int height = 0;
    FormatPtr format;
    std::mutex muxLock; // taken after a track's lock, never before
    std::unique_ptr<VideoTrack> video;
    std::unique_ptr<AudioTrack> audio;
    std::atomic<bool> broken{false};
};

namespace {

int writePacket(Movie& m, AVCodecContext* codec, AVStream* stream, AVPacket* packet, int64_t shift) {
    if (shift && packet->pts != AV_NOPTS_VALUE)
        packet->pts += shift;
    if (shift && packet->dts != AV_NOPTS_VALUE)
        packet->dts += shift;
    av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    std::lock_guard<std::mutex> hold(m.muxLock);
    int ret = av_interleaved_write_frame(m.format.get(), packet);
    if (ret < 0) {
        av_packet_unref(packet);
        // One line for a full disk, not one per packet.
        if (!m.broken.exchange(true))
            LOG_AV(ret, "writing a packet to %s", m.path.c_str());
    }
    return ret;
}

// Sends one frame (null: end of stream) and writes every packet that is ready,
// `shift` later.
int encode(Movie& m, AVCodecContext* codec, AVStream* stream, AVPacket* packet, const AVFrame* frame,
           int64_t shift = 0) {
    int ret = avcodec_send_frame(codec, frame);
    if (ret < 0) {
        LOG_AV(ret, "%s encoder refused a frame", codec->codec->name);
        return ret;
    }
    for (;;) {
        ret = avcodec_receive_packet(codec, packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0) {
            LOG_AV(ret, "%s encoder failed", codec->codec->name);
            return ret;
        }
        ret = writePacket(m, codec, stream, packet, shift);
        if (ret < 0)
            return ret;
    }
}

bool addStream(Movie& m, AVCodecContext* codec, AVStream** stream) {
    *stream = avformat_new_stream(m.format.get(), nullptr);
    if (!*stream) {
        LOGE("movie: cannot add a stream to %s", m.path.c_str());
        return false;
    }
    int ret = avcodec_parameters_from_context((*stream)->codecpar, codec);
    if (ret < 0) {
        LOG_AV(ret, "copying the %s parameters", codec->codec->name);
        return false;
    }
    (*stream)->time_base = codec->time_base;
    return true;
}

// Why the last create_movie on this thread failed, where more is known than
// the log's FFmpeg lines.
thread_local std::string t_createFailure;

bool openEncoder(Movie& m, AVCodecContext* codec, AVDictionary** options) {
    if (m.format->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // A refused open leaves the context without its codec.
    const AVCodec* encoder = codec->codec;
    int ret = avcodec_open2(codec, encoder, options);
    if (ret < 0) {
        LOG_AV(ret, "opening the %s encoder", encoder->name);
        if (codec->codec_type == AVMEDIA_TYPE_VIDEO)
            t_createFailure = std::string("the ") + encoder->name + " encoder refuses " + std::to_string(codec->width) +
                              "x" + std::to_string(codec->height) + " pictures";
        else
            t_createFailure = std::string("the ") + encoder->name + " encoder cannot be opened";
        return false;
    }
    // What the encoder left in the dictionary it did not know.
    if (options && *options) {
        const AVDictionaryEntry* unused = av_dict_get(*options, "", nullptr, AV_DICT_IGNORE_SUFFIX);
        if (unused)
            LOGW("movie: the %s encoder ignored %s=%s", codec->codec->name, unused->key, unused->value);
    }
    return true;
}

bool openVideo(Movie& m, Container container, const MVSettings& s, int width, int height) {
    const char* name = container == Container::Mp4 ? "libx264" : "mpeg4";
    const AVCodec* encoder = avcodec_find_encoder_by_name(name);
    if (!encoder) {
        LOGE("movie: FFmpeg has no %s encoder", name);
        return false;
    }
    auto v = std::make_unique<VideoTrack>();
    v->codec.reset(avcodec_alloc_context3(encoder));
    v->frame.reset(av_frame_alloc());
    v->packet.reset(av_packet_alloc());
    if (!v->codec || !v->frame || !v->packet) {
        LOGE("movie: out of memory for the video encoder");
        return false;
    }
    AVCodecContext* c = v->codec.get();
    // The log's FFmpeg lines from this encoder name the file written.
    c->opaque = const_cast<char*>(m.path.c_str());
    // Pushed pictures keep their slots (pts in 1/frameRate); the file's time
    // base packs the slots closer or wider to change the play rate.
    AVRational fileRate = av_d2q(double(s.frameRate) * s.playRate, 65535);
    v->slotBase = AVRational{1, s.frameRate};
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // Limited range, BT.709 above standard definition and BT.601 for it, and
    // said so in the stream, so that players and other editors read it back
    // as written. The boundary is the one players use for untagged video,
    // so that an .avi, which carries no tags, is read right too.
    const bool hd = width >= 1280 || height > 576;
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    c->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    c->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    c->time_base = av_inv_q(fileRate);
    c->framerate = fileRate;
    c->gop_size = s.keyFrameInterval > 0 ? s.keyFrameInterval : s.frameRate;
    c->thread_count = 0; // as many as the machine has
    Options options;
    if (container == Container::Mp4)
        av_dict_set(&options.dict, "preset", "veryfast", 0);
    // Key frames at frames 0, n, 2n... only: files cut at those frames and
    // written apart join into the file one writer would have made.
    if (s.fixedKeyFrames)
        av_dict_set(&options.dict, "sc_threshold", container == Container::Mp4 ? "0" : "1000000000", 0);
    if (s.bitRate > 0) {
        int64_t rate = int64_t(s.bitRate) * 1000;
        c->bit_rate = rate;
        c->rc_max_rate = rate * 3 / 2;
        c->rc_buffer_size = int(std::min<int64_t>(rate * 2, INT_MAX));
    } else if (container == Container::Mp4) {
        av_dict_set(&options.dict, "crf", "23", 0);
    } else {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = 3 * FF_QP2LAMBDA;
    }
    if (!openEncoder(m, c, &options.dict) || !addStream(m, c, &v->stream))
        return false;
    v->stream->avg_frame_rate = fileRate;

    v->frame->format = c->pix_fmt;
    v->frame->width = width;
    v->frame->height = height;
    int ret = av_frame_get_buffer(v->frame.get(), 0);
    if (ret < 0) {
        LOG_AV(ret, "allocating a %dx%d picture", width, height);
        return false;
    }
    // Odd sizes were rounded down: the last column or row is cropped.
    v->scaler.reset(sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, AV_PIX_FMT_YUV420P,
                                   SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!v->scaler) {
        LOGE("movie: no RGBA to YUV 4:2:0 converter for %dx%d", width, height);
        return false;
    }
    {
        int *invTable = nullptr, *table = nullptr;
        int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(v->scaler.get(), &invTable, &srcRange, &table, &dstRange, &brightness,
                                     &contrast, &saturation) >= 0)
            sws_setColorspaceDetails(v->scaler.get(), invTable, 1, sws_getCoefficients(c->colorspace), 0, brightness,
                                     contrast, saturation);
    }
    m.video = std::move(v);
    return true;
}

AVSampleFormat pickSampleFormat(const AVCodec* encoder) {
    const AVSampleFormat* formats = encoder->sample_fmts;
    if (!formats)
        return AV_SAMPLE_FMT_FLTP;
    // The input is 16-bit: keep it exact where the encoder allows.
    for (AVSampleFormat wanted : {AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP}) {
        for (const AVSampleFormat* f = formats; *f != AV_SAMPLE_FMT_NONE; ++f) {
            if (*f == wanted)
                return wanted;
        }
    }
    return formats[0];
}

bool buildTempo(AudioTrack& a, double rate) {
    a.tempo = rate;
    a.graph.reset(avfilter_graph_alloc());
    a.filterIn.reset(av_frame_alloc());
    a.filterOut.reset(av_frame_alloc());
    if (!a.graph || !a.filterIn || !a.filterOut) {
        LOGE("movie: out of memory for the tempo filter");
        return false;
    }
    AVFilterGraph* g = a.graph.get();
    char args[160];
    std::snprintf(args, sizeof args, "time_base=1/%d:sample_rate=%d:sample_fmt=s16:channel_layout=stereo",
                  kSampleRate, kSampleRate);
    int ret =
        avfilter_graph_create_filter(&a.source, avfilter_get_by_name("abuffer"), "in", args, nullptr, g);
    if (ret < 0) {
        LOG_AV(ret, "creating the audio source filter");
        return false;
    }
    ret = avfilter_graph_create_filter(&a.sink, avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr,
                                       g);
    if (ret < 0) {
        LOG_AV(ret, "creating the audio sink filter");
        return false;
    }
    // One atempo takes 0.5 to 100; chain more for rates outside. The
    // options are set as numbers so the C locale's decimal mark is no matter.
    std::vector<double> steps;
    double left = rate;
    while (left < 0.5) {
        steps.push_back(0.5);
        left /= 0.5;
    }
    while (left > 100.0) {
        steps.push_back(100.0);
        left /= 100.0;
    }
    steps.push_back(left);
    AVFilterContext* previous = a.source;
    for (size_t i = 0; i < steps.size(); ++i) {
        std::string name = "tempo" + std::to_string(i);
        AVFilterContext* tempo = avfilter_graph_alloc_filter(g, avfilter_get_by_name("atempo"), name.c_str());
        if (!tempo) {
            LOGE("movie: FFmpeg has no atempo filter");
            return false;
        }
        ret = av_opt_set_double(tempo, "tempo", steps[i], AV_OPT_SEARCH_CHILDREN);
        if (ret >= 0)
            ret = avfilter_init_str(tempo, nullptr);
        if (ret >= 0)
            ret = avfilter_link(previous, 0, tempo, 0);
        if (ret < 0) {
            LOG_AV(ret, "setting up atempo=%g", steps[i]);
            return false;
        }
        previous = tempo;
    }
    AVFilterContext* format = nullptr;
    ret =
        avfilter_graph_create_filter(&format, avfilter_get_by_name("aformat"), "format",
                                     "sample_fmts=s16:sample_rates=44100:channel_layouts=stereo", nullptr, g);
    if (ret >= 0)
        ret = avfilter_link(previous, 0, format, 0);
    if (ret >= 0)
        ret = avfilter_link(format, 0, a.sink, 0);
    if (ret >= 0)
        ret = avfilter_graph_config(g, nullptr);
    if (ret < 0) {
        LOG_AV(ret, "configuring the tempo filter for rate %g", rate);
        return false;
    }
    return true;
}

bool openAudio(Movie& m, Container container, const MVSettings& s) {
    const char* name = container == Container::Mp4    ? "aac"
                       : container == Container::Wav  ? "pcm_s16le"
                       : container == Container::Flac ? "flac"
                                                      : "libmp3lame";
    const AVCodec* encoder = avcodec_find_encoder_by_name(name);
    if (!encoder) {
        LOGE("movie: FFmpeg has no %s encoder", name);
        return false;
    }
    auto a = std::make_unique<AudioTrack>();
    a->codec.reset(avcodec_alloc_context3(encoder));
    a->frame.reset(av_frame_alloc());
    a->packet.reset(av_packet_alloc());
    if (!a->codec || !a->frame || !a->packet) {
        LOGE("movie: out of memory for the audio encoder");
        return false;
    }
    AVCodecContext* c = a->codec.get();
    // The log's FFmpeg lines from this encoder name the file written.
    c->opaque = const_cast<char*>(m.path.c_str());
    c->sample_rate = kSampleRate;
    av_channel_layout_default(&c->ch_layout, kChannels);
    c->sample_fmt = pickSampleFormat(encoder);
    // The lossless kinds take the samples as they come.
    if (container != Container::Wav && container != Container::Flac)
        c->bit_rate = container == Container::Mp4 ? 128000 : 192000;
    c->time_base = AVRational{1, kSampleRate};
    if (!openEncoder(m, c, nullptr) || !addStream(m, c, &a->stream))
        return false;
    a->frameSize = c->frame_size > 0 ? c->frame_size : 1024;
    // AVI has no start times: its sound starts at zero whatever the encoder's
    // priming, and shifting every stream to make that so would delay the
    // pictures by a frame, which AVI writes as a repeated first frame.
    // Players decode that priming as sound, too: as many samples are taken
    // off the front, so that the sound a player gives is heard with its
    // pictures and not 25 ms after them.
    if (container == Container::Avi) {
        a->shift = c->initial_padding;
        a->dropFront = c->initial_padding;
    }

    a->frame->format = c->sample_fmt;
    a->frame->nb_samples = a->frameSize;
    a->frame->sample_rate = kSampleRate;
    int ret = av_channel_layout_copy(&a->frame->ch_layout, &c->ch_layout);
    if (ret >= 0)
        ret = av_frame_get_buffer(a->frame.get(), 0);
    if (ret < 0) {
        LOG_AV(ret, "allocating an audio frame");
        return false;
    }
    a->chunk.resize(size_t(a->frameSize) * kChannels);

    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* swr = nullptr;
    ret = swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, kSampleRate, &stereo, AV_SAMPLE_FMT_S16,
                              kSampleRate, 0, nullptr);
    a->converter.reset(swr);
    if (ret >= 0)
        ret = swr_init(swr);
    if (ret < 0) {
        LOG_AV(ret, "setting up the s16 to %s converter", av_get_sample_fmt_name(c->sample_fmt));
        return false;
    }
    a->fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, kChannels, a->frameSize * 4));
    if (!a->fifo) {
        LOGE("movie: out of memory for the audio queue");
        return false;
    }
    if (s.playRate != 1.0 && !buildTempo(*a, s.playRate))
        return false;
    m.audio = std::move(a);
    return true;
}

// Encodes `count` samples from the queue (fewer than a frame only at the end).
int encodeQueued(Movie& m, AudioTrack& a, int count) {
    void* chunk = a.chunk.data();
    int got = av_audio_fifo_read(a.fifo.get(), &chunk, count);
    if (got < 0) {
        LOG_AV(got, "reading the audio queue");
        return got;
    }
    int send = got;
    // Encoders that take a short last frame (or any size, as PCM) get no
    // padding: the file ends where the sound does.
    if (got < a.frameSize &&
        !(a.codec->codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE))) {
        std::memset(a.chunk.data() + size_t(got) * kChannels, 0, size_t(a.frameSize - got) * kBytesPerSample);
        send = a.frameSize;
    }
    AVFrame* f = a.frame.get();
    f->nb_samples = a.frameSize; // a buffer made anew must hold a whole frame
    int ret = av_frame_make_writable(f);
    if (ret < 0) {
        LOG_AV(ret, "making the audio frame writable");
        return ret;
    }
    const uint8_t* in = reinterpret_cast<const uint8_t*>(a.chunk.data());
    ret = swr_convert(a.converter.get(), f->data, send, &in, send);
    if (ret < 0) {
        LOG_AV(ret, "converting sound for the %s encoder", a.codec->codec->name);
        return ret;
    }
    f->nb_samples = ret;
    f->pts = a.samplesOut;
    a.samplesOut += ret;
    return encode(m, a.codec.get(), a.stream, a.packet.get(), f, a.shift);
}

int queueSamples(Movie& m, AudioTrack& a, const int16_t* pcm, int count) {
    if (a.dropFront > 0) {
        const int dropped = int(std::min<int64_t>(a.dropFront, count));
        a.dropFront -= dropped;
        pcm += size_t(dropped) * kChannels;
        count -= dropped;
        if (count == 0)
            return 0;
    }
    void* data = const_cast<int16_t*>(pcm);
    int ret = av_audio_fifo_write(a.fifo.get(), &data, count);
    if (ret < 0) {
        LOG_AV(ret, "queueing %d audio samples", count);
        return ret;
    }
    while (av_audio_fifo_size(a.fifo.get()) >= a.frameSize) {
        ret = encodeQueued(m, a, a.frameSize);
        if (ret < 0)
            return ret;
    }
    return 0;
}

// The tempo filter's output for the whole source, in whole samples: the
// file's sound is exactly the source's length divided by the rate, as the
// pictures are, whatever the filter's tail gives or keeps.
int64_t tempoLength(const AudioTrack& a) {
    return std::llround(double(a.sourceEnd) / a.tempo);
}

// Moves what the tempo filter has ready into the queue.
int drainTempo(Movie& m, AudioTrack& a) {
    for (;;) {
        AVFrame* out = a.filterOut.get();
        int ret = av_buffersink_get_frame(a.sink, out);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0) {
            LOG_AV(ret, "reading the tempo filter");
            return ret;
        }
        const int count = a.sourceEnd >= 0 ? int(std::clamp<int64_t>(tempoLength(a) - a.tempoOut, 0, out->nb_samples))
                                           : out->nb_samples;
        a.tempoOut += count;
        ret = count > 0 ? queueSamples(m, a, reinterpret_cast<const int16_t*>(out->data[0]), count) : 0;
        av_frame_unref(out);
        if (ret < 0)
            return ret;
    }
}

// Takes source samples; a null pcm stands for silence.
int feedSamples(Movie& m, AudioTrack& a, const int16_t* pcm, int count) {
    static const int16_t silence[4096 * kChannels] = {};
    if (!pcm) {
        while (count > 0) {
            int n = std::min(count, 4096);
            int ret = feedSamples(m, a, silence, n);
            if (ret < 0)
                return ret;
            count -= n;
        }
        return 0;
    }
    int64_t start = a.samplesIn;
    a.samplesIn += count;
    if (!a.graph)
        return queueSamples(m, a, pcm, count);

    AVFrame* in = a.filterIn.get();
    in->format = AV_SAMPLE_FMT_S16;
    in->sample_rate = kSampleRate;
    in->nb_samples = count;
    in->pts = start;
    av_channel_layout_default(&in->ch_layout, kChannels);
    int ret = av_frame_get_buffer(in, 0);
    if (ret < 0) {
        LOG_AV(ret, "allocating %d samples for the tempo filter", count);
        return ret;
    }
    std::memcpy(in->data[0], pcm, size_t(count) * kBytesPerSample);
    ret = av_buffersrc_add_frame_flags(a.source, in, 0);
    av_frame_unref(in);
    if (ret < 0) {
        LOG_AV(ret, "feeding the tempo filter");
        return ret;
    }
    return drainTempo(m, a);
}

// "title:<text>;comment:<text>": a ';' not followed by a key stays in the text.
void setMetadata(AVFormatContext* format, const char* text) {
    if (!text || !*text)
        return;
    std::string all(text);
    std::string key;
    std::string value;
    auto flush = [&] {
        if (!key.empty())
            av_dict_set(&format->metadata, key.c_str(), value.c_str(), 0);
    };
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t end = all.find(';', pos);
        if (end == std::string::npos)
            end = all.size();
        std::string piece = all.substr(pos, end - pos);
        const char* found = nullptr;
        for (const char* k : {"title", "comment"}) {
            size_t n = std::strlen(k);
            if (piece.compare(0, n, k) == 0 && piece.size() > n && piece[n] == ':')
                found = k;
        }
        if (found) {
            flush();
            key = found;
            value = piece.substr(key.size() + 1);
        } else if (!key.empty()) {
            value += ";" + piece;
        }
        pos = end + 1;
    }
    flush();
}

bool containerOf(const std::string& path, Container* container) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    std::string ext = path.substr(dot + 1);
    for (char& ch : ext)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    if (ext == "mp4")
        *container = Container::Mp4;
    else if (ext == "avi")
        *container = Container::Avi;
    else if (ext == "mp3")
        *container = Container::Mp3;
    else if (ext == "wav")
        *container = Container::Wav;
    else if (ext == "flac")
        *container = Container::Flac;
    else
        return false;
    return true;
}

} // namespace

std::string create_movie_failure() { return t_createFailure; }

Movie* create_movie(const MVSettings* settings, const char* pathUtf8) {
    t_createFailure.clear();
    if (!settings || !pathUtf8 || !*pathUtf8) {
        LOGE("movie: create_movie needs settings and a path");
        return nullptr;
    }
    const MVSettings& s = *settings;
    std::string path(pathUtf8);
    Container container;
    if (!containerOf(path, &container)) {
        LOGE("movie: %s: only .mp4, .avi, .mp3, .wav and .flac files can be written", pathUtf8);
        return nullptr;
    }
    const bool soundKind = container == Container::Mp3 || container == Container::Wav || container == Container::Flac;
    bool withVideo = !soundKind && !s.audioOnly;
    const bool withAudio = !s.noSound;
    if (!withVideo && !withAudio) {
        LOGE("movie: %s: a file without pictures needs its sound", pathUtf8);
        return nullptr;
    }
    if (!std::isfinite(s.playRate) || s.playRate < 0.01 || s.playRate > 100.0) {
        LOGE("movie: %s: play rate %g is outside 0.01 to 100", pathUtf8, s.playRate);
        return nullptr;
    }
    int width = s.width & ~1;
    int height = s.height & ~1;
    if (withVideo) {
        if (width <= 0 || height <= 0) {
            LOGE("movie: %s: picture size %dx%d is too small", pathUtf8, s.width, s.height);
            return nullptr;
        }
        if (s.frameRate <= 0) {
            LOGE("movie: %s: frame rate %d is not positive", pathUtf8, s.frameRate);
            return nullptr;
        }
        if (width != s.width || height != s.height)
            LOGW("movie: %s: %dx%d rounded down to %dx%d for 4:2:0 video", pathUtf8, s.width, s.height, width,
                 height);
    }
    if ((s.audioChannels && s.audioChannels != kChannels) ||
        (s.audioSampleRate && s.audioSampleRate != kSampleRate))
        LOGW("movie: sound is taken as 16-bit stereo 44100 Hz, not %d channels at %" PRId64 " Hz",
             s.audioChannels, s.audioSampleRate);

    auto m = std::make_unique<Movie>();
    m->path = path;
    // "file:" keeps FFmpeg from reading a protocol into a name with a colon.
    m->url = "file:" + path;
    m->width = s.width;
    m->height = s.height;
    static const char* const formatNames[] = {"mp4", "avi", "mp3", "wav", "flac"};
    AVFormatContext* format = nullptr;
    int ret = avformat_alloc_output_context2(&format, nullptr, formatNames[int(container)], m->url.c_str());
    m->format.reset(format);
    if (ret < 0 || !format) {
        LOG_AV(ret, "no %s muxer for %s", formatNames[int(container)], pathUtf8);
        return nullptr;
    }
    if (withVideo && !openVideo(*m, container, s, width, height))
        return nullptr;
    if (withAudio && !openAudio(*m, container, s))
        return nullptr;
    setMetadata(format, s.metadata);

    ret = avio_open(&format->pb, m->url.c_str(), AVIO_FLAG_WRITE);
    if (ret < 0) {
        LOG_AV(ret, "cannot open %s for writing", pathUtf8);
        t_createFailure = errorText(ret);
        return nullptr;
    }
    Options options;
    if (container == Container::Mp4)
        av_dict_set(&options.dict, "movflags", "+faststart", 0); // index first, so players can start early
    ret = avformat_write_header(format, &options.dict);
    if (ret < 0) {
        LOG_AV(ret, "writing the header of %s", pathUtf8);
        t_createFailure = errorText(ret);
        return nullptr;
    }
    LOGD("movie: writing %s (%s%s%s, play rate %g)", pathUtf8, withVideo ? m->video->codec->codec->name : "",
         withVideo && withAudio ? " + " : "", withAudio ? m->audio->codec->codec->name : "", s.playRate);
    return m.release();
}

namespace {

// One picture into the next frame slot: fill writes the reused frame's
// planes. Pictures that do not follow the last one are dropped (the muxer
// needs rising timestamps), with one warning.
template <typename Fill>
int encodePicture(Movie& movie, int64_t pts, Fill fill) {
    if (movie.broken)
        return AVERROR(EIO);
    VideoTrack& v = *movie.video;
    std::lock_guard<std::mutex> hold(v.lock);
    const int64_t slot = av_rescale_q(pts, kMicroseconds, v.slotBase);
    if (slot <= v.lastSlot) {
        if (!v.warnedOrder) {
            v.warnedOrder = true;
            LOGW("movie: picture at %" PRId64 " us does not follow the last one; such pictures are dropped",
                 pts);
        }
        return 0;
    }
    AVFrame* f = v.frame.get();
    const int ret = av_frame_make_writable(f);
    if (ret < 0) {
        LOG_AV(ret, "making the picture writable");
        return ret;
    }
    fill(v, f);
    f->pts = slot;
    v.lastSlot = slot;
    return encode(movie, v.codec.get(), v.stream, v.packet.get(), f);
}

} // namespace

int push_image_frame(Movie* movie, const uint8_t* pixels, size_t byteCount, int bytesPerRow, int64_t pts,
                     int ptsType) {
    if (!movie) {
        LOGE("movie: push_image_frame on no movie");
        return AVERROR(EINVAL);
    }
    if (!movie->video)
        return 0; // sound only: pictures are not written
    if (ptsType != PTS_MICROSECONDS) {
        LOGE("movie: timestamp type %d is not microseconds", ptsType);
        return AVERROR(EINVAL);
    }
    if (!pixels || bytesPerRow < movie->width * 4 || byteCount % size_t(bytesPerRow) != 0 ||
        byteCount / size_t(bytesPerRow) != size_t(movie->height)) {
        LOGE("movie: picture of %zu bytes, %d per row, is not %dx%d RGBA", byteCount, bytesPerRow,
             movie->width, movie->height);
        return AVERROR(EINVAL);
    }
    return encodePicture(*movie, pts, [&](VideoTrack& v, AVFrame* f) {
        const uint8_t* const planes[1] = {pixels};
        const int strides[1] = {bytesPerRow};
        sws_scale(v.scaler.get(), planes, strides, 0, f->height, f->data, f->linesize);
    });
}

int picture_matrix(const Movie* movie) {
    if (!movie || !movie->video)
        return 0;
    const AVCodecContext* c = movie->video->codec.get();
    if (c->pix_fmt != AV_PIX_FMT_YUV420P || c->color_range != AVCOL_RANGE_MPEG || c->width != movie->width ||
        c->height != movie->height)
        return 0;
    return c->colorspace == AVCOL_SPC_BT709 ? 709 : c->colorspace == AVCOL_SPC_SMPTE170M ? 601 : 0;
}

int push_yuv420_frame(Movie* movie, const uint8_t* planes, size_t byteCount, int64_t pts, int ptsType) {
    if (!movie) {
        LOGE("movie: push_yuv420_frame on no movie");
        return AVERROR(EINVAL);
    }
    if (!movie->video)
        return 0; // sound only: pictures are not written
    const int w = movie->width, h = movie->height;
    const size_t luma = size_t(w) * size_t(h);
    if (!planes || byteCount != luma + luma / 2) {
        LOGE("movie: %zu bytes are not a %dx%d YUV 4:2:0 picture this movie takes", byteCount, w, h);
        return AVERROR(EINVAL);
    }
    // The planes follow one another without gaps: Y, then U, then V.
    const uint8_t* const from[3] = {planes, planes + luma, planes + luma + luma / 4};
    const int fromStride[3] = {w, w / 2, w / 2};
    return push_yuv420_planes(movie, from, fromStride, pts, ptsType);
}

int push_yuv420_planes(Movie* movie, const uint8_t* const planes[3], const int strides[3], int64_t pts,
                       int ptsType) {
    if (!movie) {
        LOGE("movie: push_yuv420_planes on no movie");
        return AVERROR(EINVAL);
    }
    if (!movie->video)
        return 0; // sound only: pictures are not written
    if (ptsType != PTS_MICROSECONDS) {
        LOGE("movie: timestamp type %d is not microseconds", ptsType);
        return AVERROR(EINVAL);
    }
    const int w = movie->width, h = movie->height;
    if (!planes || !planes[0] || !planes[1] || !planes[2] || strides[0] < w || strides[1] < w / 2 ||
        strides[2] < w / 2 || w % 2 || h % 2 || picture_matrix(movie) == 0) {
        LOGE("movie: the planes are not a %dx%d YUV 4:2:0 picture this movie takes", w, h);
        return AVERROR(EINVAL);
    }
    return encodePicture(*movie, pts, [&](VideoTrack&, AVFrame* f) {
        av_image_copy(f->data, f->linesize, const_cast<const uint8_t**>(planes), strides, AV_PIX_FMT_YUV420P, w, h);
    });
}

int push_pcm_frame(Movie* movie, const uint8_t* pcm, size_t byteCount, int64_t pts, int ptsType) {
    if (!movie) {
        LOGE("movie: push_pcm_frame on no movie");
        return AVERROR(EINVAL);
    }
    if (ptsType != PTS_MICROSECONDS) {
        LOGE("movie: timestamp type %d is not microseconds", ptsType);
        return AVERROR(EINVAL);
    }
    if ((!pcm && byteCount) || byteCount % kBytesPerSample != 0 ||
        byteCount / kBytesPerSample > size_t(INT_MAX)) {
        LOGE("movie: %zu bytes are not whole 16-bit stereo samples", byteCount);
        return AVERROR(EINVAL);
    }
    if (movie->broken)
        return AVERROR(EIO);
    if (byteCount == 0 || !movie->audio)
        return 0; // no sound stream: the sound is not written
    AudioTrack& a = *movie->audio;
    std::lock_guard<std::mutex> hold(a.lock);
    // Timestamps follow the samples counted so far; pts only marks gaps.
    int64_t at = av_rescale(pts, kSampleRate, 1000000);
    int64_t gap = at - a.samplesIn;
    if (gap > kMaxGap || gap < -kGapTolerance) {
        bool& warned = gap > 0 ? a.warnedJump : a.warnedOrder;
        if (!warned) {
            warned = true;
            LOGW("movie: sound at %" PRId64 " us is %" PRId64 " samples off; it follows on without a gap",
                 pts, gap);
        }
    } else if (gap > kGapTolerance) {
        int ret = feedSamples(*movie, a, nullptr, int(gap));
        if (ret < 0)
            return ret;
    }
    return feedSamples(*movie, a, reinterpret_cast<const int16_t*>(pcm), int(byteCount / kBytesPerSample));
}

bool stop_movie(Movie** handle) {
    if (!handle || !*handle)
        return false;
    std::unique_ptr<Movie> m(*handle);
    *handle = nullptr;
    bool ok = !m->broken;
    if (m->video) {
        VideoTrack& v = *m->video;
        std::lock_guard<std::mutex> hold(v.lock);
        ok = encode(*m, v.codec.get(), v.stream, v.packet.get(), nullptr) >= 0 && ok;
    }
    if (m->audio) {
        AudioTrack& a = *m->audio;
        std::lock_guard<std::mutex> hold(a.lock);
        int ret = 0;
        if (a.graph) {
            // The filter keeps back part of its last window: silence after
            // the source's end pushes the source's own sound out, and what
            // follows it is cut off at the exact length.
            a.sourceEnd = a.samplesIn;
            ret = feedSamples(*m, a, nullptr, 8192);
            if (ret >= 0)
                ret = av_buffersrc_add_frame_flags(a.source, nullptr, 0);
            if (ret < 0)
                LOG_AV(ret, "closing the tempo filter");
            else
                ret = drainTempo(*m, a);
            // Should the filter still give less, silence makes up the length.
            static const int16_t silence[4096 * kChannels] = {};
            while (ret >= 0 && a.tempoOut < tempoLength(a)) {
                const int count = int(std::min<int64_t>(tempoLength(a) - a.tempoOut, 4096));
                a.tempoOut += count;
                ret = queueSamples(*m, a, silence, count);
            }
        }
        while (ret >= 0 && av_audio_fifo_size(a.fifo.get()) > 0)
            ret = encodeQueued(*m, a, std::min(av_audio_fifo_size(a.fifo.get()), a.frameSize));
        if (ret >= 0)
            ret = encode(*m, a.codec.get(), a.stream, a.packet.get(), nullptr, a.shift);
        ok = ret >= 0 && ok;
    }
    std::lock_guard<std::mutex> hold(m->muxLock);
    const char* failedStep = "";
    int ret = ffmpeg::finishOutput(std::move(m->format), &failedStep);
    if (ret < 0) {
        LOG_AV(ret, "%s %s", failedStep, m->path.c_str());
        ok = false;
    }
    if (!ok) {
        // A file without its trailer or with a hole does not play: it is
        // not left behind looking like an export.
        if (std::remove(m->path.c_str()) == 0)
            LOGE("movie: %s is incomplete and was removed", m->path.c_str());
        return false;
    }
    LOGD("movie: %s written", m->path.c_str());
    return true;
}

} // namespace mv
