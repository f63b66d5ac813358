// Adding 200 local media files to the library (videos, pictures and sound):
// how long the call takes, how long until every preview is made, and the
// longest the GUI thread's event loop stood still meanwhile.
//
//   material_bench
#include "resource/material-manager.h"
#include "undo/undo-controller.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

class CountingListener : public MaterialListener {
public:
    ~CountingListener() override { qDeleteAll(latest); }
    void OnMaterialChanged(const QList<MaterialData*>& materials) override {
        qDeleteAll(latest);
        latest = materials;
    }
    int withPreview() const {
        return int(std::count_if(latest.begin(), latest.end(), [](const MaterialData* m) { return !m->preview.isNull(); }));
    }
    QList<MaterialData*> latest;
};

bool ffmpeg(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList {"-nostdin", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(60000) && p.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString d = dir.path();
    if (!ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=10", "-f", "lavfi", "-i",
                 "sine=frequency=440:duration=10", "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                 "-c:a", "aac", "-shortest", d + "/v.mp4"}) ||
        !ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1920x1080", "-frames:v", "1", d + "/p.png"}) ||
        !ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=30", "-c:a", "libmp3lame", d + "/s.mp3"})) {
        std::fprintf(stderr, "ffmpeg could not make the media\n");
        return 1;
    }
    QStringList files;
    for (int i = 0; i < 200; ++i) {
        const char* kind = i % 3 == 0 ? "v.mp4" : (i % 3 == 1 ? "p.png" : "s.mp3");
        const QString name = d + QStringLiteral("/m%1-").arg(i) + QLatin1String(kind);
        QFile::copy(d + QLatin1Char('/') + QLatin1String(kind), name);
        files << name;
    }

    CountingListener listener;
    MaterialManager library(&listener);
    // The event loop's pulse: the longest gap between two 5 ms ticks.
    QElapsedTimer pulse;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, pulse.restart());
    });

    QElapsedTimer clock;
    clock.start();
    library.AddMaterialFiles(files, false);
    const qint64 returned = clock.elapsed();
    pulse.start();
    ticker.start();
    while (listener.withPreview() < files.size() && clock.elapsed() < 120000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 previews = clock.elapsed();
    ticker.stop();

    std::printf("%-44s %7lld ms   (target < 2000 ms) %s\n", "AddMaterialFiles(200 files) returns", returned,
                returned < 2000 ? "ok" : "SLOW");
    std::printf("%-44s %7lld ms   (%d of %d)\n", "every preview made", previews, listener.withPreview(),
                int(files.size()));
    std::printf("%-44s %7lld ms   (the GUI thread never waits on a preview)\n",
                "longest event-loop gap while previews come", longestGap);
    zya::UndoController::instance()->reset();
    return 0;
}
