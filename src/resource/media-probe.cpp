#include "resource/media-probe.h"

#include "media/media.h"
#include "value/interface.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace resource {

namespace {

using Clock = std::chrono::steady_clock;

// Shared by the waiting caller and the probe threads; a thread stuck in the
// kernel may outlive the call, so it keeps the state alive itself.
struct ProbeBatch {
    ProbeBatch(const QStringList& files, const std::vector<MediaNeed>& wanted)
        : paths(files), needs(wanted), results(size_t(files.size()), 0), started(size_t(files.size())),
          cancel(std::make_unique<std::atomic<bool>[]>(size_t(files.size()))) {
        for (int i = 0; i < files.size(); ++i)
            cancel[size_t(i)] = false;
    }
    const QStringList paths;
    const std::vector<MediaNeed> needs;
    std::mutex lock; // guards next, results, started, answered, abandoned
    std::condition_variable changed;
    int next = 0;
    std::vector<char> results; // 0 pending, 1 opened, 2 failed
    std::vector<Clock::time_point> started;
    int answered = 0;
    bool abandoned = false; // the caller gave up on the stragglers
    std::unique_ptr<std::atomic<bool>[]> cancel;
};

bool usable(const char* path, MediaNeed need, std::atomic<bool>* cancel) {
    const std::shared_ptr<ff::MovieCtx> info = ff::getMovieInfo(path, cancel);
    if (!info)
        return false;
    int stream = -1;
    switch (need) {
    case MediaNeed::Picture:
        stream = info->bestVideoStream;
        break;
    case MediaNeed::Sound:
        stream = info->bestAudioStream;
        break;
    case MediaNeed::AnyStream:
        stream = info->bestVideoStream >= 0 ? info->bestVideoStream : info->bestAudioStream;
        break;
    }
    if (stream < 0) {
        LOGW("library: %s holds no %s", path, need == MediaNeed::Sound ? "sound" : "picture");
        return false;
    }
    return ff::firstFrameDecodes(path, stream, cancel);
}

void probeLoop(const std::shared_ptr<ProbeBatch>& batch) {
    for (;;) {
        int index;
        {
            std::lock_guard<std::mutex> guard(batch->lock);
            if (batch->abandoned || batch->next >= batch->paths.size())
                return;
            index = batch->next++;
            batch->started[size_t(index)] = Clock::now();
        }
        const QByteArray path = batch->paths.at(index).toUtf8();
        const MediaNeed need = size_t(index) < batch->needs.size() ? batch->needs[size_t(index)] : MediaNeed::AnyStream;
        const bool opened = usable(path.constData(), need, &batch->cancel[size_t(index)]);
        std::lock_guard<std::mutex> guard(batch->lock);
        if (batch->results[size_t(index)] == 0) {
            batch->results[size_t(index)] = opened ? 1 : 2;
            ++batch->answered;
        }
        batch->changed.notify_all();
    }
}

} // namespace

std::vector<bool> probeMediaFiles(const QStringList& paths, const std::vector<MediaNeed>& needs, int timeoutMs) {
    std::vector<bool> opened(size_t(paths.size()), false);
    if (paths.isEmpty())
        return opened;
    auto batch = std::make_shared<ProbeBatch>(paths, needs);
    const int workers = std::max(1, std::min<int>(paths.size(), QThread::idealThreadCount() * 2));
    for (int i = 0; i < workers; ++i)
        std::thread(probeLoop, batch).detach();

    const auto limit = std::chrono::milliseconds(timeoutMs);
    // After a cancel the decoder returns within moments unless the read
    // itself hangs in the kernel; then the file is given up.
    const auto grace = std::chrono::milliseconds(1000);
    std::unique_lock<std::mutex> guard(batch->lock);
    while (batch->answered < paths.size()) {
        batch->changed.wait_for(guard, std::chrono::milliseconds(100));
        const auto now = Clock::now();
        for (int i = 0; i < batch->next; ++i) {
            if (batch->results[size_t(i)] != 0 || now - batch->started[size_t(i)] < limit)
                continue;
            if (!batch->cancel[size_t(i)]) {
                batch->cancel[size_t(i)] = true;
                LOGW("library: probing %s takes too long, given up", qUtf8Printable(paths.at(i)));
            } else if (now - batch->started[size_t(i)] > limit + grace) {
                batch->results[size_t(i)] = 2; // still stuck after the cancel
                ++batch->answered;
                std::thread(probeLoop, batch).detach(); // takes over the stuck worker's share

            }
        }
    }
    batch->abandoned = true;
    for (int i = 0; i < paths.size(); ++i)
        opened[size_t(i)] = batch->results[size_t(i)] == 1;
    return opened;
}

} // namespace resource
