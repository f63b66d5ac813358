#include "peaks.h"

#include "av-util.h"
#include "value/interface.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace ff {

namespace {

// One stretch of peaks [binFrom, binTo) made by one reader of the file. Two
// windows never write the same peak, so they may run side by side.
struct Window {
    int64_t binFrom = 0;
    int64_t binTo = 0; // exclusive; grows with the stream when `growing`
    bool growing = false;
    bool ok = false;
    bool cancelled = false;
};

int16_t toPeak(double v) {
    if (std::isnan(v))
        return 0; // a broken decoder's output is no sound
    const double s = std::round(v * 32767.0);
    return int16_t(std::clamp(s, -32768.0, 32767.0));
}

template <class T>
void rangeOf(const T* p, int step, int n, T* lo, T* hi) {
    T mn = p[0], mx = p[0];
    for (int i = 1; i < n; ++i) {
        const T v = p[i * step];
        mn = v < mn ? v : mn;
        mx = v > mx ? v : mx;
    }
    *lo = mn;
    *hi = mx;
}

// A sample on the full 16-bit scale. Every conversion keeps the order, so
// the smallest and largest of a stretch may be converted alone.
int16_t peakOf(uint8_t v) { return int16_t((int(v) - 128) * 256); }
int16_t peakOf(int16_t v) { return v; }
int16_t peakOf(int32_t v) { return int16_t(v >> 16); }
int16_t peakOf(float v) { return toPeak(v); }
int16_t peakOf(double v) { return toPeak(v); }

// Smallest and largest of `n` samples `step` apart, on the full 16-bit scale.
template <class T>
void sampleRange(const uint8_t* data, int step, int n, int16_t* lo, int16_t* hi) {
    T a, b;
    rangeOf(reinterpret_cast<const T*>(data), step, n, &a, &b);
    *lo = peakOf(a);
    *hi = peakOf(b);
}

using RangeFn = void (*)(const uint8_t*, int, int, int16_t*, int16_t*);

RangeFn rangeFor(AVSampleFormat format) {
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: return sampleRange<uint8_t>;
    case AV_SAMPLE_FMT_S16: return sampleRange<int16_t>;
    case AV_SAMPLE_FMT_S32: return sampleRange<int32_t>;
    case AV_SAMPLE_FMT_FLT: return sampleRange<float>;
    case AV_SAMPLE_FMT_DBL: return sampleRange<double>;
    default: return nullptr;
    }
}

struct Job {
    const char* path = nullptr;
    int stream = -1;
    int peaksPerSecond = 0;
    int lanes = 0;
    std::atomic<bool>* cancel = nullptr;
    AudioPeaks* out = nullptr;
};

// Folds one decoded frame into the window's peaks. `first` is the frame's
// first sample, counted from the start of the stream.
void addFrame(const Job& job, Window& w, const AVFrame* frame, int64_t first) {
    const int rate = frame->sample_rate;
    const int channels = frame->ch_layout.nb_channels;
    const RangeFn range = rangeFor(AVSampleFormat(frame->format));
    if (rate <= 0 || channels <= 0 || !range)
        return;
    const bool planar = av_sample_fmt_is_planar(AVSampleFormat(frame->format));
    const int bytes = av_get_bytes_per_sample(AVSampleFormat(frame->format));
    const int pps = job.peaksPerSecond;
    const int64_t limit = int64_t(kMaxPeakHours) * 3600 * pps;
    AudioPeaks& peaks = *job.out;
    int64_t s = first;
    int j = 0;
    if (s < 0) { // samples before the stream's start (encoder priming)
        j = int(std::min<int64_t>(-s, frame->nb_samples));
        s += j;
    }
    while (j < frame->nb_samples) {
        const int64_t bin = s * pps / rate;
        const int64_t nextBinStart = ((bin + 1) * rate + pps - 1) / pps;
        const int take = int(std::min<int64_t>(frame->nb_samples - j, nextBinStart - s));
        if (bin >= w.binFrom && bin < limit) {
            if (bin >= w.binTo) {
                if (!w.growing)
                    return;
                w.binTo = bin + 1;
            }
            if (bin >= peaks.count) {
                peaks.count = bin + 1;
                peaks.values.resize(size_t(peaks.count * job.lanes * 2), 0);
            }
            for (int c = 0; c < channels; ++c) {
                const uint8_t* base = planar ? frame->extended_data[c] + size_t(j) * bytes
                                             : frame->extended_data[0] + (size_t(j) * channels + c) * bytes;
                int16_t lo, hi;
                range(base, planar ? 1 : channels, take, &lo, &hi);
                int16_t* slot = &peaks.values[size_t((bin * job.lanes + (c % job.lanes)) * 2)];
                slot[0] = std::min(slot[0], lo);
                slot[1] = std::max(slot[1], hi);
            }
        }
        s += take;
        j += take;
    }
}

// Reads the window's stretch of the stream with a reader of its own.
void runWindow(const Job& job, Window* w) {
    av::FormatPtr format = av::openInput(job.path, job.cancel);
    if (!format)
        return;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = int(i) == job.stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream* stream = format->streams[job.stream];
    av::CodecPtr codec = av::openDecoder(format.get(), job.stream, job.path, 1);
    if (!codec)
        return;
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const int pps = job.peaksPerSecond;
    const AVRational binBase {1, pps};
    if (w->binFrom > 0) {
        // A second back, so that the decoder has settled by the window's start.
        const int64_t target = start + av_rescale_q(std::max<int64_t>(0, w->binFrom - pps), binBase, stream->time_base);
        const int err = avformat_seek_file(format.get(), job.stream, std::numeric_limits<int64_t>::min(), target,
                                           target, AVSEEK_FLAG_BACKWARD);
        if (err < 0) {
            av::logError("peaks: cannot seek in", job.path, err);
            return;
        }
    }
    av::PacketPtr packet(av_packet_alloc());
    av::FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        return;
    int64_t next = 0; // the sample after the last one seen, for frames without a time
    bool known = false;
    bool draining = false;
    while (true) {
        if (job.cancel && job.cancel->load()) {
            w->cancelled = true;
            return;
        }
        int err = 0;
        if (!draining) {
            err = av_read_frame(format.get(), packet.get());
            if (err == AVERROR_EOF) {
                draining = true;
                avcodec_send_packet(codec.get(), nullptr);
            } else if (err < 0) {
                av::logError("peaks: read error in", job.path, err);
                draining = true; // keep what was read: a cut file still shows its start
                avcodec_send_packet(codec.get(), nullptr);
            } else {
                if (packet->stream_index == job.stream) {
                    err = avcodec_send_packet(codec.get(), packet.get());
                    if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_INVALIDDATA)
                        av::logError("peaks: decoder refused a packet of", job.path, err);
                }
                av_packet_unref(packet.get());
            }
        }
        while ((err = avcodec_receive_frame(codec.get(), frame.get())) >= 0) {
            int64_t first = next;
            const int64_t ts = frame->best_effort_timestamp;
            if (ts != AV_NOPTS_VALUE && frame->sample_rate > 0)
                first = av_rescale_q(ts - start, stream->time_base, AVRational {1, frame->sample_rate});
            else if (!known)
                first = av_rescale_q(w->binFrom, binBase, AVRational {1, std::max(1, frame->sample_rate)});
            known = true;
            next = first + frame->nb_samples;
            const bool past = !w->growing && frame->sample_rate > 0 &&
                              first * pps / frame->sample_rate >= w->binTo;
            if (!past)
                addFrame(job, *w, frame.get(), first);
            av_frame_unref(frame.get());
            if (past) {
                w->ok = true;
                return;
            }
        }
        if (err == AVERROR_EOF)
            break;
        if (err != AVERROR(EAGAIN)) {
            av::logError("peaks: decoding failed in", job.path, err);
            break;
        }
    }
    w->ok = true;
}

} // namespace

PeaksResult computeAudioPeaks(const char* pathUtf8, int peaksPerSecond, std::atomic<bool>* cancel, AudioPeaks* out) {
    *out = AudioPeaks();
    if (!pathUtf8 || peaksPerSecond <= 0)
        return PeaksResult::Failed;
    // Also for a file without sound: its flat line is kept as such and read back.
    out->peaksPerSecond = peaksPerSecond;
    av::FormatPtr format = av::openInput(pathUtf8, cancel);
    if (!format)
        return cancel && cancel->load() ? PeaksResult::Cancelled : PeaksResult::Failed;
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0)
        return PeaksResult::NoSound;
    const AVStream* st = format->streams[stream];
    const int channels = st->codecpar->ch_layout.nb_channels;
    if (channels <= 0 || st->codecpar->sample_rate <= 0) {
        LOGW("peaks: the sound of %s has no channels or rate", pathUtf8);
        return PeaksResult::NoSound;
    }
    Job job;
    job.path = pathUtf8;
    job.stream = stream;
    job.peaksPerSecond = peaksPerSecond;
    job.lanes = channels >= 2 ? 2 : 1;
    job.cancel = cancel;
    out->peaksPerSecond = peaksPerSecond;
    out->lanes = job.lanes;

    int64_t durationUs = 0;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        durationUs = av_rescale_q(st->duration, st->time_base, AVRational {1, 1000000});
    else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        durationUs = format->duration;
    const bool seekable = format->pb && (format->pb->seekable & AVIO_SEEKABLE_NORMAL);
    const int64_t expected = durationUs * peaksPerSecond / 1000000;
    format.reset();

    // A long file is read by two readers at once, each its own half: on two
    // cores that halves the wait. The last window follows the stream to its
    // real end, whatever the header said.
    const int parts = seekable && durationUs > 120 * 1000000LL ? 2 : 1;
    std::vector<Window> windows(static_cast<size_t>(parts));
    for (int i = 0; i < parts; ++i) {
        windows[size_t(i)].binFrom = expected * i / parts;
        windows[size_t(i)].binTo = expected * (i + 1) / parts;
    }
    windows.back().growing = true;
    out->count = std::min<int64_t>(expected, int64_t(kMaxPeakHours) * 3600 * peaksPerSecond);
    out->values.assign(size_t(out->count * job.lanes * 2), 0);
    job.out = out;
    if (parts == 1) {
        runWindow(job, &windows[0]);
    } else {
        // The growing window may resize the vector while another writes into
        // it: give every window but the last its own peaks and copy them in.
        std::vector<AudioPeaks> own(static_cast<size_t>(parts - 1), *out);
        std::vector<std::thread> threads;
        for (int i = 0; i < parts - 1; ++i) {
            Job mine = job;
            mine.out = &own[size_t(i)];
            threads.emplace_back([mine, w = &windows[size_t(i)]] { runWindow(mine, w); });
        }
        job.out = out;
        runWindow(job, &windows.back());
        for (std::thread& t : threads)
            t.join();
        for (int i = 0; i < parts - 1; ++i) {
            const Window& w = windows[size_t(i)];
            const AudioPeaks& p = own[size_t(i)];
            const int64_t to = std::min({w.binTo, p.count, out->count});
            for (int64_t b = w.binFrom; b < to; ++b)
                for (int v = 0; v < job.lanes * 2; ++v)
                    out->values[size_t(b * job.lanes * 2 + v)] = p.values[size_t(b * job.lanes * 2 + v)];
        }
    }
    for (const Window& w : windows) {
        if (w.cancelled)
            return PeaksResult::Cancelled;
    }
    bool ok = true;
    for (const Window& w : windows)
        ok = ok && w.ok;
    if (!ok && parts > 1) {
        // A reader that could not seek: read the whole stream in one go.
        LOGW("peaks: %s is read again from its start", pathUtf8);
        Window whole;
        whole.binTo = out->count;
        whole.growing = true;
        std::fill(out->values.begin(), out->values.end(), int16_t(0));
        runWindow(job, &whole);
        if (whole.cancelled)
            return PeaksResult::Cancelled;
        ok = whole.ok;
    }
    if (!ok) {
        *out = AudioPeaks();
        return PeaksResult::Failed;
    }
    return PeaksResult::Ok;
}

} // namespace ff
