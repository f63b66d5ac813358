// Voice-over through the editor as a user makes one: the dub button on the
// toolbar records from the private sound server's sine source while the
// play head runs, and the recording lands as a dub clip at the place it
// started, as long as the play head moved; play stops a recording; without
// a sound server the user is told.
#include "main/main-window.h"
#include "main/zyapp.h"
#include "render/preview-widget.h"
#include "render/record/record-manager.h"
#include "render/render-manager.h"
#include "resource/material-manager.h"
#include "resource/resource-widget.h"
#include "support/file-size-limit.h"
#include "support/test-main.h"
#include "support/pulse-control.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/toolbar-widget.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <cmath>
#include <cstring>

#include <unistd.h>

namespace {

MainWindow* window() { return qobject_cast<MainWindow*>(ZyApp::instance()->mainWindow()); }
TimeLineTreeModel* tracks() { return window()->timelineWidget()->model(); }
TimeLineGraphicsView* view() { return window()->timelineWidget()->view(); }
QToolButton* dubButton() { return window()->toolbarWidget()->findChild<QToolButton*>("pushButton_audio"); }
RenderManager* render() { return ZyApp::instance()->renderManager(); }

// Seconds of sound in a WAV file the recorder wrote, from its header.
double wavSeconds(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray h = f.read(46);
    if (h.size() < 46)
        return -1;
    auto u32 = [&h](int at) {
        return uint32_t(uint8_t(h[at])) | uint32_t(uint8_t(h[at + 1])) << 8 | uint32_t(uint8_t(h[at + 2])) << 16 |
               uint32_t(uint8_t(h[at + 3])) << 24;
    };
    const uint32_t bytesPerSecond = u32(28), dataBytes = u32(42);
    return bytesPerSecond ? double(dataBytes) / bytesPerSecond : -1;
}

// The sound of a WAV file the recorder wrote (mono or more, 32-bit float),
// as the samples of its first channel.
struct Take {
    QString error; // empty when the file is sound
    int rate = 0;
    int channels = 0;
    QVector<float> samples;
};

Take readTake(const QString& path) {
    Take take;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        take.error = "cannot open " + path;
        return take;
    }
    const QByteArray b = f.readAll();
    auto u32 = [&b](int at) {
        return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
               uint32_t(uint8_t(b[at + 3])) << 24;
    };
    auto u16 = [&b](int at) { return int(uint8_t(b[at])) | int(uint8_t(b[at + 1])) << 8; };
    if (b.size() < 46 || !b.startsWith("RIFF") || b.mid(8, 8) != "WAVEfmt ") {
        take.error = "not a WAV file";
        return take;
    }
    const int dataHead = 20 + int(u32(16));
    if (b.size() < dataHead + 8 || b.mid(dataHead, 4) != "data") {
        take.error = "no data chunk";
        return take;
    }
    take.channels = u16(22);
    take.rate = int(u32(24));
    const int block = u16(32);
    const int64_t inFile = b.size() - (dataHead + 8);
    // The header must tell what the file holds: a player goes by it.
    if (u16(20) != 3 || u16(34) != 32 || block != 4 * take.channels || int64_t(u32(dataHead + 4)) != inFile ||
        int64_t(u32(4)) != b.size() - 8 || inFile % block != 0) {
        take.error = QString("header and file disagree: %1 data bytes announced, %2 in the file")
                         .arg(u32(dataHead + 4))
                         .arg(inFile);
        return take;
    }
    for (int64_t i = 0; i < inFile / block; ++i) {
        float sample = 0;
        std::memcpy(&sample, b.constData() + dataHead + 8 + i * block, 4);
        take.samples.append(sample);
    }
    return take;
}

// Root mean square of samples [from, to).
double rms(const QVector<float>& s, int from, int to) {
    double sum = 0;
    for (int i = from; i < to; ++i)
        sum += double(s[i]) * s[i];
    return to > from ? std::sqrt(sum / (to - from)) : 0.0;
}

// Rising zero crossings a second.
double pitch(const QVector<float>& s, int rate) {
    int rising = 0;
    for (int i = 1; i < s.size(); ++i)
        rising += s[i - 1] < 0 && s[i] >= 0;
    return s.isEmpty() ? 0.0 : rising / (double(s.size()) / rate);
}

using korvel::test::pactl;

QList<SourceData*> dubClips() {
    QList<SourceData*> clips;
    ClassifyItem* header = tracks()->header(SourceDub);
    QList<ClassifyItem*> rows {header};
    rows.append(header->children());
    for (ClassifyItem* row : rows)
        clips.append(row->sources());
    return clips;
}

QList<QMessageBox*> openBoxes(const QString& text) {
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box && box->isVisible() && box->text() == text)
            boxes << box;
    }
    return boxes;
}

} // namespace

class TestVoiceOver : public QObject {
    Q_OBJECT

    // Clicks the dub button, waits, clicks it again; returns the frames the play head moved.
    int64_t recordFor(int ms) {
        const int64_t from = view()->playHeadFrame();
        QTest::mouseClick(dubButton(), Qt::LeftButton);
        if (!render()->isRecording())
            return -1;
        QTest::qWait(ms);
        QTest::mouseClick(dubButton(), Qt::LeftButton);
        return view()->playHeadFrame() - from;
    }

private slots:
    void initTestCase() {
        QVERIFY(ZyApp::instance()->initialize());
        QVERIFY(window());
        bg::iface()->configSet("mic.dir", korvel::test::workFolder("mic").toStdString());
        bg::iface()->configSet("DeviceId", "default");
    }

    void cleanup() {
        bg::iface()->configSet("DeviceId", "default");
        zya::UndoController::instance()->setClean();
        ZyApp::instance()->clearProject();
    }

    void recordingBecomesADubClipAtThePlayHead() {
        // A voice over music that is there already; the recording goes past its end.
        ClassifyItem* music = tracks()->header(SourceAudio);
        music->addSource(tracks()->createFromMaterial(music, QStringLiteral(KORVEL_TEST_MEDIA_DIR "/tone.mp3"), 0));
        window()->timelineWidget()->scene()->updateLength();
        view()->slot_resetFrame(45, EditManual, false);
        QSignalSpy items(render(), &RenderManager::sig_audioSourceItem);
        const int64_t moved = recordFor(2000);
        QVERIFY(!render()->isRecording());
        QVERIFY(!dubButton()->isChecked());
        // About thirty frames a second of the two seconds; a loaded machine
        // starts and stops the recording late.
        QVERIFY2(moved >= 40 && moved <= 80, qPrintable(QString::number(moved)));
        QCOMPARE(items.size(), 2);
        const QString path = items[1][1].toString();
        QVERIFY(QFile::exists(path));

        QList<SourceData*> clips = dubClips();
        QCOMPARE(clips.size(), 1);
        SourceData* first = clips.first();
        QCOMPARE(first->path(), path);
        QCOMPARE(first->startFrame(), int64_t(45));
        QCOMPARE(tracks()->trackOf(first), tracks()->header(SourceDub));
        const double seconds = wavSeconds(path);
        QVERIFY2(std::abs(first->lengthFrames() - seconds * 30) <= 2,
                 qPrintable(QString("%1 frames for %2 s").arg(first->lengthFrames()).arg(seconds)));
        QVERIFY(!zya::UndoController::instance()->isClean());

        // Back over the first clip: the next recording needs a dub track of its own.
        view()->slot_resetFrame(60, EditManual, false);
        QVERIFY(recordFor(1000) > 0);
        clips = dubClips();
        QCOMPARE(clips.size(), 2);
        SourceData* second = clips.last();
        QCOMPARE(second->startFrame(), int64_t(60));
        QVERIFY(tracks()->trackOf(second) != tracks()->header(SourceDub));
        QCOMPARE(tracks()->trackOf(second)->parentItem(), tracks()->header(SourceDub));
    }

    // Dub at 27.4 s, wait, dub again: the take is as long as the play head
    // moved, the WAV holds that much of the microphone's tone and no more,
    // and the clip ends where the play head stopped. Once from the test
    // server's sine source, which hands its sound over two seconds at a time
    // and ahead of the clock, and once from a source paced in real time: a
    // tone played into a null sink, recorded from its monitor.
    void takeLastsAsLongAsThePlayHeadMoved() {
        if (!pactl({"info"}))
            QSKIP("no sound server");
        QByteArray sink;
        QVERIFY(pactl({"load-module", "module-null-sink", "sink_name=korvel_tone_sink", "rate=48000"}, &sink));
        // A 1000 Hz tone played into it by the server, paced by the sink's
        // clock as a live sound would come (a player process can be starved
        // on a loaded machine, and the gaps would count as the recorder's).
        QByteArray tone;
        QVERIFY(pactl({"load-module", "module-sine", "sink=korvel_tone_sink", "frequency=1000"}, &tone));
        struct Unload {
            QByteArray modules[2];
            ~Unload() {
                for (const QByteArray& m : modules)
                    pactl({"unload-module", QString::fromLatin1(m)});
            }
        } unload {{tone, sink}};
        struct Case {
            const char* device;
            double hz;
        };
        for (const Case& source : {Case {"default", 440}, Case {"korvel_tone_sink.monitor", 1000}}) {
            const QString what = QString::fromLatin1(source.device);
            bg::iface()->configSet("DeviceId", source.device);
            view()->slot_resetFrame(822, EditManual, false); // 27.4 s
            QSignalSpy items(render(), &RenderManager::sig_audioSourceItem);
            QTest::mouseClick(dubButton(), Qt::LeftButton);
            QVERIFY2(render()->isRecording(), qPrintable(what));
            // The play head sets off with the first sound; a null sink that
            // had nobody asking for a short latency hands over its first
            // sound up to two seconds late.
            QTRY_VERIFY_WITH_TIMEOUT(view()->playHeadFrame() > 822, 5000);
            QTest::qWait(2500);
            QTest::mouseClick(dubButton(), Qt::LeftButton);
            QVERIFY(!render()->isRecording());
            QTest::qWait(200); // the last moves the recording sent on their way
            const int64_t moved = view()->playHeadFrame() - 822;
            QVERIFY2(moved > 30, qPrintable(QString("%1: the play head moved %2 frames").arg(what).arg(moved)));
            QCOMPARE(items.size(), 2);
            QCOMPARE(items[1][2].toBool(), false);
            const QString path = items[1][1].toString();

            const Take take = readTake(path);
            QVERIFY2(take.error.isEmpty(), qPrintable(what + ": " + take.error));
            const double seconds = double(take.samples.size()) / take.rate;
            QVERIFY2(std::abs(seconds - moved / 30.0) <= 0.3,
                     qPrintable(QString("%1: %2 s of sound for %3 frames of the play head")
                                    .arg(what)
                                    .arg(seconds)
                                    .arg(moved)));
            // The tone from start to end: no silence let in, none left out.
            const int tenth = take.samples.size() / 10;
            for (int i = 0; i < 10; ++i) {
                const double level = rms(take.samples, i * tenth, (i + 1) * tenth);
                QVERIFY2(level > 0.05, qPrintable(QString("%1: tenth %2 of the take at level %3")
                                                      .arg(what)
                                                      .arg(i)
                                                      .arg(level)));
            }
            const double hz = pitch(take.samples, take.rate);
            QVERIFY2(std::abs(hz - source.hz) < source.hz * 0.03,
                     qPrintable(QString("%1: %2 Hz recorded").arg(what).arg(hz)));

            const QList<SourceData*> clips = dubClips();
            QCOMPARE(clips.size(), 1);
            QCOMPARE(clips.first()->path(), path);
            QCOMPARE(clips.first()->startFrame(), int64_t(822));
            QVERIFY2(std::abs(clips.first()->lengthFrames() - moved) <= 9,
                     qPrintable(QString("%1: a clip of %2 frames for %3 frames of the play head")
                                    .arg(what)
                                    .arg(clips.first()->lengthFrames())
                                    .arg(moved)));
            zya::UndoController::instance()->setClean();
            ZyApp::instance()->clearProject();
        }
    }

    // Recording and playback never run together.
    void playStopsARecording() {
        QTest::mouseClick(dubButton(), Qt::LeftButton);
        QVERIFY(render()->isRecording());
        QTest::qWait(500);
        auto* play = window()->previewWidget()->findChild<QToolButton*>("toolButton_play");
        QVERIFY(play);
        QTest::mouseClick(play, Qt::LeftButton);
        QTRY_VERIFY(!render()->isRecording());
        QVERIFY(!dubButton()->isChecked());
        QCOMPARE(dubClips().size(), 1);
        if (render()->isPlaying())
            QTest::mouseClick(play, Qt::LeftButton);
        QTRY_VERIFY(!render()->isPlaying());

        // And the other way round: recording stops playback.
        view()->slot_resetFrame(0, EditManual, false);
        QTest::mouseClick(play, Qt::LeftButton);
        QTRY_VERIFY(render()->isPlaying());
        QTest::mouseClick(dubButton(), Qt::LeftButton);
        QTRY_VERIFY(!render()->isPlaying());
        QVERIFY(render()->isRecording());
        QTest::mouseClick(dubButton(), Qt::LeftButton);
        QVERIFY(!render()->isRecording());
    }

    // From the start of a take until a saved project (or its automatic copy)
    // holds it, the settings name it; a crash leaves it named, and the next
    // start puts it in the library and tells the user (the take was a whole
    // file that nothing offered).
    void aTakeCutOffByACrashIsKept() {
        QTest::mouseClick(dubButton(), Qt::LeftButton);
        QVERIFY(render()->isRecording());
        QVERIFY(!RecordManager::unfinishedTakes().isEmpty());
        const QString take = RecordManager::unfinishedTakes().last();
        QTest::qWait(500);
        QTest::mouseClick(dubButton(), Qt::LeftButton);
        QCOMPARE(dubClips().size(), 1);
        // Stopped, but in no file yet: a crash now would lose it too.
        QVERIFY(RecordManager::unfinishedTakes().contains(take));
        QVERIFY(ZyApp::instance()->saveProject(true, false, QString()));
        QVERIFY(bg::configText(RecordManager::kUnfinishedTakeKey).empty());
        // A crash after that save: the recovered copy holds the take, so the
        // next start has nothing to add and nothing to tell.
        QTemporaryDir folder;
        const QString recovered = folder.filePath("recovered.zya2");
        QVERIFY(QFile::copy(QString::fromStdString(bg::configText("autoSavePath")), recovered));
        MaterialManager* library = window()->resourceWidget()->manager();
        const auto isTake = [&](const MaterialObject* o) { return o->path == take; };
        int told = 0;
        QTimer answering;
        connect(&answering, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ++told;
                box->accept();
            }
        });
        answering.start(20);
        ZyApp::instance()->clearProject();
        QVERIFY(ZyApp::instance()->openProject(recovered));
        QCOMPARE(dubClips().size(), 1);
        bg::iface()->configSet(RecordManager::kUnfinishedTakeKey, take.toStdString());
        ZyApp::instance()->keepUnfinishedTake();
        QCOMPARE(told, 0);
        QVERIFY(!library->FindMaterial(isTake));
        QVERIFY(bg::configText(RecordManager::kUnfinishedTakeKey).empty());
        // A crash before any save held it: named, and on no timeline; its
        // header, last written up to a second before, says all it holds.
        ZyApp::instance()->clearProject();
        QVERIFY(!library->FindMaterial(isTake));
        {
            QFile file(take);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(42)); // the data size
            file.write(QByteArray(4, '\0'));
        }
        QVERIFY(!readTake(take).error.isEmpty());
        bg::iface()->configSet(RecordManager::kUnfinishedTakeKey, take.toStdString());
        ZyApp::instance()->keepUnfinishedTake();
        answering.stop();
        QCOMPARE(told, 1);
        QVERIFY(bg::configText(RecordManager::kUnfinishedTakeKey).empty());
        QTRY_VERIFY(library->FindMaterial(isTake));
        const Take repaired = readTake(take);
        QVERIFY2(repaired.error.isEmpty(), qPrintable(repaired.error));
        QVERIFY(!repaired.samples.isEmpty());
    }

    // The disk fills while recording: the take stops by itself, lands with
    // what its file holds (a whole WAV that says so), and the user is told.
    void aFullDiskEndsTheTake() {
        if (!pactl({"info"}))
            QSKIP("no sound server");
        QSignalSpy items(render(), &RenderManager::sig_audioSourceItem);
        {
            // The test source hands over two seconds at a time: the first
            // fits, the second fills the file.
            korvel::test::FileSizeLimit full(500000);
            QTest::mouseClick(dubButton(), Qt::LeftButton);
            QVERIFY(render()->isRecording());
            QTRY_VERIFY_WITH_TIMEOUT(!render()->isRecording(), 10000);
        }
        QVERIFY(!dubButton()->isChecked());
        QCOMPARE(items.size(), 2);
        const QString path = items[1][1].toString();
        QVERIFY(!items[1][2].toBool()); // not "no microphone"
        const Take take = readTake(path);
        QVERIFY2(take.error.isEmpty(), qPrintable(take.error));
        QVERIFY(!take.samples.isEmpty());
        QCOMPARE(dubClips().size(), 1);
        QCOMPARE(dubClips().first()->path(), path);
        QList<QMessageBox*> told;
        QTRY_VERIFY((told = window()->findChildren<QMessageBox*>("recordCutShort")).size() == 1);
        QVERIFY(told.first()->text().startsWith("record.CutShort")); // the tests run on the text keys
        told.first()->close();
    }

    // No sound server: the recording stops by itself, no clip, and the user is told.
    void noMicrophoneIsTold() {
        const QDir folder(QString::fromStdString(bg::configText("mic.dir")));
        const int files = folder.entryList({"*.wav"}).size();
        const QByteArray server = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/pulse.sock");
        QTest::mouseClick(dubButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!render()->isRecording(), 5000);
        qputenv("PULSE_SERVER", server);
        QVERIFY(!dubButton()->isChecked());
        QCOMPARE(dubClips().size(), 0);
        QTRY_COMPARE(openBoxes("pre_form.Recordcontent").size(), 1);
        for (QMessageBox* box : openBoxes("pre_form.Recordcontent"))
            box->close();
        QCOMPARE(folder.entryList({"*.wav"}).size(), files); // nothing left behind
    }
};

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestVoiceOver");
    korvel::test::requireDisplay();
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-voice-over-%1").arg(getpid()));
    // No translator: the message boxes show their keys, which the test reads.
    ZyApp app(argc, argv);
    TestVoiceOver tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_voice_over.moc"
