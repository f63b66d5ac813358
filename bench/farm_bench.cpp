// The farm render against one whole export: a 2-minute project (a moving
// test pattern with its sound, 30 fps) exported whole, farm-rendered with
// "--engine local --segments 2", and with "--engine slurm --segments 4" on
// a one-node cluster (scripts/slurm-cluster, root only). Each farm file is
// checked against the whole export (frame count, and the Y PSNR of every
// 60th frame) before any time is printed; the jobs' own logs give the time
// spent in each part and in the join, from which an hour of 1080p on N
// machines is projected.
//
//   scripts/test-env build/rel/bench/farm_bench [WxH, default 1920x1080] [seconds, default 120]
#include "main/main-window.h"
#include "main/zyapp.h"
#include "render/render-manager.h"
#include "support/reference-render.h"
#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-widget.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kFps = 30;

struct Run {
    QString name;
    QString file;
    QString work;
    int segments = 1;
    double wall = 0;
    double join = 0;       // the join job's own time
    double segmentMax = 0; // the slowest part's own time
    double segmentSum = 0;
    double sound = 0;
    bool ok = false;
};

double runTimed(const QString& program, const QStringList& arguments, bool* ok) {
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, arguments);
    *ok = p.waitForStarted(30000) && p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit &&
          p.exitCode() == 0;
    return double(clock.elapsed()) / 1000.0;
}

// "NAME: ... after 12.34 s" from a job's log.
double jobTime(const QString& log) {
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression after(QStringLiteral("after ([0-9.]+) s"));
    const QRegularExpressionMatch m = after.match(QString::fromUtf8(f.readAll()));
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

QByteArray output(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(-1);
    return p.readAllStandardOutput();
}

int frameCount(const QString& file) {
    return output("ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                              "stream=nb_read_packets", "-of", "csv=p=0", file})
        .trimmed()
        .toInt();
}

// The lowest Y PSNR over every 60th frame of ours against the same frames of reference.
double sampledPsnr(const QString& ours, const QString& reference, int* compared) {
    QTemporaryDir temp;
    const QString stats = temp.path() + "/psnr.txt";
    const QString pick = QStringLiteral("select='not(mod(n\\,60))',setpts=N/30/TB");
    *compared = 0;
    if (!korvel::test::runFfmpeg({"-i", ours, "-i", reference, "-lavfi",
                                  QStringLiteral("[0:v]%1[a];[1:v]%1[b];[a][b]psnr=stats_file=%2").arg(pick, stats),
                                  "-f", "null", "-"}))
        return 0;
    QFile f(stats);
    double lowest = 1000;
    static const QRegularExpression y(QStringLiteral("psnr_y:(\\S+)"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QRegularExpressionMatch m = y.match(QString::fromLatin1(line));
            if (m.hasMatch()) {
                ++*compared;
                lowest = std::min(lowest, m.captured(1) == "inf" ? 100.0 : m.captured(1).toDouble());
            }
        }
    return lowest;
}

} // namespace

int main(int argc, char** argv) {
    const QString size = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("1920x1080");
    const int seconds = argc > 2 ? std::max(10, atoi(argv[2])) : 120;
    const int width = size.section('x', 0, 0).toInt(), height = size.section('x', 1, 1).toInt();
    if (width < 16 || height < 16) {
        std::fprintf(stderr, "farm_bench: %s is no picture size\n", argv[1]);
        return 2;
    }
    QCoreApplication::setApplicationName(QStringLiteral("korvel-farm-bench-%1").arg(getpid()));
    ZyApp app(argc, argv);
    if (!app.initialize()) {
        std::fprintf(stderr, "farm_bench: the editor could not start (no display?)\n");
        return 1;
    }
    QTemporaryDir dir(QDir::tempPath() + "/korvel-farm-bench-XXXXXX");
    const QString korvel = QCoreApplication::applicationDirPath() + "/../bin/korvel";
    const QString source = dir.path() + "/source.mp4";
    QString error;
    if (!korvel::test::runFfmpeg({"-f", "lavfi", "-i",
                                  QStringLiteral("testsrc2=size=%1:rate=30:duration=%2").arg(size).arg(seconds), "-f",
                                  "lavfi", "-i", QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
                                  "-c:v", "libx264", "-preset", "ultrafast", "-crf", "18", "-pix_fmt", "yuv420p",
                                  "-c:a", "aac", "-ac", "2", source},
                                 &error)) {
        std::fprintf(stderr, "farm_bench: the source could not be made: %s\n", qPrintable(error));
        return 1;
    }
    auto* window = qobject_cast<MainWindow*>(app.mainWindow());
    TimeLineTreeModel* tracks = window->timelineWidget()->model();
    app.renderManager()->setSceneSize(width, height, false);
    ClassifyItem* video = tracks->header(SourceVideo);
    video->addSource(tracks->createFromMaterial(video, source, 0));
    const QString project = dir.path() + "/farm.zya2";
    QFile(project).open(QIODevice::WriteOnly);
    if (!app.saveProject(false, false, project)) {
        std::fprintf(stderr, "farm_bench: the project could not be saved\n");
        return 1;
    }
    const QStringList look {"--keyint", "30"};

    Run whole {"whole export", dir.path() + "/whole.mp4", QString(), 1};
    whole.wall = runTimed(korvel, QStringList {"--export", project, whole.file} + look, &whole.ok);
    const int frames = frameCount(whole.file);
    if (!whole.ok || frames != seconds * kFps) {
        std::fprintf(stderr, "farm_bench: the whole export failed or holds %d frames\n", frames);
        return 1;
    }
    whole.segmentMax = whole.segmentSum = whole.wall;

    QVector<Run> runs;
    runs << Run {"local, 2 segments", dir.path() + "/local.mp4", dir.path() + "/local.work", 2};
    QString cluster;
    if (getuid() == 0) {
        cluster = dir.path() + "/slurm";
        if (QProcess::execute(QStringLiteral(KORVEL_SOURCE_DIR "/scripts/slurm-cluster"), {"start", cluster}) == 0) {
            qputenv("SLURM_CONF", (cluster + "/slurm.conf").toLocal8Bit());
            runs << Run {"slurm, 4 segments", dir.path() + "/slurm.mp4", dir.path() + "/slurm.work", 4};
        } else {
            std::fprintf(stderr, "farm_bench: the one-node Slurm cluster did not start; its run is left out\n");
            cluster.clear();
        }
    } else {
        std::fprintf(stderr, "farm_bench: not root: the Slurm run is left out\n");
    }
    bool allOk = true;
    for (Run& r : runs) {
        const QString engine = r.name.startsWith("slurm") ? "slurm" : "local";
        r.wall = runTimed(korvel,
                          QStringList {"--farm", project, r.file, "--segments", QString::number(r.segments),
                                       "--engine", engine, "--work", r.work, "--wait"} +
                              look,
                          &r.ok);
        r.join = jobTime(r.work + "/join.log");
        r.sound = jobTime(r.work + "/sound.log");
        for (int i = 0; i < r.segments; ++i) {
            const double t = jobTime(r.work + QStringLiteral("/segment-%1.log").arg(i, 3, 10, QLatin1Char('0')));
            r.segmentMax = std::max(r.segmentMax, t);
            r.segmentSum += t;
        }
        int compared = 0;
        const int count = r.ok ? frameCount(r.file) : 0;
        const double psnr = r.ok ? sampledPsnr(r.file, whole.file, &compared) : 0;
        if (!r.ok || count != frames || compared < frames / 60 || psnr < 40.0) {
            std::fprintf(stderr, "farm_bench: %s is wrong: status %s, %d frames of %d, lowest PSNR %.1f dB over %d\n",
                         qPrintable(r.name), r.ok ? "ok" : "failed", count, frames, psnr, compared);
            allOk = false;
        } else {
            std::fprintf(stderr, "farm_bench: %s checked: %d frames, lowest Y PSNR %.1f dB over %d sampled frames\n",
                         qPrintable(r.name), count, psnr, compared);
        }
    }
    if (!cluster.isEmpty())
        QProcess::execute(QStringLiteral(KORVEL_SOURCE_DIR "/scripts/slurm-cluster"), {"stop", cluster});
    if (!allOk)
        return 1;

    const QByteArray load = output("uptime", {}).trimmed();
    std::printf("farm_bench: %d s of %s at %d fps (%d frames), %d CPUs; %s\n", seconds, qPrintable(size), kFps,
                frames, QThread::idealThreadCount(), load.constData());
    std::printf("  %-20s %9s %9s %12s %12s %9s\n", "run", "wall s", "join s", "slowest part", "parts summed",
                "sound s");
    std::printf("  %-20s %9.1f %9s %12.1f %12.1f %9s\n", qPrintable(whole.name), whole.wall, "-", whole.wall,
                whole.wall, "-");
    for (const Run& r : runs)
        std::printf("  %-20s %9.1f %9.1f %12.1f %12.1f %9.1f\n", qPrintable(r.name), r.wall, r.join, r.segmentMax,
                    r.segmentSum, r.sound);
    // The projection: a machine makes its part at the whole export's pace
    // here (all its cores on one export), scaled to 1080p by pixels where
    // the run was smaller; the join grows with the whole length. A part's
    // fixed start (opening the project) is left out: seconds against hours.
    const Run& base = runs.last();
    const double pixels = double(1920 * 1080) / double(width * height);
    const double perFrame = whole.wall / frames * pixels;
    const double joinPerFrame = base.join / frames;
    const int hour = 3600 * kFps;
    std::printf("projection, an hour of 1080p30 (%d frames): %.3f s a frame on one machine%s, join %.4f s a frame\n", hour,
                perFrame, pixels > 1.01 ? " (scaled by pixels)" : "", joinPerFrame);
    for (int machines : {1, 4, 16, 64}) {
        const double parts = perFrame * hour / machines;
        const double join = joinPerFrame * hour;
        std::printf("  %3d machines: parts %7.0f s + join %5.0f s = %7.0f s (%.1f h)\n", machines, parts, join,
                    parts + join, (parts + join) / 3600.0);
    }
    return 0;
}
