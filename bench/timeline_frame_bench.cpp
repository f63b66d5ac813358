// One frame request of the timeline view on a 1,000-clip timeline: the
// requests of 10 tracks built and handed to their preview items, and the
// sound of the frame.
//
//   timeline_frame_bench
#include "timeline/classify-item.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "undo/undo-controller.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int kTracks = 10;
constexpr int kClipsPerTrack = 100;
constexpr int kLength = 60;
constexpr int kRequests = 2000;

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    {
        TimeLineTreeModel model;
        TimeLineGraphicsScene scene;
        scene.setModel(&model);
        TimeLineGraphicsView view(&scene);

        // Four video, three picture and three subtitle tracks.
        const SourceType kinds[kTracks] = {SourceVideo,    SourceVideo,   SourceVideo,   SourceVideo,
                                           SourcePicture,  SourcePicture, SourcePicture, SourceSubtitle,
                                           SourceSubtitle, SourceSubtitle};
        std::vector<ClassifyItem*> tracks;
        for (SourceType kind : kinds) {
            ClassifyItem* header = model.header(kind);
            const bool used = std::find(tracks.begin(), tracks.end(), header) != tracks.end();
            tracks.push_back(used ? model.addTrack(header) : header);
        }
        for (ClassifyItem* track : tracks) {
            SourceData* previous = nullptr;
            for (int i = 0; i < kClipsPerTrack; ++i) {
                SourceData* clip =
                    track->kind() == SourceSubtitle
                        ? model.createSubtitle(track, int64_t(i) * kLength, kLength, "text", QFont(),
                                               Qt::white)
                        : model.createSource(track, int64_t(i) * kLength, kLength, 0, 100000,
                                             "/nonexistent/clip.mp4", QRectF(960, 540, 1920, 1080),
                                             QRect(0, 0, 1920, 1080));
                track->addSource(clip);
                if (previous && track->kind() == SourceVideo && i % 2 == 1)
                    scene.addTransition(previous, clip, "fade");
                previous = clip;
            }
        }
        scene.updateLength();

        // Frames spread over the timeline, half of them inside transitions.
        const int64_t span = int64_t(kClipsPerTrack) * kLength;
        for (int i = 0; i < 50; ++i)
            view.requestFrame((i * 97) % span, 30, EditPlayback);
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kRequests; ++i) {
            view.slot_resetFrame((int64_t(i) * 7919) % span, EditPlayback, false);
            view.requestFrame(view.playHeadFrame(), 30, EditPlayback);
        }
        const double us =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() /
            kRequests;
        std::printf("%-44s %9.1f us   (target < 1000 us) %s\n", "frame request, 10 tracks, 1,000 clips", us,
                    us < 1000.0 ? "ok" : "SLOW");
    }
    zya::UndoController::instance()->reset();
    return 0;
}
