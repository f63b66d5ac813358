// The clip view: zoom levels, the play head's limits, the requests that the
// tracks' preview items receive at a frame (with and without transitions),
// the sound of a frame and copy / paste / delete from the keyboard.
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/frame-dispatcher.h"
#include "timeline/frame-requests.h"
#include "timeline/source-item.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "timeline/trans-item.h"
#include "undo/undo-controller.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>

#include <cmath>
#include <thread>
#include <memory>

namespace {

// Keeps what the track hands its preview item.
class RecordingItem : public PreviewItem {
public:
    RecordingItem() : PreviewItem({1920, 1080}) {}
    void request(const FrameRequest& r) override {
        last = r;
        ++count;
    }
    void request(const SubtitleRequest& r) override {
        lastSubtitle = r;
        ++count;
    }
    void beginExport() override { ++exports; }
    void endExport() override { --exports; }
    void applyRenderProps(const RenderProps& props) override {
        ++applied;
        PreviewItem::applyRenderProps(props);
    }
    FrameRequest last;
    SubtitleRequest lastSubtitle;
    int count = 0;
    int exports = 0;
    int applied = 0;
};

QAction* action(QMenu* menu, const char* key) {
    for (QAction* a : menu->actions()) {
        if (a->text() == QLatin1String(key))
            return a;
    }
    return nullptr;
}

RecordingItem* giveItem(ClassifyItem* track) {
    auto* item = new RecordingItem;
    track->setPreviewItem(item);
    item->Release();
    return item;
}

} // namespace

class TestTimelineView : public QObject {
    Q_OBJECT

    std::unique_ptr<TimeLineTreeModel> model;
    std::unique_ptr<TimeLineGraphicsScene> scene;
    std::unique_ptr<TimeLineGraphicsView> view;

    SourceData* add(ClassifyItem* track, int64_t start, int64_t length, int64_t offset = 0,
                    const QString& path = "/media/clip.mp4") {
        SourceData* clip = model->createSource(track, start, length, offset, 100000, path,
                                               QRectF(10, 20, 640, 360), QRect(0, 0, 640, 360));
        track->addSource(clip);
        return clip;
    }

private slots:
    void init() {
        timeline::overrideDpiScale(1.0);
        view.reset();
        scene.reset();
        model.reset();
        zya::UndoController::instance()->reset();
        model = std::make_unique<TimeLineTreeModel>();
        scene = std::make_unique<TimeLineGraphicsScene>();
        scene->setModel(model.get());
        view = std::make_unique<TimeLineGraphicsView>(scene.get());
        view->resize(800, 300);
        TimeLineGraphicsView::s_copyData = CopyData();
    }
    void cleanup() {
        view.reset();
        scene.reset();
        model.reset();
        zya::UndoController::instance()->reset();
    }

    void zoomStartsAtTwelveAndRoundTripsExactly() {
        QCOMPARE(view->zoomLevel(), 12);
        QVERIFY(qAbs(view->horizontalScale() - 0.022518) < 5e-7);
        const double start = view->horizontalScale();
        view->setZoomLevel(0);
        QCOMPARE(view->horizontalScale(), 1.0);
        view->slot_scaleStepView(true); // already the most detailed
        QCOMPARE(view->zoomLevel(), 0);
        view->setZoomLevel(24);
        QCOMPARE(view->zoomLevel(), 24);
        QVERIFY(qAbs(view->horizontalScale() -
                     0.8 * 0.8 * 0.8 * 0.8 * 0.8 * 0.8 * 0.8 * std::pow(0.64, 8) * std::pow(0.5, 9)) < 1e-15);
        view->slot_scaleStepView(false);
        QCOMPARE(view->zoomLevel(), 24);
        view->setZoomLevel(12);
        QCOMPARE(view->horizontalScale(), start);
        QCOMPARE(view->transform().m22(), 1.0);
    }

    void zoomStepEmitsLevelAndScale() {
        QSignalSpy spy(view.get(), &TimeLineGraphicsView::sig_scaleValue);
        view->slot_scaleStepView(true);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 11);
        QVERIFY(qAbs(spy.at(0).at(1).toDouble() - 0.022518 / 0.64) < 1e-6);
    }

    void playHeadStaysInsideTheTimeline() {
        add(model->header(SourceVideo), 0, 100);
        scene->updateLength();
        view->slot_resetFrame(10, EditManual, false);
        view->slot_backFrameRequest(MoveStep, EditManual, 25, 30);
        QCOMPARE(view->playHeadFrame(), 0);
        view->slot_frontFrameRequest(MoveStep, EditManual, 5000, 30);
        QCOMPARE(view->playHeadFrame(), view->totalFrames() - 1);
        QVERIFY(view->totalFrames() >= 100);
    }

    void playHeadIsKeptInView() {
        add(model->header(SourceVideo), 0, 1000);
        scene->updateLength();
        view->setZoomLevel(0); // 50 pixels a frame
        QScrollBar* bar = view->horizontalScrollBar();
        bar->setValue(0);
        const int width = view->viewport()->width();
        QSignalSpy moved(view.get(), &TimeLineGraphicsView::sig_moveValue);
        view->slot_frontFrameRequest(MoveStep, EditManual, 20, 30);
        QCOMPARE(bar->value(), 20 * 50 - width + 20);
        QCOMPARE(moved.last().at(0).toInt(), bar->value());
        QCOMPARE(moved.last().at(1).toDouble(), 1000.0);
        view->slot_backFrameRequest(MoveStep, EditManual, 19, 30); // near the left edge
        QCOMPARE(bar->value(), 50 - 20);
        view->slot_frontFrameRequest(MovePlayback, EditPlayback, 39, 30);
        QCOMPARE(bar->value(), 40 * 50 - 20); // a page jump
    }

    void ctrlWheelZoomsAndSceneClickMovesPlayHead() {
        QWheelEvent in(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
                       Qt::ControlModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view->viewport(), &in);
        QCOMPARE(view->zoomLevel(), 11);
        QWheelEvent plain(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view->viewport(), &plain);
        QCOMPARE(view->zoomLevel(), 11);
        emit scene->sig_resetFrame(33, 0, true);
        QCOMPARE(view->playHeadFrame(), int64_t(33));
    }

    void paintingTellsTheTime() {
        add(model->header(SourceVideo), 0, 90);
        scene->updateLength();
        view->slot_resetFrame(12, EditManual, false);
        int64_t current = -1;
        int64_t total = -1;
        connect(view.get(), &TimeLineGraphicsView::sig_showTime, this, [&](int64_t c, int64_t t) {
            current = c;
            total = t;
        });
        view->viewport()->grab();
        QCOMPARE(current, int64_t(12));
        QCOMPARE(total, view->totalFrames());
    }

    void requestsWithoutTransition() {
        ClassifyItem* video = model->header(SourceVideo);
        RecordingItem* item = giveItem(video);
        add(video, 10, 20, 5);
        view->slot_resetFrame(15, EditManual, true);
        QCOMPARE(item->last.decodeMask, int(DecodeSelf));
        QCOMPARE(item->last.showMask, int(ShowClip));
        QCOMPARE(item->last.self.frame, int64_t(10)); // offset 5 + 5 frames in
        QCOMPARE(item->last.self.centerX, 10.0f);
        view->slot_resetFrame(30, EditManual, true); // end is exclusive
        QCOMPARE(item->last.decodeMask, 0);
        QCOMPARE(item->last.showMask, 0);
    }

    void requestsInsideTransition() {
        ClassifyItem* video = model->header(SourceVideo);
        RecordingItem* item = giveItem(video);
        SourceData* a = add(video, 0, 100, 7);
        SourceData* b = add(video, 100, 100, 3);
        scene->addTransition(a, b, "fade"); // 60 frames around the cut: 70..130
        scene->updateLength();
        view->slot_resetFrame(85, EditManual, true);
        QCOMPARE(item->last.program, QString("fade"));
        QCOMPARE(item->last.decodeMask, int(DecodeFrom | DecodeTo));
        QCOMPARE(item->last.showMask, int(ShowTransition));
        QCOMPARE(item->last.progress, 15.0 / 60.0);
        QCOMPARE(item->last.from.frame, int64_t(7 + 85));
        QCOMPARE(item->last.to.frame, int64_t(3)); // held at the first frame of "to"
        QCOMPARE(item->last.to.uuid, b->uuid());

        view->slot_resetFrame(120, EditManual, true);
        QCOMPARE(item->last.from.frame, int64_t(7 + 99)); // held at the last frame of "from"
        QCOMPARE(item->last.to.frame, int64_t(3 + 20));
        QCOMPARE(item->last.progress, 50.0 / 60.0);

        view->slot_resetFrame(131, EditManual, true);
        QCOMPARE(item->last.showMask, int(ShowClip));
        QCOMPARE(item->last.self.frame, int64_t(3 + 31));
    }

    void transitionOfAnInvalidClipDoesNotPlay() {
        ClassifyItem* video = model->header(SourceVideo);
        SourceData* a = add(video, 0, 100);
        SourceData* b = add(video, 100, 100);
        TransitionData data(a, b, "fade");
        QVERIFY(timeline::transitionAt(data, 100).has_value());
        QVERIFY(timeline::transitionAt(data, 100)->inFrom == false);
        QVERIFY(timeline::transitionAt(data, 99)->inFrom);
        QVERIFY(!timeline::transitionAt(data, 69).has_value());
        QVERIFY(!timeline::transitionAt(data, 131).has_value());
        a->setValid(0);
        QVERIFY(!timeline::transitionAt(data, 100).has_value());
    }

    void transitionOnlyReachesItsOwnTrack() {
        ClassifyItem* video = model->header(SourceVideo);
        ClassifyItem* picture = model->header(SourcePicture);
        RecordingItem* pictureItem = giveItem(picture);
        SourceData* a = add(video, 0, 100);
        SourceData* b = add(video, 100, 100);
        add(picture, 0, 200, 0, "/media/still.png");
        scene->addTransition(a, b, "fade");
        view->slot_resetFrame(100, EditManual, true);
        QCOMPARE(pictureItem->last.showMask, int(ShowClip));
        QVERIFY(pictureItem->last.program.isEmpty());
    }

    void subtitleTrackGetsItsRequest() {
        ClassifyItem* subtitles = model->header(SourceSubtitle);
        RecordingItem* item = giveItem(subtitles);
        SourceData* clip = model->createSubtitle(subtitles, 40, 30, "hello", QFont(), Qt::yellow);
        subtitles->addSource(clip);
        view->slot_resetFrame(45, EditManual, true);
        QCOMPARE(item->count, 1);
        QCOMPARE(item->lastSubtitle.frame, int64_t(5));
        QCOMPARE(item->lastSubtitle.text, QString("hello"));
    }

    void soundOfAFrame() {
        SourceData* v = add(model->header(SourceVideo), 0, 100, 30, "/media/a.mp4");
        add(model->header(SourcePicture), 0, 100, 0, "/media/still.png");
        SourceData* dub = add(model->header(SourceDub), 10, 100, 0, "/media/voice.wav");
        scene->updateLength();
        int calls = 0;
        QList<AudioFrameData> sounds;
        int64_t frame = -1;
        int64_t total = -1;
        EditType edit = EditManual;
        connect(view.get(), &TimeLineGraphicsView::sig_deliverAudio, this,
                [&](QList<AudioFrameData> s, int64_t f, int64_t, int64_t t, EditType e) {
                    ++calls;
                    sounds = s;
                    frame = f;
                    total = t;
                    edit = e;
                });
        view->slot_frontFrameRequest(MoveStep, EditPlayback, 20, 25);
        QCOMPARE(calls, 1);
        QCOMPARE(sounds.size(), 2); // pictures are silent
        QCOMPARE(sounds.at(0).path, v->path());
        QCOMPARE(sounds.at(0).num, int64_t(20 + 30));
        QCOMPARE(sounds.at(0).den, int64_t(25));
        QCOMPARE(sounds.at(1).num, int64_t(10));
        QCOMPARE(frame, int64_t(20));
        QCOMPARE(total, view->totalFrames());
        QCOMPARE(edit, EditPlayback);
        Q_UNUSED(dub);
    }

    void mutedClipSoundsAtVolumeZero() {
        SourceData* v = add(model->header(SourceVideo), 0, 100);
        v->setInitialLook(0, 255, 80, true);
        const auto sounds = timeline::audioFrame(model->tracks(), 5, 30);
        QCOMPARE(sounds.size(), 1);
        QCOMPARE(sounds.at(0).volume, 0);
        v->setInitialLook(0, 255, 80, false);
        QCOMPARE(timeline::audioFrame(model->tracks(), 5, 30).at(0).volume, 80);
    }

    // The play head and the questions of an instant need no widget: a
    // dispatcher over the model answers them, an export's on its own thread.
    void framesAreAnsweredWithoutAView() {
        ClassifyItem* video = model->header(SourceVideo);
        ClassifyItem* addedVideo = model->addTrack(video);
        RecordingItem* videoItem = giveItem(video);
        giveItem(addedVideo);
        ClassifyItem* subtitles = model->header(SourceSubtitle);
        giveItem(subtitles);
        add(video, 0, 100, 0, "/media/a.mp4");
        add(addedVideo, 50, 100, 0, "/media/b.mp4");
        SourceData* text = model->createSubtitle(subtitles, 40, 30, "hello", QFont(), Qt::yellow);
        subtitles->addSource(text);
        text->setInitialLook(30, 255, 128, false);

        FrameDispatcher frames(model.get());
        QCOMPARE(frames.totalFrames(), int64_t(150));
        frames.setFrame(-5);
        QCOMPARE(frames.frame(), int64_t(0));
        frames.setFrame(45);
        const int asked = videoItem->count;
        frames.requestPictures(frames.frame());
        QCOMPARE(videoItem->count, asked + 1);
        QCOMPARE(videoItem->last.self.frame, int64_t(45));
        QCOMPARE(videoItem->last.self.path, QStringLiteral("/media/a.mp4"));
        QCOMPARE(frames.soundAt(frames.frame(), 30).size(), 1); // the added track starts at 50

        ExportSound sound;
        ExportPicture picture, later;
        std::thread worker([&] {
            sound = frames.exportSound(60, 25);
            picture = frames.exportPicture(60);
            later = frames.exportPicture(80);
        });
        worker.join();
        // Header and added track both sound, at the exporter's rate.
        QCOMPARE(sound.totalFrames, int64_t(150));
        QCOMPARE(sound.sounds.size(), 2);
        QCOMPARE(sound.sounds.at(1).num, int64_t(10));
        QCOMPARE(sound.sounds.at(1).den, int64_t(25));
        // One entry per showing item; the subtitle carries its placement and look.
        const ExportFrameRecord& record = picture.record;
        QCOMPARE(picture.totalFrames, int64_t(150));
        int showing = 0;
        for (ClassifyItem* track : model->tracks())
            showing += track->showsPicture() && track->previewItem() ? 1 : 0;
        QCOMPARE(record.size(), showing);
        QCOMPARE(record.at(0).item, static_cast<PreviewItem*>(videoItem));
        const ExportFrameEntry* sub = nullptr;
        for (const ExportFrameEntry& e : record) {
            if (e.item == subtitles->previewItem())
                sub = &e;
        }
        QVERIFY(sub && sub->props.subtitle);
        QVERIFY(sub->props.visible);
        QCOMPARE(sub->props.subtitle->look.text, QStringLiteral("hello"));
        QCOMPARE(sub->props.subtitle->look.frame, int64_t(20));
        QCOMPARE(sub->props.subtitle->rotateDegrees, 30.0);
        // Past the subtitle's end its entry hides it.
        for (const ExportFrameEntry& e : later.record) {
            if (e.item == subtitles->previewItem())
                QVERIFY(!e.props.visible && !e.props.subtitle);
        }
    }

    void exportPreparationHandsItemsToTheExportAndBack() {
        ClassifyItem* video = model->header(SourceVideo);
        RecordingItem* videoItem = giveItem(video);
        RecordingItem* pictureItem = giveItem(model->header(SourcePicture));
        RecordingItem* subtitleItem = giveItem(model->header(SourceSubtitle));
        add(video, 0, 100);
        view->slot_resetFrame(10, EditManual, false);
        view->slot_startExportPrepare();
        QCOMPARE(videoItem->exports, 1);
        QCOMPARE(pictureItem->exports, 1);
        QCOMPARE(subtitleItem->exports, 0);
        QVERIFY(!videoItem->visible); // the base block shows nothing until the export's first frame
        const int before = videoItem->count;
        view->slot_stopExportPrepare();
        QCOMPARE(videoItem->exports, 0);
        QCOMPARE(pictureItem->exports, 0);
        QCOMPARE(videoItem->applied, 2);
        // Afterwards the preview shows the play head's frame again.
        QCOMPARE(videoItem->count, before + 1);
        QCOMPARE(videoItem->last.self.frame, int64_t(10));
    }

    void recordingGoesToAFreeDubRow() {
        ClassifyItem* dub = model->header(SourceDub);
        add(dub, 0, 100, 0, "/media/voice.wav");
        scene->updateLength();
        view->slot_resetFrame(50, EditManual, false);
        QSignalSpy create(view.get(), &TimeLineGraphicsView::sig_createSourceItem);

        // The header is busy at frame 50: a new Dub track takes the recording.
        view->slot_audioSourceItem(true, QString(), false);
        QVERIFY(view->isRecording());
        QCOMPARE(dub->children().size(), 1);
        ClassifyItem* added = dub->children().first();
        QCOMPARE(view->recordRowY(), model->trackTop(added));
        QCOMPARE(view->recordStartX(), timeline::frameToPixel(50));
        view->slot_frontFrameRequest(MoveStep, EditRecording, 30, 30);
        view->slot_audioSourceItem(false, "/tmp/voice-1.wav", false);
        QVERIFY(!view->isRecording());
        QCOMPARE(create.size(), 1);
        const bg::ValueMap map = create.at(0).at(0).value<bg::ValueMap>();
        QCOMPARE(map.get("type").toInt(), int(SourceDub));
        QCOMPARE(map.get("posX").toDouble(), timeline::frameToPixel(50));
        QCOMPARE(map.get("posY").toInt(),
                 int(std::lround(model->trackTop(added))) - view->verticalScrollBar()->value() + 18);
        QCOMPARE(QString::fromStdString(map.get("path").toStdString()), QStringLiteral("/tmp/voice-1.wav"));

        // A row whose clips all end by the play head is reused, header first.
        view->slot_resetFrame(200, EditManual, false);
        view->slot_audioSourceItem(true, QString(), false);
        QCOMPARE(dub->children().size(), 1);
        QCOMPARE(view->recordRowY(), model->trackTop(dub));
        // Ending without a file but with an error: no clip, the microphone hint.
        view->slot_audioSourceItem(false, QString(), true);
        QCOMPARE(create.size(), 1);
        auto* box = view->findChild<QMessageBox*>();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("pre_form.Recordcontent"));
        delete box;
        // A microphone lost during the take: the clip lands, and the message
        // says so rather than that there was no microphone.
        view->slot_audioSourceItem(true, QString(), false);
        view->slot_frontFrameRequest(MoveStep, EditRecording, 30, 30);
        view->slot_audioSourceItem(false, "/tmp/voice-3.wav", true);
        QCOMPARE(create.size(), 2);
        box = view->findChild<QMessageBox*>();
        QVERIFY(box);
        QVERIFY(box->text().startsWith("record.MicrophoneLost"));
        delete box;

        // Every row busy: a row is added, and taken back when nothing was
        // recorded (no microphone) instead of staying behind empty.
        add(added, 0, 300, 0, "/media/voice-2.wav");
        view->slot_resetFrame(50, EditManual, false);
        view->slot_audioSourceItem(true, QString(), false);
        QCOMPARE(dub->children().size(), 2);
        view->slot_audioSourceItem(false, QString(), true);
        QTRY_COMPARE(dub->children().size(), 1);
        delete view->findChild<QMessageBox*>();
        // An Undo pressed at once takes the row back itself; the edit
        // before it stays (it was undone too).
        ClassifyItem* audio = model->addTrack(model->header(SourceAudio));
        view->slot_audioSourceItem(true, QString(), false);
        QCOMPARE(dub->children().size(), 2);
        view->slot_audioSourceItem(false, QString(), true);
        zya::UndoController::instance()->stack.undo();
        QTest::qWait(50);
        QCOMPARE(dub->children().size(), 1);
        QVERIFY(model->header(SourceAudio)->children().contains(audio));
        delete view->findChild<QMessageBox*>();
    }

    // The play head's time is told with every frame asked for, also while
    // the timeline is hidden behind a full-screen preview and not painted.
    void timeIsToldWithoutPainting() {
        add(model->header(SourceVideo), 0, 100, 0, "/media/clip.mp4");
        scene->updateLength();
        view->hide();
        QList<QPair<int64_t, int64_t>> told;
        const QMetaObject::Connection watch = connect(view.get(), &TimeLineGraphicsView::sig_showTime, this,
                [&told](int64_t current, int64_t total) { told.append({current, total}); });
        view->slot_resetFrame(42, EditManual, true);
        disconnect(watch);
        QVERIFY(!told.isEmpty());
        QCOMPARE(told.last(), qMakePair(int64_t(42), view->totalFrames()));
    }

    // The timeline is as long as its last clip, also when that clip ends in
    // a fade and is trimmed back, and through undo and redo.
    void theLengthFollowsTheLastClip() {
        ClassifyItem* video = model->header(SourceVideo);
        add(video, 0, 100);
        SourceData* last = add(video, 100, 100);
        QVERIFY(model->addTransition(last, nullptr, "over_black", 1000, 10));
        QCOMPARE(view->totalFrames(), int64_t(200));
        QVERIFY(model->trimSource(last, 100, 50, 0));
        QCOMPARE(view->totalFrames(), int64_t(150));
        zya::UndoController::instance()->stack.undo();
        QCOMPARE(view->totalFrames(), int64_t(200));
        zya::UndoController::instance()->stack.redo();
        QCOMPARE(view->totalFrames(), int64_t(150));
    }

    // A step of playback paints the strips where the play head's line was
    // and where it lands, and nothing else: with thousands of clips in view,
    // painting them all every frame held up playback.
    void aPlayStepPaintsOnlyThePlayHead() {
        add(model->header(SourceVideo), 0, 600, 0, "/media/clip.mp4");
        scene->updateLength();
        view->resize(900, 300);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        view->slot_resetFrame(30, EditManual, false);
        QTest::qWait(100); // the first paints are over
        struct PaintSpy : QObject {
            QRegion painted;
            bool eventFilter(QObject*, QEvent* event) override {
                if (event->type() == QEvent::Paint)
                    painted += static_cast<QPaintEvent*>(event)->region();
                return false;
            }
        } spy;
        view->viewport()->installEventFilter(&spy);
        view->slot_frontFrameRequest(MoveStep, EditPlayback, 60, 30);
        const int was = view->mapFromScene(QPointF(timeline::frameToPixel(30), 0)).x();
        const int now = view->mapFromScene(QPointF(timeline::frameToPixel(90), 0)).x();
        QVERIFY(now - was > 10);
        const int middle = view->viewport()->height() / 2;
        QTRY_VERIFY(spy.painted.contains(QPoint(now, middle)) && spy.painted.contains(QPoint(was, middle)));
        view->viewport()->removeEventFilter(&spy);
        QVERIFY2(!spy.painted.contains(QPoint((was + now) / 2, middle)),
                 qPrintable(QString::number(spy.painted.boundingRect().width())));
    }

    void copyPasteAtPlayHead() {
        ClassifyItem* video = model->header(SourceVideo);
        ClassifyItem* added = model->addTrack(video);
        auto* clip = dynamic_cast<SourceItem*>(add(added, 0, 40, 0, "/media/clip.mp4"));
        QVERIFY(clip);
        clip->setSelected(true);
        view->copySelected();
        QCOMPARE(TimeLineGraphicsView::s_copyData.type, uint32_t(SourceVideo));
        QCOMPARE(TimeLineGraphicsView::s_copyData.row, 0);
        view->slot_resetFrame(200, EditManual, false);
        QTest::keyClick(view.get(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(added->sources().size(), 2);
        QCOMPARE(added->sources().at(1)->startFrame(), int64_t(200));
        // Cut takes the clip away and pastes as a copy would.
        auto* pasted = dynamic_cast<SourceItem*>(added->sources().at(1));
        clip->setSelected(false);
        pasted->setSelected(true);
        QTest::keyClick(view.get(), Qt::Key_X, Qt::ControlModifier);
        QTRY_COMPARE(added->sources().size(), 1);
        view->slot_resetFrame(100, EditManual, false);
        QTest::keyClick(view.get(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(added->sources().size(), 2);
        QCOMPARE(added->sources().at(1)->startFrame(), int64_t(100));
        QCOMPARE(added->sources().at(1)->lengthFrames(), int64_t(40));
    }

    void pasteOfMissingMediaIsInvalidAndFallsBackToHeader() {
        ClassifyItem* video = model->header(SourceVideo);
        ClassifyItem* added = model->addTrack(video);
        auto* clip = dynamic_cast<SourceItem*>(add(added, 0, 40, 0, "/nonexistent/gone.mp4"));
        clip->setSelected(true);
        QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(TimeLineGraphicsView::s_copyData.row, 0);
        clip->setSelected(false);
        QVERIFY(model->removeTrack(added));
        view->slot_resetFrame(50, EditManual, false);
        QTest::keyClick(view.get(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(video->sources().size(), 1);
        QCOMPARE(video->sources().at(0)->valid(), 0);
        QCOMPARE(video->sources().at(0)->startFrame(), int64_t(50));
    }

    void pasteWithEmptyBufferDoesNothing() {
        QTest::keyClick(view.get(), Qt::Key_V, Qt::ControlModifier);
        for (ClassifyItem* t : model->tracks())
            QVERIFY(t->sources().isEmpty());
    }

    void deleteRemovesSelectedOrTellsNothingIsSelected() {
        ClassifyItem* video = model->header(SourceVideo);
        auto* a = dynamic_cast<SourceItem*>(add(video, 0, 40));
        add(video, 50, 40);
        QSignalSpy none(view.get(), &TimeLineGraphicsView::sig_nothingSelected);
        zya::UndoController::instance()->reset();
        QTest::keyClick(view.get(), Qt::Key_Delete);
        QCoreApplication::processEvents();
        QCOMPARE(none.count(), 1);
        auto* hint = view->findChild<QMessageBox*>();
        QVERIFY(hint);
        QCOMPARE(hint->text(), QString("timeline-manage.SelectClear"));
        QCOMPARE(hint->windowTitle(), QString("timeline-manage.Hint"));
        hint->close();
        QCOMPARE(zya::UndoController::instance()->stack.count(), 0);
        a->setSelected(true);
        QTest::keyClick(view.get(), Qt::Key_Delete);
        QCOMPARE(video->sources().size(), 2); // queued
        QCoreApplication::processEvents();
        QCOMPARE(video->sources().size(), 1);
        QCOMPARE(video->sources().at(0)->startFrame(), int64_t(50));
        QCOMPARE(zya::UndoController::instance()->stack.count(), 1);
        QCOMPARE(zya::UndoController::instance()->stack.text(0), QString("remove sourceItems"));
    }

    void menuForSeveralSelectedOnlyDeletes() {
        ClassifyItem* video = model->header(SourceVideo);
        auto* a = dynamic_cast<SourceItem*>(add(video, 0, 40));
        auto* b = dynamic_cast<SourceItem*>(add(video, 50, 40));
        a->setSelected(true);
        b->setSelected(true);
        std::unique_ptr<QMenu> menu(view->contextMenuFor(a, QPointF(a->x() + 100, a->y() + 5)));
        QVERIFY(!action(menu.get(), "track-view.Edit")->isEnabled());
        QVERIFY(!action(menu.get(), "track-view.UpLevel")->isEnabled());
        QVERIFY(!action(menu.get(), "track-view.DownLevel")->isEnabled());
        QVERIFY(!action(menu.get(), "track-view.copy"));
        action(menu.get(), "track-view.Delete")->trigger();
        QVERIFY(video->sources().isEmpty());
    }

    void upLevelWithoutOverlapRaisesByOne() {
        ClassifyItem* video = model->header(SourceVideo);
        auto* clip = dynamic_cast<SourceItem*>(add(video, 0, 40));
        const int before = clip->SourceData::zValue();
        std::unique_ptr<QMenu> menu(view->contextMenuFor(clip, QPointF(clip->x() + 300, clip->y() + 5)));
        QVERIFY(action(menu.get(), "track-view.Edit")->isEnabled());
        QVERIFY(!action(menu.get(), "track-view.EditTrans"));
        action(menu.get(), "track-view.UpLevel")->trigger();
        QCOMPARE(clip->SourceData::zValue(), before + 1);
        action(menu.get(), "track-view.DownLevel")->trigger();
        QCOMPARE(clip->SourceData::zValue(), before);
    }

    void copyPushesTheNextClipRight() {
        ClassifyItem* video = model->header(SourceVideo);
        auto* a = dynamic_cast<SourceItem*>(add(video, 0, 40));
        SourceData* b = add(video, 40, 40);
        std::unique_ptr<QMenu> menu(view->contextMenuFor(a, QPointF(a->x() + 300, a->y() + 5)));
        action(menu.get(), "track-view.copy")->trigger();
        QCOMPARE(video->sources().size(), 3);
        QCOMPARE(b->startFrame(), int64_t(80));
    }

    void deleteTransFromItsZone() {
        ClassifyItem* video = model->header(SourceVideo);
        auto* a = dynamic_cast<SourceItem*>(add(video, 0, 100));
        auto* b = dynamic_cast<SourceItem*>(add(video, 100, 100));
        scene->addTransition(a, b, "fade");
        QVERIFY(!a->endZone().isEmpty());
        const QPointF inZone = a->mapToScene(a->endZone().center());
        std::unique_ptr<QMenu> menu(view->contextMenuFor(a, inZone));
        QVERIFY(!action(menu.get(), "track-view.Edit"));
        action(menu.get(), "track-view.DeleteTrans")->trigger();
        QVERIFY(model->transitions().isEmpty());
        QCOMPARE(a->fromTransFrames(), int64_t(0));
        QCOMPARE(b->toTransFrames(), int64_t(0));
        QVERIFY(a->endZone().isEmpty());
    }

    void splitButtonFollowsPlayHead() {
        auto* a = dynamic_cast<SourceItem*>(add(model->header(SourceVideo), 0, 40));
        QSignalSpy split(view.get(), &TimeLineGraphicsView::sig_splitButtonEnable);
        a->setSelected(true);
        QVERIFY(split.last().at(0).toBool());
        view->slot_resetFrame(60, EditManual, true);
        QVERIFY(!split.last().at(0).toBool());
    }
};

KORVEL_GUI_TEST_MAIN(TestTimelineView)
#include "tst_timeline_view.moc"
