// Saving and opening a project of 1,000 clips with 200 materials and 100
// transitions, through the application's own save and open.
//
//   scripts/test-env build/rel/bench/project_bench
#include "main/main-window.h"
#include "main/zyapp.h"
#include "resource/material-manager.h"
#include "resource/resource-widget.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-widget.h"
#include "undo/undo-controller.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

namespace {

void report(const char* what, double ms, double target) {
    std::printf("%-48s %9.1f ms   (target < %g ms) %s\n", what, ms, target, ms < target ? "ok" : "SLOW");
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir config, work;
    qputenv("KORVEL_CONFIG_DIR", config.path().toUtf8());
    qputenv("KORVEL_STATE_DIR", config.path().toUtf8());
    QCoreApplication::setApplicationName(QStringLiteral("korvel-project-bench-%1").arg(getpid()));
    ZyApp app(argc, argv);
    if (!app.initialize()) {
        std::fprintf(stderr, "no graphics device\n");
        return 1;
    }
    auto* window = qobject_cast<MainWindow*>(app.mainWindow());
    const QString dir = work.path();
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                            "testsrc2=size=640x360:rate=30:duration=20", "-c:v", "libx264", "-preset", "veryfast",
                            "-pix_fmt", "yuv420p", dir + "/v.mp4"});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg could not make the media\n");
        return 1;
    }
    QStringList files;
    for (int i = 0; i < 200; ++i) {
        files << dir + QStringLiteral("/m%1.mp4").arg(i);
        QFile::copy(dir + "/v.mp4", files.last());
    }

    TimeLineTreeModel* model = window->timelineWidget()->model();
    QList<ClassifyItem*> tracks {model->header(SourceVideo)};
    for (int i = 0; i < 9; ++i)
        tracks << model->addTrack(model->header(SourceVideo));
    int transitions = 0;
    for (int t = 0; t < tracks.size(); ++t) {
        SourceData* previous = nullptr;
        for (int i = 0; i < 100; ++i) {
            SourceData* clip = model->createSource(tracks[t], int64_t(i) * 60, 60, 0, 600,
                                                   files[(t * 100 + i) % files.size()], QRectF(0, 0, 640, 360),
                                                   QRect(0, 0, 640, 360));
            tracks[t]->addSource(clip);
            if (previous && transitions < 100 && i % 9 == 0) {
                model->addTransition(previous, clip, "clip_cross");
                ++transitions;
            }
            previous = clip;
        }
    }
    window->resourceWidget()->manager()->AddMaterialFiles(files, false);

    const QString path = dir + "/big.zya2";
    QFile(path).open(QIODevice::WriteOnly); // an existing file: no dialog
    QElapsedTimer clock;
    clock.start();
    const bool saved = app.saveProject(false, false, path);
    const double saveMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    app.clearProject();
    const double clearMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    const bool opened = app.openProject(path);
    QCoreApplication::processEvents(); // the timeline is laid out and painted
    const double openMs = clock.nsecsElapsed() / 1e6;
    if (!saved || !opened || model->allSources().size() != 1000) {
        std::fprintf(stderr, "save %d, open %d, %d clips\n", saved, opened, int(model->allSources().size()));
        return 1;
    }
    // Where the time of an open goes.
    clock.restart();
    {
        MaterialManager probeOnly(nullptr);
        probeOnly.AddMaterialFiles(files, true);
        probeOnly.ClearPendingPreviews();
    }
    const double materialsMs = clock.nsecsElapsed() / 1e6;
    std::printf("  closing the project before (not counted)       %9.1f ms\n", clearMs);
    std::printf("  of which adding the 200 materials back         %9.1f ms\n", materialsMs);
    std::printf("project: 1,000 clips, 200 materials, %d transitions, %lld bytes\n", transitions,
                static_cast<long long>(QFile(path).size()));
    report("save", saveMs, 200);
    report("open (until the timeline is shown)", openMs, 1000);

    // The most clips a project holds, one after another on one track, as a
    // long edit's file has them.
    app.clearProject();
    zya::UndoController::instance()->setClean();
    const QString longPath = dir + "/long.zya2";
    {
        QFile file(longPath);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Tamsel Version=\"2\"><Timeline>"
                   "<classify type=\"2\" row=\"-1\">");
        for (int i = 0; i < 10000; ++i)
            file.write(QStringLiteral("<sourceItem><start>%1</start><duration>30</duration><offset>0</offset>"
                                      "<originalduraion>600</originalduraion><path>%2</path></sourceItem>")
                           .arg(i * 30)
                           .arg(files[i % files.size()])
                           .toUtf8());
        file.write("</classify></Timeline></Tamsel>");
    }
    clock.restart();
    const bool longOpened = app.openProject(longPath);
    QCoreApplication::processEvents();
    const double longMs = clock.nsecsElapsed() / 1e6;
    if (!longOpened || model->allSources().size() != 10000) {
        std::fprintf(stderr, "open %d, %d clips of 10,000\n", longOpened, int(model->allSources().size()));
        return 1;
    }
    report("open 10,000 clips on one track", longMs, 5000);
    zya::UndoController::instance()->setClean();
    return 0;
}
