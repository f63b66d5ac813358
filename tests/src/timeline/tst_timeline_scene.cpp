// The timeline's clip scene driven by real mouse events: moves, moves between
// tracks, trims, snapping, the property-panel requests and painting.
#include "support/test-main.h"
#include "values/media-thumbnail.h"
#include "timeline/classify-item.h"
#include "timeline/source-anchor.h"
#include "timeline/source-item.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-tree-view.h"
#include "timeline/trans-item.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QDir>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QUuid>

#include <memory>

namespace {

zya::UndoController* undo() { return zya::UndoController::instance(); }
constexpr double kFrame = 50.0; // at dpiScale 1

} // namespace

class TestTimelineScene : public QObject {
    Q_OBJECT

    std::unique_ptr<TimeLineTreeModel> model;
    std::unique_ptr<TimeLineGraphicsScene> scene;
    QPointF downAt;

    void rebuild() {
        scene.reset();
        model.reset();
        undo()->reset();
        model = std::make_unique<TimeLineTreeModel>();
        scene = std::make_unique<TimeLineGraphicsScene>();
        scene->setModel(model.get());
    }

    SourceItem* add(ClassifyItem* track, int64_t start, int64_t length, int64_t offset = 0,
                    int64_t original = 100000, const QString& path = "/media/clip.mp4") {
        SourceData* clip = model->createSource(track, start, length, offset, original, path, QRectF(0, 0, 640, 360),
                                               QRect(0, 0, 640, 360));
        track->addSource(clip);
        auto* item = qobject_cast<SourceItem*>(clip);
        Q_ASSERT(item);
        return item;
    }
    ClassifyItem* header(SourceType kind) const { return model->header(kind); }

    void mouse(QEvent::Type type, const QPointF& p, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        if (type == QEvent::GraphicsSceneMousePress)
            downAt = p;
        QGraphicsSceneMouseEvent e(type);
        e.setScenePos(p);
        e.setScreenPos(p.toPoint());
        e.setButton(button);
        e.setButtons(buttons);
        e.setModifiers(modifiers);
        e.setButtonDownScenePos(Qt::LeftButton, downAt);
        e.setButtonDownScenePos(Qt::RightButton, downAt);
        QCoreApplication::sendEvent(scene.get(), &e);
    }
    void press(const QPointF& p, Qt::MouseButton b = Qt::LeftButton) { mouse(QEvent::GraphicsSceneMousePress, p, b, b); }
    void release(const QPointF& p, Qt::MouseButton b = Qt::LeftButton) {
        mouse(QEvent::GraphicsSceneMouseRelease, p, b, Qt::NoButton);
        QCoreApplication::processEvents(); // the release is queued
    }
    // Press, move in steps, release: what a user's drag delivers.
    void drag(const QPointF& from, const QPointF& to) {
        press(from);
        for (int i = 1; i <= 4; ++i)
            mouse(QEvent::GraphicsSceneMouseMove, from + (to - from) * i / 4.0, Qt::NoButton, Qt::LeftButton);
        release(to);
    }
    static QPointF inside(const SourceItem* item) { return item->pos() + QPointF(10, 20); }

private slots:
    void init() {
        timeline::overrideDpiScale(1.0);
        bg::iface()->configClear();
        rebuild();
    }
    void cleanup() {
        // The model goes first here; sceneGoesFirst covers the other order.
        model.reset();
        scene.reset();
        zya::UndoController::destroyInstance();
    }

    void dragMovesClipAsOneUndoStep() {
        SourceItem* clip = add(header(SourceVideo), 10, 20);
        QVERIFY(clip->scene() == scene.get() && clip->isVisible());
        const int steps = undo()->stack.count();

        // A press and release without movement records nothing.
        press(inside(clip));
        release(inside(clip));
        QCOMPARE(undo()->stack.count(), steps);
        QVERIFY(clip->isSelected());

        drag(inside(clip), inside(clip) + QPointF(5 * kFrame + 7, 3));
        QCOMPARE(clip->startFrame(), int64_t(15));
        QCOMPARE(clip->pos(), QPointF(15 * kFrame, 0)); // back on the row, on a whole frame
        QCOMPARE(undo()->stack.count(), steps + 1);
        QCOMPARE(undo()->stack.text(undo()->stack.count() - 1), QString("SourceMove"));
        undo()->stack.undo();
        QCOMPARE(clip->startFrame(), int64_t(10));
        QCOMPARE(clip->x(), 10 * kFrame);
        undo()->stack.redo();
        QCOMPARE(clip->startFrame(), int64_t(15));

        // Dragged left past the start it stops at frame 0.
        drag(inside(clip), inside(clip) - QPointF(40 * kFrame, 0));
        QCOMPARE(clip->startFrame(), int64_t(0));
    }

    void dropLandsOnTrackOfItsKind_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("dy");
        QTest::addColumn<int>("expectedRow"); // -1 the header, else the added track's index
        QTest::newRow("video down one row") << int(SourceVideo) << 48.0 << 0;
        QTest::newRow("video into the audio band stays video") << int(SourceVideo) << 400.0 << 0;
        QTest::newRow("video above the top stays on the header") << int(SourceVideo) << -300.0 << -1;
        QTest::newRow("video nudged a little stays") << int(SourceVideo) << 20.0 << -1;
        QTest::newRow("audio up into the video band stays audio") << int(SourceAudio) << -200.0 << -1;
        QTest::newRow("audio down one row") << int(SourceAudio) << 36.0 << 0;
    }
    void dropLandsOnTrackOfItsKind() {
        QFETCH(int, kind);
        QFETCH(double, dy);
        QFETCH(int, expectedRow);
        ClassifyItem* head = header(SourceType(kind));
        ClassifyItem* extra = model->addTrack(head);
        QVERIFY(extra && head->expanded());
        SourceItem* clip = add(head, 10, 20);
        drag(inside(clip), inside(clip) + QPointF(0, dy));
        ClassifyItem* expected = expectedRow < 0 ? head : head->children().at(expectedRow);
        QCOMPARE(clip->parentTrack(), expected);
        QVERIFY(expected->indexOf(clip) >= 0);
        QCOMPARE(model->trackOf(clip), expected);
        QCOMPARE(clip->y(), model->trackTop(expected));
        QCOMPARE(clip->startFrame(), int64_t(10));
        undo()->stack.undo();
        QCOMPARE(model->trackOf(clip), head);
    }

    void dropOnOccupiedTrackPushesLaterClips() {
        ClassifyItem* video = header(SourceVideo);
        ClassifyItem* extra = model->addTrack(video);
        SourceItem* a = add(video, 0, 20);
        SourceItem* b = add(extra, 10, 20);
        // a onto the added track at frame 5: b (10..30) overlaps and is pushed to 25.
        drag(inside(a), inside(a) + QPointF(5 * kFrame, 48));
        QCOMPARE(a->parentTrack(), extra);
        QCOMPARE(a->startFrame(), int64_t(5));
        QCOMPARE(b->startFrame(), int64_t(25));
        undo()->stack.undo(); // one step takes both back
        QCOMPARE(a->parentTrack(), video);
        QCOMPARE(b->startFrame(), int64_t(10));
    }

    void trimIsLimitedByTheMedia_data() {
        QTest::addColumn<bool>("left");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("original");
        QTest::addColumn<double>("dxFrames");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<qint64>("newOffset");
        // Clip at frame 50, 6 frames long.
        QTest::newRow("left out, media starts at the clip") << true << qint64(0) << qint64(10) << -40.0
                                                          << qint64(50) << qint64(6) << qint64(0);
        QTest::newRow("left out, 4 frames of media before") << true << qint64(4) << qint64(10) << -40.0
                                                            << qint64(46) << qint64(10) << qint64(0);
        QTest::newRow("left in by 2") << true << qint64(3) << qint64(100) << 2.0 << qint64(52) << qint64(4)
                                      << qint64(5);
        QTest::newRow("left in past the end keeps a frame") << true << qint64(0) << qint64(100) << 20.0
                                                            << qint64(55) << qint64(1) << qint64(5);
        QTest::newRow("right out, original duration") << false << qint64(0) << qint64(10) << 40.0 << qint64(50)
                                                      << qint64(10) << qint64(0);
        QTest::newRow("right out, media ends sooner") << false << qint64(2) << qint64(10) << 40.0 << qint64(50)
                                                      << qint64(8) << qint64(2);
        QTest::newRow("right in past the start keeps a frame") << false << qint64(0) << qint64(100) << -40.0
                                                               << qint64(50) << qint64(1) << qint64(0);
    }
    void trimIsLimitedByTheMedia() {
        QFETCH(bool, left);
        QFETCH(qint64, offset);
        QFETCH(qint64, original);
        QFETCH(double, dxFrames);
        QFETCH(qint64, start);
        QFETCH(qint64, length);
        QFETCH(qint64, newOffset);
        SourceItem* clip = add(header(SourceVideo), 50, 6, offset, original);
        const int64_t offset0 = clip->offset();
        clip->setSelected(true);
        SourceAnchor* handle = left ? clip->leftAnchor() : clip->rightAnchor();
        QVERIFY(handle->isVisible());
        const QPointF at = handle->scenePos() + QPointF(1, 1);
        drag(at, at + QPointF(dxFrames * kFrame, 0));
        QVERIFY(clip->isSelected());
        QCOMPARE(clip->startFrame(), start);
        QCOMPARE(clip->lengthFrames(), length);
        QCOMPARE(clip->offset(), newOffset);
        QVERIFY(clip->offset() >= 0);
        // The handles follow the new edges.
        QCOMPARE(clip->rightAnchor()->pos().x(), clip->width());
        QCOMPARE(undo()->stack.text(undo()->stack.count() - 1), QString("SourceMove"));
        undo()->stack.undo();
        QCOMPARE(clip->startFrame(), int64_t(50));
        QCOMPARE(clip->lengthFrames(), int64_t(6));
        QCOMPARE(clip->offset(), offset0);
        QCOMPARE(clip->shownWidth(), clip->width());
    }

    // The selected clip's right handle, half under the next clip: pressed
    // there, it trims the selected clip, not the neighbour's left edge.
    void theSelectedClipsHandleWinsOverItsNeighbour() {
        SourceItem* first = add(header(SourceVideo), 0, 30, 0, 100);
        SourceItem* next = add(header(SourceVideo), 30, 30, 10, 100);
        static_cast<QGraphicsItem*>(next)->setZValue(1); // drawn over the first, as a later clip is
        first->setSelected(true);
        SourceAnchor* handle = first->rightAnchor();
        QVERIFY(handle->isVisible());
        const QPointF at = handle->scenePos() + QPointF(3, 3); // over the next clip
        QVERIFY(next->contains(next->mapFromScene(at)));
        drag(at, at - QPointF(5 * kFrame, 0));
        QVERIFY(first->isSelected());
        QCOMPARE(first->lengthFrames(), int64_t(25));
        QCOMPARE(next->startFrame(), int64_t(30));
        QCOMPARE(next->lengthFrames(), int64_t(30));
        QCOMPARE(next->offset(), int64_t(10));
    }

    void snapsToNeighbourEdge_data() {
        QTest::addColumn<bool>("align");
        QTest::addColumn<double>("scale"); // the view's horizontal scale
        QTest::addColumn<double>("dropX"); // scene x the dragged clip's left edge is aimed at
        QTest::addColumn<qint64>("start");
        // Neighbour: frames 20..40 on the picture track.
        QTest::newRow("level 0, 4 screen px after the end") << true << 1.0 << 40 * kFrame + 4 << qint64(40);
        QTest::newRow("zoomed out, a frame after the end") << true << 0.1 << 41 * kFrame << qint64(40);
        QTest::newRow("zoomed out, a frame before the start") << true << 0.1 << 19 * kFrame << qint64(20);
        QTest::newRow("zoomed out, beyond the threshold") << true << 0.1 << 42 * kFrame << qint64(42);
        QTest::newRow("off: no snap") << false << 0.1 << 41 * kFrame << qint64(41);
    }
    void snapsToNeighbourEdge() {
        QFETCH(bool, align);
        QFETCH(double, scale);
        QFETCH(double, dropX);
        QFETCH(qint64, start);
        bg::configSetBool(tlscene::AutoAlignKey, align);
        rebuild(); // the scene reads the switch when made
        QCOMPARE(scene->autoAlign(), align);
        QGraphicsView view(scene.get());
        view.setTransform(QTransform::fromScale(scale, 1.0));
        add(header(SourcePicture), 20, 20);
        SourceItem* clip = add(header(SourceVideo), 100, 10);
        const QPointF grab = inside(clip);
        const QPointF target = grab + QPointF(dropX - clip->x(), 0);
        press(grab);
        mouse(QEvent::GraphicsSceneMouseMove, target, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(scene->snapGuideShown(), align && start != 42);
        if (scene->snapGuideShown())
            QCOMPARE(scene->snapGuideFrame(), start);
        release(target);
        QCOMPARE(clip->startFrame(), start);
        QVERIFY(!scene->snapGuideShown());
    }

    // Clips dragged together move by one shift and keep their distances:
    // past the start the earliest stops at frame 0, and a snap moves them all.
    void draggedClipsMoveAsOne() {
        SourceItem* video = add(header(SourceVideo), 100, 10);
        SourceItem* sound = add(header(SourceAudio), 117, 10);
        video->setSelected(true);
        sound->setSelected(true);
        drag(inside(video), inside(video) - QPointF(150 * kFrame, 0));
        QCOMPARE(QList<int64_t>({video->startFrame(), sound->startFrame()}), QList<int64_t>({0, 17}));

        bg::configSetBool(tlscene::AutoAlignKey, true);
        rebuild();
        QGraphicsView view(scene.get());
        view.setTransform(QTransform::fromScale(0.1, 1.0));
        add(header(SourcePicture), 20, 20); // its end, frame 40, is in reach of the video's start
        video = add(header(SourceVideo), 100, 10);
        sound = add(header(SourceAudio), 117, 10);
        video->setSelected(true);
        sound->setSelected(true);
        const QPointF grab = inside(video);
        press(grab, Qt::LeftButton);
        mouse(QEvent::GraphicsSceneMouseMove, grab - QPointF(59 * kFrame, 0), Qt::NoButton, Qt::LeftButton);
        release(grab - QPointF(59 * kFrame, 0));
        QCOMPARE(QList<int64_t>({video->startFrame(), sound->startFrame()}), QList<int64_t>({40, 57}));
    }

    void clickAsksForThePanel_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("menu");
        QTest::newRow("picture") << int(SourcePicture) << 0;
        QTest::newRow("video") << int(SourceVideo) << 1;
        QTest::newRow("dub") << int(SourceDub) << 2;
        QTest::newRow("subtitle") << int(SourceSubtitle) << 3;
        QTest::newRow("audio") << int(SourceAudio) << 4;
    }
    void clickAsksForThePanel() {
        QFETCH(int, kind);
        QFETCH(int, menu);
        SourceItem* clip = add(header(SourceType(kind)), 10, 20);
        QSignalSpy menus(scene.get(), &TimeLineGraphicsScene::sig_showMenu);
        QSignalSpy frames(scene.get(), &TimeLineGraphicsScene::sig_resetFrame);
        const QPointF at = clip->pos() + QPointF(3 * kFrame + 10, 20);
        press(at);
        release(at);
        QCOMPARE(menus.count(), 1);
        QCOMPARE(menus.at(0).at(0).value<MenuType>(), MenuType(menu));
        QCOMPARE(menus.at(0).at(1).toInt(), 1);
        QCOMPARE(menus.at(0).at(2).value<bg::ValueMap>().get(tlkey::Uuid).toStdString(),
                 clip->uuid().toStdString());
        QCOMPARE(frames.count(), 1);
        QCOMPARE(frames.at(0).at(0).toLongLong(), qint64(13)); // the clicked frame

        mouse(QEvent::GraphicsSceneMousePress, at, Qt::LeftButton, Qt::LeftButton);
        mouse(QEvent::GraphicsSceneMouseRelease, at, Qt::LeftButton, Qt::NoButton);
        mouse(QEvent::GraphicsSceneMouseDoubleClick, at, Qt::LeftButton, Qt::LeftButton);
        release(at);
        QCOMPARE(menus.count(), 3);
        QCOMPARE(menus.at(2).at(1).toInt(), 2);

        // A refresh for the open item passes, for another item it does not.
        scene->showMenu(clip, MenuType(menu), -1, clip->panelMap());
        QCOMPARE(menus.count(), 4);
        SourceItem* other = add(header(SourceType(kind)), 100, 5);
        scene->showMenu(other, MenuType(menu), -1, other->panelMap());
        QCOMPARE(menus.count(), 4);

        // A press on empty ground closes the panel.
        press(QPointF(60 * kFrame, 10));
        release(QPointF(60 * kFrame, 10));
        QCOMPARE(menus.count(), 5);
        QCOMPARE(menus.at(4).at(0).value<MenuType>(), MenuPicture);
        QCOMPARE(menus.at(4).at(1).toInt(), 0);
        QVERIFY(menus.at(4).at(2).value<bg::ValueMap>().empty());
        QVERIFY(scene->menuItem() == nullptr);
    }

    void transitionZonesOpenTheTransition() {
        SourceItem* from = add(header(SourceVideo), 0, 100);
        SourceItem* to = add(header(SourceVideo), 100, 100);
        TransItem* trans = scene->addTransition(from, to, "fade");
        QVERIFY(trans && trans->scene() == scene.get());
        QCOMPARE(to->toTransFrames(), int64_t(30));
        QCOMPARE(from->fromTransFrames(), int64_t(30));
        QCOMPARE(trans->x(), 70 * kFrame);
        QSignalSpy menus(scene.get(), &TimeLineGraphicsScene::sig_showMenu);

        press(to->pos() + QPointF(5, 18)); // the "to" clip's start zone
        release(to->pos() + QPointF(5, 18));
        QCOMPARE(menus.count(), 1);
        QCOMPARE(menus.at(0).at(0).value<MenuType>(), MenuTransition);
        QCOMPARE(menus.at(0).at(2).value<bg::ValueMap>().get(tlkey::Direction).toInt(), 1);
        QVERIFY(trans->clickedItem() == to);

        press(from->pos() + QPointF(99 * kFrame, 18)); // the "from" clip's end zone
        release(from->pos() + QPointF(99 * kFrame, 18));
        QCOMPARE(menus.count(), 2);
        QCOMPARE(menus.at(1).at(0).value<MenuType>(), MenuTransition);
        QCOMPARE(menus.at(1).at(2).value<bg::ValueMap>().get(tlkey::Direction).toInt(), -1);

        // Outside the zone the clip's own panel opens.
        press(to->pos() + QPointF(50 * kFrame, 18));
        release(to->pos() + QPointF(50 * kFrame, 18));
        QCOMPARE(menus.at(2).at(0).value<MenuType>(), MenuVideo);

        // A split carries the transition to the right-hand part, still as an item of the scene.
        QVERIFY(model->splitSource(from, 50));
        auto* moved = dynamic_cast<TransItem*>(model->transitions().value(0));
        QVERIFY(moved && moved->scene() == scene.get());
        QVERIFY(moved->data()->to() == to);
        QVERIFY(moved->data()->from() != from);
    }

    void movingApartRemovesTheTransition() {
        SourceItem* from = add(header(SourceVideo), 0, 100);
        SourceItem* to = add(header(SourceVideo), 100, 100);
        QVERIFY(scene->addTransition(from, to, "fade"));
        // Moving the pair together keeps it; moving one away drops it.
        from->setSelected(true);
        to->setSelected(true);
        drag(inside(from), inside(from) + QPointF(10 * kFrame, 0));
        QCOMPARE(model->transitions().size(), 1);
        QCOMPARE(model->transitions().first()->data()->startframe, int64_t(80));
        scene->clearSelection();
        drag(inside(to), inside(to) + QPointF(30 * kFrame, 0));
        QCOMPARE(model->transitions().size(), 0);
        QCOMPARE(to->toTransFrames(), int64_t(0));
        QCOMPARE(from->fromTransFrames(), int64_t(0));
        QVERIFY(!to->startZone().isValid());
        undo()->stack.undo(); // the move and the removal are one step
        QCOMPARE(model->transitions().size(), 1);
        QCOMPARE(to->startFrame(), int64_t(110));
        QCOMPARE(to->toTransFrames(), int64_t(30));

        // Straight down onto another track the clips still touch in time but
        // no longer meet: the transition goes, in the same step.
        ClassifyItem* extra = model->addTrack(header(SourceVideo));
        scene->clearSelection();
        drag(inside(from), inside(from) + QPointF(0, 48));
        QCOMPARE(from->parentTrack(), extra);
        QCOMPARE(to->startFrame() - from->endFrame(), int64_t(0));
        QCOMPARE(model->transitions().size(), 0);
        QCOMPARE(from->fromTransFrames(), int64_t(0));
        QCOMPARE(to->toTransFrames(), int64_t(0));
        undo()->stack.undo();
        QCOMPARE(from->parentTrack(), header(SourceVideo));
        QCOMPARE(model->transitions().size(), 1);
        QCOMPARE(from->fromTransFrames(), int64_t(30));
    }

    void lengthFollowsTheLastItem() {
        QGraphicsView view(scene.get());
        view.setTransform(QTransform::fromScale(0.5, 1.0));
        QSignalSpy ends(scene.get(), &TimeLineGraphicsScene::sig_limitPosX);
        SourceItem* clip = add(header(SourceAudio), 10, 90);
        QVERIFY(!ends.isEmpty());
        QCOMPARE(ends.last().at(0).toDouble(), 100 * kFrame);
        QCOMPARE(scene->sceneRect().width(), 100 * kFrame + 200.0); // 100 screen pixels
        drag(inside(clip), inside(clip) + QPointF(50 * kFrame, 0));
        QCOMPARE(scene->length(), 150 * kFrame);
        scene->slot_extendLength(400 * kFrame);
        QCOMPARE(ends.last().at(0).toDouble(), 400 * kFrame);
        model->removeSources({clip});
        QCOMPARE(scene->length(), 0.0);
        QVERIFY(clip->scene() == nullptr);
    }

    void paintsEveryState_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("thumbnail");
        QTest::addColumn<QString>("fill");
        QTest::newRow("video with thumbnail") << int(SourceVideo) << true << true << "#5FA5F9";
        QTest::newRow("audio") << int(SourceAudio) << true << false << "#ABA0FB";
        QTest::newRow("subtitle") << int(SourceSubtitle) << true << false << "#7BB54E";
        QTest::newRow("missing file") << int(SourceVideo) << false << false << "#a0a0a4";
    }
    void paintsEveryState() {
        QFETCH(int, kind);
        QFETCH(bool, valid);
        QFETCH(bool, thumbnail);
        QFETCH(QString, fill);
        const QString base = "korvel-thumb-" + QUuid::createUuid().toString(QUuid::Id128);
        const QString media = "/media/" + base + ".part1.mp4";
        const QString png = mediaThumbnailPath(media);
        if (thumbnail) {
            QImage img(64, 36, QImage::Format_RGB32);
            img.fill(Qt::black);
            QVERIFY(img.save(png));
            QCOMPARE(SourceItem::thumbnailPath(media), png);
            // Another folder's file of the same name has a thumbnail of its own.
            QVERIFY(mediaThumbnailPath("/other/" + base + ".part1.mp4") != png);
        }
        SourceItem* clip = add(header(SourceType(kind)), 0, 20, 0, 100000,
                               kind == SourceSubtitle ? QString() : media);
        QFile::remove(png);
        QCOMPARE(clip->hasThumbnail(), thumbnail);
        clip->setValid(valid ? 1 : 0);
        clip->setSelected(true);
        clip->slot_updateToTransTime(3);
        for (double scale : {1.0, 0.2}) {
            QImage out(int(25 * kFrame * scale), 60, QImage::Format_ARGB32);
            out.fill(Qt::white);
            QPainter p(&out);
            scene->render(&p, QRectF(0, 0, out.width(), 60), QRectF(0, clip->y(), 25 * kFrame, 60),
                          Qt::IgnoreAspectRatio);
            p.end();
            // Fill at 0.8 opacity over white, away from text, zones, thumbnail and outline.
            auto near = [&](const QColor& got, const QColor& want) {
                auto mix = [](int c) { return int(c * 0.8 + 255 * 0.2 + 0.5); };
                return std::abs(got.red() - mix(want.red())) <= 2 && std::abs(got.green() - mix(want.green())) <= 2 &&
                       std::abs(got.blue() - mix(want.blue())) <= 2;
            };
            const QColor got = out.pixelColor(out.width() * 7 / 10, 6);
            QVERIFY2(near(got, QColor(fill)), qPrintable(got.name() + " vs " + fill));
            // The thumbnail keeps its screen size at every zoom.
            QCOMPARE(out.pixelColor(20, 40).lightness() < 60, thumbnail);
        }
    }

    // Collapsing a header hides the clips of its added tracks and closes up
    // the rows below; expanding brings them back at their tracks' tops.
    void collapseAndExpandFollowTheTree() {
        TimeLineTreeView view;
        view.setScrollBarHeight(12);
        TimeLineGraphicsScene clipScene;
        clipScene.setModel(view.treeModel());
        view.attachScene(&clipScene);
        TimeLineTreeModel* m = view.treeModel();
        ClassifyItem* videos = m->header(SourceVideo);
        ClassifyItem* second = m->addTrack(videos);
        ClassifyItem* third = m->addTrack(videos);
        QVERIFY(view.isExpanded(m->indexOf(videos)));
        auto put = [&](ClassifyItem* track, int64_t start) {
            SourceData* clip = m->createSource(track, start, 10, 0, 1000, "/m.mp4", QRectF(), QRect());
            track->addSource(clip);
            return qobject_cast<SourceItem*>(clip);
        };
        SourceItem* onHeader = put(videos, 0);
        SourceItem* onSecond = put(second, 20);
        SourceItem* onThird = put(third, 40);
        SourceItem* music = put(m->header(SourceAudio), 5);
        QVERIFY(onHeader && onSecond && onThird && music);
        const double expandedHeight = 48.0 * 3 + 36 * 4 + 30 - 12;
        QCOMPARE(clipScene.sceneRect().height(), expandedHeight);
        QCOMPARE(onThird->y(), 96.0);
        QCOMPARE(music->y(), 48.0 * 3 + 36);

        view.collapse(m->indexOf(videos));
        QVERIFY(!videos->expanded());
        QVERIFY(onHeader->isVisible());
        QVERIFY(!onSecond->isVisible() && !onThird->isVisible());
        QCOMPARE(onHeader->pos(), QPointF(0, 0));
        QCOMPARE(onSecond->pos(), QPointF(20 * kFrame, 48)); // hidden where it was
        QCOMPARE(music->pos(), QPointF(5 * kFrame, 48.0 + 36));
        QCOMPARE(clipScene.sceneRect().height(), 48.0 + 36 * 4 + 30 - 12);
        // A clip that enters a hidden track stays hidden.
        SourceItem* late = put(third, 80);
        QVERIFY(late->scene() == &clipScene && !late->isVisible());

        view.expand(m->indexOf(videos));
        for (SourceItem* item : {onHeader, onSecond, onThird, late, music}) {
            QVERIFY(item->isVisible());
            QCOMPARE(item->y(), item->parentTrack()->rowTop());
        }
        QCOMPARE(onThird->y(), 96.0);
        QCOMPARE(clipScene.sceneRect().height(), expandedHeight);
    }

    void sceneGoesFirst() {
        SourceItem* clip = add(header(SourceVideo), 0, 20);
        scene.reset(); // the clips belong to the model
        QVERIFY(clip->scene() == nullptr);
        SourceData* later = model->createSource(header(SourceVideo), 30, 5, 0, 100, "/m.mp4", QRectF(), QRect());
        header(SourceVideo)->addSource(later);
        QVERIFY(qobject_cast<SourceItem*>(later) == nullptr);
        QCOMPARE(header(SourceVideo)->sources().size(), 2);
    }
};

KORVEL_GUI_TEST_MAIN(TestTimelineScene)
#include "tst_timeline_scene.moc"
