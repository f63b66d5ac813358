// Voice-over through the editor as a user makes one: the dub button on the
// toolbar records from the private sound server's sine source while the
// play head runs, and the recording lands as a dub clip at the place it
// started; play stops a recording; without a sound server the user is told.
#include "main/main-window.h"
#include "main/zyapp.h"
#include "render/preview-widget.h"
#include "render/record/record-manager.h"
#include "render/render-manager.h"
#include "support/test-main.h"
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
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

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
