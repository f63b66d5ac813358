// What a user sees of a saved project: a composition made in the program,
// saved, and opened again in a fresh process, then exported from the command
// line and from the window and shown in the preview. Every picture is
// compared with a reference render of the same composition made by an
// ffmpeg filter graph; colours are checked against known values and the
// sound where it belongs.
#include "main/export-jobs.h"
#include "main/main-window.h"
#include "main/zyapp.h"
#include "graphics/graphics.h"
#include "render/export/export-param-widget.h"
#include "render/render-manager.h"
#include "resource/material-manager.h"
#include "resource/material-view.h"
#include "resource/resource-widget.h"
#include "support/folder-openings.h"
#include "support/composition.h"
#include "support/reference-render.h"
#include "support/test-main.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/source-item.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/toolbar-widget.h"
#include "undo/undo-controller.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

using namespace korvel::test;

namespace {

QString media(const QString& name) { return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name; }

MainWindow* window() { return qobject_cast<MainWindow*>(ZyApp::instance()->mainWindow()); }
TimeLineTreeModel* tracks() { return window()->timelineWidget()->model(); }

// A preview read back from the render thread: the latest drawn scene.
class Capture : public GsOutputRaw {
public:
    using GsOutputRaw::GsOutputRaw;
    void OnFrame(int w, int h, const uint8_t* pixels, int bytesPerRow, int64_t) override {
        QImage image(w, h, QImage::Format_RGBA8888);
        for (int y = 0; y < h; ++y)
            std::memcpy(image.scanLine(y), pixels + size_t(y) * bytesPerRow, size_t(w) * 4);
        std::lock_guard<std::mutex> hold(lock);
        latest = image;
    }
    QImage take() {
        std::lock_guard<std::mutex> hold(lock);
        return latest.convertToFormat(QImage::Format_RGB888);
    }
    std::mutex lock; // guards latest
    QImage latest;
};

// The child: opens the project in a window, as a user reopening it would,
// shows the asked frames in the preview (each until it matches its reference
// outside the mask, or 30 s pass) and exports through the export window.
// Arguments: PROJECT OUTDIR MASK(x,y,w,h) FRAME:REFERENCE...
int windowChild(const QStringList& args) {
    const QString project = args.at(0), out = args.at(1);
    const QStringList m = args.at(2).split(',');
    const QRect mask(m.value(0).toInt(), m.value(1).toInt(), m.value(2).toInt(), m.value(3).toInt());
    ZyApp* app = ZyApp::instance();
    if (!app->initialize() || !app->openProject(project))
        return 2;
    FolderOpenings opened;
    RenderManager* render = app->renderManager();
    auto* capture = new Capture(render->scene(), int(render->sceneWidth()), int(render->sceneHeight()),
                                GsOutputRaw::GsFormatRGBA);
    capture->Start();
    for (const QString& pair : args.mid(3)) {
        const int frame = pair.section(':', 0, 0).toInt();
        const QImage reference(pair.section(':', 1));
        emit render->sig_resetFrame(frame, EditManual, true);
        QImage shown;
        QElapsedTimer waited;
        waited.start();
        do {
            QTest::qWait(100);
            shown = capture->take();
        } while (waited.elapsed() < 30000 && psnrRgb(shown, reference, mask) < 35.0);
        shown.save(QStringLiteral("%1/preview-%2.png").arg(out).arg(frame));
    }
    capture->Stop();
    capture->Release();

    // Export as a user does: the toolbar's Export, the name and folder,
    // Export; it runs in the background as a korvel child process.
    ExportJobQueue* jobs = window()->exportJobs();
    jobs->setProgram(QStringLiteral(KORVEL_BINARY));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    jobs->setEnvironment(env);
    emit window()->toolbarWidget()->sig_showExport();
    auto* settings = window()->findChild<ExportParamWidget*>();
    if (!settings || !QTest::qWaitForWindowExposed(settings))
        return 3;
    settings->findChild<QLineEdit*>("lineEdit_path")->setText(out);
    settings->findChild<QLineEdit*>("lineEdit_name")->setText("window");
    settings->findChild<QComboBox*>("comboBox_extension")->setCurrentText(".mp4");
    settings->findChild<QComboBox*>("comboBox_fps")->setCurrentText("30");
    QTimer answer; // any question or message box is answered with its first button
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->buttons().first()->click();
    });
    answer.start(50);
    QTest::mouseClick(settings->findChild<QPushButton*>("pushButton_export"), Qt::LeftButton);
    if (!QTest::qWaitFor([jobs] { return !jobs->jobs().isEmpty() && jobs->pending() == 0; }, 280000))
        return 4;
    const ExportJob& job = jobs->jobs().last();
    if (job.state != ExportJob::Done) {
        std::fprintf(stderr, "the window's export failed: %s\n%s\n", qUtf8Printable(job.reason),
                     qUtf8Printable(job.logTail()));
        return 1;
    }
    return 0;
}

} // namespace

class TestRenderEndToEnd : public QObject {
    Q_OBJECT

    QString dir;

    static Composition composition() { return Composition::small(QStringLiteral(KORVEL_TEST_MEDIA_DIR)); }

    // The composition in a new project of its canvas, saved.
    static void buildAndSave(const Composition& c, const QString& path) {
        QVERIFY(ZyApp::instance()->createProject(path, c.canvas.width(), c.canvas.height(), true));
        QString why;
        QVERIFY2(buildComposition(c, tracks(), &why), qPrintable(why));
        QVERIFY(ZyApp::instance()->saveProject(false, false, path));
    }

    // ffmpeg's render of the composition, lossless RGB.
    static void referenceRender(const Composition& c, const QString& lossless) {
        if (QFile::exists(lossless))
            return;
        QString error;
        QVERIFY2(runFfmpeg(referenceArguments(c) + QStringList {"-c:v", "ffv1", "-pix_fmt", "bgr0", lossless}, &error),
                 qPrintable(error));
    }

    // Our file against the reference: frame count and times exact, and Y
    // PSNR at least 28 dB in every frame and 35 dB on average. Our subtitle
    // is drawn by Qt and the reference's by FreeType, whose glyph edges
    // differ: while the text shows, the strict bounds hold outside its box
    // and the whole picture is held to 25 dB (a missing or misplaced text
    // falls far below that).
    static void comparePictures(const Composition& c, const QString& ours, const QString& reference) {
        const QVector<double> times = frameTimes(ours);
        QCOMPARE(times.size(), c.frames);
        for (int i = 0; i < times.size(); ++i)
            QVERIFY2(std::abs(times[i] - i / 30.0) < 0.0005,
                     qPrintable(QStringLiteral("frame %1 at %2 s").arg(i).arg(times[i])));
        QString error;
        const QVector<double> whole = psnrY(ours, reference, "bt601", &error);
        QVERIFY2(whole.size() == c.frames, qPrintable(error));
        for (int i = 0; i < whole.size(); ++i) {
            const double least = c.textShows(i) ? 25.0 : 28.0;
            QVERIFY2(whole[i] >= least, qPrintable(QStringLiteral("frame %1: %2 dB").arg(i).arg(whole[i])));
        }
        const QVector<double> psnr = c.text.isEmpty() ? whole : psnrY(ours, reference, "bt601", &error, c.textBox());
        QVERIFY2(psnr.size() == c.frames, qPrintable(error));
        double sum = 0.0, worst = 100.0;
        int worstFrame = -1;
        for (int i = 0; i < psnr.size(); ++i) {
            sum += psnr[i];
            if (psnr[i] < worst) {
                worst = psnr[i];
                worstFrame = i;
            }
        }
        const double average = sum / psnr.size();
        qInfo("%s: average Y PSNR %.1f dB, worst %.1f dB at frame %d", qPrintable(QFileInfo(ours).fileName()),
              average, worst, worstFrame);
        QVERIFY2(average >= 35.0, qPrintable(QString::number(average)));
        QVERIFY2(worst >= 28.0, qPrintable(QStringLiteral("frame %1: %2 dB").arg(worstFrame).arg(worst)));
    }

    // The first clip's tone sounds until the cut; the second clip is silent.
    static void compareSound(const Composition& c, const QString& ours) {
        const QVector<float> sound = decodeSound(ours);
        QVERIFY(!sound.isEmpty());
        const double cut = c.cut / 30.0, end = c.frames / 30.0;
        const double during = soundLevel(sound, 0.1, cut - 0.1), after = soundLevel(sound, cut + 0.2, end - 0.1);
        QVERIFY2(during > 0.05, qPrintable(QString::number(during)));
        QVERIFY2(after < 0.01, qPrintable(QString::number(after)));
    }

private slots:
    void initTestCase() {
        QVERIFY(ZyApp::instance()->initialize());
        dir = workFolder("end-to-end");
    }

    void cleanup() {
        zya::UndoController::instance()->setClean();
        ZyApp::instance()->clearProject();
    }

    void reopenedProjectExportsAndPreviewsAsComposed() {
        const Composition c = composition();
        const QString project = dir + "/film.zya2";
        buildAndSave(c, project);
        const QString reference = dir + "/reference.mkv";
        referenceRender(c, reference);

        // The command-line export, in a fresh process with no display at all,
        // as on a server.
        const QString ours = dir + "/command-line.mp4";
        QByteArray said;
        QCOMPARE(runProgram(KORVEL_BINARY, {"--export", project, ours}, &said, 280000,
                            {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}),
                 0);
        QVERIFY2(said.contains("export: wrote"), said.right(400).constData());
        comparePictures(c, ours, reference);
        QCOMPARE(colourTags(ours), QStringLiteral("smpte170m,tv,smpte170m,smpte170m"));
        compareSound(c, ours);

        // The window, in another fresh process: the preview of four instants
        // (a plain clip, the dissolve, the cut inside it, the second clip
        // with text) and the export window.
        const QString shown = dir + "/window";
        QDir().mkpath(shown);
        const QRect box = c.textBox();
        QStringList args {"--window-child", project, shown,
                          QStringLiteral("%1,%2,%3,%4").arg(box.x()).arg(box.y()).arg(box.width()).arg(box.height())};
        const QList<int> instants {10, 50, 60, 80};
        for (int frame : instants) {
            const QString png = QStringLiteral("%1/reference-%2.png").arg(dir).arg(frame);
            decodeFrame(reference, frame).save(png);
            args << QStringLiteral("%1:%2").arg(frame).arg(png);
        }
        QCOMPARE(runProgram(QCoreApplication::applicationFilePath(), args, &said), 0);
        for (int frame : instants) {
            const QImage preview(QStringLiteral("%1/preview-%2.png").arg(shown).arg(frame));
            const QImage expected(QStringLiteral("%1/reference-%2.png").arg(dir).arg(frame));
            const bool text = c.textShows(frame);
            const double psnr = psnrRgb(preview, expected, text ? box : QRect());
            const double whole = psnrRgb(preview, expected);
            qInfo("preview of frame %d: %.1f dB (%.1f dB with the text)", frame, psnr, whole);
            QVERIFY2(psnr >= 35.0, qPrintable(QStringLiteral("frame %1: %2 dB").arg(frame).arg(psnr)));
            QVERIFY2(whole >= (text ? 25.0 : 35.0),
                     qPrintable(QStringLiteral("frame %1: %2 dB").arg(frame).arg(whole)));
        }
        comparePictures(c, shown + "/window.mp4", reference);
        compareSound(c, shown + "/window.mp4");
    }

    // A subtitle sized in points, as the panel sizes it, is the same size in
    // an export with a display (the editor's, 100 dots an inch here) and in
    // one without (a server's or the farm's): the screen's resolution does
    // not size the text.
    void aSubtitleIsTheSameSizeWithAndWithoutADisplay() {
        const QString project = dir + "/points.zya2";
        QVERIFY(ZyApp::instance()->createProject(project, 640, 360, true));
        ClassifyItem* titles = tracks()->header(SourceSubtitle);
        titles->addSource(tracks()->createSubtitle(titles, 0, 30, "Hello Korvel", QFont("DejaVu Sans", 40), Qt::white));
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        QList<QImage> frames;
        for (const bool display : {true, false}) {
            const QString out = dir + (display ? "/points-windowed.mp4" : "/points-headless.mp4");
            QByteArray said;
            QCOMPARE(runProgram(KORVEL_BINARY, {"--export", project, out}, &said, 280000,
                                display ? QStringList() : QStringList {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}),
                     0);
            frames << decodeFrame(out, 15);
        }
        const double same = psnrRgb(frames[0], frames[1]);
        QVERIFY2(same >= 35.0, qPrintable(QStringLiteral("windowed against headless: %1 dB").arg(same)));
    }

    void olderLayoutExportsAsComposed() {
        // The two clips, the dissolve and the logo, as the older layout wrote
        // them: hundredths of a second, the canvas as a rectangle, opacity as
        // a share, the centre as "pos".
        Composition c = composition();
        c.patch = Composition::Picture();
        c.text.clear();
        const QString project = dir + "/older.zya";
        const QString object = QStringLiteral(
            "<Object><uid>%1</uid><type>%2</type><url>%3</url><rect>[rectf]x:0;y:0;w:%4;h:%5</rect>"
            "<pos>[point]x:%6;y:%7</pos><alpha>%8</alpha><dobj_user><startPts>%9</startPts>"
            "<duration>%10</duration></dobj_user></Object>");
        auto hundredths = [](int frames) { return QString::number(frames * 100 / 30); };
        const int w = c.canvas.width(), h = c.canvas.height();
        const QRect logo = c.logo.place;
        const QString objects =
            object.arg("1").arg(2).arg(c.clipA).arg(w).arg(h).arg(0).arg(0).arg(1).arg(hundredths(0),
                                                                                        hundredths(c.cut)) +
            object.arg("2").arg(2).arg(c.clipB).arg(w).arg(h).arg(0).arg(0).arg(1).arg(hundredths(c.cut),
                                                                                        hundredths(c.frames - c.cut)) +
            object.arg("3")
                .arg(1)
                .arg(c.logo.path)
                .arg(logo.width())
                .arg(logo.height())
                .arg(logo.x())
                .arg(logo.y())
                .arg(c.logo.opacity / 255.0, 0, 'f', 6)
                .arg(hundredths(c.logo.from), hundredths(c.logo.to - c.logo.from));
        QFile file(project);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral(
                       "<Brindon archive=\"0\"><Preview><ViewInfo><canvas_rect>[rectf]x:0;y:0;w:%1;h:%2</canvas_rect>"
                       "</ViewInfo><ViewModel><ZySceneModel><ObjectMgr>%3</ObjectMgr></ZySceneModel></ViewModel>"
                       "</Preview><TimeLine><PosCtrl><Tree><Group type=\"2\"><Row><Item uid=\"1\"/><Item uid=\"2\"/>"
                       "</Row><Transit><name>over_cross</name><left>1</left><right>2</right><duration>%4</duration>"
                       "<ratio>5</ratio></Transit></Group><Group type=\"1\"><Row><Item uid=\"3\"/></Row></Group></Tree>"
                       "</PosCtrl></TimeLine></Brindon>")
                       .arg(w)
                       .arg(h)
                       .arg(objects)
                       .arg(c.dissolveMs)
                       .toUtf8());
        file.close();
        const QString reference = dir + "/older-reference.mkv";
        referenceRender(c, reference);
        const QString ours = dir + "/older.mp4";
        QByteArray said;
        QCOMPARE(runProgram(KORVEL_BINARY, {"--export", project, ours}, &said), 0);
        comparePictures(c, ours, reference);
    }

    // Where one clip fills the canvas alone its pictures go to the file as
    // decoded; with CPU colour conversion, where pictures lie over it only
    // they are drawn, and a dissolve mixes the two clips' planes; the
    // frames around them are composed: all in their order and as the
    // reference shows them, whichever way colours are converted (the GPU's
    // way hands the writer the decoded planes).
    void aClipAloneGoesToTheFileAsDecoded() {
        Composition c = composition();
        c.logo.to = 20;
        c.patch.to = 20;
        c.text.clear(); // alone on frames 20 to 44 and 76 on
        const QString project = dir + "/alone.zya2";
        buildAndSave(c, project);
        const QString reference = dir + "/alone-reference.mkv";
        referenceRender(c, reference);
        for (const char* conversion : {"gpu", "cpu"}) {
            const QString ours = dir + "/alone-" + conversion + ".mp4";
            QByteArray said;
            qputenv("KORVEL_COLOUR_CONVERSION", conversion);
            qputenv("KORVEL_DEBUG", "1");
            const int status = runProgram(KORVEL_BINARY, {"--export", project, ours}, &said, 280000,
                                          {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
            qunsetenv("KORVEL_COLOUR_CONVERSION");
            qunsetenv("KORVEL_DEBUG");
            QVERIFY2(status == 0, said.right(400).constData());
            QVERIFY2(said.contains("export: 69 pictures went to the writer as decoded"),
                     qPrintable(QString::fromUtf8(said).split('\n').filter("went to the writer").join('\n')));
            // Where the CPU converts colours, the first 20 frames draw only
            // the pictures over clip A and lay them onto its planes, and the
            // dissolve's 31 mix the two clips' planes. The pictures stand
            // still, so what lies over the clips is drawn only when it
            // changes: the patch alone (frames 0-14), the logo joining it
            // (15-19), and nothing over the dissolve.
            const bool fromPlanes = said.contains(
                "export: 51 pictures were made from decoded planes, with what lies over them drawn 3 times");
            QVERIFY2(fromPlanes == (QByteArray(conversion) == "cpu"),
                     qPrintable(QString::fromUtf8(said).split('\n').filter("decoded planes").join('\n')));
            comparePictures(c, ours, reference);
        }
    }

    // An export of another shape than the canvas shows the whole picture in
    // its own shape, centred between black bars, never stretched.
    void anotherShapeIsFittedBetweenBars_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("picture");
        QTest::newRow("bars above and below") << QSize(480, 360) << QRect(0, 44, 480, 270);
        QTest::newRow("bars at the sides") << QSize(960, 360) << QRect(160, 0, 640, 360);
        // Shapes apart by rounding only: filled, not a line of black.
        QTest::newRow("nearly the same shape") << QSize(640, 362) << QRect(0, 0, 640, 362);
    }

    void anotherShapeIsFittedBetweenBars() {
        QFETCH(QSize, size);
        QFETCH(QRect, picture);
        Composition c = composition();
        c.text.clear();
        const QString project = dir + "/shape.zya2";
        if (!QFile::exists(project))
            buildAndSave(c, project);
        const QString reference = dir + "/shape-reference.mkv";
        referenceRender(c, reference);
        const QString tag = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        const QString fitted = dir + "/shape-reference-" + tag + ".mkv";
        QString error;
        QVERIFY2(runFfmpeg({"-i", reference, "-vf",
                            QStringLiteral("scale=%1:%2:flags=bilinear,pad=%3:%4:%5:%6:black")
                                .arg(picture.width())
                                .arg(picture.height())
                                .arg(size.width())
                                .arg(size.height())
                                .arg(picture.x())
                                .arg(picture.y()),
                            "-c:v", "ffv1", "-pix_fmt", "bgr0", fitted},
                           &error),
                 qPrintable(error));
        const QString ours = dir + "/shape-" + tag + ".mp4";
        QByteArray said;
        QCOMPARE(runProgram(KORVEL_BINARY, {"--export", project, ours, "--size", tag}, &said, 280000,
                            {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}),
                 0);
        const QVector<double> psnr = psnrY(ours, fitted, "bt601", &error);
        QVERIFY2(psnr.size() == c.frames, qPrintable(error));
        const double worst = *std::min_element(psnr.begin(), psnr.end());
        qInfo("%s: worst Y PSNR %.1f dB", qPrintable(tag), worst);
        QVERIFY2(worst >= 28.0, qPrintable(QStringLiteral("%1 dB").arg(worst)));
        if (picture.size() == size)
            return;
        // The bars are black (their middle and the far corners; the encoder
        // blurs the edges next to the picture).
        const QImage frame = decodeFrame(ours, 10);
        const QRect bar = picture.y() > 0 ? QRect(0, 0, size.width(), picture.y())
                                          : QRect(0, 0, picture.x(), size.height());
        for (const QPoint& p : {bar.topLeft(), bar.center(), QPoint(size.width() - 1, size.height() - 1)})
            QVERIFY2(qGray(frame.pixel(p)) <= 4, qPrintable(QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y())));
    }

    void coloursSurviveExport_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<QString>("tags");
        const QString hd = "bt709,tv,bt709,bt709", sd = "smpte170m,tv,smpte170m,smpte170m";
        QTest::newRow("sRGB picture") << "colour-patches.png" << QSize(480, 240) << sd;
        QTest::newRow("BT.709 HD") << "colour-bt709.mp4" << QSize(1280, 720) << hd;
        QTest::newRow("BT.601 SD") << "colour-bt601.mp4" << QSize(640, 480) << sd;
        QTest::newRow("full range") << "colour-full.mp4" << QSize(1280, 720) << hd;
        QTest::newRow("untagged HD") << "colour-untagged-hd.mp4" << QSize(1280, 720) << hd;
        QTest::newRow("BT.2020 10-bit") << "colour-bt2020.mkv" << QSize(1280, 720) << hd;
        QTest::newRow("BT.709 10-bit 4:2:2") << "colour-10bit.mkv" << QSize(1280, 720) << hd;
        QTest::newRow("WebM VP9 + Opus") << "colour-vp9.webm" << QSize(640, 480) << sd;
    }
    void coloursSurviveExport() {
        QFETCH(QString, source);
        QFETCH(QSize, canvas);
        QFETCH(QString, tags);
        const QString project = dir + "/colour.zya2";
        QVERIFY(ZyApp::instance()->createProject(project, canvas.width(), canvas.height(), true));
        TimeLineTreeModel* m = tracks();
        const bool picture = source.endsWith(".png");
        ClassifyItem* track = m->header(picture ? SourcePicture : SourceVideo);
        SourceData* clip = m->createFromMaterial(track, media(source), 0);
        QVERIFY(clip);
        track->addSource(clip);
        if (picture)
            QVERIFY(m->trimSource(clip, 0, 15, 0));
        // Each source is as large as its canvas, and so fills it.
        QCOMPARE(clip->previewRect(), QRectF(QPointF(0, 0), QSizeF(canvas)));
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        // Colours are converted in shaders or by FFmpeg's converters,
        // whichever is faster on the machine: both must give the colours.
        for (const char* conversion : {"gpu", "cpu"}) {
            const QString ours = dir + "/colour-" + conversion + ".mp4";
            QByteArray said;
            qputenv("KORVEL_COLOUR_CONVERSION", conversion);
            const int status = runProgram(KORVEL_BINARY, {"--export", project, ours}, &said);
            qunsetenv("KORVEL_COLOUR_CONVERSION");
            QVERIFY2(status == 0, said.right(400).constData());
            QCOMPARE(colourTags(ours), tags);
            const QImage frame = decodeFrame(ours, 5);
            QCOMPARE(frame.size(), canvas);
            // Six patches in two rows of three, read at their centres.
            const QRgb expected[6] = {0xc02020, 0x20c040, 0x3050d0, 0xe0d040, 0x808080, 0x40c0c0};
            for (int i = 0; i < 6; ++i) {
                const QPoint at(canvas.width() * (2 * (i % 3) + 1) / 6, canvas.height() * (2 * (i / 3) + 1) / 4);
                const QColor got = frame.pixelColor(at), want = QColor(expected[i]);
                const int off = std::max({std::abs(got.red() - want.red()), std::abs(got.green() - want.green()),
                                          std::abs(got.blue() - want.blue())});
                QVERIFY2(off <= 3, qPrintable(QStringLiteral("%1 conversion, patch %2: %3 for %4")
                                                  .arg(conversion)
                                                  .arg(i)
                                                  .arg(got.name(), want.name())));
            }
        }
    }

    // A clip raised over a later one ("UpLevel") stays on top in the file
    // exported from the saved project, which a fresh process reads.
    void aRaisedClipStaysOnTopWhenReopened() {
        const QString project = dir + "/stacking.zya2";
        QVERIFY(ZyApp::instance()->createProject(project, 320, 240, true));
        TimeLineTreeModel* m = tracks();
        ClassifyItem* lower = m->header(SourceVideo);
        SourceData* red = m->createFromMaterial(lower, media("export-red-tone.mp4"), 0);
        QVERIFY(red);
        lower->addSource(red);
        ClassifyItem* upper = m->addTrack(lower);
        SourceData* blue = m->createFromMaterial(upper, media("vp9-opus.webm"), 0); // added later: on top
        QVERIFY(blue);
        upper->addSource(blue);
        QVERIFY(m->levelSource(red, 15, true));
        QVERIFY(red->zValue() > blue->zValue());
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        for (const char* conversion : {"gpu", "cpu"}) {
            const QString ours = dir + "/stacking-" + conversion + ".mp4";
            QByteArray said;
            qputenv("KORVEL_COLOUR_CONVERSION", conversion);
            const int status = runProgram(KORVEL_BINARY, {"--export", project, ours, "--to", "30"}, &said);
            qunsetenv("KORVEL_COLOUR_CONVERSION");
            QVERIFY2(status == 0, said.right(400).constData());
            const QColor seen = decodeFrame(ours, 15).pixelColor(160, 120);
            QVERIFY2(seen.red() > 200 && seen.blue() < 60, qPrintable(QString(conversion) + ": " + seen.name()));
        }
    }

    void subtitlePanelEditsShowAtOnce() {
        // A white box on black: each edit in the open panel must show in the
        // preview without the play head moving.
        QVERIFY(ZyApp::instance()->createProject(dir + "/subtitle.zya2", 640, 360, true));
        ClassifyItem* track = tracks()->header(SourceSubtitle);
        SourceData* clip = tracks()->createSubtitle(track, 0, 90, "Hello", QFont("Sans", 20), Qt::white);
        QVERIFY(clip);
        bg::ValueMap look;
        look[tlkey::BackgroundColor] = bg::Value("#ffffff");
        look[tlkey::BackgroundTransparent] = bg::Value(255);
        clip->updateData(MenuSubtitle, look, tlkey::BackgroundColor);
        clip->updateData(MenuSubtitle, look, tlkey::BackgroundTransparent);
        RenderManager* render = ZyApp::instance()->renderManager();
        auto* capture = new Capture(render->scene(), 640, 360, GsOutputRaw::GsFormatRGBA);
        capture->Start();
        emit render->sig_resetFrame(10, EditManual, true);
        // The white part of the picture once it has stayed the same for a
        // second; empty when nothing white shows for 15 s.
        const auto settledBox = [&] {
            QElapsedTimer waited;
            waited.start();
            QRect box, seen;
            int same = 0;
            while (same < 10 && waited.elapsed() < 15000) {
                QTest::qWait(100);
                const QImage shown = capture->take();
                box = QRect();
                for (int y = 0; y < shown.height(); ++y)
                    for (int x = 0; x < shown.width(); ++x)
                        if (qGray(shown.pixel(x, y)) > 200)
                            box |= QRect(x, y, 1, 1);
                same = box == seen && box.width() >= 20 ? same + 1 : 0;
                seen = box;
            }
            return same >= 10 ? box : QRect();
        };
        const QRect first = settledBox();
        QVERIFY(first.width() >= 20);

        auto* item = dynamic_cast<QGraphicsItem*>(clip);
        QVERIFY(item);
        TimeLineGraphicsView* view = window()->timelineWidget()->view();
        const QRectF r = item->sceneBoundingRect();
        const QPoint at = view->mapFromScene(QPointF(r.left() + 20, r.center().y()));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QWidget* panel = window()->resourceWidget()->panel(MenuSubtitle);
        QVERIFY(panel && panel->isVisible());
        const auto finish = [&](const char* name, int value) {
            auto* box = panel->findChild<QSpinBox*>(QLatin1String(name));
            QVERIFY(box);
            box->setValue(value);
            emit box->editingFinished();
        };
        finish("spinBox_y", 40);
        const QRect moved = settledBox();
        QCOMPARE(moved, first.translated(0, 40));
        auto* sizes = panel->findChild<QComboBox*>("comboBox_fontSize");
        sizes->setCurrentIndex(sizes->findText("36"));
        const QRect larger = settledBox();
        QVERIFY2(larger.width() > first.width() && larger.height() > first.height(), "after the font size");
        finish("spinBox_backgroundTransparent", 150);
        const QRect text = settledBox(); // the background is grey now: only the text stays white
        QVERIFY2(!text.isEmpty() && larger.contains(text) && text.height() < larger.height(),
                 "after the background's transparency");
        capture->Stop();
        capture->Release();
    }

    void phoneClipStandsUpright_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("reference"); // ffmpeg's input, turned by ffmpeg
        // Stored 320 x 180 and turned by 90 degrees: a 180 x 320 picture.
        QTest::newRow("video") << "rotated.mp4" << QStringList {"-i", media("rotated.mp4"), "-vf", "null"};
        // Its EXIF tag says so; the reference is the same JPEG without it.
        QTest::newRow("photo") << "phone-photo.jpg"
                               << QStringList {"-loop", "1", "-i", media("phone-photo-sensor.jpg"), "-frames:v", "30",
                                               "-vf", "transpose=clock"};
    }
    void phoneClipStandsUpright() {
        QFETCH(QString, file);
        QFETCH(QStringList, reference);
        const QString project = dir + "/phone.zya2";
        QVERIFY(ZyApp::instance()->createProject(project, 180, 320, true));
        MaterialManager* library = window()->resourceWidget()->manager();
        library->AddMaterialFiles({media(file)}, false);
        QTRY_VERIFY_WITH_TIMEOUT(!window()->resourceWidget()->materialView()->materials().isEmpty() &&
                                     !window()->resourceWidget()->materialView()->materials().first()->preview.isNull(),
                                 30000);
        const QImage thumbnail = window()->resourceWidget()->materialView()->materials().first()->preview;
        QVERIFY2(thumbnail.height() > thumbnail.width(), "the library shows it lying down");
        const bool photo = file.endsWith(".jpg");
        ClassifyItem* track = tracks()->header(photo ? SourcePicture : SourceVideo);
        SourceData* clip = tracks()->createFromMaterial(track, media(file), 0);
        QVERIFY(clip);
        track->addSource(clip);
        if (photo)
            QVERIFY(tracks()->trimSource(clip, 0, 30, 0));
        QCOMPARE(clip->previewRect().size(), QSizeF(180, 320));
        QVERIFY(ZyApp::instance()->saveProject(false, false, project));
        const QString ours = dir + "/phone.mp4", turned = dir + "/phone-reference.mkv";
        QByteArray said;
        QCOMPARE(runProgram(KORVEL_BINARY, {"--export", project, ours}, &said), 0);
        // ffmpeg turns the video by its display matrix itself.
        reference.last() += ",scale=flags=accurate_rnd+full_chroma_int";
        QString error;
        QVERIFY2(runFfmpeg(reference + QStringList {"-an", "-c:v", "ffv1", "-pix_fmt", "bgr0", turned}, &error),
                 qPrintable(error));
        const QVector<double> psnr = psnrY(ours, turned, "bt601", &error);
        QVERIFY2(psnr.size() == 30, qPrintable(error));
        for (int i = 0; i < psnr.size(); ++i)
            QVERIFY2(psnr[i] >= 30.0, qPrintable(QStringLiteral("frame %1: %2 dB").arg(i).arg(psnr[i])));
    }
};

int main(int argc, char** argv) {
    prepareEnvironment("TestRenderEndToEnd");
    requireDisplay();
    const bool child = argc >= 5 && qstrcmp(argv[1], "--window-child") == 0;
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-e2e-%1").arg(getpid()));
    ZyApp app(argc, argv);
    if (child) {
        QStringList args;
        for (int i = 2; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        return windowChild(args);
    }
    TestRenderEndToEnd tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_render_end_to_end.moc"
