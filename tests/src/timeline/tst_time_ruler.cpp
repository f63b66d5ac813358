// The time ruler: tick spacing, labels, and the play head moved by press,
// drag (with scrolling at the edges), the wheel and the view's slots.
#include "support/test-main.h"
#include "timeline/time-ruler.h"
#include "timeline/timeline-units.h"

#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QWheelEvent>

#include <memory>

namespace {
// At dpiScale 1 this scale makes one screen pixel one frame.
constexpr double kOnePixelPerFrame = 1.0 / 50.0;
} // namespace

class TestTimeRuler : public QObject {
    Q_OBJECT

    std::unique_ptr<TimeLineRuler> ruler;

    // A move with the left button held, which QTest does not carry in Qt 5.
    void dragTo(int x) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(ruler.get(), &move);
    }

private slots:
    void initTestCase() { timeline::overrideDpiScale(1.0); }

    void init() {
        ruler = std::make_unique<TimeLineRuler>();
        ruler->resize(400, 30);
        ruler->slot_scaleValue(12, kOnePixelPerFrame, 0);
    }
    void cleanup() { ruler.reset(); }

    void labels() {
        QCOMPARE(timeline::rulerLabel(65), QStringLiteral("00:00:02, 05"));
        QCOMPARE(timeline::rulerLabel(1234560), QStringLiteral("11:25:52, 00"));
        QCOMPARE(timeline::clockText(65), QStringLiteral("00:00:02,05"));
        QCOMPARE(timeline::clockText(108000 + 1800 * 59 + 30 * 59 + 29), QStringLiteral("01:59:59,29"));
    }

    void ticks_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("subs");
        QTest::newRow("0") << 0 << 5 << 5;
        QTest::newRow("12, the start") << 12 << 150 << 5;
        QTest::newRow("15") << 15 << 900 << 8;
        QTest::newRow("16") << 16 << 1800 << 8;
        QTest::newRow("24") << 24 << 540000 << 8;
        QTest::newRow("beyond") << 30 << 540000 << 8;
    }
    void ticks() {
        QFETCH(int, level);
        const timeline::RulerTicks t = timeline::rulerTicks(level);
        QTEST(t.framesPerMajor, "frames");
        QTEST(t.subIntervals, "subs");
    }

    void pressOnEmptyTimelineStaysAtZero() {
        QSignalSpy ui(ruler.get(), &TimeLineRuler::sig_opertorUi);
        QSignalSpy moved(ruler.get(), &TimeLineRuler::sig_viewportRangeUpdate);
        QTest::mouseClick(ruler.get(), Qt::LeftButton, Qt::NoModifier, QPoint(250, 10));
        QCOMPARE(ruler->playFrame(), int64_t(0));
        QCOMPARE(ui.count(), 1);
        QCOMPARE(ui.at(0).at(0).toBool(), true);
        QCOMPARE(ui.at(0).at(1).toBool(), true);
        QCOMPARE(moved.count(), 1);
    }

    void pressMovesPlayHead() {
        ruler->slot_limitPosX(50.0 * 1000); // 1000 frames
        ruler->slot_offsetChange(100);
        QSignalSpy moved(ruler.get(), &TimeLineRuler::sig_viewportRangeUpdate);
        QTest::mousePress(ruler.get(), Qt::LeftButton, Qt::NoModifier, QPoint(300, 10));
        QCOMPARE(ruler->playFrame(), int64_t(400));
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.at(0).at(0).toInt(), 100);
        QCOMPARE(moved.at(0).at(1).value<int64_t>(), int64_t(400));
        QTest::mouseRelease(ruler.get(), Qt::LeftButton, Qt::NoModifier, QPoint(300, 10));
    }

    void pressPastTheEndStopsAtTheEnd() {
        ruler->slot_limitPosX(50.0 * 200);
        QTest::mouseClick(ruler.get(), Qt::LeftButton, Qt::NoModifier, QPoint(350, 10));
        QCOMPARE(ruler->playFrame(), int64_t(199)); // the last frame, not one past it
    }

    void dragInsideFollowsPointer() {
        ruler->slot_limitPosX(50.0 * 300);
        QTest::mousePress(ruler.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
        dragTo(150);
        QCOMPARE(ruler->playFrame(), int64_t(150));
        dragTo(370); // past the end of a 300-frame timeline, not yet at the edge
        QCOMPARE(ruler->playFrame(), int64_t(299));
        QCOMPARE(ruler->offset(), 0);
    }

    void dragPastRightEdgeScrolls() {
        ruler->slot_limitPosX(50.0 * 10000);
        ruler->slot_offsetrangeChanged(0, 80);
        QSignalSpy moved(ruler.get(), &TimeLineRuler::sig_viewportRangeUpdate);
        QTest::mousePress(ruler.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
        dragTo(395);
        QCOMPARE(ruler->offset(), 50);
        QCOMPARE(ruler->playFrame(), int64_t(50 + 400 - 20));
        QCOMPARE(moved.last().at(0).toInt(), 50);
        dragTo(398);
        QCOMPARE(ruler->offset(), 80); // held at the largest offset
        QCOMPARE(ruler->playFrame(), int64_t(80 + 400 - 20));
        dragTo(399); // nothing left to scroll: the pointer rules again
        QCOMPARE(ruler->offset(), 80);
        QCOMPARE(ruler->playFrame(), int64_t(80 + 399));
    }

    void dragPastLeftEdgeScrollsBack() {
        ruler->slot_limitPosX(50.0 * 10000);
        ruler->slot_offsetrangeChanged(0, 500);
        ruler->slot_offsetChange(70);
        QTest::mousePress(ruler.get(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 10));
        dragTo(5);
        QCOMPARE(ruler->offset(), 20);
        QCOMPARE(ruler->playFrame(), int64_t(20 + 20 + 1));
        dragTo(5);
        QCOMPARE(ruler->offset(), 0);
        QCOMPARE(ruler->playFrame(), int64_t(21));
    }

    void moveWithoutButtonDoesNothing() {
        ruler->slot_limitPosX(50.0 * 1000);
        QTest::mouseMove(ruler.get(), QPoint(200, 10));
        QCOMPARE(ruler->playFrame(), int64_t(0));
    }

    void wheelAsksForZoom() {
        QSignalSpy zoom(ruler.get(), &TimeLineRuler::sig_scaleStepView);
        QWheelEvent forward(QPointF(10, 10), ruler->mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, 120),
                            Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(ruler.get(), &forward);
        QWheelEvent back(QPointF(10, 10), ruler->mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, -120),
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(ruler.get(), &back);
        QCOMPARE(zoom.count(), 2);
        QCOMPARE(zoom.at(0).at(0).toBool(), true);
        QCOMPARE(zoom.at(1).at(0).toBool(), false);
    }

    void shrinkingMovesPlayHeadToTheEnd() {
        ruler->slot_limitPosX(50.0 * 1000);
        ruler->slot_moveValue(30, 50.0 * 500);
        QCOMPARE(ruler->playFrame(), int64_t(500));
        QCOMPARE(ruler->offset(), 30);
        QSignalSpy moved(ruler.get(), &TimeLineRuler::sig_viewportRangeUpdate);
        ruler->slot_limitPosX(50.0 * 800);
        QCOMPARE(moved.count(), 0);
        ruler->slot_limitPosX(50.0 * 300);
        QCOMPARE(ruler->length(), int64_t(300));
        // Onto the new last frame (one past it the preview is black).
        QCOMPARE(ruler->playFrame(), int64_t(299));
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.at(0).at(0).toInt(), 30);
        QCOMPARE(moved.at(0).at(1).value<int64_t>(), int64_t(299));
    }

    void paintsMarkerAtPlayHead() {
        ruler->slot_moveValue(20, 50.0 * 120); // marker at x = 100
        const QImage image = ruler->grab().toImage();
        QCOMPARE(image.pixelColor(100, 30 - 10), QColor("#f5a623"));
        QVERIFY(image.pixelColor(200, 30 - 10) != QColor("#f5a623"));
    }
};

KORVEL_GUI_TEST_MAIN(TestTimeRuler)
#include "tst_time_ruler.moc"
