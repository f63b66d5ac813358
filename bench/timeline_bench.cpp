// The timeline with 1,000 clips: writing and reading its project section,
// laying out a track, and one drag step with 50 clips selected; and with
// 10,000 clips, the look-up of what lies under the pointer that every click
// and hover makes.
//
//   timeline_bench
#include "timeline/classify-item.h"
#include "timeline/source-item.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "undo/undo-controller.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

constexpr int kClips = 1000;
constexpr int kSelected = 50;
constexpr int kSteps = 200;

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

struct Timeline {
    TimeLineTreeModel model;
    TimeLineGraphicsScene scene;
    Timeline() { scene.setModel(&model); }
    ~Timeline() { zya::UndoController::instance()->reset(); } // removed clips go before the model
};

void report(const char* what, double ms, double target) {
    std::printf("%-44s %9.3f ms   (target < %g ms) %s\n", what, ms, target, ms < target ? "ok" : "SLOW");
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir config; // never the user's settings
    qputenv("KORVEL_CONFIG_DIR", config.path().toUtf8());
    QApplication app(argc, argv);
    timeline::overrideDpiScale(1.0);

    auto source = std::make_unique<Timeline>();
    ClassifyItem* video = source->model.header(SourceVideo);
    for (int i = 0; i < kClips; ++i) {
        SourceData* clip = source->model.createSource(video, int64_t(i) * 15, 10, 2, 1000, "/media/clip.mp4",
                                                      QRectF(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080));
        video->addSource(clip);
    }

    auto t0 = std::chrono::steady_clock::now();
    QString text;
    {
        QXmlStreamWriter w(&text);
        w.writeStartElement("Timeline");
        source->model.writeTimeline(w);
        w.writeEndElement();
    }
    report("write the section (1,000 clips)", msSince(t0), 300);

    auto copy = std::make_unique<Timeline>();
    t0 = std::chrono::steady_clock::now();
    {
        QXmlStreamReader r(text);
        r.readNextStartElement();
        copy->model.readTimeline(r);
    }
    report("read the section (1,000 clips)", msSince(t0), 300);
    if (copy->model.header(SourceVideo)->sources().size() != kClips) {
        std::fprintf(stderr, "read %d clips, wanted %d\n", int(copy->model.header(SourceVideo)->sources().size()),
                     kClips);
        return 1;
    }
    copy.reset();

    t0 = std::chrono::steady_clock::now();
    video->layout();
    report("lay out the track, nothing to push", msSince(t0), 300);

    // The first clip grows over its neighbours: every later clip is pushed.
    SourceData* first = video->sources().first();
    first->writeSource(video, 0, 20000, first->offset(), true);
    t0 = std::chrono::steady_clock::now();
    video->layout();
    report("lay out the track, all 999 pushed", msSince(t0), 300);

    TimeLineGraphicsScene& scene = source->scene;
    scene.slot_setAutoAlign(true); // the dearer case: every step looks for edges
    QList<SourceItem*> picked;
    for (int i = 0; i < kSelected; ++i) {
        auto* item = qobject_cast<SourceItem*>(video->sources().at(i * (kClips / kSelected)));
        item->setSelected(true);
        picked.append(item);
    }
    const QPointF grab = picked.first()->pos() + QPointF(10, 10);
    scene.slot_pressItems(grab);
    t0 = std::chrono::steady_clock::now();
    for (int i = 1; i <= kSteps; ++i)
        scene.slot_moveItems(grab + QPointF(i * 7.0, 0));
    report("one drag step, 50 clips selected", msSince(t0) / kSteps, 5);
    t0 = std::chrono::steady_clock::now();
    scene.slot_releaseItems(grab + QPointF(kSteps * 7.0, 0));
    report("release: commit 50 moves and lay out", msSince(t0), 300);
    source.reset();

    // A project as large as they come: what lies under the pointer.
    auto large = std::make_unique<Timeline>();
    ClassifyItem* track = large->model.header(SourceVideo);
    for (int i = 0; i < 10000; ++i) {
        SourceData* clip = large->model.createSource(track, int64_t(i) * 15, 10, 2, 1000, "/media/clip.mp4",
                                                     QRectF(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080));
        track->addSource(clip);
    }
    const QPointF over = qobject_cast<SourceItem*>(track->sources().at(5000))->pos() + QPointF(10, 10);
    if (large->scene.items(over).isEmpty()) {
        std::fprintf(stderr, "no clip under the pointer\n");
        return 1;
    }
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
        large->scene.items(over + QPointF(i % 7, 0));
    report("what lies under the pointer, 10,000 clips", msSince(t0) / 100, 2);
    large.reset();
    zya::UndoController::destroyInstance();
    return 0;
}
