#include "ffmpeg/ffmpeg-owners.h"

namespace ffmpeg {

void OutputFreer::operator()(AVFormatContext* c) const {
    if (c->pb && !(c->oformat->flags & AVFMT_NOFILE))
        avio_closep(&c->pb);
    avformat_free_context(c);
}

std::string errorText(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(err, text, sizeof text);
    return text;
}

int finishOutput(OutputPtr output, const char** failedStep) {
    if (!output)
        return AVERROR(EINVAL);
    int result = av_write_trailer(output.get());
    if (result < 0 && failedStep)
        *failedStep = "writing the trailer of";
    // The trailer may sit in the buffer still: only the close tells whether
    // it reached the disk.
    if (output->pb && !(output->oformat->flags & AVFMT_NOFILE)) {
        avio_flush(output->pb);
        int flushed = output->pb->error;
        int closed = avio_closep(&output->pb);
        if (closed >= 0 && flushed < 0)
            closed = flushed;
        if (result >= 0 && closed < 0) {
            result = closed;
            if (failedStep)
                *failedStep = "closing";
        }
    }
    return result;
}

} // namespace ffmpeg
