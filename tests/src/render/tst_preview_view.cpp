// The preview surface as a user sees it: the view presents the scene into
// the window, with the frame and handles of a selected picture.
#include "render/display-window.h"
#include "render/preview-item.h"
#include "render/shader-library.h"
#include "support/test-main.h"

#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

namespace {
ff::VFramePtr solidFrame(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    auto f = std::make_shared<ff::VFrameCtx>();
    f->width = w;
    f->height = h;
    f->stride = w * 4;
    f->pixels.resize(size_t(w) * h * 4);
    for (size_t i = 0; i < f->pixels.size(); i += 4) {
        f->pixels[i] = r;
        f->pixels[i + 1] = g;
        f->pixels[i + 2] = b;
        f->pixels[i + 3] = 255;
    }
    return f;
}

// The ids of the System V shared memory segments mapped into the process:
// where the driver keeps a window's buffers in them (Mesa's llvmpipe does,
// to hand pictures to the X server), those buffers.
QSet<QString> sharedSegments() {
    QSet<QString> ids;
    QFile maps("/proc/self/maps");
    if (!maps.open(QIODevice::ReadOnly))
        return ids;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        if (line.contains("/SYSV"))
            ids.insert(QString::fromLatin1(line.simplified().split(' ').value(4)));
    }
    return ids;
}
} // namespace

class TestPreviewView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(GsDevice::CreateDefaultDevice(false));
        QCOMPARE(RegisterShaders(GsDevice::DefaultDevice()), 18);
    }
    void cleanupTestCase() { GsDevice::DestroyDefaultDevice(); }

    void showsTheSceneWithTheSelection() {
        GsScene* scene = new GsScene(400, 200);
        auto* item = new VideoPreviewItem({100, 50});
        scene->AddItem(item);
        item->beginExport();
        RenderProps props;
        props.contentMask = ContentSelf;
        props.self.frame = solidFrame(100, 50, 0, 200, 0);
        props.self.width = 100;
        props.self.height = 50;
        props.self.centerX = 50;
        props.self.stretch = 0;
        item->applyRenderProps(props);
        item->selected = true;

        ZyeDisplayWindow window;
        window.resize(600, 300);
        QSignalSpy created(&window, &ZyeDisplayWindow::ViewCreated);
        window.setScene(scene);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(window.view() != nullptr);
        QCOMPARE(created.count(), 1);
        QTRY_VERIFY(window.view()->width() == 600);

        TickSource();
        HandleFilter();
        // The X server shows a presented frame a moment later on a busy machine.
        QImage shot;
        auto drawAndGrab = [&](int x, int y, const QColor& expected) {
            for (int attempt = 0; attempt < 50; ++attempt) {
                DrawDisplay();
                QApplication::processEvents();
                shot = window.screen()->grabWindow(window.winId()).toImage();
                if (QColor(shot.pixel(x, y)) == expected)
                    return;
                QTest::qWait(100);
            }
        };
        drawAndGrab(350, 150, QColor(0, 200, 0));
        QCOMPARE(shot.size(), QSize(600, 300));
        auto colourAt = [&](int x, int y) { return QColor(shot.pixel(x, y)); };
        // Grey around the black canvas (400 x 200 at zoom 1, centred); the
        // green picture right of the centre inside its red frame.
        QVERIFY(std::abs(colourAt(20, 20).red() - 50) <= 2);
        QCOMPARE(colourAt(110, 60), QColor(Qt::black));
        QCOMPARE(colourAt(350, 150), QColor(0, 200, 0));
        QColor edge = colourAt(350, 125); // top edge of the 100 x 50 item at (50, 0)
        QVERIFY2(edge.red() > 180 && edge.green() < 80, qPrintable(edge.name()));
        QColor handle = colourAt(302, 127); // the top-left handle
        QVERIFY2(handle.red() > 180 && handle.green() < 80, qPrintable(handle.name()));

        // Zoomed to a half (the scene is then composed at half its size),
        // the picture sits half as far from the centre, as large as before.
        window.view()->setZoom(0.5);
        drawAndGrab(325, 150, QColor(0, 200, 0));
        QCOMPARE(QColor(shot.pixel(325, 150)), QColor(0, 200, 0));
        QCOMPARE(QColor(shot.pixel(360, 150)).red(), 0);
        // 50 x 25 on screen: green inside its left and right edges (away
        // from the frame and the handles at the middle of each edge).
        QCOMPARE(QColor(shot.pixel(307, 143)), QColor(0, 200, 0));
        QCOMPARE(QColor(shot.pixel(343, 157)), QColor(0, 200, 0));

        item->endExport();
        scene->RemoveItem(item);
        item->Release();
        scene->Release();
    }

    // Picture after picture goes into the same window buffers (making them
    // anew for each took a third of a 1080p preview's time on llvmpipe), and
    // a window whose native window is made anew still shows the pictures.
    void picturesFollowInTheSameWindowBuffers() {
        GsScene* scene = new GsScene(320, 180);
        auto* item = new VideoPreviewItem({320, 180});
        scene->AddItem(item);
        item->beginExport();
        auto show = [&](const QColor& colour) {
            RenderProps props;
            props.contentMask = ContentSelf;
            props.self.frame = solidFrame(320, 180, uint8_t(colour.red()), uint8_t(colour.green()),
                                          uint8_t(colour.blue()));
            props.self.width = 320;
            props.self.height = 180;
            props.self.stretch = 0;
            item->applyRenderProps(props);
        };

        ZyeDisplayWindow window;
        window.resize(320, 180);
        window.setScene(scene);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(window.view() != nullptr && window.view()->width() == 320);
        auto presented = [&](const QColor& colour) {
            show(colour);
            for (int attempt = 0; attempt < 50; ++attempt) {
                TickSource();
                HandleFilter();
                DrawDisplay();
                QApplication::processEvents();
                const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
                if (QColor(shot.pixel(160, 90)) == colour)
                    return true;
                QTest::qWait(100);
            }
            return false;
        };
        const QList<QColor> colours = {QColor(200, 0, 0),   QColor(0, 200, 0),   QColor(0, 0, 200),
                                       QColor(200, 200, 0), QColor(0, 200, 200), QColor(200, 0, 200),
                                       QColor(50, 50, 50)};
        QVERIFY(presented(colours[0]));
        QTRY_VERIFY(window.view()->HoldsWindow()); // on X, GLX
        QVERIFY(presented(colours[1]));
        // Five more pictures. The widget's own backing store (also shared
        // memory) may be made anew once on a busy machine; new buffers for
        // every picture would show as five new segments.
        const QSet<QString> held = sharedSegments();
        QSet<QString> added;
        for (const QColor& colour : colours.mid(2)) {
            QVERIFY2(presented(colour), qPrintable(colour.name()));
            added += sharedSegments() - held;
        }
        QVERIFY2(added.size() <= 1, qPrintable(QStringList(added.values()).join(' ')));

        QWindow* surface = window.view()->window();
        surface->destroy();
        QVERIFY(!window.view()->HoldsWindow()); // let go before the native window went
        surface->create();
        surface->show();
        QVERIFY(QTest::qWaitForWindowExposed(surface));
        QVERIFY(presented(QColor(200, 100, 0)));
        QTRY_VERIFY(window.view()->HoldsWindow()); // the new native window
        QVERIFY(presented(QColor(100, 100, 100)));

        item->endExport();
        scene->RemoveItem(item);
        item->Release();
        scene->Release();
    }
};

int main(int argc, char** argv) {
    korvel::test::prepareEnvironment("TestPreviewView");
    korvel::test::requireDisplay();
    QApplication app(argc, argv);
    TestPreviewView tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_preview_view.moc"
