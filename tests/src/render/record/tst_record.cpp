// The WAV writer's file at every stage, and the recorder on the private
// sound server's sine source: the file it leaves, the pace of its frame
// requests, a microphone that goes away and a server that is not there.
#include "render/record/audio-capture-source.h"
#include "render/record/record-manager.h"
#include "render/record/record-thread.h"
#include "render/record/wav-encoder.h"
#include "support/file-size-limit.h"
#include "support/test-main.h"
#include "support/pulse-control.h"
#include "value/interface.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

uint32_t little32(const QByteArray& bytes, int at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | uint8_t(bytes[at + i]);
    return v;
}

uint16_t little16(const QByteArray& bytes, int at) { return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); }

// What a player reads from the header.
struct WavFacts {
    bool valid = false;    // the sizes are those of the whole file
    bool playable = false; // the sizes agree and the file holds at least the data they announce
    uint16_t tag = 0, channels = 0, block = 0, bits = 0;
    uint32_t rate = 0, riffSize = 0, dataSize = 0;
    QByteArray data;
};

WavFacts readWav(const QString& path) {
    WavFacts w;
    const QByteArray f = readFile(path);
    if (f.size() < 46 || !f.startsWith("RIFF") || f.mid(8, 8) != "WAVEfmt ")
        return w;
    const uint32_t formatSize = little32(f, 16);
    const int dataHead = 20 + int(formatSize);
    if (f.size() < dataHead + 8 || f.mid(dataHead, 4) != "data")
        return w;
    w.tag = little16(f, 20);
    w.channels = little16(f, 22);
    w.rate = little32(f, 24);
    w.block = little16(f, 32);
    w.bits = little16(f, 34);
    w.riffSize = little32(f, 4);
    w.dataSize = little32(f, dataHead + 4);
    w.data = f.mid(dataHead + 8);
    w.valid = w.riffSize == uint32_t(f.size() - 8) && w.dataSize == uint32_t(w.data.size());
    w.playable = w.riffSize == uint32_t(dataHead) + w.dataSize && w.data.size() >= int(w.dataSize);
    return w;
}

wav::WaveFormatEx floatFormat(int rate, int channels) {
    wav::WaveFormatEx format;
    format.formatTag = 3;
    format.channels = uint16_t(channels);
    format.samplesPerSec = uint32_t(rate);
    format.blockAlign = uint16_t(4 * channels);
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    format.bitsPerSample = 32;
    return format;
}

// Rising zero crossings a second of mono float samples.
double pitchOf(const QByteArray& data, int rate) {
    const auto* s = reinterpret_cast<const float*>(data.constData());
    const int n = data.size() / 4;
    int rising = 0;
    for (int i = 1; i < n; ++i)
        rising += s[i - 1] < 0 && s[i] >= 0;
    return n > 0 ? rising / (double(n) / rate) : 0.0;
}

using korvel::test::pactl;

} // namespace

class TestRecord : public QObject {
    Q_OBJECT

    QString folder;

    void requireServer() {
        if (!pactl({"info"})) {
            if (korvel::test::environmentRequired())
                QFAIL("no sound server; run under scripts/test-env");
            QSKIP("no sound server");
        }
    }

    // Records through the manager until `stop` says so; returns the frame
    // requests' moves. Each move takes `busyMs` of the window's thread, as
    // a window drawing a heavy preview would.
    QList<int64_t> record(RecordManager& manager, const std::function<bool()>& stop, int timeoutMs, int busyMs = 0) {
        QList<int64_t> moves;
        connect(&manager, &RecordManager::sig_frameRequest, this,
                [&moves, busyMs](MoveType, EditType edit, int64_t times, int64_t fps) {
                    if (edit == EditRecording && fps == 30)
                        moves.append(times);
                    QThread::msleep(busyMs);
                });
        manager.RecordAudio(true);
        QElapsedTimer waited;
        waited.start();
        while (!stop() && waited.elapsed() < timeoutMs)
            QTest::qWait(10);
        manager.RecordAudio(false);
        disconnect(&manager, &RecordManager::sig_frameRequest, this, nullptr);
        return moves;
    }

private slots:
    void initTestCase() {
        folder = korvel::test::workFolder("mic");
        bg::iface()->configSet("mic.dir", folder.toStdString());
        bg::iface()->configSet("DeviceId", "default");
    }

    // The header at each stage: valid right after Init, patched while
    // recording about once a second, after a cut, and final on close.
    void writerKeepsAValidFile() {
        const QString path = folder + "/writer.wav";
        FILE* file = std::fopen(path.toUtf8().constData(), "wb");
        QVERIFY(file);
        auto writer = std::make_unique<wav::WavEncoder>(file);
        QCOMPARE(writer->Init(nullptr), int(wav::WavEncoder::NoFormat));
        const wav::WaveFormatEx format = floatFormat(48000, 2);
        QCOMPARE(writer->Init(&format), int(wav::WavEncoder::Ok));
        WavFacts w = readWav(path);
        QVERIFY(w.valid);
        QCOMPARE(int(w.tag), 3);
        QCOMPARE(int(w.channels), 2);
        QCOMPARE(w.rate, 48000u);
        QCOMPARE(int(w.block), 8);
        QCOMPARE(int(w.bits), 32);
        QCOMPARE(w.dataSize, 0u);

        // A tenth of a second at a time: after 1.5 s the file on disk holds
        // at least the first second, with sizes that say so.
        std::vector<float> tenth(4800 * 2, 0.25f);
        for (int i = 0; i < 15; ++i)
            QCOMPARE(writer->Write(tenth.data(), int(tenth.size() * 4)), int(wav::WavEncoder::Ok));
        w = readWav(path);
        QVERIFY(w.playable);
        QVERIFY2(w.dataSize >= 384000u && w.dataSize <= 576000u, qPrintable(QString::number(w.dataSize)));
        // Cut back to whole sample frames, never lengthened.
        QCOMPARE(writer->Truncate(480003), int(wav::WavEncoder::Ok));
        QCOMPARE(writer->Truncate(600000), int(wav::WavEncoder::Ok));
        QCOMPARE(writer->Write(tenth.data(), 8), int(wav::WavEncoder::Ok));
        writer.reset();
        w = readWav(path);
        QVERIFY(w.valid);
        QCOMPARE(w.dataSize, 480008u);
        float first = 0;
        std::memcpy(&first, w.data.constData(), 4);
        QCOMPARE(first, 0.25f);
    }

    // A file system that takes no more (a full disk; here the file size
    // limit, which refuses writes the same way): the file ends with the
    // last whole sample frame, its sizes say so, and nothing more goes in.
    // A header patched before a crash is repaired to what the file holds.
    void writerSurvivesARefusedWrite() {
        const QString path = folder + "/full.wav";
        FILE* file = std::fopen(path.toUtf8().constData(), "wb");
        QVERIFY(file);
        auto writer = std::make_unique<wav::WavEncoder>(file);
        const wav::WaveFormatEx format = floatFormat(48000, 2);
        QCOMPARE(writer->Init(&format), int(wav::WavEncoder::Ok));
        std::vector<float> samples(1000, 0.5f);
        {
            korvel::test::FileSizeLimit limit(46 + 1003); // part of a sample frame fits
            QCOMPARE(writer->Write(samples.data(), 4000), int(wav::WavEncoder::ShortWrite));
            QVERIFY(writer->failed());
            QCOMPARE(writer->Write(samples.data(), 8), int(wav::WavEncoder::ShortWrite));
        }
        QCOMPARE(writer->Write(samples.data(), 8), int(wav::WavEncoder::ShortWrite)); // and later too
        WavFacts w = readWav(path);
        QVERIFY(w.valid);
        QCOMPARE(w.dataSize, 1000u);
        writer.reset();
        QVERIFY(readWav(path).valid);

        // Sizes left behind by a crash: the repair makes them whole.
        QFile damaged(path);
        QVERIFY(damaged.open(QIODevice::ReadWrite));
        damaged.seek(42); // the data size
        damaged.write(QByteArray(4, '\0'));
        damaged.seek(damaged.size());
        damaged.write(QByteArray(13, '\x11')); // and a sample frame and a half more
        damaged.close();
        QVERIFY(!readWav(path).valid);
        QVERIFY(wav::repairSizes(path.toUtf8().constData()));
        w = readWav(path);
        QVERIFY(w.valid);
        QCOMPARE(w.dataSize, 1008u);
        const QString notOurs = folder + "/notes.wav";
        QFile text(notOurs);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a recording at all, but long enough to be read as a header");
        text.close();
        QVERIFY(!wav::repairSizes(notOurs.toUtf8().constData()));
        QCOMPARE(readFile(notOurs), QByteArray("not a recording at all, but long enough to be read as a header"));
    }

    void writerWithoutFile() {
        wav::WavEncoder writer(nullptr);
        const wav::WaveFormatEx format = floatFormat(44100, 1);
        QCOMPARE(writer.Init(&format), int(wav::WavEncoder::NoFile));
        QCOMPARE(writer.Write("abcd", 4), int(wav::WavEncoder::NoFile));
    }

    // Three seconds of the sine source: the file's format is the source's,
    // it holds about three seconds of the 440 Hz tone, and the play head was
    // moved about thirty frames a second.
    void recordsTheMicrophone() {
        requireServer();
        RecordManager manager;
        QSignalSpy items(&manager, &RecordManager::sig_audioSourceItem);
        QElapsedTimer clock;
        clock.start();
        const QList<int64_t> moves = record(manager, [&clock] { return clock.elapsed() >= 3000; }, 10000);
        const double seconds = clock.elapsed() / 1000.0;
        QCOMPARE(items.size(), 2);
        const QString path = items[0][1].toString();
        QCOMPARE(items[1][1].toString(), path);
        QCOMPARE(items[1][2].toBool(), false);
        QVERIFY(path.startsWith(folder + "/{"));
        QVERIFY(path.endsWith("}.wav"));

        const WavFacts w = readWav(path);
        QVERIFY(w.valid);
        QCOMPARE(int(w.tag), 3);
        QCOMPARE(int(w.channels), 1);
        QCOMPARE(w.rate, 44100u);
        QCOMPARE(int(w.block), 4);
        const double captured = double(w.dataSize) / (w.rate * w.block);
        const double pitch = pitchOf(w.data, int(w.rate));
        QVERIFY2(std::abs(pitch - 440) < 10, qPrintable(QString::number(pitch)));

        int64_t frames = 0;
        for (int64_t m : moves)
            frames += m;
        // As much sound as the play head moved, though the sine source hands
        // over two seconds at a time, ahead of the clock (the last moves may
        // still be on their way when the recording stops).
        QVERIFY2(captured <= seconds && std::abs(captured - frames / 30.0) <= 0.1,
                 qPrintable(QString("%1 s captured in %2 s, %3 frames moved").arg(captured).arg(seconds).arg(frames)));
        // Thirty frames a second of wall time, never ahead of it.
        QVERIFY2(frames <= seconds * 30 + 3 && frames >= seconds * 30 * 0.8,
                 qPrintable(QString("%1 frames in %2 s").arg(frames).arg(seconds)));

        // A window that takes 100 ms for each move of the head: the head
        // still keeps up with the sound (skipping frames it cannot show),
        // and stops where the take ends, no moves left queued behind it.
        // Watched by a receiver of its own: record() lets go of its own when
        // the take stops, before late moves would come. The head moves from
        // the take's first sound on, which comes before the first move.
        int late = 0;
        qint64 firstMoveMs = -1;
        QObject watcher;
        connect(&manager, &RecordManager::sig_frameRequest, &watcher, [&] {
            if (firstMoveMs < 0)
                firstMoveMs = clock.elapsed();
            if (!manager.isRecording())
                ++late;
        });
        clock.restart();
        const QList<int64_t> slow = record(manager, [&clock] { return clock.elapsed() >= 2000; }, 10000, 100);
        const double slowSeconds = clock.elapsed() / 1000.0;
        QVERIFY(firstMoveMs >= 0);
        const double moving = slowSeconds - firstMoveMs / 1000.0;
        int64_t slowFrames = 0;
        for (int64_t m : slow)
            slowFrames += m;
        QVERIFY2(slowFrames <= slowSeconds * 30 + 3 && slowFrames >= moving * 30 * 0.9 - 2,
                 qPrintable(QString("%1 frames in %2 s of moving, in %3 moves").arg(slowFrames).arg(moving).arg(slow.size())));
        QTest::qWait(500);
        QCOMPARE(late, 0);

        // A second recording goes to a file of its own.
        items.clear();
        record(manager, [&items] { return !items.isEmpty(); }, 5000);
        QVERIFY(QFile::exists(path));
        QCOMPARE(items.size(), 2);
        QVERIFY(items[1][1].toString() != path);
    }

    // A chosen microphone that is not there: the recording stops itself,
    // with an error, no file and no clip.
    void aMissingMicrophoneLeavesNothing() {
        requireServer();
        bg::iface()->configSet("DeviceId", "no_such_mic");
        RecordManager manager;
        QSignalSpy items(&manager, &RecordManager::sig_audioSourceItem);
        QSignalSpy stops(&manager, &RecordManager::sig_controlRecord);
        manager.RecordAudio(true);
        const QString path = items[0][1].toString();
        QVERIFY(stops.wait(3000));
        manager.RecordAudio(false);
        bg::iface()->configSet("DeviceId", "default");
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[1][1].toString(), QString());
        QCOMPARE(items[1][2].toBool(), true);
        QVERIFY(!QFile::exists(path));
    }

    // The microphone goes away while recording: the recorder asks to stop,
    // and what was captured stays a valid file for the clip.
    void aMicrophoneThatGoesAway() {
        requireServer();
        QByteArray module;
        QVERIFY(pactl({"load-module", "module-sine-source", "source_name=leaving_mic", "rate=48000",
                       "frequency=1000"},
                      &module));
        bg::iface()->configSet("DeviceId", "leaving_mic");
        RecordManager manager;
        QSignalSpy items(&manager, &RecordManager::sig_audioSourceItem);
        QSignalSpy stops(&manager, &RecordManager::sig_controlRecord);
        manager.RecordAudio(true);
        QTest::qWait(1000);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(pactl({"unload-module", QString::fromLatin1(module)}));
        QVERIFY(stops.wait(3000));
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        manager.RecordAudio(false);
        bg::iface()->configSet("DeviceId", "default");
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[1][2].toBool(), true); // with error
        const WavFacts w = readWav(items[1][1].toString());
        QVERIFY(w.valid);
        QCOMPARE(w.rate, 48000u);
        QVERIFY(w.dataSize > 48000u * 4 / 2);
        QVERIFY(std::abs(pitchOf(w.data, 48000) - 1000) < 20);
    }

    // No server at all: one initialisation error, no file, no clip.
    void noServerAtAll() {
        const QByteArray server = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", QByteArray("unix:") + QFile::encodeName(folder) + "/no-server.sock");
        {
            wav::WavEncoder writer(nullptr);
            AudioCaptureSource source(AudioCaptureSource::Microphone, &writer, "default");
            // Emitted on the capture thread.
            std::atomic<int> errors {0}, lost {0};
            connect(&source, &AudioCaptureSource::sig_initError, this, [&errors] { ++errors; }, Qt::DirectConnection);
            connect(&source, &AudioCaptureSource::sig_inActivated, this, [&lost] { ++lost; }, Qt::DirectConnection);
            // Retried, silently, after the first failure. The first attempt
            // starts with the source, so on a busy machine its error can come
            // before the connection above: never more than once is the point.
            QTRY_VERIFY_WITH_TIMEOUT(lost.load() >= 8, 8000);
            QVERIFY(errors.load() <= 1);
        }
        RecordManager manager;
        QSignalSpy items(&manager, &RecordManager::sig_audioSourceItem);
        QSignalSpy stops(&manager, &RecordManager::sig_controlRecord);
        manager.RecordAudio(true);
        QVERIFY(stops.wait(3000));
        manager.RecordAudio(false);
        qputenv("PULSE_SERVER", server);
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[1][1].toString(), QString());
        QCOMPARE(items[1][2].toBool(), true);
        QVERIFY(!QFile::exists(items[0][1].toString()));
    }
};

KORVEL_TEST_MAIN(TestRecord)
#include "tst_record.moc"
