// The crop editor: the limits and fitted area of a picture, dragging the
// rectangle and its handles against the picture's edges, the frames it
// shows, and the crop page's edits and return.
#include "menu/crop-menu.h"
#include "menu/crop-view.h"
#include "menu/qt-graphics-resizer-item.h"
#include "support/test-main.h"
#include "values/value-init.h"

#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

#include <memory>

namespace {

// Mouse events on the view's viewport at scene points; moves carry the
// held button, which QTest's moves do not.
class Mouse {
public:
    explicit Mouse(CropView* view) : m_view(view) {}
    void press(const QPointF& scene) {
        send(QEvent::MouseButtonPress, scene, Qt::LeftButton, Qt::LeftButton);
    }
    void move(const QPointF& scene) { send(QEvent::MouseMove, scene, Qt::NoButton, Qt::LeftButton); }
    void release(const QPointF& scene) {
        send(QEvent::MouseButtonRelease, scene, Qt::LeftButton, Qt::NoButton);
    }

private:
    void send(QEvent::Type type, const QPointF& scene, Qt::MouseButton button, Qt::MouseButtons buttons) {
        const QPoint at = m_view->mapFromScene(scene);
        QMouseEvent event(type, at, m_view->viewport()->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view->viewport(), &event);
    }
    CropView* m_view;
};

// Where a scene point lands after the trip through the view's pixels, in
// whole picture pixels.
QPointF snapped(CropView* view, const QPointF& scene) {
    const QPointF p = view->mapToScene(view->mapFromScene(scene));
    return QPointF(qRound(p.x()), qRound(p.y()));
}

std::shared_ptr<ff::VFrameCtx> solidFrame(int w, int h, QRgb colour) {
    auto frame = std::make_shared<ff::VFrameCtx>();
    frame->width = w;
    frame->height = h;
    frame->stride = w * 4;
    frame->pixels.resize(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < frame->pixels.size(); i += 4) {
        frame->pixels[i] = uchar(qRed(colour));
        frame->pixels[i + 1] = uchar(qGreen(colour));
        frame->pixels[i + 2] = uchar(qBlue(colour));
        frame->pixels[i + 3] = 255;
    }
    return frame;
}

} // namespace

class TestCropEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<CropView> view;

    void showPicture(const QRect& clipRect) { view->setup("{clip}", QSize(1920, 1080), clipRect); }

private slots:
    void init() {
        view = std::make_unique<CropView>();
        view->resize(600, 400);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }
    void cleanup() { view.reset(); }

    void aPictureSetsTheLimitsAndTheFittedArea() {
        showPicture(QRect(0, 0, 1920, 1080));
        QCOMPARE(view->rightLimit(), 1919.0);
        QCOMPARE(view->bottomLimit(), 1079.0);
        QCOMPARE(view->fittedArea().size(), QSizeF(2019, 1179));
        QCOMPARE(view->scene()->sceneRect(), QRectF(0, 0, 1919, 1079));
        QCOMPARE(view->cropRect(), QRectF(0, 0, 1920, 1080));
        // The whole fitted area is in sight.
        const QRectF seen = view->mapToScene(view->viewport()->rect()).boundingRect();
        QVERIFY(seen.width() >= 2018 || seen.height() >= 1178);
        // A stored rectangle reaching outside the picture is shown inside it.
        showPicture(QRect(1800, 1000, 400, 400));
        QCOMPARE(view->cropRect(), QRectF(1800, 1000, 120, 80));
    }

    void draggedRectangleStopsAtTheEdgeWithoutShrinking() {
        showPicture(QRect(100, 100, 800, 600));
        QSignalSpy edits(view.get(), &CropView::sig_updateClipRect);
        Mouse mouse(view.get());
        mouse.press({500, 400});
        mouse.move({900, 600});
        mouse.move({3000, 2000}); // far past the bottom right
        QCOMPARE(view->cropRect(), QRectF(1120, 480, 800, 600));
        mouse.move({-3000, -3000}); // and past the top left
        QCOMPARE(view->cropRect(), QRectF(0, 0, 800, 600));
        mouse.release({-3000, -3000});
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits.at(0).at(0).toString(), QString("{clip}"));
        QCOMPARE(edits.at(0).at(1).toRect(), QRect(0, 0, 800, 600));

        // The whole picture cannot move and is not cut by a drag either.
        showPicture(QRect(0, 0, 1920, 1080));
        mouse.press({900, 500});
        mouse.move({1000, 600});
        mouse.release({1000, 600});
        QCOMPARE(view->cropRect(), QRectF(0, 0, 1920, 1080));
        QCOMPARE(edits.count(), 1); // nothing changed, nothing sent
    }

    void handleDragIsClampedOnEveryMove() {
        showPicture(QRect(400, 300, 800, 600));
        QtGraphicsResizerItem* resizer = view->resizer();
        QGraphicsItem* corner = nullptr; // the top left corner handle
        for (QGraphicsItem* h : resizer->handles()) {
            if (h->pos() == QPointF(400, 300))
                corner = h;
        }
        QVERIFY(corner);
        QSignalSpy edits(view.get(), &CropView::sig_updateClipRect);
        Mouse mouse(view.get());
        mouse.press(corner->scenePos());
        for (const QPointF& p : {QPointF(200, 100), QPointF(-500, -800), QPointF(-50, 40)}) {
            mouse.move(p);
            const QRectF r = view->cropRect();
            QVERIFY2(r.left() >= 0 && r.top() >= 0, qPrintable(QString("%1,%2").arg(r.left()).arg(r.top())));
            QCOMPARE(r.bottomRight(), QPointF(1200, 900));
        }
        QCOMPARE(view->cropRect().topLeft(), QPointF(0, snapped(view.get(), {-50, 40}).y()));
        // Never smaller than the minimum size.
        mouse.move({1190, 890});
        QCOMPARE(view->cropRect(), QRectF(1150, 850, 50, 50));
        mouse.release({1190, 890});
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits.at(0).at(1).toRect(), QRect(1150, 850, 50, 50));
    }

    void onlyTheClipsOwnFrameIsShown() {
        showPicture(QRect(0, 0, 1920, 1080));
        VFrameInfo other;
        other.uuid = "{another}";
        other.frame = solidFrame(16, 9, qRgb(0, 0, 255));
        VFrameInfo empty;
        empty.uuid = "{clip}";
        view->updateFrames({other, empty});
        QVERIFY(view->cropItem()->image().isNull());
        VFrameInfo mine;
        mine.uuid = "{clip}";
        mine.frame = solidFrame(16, 9, qRgb(255, 0, 0));
        view->updateFrames({other, mine});
        QCOMPARE(view->cropItem()->image().size(), QSize(16, 9));
        QCOMPARE(view->cropItem()->image().pixel(3, 3), qRgb(255, 0, 0));
        // Another clip's picture does not linger under the next clip's rectangle.
        view->setup("{next}", QSize(640, 480), QRect(0, 0, 640, 480));
        QVERIFY(view->cropItem()->image().isNull());
    }

    void cropPageSendsTheRectangleAndTheFitAndReturns() {
        CropMenu page;
        page.resize(600, 400);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.open(MenuVideo, "{clip}", QSize(1920, 1080), QRect(100, 100, 800, 600), StretchKeepRatio);
        QVERIFY(page.keepsProportions());
        struct Edit {
            MenuType type;
            bg::ValueMap map;
            std::string datatype;
        };
        std::vector<Edit> edits;
        connect(&page, &CropMenu::sig_updateData, this,
                [&edits](MenuType type, bg::ValueMap map, std::string datatype) {
                    edits.push_back({type, map, datatype});
                });
        std::vector<MenuType> back;
        connect(&page, &CropMenu::sig_backMenu, this, [&back](MenuType type) { back.push_back(type); });
        page.findChild<QRadioButton*>("radioButton_fill")->click();
        QCOMPARE(int(edits.size()), 1);
        bg::ValueMap map = edits[0].map;
        QCOMPARE(edits[0].type, MenuCrop);
        QCOMPARE(edits[0].datatype, std::string("strech"));
        QCOMPARE(map.get("strech").toInt(), 0);
        QCOMPARE(bg::toQRect(map.get("rect")), QRect(100, 100, 800, 600));
        QCOMPARE(map.get("uuid").toStdString(), std::string("{clip}"));

        Mouse mouse(page.cropView());
        mouse.press({500, 400});
        mouse.move({600, 450});
        mouse.release({600, 450});
        const QPointF moved = page.cropView()->mapToScene(page.cropView()->mapFromScene(QPointF(600, 450))) -
                              page.cropView()->mapToScene(page.cropView()->mapFromScene(QPointF(500, 400)));
        QCOMPARE(int(edits.size()), 2);
        QCOMPARE(edits[1].datatype, std::string("rect"));
        map = edits[1].map;
        QCOMPARE(bg::toQRect(map.get("rect")),
                 QRect(100 + qRound(moved.x()), 100 + qRound(moved.y()), 800, 600));
        QCOMPARE(map.get("strech").toInt(), 0);

        // An undo elsewhere brings the clip's rectangle back here.
        bg::ValueMap undone;
        undone["uuid"] = bg::Value(std::string("{clip}"));
        undone["rect"] = bg::ValueQt(QRect(100, 100, 800, 600));
        undone["strech"] = bg::Value(1);
        page.refresh(undone);
        QCOMPARE(page.cropView()->cropRect(), QRectF(100, 100, 800, 600));
        QVERIFY(page.keepsProportions());
        undone["uuid"] = bg::Value(std::string("{other}"));
        undone["rect"] = bg::ValueQt(QRect(0, 0, 50, 50));
        page.refresh(undone);
        QCOMPARE(page.clipRect(), QRect(100, 100, 800, 600));

        page.findChild<QPushButton*>("pushButton_return")->click();
        QCOMPARE(int(back.size()), 1);
        QCOMPARE(back[0], MenuVideo);
        QCOMPARE(int(edits.size()), 2);
    }
};

KORVEL_GUI_TEST_MAIN(TestCropEditor)
#include "tst_crop_editor.moc"
