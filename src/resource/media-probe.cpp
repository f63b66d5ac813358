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
        : paths(files), needs(wanted), results(size_t(files.size()), 0), verdicts(size_t(files.size())), started(size_t(files.size())),
          cancel(std::make_unique<std::atomic<bool>[]>(size_t(files.size()))) {
        for (int i = 0; i < files.size(); ++i)
            cancel[size_t(i)] = false;
    }
    const QStringList paths;
    const std::vector<MediaNeed> needs;
    std::mutex lock; // guards next, results, verdicts, started, answered, abandoned
    std::condition_variable changed;
    int next = 0;
    std::vector<char> results; // 0 pending, 1 answered
    std::vector<MediaVerdict> verdicts;
    std::vector<Clock::time_point> started;
    int answered = 0;
    bool abandoned = false; // the caller gave up on the stragglers
    std::unique_ptr<std::atomic<bool>[]> cancel;
};

MediaVerdict failed(MediaVerdict::Failure failure) {
    MediaVerdict verdict;
    verdict.failure = failure;
    return verdict;
}

MediaVerdict probeOne(const char* path, MediaNeed need, std::atomic<bool>* cancel) {
    ff::MediaProblem problem = ff::MediaProblem::None;
    const std::shared_ptr<ff::MovieCtx> info = ff::getMovieInfo(path, cancel, &problem);
    if (!info) {
        switch (problem) {
        case ff::MediaProblem::NoStream:
            return failed(MediaVerdict::NoStream);
        case ff::MediaProblem::TooLarge:
            return failed(MediaVerdict::TooLarge);
        case ff::MediaProblem::Cancelled:
            return failed(MediaVerdict::TimedOut);
        default:
            return failed(MediaVerdict::NotMedia);
        }
    }
    const int picture = need == MediaNeed::Sound ? -1 : info->bestVideoStream;
    const int sound = need == MediaNeed::Picture ? -1 : info->bestAudioStream;
    if (picture < 0 && sound < 0) {
        LOGW("library: %s holds no %s", path, need == MediaNeed::Sound ? "sound" : "picture");
        return failed(MediaVerdict::NoStream);
    }
    // The picture decides the kind; a file whose picture will not decode is
    // still of use for its sound.
    if (picture >= 0 && ff::firstFrameDecodes(path, picture, cancel))
        return {info->stillPicture ? MediaVerdict::Still : MediaVerdict::Moving, MediaVerdict::Fine};
    if (sound >= 0 && !(cancel && cancel->load()) && ff::firstFrameDecodes(path, sound, cancel))
        return {MediaVerdict::Sound, MediaVerdict::Fine};
    return failed(cancel && cancel->load() ? MediaVerdict::TimedOut : MediaVerdict::NoDecode);
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
        const MediaVerdict verdict = probeOne(path.constData(), need, &batch->cancel[size_t(index)]);
        std::lock_guard<std::mutex> guard(batch->lock);
        if (batch->results[size_t(index)] == 0) {
            batch->results[size_t(index)] = 1;
            batch->verdicts[size_t(index)] = verdict;
            ++batch->answered;
        }
        batch->changed.notify_all();
    }
}

} // namespace

const char* unusableReasonKey(MediaVerdict::Failure failure) {
    switch (failure) {
    case MediaVerdict::NoStream:
        return "material_view.NoStream";
    case MediaVerdict::TooLarge:
        return "material_view.TooLarge";
    case MediaVerdict::NoDecode:
        return "material_view.NoDecode";
    case MediaVerdict::TimedOut:
        return "material_view.TimedOut";
    default:
        return "material_view.NotMedia";
    }
}

std::vector<bool> probeMediaFiles(const QStringList& paths, const std::vector<MediaNeed>& needs, int timeoutMs) {
    const std::vector<MediaVerdict> verdicts = probeMedia(paths, needs, timeoutMs);
    std::vector<bool> opened(verdicts.size(), false);
    for (size_t i = 0; i < verdicts.size(); ++i)
        opened[i] = verdicts[i].usable();
    return opened;
}

std::vector<MediaVerdict> probeMedia(const QStringList& paths, const std::vector<MediaNeed>& needs, int timeoutMs) {
    std::vector<MediaVerdict> verdicts(size_t(paths.size()));
    if (paths.isEmpty())
        return verdicts;
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
                batch->results[size_t(i)] = 1; // still stuck after the cancel
                batch->verdicts[size_t(i)] = failed(MediaVerdict::TimedOut);
                ++batch->answered;
                std::thread(probeLoop, batch).detach(); // takes over the stuck worker's share

            }
        }
    }
    batch->abandoned = true;
    verdicts = batch->verdicts;
    return verdicts;
}

} // namespace resource
