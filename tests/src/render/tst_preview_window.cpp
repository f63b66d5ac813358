// The interactive preview as a user drives it: hovering, selecting, rotating,
// resizing and moving items with the mouse, the one undo step a drag leaves,
// the keys and the context menu; and the preview panel's buttons, time label
// and zoom slider.
#include "render/audio/player-manager.h"
#include "render/preview-item.h"
#include "render/preview-widget.h"
#include "render/preview-window.h"
#include "render/render-manager.h"
#include "render/shader-library.h"
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-units.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <QGraphicsItem>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QSlider>
#include <QToolButton>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

zya::UndoController* undo() {
    return zya::UndoController::instance();
}
constexpr double kPi = 3.14159265358979323846;

QString rectText(double x, double y, double w, double h) {
    return QStringLiteral("%1 %2 %3 %4").arg(x).arg(y).arg(w).arg(h);
}

// Stands in for the timeline's track: counts the requests and keeps the
// placement in an undoable object, writing only what differs.
class StandInTrack : public PreviewTrack, public zya::ZyObject {
public:
    void deleteActiveClip() override { ++deletes; }
    void editActiveClip(int mode) override { ++(mode == 1 ? edits1 : edits2); }
    void raiseActiveClip() override { ++raises; }
    void lowerActiveClip() override { ++lowers; }
    void commitPlacement(const QRectF& r, int degrees) override {
        commits.append(r);
        const std::string text = rectText(r.x(), r.y(), r.width(), r.height()).toStdString();
        if (value("previewRect").toStdString() != text)
            setValue("previewRect", bg::Value(text), true, false);
        if (value("rotate").toInt() != degrees)
            setValue("rotate", bg::Value(degrees), true, false);
    }
    void previewSelectionChanged(bool selected) override { selections.append(selected); }
    QString rect() const { return QString::fromStdString(value("previewRect").toStdString()); }
    int rotate() const { return value("rotate").toInt(); }

    QList<QRectF> commits;
    QList<bool> selections;
    int edits1 = 0, edits2 = 0, deletes = 0, raises = 0, lowers = 0;
};

} // namespace

class TestPreviewWindow : public QObject {
    Q_OBJECT

    // A 400 x 200 scene shown at zoom 1 in a 600 x 300 window: a scene point
    // q sits at q + (300, 150) in the window.
    static constexpr int kWindowW = 600, kWindowH = 300;
    GsScene* scene = nullptr;
    std::unique_ptr<ZyePreviewWindow> window;
    std::vector<PreviewItem*> items;
    std::vector<std::unique_ptr<StandInTrack>> tracks;

    static QPointF at(const QPointF& q) { return q + QPointF(kWindowW / 2.0, kWindowH / 2.0); }

    template <typename Item = PreviewItem>
    Item* add(double w, double h, double x, double y, bool selected = false, int z = 0) {
        auto* item = new Item(gs_vec2{float(w), float(h)});
        item->Resize(float(w), float(h));
        item->MoveTo(float(x), float(y));
        item->setVisible(true);
        item->selected = selected;
        item->z = z;
        tracks.push_back(std::make_unique<StandInTrack>());
        tracks.back()->setValue("previewRect", bg::Value(rectText(x, y, w, h).toStdString()), false, false);
        item->setTrack(tracks.back().get());
        scene->AddItem(item);
        scene->OrderItem();
        items.push_back(item);
        return item;
    }
    StandInTrack* trackOf(PreviewItem* item) const { return static_cast<StandInTrack*>(item->track()); }

    void mouse(QEvent::Type type, const QPointF& q, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QPointF p = at(q);
        QMouseEvent e(type, p, window->mapToGlobal(p.toPoint()), button, buttons, modifiers);
        QApplication::sendEvent(window.get(), &e);
    }
    void press(const QPointF& q, Qt::KeyboardModifiers m = Qt::NoModifier) {
        mouse(QEvent::MouseButtonPress, q, Qt::LeftButton, Qt::LeftButton, m);
    }
    void move(const QPointF& q, Qt::KeyboardModifiers m = Qt::NoModifier) {
        mouse(QEvent::MouseMove, q, Qt::NoButton, Qt::LeftButton, m);
    }
    void hover(const QPointF& q) { mouse(QEvent::MouseMove, q, Qt::NoButton, Qt::NoButton); }
    void release(const QPointF& q) { mouse(QEvent::MouseButtonRelease, q, Qt::LeftButton, Qt::NoButton); }
    void drag(const QPointF& from, const QPointF& to) {
        press(from);
        for (int i = 1; i <= 3; ++i)
            move(from + (to - from) * double(i) / 3);
        release(to);
    }
    // A video item covering the whole 400 x 200 scene.
    VideoPreviewItem* addVideo() {
        auto* item = new VideoPreviewItem({400, 200});
        items.push_back(item);
        item->Resize(400, 200);
        scene->AddItem(item);
        return item;
    }
    static QPointF centre(const GsItem* item) { return QPointF(item->pos().x, item->pos().y); }
    static QSizeF size(const GsItem* item) { return QSizeF(item->size().x, item->size().y); }

private slots:
    void initTestCase() {
        qRegisterMetaType<MoveType>("MoveType");
        qRegisterMetaType<EditType>("EditType");
        qRegisterMetaType<int64_t>("int64_t");
        QVERIFY(GsDevice::CreateDefaultDevice(false));
        QCOMPARE(RegisterShaders(GsDevice::DefaultDevice()), 18);
    }
    void cleanupTestCase() { GsDevice::DestroyDefaultDevice(); }

    void init() {
        undo()->reset();
        scene = new GsScene(400, 200);
        window = std::make_unique<ZyePreviewWindow>();
        window->resize(kWindowW, kWindowH);
        window->setScene(scene);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(window->view() != nullptr);
        QTRY_COMPARE(window->view()->width(), kWindowW);
        QCOMPARE(window->view()->height(), kWindowH);
        QCOMPARE(window->previewRatio(), 1.0f);
    }
    void cleanup() {
        window.reset();
        for (PreviewItem* item : items) {
            scene->RemoveItem(item);
            item->Release();
        }
        items.clear();
        scene->Release();
        scene = nullptr;
        zya::UndoController::destroyInstance();
        tracks.clear();
    }

    // The preview draws when something changed and sleeps otherwise; while
    // playing, each picture reaches the window when its sound is heard, not
    // when it was decoded (ahead of the sound by what the output holds),
    // and a cut to a clip placed elsewhere leaves no picture blank.
    void previewDrawsOnChangeAndFollowsTheSound() {
        const QString clip = QStringLiteral(KORVEL_TEST_MEDIA_DIR "/h264-30fps.mp4");
        VideoPreviewItem* item = addVideo();
        auto thread = std::make_unique<RenderThread>();
        ZyeGsView* view = window->view();
        QTest::qWait(500);
        const int settled = view->presents();
        QTest::qWait(1500);
        // A late expose from the display server may still come; a frame
        // cycle that polls would have drawn dozens.
        QVERIFY2(view->presents() <= settled + 1, qPrintable(QString("%1 after %2").arg(view->presents()).arg(settled)));
        item->MoveTo(20, 0);
        QTRY_VERIFY(view->presents() > settled);

        // The player asks for frames; this answers as the timeline does, with
        // the picture's request and the frame's sound. At frame 40 a cut
        // leads to the next clip, placed elsewhere: the timeline moves the
        // item there when it asks for that clip's first frame.
        PlayerManager player;
        int64_t next = 0;
        const int64_t last = 80, cut = 40;
        connect(&player, &PlayerManager::sig_frontFrameRequest, this, [&] {
            const int64_t frame = std::min(next++, last);
            FrameRequest request;
            request.frame = frame;
            request.decodeMask = DecodeSelf;
            request.showMask = ShowClip;
            request.self.frame = frame;
            request.self.uuid = frame < cut ? QStringLiteral("clip") : QStringLiteral("next");
            request.self.path = clip;
            request.self.clipRect = QRect(0, 0, 320, 240);
            request.self.centerX = frame < cut ? 20 : -60;
            request.self.width = frame < cut ? 400 : 200;
            request.self.height = frame < cut ? 200 : 100;
            if (frame == cut) {
                item->MoveTo(-60, 0);
                item->Resize(200, 100);
            }
            item->request(request);
            AudioFrameData sound;
            sound.num = frame;
            sound.path = clip;
            sound.volume = 128;
            player.submit({sound}, frame, 30, last);
        });
        const size_t before = view->presented().size();
        player.setPlaying(true);
        QTRY_VERIFY_WITH_TIMEOUT(next >= last, 30000);
        QTest::qWait(300);
        player.setPlaying(false);

        std::vector<ZyeGsView::Presented> shown = view->presented();
        shown.erase(shown.begin(), shown.begin() + std::min(before, shown.size()));
        QVERIFY2(shown.size() >= 10, qPrintable(QString::number(shown.size())));
        int clocked = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            if (i > 0)
                QVERIFY(shown[i].frame > shown[i - 1].frame);
            // No picture goes blank, at the cut neither.
            QVERIFY2(!shown[i].missing, qPrintable(QStringLiteral("frame %1 had no picture").arg(shown[i].frame)));
            if (!shown[i].clocked)
                continue;
            ++clocked;
            // Microseconds the picture came before its sound (negative: after).
            const int64_t ahead = shown[i].frame * 1000000 / 30 - shown[i].heardUs;
            const QString what = QStringLiteral("frame %1 came %2 ms before its sound")
                                     .arg(shown[i].frame)
                                     .arg(double(ahead) / 1000.0);
            // Never more than a few frames early (the draw lead, the clock's
            // smoothing and one frame step); late only by what a busy machine costs.
            QVERIFY2(ahead <= 3 * 33334, qPrintable(what));
            QVERIFY2(ahead >= -10 * 33334, qPrintable(what));
        }
        QVERIFY(clocked >= 10);
        thread.reset();
    }

    // Where the CPU converts colours, the paused preview decodes a clip no
    // larger than the view shows it; zooming in decodes it again, larger.
    void aPausedPreviewDecodesAgainWhenShownLarger() {
        if (!GsDevice::DefaultDevice()->ConvertsColourOnCpu())
            QSKIP("the GPU converts colours here: pictures always come at full size");
        VideoPreviewItem* item = addVideo();
        auto thread = std::make_unique<RenderThread>();
        ZyeGsView* view = window->view();
        view->setZoom(0.25);
        FrameRequest request;
        request.frame = 0;
        request.decodeMask = DecodeSelf;
        request.showMask = ShowClip;
        request.self.uuid = QStringLiteral("clip");
        request.self.path = QStringLiteral(KORVEL_TEST_MEDIA_DIR "/h264-30fps.mp4");
        request.self.clipRect = QRect(0, 0, 320, 240);
        request.self.width = 400;
        request.self.height = 200;
        QTRY_VERIFY(view->presents() > 0);
        item->request(request);
        auto width = [item] {
            const RenderProps shown = item->currentProps();
            return shown.self.frame ? shown.self.frame->width : 0;
        };
        QTRY_COMPARE(width(), 160); // 100 x 50 on screen
        view->setZoom(1.0);
        QTRY_COMPARE(width(), 320);
        thread.reset();
    }

    void rotateHandleSnapsNearRightAngles_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<int>("expected");
        QTest::newRow("95 snaps to 90") << 95.0 << 90;
        QTest::newRow("101 stays") << 101.0 << 101;
        QTest::newRow("-96 snaps to -90") << -96.0 << 270;
        QTest::newRow("-175 snaps to 180") << -175.0 << 180;
    }
    void rotateHandleSnapsNearRightAngles() {
        QFETCH(double, degrees);
        QFETCH(int, expected);
        PreviewItem* item = add(100, 60, 20, 10, true);
        // The rotate handle: 20 pixels above the middle of the top edge.
        const QPointF handle(20, 10 - 30 - 20);
        const double a = degrees / 180.0 * kPi;
        drag(handle, QPointF(20 + 80 * std::sin(a), 10 - 80 * std::cos(a)));
        QCOMPARE(preview::toDegrees(item->rotation), expected);
        QCOMPARE(trackOf(item)->rotate(), expected);
        QCOMPARE(centre(item), QPointF(20, 10));
        QCOMPARE(size(item), QSizeF(100, 60));
        if (expected % 90 == 0) // exactly on the right angle, not a degree's rounding near it
            QVERIFY(std::abs(std::remainder(double(item->rotation) - expected / 180.0 * kPi, 2 * kPi)) <
                    1e-6);
    }

    void resizeKeepsTheOppositeSideAndTheAspect_data() {
        QTest::addColumn<double>("rotation");
        QTest::addColumn<QPointF>("handle"); // in the item's axes, from its centre
        QTest::addColumn<QPointF>("target");
        QTest::addColumn<int>("control"); // 0 none, 1 held in the events, 2 pressed as a key
        QTest::addColumn<QSizeF>("expected");
        const QPointF corner(100, 50), edge(-100, 0);
        QTest::newRow("corner") << 0.0 << corner << QPointF(160, 60) << 0 << QSizeF(260, 110);
        QTest::newRow("corner, Control in the events")
            << 0.0 << corner << QPointF(160, 60) << 1 << QSizeF(260, 130);
        QTest::newRow("corner, Control key") << 0.0 << corner << QPointF(160, 60) << 2 << QSizeF(260, 130);
        QTest::newRow("corner, turned 90 degrees")
            << kPi / 2 << corner << QPointF(160, 60) << 1 << QSizeF(260, 130);
        QTest::newRow("left edge") << 0.0 << edge << QPointF(-130, 25) << 1 << QSizeF(230, 100);
    }
    void resizeKeepsTheOppositeSideAndTheAspect() {
        QFETCH(double, rotation);
        QFETCH(QPointF, handle);
        QFETCH(QPointF, target);
        QFETCH(int, control);
        QFETCH(QSizeF, expected);
        PreviewItem* item = add(200, 100, 0, 0, true);
        item->rotation = float(rotation);
        const preview::Box before = preview::boxOf(item);
        if (control == 2)
            QTest::keyPress(window.get(), Qt::Key_Control);
        QCOMPARE(window->keepAspect(), control == 2);
        press(preview::fromBoxAxes(before, handle));
        const int grabbed = window->grabbedHandle();
        const QPointF anchor = preview::anchorPoint(before, grabbed);
        move(preview::fromBoxAxes(before, target), control == 1 ? Qt::ControlModifier : Qt::NoModifier);
        release(preview::fromBoxAxes(before, target));
        if (control == 2)
            QTest::keyRelease(window.get(), Qt::Key_Control);
        QVERIFY(!window->keepAspect());
        QCOMPARE(size(item), expected);
        const QPointF moved = preview::anchorPoint(preview::boxOf(item), grabbed) - anchor;
        QVERIFY2(moved.manhattanLength() < 0.01,
                 qPrintable(QStringLiteral("%1,%2").arg(moved.x()).arg(moved.y())));
        QCOMPARE(trackOf(item)->commits.size(), 1);
        QCOMPARE(trackOf(item)->commits.first().size(), expected);
    }

    void subtitleNeverSmallerThanItsText() {
        auto* item = add<SubtitlePreviewItem>(300, 120, 0, 0, true);
        SubtitleRequest look;
        look.text = QStringLiteral("Hello preview\nsecond line");
        look.font = QFont(QStringLiteral("DejaVu Sans"), 16);
        item->request(look);
        const QSizeF extent = item->extent();
        QVERIFY(extent.width() > 20 && extent.width() < 300 && extent.height() > 20 && extent.height() < 120);
        // The bottom-right corner dragged almost onto the top-left one.
        drag(QPointF(150, 60), QPointF(-145, -55));
        const QSizeF expected(std::ceil(extent.width()), std::ceil(extent.height()));
        QCOMPARE(size(item), expected);
        QCOMPARE(centre(item), QPointF(-150 + expected.width() / 2, -60 + expected.height() / 2));
        // Drawn again at the new size.
        QCOMPARE(item->image().size(), expected.toSize());
        // Nothing else goes below a pixel, not even dragged through its anchor.
        const preview::Box flat =
            preview::resized({0, 0, 200, 100, 0}, preview::HandleTop, {0, 50}, {0, 50.2}, 2, false, QSizeF());
        QCOMPARE(QList<double>({flat.w, flat.h, flat.y}), QList<double>({200, 1, 50.5}));
    }

    void dragEndingWhereItBeganRecordsNothing_data() {
        QTest::addColumn<bool>("moveAway");
        QTest::newRow("press and release") << false;
        QTest::newRow("out and back") << true;
    }
    void dragEndingWhereItBeganRecordsNothing() {
        QFETCH(bool, moveAway);
        PreviewItem* item = add(100, 50, -65, -40);
        const int steps = undo()->stack.count();
        press(QPointF(-55, -40));
        if (moveAway) {
            move(QPointF(-85, -60));
            QCOMPARE(centre(item), QPointF(-95, -60));
            move(QPointF(-55, -40));
        }
        release(QPointF(-55, -40));
        QCOMPARE(centre(item), QPointF(-65, -40));
        QCOMPARE(undo()->stack.count(), steps);
        QCOMPARE(trackOf(item)->rect(), rectText(-65, -40, 100, 50));
        // The click selected the item, the track heard it and its panel opens.
        QVERIFY(item->selected);
        QCOMPARE(trackOf(item)->selections.last(), true);
        QCOMPARE(trackOf(item)->edits1, 1);
    }

    void moveIsOneUndoStepForTheSelection() {
        PreviewItem* a = add(100, 50, -100, -40, true);
        PreviewItem* b = add(80, 40, 100, 50, true);
        QSignalSpy closed(window.get(), &ZyePreviewWindow::sig_closeMenu);
        const int steps = undo()->stack.count();
        drag(QPointF(-90, -35), QPointF(-60, -45));
        QCOMPARE(centre(a), QPointF(-70, -50));
        QCOMPARE(centre(b), QPointF(130, 40));
        QCOMPARE(undo()->stack.count(), steps + 1);
        QCOMPARE(undo()->stack.text(undo()->stack.count() - 1), QStringLiteral("PreviewChange"));
        QCOMPARE(trackOf(a)->commits, QList<QRectF>({QRectF(-70, -50, 100, 50)}));
        QCOMPARE(trackOf(b)->commits, QList<QRectF>({QRectF(130, 40, 80, 40)}));
        QCOMPARE(trackOf(a)->edits1, 1); // released over a selected item
        QCOMPARE(closed.count(), 0);
        QVERIFY(a->selected && b->selected);

        undo()->stack.undo();
        QCOMPARE(trackOf(a)->rect(), rectText(-100, -40, 100, 50));
        QCOMPARE(trackOf(b)->rect(), rectText(100, 50, 80, 40));
    }

    void moveSnapsToLinesAndShowsThem_data() {
        QTest::addColumn<QPointF>("by");
        QTest::addColumn<QPointF>("expectedCentre");
        QTest::addColumn<double>("lineX"); // NaN: none
        QTest::addColumn<double>("lineY");
        const double none = std::nan("");
        // A 60 x 30 item at (-50, -40) in a 400 x 200 scene; snaps within 10 pixels.
        QTest::newRow("centre on the centre line") << QPointF(46, 3) << QPointF(0, -37) << 0.0 << none;
        QTest::newRow("left edge on the left border")
            << QPointF(-115, 0) << QPointF(-170, -40) << -200.0 << none;
        QTest::newRow("bottom edge on the bottom border")
            << QPointF(0, 128) << QPointF(-50, 85) << none << 100.0;
        QTest::newRow("nothing near") << QPointF(-20, 10) << QPointF(-70, -30) << none << none;
    }
    void moveSnapsToLinesAndShowsThem() {
        QFETCH(QPointF, by);
        QFETCH(QPointF, expectedCentre);
        QFETCH(double, lineX);
        QFETCH(double, lineY);
        PreviewItem* item = add(60, 30, -50, -40, true);
        const QPointF from(-45, -38);
        press(from);
        move(from + by);
        QCOMPARE(centre(item), expectedCentre);
        float clampX, clampY;
        window->view()->clampLines(&clampX, &clampY);
        const auto same = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; };
        QVERIFY(same(clampX, lineX) && same(clampY, lineY));
        release(from + by);
        window->view()->clampLines(&clampX, &clampY);
        QVERIFY(std::isnan(clampX) && std::isnan(clampY));
        QCOMPARE(trackOf(item)->commits.size(), 1);
        QCOMPARE(trackOf(item)->commits.first().topLeft(), expectedCentre);
    }

    void theItemOnTopIsTheOneHoveredAndPicked() {
        PreviewItem* below = add(200, 100, 0, 0, false, 0);
        PreviewItem* above = add(80, 40, 20, 10, false, 10);
        QSignalSpy closed(window.get(), &ZyePreviewWindow::sig_closeMenu);
        hover(QPointF(30, 15));
        QVERIFY(above->hovered && !below->hovered);
        hover(QPointF(-80, 0));
        QVERIFY(!above->hovered && below->hovered);

        press(QPointF(30, 15));
        release(QPointF(30, 15));
        QVERIFY(above->selected && !below->selected);
        QCOMPARE(trackOf(above)->selections.last(), true);
        QCOMPARE(trackOf(below)->selections.last(), false);
        QCOMPARE(QList<int>({trackOf(above)->edits1, trackOf(below)->edits1}), QList<int>({1, 0}));
        hover(QPointF(60, 30)); // a selected item's corner offers its handle
        QCOMPARE(window->cursor().shape(), Qt::CrossCursor);

        // Dragging the item underneath takes it alone.
        drag(QPointF(-80, 0), QPointF(-30, 30));
        QVERIFY(below->selected && !above->selected);
        QCOMPARE(centre(below), QPointF(50, 30));
        QCOMPARE(centre(above), QPointF(20, 10));

        // A click on bare canvas clears the selection and closes the panel.
        press(QPointF(-180, -90));
        release(QPointF(-180, -90));
        QVERIFY(!below->selected && !above->selected);
        QCOMPARE(closed.count(), 1);
        QCOMPARE(trackOf(below)->selections.last(), false);
    }

    void keysAndContextMenu() {
        PreviewItem* first = add(100, 60, -100, 0, true);
        PreviewItem* second = add(100, 60, 100, 0, false);
        QSignalSpy removed(window.get(), &ZyePreviewWindow::sig_removeSourceItem);
        QTest::keyClick(window.get(), Qt::Key_Delete);
        QCOMPARE(removed.count(), 1);

        // Nothing under the pointer: no menu.
        auto rightClick = [&](const QPointF& q) {
            QContextMenuEvent e(QContextMenuEvent::Mouse, at(q).toPoint(),
                                window->mapToGlobal(at(q).toPoint()));
            QApplication::sendEvent(window.get(), &e);
        };
        rightClick(QPointF(0, -80));
        QVERIFY(!window->contextMenu());

        // Right-clicking the unselected item makes the commands act on it, not on the other.
        rightClick(QPointF(100, 0));
        QMenu* menu = window->contextMenu();
        QVERIFY(menu);
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(second->selected && !first->selected);
        QStringList texts;
        for (QAction* a : menu->actions()) {
            texts << a->text();
            a->trigger();
        }
        QCOMPARE(texts, QStringList({"previewwindowdrop.Edit", "previewwindowdrop.UpLevel",
                                     "previewwindowdrop.DownLevel", "previewwindowdrop.Delete"}));
        menu->hide();
        StandInTrack* t = trackOf(second);
        QCOMPARE(QList<int>({t->edits2, t->raises, t->lowers, t->deletes}), QList<int>({1, 1, 1, 1}));
        t = trackOf(first);
        QCOMPARE(QList<int>({t->edits2, t->raises, t->lowers, t->deletes}), QList<int>({0, 0, 0, 0}));

        // Drags of the libraries and the timeline are welcome, others not.
        for (const QString& text : {QStringLiteral("Quenor"), QStringLiteral("Quenorx")}) {
            QMimeData data;
            data.setText(text);
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            enter.ignore();
            QApplication::sendEvent(window.get(), &enter);
            QCOMPARE(enter.isAccepted(), text == QLatin1String("Quenor"));
        }
    }

    void realInputReachesTheNativeWindow() {
        PreviewItem* item = add(100, 60, 0, 0, true);
        QWindow* native = window->surface();
        QVERIFY(native->isExposed());
        const int steps = undo()->stack.count();
        QTest::mousePress(native, Qt::LeftButton, Qt::NoModifier, at(QPointF(10, 10)).toPoint());
        QTest::mouseMove(native, at(QPointF(40, 10)).toPoint());
        QTest::mouseMove(native, at(QPointF(75, 25)).toPoint());
        QTest::mouseRelease(native, Qt::LeftButton, Qt::NoModifier, at(QPointF(75, 25)).toPoint());
        QCOMPARE(centre(item), QPointF(65, 15));
        QCOMPARE(undo()->stack.count(), steps + 1);
        QCOMPARE(trackOf(item)->rect(), rectText(65, 15, 100, 60));

        // A double click: the second press is not taken for a new click.
        QTest::mouseDClick(native, Qt::LeftButton, Qt::NoModifier, at(QPointF(65, 15)).toPoint());
        QCOMPARE(trackOf(item)->edits2, 1);
        QCOMPARE(trackOf(item)->edits1, 2);

        QSignalSpy removed(window.get(), &ZyePreviewWindow::sig_removeSourceItem);
        QTest::keyClick(native, Qt::Key_Delete);
        QCOMPARE(removed.count(), 1);
    }

    // The timeline's track writes the preview's edit to its clip undoably.
    void trackWritesPlacementToItsClip() {
        timeline::overrideDpiScale(1.0);
        bg::iface()->configClear();
        TimeLineTreeModel model;
        TimeLineGraphicsScene timelineScene;
        timelineScene.setModel(&model);
        ClassifyItem* track = model.header(SourceVideo);
        SourceData* clip = model.createSource(track, 0, 30, 0, 100000, QStringLiteral("/media/clip.mp4"),
                                              QRectF(0, 0, 640, 360), QRect(0, 0, 640, 360));
        track->addSource(clip);
        QVERIFY(track->updateActiveClip(5) == clip);
        const int steps = undo()->stack.count();

        undo()->beginMergeSequence(QStringLiteral("PreviewChange"));
        track->commitPlacement(QRectF(12, -30, 320, 180), 270);
        undo()->endMergeSequence();
        QCOMPARE(clip->previewRect(), QRectF(12, -30, 320, 180));
        QCOMPARE(clip->rotate(), 270);
        QCOMPARE(undo()->stack.count(), steps + 1);
        QCOMPARE(undo()->stack.text(undo()->stack.count() - 1), QStringLiteral("PreviewChange"));

        // The same placement again records nothing; a broken one is refused.
        undo()->beginMergeSequence(QStringLiteral("PreviewChange"));
        track->commitPlacement(QRectF(12, -30, 320, 180), 270 - 360);
        track->commitPlacement(QRectF(std::nan(""), 0, 0, 180), 10);
        undo()->endMergeSequence();
        QCOMPARE(undo()->stack.count(), steps + 1);
        QCOMPARE(clip->rotate(), 270);

        undo()->stack.undo();
        QCOMPARE(clip->previewRect(), QRectF(0, 0, 640, 360));
        QCOMPARE(clip->rotate(), 0);

        auto* item = dynamic_cast<QGraphicsItem*>(clip);
        track->previewSelectionChanged(true);
        QVERIFY(item && item->isSelected());
        track->previewSelectionChanged(false);
        QVERIFY(!item->isSelected());
    }

    // ---- the panel ----

    void timeLabelShowsHoursToFrames_data() {
        QTest::addColumn<qlonglong>("current");
        QTest::addColumn<qlonglong>("total");
        QTest::addColumn<QString>("text");
        QTest::newRow("65 of 1000") << 65LL << 1000LL << "00:00:02,05 / 00:00:33,10";
        QTest::newRow("hours") << qlonglong(30 * 3600 * 2 + 30 * 61 + 7) << qlonglong(30 * 3600 * 100)
                               << "02:01:01,07 / 100:00:00,00";
        QTest::newRow("negative is zero") << -5LL << 29LL << "00:00:00,00 / 00:00:00,29";
    }
    void timeLabelShowsHoursToFrames() {
        QFETCH(qlonglong, current);
        QFETCH(qlonglong, total);
        QFETCH(QString, text);
        PreviewWidget widget(nullptr);
        auto* label = widget.findChild<QLabel*>(QStringLiteral("label_time"));
        QCOMPARE(label->text(), QStringLiteral("00:00:00/00:00:00"));
        widget.slot_showTime(current, total);
        QCOMPARE(label->text(), text);
    }

    void zoomSliderScalesTheView_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<double>("zoom");
        QTest::newRow("0") << 0 << 1.3;
        QTest::newRow("3") << 3 << 1.0;
        QTest::newRow("5") << 5 << 0.8;
        QTest::newRow("10") << 10 << 0.3;
    }
    void zoomSliderScalesTheView() {
        QFETCH(int, value);
        QFETCH(double, zoom);
        PreviewWidget widget(nullptr);
        auto* slider = widget.findChild<QSlider*>(QStringLiteral("horizontalSlider_scale"));
        QCOMPARE(QList<int>({slider->minimum(), slider->maximum(), slider->value()}), QList<int>({0, 10, 3}));
        // Moved before the view exists: the view starts at that zoom.
        slider->setValue(value);
        QVERIFY(qFuzzyCompare(widget.zoom(), zoom));
        widget.resize(500, 400);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        QTRY_VERIFY(widget.previewWindow()->view() != nullptr);
        QVERIFY(qFuzzyCompare(widget.previewWindow()->view()->zoom(), zoom));
        // A wheel turn over the picture moves the slider a step: towards the user zooms out.
        slider->setValue(3);
        QWheelEvent turn(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(widget.previewWindow()->surface(), &turn);
        QCOMPARE(slider->value(), 4);
        QVERIFY(qFuzzyCompare(widget.previewWindow()->view()->zoom(), 0.9));
    }

    void canvasIsFittedIntoThePanel() {
        RenderManager render;
        QVERIFY(render.init());
        PreviewWidget widget(&render);
        widget.resize(500, 400);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        QTRY_VERIFY(widget.previewWindow()->view() != nullptr);
        ZyeGsView* view = widget.previewWindow()->view();
        auto fitted = [&] {
            return std::min(double(view->width()) / render.sceneWidth(),
                            double(view->height()) / render.sceneHeight());
        };
        QTRY_VERIFY(qFuzzyCompare(view->zoom(), fitted()));
        // A canvas of another shape fits again; the slider scales the fitted size.
        render.setSceneSize(1080, 1920, false);
        QVERIFY(qFuzzyCompare(view->zoom(), fitted()));
        widget.findChild<QSlider*>(QStringLiteral("horizontalSlider_scale"))->setValue(0);
        QVERIFY(qFuzzyCompare(view->zoom(), 1.3 * fitted()));
    }

    void buttonsSendTheRenderManagersRequests() {
        RenderManager render;
        PreviewWidget widget(&render);
        QStringList log;
        auto note = [&](const char* what) {
            return [&log, what](auto... v) {
                QStringList parts{QString::fromLatin1(what)};
                (parts << ... << QString::number(qlonglong(v)));
                log << parts.join(' ');
            };
        };
        connect(&widget, &PreviewWidget::sig_opertorUi, this, note("ui"));
        connect(&render, &RenderManager::sig_backFrameRequest, this, note("back"));
        connect(&render, &RenderManager::sig_frontFrameRequest, this, note("front"));
        connect(&render, &RenderManager::sig_resetFrame, this, note("reset"));
        auto button = [&](const char* name) {
            return widget.findChild<QToolButton*>(QString::fromLatin1(name));
        };
        QToolButton* play = button("toolButton_play");
        QVERIFY(play && play->isCheckable() && !play->isChecked());

        QTest::mouseClick(button("toolButton_back"), Qt::LeftButton);
        QTest::mouseClick(button("toolButton_front"), Qt::LeftButton);
        QTest::mouseClick(button("toolButton_replay"), Qt::LeftButton);
        QCOMPARE(log, QStringList(
                          {"ui 0 1", "back 0 0 1 30", "ui 0 1", "front 0 0 1 30", "ui 0 1", "reset 0 1 1"}));
        QVERIFY(play->isChecked());

        // The shortcuts' signals press the buttons; the player's end unchecks play.
        log.clear();
        emit widget.sig_toolButtonBack();
        emit widget.sig_toolButtonFront();
        QCOMPARE(log, QStringList({"ui 0 1", "back 0 0 1 30", "ui 0 1", "front 0 0 1 30"}));
        emit render.sig_controlPlay();
        QVERIFY(!play->isChecked());
        emit widget.sig_toolButtonPlay();
        QVERIFY(play->isChecked());
        // Play at the timeline's last frame plays again from the start;
        // elsewhere it plays on from the play head.
        emit widget.sig_toolButtonPlay();
        widget.slot_showTime(179, 180);
        log.clear();
        emit widget.sig_toolButtonPlay();
        QCOMPARE(log, QStringList({"reset 0 1 1"}));
        emit widget.sig_toolButtonPlay();
        widget.slot_showTime(100, 180);
        log.clear();
        emit widget.sig_toolButtonPlay();
        QCOMPARE(log, QStringList());

        // Full screen, Delete and closing the panel leave the panel.
        QSignalSpy full(&widget, &PreviewWidget::sig_toolButtonFull);
        QSignalSpy removed(&widget, &PreviewWidget::sig_removeSourceItem);
        QSignalSpy closed(&render, &RenderManager::sig_closeMenu);
        QTest::mouseClick(button("toolButton_full"), Qt::LeftButton);
        emit widget.previewWindow()->sig_removeSourceItem();
        emit widget.previewWindow()->sig_closeMenu();
        QCOMPARE(QList<int>({full.count(), removed.count(), closed.count()}), QList<int>({1, 1, 1}));
    }
};

KORVEL_GUI_TEST_MAIN(TestPreviewWindow)

#include "tst_preview_window.moc"
