#include "audio-decoder-task.h"

#include "render/audio/audio_mixer_player.h"
#include "value/interface.h"

AudioDecoderTask::AudioDecoderTask(const QString& path) : m_path(path) {
    LOGD("Audio DecoderTask");
    QByteArray utf8 = path.toUtf8();
    std::shared_ptr<ff::MovieCtx> info = ff::getMovieInfo(utf8.constData(), nullptr);
    if (!info) {
        LOGW("audio: %s cannot be read; its clips stay silent", utf8.constData());
        return;
    }
    m_audioStreams = info->audioStreams;
    if (m_audioStreams > 0) {
        bool opened = m_decoder.open(utf8.constData(), info->bestAudioStream);
        LOGD("Success: %d", int(opened));
    }
}

AudioDecoderTask::~AudioDecoderTask() {
    LOGD("~Audio DecoderTask");
    m_decoder.close();
}

void AudioDecoderTask::decodeInto(int64_t num, int64_t den, int volume) {
    AudioMixerPlayer* mixer = AudioMixerPlayer::instance();
    if (m_audioStreams <= 0 || !mixer->isOpen() || den <= 0)
        return;
    int rate = 44100, channels = 2, format = ff::SF_S16;
    mixer->getFormat(&rate, &channels, &format);
    ff::RequireAudioFrame request;
    request.start = {num, den};
    request.end = {num + 1, den};
    request.format = ff::SampleFormat(format);
    request.sampleRate = rate;
    request.channels = channels;
    request.reserved = 0;
    if (ff::AFramePtr frame = m_decoder.getAudioFrame(request))
        mixer->write(this, frame, volume);
}
