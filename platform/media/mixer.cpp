#include "media.h"

#include "value/interface.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cstring>
#include <limits>

namespace ff {

namespace {
// Louder than this many times unity gain is taken as this.
constexpr int kMaxVolume = 128 * 16;
} // namespace

// One source's place in the block: where its next write lands.
class AudioMixer::SourceBuffer : public PcmWriterBase {
public:
    explicit SourceBuffer(AudioMixer* mixer) : m_mixer(mixer) {}
    void restart() {
        m_position = 0;
        m_warned = false;
    }

    bool write(const AFrameCtx& frame, int volume) override {
        AudioMixer& m = *m_mixer;
        if (!m.m_open)
            return false;
        if (frame.format != SF_S16 || frame.channels != m.m_channels || frame.sampleRate != m.m_rate) {
            if (!m_warned) {
                m_warned = true;
                LOGW("mixer: a frame of %d Hz, %d channels, format %d does not match the mix (%d Hz, %d channels)",
                     frame.sampleRate, frame.channels, int(frame.format), m.m_rate, m.m_channels);
            }
            return false;
        }
        int64_t gain = std::clamp(volume, 0, kMaxVolume);
        int64_t available = std::min<int64_t>(frame.samples, int64_t(frame.data.size()) / (2 * frame.channels));
        int64_t count = std::min(available, m.m_blockSamples - m_position);
        if (count <= 0)
            return count == 0;
        const auto* in = reinterpret_cast<const int16_t*>(frame.data.data());
        int64_t* sum = m.m_sum.data() + m_position * m.m_channels;
        int64_t values = count * m.m_channels;
        if (gain != 0) {
            for (int64_t i = 0; i < values; ++i)
                sum[i] += int64_t(in[i]) * gain;
        }
        m_position += count;
        return true;
    }

private:
    AudioMixer* m_mixer;
    int64_t m_position = 0;
    bool m_warned = false;
};

AudioMixer::AudioMixer(int sampleRate, int channels, SampleFormat format)
    : m_rate(sampleRate), m_channels(channels), m_format(format) {
    if (format != SF_S16)
        LOGE("mixer: only 16-bit samples are mixed (format %d asked)", int(format));
}

AudioMixer::~AudioMixer() = default;

bool AudioMixer::begin(Rational from, Rational to) {
    m_open = false;
    if (m_format != SF_S16 || m_rate <= 0 || m_channels <= 0 || from.den <= 0 || to.den <= 0)
        return false;
    int64_t s0 = av_rescale_rnd(from.num, m_rate, from.den, AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
    int64_t s1 = av_rescale_rnd(to.num, m_rate, to.den, AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
    // A block longer than a minute is no frame step; refuse it rather than allocate it.
    if (s1 < s0 || s1 - s0 > int64_t(m_rate) * 60) {
        LOGW("mixer: block of %lld samples refused", static_cast<long long>(s1 - s0));
        return false;
    }
    m_blockSamples = s1 - s0;
    m_sum.assign(size_t(m_blockSamples) * m_channels, 0);
    for (auto& [key, source] : m_sources)
        source->restart();
    m_open = true;
    return true;
}

PcmWriterBase* AudioMixer::getBuffer(const void* key) {
    auto& slot = m_sources[key];
    if (!slot)
        slot = std::make_unique<SourceBuffer>(this);
    return slot.get();
}

PcmBuffer AudioMixer::end() {
    PcmBuffer buffer;
    if (!m_open)
        return buffer;
    m_open = false;
    m_out.resize(m_sum.size() * 2);
    auto* out = reinterpret_cast<int16_t*>(m_out.data());
    for (size_t i = 0; i < m_sum.size(); ++i) {
        // Volumes are in 1/128 steps: scale once, then saturate once.
        int64_t v = m_sum[i] / 128;
        out[i] = int16_t(std::clamp<int64_t>(v, std::numeric_limits<int16_t>::min(),
                                             std::numeric_limits<int16_t>::max()));
    }
    // Sources that stopped writing are forgotten; the next block starts afresh.
    m_sources.clear();
    buffer.data = m_out.data();
    buffer.size = m_out.size();
    buffer.samples = m_blockSamples;
    return buffer;
}

void AudioMixer::getFormat(int* sampleRate, int* channels, SampleFormat* format) const {
    if (sampleRate)
        *sampleRate = m_rate;
    if (channels)
        *channels = m_channels;
    if (format)
        *format = m_format;
}

} // namespace ff
