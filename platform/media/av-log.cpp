// FFmpeg's own messages in the program's log: with their level, the class
// of the context that speaks ("[mov,mp4,... @ 0x...]") and, where the
// context knows it, the file it concerns. A damaged file can make a decoder
// complain on every frame, so each kind of message has a budget per window
// of time; what goes over it is counted and said once.
#include "av-util.h"

#include "media.h"
#include "value/interface.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace ff::av {

namespace {

constexpr int64_t kWindowUs = 10 * 1000 * 1000;
constexpr int kPerKindInWindow = 20;  // lines alike (same words and file)
constexpr int kAllInWindow = 200;     // lines of any kind
constexpr size_t kKindsKept = 256;
constexpr size_t kPathsNamed = 4096;  // files whose codec contexts name them
constexpr size_t kLineMax = 2048;

struct Budget {
    std::mutex mutex;
    int64_t windowStart = 0;
    int inWindow = 0;
    int leftOut = 0;
    std::map<std::string, int> kinds;
};

Budget& budget() {
    static auto* b = new Budget;
    return *b;
}

// FFmpeg writes a line in pieces at times; the pieces of one thread's line
// are joined before it is logged.
thread_local int t_printPrefix = 1;
thread_local std::string t_pending;

// The file a context reads or writes: a format context's url, a codec
// context's opaque (set by openDecoder), or its parent's.
const char* pathOf(void* avcl, int depth = 0) {
    if (!avcl || depth > 2)
        return nullptr;
    const AVClass* cls = *static_cast<const AVClass* const*>(avcl);
    if (!cls)
        return nullptr;
    if (cls == avformat_get_class()) {
        const auto* format = static_cast<const AVFormatContext*>(avcl);
        return format->url && *format->url ? format->url : nullptr;
    }
    if (cls == avcodec_get_class())
        return static_cast<const char*>(static_cast<const AVCodecContext*>(avcl)->opaque);
    if (cls->parent_log_context_offset > 0) {
        void* parent = *reinterpret_cast<void**>(static_cast<char*>(avcl) + cls->parent_log_context_offset);
        if (parent != avcl)
            return pathOf(parent, depth + 1);
    }
    return nullptr;
}

// The kind of a line: its words with numbers and addresses blotted out,
// and its file.
std::string kindOf(const std::string& message, const char* path) {
    std::string kind;
    kind.reserve(message.size());
    const auto digit = [&message](size_t i) { return std::isdigit(static_cast<unsigned char>(message[i])) != 0; };
    for (size_t i = 0; i < message.size();) {
        if (message.compare(i, 2, "0x") == 0) {
            kind += '@';
            for (i += 2; i < message.size() && std::isxdigit(static_cast<unsigned char>(message[i])); ++i) {
            }
        } else if (digit(i)) {
            kind += '#';
            for (; i < message.size() && digit(i); ++i) {
            }
        } else {
            kind += message[i++];
        }
    }
    if (path)
        kind += '|' + std::string(path);
    return kind;
}

void emit(int level, const std::string& text) {
    switch (level) {
    case bg::LOG_ERROR:
        LOGE("ffmpeg: %s", text.c_str());
        break;
    case bg::LOG_WARNING:
        LOGW("ffmpeg: %s", text.c_str());
        break;
    default:
        LOGD("ffmpeg: %s", text.c_str());
        break;
    }
}

void logLine(int level, std::string message, void* avcl) {
    // Control characters from a damaged file's tags stay out of the log.
    for (char& c : message) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
        else if (c == '"')
            c = '\'';
    }
    const char* path = pathOf(avcl);
    const std::string kind = kindOf(message, path);
    if (path && message.find(path) == std::string::npos)
        message += std::string(" (in ") + path + ")";

    std::vector<std::pair<int, std::string>> lines;
    {
        Budget& b = budget();
        std::lock_guard<std::mutex> lock(b.mutex);
        const int64_t now = av_gettime_relative();
        if (now - b.windowStart > kWindowUs) {
            if (b.leftOut > 0)
                lines.emplace_back(bg::LOG_WARNING, std::to_string(b.leftOut) +
                                                        " messages were left out in the last seconds (too many alike)");
            b.windowStart = now;
            b.inWindow = 0;
            b.leftOut = 0;
            b.kinds.clear();
        }
        int* seen = nullptr;
        auto it = b.kinds.find(kind);
        if (it != b.kinds.end())
            seen = &it->second;
        else if (b.kinds.size() < kKindsKept)
            seen = &b.kinds[kind];
        const int count = seen ? ++*seen : kPerKindInWindow + 1;
        if (count > kPerKindInWindow || b.inWindow >= kAllInWindow) {
            ++b.leftOut;
            if (count == kPerKindInWindow + 1)
                lines.emplace_back(bg::LOG_WARNING, "more messages like this are left out for a while: " + message);
        } else {
            ++b.inWindow;
            lines.emplace_back(level, std::move(message));
        }
    }
    for (const auto& line : lines)
        emit(line.first, line.second);
}

void logCallback(void* avcl, int level, const char* fmt, va_list args) {
    int ours;
    if (level <= AV_LOG_ERROR)
        ours = bg::LOG_ERROR;
    else if (level <= AV_LOG_WARNING)
        ours = bg::LOG_WARNING;
    else if (level <= AV_LOG_INFO && bg::iface()->debugLogging())
        ours = bg::LOG_DEBUG;
    else
        return; // FFmpeg's verbose, debug and trace lines are never wanted
    char piece[1024];
    va_list copy;
    va_copy(copy, args);
    av_log_format_line2(avcl, level, fmt, copy, piece, sizeof piece, &t_printPrefix);
    va_end(copy);
    if (t_pending.size() < kLineMax)
        t_pending.append(piece, std::min(std::strlen(piece), kLineMax - t_pending.size()));
    if (!t_printPrefix)
        return; // the line goes on in the next piece
    std::string message;
    message.swap(t_pending);
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back())))
        message.pop_back();
    if (!message.empty())
        logLine(ours, std::move(message), avcl);
}

} // namespace

void installLogHook() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(logCallback); });
}

const char* namedPath(const char* path) {
    if (!path || !*path)
        return nullptr;
    static std::mutex mutex;
    // Kept for the life of the process: a codec context may log after its
    // owner's copy of the path is gone.
    static auto* paths = new std::set<std::string>;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = paths->find(path);
    if (it != paths->end())
        return it->c_str();
    if (paths->size() >= kPathsNamed)
        return nullptr;
    return paths->insert(path).first->c_str();
}

} // namespace ff::av

namespace ff {

void installMediaLog() { av::installLogHook(); }

} // namespace ff
