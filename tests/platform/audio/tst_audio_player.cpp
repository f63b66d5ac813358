// The sound output on a real PulseAudio server: what is written is heard,
// the queue is reported, impossible formats and missing, silent or dying
// servers give false without hanging.
#include "sound-check.h"
#include "support/pulse-control.h"
#include "support/test-main.h"

#include "audio/audio-player.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QTest>

using namespace soundcheck;

class TestAudioPlayer : public QObject {
    Q_OBJECT

    void requireServer() {
        if (!haveServer()) {
            if (korvel::test::environmentRequired())
                QFAIL("no sound server (run under scripts/test-env)");
            QSKIP("no sound server; run under scripts/test-env");
        }
    }

private slots:
    void rejectsImpossibleFormats_data() {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("format");
        QTest::newRow("no channels") << 0 << 44100 << 2;
        QTest::newRow("negative channels") << -2 << 44100 << 2;
        QTest::newRow("too many channels") << 1000 << 44100 << 2;
        QTest::newRow("no rate") << 2 << 0 << 2;
        QTest::newRow("unknown format") << 2 << 44100 << 9;
        QTest::newRow("format none") << 2 << 44100 << 0;
    }
    void rejectsImpossibleFormats() {
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(int, format);
        zya::AudioPlayer player;
        QVERIFY(!player.play(channels, rate, format));
        QVERIFY(!player.isPlaying());
        QByteArray block = sine(440, 441);
        QVERIFY(!player.write_pcm(reinterpret_cast<const uint8_t*>(block.constData()), block.size(), false));
        QCOMPARE(player.cached_millisec(), 0);
        // Stopping what never played is harmless, twice.
        player.stop();
        player.stop();
    }

    // No server at all, or one that takes the connection and never answers:
    // false, and no longer than the bound wait.
    void unreachableServerGivesFalse_data() {
        QTest::addColumn<bool>("silentServer");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("missing socket") << false << 500;
        QTest::newRow("server that never answers") << true << zya::AudioPlayer::kConnectTimeoutMs + 1000;
    }
    void unreachableServerGivesFalse() {
        QFETCH(bool, silentServer);
        QFETCH(int, maxMs);
        const QString folder = korvel::test::workFolder("unreachable");
        QLocalServer mute;
        if (silentServer)
            QVERIFY(mute.listen(folder + "/mute.sock"));
        ServerOverride server(("unix:" + folder + (silentServer ? "/mute.sock" : "/missing.sock")).toUtf8());
        zya::AudioPlayer player;
        QElapsedTimer t;
        t.start();
        bool played = true;
        const QByteArray log = korvel::test::captureStderr([&] { played = player.play(2, 44100, 2); });
        QVERIFY(!played);
        QVERIFY2(t.elapsed() < maxMs, qPrintable(QString("play took %1 ms").arg(t.elapsed())));
        // The log line says which server was asked for and what became of it.
        QVERIFY2(log.contains(silentServer ? "mute.sock did not answer" : "missing.sock:"), log.constData());
        QVERIFY(!player.isPlaying());
        QCOMPARE(player.cached_millisec(), 0);
    }

    // A second of tone written in frame-sized blocks is heard as that tone,
    // for about that long, and the queue reports what is still to come.
    void playsWhatIsWritten() {
        requireServer();
        MonitorRecorder recorder;
        QVERIFY(recorder.start());
        zya::AudioPlayer player;
        QVERIFY(player.play(2, 44100, 2));
        QVERIFY(player.isPlaying());
        const int underflowsBefore = player.underflows();

        // 200 ms at once: nearly all of it is still queued (the sink may have
        // taken its first block).
        const int frames = kRate / 30; // one frame step
        int64_t at = 0;
        for (int i = 0; i < 6; ++i, at += frames) {
            QByteArray block = sine(440, frames, 8000, at);
            QVERIFY(
                player.write_pcm(reinterpret_cast<const uint8_t*>(block.constData()), block.size(), false));
        }
        const int queued = player.cached_millisec();
        QVERIFY2(queued >= 120 && queued <= 320, qPrintable(QString("%1 ms queued").arg(queued)));
        // Then blocking writes keep the server's buffer just full, for a second in all.
        QElapsedTimer t;
        t.start();
        for (int i = 6; i < 30; ++i, at += frames) {
            QByteArray block = sine(440, frames, 8000, at);
            QVERIFY(
                player.write_pcm(reinterpret_cast<const uint8_t*>(block.constData()), block.size(), true));
        }
        QVERIFY2(t.elapsed() > 400, "blocking writes did not wait for room");
        QVERIFY(player.cached_millisec() > 0);
        // Let it play out: the queue empties and the server reports the run-out.
        QTRY_VERIFY_WITH_TIMEOUT(player.cached_millisec() < 20, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(player.underflows() > underflowsBefore, 3000);
        QVERIFY(zya::AudioPlayer::totalUnderflows() >= player.underflows());
        player.stop();
        player.stop();
        QVERIFY(!player.isPlaying());

        ToneReport tone = findTone(recorder.stop(), 440);
        QVERIFY2(tone.toneMs >= 850 && tone.toneMs <= 1150,
                 qPrintable(QString("tone %1 ms").arg(tone.toneMs)));
        QVERIFY2(tone.soundMs - tone.toneMs <= 100,
                 qPrintable(QString("%1 ms of other sound").arg(tone.soundMs)));
        QVERIFY2(std::abs(tone.peakAmplitude - 8000) < 800, qPrintable(QString::number(tone.peakAmplitude)));
    }

    // The desktop's mixer lists the playing stream as Korvel's, with its
    // desktop id, its launcher's icon and the role of a video's sound.
    void streamNamesTheApplication() {
        requireServer();
        zya::AudioPlayer player;
        QVERIFY(player.play(2, 44100, 2));
        QByteArray block = sine(440, kRate / 10, 8000, 0);
        QVERIFY(player.write_pcm(reinterpret_cast<const uint8_t*>(block.constData()), block.size(), false));
        QByteArray listing;
        QVERIFY(korvel::test::pactl({"list", "sink-inputs"}, &listing));
        player.stop();
        for (const char* property :
             {"application.name = \"Korvel\"", "application.id = \"io.github.korvel.Korvel\"",
              "application.icon_name = \"io.github.korvel.Korvel\"", "media.role = \"video\""})
            QVERIFY2(listing.contains(property), listing.constData());
    }

    // Blocks that are no whole number of sample frames are refused, not cut.
    void refusesTornFrames() {
        requireServer();
        zya::AudioPlayer player;
        QVERIFY(player.play(2, 44100, 2));
        QByteArray block = sine(440, 100);
        QVERIFY(
            !player.write_pcm(reinterpret_cast<const uint8_t*>(block.constData()), block.size() - 2, false));
        QVERIFY(player.write_pcm(reinterpret_cast<const uint8_t*>(block.constData()), block.size(), false));
    }

    // The server dies while playing: writes fail soon, and nothing hangs.
    void serverGoneWhilePlaying() {
        requireServer();
        PrivateServer own("dying-server");
        QVERIFY(own.start());
        ServerOverride server(own.address().toUtf8());
        zya::AudioPlayer player;
        QVERIFY(player.play(2, 44100, 2));
        QByteArray block = sine(440, kRate / 30);
        QVERIFY(player.write_pcm(reinterpret_cast<const uint8_t*>(block.constData()), block.size(), false));
        own.kill();
        QElapsedTimer t;
        t.start();
        bool failed = false;
        while (!failed && t.elapsed() < 3000) {
            failed =
                !player.write_pcm(reinterpret_cast<const uint8_t*>(block.constData()), block.size(), true);
            QThread::msleep(10);
        }
        QVERIFY(failed);
        QVERIFY(!player.isPlaying());
        QCOMPARE(player.cached_millisec(), 0);
        t.restart();
        player.stop();
        QVERIFY(t.elapsed() < 500);
    }
};

KORVEL_TEST_MAIN(TestAudioPlayer)
#include "tst_audio_player.moc"
