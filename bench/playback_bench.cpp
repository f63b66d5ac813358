// Twenty seconds of playback with sound through the real pieces: a 1080p30
// timeline of two video tracks (a fade between two clips on the first, a
// clip over the whole length on the second) and a subtitle, the timeline
// view answering the player, the render manager with its render thread and
// the tracks' preview items decoding on their workers.
//
//   scripts/test-env playback_bench [seconds]
//
// Prints the frames the video preview items took up per second, the sound
// output's underruns and the play head's drift from wall time.
#include "audio/audio-player.h"
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
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kFps = 30;

// Makes a 1080p30 clip with a tone once; later runs reuse it.
bool makeClip(const QString& path, int seconds, int frequency, const char* pattern) {
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
                  QString("%1=size=1920x1080:rate=30:duration=%2").arg(pattern).arg(seconds),
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
                    const QString& path) {
    SourceData* clip = model.createSource(track, start, length, 0, length, path, QRectF(0, 0, 1920, 1080),
                                          QRect(0, 0, 1920, 1080));
    track->addSource(clip);
    return clip;
}

int served(const std::vector<ClassifyItem*>& tracks) {
    int n = 0;
    for (ClassifyItem* t : tracks)
        n += static_cast<VideoPreviewItem*>(t->previewItem())->servedRequests();
    return n;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || qEnvironmentVariableIsEmpty("DISPLAY"))
        std::fprintf(stderr, "warning: run under scripts/test-env for the sound server and the display\n");

    const QString folder = QDir::tempPath() + "/korvel-playback-bench";
    QDir().mkpath(folder);
    const QString a = folder + "/a-1080p30.mp4", b = folder + "/b-1080p30.mp4", c = folder + "/c-1080p30.mp4";
    if (!makeClip(a, 12, 440, "testsrc2") || !makeClip(b, 12, 660, "smptehdbars") ||
        !makeClip(c, 22, 550, "testsrc2"))
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
        addClip(model, v2, 0, 22 * kFps, c);
        ClassifyItem* subtitles = model.header(SourceSubtitle);
        subtitles->addSource(
            model.createSubtitle(subtitles, 0, 24 * kFps, "Korvel playback", QFont(), Qt::white));
        scene.updateLength();
        model.setRenderManager(&render);
        const std::vector<ClassifyItem*> videoTracks = {v1, v2};

        // The first frame on screen, decoders open, before the clock starts.
        view.slot_resetFrame(0, EditManual, true);
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();

        const int64_t frame0 = view.playHeadFrame();
        const int served0 = served(videoTracks);
        const int underflows0 = zya::AudioPlayer::totalUnderflows();
        QElapsedTimer clock;
        clock.start();
        render.setPlaying(true);
        QEventLoop play;
        QObject::connect(&render, &RenderManager::sig_controlPlay, &play, &QEventLoop::quit);
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &play, &QEventLoop::quit);
        play.exec();
        const double elapsed = double(clock.nsecsElapsed()) / 1e9;
        const int64_t advanced = view.playHeadFrame() - frame0;
        const int shown = served(videoTracks) - served0;
        render.setPlaying(false);
        const int underflows = zya::AudioPlayer::totalUnderflows() - underflows0;
        model.setRenderManager(nullptr);

        const double shownPerSecond = double(shown) / videoTracks.size() / elapsed;
        const double drift = (double(advanced) / kFps - elapsed) / elapsed * 100.0;
        std::printf("renderer: %s; played %.2f s, %lld frames\n",
                    GsDevice::DefaultDevice()->Renderer().c_str(), elapsed, static_cast<long long>(advanced));
        std::printf("%-44s %9.1f   (target >= 24) %s\n", "frames shown per second, per video track",
                    shownPerSecond, shownPerSecond >= 24 ? "ok" : "MISSED");
        std::printf("%-44s %9d   (target 0) %s\n", "sound underruns", underflows,
                    underflows == 0 ? "ok" : "MISSED");
        std::printf("%-44s %9.2f %%  (target < 1 %%) %s\n", "play head drift from wall time", drift,
                    std::abs(drift) < 1.0 ? "ok" : "MISSED");
    }
    zya::UndoController::instance()->reset();
    return 0;
}
