// What an editor costs while nothing happens: a real korvel process opens a
// project (a 1080p clip, a subtitle) on the display and is left alone; the
// CPU time it uses over a minute is read from /proc/<pid>/stat.
//
//   scripts/test-env idle_bench [path/to/korvel] [seconds]
//
// Before timing it checks that the process came up with the project and is
// still running at the end.
#include "main/main-window.h"
#include "main/zyapp.h"
#include "support/reference-render.h"
#include "timeline/classify-item.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-widget.h"
#include "undo/undo-controller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// User plus system time of a process, in clock ticks; -1 when it is gone.
long long cpuTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name is in parentheses and may hold spaces: count fields
    // from the closing one. utime and stime are fields 14 and 15.
    const int close = line.lastIndexOf(')');
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields[11].toLongLong() + fields[12].toLongLong();
}

void idle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir config, work, childConfig;
    qputenv("KORVEL_CONFIG_DIR", config.path().toUtf8());
    qputenv("KORVEL_STATE_DIR", config.path().toUtf8());
    QCoreApplication::setApplicationName(QStringLiteral("korvel-idle-bench-%1").arg(getpid()));
    ZyApp app(argc, argv);
    const QString korvel = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QCoreApplication::applicationDirPath() + "/../bin/korvel";
    const int seconds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 60;
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        std::fprintf(stderr, "warning: run under scripts/test-env for the display\n");
    if (!app.initialize(false)) {
        std::fprintf(stderr, "no graphics device\n");
        return 1;
    }
    const QString d = work.path();
    const QString clip = d + "/clip.mp4";
    QString error;
    if (!korvel::test::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=10", "-f", "lavfi",
                                  "-i", "sine=frequency=440:duration=10", "-c:v", "libx264", "-preset", "ultrafast",
                                  "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", clip},
                                 &error)) {
        std::fprintf(stderr, "ffmpeg could not make the clip: %s\n", qPrintable(error));
        return 1;
    }
    const QString project = d + "/idle.zya2";
    TimeLineTreeModel* model = qobject_cast<MainWindow*>(app.mainWindow())->timelineWidget()->model();
    bool built = app.createProject(project, 1920, 1080, true);
    if (built) {
        ClassifyItem* video = model->header(SourceVideo);
        SourceData* source = model->createFromMaterial(video, clip, 0);
        built = source != nullptr;
        if (built)
            video->addSource(source);
        ClassifyItem* subtitles = model->header(SourceSubtitle);
        subtitles->addSource(model->createSubtitle(subtitles, 0, 300, "Idle", QFont(), Qt::white));
        built = built && app.saveProject(false, false, project);
    }
    if (!built) {
        std::fprintf(stderr, "could not build and save the project\n");
        return 1;
    }
    zya::UndoController::instance()->setClean();

    QProcess editor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KORVEL_CONFIG_DIR", childConfig.path());
    env.insert("KORVEL_STATE_DIR", childConfig.path());
    env.insert("USER", QStringLiteral("korvel-idle-bench-%1").arg(getpid())); // its own single-instance guard
    editor.setProcessEnvironment(env);
    editor.setProcessChannelMode(QProcess::MergedChannels);
    editor.start(korvel, {project});
    if (!editor.waitForStarted(10000)) {
        std::fprintf(stderr, "FAILED: %s did not start\n", qPrintable(korvel));
        return 1;
    }
    // Up, the project open, its first pictures drawn and the decoders settled.
    idle(10000);
    const QByteArray log = editor.readAll();
    const long long t0 = cpuTicks(editor.processId());
    QElapsedTimer wall;
    wall.start();
    idle(seconds * 1000);
    const long long t1 = cpuTicks(editor.processId());
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    const bool alive = editor.state() == QProcess::Running && t0 >= 0 && t1 >= 0;
    editor.terminate();
    if (!editor.waitForFinished(10000))
        editor.kill();
    if (!alive) {
        std::fprintf(stderr, "FAILED: the editor ended early:\n%s\n", log.constData());
        return 1;
    }
    const double percent = double(t1 - t0) / double(sysconf(_SC_CLK_TCK)) / elapsed * 100.0;
    std::printf("editor with a project open, left alone %.0f s\n", elapsed);
    std::printf("%-44s %9.2f %%  (target < 1 %% of one core) %s\n", "CPU while idle", percent,
                percent < 1.0 ? "ok" : "MISSED");
    return 0;
}
