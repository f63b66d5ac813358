#include "audio_mixer_player.h"

#include "value/interface.h"

#include <chrono>
#include <thread>

AudioMixerPlayer* AudioMixerPlayer::instance() {
    static AudioMixerPlayer* player = new AudioMixerPlayer; // lives with the process
    return player;
}

bool AudioMixerPlayer::open(int channels, int rate, int format, bool withOutput) {
    if (!m_mixer) {
        m_mixer = std::make_unique<ff::AudioMixer>(rate, channels, ff::SF_S16);
        m_channels = channels;
        m_rate = rate;
        m_format = format;
    }
    if (withOutput && !m_output) {
        m_output = std::make_unique<zya::AudioPlayer>();
        m_outputOpen = m_output->play(channels, rate, format);
        m_broken = false;
        m_stalled = false;
        m_played = false;
        if (!m_outputOpen)
            LOGW("audio: no sound output; playing silently");
    }
    return m_outputOpen;
}

void AudioMixerPlayer::getFormat(int* rate, int* channels, int* format) const {
    if (!m_mixer)
        return;
    ff::SampleFormat f = ff::SF_NONE;
    m_mixer->getFormat(rate, channels, &f);
    if (format)
        *format = int(f);
}

void AudioMixerPlayer::begin(int64_t start, int64_t count, int den) {
    if (!m_mixer)
        return;
    m_count = count;
    m_mixer->begin(ff::Rational{start, den}, ff::Rational{start + count, den});
}

void AudioMixerPlayer::write(const void* key, const ff::AFramePtr& frame, int volume) {
    if (!frame || !m_mixer)
        return;
    if (ff::PcmWriterBase* writer = m_mixer->getBuffer(key))
        writer->write(*frame, volume);
}

int AudioMixerPlayer::pacingSleepMs(int cachedMs, int64_t count) {
    const int64_t budget = count * kFrameMs;
    return cachedMs > 3 * budget ? int(cachedMs - budget) : 0;
}

bool AudioMixerPlayer::reopenOutput() {
    m_sinceReopen.restart();
    m_output->setConnectTimeoutMs(kReopenTimeoutMs);
    if (!m_output->play(m_channels, m_rate, m_format))
        return false;
    LOGW("audio: the sound output is back");
    m_broken = false;
    m_stalled = false;
    return true;
}

bool AudioMixerPlayer::end(const PcmConsumer& consumer) {
    if (!m_mixer)
        return false;
    m_latencyUs = -1;
    ff::PcmBuffer block = m_mixer->end();
    if (consumer && block.data)
        consumer(block);
    if (!m_output || !m_outputOpen || !block.data || block.size == 0)
        return false;
    if (m_broken && (m_sinceReopen.elapsed() < kReopenIntervalMs || !reopenOutput()))
        return false;
    const int budgetMs = int(m_count * kFrameMs);
    if (m_stalled) {
        // The output holds enough but its sink has not taken it up: more
        // would only pile up as delay, so this block is left out.
        const int cached = m_output->cached_millisec();
        if (!m_output->isRunning() && cached >= 3 * budgetMs)
            return false;
        m_stalled = false;
    }
    if (m_output->write_pcm(block.data, int(block.size), false)) {
        const int cached = m_output->cached_millisec();
        if (!m_output->isRunning()) {
            // Filling up to the start level, or waiting for the sink: the
            // queue does not drain yet, so it cannot keep time.
            m_stalled = cached >= 3 * budgetMs;
            return false;
        }
        m_played = true;
        m_latencyUs = m_output->latency_usec();
        m_latencyAt = std::chrono::steady_clock::now();
        if (int ms = pacingSleepMs(cached, m_count))
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return true;
    }
    // The server went away or the stream failed: go on silently and try to
    // get the output back now and then.
    LOGW("audio: the sound output refused a block; retrying every %d ms", kReopenIntervalMs);
    m_broken = true;
    m_sinceReopen.restart();
    std::this_thread::sleep_for(std::chrono::milliseconds(kWriteFailSleepMs));
    return false;
}

bool AudioMixerPlayer::waitsForSink() const {
    return m_output && m_outputOpen && !m_broken && m_stalled && !m_played;
}

bool AudioMixerPlayer::waitForStart() {
    if (!waitsForSink())
        return false;
    m_output->cached_millisec(); // fresh timing from the server
    if (!m_output->isPlaying()) {
        // The server went away meanwhile: no sink will start; the output
        // is broken as after a refused block, and retried now and then.
        LOGW("audio: the sound output went away before it started; retrying every %d ms", kReopenIntervalMs);
        m_broken = true;
        m_sinceReopen.restart();
        return false;
    }
    if (!m_output->isRunning())
        return false;
    m_stalled = false;
    m_played = true;
    m_latencyUs = m_output->latency_usec();
    m_latencyAt = std::chrono::steady_clock::now();
    return m_latencyUs >= 0;
}

bool AudioMixerPlayer::lastLatency(int64_t* us, std::chrono::steady_clock::time_point* at) const {
    if (m_latencyUs < 0)
        return false;
    *us = m_latencyUs;
    *at = m_latencyAt;
    return true;
}

void AudioMixerPlayer::stop() {
    if (m_output)
        m_output->stop();
    m_output.reset();
    m_mixer.reset();
    m_outputOpen = false;
    m_broken = false;
    m_stalled = false;
    m_played = false;
    m_count = 0;
    m_latencyUs = -1;
}
