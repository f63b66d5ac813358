// Twenty seconds of playback with sound through the real pieces: a 1080p30
// timeline of two video tracks (a dissolve between two clips on the first, a
// picture-in-picture over the whole length on the second) and a subtitle,
// the timeline view answering the player, the render manager with its render
// thread, the tracks' preview items decoding on their workers, and the
// preview window the pictures are presented into.
//
//   scripts/test-env playback_bench [seconds]
//
// Prints how long the sound took to start after play was pressed, then,
// timed from there, the distinct pictures the window presented per second,
// how far each new picture was from the sound being heard when it reached
// the window (and which pictures were off by more than 20 ms), the sound
// output's underruns, the play head's drift from wall time and what an idle
// preview draws. Before printing it checks that the presented frames
// only went forward and that the second clip's colour is on the screen.
#include "audio/audio-player.h"
#include "render/audio/sound-clock.h"
#include "render/display-window.h"
#include "render/preview-item.h"
#include "render/render-manager.h"
#include "timeline/classify-item.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-units.h"
#include "timeline/timeline-view.h"
#include "undo/undo-controller.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kFps = 30;

// The second clip's colour, checked on the screen at the end.
const QColor kBlue(0x20, 0x60, 0xc0);

// Makes a 1080p30 clip with a tone once; later runs reuse it. `source` is a
// lavfi source with its options so far ("testsrc2=", "color=c=red:").
bool makeClip(const QString& path, int seconds, int frequency, const char* source) {
    if (QFileInfo(path).size() > 0)
        return true;
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start("ffmpeg",
                 {"-nostdin",
                  "-hide_banner",
                  "-loglevel",
                  "error",
                  "-y",
                  "-f",
                  "lavfi",
                  "-i",
                  QString("%1size=1920x1080:rate=30:duration=%2").arg(source).arg(seconds),
                  "-f",
                  "lavfi",
                  "-i",
                  QString("sine=frequency=%1:sample_rate=44100:duration=%2").arg(frequency).arg(seconds),
                  "-c:v",
                  "libx264",
                  "-preset",
                  "ultrafast",
                  "-g",
                  "30",
                  "-pix_fmt",
                  "yuv420p",
                  "-c:a",
                  "aac",
                  "-b:a",
                  "128k",
                  "-shortest",
                  path + ".part.mp4"});
    if (!ffmpeg.waitForFinished(600000) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(path));
        return false;
    }
    return QFile::rename(path + ".part.mp4", path);
}

SourceData* addClip(TimeLineTreeModel& model, ClassifyItem* track, int64_t start, int64_t length,
                    const QString& path, const QRectF& place = QRectF(0, 0, 1920, 1080)) {
    SourceData* clip = model.createSource(track, start, length, 0, length, path, place, QRect(0, 0, 1920, 1080));
    track->addSource(clip);
    return clip;
}

int served(const std::vector<ClassifyItem*>& tracks) {
    int n = 0;
    for (ClassifyItem* t : tracks)
        n += static_cast<VideoPreviewItem*>(t->previewItem())->servedRequests();
    return n;
}

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || qEnvironmentVariableIsEmpty("DISPLAY"))
        std::fprintf(stderr, "warning: run under scripts/test-env for the sound server and the display\n");

    const QString folder = QDir::tempPath() + "/korvel-playback-bench";
    QDir().mkpath(folder);
    const QString a = folder + "/a-1080p30.mp4", b = folder + "/b-blue-1080p30.mp4", c = folder + "/c-1080p30.mp4";
    if (!makeClip(a, 12, 440, "testsrc2=") ||
        !makeClip(b, 12, 660, qPrintable(QString("color=c=%1:").arg(kBlue.name()))) ||
        !makeClip(c, 22, 550, "testsrc2="))
        return 1;

    {
        RenderManager render;
        if (!render.init()) {
            std::fprintf(stderr, "no graphics device\n");
            return 1;
        }
        timeline::overrideDpiScale(1.0);
        TimeLineTreeModel model;
        TimeLineGraphicsScene scene;
        scene.setModel(&model);
        TimeLineGraphicsView view(&scene);
        view.resize(1200, 300);
        // As the application wires them: the player's requests reach the
        // view, the view's sound goes back on the asking thread.
        QObject::connect(&render, &RenderManager::sig_frontFrameRequest, &view,
                         &TimeLineGraphicsView::slot_frontFrameRequest);
        QObject::connect(&view, &TimeLineGraphicsView::sig_deliverAudio, &render,
                         &RenderManager::deliverAudio, Qt::DirectConnection);

        ClassifyItem* v1 = model.header(SourceVideo);
        ClassifyItem* v2 = model.addTrack(v1);
        SourceData* first = addClip(model, v1, 0, 12 * kFps, a);
        SourceData* second = addClip(model, v1, 12 * kFps, 12 * kFps, b);
        scene.addTransition(first, second, "fade"); // frames 330 to 390
        // In the canvas's top left quarter, whichever track is on top.
        addClip(model, v2, 0, 22 * kFps, c, QRectF(-480, -270, 960, 540));
        ClassifyItem* subtitles = model.header(SourceSubtitle);
        subtitles->addSource(
            model.createSubtitle(subtitles, 0, 24 * kFps, "Korvel playback", QFont(), Qt::white));
        scene.updateLength();
        model.setRenderManager(&render);
        const std::vector<ClassifyItem*> videoTracks = {v1, v2};

        // The preview window: the canvas at half size, fitting the window.
        ZyeDisplayWindow display;
        display.resize(960, 540);
        display.setScene(render.scene());
        display.show();
        QElapsedTimer waited;
        waited.start();
        while (!display.view() && waited.elapsed() < 10000)
            wait(20);
        if (!display.view()) {
            std::fprintf(stderr, "FAILED: the preview window made no view\n");
            return 1;
        }
        display.view()->setZoom(0.5);

        // The first frame on screen, decoders open, before the clock starts.
        view.slot_resetFrame(0, EditManual, true);
        wait(500);
        ZyeGsView* screen = display.view();
        const size_t before = screen->presented().size();

        // Playback waits for a sink that is slow to start (the null sink
        // may first finish a block of up to two seconds): timing begins
        // once the sound is heard, and the wait is printed on its own.
        const int underflows0 = zya::AudioPlayer::totalUnderflows();
        QElapsedTimer startWait;
        startWait.start();
        render.setPlaying(true);
        while (!SoundClock::instance().running() && startWait.elapsed() < 10000)
            wait(2);
        const qint64 startMs = startWait.elapsed();
        const int64_t frame0 = view.playHeadFrame();
        const int served0 = served(videoTracks);
        const int cycles0 = render.renderThread()->cycles();
        const int64_t cycleTime0 = render.renderThread()->cycleTimeUs();
        const auto timed = std::chrono::steady_clock::now();
        QElapsedTimer clock;
        clock.start();
        QEventLoop play;
        QObject::connect(&render, &RenderManager::sig_controlPlay, &play, &QEventLoop::quit);
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &play, &QEventLoop::quit);
        play.exec();
        const double elapsed = double(clock.nsecsElapsed()) / 1e9;
        const int64_t advanced = view.playHeadFrame() - frame0;
        const int decoded = served(videoTracks) - served0;
        const int cycles = render.renderThread()->cycles() - cycles0;
        const double cycleMs = cycles > 0 ? double(render.renderThread()->cycleTimeUs() - cycleTime0) / cycles / 1000.0 : 0;
        render.setPlaying(false);
        const int underflows = zya::AudioPlayer::totalUnderflows() - underflows0;

        // What reached the window while playing.
        std::vector<ZyeGsView::Presented> all = screen->presented();
        std::vector<ZyeGsView::Presented> shown(all.begin() + std::min(before, all.size()), all.end());
        shown.erase(std::remove_if(shown.begin(), shown.end(),
                                   [&](const ZyeGsView::Presented& p) { return p.at < timed; }),
                    shown.end());
        const auto started = shown.empty() ? std::chrono::steady_clock::now() : shown.front().at;
        int backwards = 0;
        std::vector<double> offsets; // ms, + when the picture comes after its sound
        std::string outside;         // the pictures off by more than 20 ms: when, which frame, how far
        for (size_t i = 0; i < shown.size(); ++i) {
            if (i > 0 && shown[i].frame <= shown[i - 1].frame)
                ++backwards;
            // The first second is the start: the sound output settles.
            if (shown[i].clocked && shown[i].at - started > std::chrono::seconds(1)) {
                offsets.push_back(double(shown[i].heardUs - shown[i].frame * 1000000 / kFps) / 1000.0);
                if (std::abs(offsets.back()) > 20 && outside.size() < 400)
                    outside += QString(" %1 s frame %2 %3 ms;")
                                   .arg(std::chrono::duration<double>(shown[i].at - started).count(), 0, 'f', 2)
                                   .arg(shown[i].frame)
                                   .arg(offsets.back(), 0, 'f', 1)
                                   .toStdString();
            }
        }
        double mean = 0, worst = 0;
        for (double o : offsets) {
            mean += o / double(offsets.size());
            if (std::abs(o) > std::abs(worst))
                worst = o;
        }

        // An idle preview draws nothing; the last picture shows the second clip.
        wait(500);
        const int presentsBefore = screen->presents();
        wait(2000);
        const int idlePresents = screen->presents() - presentsBefore;
        const int64_t lastFrame = shown.empty() ? -1 : shown.back().frame;
        bool colourChecked = false, colourRight = false;
        QColor seen;
        if (lastFrame >= 13 * kFps) {
            const QImage grab = display.surface()->screen()->grabWindow(display.surface()->winId()).toImage();
            // A point of the canvas in its top right quarter (x 0.8, y 0.3).
            const QPoint at(int(grab.width() / 2 + 0.3 * 960), int(grab.height() / 2 - 0.2 * 540));
            colourChecked = grab.rect().contains(at);
            if (colourChecked) {
                seen = grab.pixelColor(at);
                colourRight = std::abs(seen.red() - kBlue.red()) <= 16 && std::abs(seen.green() - kBlue.green()) <= 16 &&
                              std::abs(seen.blue() - kBlue.blue()) <= 16;
            }
        }
        model.setRenderManager(nullptr);

        if (shown.size() < 2 || backwards > 0 || offsets.empty() || (colourChecked && !colourRight)) {
            std::fprintf(stderr,
                         "FAILED: %zu pictures presented, %d went back, %zu clocked; colour at the end %s "
                         "(want %s)\n",
                         shown.size(), backwards, offsets.size(), qPrintable(seen.name()), qPrintable(kBlue.name()));
            return 1;
        }
        if (!colourChecked)
            std::printf("(the colour check needs at least 14 s of playback)\n");

        const double span = double(std::chrono::duration_cast<std::chrono::microseconds>(shown.back().at - started).count()) / 1e6;
        const double picturesPerSecond = span > 0 ? double(shown.size() - 1) / span : 0;
        const double decodedPerSecond = double(decoded) / double(videoTracks.size()) / elapsed;
        const double drift = (double(advanced) / kFps - elapsed) / elapsed * 100.0;
        std::printf("renderer: %s; played %.2f s, %lld frames; %zu pictures presented, frames %lld to %lld, "
                    "only forward; the second clip's colour %s on screen\n",
                    GsDevice::DefaultDevice()->Renderer().c_str(), elapsed, static_cast<long long>(advanced),
                    shown.size(), static_cast<long long>(shown.front().frame), static_cast<long long>(lastFrame),
                    colourChecked ? qPrintable(seen.name()) : "not checked");
        std::printf("%-48s %9lld ms (for reference; the sink's start)\n", "sound heard after pressing play",
                    static_cast<long long>(startMs));
        std::printf("%-48s %9.1f   (target >= 25) %s\n", "pictures presented per second", picturesPerSecond,
                    picturesPerSecond >= 25 ? "ok" : "MISSED");
        std::printf("%-48s %9.1f ms (target within +-20) %s\n", "picture - sound offset, mean", mean,
                    std::abs(mean) <= 20 ? "ok" : "MISSED");
        std::printf("%-48s %9.1f ms (target within +-20) %s\n", "picture - sound offset, worst", worst,
                    std::abs(worst) <= 20 ? "ok" : "MISSED");
        std::vector<double> sizes;
        for (double o : offsets)
            sizes.push_back(std::abs(o));
        std::sort(sizes.begin(), sizes.end());
        const double within = double(std::count_if(sizes.begin(), sizes.end(), [](double o) { return o <= 20; })) /
                              double(sizes.size()) * 100.0;
        std::printf("%-48s %9.1f ms (for reference; %.1f %% within +-20)\n", "picture - sound offset, 95th percentile",
                    sizes[sizes.size() * 95 / 100], within);
        if (!outside.empty())
            std::printf("pictures outside +-20 ms (after the start, when, frame, offset):%s\n", outside.c_str());
        std::printf("%-48s %9d   (target 0) %s\n", "sound underruns", underflows, underflows == 0 ? "ok" : "MISSED");
        std::printf("%-48s %9.2f %%  (target < 1 %%) %s\n", "play head drift from wall time", drift,
                    std::abs(drift) < 1.0 ? "ok" : "MISSED");
        std::printf("%-48s %9.1f   (for reference)\n", "frames decoded per second, per video track", decodedPerSecond);
        std::printf("%-48s %9.1f   (for reference; %.1f ms each)\n", "render cycles per second",
                    double(cycles) / elapsed, cycleMs);
        std::printf("%-48s %9d   (target 0) %s\n", "pictures presented in 2 s of idle preview", idlePresents,
                    idlePresents == 0 ? "ok" : "MISSED");
    }
    zya::UndoController::instance()->reset();
    return 0;
}
