// Drawing on demand: a count of the frames asked for and a condition the
// frame cycle's owner sleeps on until the count moves.
#include "graphics.h"

#include <condition_variable>

namespace {

struct FrameRequests {
    std::mutex lock; // guards count
    std::condition_variable changed;
    uint64_t count = 0;
};

// Never destroyed: a process ending while the frame cycle sleeps on the
// condition (exit() from a lost display connection, say) must not destroy it
// under its waiter, which never returns.
FrameRequests& requests() {
    static auto* r = new FrameRequests;
    return *r;
}

} // namespace

void GsRequestFrame() {
    FrameRequests& r = requests();
    {
        std::lock_guard<std::mutex> lock(r.lock);
        ++r.count;
    }
    r.changed.notify_all();
}

uint64_t GsFrameRequests() {
    FrameRequests& r = requests();
    std::lock_guard<std::mutex> lock(r.lock);
    return r.count;
}

uint64_t GsWaitForFrameRequest(uint64_t seen, std::chrono::steady_clock::time_point deadline) {
    FrameRequests& r = requests();
    std::unique_lock<std::mutex> lock(r.lock);
    r.changed.wait_until(lock, deadline, [&] { return r.count != seen; });
    return r.count;
}
