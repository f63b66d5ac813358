// Playback end to end: the player asks a stand-in timeline for frame after
// frame, plays the answers through the private sound server, and keeps real
// time with sound, without sound and when the server goes away; it ends at
// the last frame and stops at once. Last, the render manager's wiring.
#include "sound-check.h"
#include "support/test-main.h"

#include "render/audio/audio_mixer_player.h"
#include "render/audio/player-manager.h"
#include "render/audio/sound-clock.h"
#include "render/render-manager.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace soundcheck;

namespace {

QString media(const char* name) {
    return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name;
}

// Answers frame requests the way the timeline does: the play head moves
// by the asked frames and is held on the last frame; the sound of every
// clip under it goes back with the frame and the timeline's length.
class StandInTimeline : public QObject {
public:
    struct Clip {
        QString path;
        int64_t start;
        int64_t length;
        int volume;
    };
    using Answer = std::function<void(const QList<AudioFrameData>&, int64_t, int64_t, int64_t)>;

    StandInTimeline(int64_t length, QList<Clip> clips, Answer answer)
        : m_length(length), m_clips(std::move(clips)), m_answer(std::move(answer)) {
        m_clock.start();
    }

    void onRequest(MoveType type, EditType edit, int64_t times, int64_t fps) {
        // Playing starts on the frame under the play head, then steps by one.
        if (type != MovePlayback || edit != EditPlayback || times != (requests.isEmpty() ? 0 : 1) || fps != 30)
            ++oddRequests;
        requests.append(double(m_clock.nsecsElapsed()) / 1e9);
        frame = std::min(frame + times, std::max<int64_t>(0, m_length - 1));
        if (!answering)
            return;
        QList<AudioFrameData> sounds;
        for (const Clip& c : m_clips) {
            if (frame >= c.start && frame < c.start + c.length)
                sounds.append(AudioFrameData{frame - c.start, fps, c.path, c.volume, QString()});
        }
        m_answer(sounds, frame, fps, m_length);
    }
    double seconds() const { return double(m_clock.nsecsElapsed()) / 1e9; }

    int64_t frame = 0;
    bool answering = true;
    QVector<double> requests; // seconds since the stand-in was made
    int oddRequests = 0;

private:
    int64_t m_length;
    QList<Clip> m_clips;
    Answer m_answer;
    QElapsedTimer m_clock;
};

// Requests per second after the first `skip`: the slope of a least-squares
// line through (time, index), so that the output's bursts average out.
double requestRate(const QVector<double>& t, int skip) {
    const int n = t.size() - skip;
    if (n < 3)
        return 0;
    double st = 0, si = 0, stt = 0, sti = 0;
    for (int k = 0; k < n; ++k) {
        const double x = t[skip + k];
        st += x;
        si += k;
        stt += x * x;
        sti += x * k;
    }
    return (n * sti - st * si) / (n * stt - st * st);
}

QString rateText(double rate) {
    return QString("%1 requests a second").arg(rate, 0, 'f', 2);
}

// Thirty requests a second of wall time, as a loaded machine keeps it: a
// starved process falls behind (28 a second was seen with both cores busy),
// but nothing makes the player run ahead. This still tells real time from
// a player that runs free, paces itself at another frame rate or stalls.
bool keepsRealTime(double rate) {
    return rate >= 15 && rate <= 36;
}

} // namespace

class TestPlayer : public QObject {
    Q_OBJECT

    void requireServer() {
        if (!haveServer()) {
            if (korvel::test::environmentRequired())
                QFAIL("no sound server (run under scripts/test-env)");
            QSKIP("no sound server; run under scripts/test-env");
        }
    }

    // A stand-in that answers the player directly.
    static std::unique_ptr<StandInTimeline> timelineFor(PlayerManager& player, int64_t length,
                                                        QList<StandInTimeline::Clip> clips) {
        auto timeline = std::make_unique<StandInTimeline>(
            length, std::move(clips),
            [&player](const QList<AudioFrameData>& s, int64_t f, int64_t fps, int64_t last) {
                player.submit(s, f, fps, last);
            });
        QObject::connect(&player, &PlayerManager::sig_frontFrameRequest, timeline.get(),
                         &StandInTimeline::onRequest);
        return timeline;
    }

private slots:
    // Four seconds of a 440 Hz clip: heard for as long as playback ran, and
    // the frames asked for at 30 a second of wall time.
    void playsInRealTimeWithSound() {
        requireServer();
        MonitorRecorder recorder;
        QVERIFY(recorder.start());
        PlayerManager player;
        auto timeline = timelineFor(player, 600, {{media("tone-long.mp3"), 0, 240, 128}});
        const double started = timeline->seconds();
        player.setPlaying(true);
        QVERIFY(player.isPlaying());
        QTest::qWait(4000);
        player.setPlaying(false);
        const double played = timeline->seconds() - started;
        QVERIFY(!player.isPlaying());
        const int requests = timeline->requests.size();
        QTest::qWait(200);
        QCOMPARE(timeline->requests.size(), requests); // none after the stop
        QCOMPARE(timeline->oddRequests, 0);

        const double rate = requestRate(timeline->requests, 10);
        QVERIFY2(keepsRealTime(rate), qPrintable(rateText(rate)));
        ToneReport tone = findTone(recorder.stop(), 440);
        const int playedMs = int(played * 1000);
        // Heard while it played and not after: a loaded machine may leave
        // gaps (the output runs dry), an idle one loses only what is queued
        // when playback starts and stops.
        QVERIFY2(tone.toneMs >= playedMs / 2 && tone.toneMs <= playedMs + 100,
                 qPrintable(QString("tone heard %1 ms of %2 ms").arg(tone.toneMs).arg(playedMs)));
        QVERIFY2(tone.soundMs - tone.toneMs <= 100,
                 qPrintable(QString("%1 ms of other sound").arg(tone.soundMs)));
    }

    // A sink slow to start (the null sink, idle, first finishes a block of
    // up to two seconds) costs neither the first frames' sound nor their
    // pictures: playback waits for it, and the clock starts with them.
    void theFirstFramesAreHeard() {
        requireServer();
        QTest::qWait(2500); // nothing plays: the sink goes over to long blocks
        PlayerManager player;
        auto timeline = timelineFor(player, 600, {{media("tone-long.mp3"), 0, 240, 128}});
        player.setPlaying(true);
        QTRY_VERIFY_WITH_TIMEOUT(SoundClock::instance().running(), 5000);
        int64_t heardUs = 0;
        QVERIFY(SoundClock::instance().positionAt(std::chrono::steady_clock::now(), &heardUs));
        const int64_t askedThen = timeline->frame;
        player.setPlaying(false);
        // A poll late by a busy machine's few hundred milliseconds aside.
        QVERIFY2(heardUs < 600000 && askedThen < 20,
                 qPrintable(QString("the clock started at %1 ms, with frame %2 asked for")
                                .arg(heardUs / 1000)
                                .arg(askedThen)));
    }

    // Without a sound output the clock keeps time; after a quick stop and
    // start one player asks, at the same pace.
    void keepsTimeWithoutSound_data() {
        QTest::addColumn<bool>("withServer");
        QTest::addColumn<bool>("restart");
        QTest::newRow("no server") << false << false;
        QTest::newRow("no server, restarted at once") << false << true;
        // The null sink may take up to two seconds to start a stream that
        // follows another closely; playback waits for it, then keeps time.
        QTest::newRow("sound, restarted at once") << true << true;
    }
    void keepsTimeWithoutSound() {
        QFETCH(bool, withServer);
        QFETCH(bool, restart);
        if (withServer)
            requireServer();
        const QString missing = korvel::test::workFolder("no-server") + "/missing.sock";
        std::unique_ptr<ServerOverride> noServer;
        if (!withServer)
            noServer = std::make_unique<ServerOverride>(("unix:" + missing).toUtf8());
        PlayerManager player;
        auto timeline = timelineFor(player, 600, {{media("tone-long.mp3"), 0, 240, 128}});
        const double started = timeline->seconds();
        player.setPlaying(true);
        if (restart) {
            // The first thread's request waits in the event queue, unanswered, when it is stopped.
            QThread::msleep(300);
            player.setPlaying(false);
            player.setPlaying(true);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!timeline->requests.isEmpty(), 3000);
        // No server answers at once: playback starts without waiting for one
        // (a connection attempt may wait two seconds).
        if (!withServer)
            QVERIFY2(
                timeline->requests.first() - started < 1.0,
                qPrintable(QString("first request after %1 s").arg(timeline->requests.first() - started)));
        QTRY_VERIFY_WITH_TIMEOUT(timeline->requests.size() >= 70, 15000);
        player.setPlaying(false);
        const double rate = requestRate(timeline->requests, 10);
        QVERIFY2(keepsRealTime(rate), qPrintable(rateText(rate)));
        QCOMPARE(timeline->oddRequests, 0);
    }

    // The end of the timeline ends playback through sig_controlPlay, which
    // the play button's owner answers by turning playback off; every frame
    // from the play head on is played, the last one until it was heard.
    void stopsAtTheEnd_data() {
        QTest::addColumn<int64_t>("length");
        QTest::addColumn<int64_t>("startFrame");
        QTest::addColumn<int>("requests");
        QTest::newRow("play at the last frame") << int64_t(90) << int64_t(89) << 1;
        QTest::newRow("empty timeline") << int64_t(0) << int64_t(0) << 1;
        QTest::newRow("plays to the end") << int64_t(20) << int64_t(0) << 20;
        QTest::newRow("plays on from the play head") << int64_t(30) << int64_t(12) << 18;
    }
    void stopsAtTheEnd() {
        QFETCH(int64_t, length);
        QFETCH(int64_t, startFrame);
        QFETCH(int, requests);
        requireServer();
        PlayerManager player;
        auto timeline = timelineFor(player, length, {{media("tone.mp3"), 0, 60, 128}});
        timeline->frame = startFrame;
        QSignalSpy ended(&player, &PlayerManager::sig_controlPlay);
        int64_t heardAtEndUs = -1;
        connect(&player, &PlayerManager::sig_controlPlay, &player, [&player, &heardAtEndUs] {
            if (!SoundClock::instance().positionAt(std::chrono::steady_clock::now(), &heardAtEndUs))
                heardAtEndUs = -1;
            player.setPlaying(false);
        });
        player.setPlaying(true);
        QVERIFY(ended.wait(6000)); // the sink may take two seconds to start
        QCOMPARE(ended.count(), 1);
        QVERIFY(!player.isPlaying());
        QTest::qWait(150);
        QCOMPARE(timeline->requests.size(), requests);
        QCOMPARE(timeline->oddRequests, 0);
        QCOMPARE(ended.count(), 1);
        if (requests > 1) { // one frame's sound is too little to start the sink
            // Stopping the output drops what it holds: the end waits until
            // the last frame was heard (less a little for the clock's
            // estimate), not only written.
            const int64_t endUs = length * 1000000 / 30;
            QVERIFY2(heardAtEndUs >= endUs - 20000,
                     qPrintable(QString("the end came with %1 ms of %2 ms heard")
                                    .arg(heardAtEndUs / 1000)
                                    .arg(endUs / 1000)));
        }
    }

    // Stopping ends the thread at once: while it waits for an answer that
    // never comes, while it plays with sound, while the clock paces it. The
    // bounds leave a loaded machine room and stay under the output's
    // two-second waits, which a stop must not sit out.
    void stopsAtOnce_data() {
        QTest::addColumn<bool>("answering");
        QTest::addColumn<bool>("withServer");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("waiting for an answer") << false << true << 500;
        QTest::newRow("playing with sound") << true << true << 1000;
        QTest::newRow("paced by the clock") << true << false << 500;
    }
    void stopsAtOnce() {
        QFETCH(bool, answering);
        QFETCH(bool, withServer);
        QFETCH(int, maxMs);
        if (withServer)
            requireServer();
        std::unique_ptr<ServerOverride> noServer;
        if (!withServer)
            noServer = std::make_unique<ServerOverride>(
                ("unix:" + korvel::test::workFolder("stop") + "/missing.sock").toUtf8());
        PlayerManager player;
        auto timeline = timelineFor(player, 600, {{media("tone-long.mp3"), 0, 240, 128}});
        timeline->answering = answering;
        player.setPlaying(true);
        // The sink may take two seconds to start.
        QTRY_VERIFY_WITH_TIMEOUT(timeline->requests.size() >= (answering ? 10 : 1), 6000);
        // Without answering events: the thread's next request waits in the
        // queue when it is stopped, and must not be relayed afterwards.
        QThread::msleep(100);
        QElapsedTimer t;
        t.start();
        player.setPlaying(false);
        QVERIFY2(t.elapsed() <= maxMs, qPrintable(QString("stopping took %1 ms").arg(t.elapsed())));
        // The output and the mixer went with the thread.
        QVERIFY(!AudioMixerPlayer::instance()->isOpen());
        const int requests = timeline->requests.size();
        QTest::qWait(100);
        QCOMPARE(timeline->requests.size(), requests);
    }

    // The server dies while playing: playback goes on in real time, and
    // when a server is back at the address the sound comes back with it.
    void survivesTheServerGoing() {
        requireServer();
        PrivateServer own("coming-and-going");
        QVERIFY(own.start());
        ServerOverride server(own.address().toUtf8());
        PlayerManager player;
        auto timeline = timelineFor(player, 600, {{media("tone-long.mp3"), 0, 240, 128}});
        player.setPlaying(true);
        QTest::qWait(800);
        own.kill();
        const int atKill = timeline->requests.size();
        QTest::qWait(2500);
        const double rate = requestRate(timeline->requests.mid(atKill), 5);
        QVERIFY2(keepsRealTime(rate), qPrintable("without the server: " + rateText(rate)));

        QVERIFY(own.start());
        MonitorRecorder recorder;
        QVERIFY(recorder.start(own.address()));
        QTest::qWait(2500); // the player retries once a second
        player.setPlaying(false);
        ToneReport tone = findTone(recorder.stop(), 440);
        QVERIFY2(tone.toneMs >= 400,
                 qPrintable(QString("tone heard %1 ms after the server came back").arg(tone.toneMs)));
    }

    // The render manager relays the player's requests and its end, hands it
    // the sound of playback frames only, and stops it first when it goes.
    void renderManagerDrivesThePlayer() {
        ServerOverride noServer(("unix:" + korvel::test::workFolder("render") + "/missing.sock").toUtf8());
        auto* render = new RenderManager;
        QVERIFY(render->init());
        QVERIFY(!render->isPlaying());
        StandInTimeline timeline(
            90, {{media("tone.mp3"), 0, 60, 128}},
            [render](const QList<AudioFrameData>& s, int64_t f, int64_t fps, int64_t last) {
                render->deliverAudio(s, f, fps, last, EditPlayback);
            });
        connect(render, &RenderManager::sig_frontFrameRequest, &timeline, &StandInTimeline::onRequest);
        QSignalSpy controlPlay(render, &RenderManager::sig_controlPlay);

        render->setPlaying(true);
        QVERIFY(render->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(timeline.requests.size() >= 10, 3000);
        // Sound of other kinds of frames, even one at the end, is not the player's.
        render->deliverAudio({}, 90, 30, 90, EditManual);
        render->deliverAudio({}, 90, 30, 90, EditExport);
        render->deliverAudio({}, 90, 30, 90, EditRecording);
        QTest::qWait(50);
        QCOMPARE(controlPlay.count(), 0);
        // A preview button's stop of a recording leaves playback alone...
        render->slot_opertorUi(false, true);
        QCOMPARE(controlPlay.count(), 0);
        // ... its stop of playback asks the play button to turn it off.
        render->slot_opertorUi(true, false);
        QCOMPARE(controlPlay.count(), 1);
        // The end of the timeline arrives through the render manager too.
        timeline.frame = 88;
        QTRY_COMPARE_WITH_TIMEOUT(controlPlay.count(), 2, 3000);
        render->setPlaying(false);
        QVERIFY(!render->isPlaying());
        render->slot_opertorUi(true, false);
        QCOMPARE(controlPlay.count(), 2);

        // Deleted while playing: the player stops first, nothing asks afterwards.
        timeline.frame = 0;
        render->setPlaying(true);
        QTRY_VERIFY_WITH_TIMEOUT(timeline.requests.size() >= 40, 3000);
        delete render;
        const int requests = timeline.requests.size();
        QTest::qWait(100);
        QCOMPARE(timeline.requests.size(), requests);
    }
};

// The render manager needs a display for its graphics device.
KORVEL_GUI_TEST_MAIN(TestPlayer)
#include "tst_player.moc"
