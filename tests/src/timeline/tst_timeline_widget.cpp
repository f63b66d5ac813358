// The timeline panel: the tree, ruler and clip view kept in step, panel
// edits reaching the item whose panel is open, and drops from the media
// library (materials, gifs, transitions, and payloads that are cut short).
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-item.h"
#include "timeline/time-ruler.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-tree-view.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/trans-item.h"
#include "undo/undo-controller.h"

#include <QDataStream>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QWheelEvent>

#include <memory>

namespace {

// The bytes of a payload written field by field; cut drops trailing bytes.
template <typename... Fields>
QByteArray payload(int cut, const Fields&... fields) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    (out << ... << fields);
    bytes.chop(cut);
    return bytes;
}

} // namespace

class TestTimelineWidget : public QObject {
    Q_OBJECT

    std::unique_ptr<TimeLineWidget> widget;

    TimeLineTreeModel* model() const { return widget->model(); }
    SourceData* add(ClassifyItem* track, int64_t start, int64_t length) {
        SourceData* clip = model()->createSource(track, start, length, 0, 100000, "/media/clip.mp4",
                                                 QRectF(10, 20, 640, 360), QRect(0, 0, 640, 360));
        track->addSource(clip);
        return clip;
    }
    // Drops the bytes at a scene point; true when the view accepted them.
    bool drop(const QByteArray& bytes, const QPointF& scenePos, const QString& text = "Quenor") {
        QMimeData mime;
        mime.setText(text);
        mime.setData("data", bytes);
        const QPoint at = widget->view()->mapFromScene(scenePos);
        // A drop reaches only the widget that accepted the drag's entry.
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget->view()->viewport(), &enter);
        QDropEvent event(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        event.setAccepted(false);
        QCoreApplication::sendEvent(widget->view()->viewport(), &event);
        return event.isAccepted();
    }
    QPointF rowCentre(ClassifyItem* track) {
        SourceData* probe = add(track, 0, 1);
        auto* item = dynamic_cast<SourceItem*>(probe);
        const QPointF centre = item->sceneBoundingRect().center();
        model()->removeSources({probe});
        return centre;
    }

private slots:
    void init() {
        timeline::overrideDpiScale(1.0);
        zya::UndoController::instance()->reset();
        widget = std::make_unique<TimeLineWidget>();
        widget->resize(900, 300);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    }
    void cleanup() {
        widget.reset();
        zya::UndoController::instance()->reset();
    }

    // Track names stay beside their clips, whichever side the wheel turns
    // (the names moved by whole rows, the clips by pixels).
    void namesStayBesideTheirClipsWhenScrolled() {
        ClassifyItem* video = model()->header(SourceVideo);
        for (int i = 0; i < 10; ++i)
            model()->addTrack(video);
        QTRY_VERIFY(widget->view()->verticalScrollBar()->maximum() > 100);
        ClassifyItem* track = video->children().at(6);
        auto gap = [&] {
            const int name = widget->treeView()->visualRect(model()->indexOf(track)).top();
            const int band = widget->view()->mapFromScene(QPointF(0, model()->trackTop(track))).y();
            return name - band;
        };
        const int aligned = gap();
        auto wheel = [](QWidget* target) {
            const QPoint at(target->width() / 2, target->height() / 2);
            QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(target, &event);
        };
        wheel(widget->view()->viewport());
        QVERIFY(widget->view()->verticalScrollBar()->value() > 0);
        QCOMPARE(gap(), aligned);
        wheel(widget->treeView()->viewport());
        wheel(widget->treeView()->viewport());
        QCOMPARE(gap(), aligned);
        widget->view()->verticalScrollBar()->setValue(widget->view()->verticalScrollBar()->maximum());
        QCOMPARE(gap(), aligned);
    }

    void rulerFollowsScrollAndZoom() {
        QSignalSpy level(widget.get(), &TimeLineWidget::sig_scaleSliderValueChanged);
        widget->slot_scaleSliderValue(5);
        QCOMPARE(widget->view()->zoomLevel(), 5);
        QCOMPARE(widget->ruler()->zoomLevel(), 5);
        QCOMPARE(widget->ruler()->scale(), widget->view()->horizontalScale());
        QCOMPARE(level.count(), 7); // one level at a time
        QCOMPARE(level.last().at(0).toInt(), 5);
        add(model()->header(SourceVideo), 0, 3000);
        widget->scene()->updateLength();
        QScrollBar* bar = widget->view()->horizontalScrollBar();
        QTRY_VERIFY(bar->maximum() > 100);
        QCOMPARE(widget->ruler()->maxOffset(), bar->maximum());
        bar->setValue(100);
        QCOMPARE(widget->ruler()->offset(), 100);
        // A click on a clip moves the play head there, the ruler's marker too.
        emit widget->scene()->sig_resetFrame(1234, 0, true);
        QCOMPARE(widget->view()->playHeadFrame(), int64_t(1234));
        QCOMPARE(widget->ruler()->playFrame(), int64_t(1234));
    }

    void panelEditReachesTheOpenClipOnly() {
        SourceData* a = add(model()->header(SourceVideo), 0, 30);
        SourceData* b = add(model()->header(SourceVideo), 40, 30);
        auto* itemB = dynamic_cast<SourceItem*>(b);
        widget->scene()->showMenu(itemB, MenuVideo, 2, b->panelMap());
        bg::ValueMap map;
        map["rotate"] = bg::Value(90);
        widget->slot_updateData(MenuVideo, map, "rotate");
        QCOMPARE(b->rotate(), 90);
        QCOMPARE(a->rotate(), 0);
        zya::UndoController::instance()->stack.undo();
        QCOMPARE(b->rotate(), 0);
        // With no panel open nothing changes.
        widget->scene()->closeMenuFor(itemB);
        widget->slot_updateData(MenuVideo, map, "rotate");
        QCOMPARE(b->rotate(), 0);
    }

    void panelEditOfATransitionRenamesIt() {
        SourceData* from = add(model()->header(SourceVideo), 0, 60);
        SourceData* to = add(model()->header(SourceVideo), 60, 60);
        TransItem* trans = widget->scene()->addTransition(from, to, "fade");
        QVERIFY(trans);
        widget->scene()->showMenu(trans, MenuTransition, 2, trans->data()->panelMap(from));
        bg::ValueMap map;
        map["type"] = bg::Value(std::string("wipe"));
        widget->slot_updateData(MenuTransition, map, "type");
        QCOMPARE(trans->data()->name, QString("wipe"));
        // A clip edit while the transition's panel is open touches no clip.
        map["rotate"] = bg::Value(45);
        widget->slot_updateData(MenuVideo, map, "rotate");
        QCOMPARE(from->rotate(), 0);
        QCOMPARE(to->rotate(), 0);
    }

    void clearRemovesEveryClipInOneStep() {
        auto* undo = zya::UndoController::instance();
        widget->slot_clearSourceItems(); // empty: only the hint
        QCOMPARE(undo->stack.count(), 0);
        add(model()->header(SourceVideo), 0, 30);
        add(model()->header(SourceSubtitle), 10, 30);
        undo->reset();
        widget->slot_clearSourceItems();
        QVERIFY(model()->allSources().isEmpty());
        QCOMPARE(undo->stack.count(), 1);
        QCOMPARE(undo->stack.text(0), QString("clear sourceItems"));
        undo->stack.undo();
        QCOMPARE(model()->allSources().size(), 2);
    }

    void splitCutsTheSelectedClipAtThePlayHead() {
        SourceData* clip = add(model()->header(SourceVideo), 0, 60);
        widget->slot_splitSourceItem(); // nothing selected
        QCOMPARE(model()->allSources().size(), 1);
        dynamic_cast<SourceItem*>(clip)->setSelected(true);
        widget->view()->slot_resetFrame(20, EditManual, false);
        widget->slot_splitSourceItem();
        QCOMPARE(model()->allSources().size(), 2);
        QCOMPARE(clip->lengthFrames(), int64_t(20));
    }

    void droppedMaterialAsksForTheClip() {
        widget->slot_scaleSliderValue(0); // one scene pixel a screen pixel
        QSignalSpy spy(widget->view(), &TimeLineGraphicsView::sig_createSourceItem);
        const QPointF at(timeline::frameToPixel(10) + 20, rowCentre(model()->header(SourceVideo)).y());
        QVERIFY(drop(payload(0, QString("material"), int(SourceVideo), true, QString("/media/a.mp4")), at));
        QCOMPARE(spy.count(), 1);
        const bg::ValueMap map = spy.at(0).at(0).value<bg::ValueMap>();
        QCOMPARE(QString::fromStdString(map.get("path").toStdString()), QString("/media/a.mp4"));
        QCOMPARE(map.get("type").toInt(), int(SourceVideo));
        QCOMPARE(map.get("posX").toDouble(), timeline::frameToPixel(10)); // whole frames
    }

    void droppedSubtitleLandsOnTheSubtitleTrack() {
        QSignalSpy made(widget->treeView(), &TimeLineTreeView::sig_sourceCreated);
        const QPointF at(timeline::frameToPixel(40), rowCentre(model()->header(SourceSubtitle)).y());
        QFont font("Sans", 20);
        QVERIFY(drop(payload(0, QString("material"), int(SourceSubtitle), QColor(Qt::yellow), font), at));
        QCOMPARE(made.count(), 1);
        auto* clip = made.at(0).at(0).value<SourceData*>();
        QVERIFY(clip);
        QCOMPARE(clip->type(), SourceSubtitle);
        QCOMPARE(clip->startFrame(), int64_t(39)); // 50 pixels left of the drop point
        QCOMPARE(clip->color(), QColor(Qt::yellow));
    }

    void droppedGifIsAPicture() {
        QSignalSpy spy(widget->view(), &TimeLineGraphicsView::sig_createSourceItem);
        QVERIFY(drop(payload(0, QString("gif"), QString("/media/b.gif")), QPointF(100, 10)));
        QCOMPARE(spy.count(), 1);
        const bg::ValueMap map = spy.at(0).at(0).value<bg::ValueMap>();
        QCOMPARE(map.get("type").toInt(), int(SourcePicture));
        QCOMPARE(QString::fromStdString(map.get("path").toStdString()), QString("/media/b.gif"));
    }

    void droppedTransitionJoinsTheClipsAndRenames() {
        SourceData* from = add(model()->header(SourceVideo), 0, 60);
        SourceData* to = add(model()->header(SourceVideo), 60, 60);
        const QPointF at(timeline::frameToPixel(60), dynamic_cast<SourceItem*>(from)->sceneBoundingRect().center().y());
        QVERIFY(drop(payload(0, QString("transition"), QString("fade")), at));
        QCOMPARE(model()->transitions().size(), 1);
        TransitionData* data = model()->transitions().first()->data();
        QCOMPARE(data->from(), from);
        QCOMPARE(data->to(), to);
        QCOMPARE(data->name, QString("fade"));
        QVERIFY(drop(payload(0, QString("transition"), QString("wipe")), at));
        QCOMPARE(model()->transitions().size(), 1);
        QCOMPARE(model()->transitions().first()->data()->name, QString("wipe"));
        zya::UndoController::instance()->stack.undo();
        QCOMPARE(model()->transitions().first()->data()->name, QString("fade"));
    }

    void transitionDropPairsOnlyClipsOfOneTrack() {
        ClassifyItem* header = model()->header(SourceVideo);
        SourceData* from = add(header, 0, 60);
        ClassifyItem* second = model()->header(SourcePicture);
        add(second, 60, 60);
        const QPointF at(timeline::frameToPixel(60), dynamic_cast<SourceItem*>(from)->sceneBoundingRect().center().y());
        drop(payload(0, QString("transition"), QString("fade")), at);
        QVERIFY(model()->transitions().isEmpty());
    }

    void truncatedPayloadsAreIgnored() {
        QSignalSpy spy(widget->view(), &TimeLineGraphicsView::sig_createSourceItem);
        SourceData* from = add(model()->header(SourceVideo), 0, 60);
        add(model()->header(SourceVideo), 60, 60);
        const QPointF at(timeline::frameToPixel(60), dynamic_cast<SourceItem*>(from)->sceneBoundingRect().center().y());
        // The path is cut short, then missing, then the kind itself.
        QVERIFY(!drop(payload(3, QString("material"), int(SourceVideo), true, QString("/media/a.mp4")), at));
        QVERIFY(!drop(payload(0, QString("material"), int(SourceVideo)), at));
        QVERIFY(!drop(payload(0, QString("material")), at));
        QVERIFY(!drop(payload(2, QString("material"), int(SourceSubtitle), QColor(Qt::red), QFont("Sans")), at));
        QVERIFY(!drop(payload(1, QString("gif"), QString("/media/b.gif")), at));
        QVERIFY(!drop(payload(2, QString("transition"), QString("fade")), at));
        QVERIFY(!drop(QByteArray("\x00\x00", 2), at));
        QVERIFY(!drop(QByteArray(), at));
        QVERIFY(!drop(payload(0, QString("sticker"), QString("x")), at));
        QVERIFY(!drop(payload(0, QString("gif"), QString("/media/b.gif")), at, "Other"));
        QCOMPARE(spy.count(), 0);
        QVERIFY(model()->transitions().isEmpty());
    }
};

KORVEL_GUI_TEST_MAIN(TestTimelineWidget)
#include "tst_timeline_widget.moc"
