// Owners of FFmpeg's objects and the text of its error codes, for every
// part of the program that calls FFmpeg (decoding, probing, the movie
// writer). Each owner frees its object with the call FFmpeg asks for; a
// null owner frees nothing.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace ffmpeg {

// An opened input (avformat_open_input).
struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
// An output being written (avformat_alloc_output_context2 and avio_open).
// Freeing it closes the file without a trailer and without looking at the
// result: that is the path of a failed writer. A writer that finishes
// calls finishOutput() instead, which says whether the file is whole.
struct OutputFreer {
    void operator()(AVFormatContext* c) const;
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFreer>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

// FFmpeg's text for an error code (av_strerror).
std::string errorText(int err);

// Writes the trailer, then closes the file (flushing what is buffered) and
// frees the output. Returns 0 when all of that worked, else the first
// failure's code; the output is freed either way. `failedStep` names the
// step that failed ("writing the trailer", "closing the file").
int finishOutput(OutputPtr output, const char** failedStep);

} // namespace ffmpeg
