// Exporting a 40-second 1080p30 composition (two video tracks with a
// dissolve, a colour adjustment, a picture overlay, a subtitle and mixed
// sound) through "korvel --export", beside the same composition rendered by
// MLT's melt and by one ffmpeg -filter_complex command, and beside ffmpeg
// encoding 40 s of a generated pattern alone. All four use libx264 preset
// veryfast, CRF 23 and AAC 128 kbit/s. Prints wall and CPU seconds.
//
//   scripts/test-env build/rel/bench/export_bench [path to korvel]
#include "main/main-window.h"
#include "main/zyapp.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-widget.h"
#include "undo/undo-controller.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <unistd.h>

namespace {

struct Timing {
    double wall = 0, cpu = 0;
    bool ok = false;
};

double childCpuSeconds() {
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a command to its end; CPU time is what its process tree used.
Timing run(const QString& program, const QStringList& arguments) {
    const double cpuBefore = childCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    Timing t;
    t.ok = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    t.wall = clock.nsecsElapsed() / 1e9;
    t.cpu = childCpuSeconds() - cpuBefore;
    return t;
}

bool ffmpeg(const QStringList& arguments) {
    return run("ffmpeg", QStringList {"-nostdin", "-loglevel", "error", "-y"} + arguments).ok;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir config, work;
    qputenv("KORVEL_CONFIG_DIR", config.path().toUtf8());
    qputenv("KORVEL_STATE_DIR", config.path().toUtf8());
    QCoreApplication::setApplicationName(QStringLiteral("korvel-export-bench-%1").arg(getpid()));
    ZyApp app(argc, argv);
    const QString korvel = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QCoreApplication::applicationDirPath() + "/../bin/korvel";
    if (!app.initialize(false)) {
        std::fprintf(stderr, "no graphics device\n");
        return 1;
    }
    const QString d = work.path();
    // The media: two 1080p30 clips of 22 s with tones, a picture, a music bed.
    if (!ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=22", "-f", "lavfi", "-i",
                 "sine=frequency=440:duration=22", "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                 "-c:a", "aac", "-shortest", d + "/a.mp4"}) ||
        !ffmpeg({"-f", "lavfi", "-i", "smptehdbars=size=1920x1080:rate=30:duration=22", "-f", "lavfi", "-i",
                 "sine=frequency=660:duration=22", "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                 "-c:a", "aac", "-shortest", d + "/b.mp4"}) ||
        !ffmpeg({"-f", "lavfi", "-i", "color=c=orange:size=480x270", "-frames:v", "1", d + "/logo.png"}) ||
        !ffmpeg({"-f", "lavfi", "-i", "sine=frequency=220:duration=40", "-c:a", "libmp3lame", d + "/music.mp3"})) {
        std::fprintf(stderr, "ffmpeg could not make the media\n");
        return 1;
    }

    // The composition, for Korvel: a on 0-22 s, b from 20 s (2 s dissolve), b brightened,
    // the picture over the whole length, a subtitle, the music under it all.
    auto* window = qobject_cast<MainWindow*>(app.mainWindow());
    TimeLineTreeModel* m = window->timelineWidget()->model();
    ClassifyItem* video = m->header(SourceVideo);
    SourceData* a = m->createFromMaterial(video, d + "/a.mp4", 0);
    video->addSource(a);
    SourceData* b = m->createFromMaterial(video, d + "/b.mp4", a->endFrame());
    b->setInitialColors(50, 50, 50, 50, 130, 50);
    video->addSource(b);
    m->addTransition(a, b, "over_cross", 2000, 5);
    ClassifyItem* picture = m->header(SourcePicture);
    SourceData* logo = m->createSource(picture, 0, 1200, 0, 1200, d + "/logo.png", QRectF(600, 300, 480, 270),
                                       QRect(0, 0, 480, 270));
    picture->addSource(logo);
    SourceData* title = m->createSubtitle(m->header(SourceSubtitle), 30, 300, "Korvel export benchmark",
                                          QFont("Sans", 48), Qt::white);
    Q_UNUSED(title);
    SourceData* music = m->createFromMaterial(m->header(SourceAudio), d + "/music.mp3", 0);
    m->header(SourceAudio)->addSource(music);
    const QString project = d + "/bench.zya2";
    QFile(project).open(QIODevice::WriteOnly);
    if (!app.saveProject(false, false, project)) {
        std::fprintf(stderr, "could not save the project\n");
        return 1;
    }
    const double seconds = double(m->allSources().isEmpty() ? 0 : b->endFrame()) / 30.0;
    std::printf("composition: %.1f s of 1080p30\n", seconds);

    const Timing ours = run(korvel, {"--export", project, d + "/korvel.mp4", "--fps", "30"});

    // The same with melt: a and b overlapping by 2 s with a luma mix, b brightened,
    // the picture composited, a text filter, the music mixed in.
    const Timing melt = run("melt", {"-quiet", "-profile", "atsc_1080p_30", d + "/a.mp4", "out=659", d + "/b.mp4",
                                     "out=659", "-mix", "60", "-mixer", "luma", "-mixer", "mix:-1",
                                     "-attach-track", "brightness", "level=1.3", "-track", d + "/logo.png",
                                     "out=1199", "-track", d + "/music.mp3", "out=1199", "-transition",
                                     "composite", "a_track=0", "b_track=1", "geometry=1320/705:480x270",
                                     "-transition", "mix", "a_track=0", "b_track=2", "always_active=1",
                                     "-filter", "dynamictext", "argument=Korvel export benchmark", "in=30",
                                     "out=330", "-consumer", "avformat:" + d + "/melt.mp4", "vcodec=libx264",
                                     "preset=veryfast", "crf=23", "acodec=aac", "ab=128k", "real_time=-2"});

    // The same as one ffmpeg graph.
    const Timing graph = run(
        "ffmpeg",
        {"-nostdin", "-loglevel", "error", "-y", "-i", d + "/a.mp4", "-i", d + "/b.mp4", "-loop", "1", "-i",
         d + "/logo.png", "-i", d + "/music.mp3", "-filter_complex",
         "[1:v]eq=brightness=0.12[bb];[0:v][bb]xfade=transition=fade:duration=2:offset=20[v];"
         "[v][2:v]overlay=1320:705:shortest=1,drawtext=text='Korvel export benchmark':fontcolor=white:"
         "fontsize=64:x=(w-tw)/2:y=h-200:enable='between(t,1,11)'[vout];"
         "[0:a][1:a]acrossfade=d=2[ab];[ab][3:a]amix=inputs=2:duration=first[aout]",
         "-map", "[vout]", "-map", "[aout]", "-t", "40", "-c:v", "libx264", "-preset", "veryfast", "-crf", "23",
         "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k", d + "/graph.mp4"});

    // The encoder alone.
    const Timing encoder = run("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                          "testsrc2=size=1920x1080:rate=30:duration=40", "-f", "lavfi", "-i",
                                          "sine=frequency=440:duration=40", "-c:v", "libx264", "-preset",
                                          "veryfast", "-crf", "23", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a",
                                          "128k", d + "/encoder.mp4"});

    auto row = [](const char* what, const Timing& t) {
        std::printf("%-40s %7.1f s wall  %7.1f s CPU  %s\n", what, t.wall, t.cpu, t.ok ? "" : "(failed)");
    };
    row("korvel --export", ours);
    row("melt", melt);
    row("ffmpeg -filter_complex", graph);
    row("ffmpeg encoder alone (40 s pattern)", encoder);
    std::printf("target: korvel no slower than melt: %s\n", ours.ok && melt.ok && ours.wall <= melt.wall ? "ok" : "NO");
    zya::UndoController::instance()->setClean();
    return 0;
}
