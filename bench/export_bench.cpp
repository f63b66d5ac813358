// Exporting a 40-second 1080p30 composition (two clips with a 2 s dissolve,
// a picture with alpha at reduced opacity, a brightened picture, a subtitle
// on a box, and the clips' sound with music under it) through
// "korvel --export" of the saved project, beside the same composition
// rendered by one ffmpeg -filter_complex graph and by MLT's melt, and beside
// ffmpeg encoding 40 s of a generated pattern alone. All use libx264 preset
// veryfast, CRF 23 and AAC 128 kbit/s.
//
// Before any time is printed our file is checked against the ffmpeg graph's
// frame by frame (Y PSNR outside the text box, whose glyphs Qt and FreeType
// draw differently): a black, shifted or short file fails the benchmark.
//
// Beside them, what any exporter must spend at least: decoding the two
// sources alone (ffmpeg -i SRC -f null -) and the encoder alone on a
// pattern of the same length. Each figure is printed beside its target:
// ours at most 0.7 of melt's time and at most 1.4 of decoding plus encoding.
//
// The export's peak memory (its resident set's high-water mark) is printed
// beside its times. Given a second program (an earlier build), that one
// exports the same project too, checked the same way, for a before/after.
//
// With --memory MINUTES it exports a long 640 x 360 composition of that
// many minutes instead and samples the export's resident size every second:
// after the first minute it must stay within 50 MB (checked: the file has
// every frame).
//
//   scripts/test-env build/rel/bench/export_bench [path to korvel] [earlier korvel]
//   scripts/test-env build/rel/bench/export_bench --memory 10 [path to korvel]
//
// With --keep the work folder (the saved project, its media and every
// render) is kept and its path printed, to profile or look at afterwards.
#include "main/zyapp.h"
#include "main/main-window.h"
#include "support/composition.h"
#include "support/reference-render.h"
#include "timeline/timeline-widget.h"
#include "undo/undo-controller.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <unistd.h>

namespace {

struct Timing {
    double wall = 0, cpu = 0;
    long peakKib = 0; // the process's own VmHWM, last read before it ended
    QVector<QPair<double, long>> resident; // (seconds, VmRSS KiB), when sampled
    bool ok = false;
};

// A field of /proc/PID/status in KiB ("VmHWM:", "VmRSS:"); 0 when gone.
long statusKib(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

double childCpuSeconds() {
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a command to its end; CPU time is what its process tree used.
// withoutDisplay: DISPLAY and WAYLAND_DISPLAY are taken from its environment.
// sampleEveryMs: the resident size is recorded that often.
Timing run(const QString& program, const QStringList& arguments, bool withoutDisplay = false,
           int sampleEveryMs = 0) {
    const double cpuBefore = childCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    if (withoutDisplay) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        process.setProcessEnvironment(env);
    }
    process.start(program, arguments);
    Timing t;
    const qint64 pid = process.processId();
    double nextSample = 0;
    while (!process.waitForFinished(50)) {
        if (process.state() == QProcess::NotRunning)
            break;
        t.peakKib = std::max(t.peakKib, statusKib(pid, "VmHWM:"));
        const double now = clock.nsecsElapsed() / 1e9;
        if (sampleEveryMs > 0 && now >= nextSample) {
            t.resident.append({now, statusKib(pid, "VmRSS:")});
            nextSample = now + sampleEveryMs / 1000.0;
        }
    }
    t.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    t.wall = clock.nsecsElapsed() / 1e9;
    t.cpu = childCpuSeconds() - cpuBefore;
    return t;
}

const QStringList kEncode {"-c:v", "libx264", "-preset", "veryfast", "-crf", "23", "-c:a", "aac", "-b:a", "128k"};

// HD video as cameras write it: BT.709, and tagged so.
const QStringList kHdVideo {"-vf", "scale=out_color_matrix=bt709:out_range=tv:flags=accurate_rnd,format=yuv420p",
                            "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709",
                            "-color_range", "tv", "-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-g", "30"};

bool makeMedia(const QString& d) {
    using korvel::test::runFfmpeg;
    QString error;
    const bool ok =
        runFfmpeg(QStringList {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=20", "-f", "lavfi", "-i",
                               "sine=frequency=440:duration=20"} +
                      kHdVideo + QStringList {"-c:a", "aac", "-shortest", d + "/a.mp4"},
                  &error) &&
        runFfmpeg(QStringList {"-f", "lavfi", "-i", "testsrc=size=1920x1080:rate=30:duration=20", "-f", "lavfi", "-i",
                               "sine=frequency=660:duration=20"} +
                      kHdVideo + QStringList {"-c:a", "aac", "-shortest", d + "/b.mp4"},
                  &error) &&
        runFfmpeg({"-f", "lavfi", "-i", "color=c=black:size=480x270,format=rgba", "-vf",
                   "geq=r='X*255/480':g='Y*255/270':b='128':a='if(lt(X,240),255,120)'", "-frames:v", "1",
                   d + "/logo.png"},
                  &error) &&
        runFfmpeg({"-f", "lavfi", "-i", "color=c=black:size=384x216,format=rgb24", "-vf",
                   "geq=r='60+X/3':g='80+Y/3':b='100'", "-frames:v", "1", d + "/patch.png"},
                  &error) &&
        runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=220:duration=40", "-c:a", "pcm_s16le", d + "/music.wav"},
                  &error);
    if (!ok)
        std::fprintf(stderr, "ffmpeg could not make the media: %s\n", qPrintable(error));
    return ok;
}

korvel::test::Composition benchComposition(const QString& d) {
    korvel::test::Composition c;
    c.canvas = QSize(1920, 1080);
    c.clipA = d + "/a.mp4";
    c.clipB = d + "/b.mp4";
    c.cut = 600;
    c.frames = 1200;
    c.dissolveMs = 2000;
    c.logo = {d + "/logo.png", 0, 1200, QRect(600, -300, 480, 270), 200, 0};
    c.patch = {d + "/patch.png", 0, 1200, QRect(-672, -372, 384, 216), 255, 20};
    c.text = QStringLiteral("Korvel export benchmark");
    c.textFrom = 30;
    c.textTo = 330;
    c.textPlace = QRect(0, 360, 1200, 180);
    c.textPixels = 96;
    c.music = d + "/music.wav";
    return c;
}

// Our file against the graph's: every frame there, in order, and alike
// outside the text box. Both are lossy encodes of the same picture.
bool verified(const korvel::test::Composition& c, const QString& ours, const QString& reference) {
    const QVector<double> times = korvel::test::frameTimes(ours);
    if (times.size() != c.frames) {
        std::fprintf(stderr, "FAILED: %d frames instead of %d\n", int(times.size()), c.frames);
        return false;
    }
    QString error;
    const QVector<double> psnr = korvel::test::psnrY(ours, reference, "bt709", &error, c.textBox());
    if (psnr.size() != c.frames) {
        std::fprintf(stderr, "FAILED: no comparison: %s\n", qPrintable(error));
        return false;
    }
    double sum = 0;
    for (double v : psnr)
        sum += std::min(v, 60.0);
    const double average = sum / psnr.size();
    const auto worst = std::min_element(psnr.begin(), psnr.end());
    std::printf("picture check: Y PSNR against the ffmpeg graph %.1f dB on average, %.1f dB at worst (frame %d)\n",
                average, *worst, int(worst - psnr.begin()));
    if (average < 30.0 || *worst < 25.0) {
        std::fprintf(stderr, "FAILED: the exported picture is not the composition\n");
        return false;
    }
    return true;
}

// Decoding each source to nothing, one after the other.
Timing decodeAlone(const QStringList& sources) {
    Timing all;
    all.ok = true;
    for (const QString& source : sources) {
        const Timing t = run("ffmpeg", {"-nostdin", "-loglevel", "error", "-i", source, "-f", "null", "-"});
        all.wall += t.wall;
        all.cpu += t.cpu;
        all.ok = all.ok && t.ok;
    }
    return all;
}

void beside(const char* what, double ratio, double aim) {
    std::printf("%-40s %7.2f  (target %.2f or less: %s)\n", what, ratio, aim, ratio <= aim ? "met" : "NOT met");
}

// The long export: two clips of half the length each, the picture and text
// of the short composition, at 640 x 360.
int memoryRun(ZyApp& app, const QString& korvel, const QString& d, int minutes) {
    using korvel::test::runFfmpeg;
    const int half = minutes * 30;
    QString error;
    for (const char* name : {"a", "b"}) {
        if (!runFfmpeg(QStringList {"-f", "lavfi", "-i",
                                    QStringLiteral("testsrc2=size=640x360:rate=30:duration=%1").arg(half),
                                    "-f", "lavfi", "-i", QStringLiteral("sine=frequency=440:duration=%1").arg(half),
                                    "-c:v", "libx264", "-preset", "ultrafast", "-g", "60", "-pix_fmt", "yuv420p",
                                    "-c:a", "aac", "-shortest", QStringLiteral("%1/e2e-%2.mp4").arg(d, name)},
                       &error)) {
            std::fprintf(stderr, "ffmpeg could not make the media: %s\n", qPrintable(error));
            return 1;
        }
    }
    if (!runFfmpeg({"-f", "lavfi", "-i", "color=c=red:size=160x90,format=rgba", "-frames:v", "1", d + "/e2e-logo.png"},
                   &error) ||
        !runFfmpeg({"-f", "lavfi", "-i", "color=c=blue:size=128x72", "-frames:v", "1", d + "/e2e-patch.png"}, &error)) {
        std::fprintf(stderr, "ffmpeg could not make the pictures: %s\n", qPrintable(error));
        return 1;
    }
    korvel::test::Composition c = korvel::test::Composition::small(d);
    c.cut = half * 30;
    c.frames = 2 * half * 30;
    c.logo.to = c.frames;
    c.patch.to = c.frames;
    const QString project = d + "/long.zya2";
    QString why;
    if (!app.createProject(project, c.canvas.width(), c.canvas.height(), true) ||
        !korvel::test::buildComposition(c, qobject_cast<MainWindow*>(app.mainWindow())->timelineWidget()->model(),
                                         &why) ||
        !app.saveProject(false, false, project)) {
        std::fprintf(stderr, "could not build and save the project %s\n", qPrintable(why));
        return 1;
    }
    zya::UndoController::instance()->setClean();
    const Timing t = run(korvel, {"--export", project, d + "/long.mp4", "--fps", "30"}, true, 1000);
    const int frames = int(korvel::test::frameTimes(d + "/long.mp4").size());
    if (!t.ok || frames != c.frames) {
        std::fprintf(stderr, "FAILED: the long export has %d frames of %d\n", frames, c.frames);
        return 1;
    }
    long low = LONG_MAX, high = 0;
    for (const auto& [at, kib] : t.resident) {
        if (at >= 60 && kib > 0) {
            low = std::min(low, kib);
            high = std::max(high, kib);
        }
    }
    std::printf("%d-minute 640x360 export (checked: %d frames): %.1f s wall, %.1f s CPU\n", minutes, frames, t.wall,
                t.cpu);
    for (int i = 0; i < t.resident.size(); i += 30)
        std::printf("  at %6.0f s: %7.1f MiB resident\n", t.resident[i].first, t.resident[i].second / 1024.0);
    if (high == 0) {
        std::fprintf(stderr, "FAILED: the export ended within its first minute; ask for more minutes\n");
        return 1;
    }
    const double spread = (high - low) / 1024.0;
    std::printf("resident size after the first minute: %.1f to %.1f MiB, spread %.1f MiB (target 50 or less: %s)\n",
                low / 1024.0, high / 1024.0, spread, spread <= 50 ? "met" : "NOT met");
    return spread <= 50 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir config, work;
    qputenv("KORVEL_CONFIG_DIR", config.path().toUtf8());
    qputenv("KORVEL_STATE_DIR", config.path().toUtf8());
    QCoreApplication::setApplicationName(QStringLiteral("korvel-export-bench-%1").arg(getpid()));
    ZyApp app(argc, argv);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.value(0) == "--keep") {
        work.setAutoRemove(false);
        std::printf("the work folder is kept: %s\n", qPrintable(work.path()));
        args.removeFirst();
    }
    int memoryMinutes = 0;
    if (args.value(0) == "--memory") {
        memoryMinutes = args.value(1).toInt();
        args = args.mid(2);
        if (memoryMinutes < 2) {
            std::fprintf(stderr, "--memory takes the minutes to export, 2 or more\n");
            return 1;
        }
    }
    const QString korvel = !args.isEmpty() ? args[0] : QCoreApplication::applicationDirPath() + "/../bin/korvel";
    const QString earlier = args.value(1);
    if (!app.initialize(false)) {
        std::fprintf(stderr, "no graphics device\n");
        return 1;
    }
    const QString d = work.path();
    if (memoryMinutes > 0)
        return memoryRun(app, korvel, d, memoryMinutes);
    if (!makeMedia(d))
        return 1;

    // The project is made and saved here; korvel exports it in a process of its own.
    const korvel::test::Composition c = benchComposition(d);
    const QString project = d + "/bench.zya2";
    QString why;
    if (!app.createProject(project, c.canvas.width(), c.canvas.height(), true) ||
        !korvel::test::buildComposition(c, qobject_cast<MainWindow*>(app.mainWindow())->timelineWidget()->model(),
                                         &why) ||
        !app.saveProject(false, false, project)) {
        std::fprintf(stderr, "could not build and save the project %s\n", qPrintable(why));
        return 1;
    }
    zya::UndoController::instance()->setClean();
    std::printf("composition: %.1f s of 1080p30\n", c.frames / 30.0);

    // Ours runs as on a server, with no display at all.
    const Timing ours = run(korvel, {"--export", project, d + "/korvel.mp4", "--fps", "30"}, true);
    const Timing graph = run("ffmpeg", QStringList {"-nostdin", "-loglevel", "error", "-y"} +
                                           korvel::test::referenceArguments(c, "bt709", true) + kEncode +
                                           QStringList {"-colorspace", "bt709", "-color_primaries", "bt709",
                                                        "-color_trc", "bt709", "-color_range", "tv",
                                                        d + "/graph.mp4"});
    if (!ours.ok || !graph.ok) {
        std::fprintf(stderr, "FAILED: %s did not finish\n", ours.ok ? "the ffmpeg graph" : "korvel --export");
        return 1;
    }
    if (!verified(c, d + "/korvel.mp4", d + "/graph.mp4")) {
        work.setAutoRemove(false);
        std::fprintf(stderr, "both files are kept in %s\n", qPrintable(d));
        return 1;
    }

    // Much the same with melt: the clips overlapping by 2 s with a luma mix,
    // both pictures composited (the second brightened), a text filter and
    // the music mixed in.
    const Timing melt = run(
        "melt", {"-quiet", "-profile", "atsc_1080p_30", d + "/a.mp4", "out=629", d + "/b.mp4", "out=599", "-mix", "60",
                 "-mixer", "luma", "-mixer", "mix:-1", "-track", d + "/logo.png", "out=1199", "-track",
                 d + "/patch.png", "out=1199", "-attach-track", "brightness", "level=1.2", "-track",
                 d + "/music.wav", "out=1199", "-transition", "composite", "a_track=0", "b_track=1",
                 "geometry=1320/105:480x270", "-transition", "composite", "a_track=0", "b_track=2",
                 "geometry=96/96:384x216", "-transition", "mix", "a_track=0", "b_track=3", "always_active=1",
                 "-filter", "dynamictext", "argument=Korvel export benchmark", "in=30", "out=330", "-consumer",
                 "avformat:" + d + "/melt.mp4", "vcodec=libx264", "preset=veryfast", "crf=23", "acodec=aac",
                 "ab=128k", "real_time=-2"});

    // The encoder alone.
    const Timing encoder = run("ffmpeg", QStringList {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                                      "testsrc2=size=1920x1080:rate=30:duration=40", "-f", "lavfi",
                                                      "-i", "sine=frequency=440:duration=40", "-pix_fmt", "yuv420p"} +
                                             kEncode + QStringList {d + "/encoder.mp4"});
    const Timing decoding = decodeAlone({d + "/a.mp4", d + "/b.mp4"});

    auto row = [](const char* what, const Timing& t) {
        std::printf("%-40s %7.1f s wall  %7.1f s CPU  %s\n", what, t.wall, t.cpu, t.ok ? "" : "(failed)");
    };
    row("korvel --export, no display (checked)", ours);
    std::printf("%-40s %7.1f MiB peak resident\n", "korvel --export memory", ours.peakKib / 1024.0);
    if (!earlier.isEmpty()) {
        const Timing before = run(earlier, {"--export", project, d + "/earlier.mp4", "--fps", "30"});
        if (!before.ok || !verified(c, d + "/earlier.mp4", d + "/graph.mp4")) {
            std::fprintf(stderr, "FAILED: the earlier korvel's export is missing or wrong\n");
            return 1;
        }
        row("earlier korvel --export (checked)", before);
        std::printf("%-40s %7.1f MiB peak resident\n", "earlier korvel --export memory", before.peakKib / 1024.0);
    }
    row("ffmpeg -filter_complex", graph);
    row("melt", melt);
    row("ffmpeg encoder alone (40 s pattern)", encoder);
    row("ffmpeg decoding the two sources alone", decoding);
    if (melt.ok) {
        // melt's render is only much the same composition: say how much of it there is.
        std::printf("melt wrote %d frames, korvel %d\n", int(korvel::test::frameTimes(d + "/melt.mp4").size()),
                    int(korvel::test::frameTimes(d + "/korvel.mp4").size()));
        beside("korvel / melt (wall)", ours.wall / melt.wall, 0.7);
    } else {
        std::printf("melt did not run (not installed?): no comparison with it\n");
    }
    if (encoder.ok && decoding.ok)
        beside("korvel / (decoding + encoder) (wall)", ours.wall / (decoding.wall + encoder.wall), 1.4);
    return 0;
}
