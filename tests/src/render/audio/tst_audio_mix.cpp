// The sound of a frame step, without a sound server: real files decoded one
// frame at a time, mixed, and handed to the consumer; decoders that follow
// the clips; the pacing rule of the output.
#include "sound-check.h"
#include "support/test-main.h"

#include "render/audio/audio-decoder-task.h"
#include "render/audio/audio-task-manager.h"
#include "render/audio/audio_mixer_player.h"

#include <QPointer>
#include <QTest>

using namespace soundcheck;

namespace {

QString media(const char* name) {
    return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name;
}

struct Clip {
    QString path;
    int volume;
};

// Mixes frames [from, from + count) of the clips (each starting at the
// media's beginning) and returns the blocks joined.
QByteArray mixFrames(AudioTaskManager& tasks, const QList<Clip>& clips, int64_t from, int count) {
    AudioMixerPlayer* mixer = AudioMixerPlayer::instance();
    QByteArray out;
    for (int64_t f = from; f < from + count; ++f) {
        QList<AudioFrameData> sounds;
        for (const Clip& c : clips) {
            AudioFrameData s;
            s.num = f;
            s.den = 30;
            s.path = c.path;
            s.volume = c.volume;
            sounds.append(s);
        }
        mixer->begin(f, 1, 30);
        tasks.mix(sounds);
        int blocks = 0;
        const bool paced = mixer->end([&](const ff::PcmBuffer& b) {
            out.append(reinterpret_cast<const char*>(b.data), int(b.size));
            ++blocks;
        });
        // No output: the caller keeps time, and the consumer got exactly one frame.
        if (paced || blocks != 1)
            return QByteArray();
    }
    return out;
}

double level(const QByteArray& pcm) {
    return rms(reinterpret_cast<const int16_t*>(pcm.constData()), int(pcm.size() / 4));
}

double amplitudeAt(const QByteArray& pcm, double frequency) {
    return toneAmplitude(reinterpret_cast<const int16_t*>(pcm.constData()), int(pcm.size() / 4), frequency);
}

} // namespace

Q_DECLARE_METATYPE(Clip)

class TestAudioMix : public QObject {
    Q_OBJECT

    double m_reference = 0; // level of tone.mp3 alone at unity volume

private slots:
    void init() { QVERIFY(!AudioMixerPlayer::instance()->open(2, 44100, 2, false)); }
    void cleanup() { AudioMixerPlayer::instance()->stop(); }

    void initTestCase() {
        AudioMixerPlayer::instance()->open(2, 44100, 2, false);
        AudioTaskManager tasks;
        QByteArray pcm = mixFrames(tasks, {{media("tone.mp3"), 128}}, 15, 15);
        AudioMixerPlayer::instance()->stop();
        QCOMPARE(pcm.size(), 15 * 1470 * 4);
        m_reference = level(pcm);
        QVERIFY2(m_reference > 1000, qPrintable(QString::number(m_reference)));
    }

    // Half a second from frame 15 of every clip at once.
    void mixesTheSoundingClips_data() {
        QTest::addColumn<QList<Clip>>("clips");
        QTest::addColumn<double>("gain"); // level against tone.mp3 alone
        QTest::addColumn<bool>("has440");
        QTest::addColumn<bool>("has880");
        QTest::addColumn<int>("decoders"); // tasks with an open decoder
        QTest::addColumn<int>("tasks");
        const QString tone = media("tone.mp3");
        QTest::newRow("one clip") << QList<Clip>{{tone, 128}} << 1.0 << true << false << 1 << 1;
        QTest::newRow("half volume") << QList<Clip>{{tone, 64}} << 0.5 << true << false << 1 << 1;
        QTest::newRow("two clips of one file are louder")
            << QList<Clip>{{tone, 128}, {tone, 128}} << 2.0 << true << false << 2 << 2;
        QTest::newRow("two tones") << QList<Clip>{{tone, 128}, {media("tone.m4a"), 128}} << -1.0 << true
                                   << true << 2 << 2;
        QTest::newRow("sound of a video")
            << QList<Clip>{{media("h264-30fps.mp4"), 128}} << -1.0 << true << false << 1 << 1;
        // A muted clip keeps its decoder, so unmuting goes on without a seek.
        QTest::newRow("muted") << QList<Clip>{{tone, 0}} << 0.0 << false << false << 1 << 1;
        QTest::newRow("muted beside a sounding one")
            << QList<Clip>{{tone, 128}, {media("tone.m4a"), 0}} << 1.0 << true << false << 2 << 2;
        QTest::newRow("video without sound")
            << QList<Clip>{{media("mpeg4-silent.mp4"), 128}} << 0.0 << false << false << 0 << 1;
        QTest::newRow("not media") << QList<Clip>{{media("random.mp4"), 128}} << 0.0 << false << false << 0
                                   << 1;
        QTest::newRow("missing file")
            << QList<Clip>{{media("no-such-file.mp3"), 128}, {tone, 128}} << 1.0 << true << false << 1 << 2;
    }
    void mixesTheSoundingClips() {
        QFETCH(QList<Clip>, clips);
        QFETCH(double, gain);
        QFETCH(bool, has440);
        QFETCH(bool, has880);
        QFETCH(int, decoders);
        QFETCH(int, tasks);
        AudioTaskManager manager;
        QByteArray pcm = mixFrames(manager, clips, 15, 15);
        QCOMPARE(pcm.size(), 15 * 1470 * 4);
        const double l = level(pcm);
        if (gain >= 0)
            QVERIFY2(std::abs(l - gain * m_reference) <= 0.05 * m_reference + 1,
                     qPrintable(QString("level %1, reference %2").arg(l).arg(m_reference)));
        QCOMPARE(amplitudeAt(pcm, 440) > 0.3 * m_reference, has440);
        QCOMPARE(amplitudeAt(pcm, 880) > 0.3 * m_reference, has880);
        QCOMPARE(manager.tasks().size(), tasks);
        int open = 0;
        for (AudioDecoderTask* t : manager.tasks())
            open += t->isOpened() ? 1 : 0;
        QCOMPARE(open, decoders);
    }

    // A file that keeps sounding keeps its decoder; one that stopped loses it.
    void decodersFollowTheClips() {
        AudioTaskManager manager;
        const QString a = media("tone.mp3"), b = media("tone.m4a"), c = media("h264-30fps.mp4");
        QVERIFY(!mixFrames(manager, {{a, 128}, {b, 128}}, 0, 1).isEmpty());
        QCOMPARE(manager.tasks().size(), 2);
        QPointer<AudioDecoderTask> keptA = manager.tasks()[0];
        QPointer<AudioDecoderTask> goneB = manager.tasks()[1];
        QVERIFY(!mixFrames(manager, {{c, 128}, {a, 128}}, 1, 1).isEmpty());
        QCOMPARE(manager.tasks().size(), 2);
        QVERIFY(keptA && manager.tasks().contains(keptA.data()));
        QVERIFY(!goneB);
        // Nothing sounds: every decoder closes.
        QVERIFY(!mixFrames(manager, {}, 2, 1).isEmpty());
        QVERIFY(manager.tasks().isEmpty());
        QVERIFY(!keptA);
    }

    // Frame after frame, the decoded sound runs on without gaps: the tone's
    // phase never jumps at a block border.
    void consecutiveFramesJoin() {
        AudioTaskManager manager;
        QByteArray pcm = mixFrames(manager, {{media("tone.mp3"), 128}}, 3, 30);
        const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
        const int frames = int(pcm.size() / 4);
        const double amplitude = m_reference * std::sqrt(2.0);
        // The largest step between neighbouring samples of a 440 Hz tone.
        const double maxStep = amplitude * 2 * M_PI * 440 / kRate * 1.2 + 50;
        for (int i = 1; i < frames; ++i)
            QVERIFY2(std::abs(s[2 * i] - s[2 * i - 2]) <= maxStep,
                     qPrintable(QString("jump at sample %1").arg(i)));
    }

    // The output's pacing: more than three frames queued sleeps down to one.
    void pacingSleep_data() {
        QTest::addColumn<int>("cachedMs");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("sleepMs");
        QTest::newRow("150 ms queued") << 150 << 1 << 117;
        QTest::newRow("90 ms queued") << 90 << 1 << 0;
        QTest::newRow("just three frames") << 99 << 1 << 0;
        QTest::newRow("just over") << 100 << 1 << 67;
        QTest::newRow("nothing queued") << 0 << 1 << 0;
        QTest::newRow("two-frame step") << 300 << 2 << 234;
        QTest::newRow("two-frame step, within budget") << 198 << 2 << 0;
    }
    void pacingSleep() {
        QFETCH(int, cachedMs);
        QFETCH(int, frames);
        QFETCH(int, sleepMs);
        QCOMPARE(AudioMixerPlayer::pacingSleepMs(cachedMs, frames), sleepMs);
    }
};

KORVEL_TEST_MAIN(TestAudioMix)
#include "tst_audio_mix.moc"
