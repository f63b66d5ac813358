// Subtitle files come from anywhere. Whatever the bytes, reading stays
// inside its bounds and gives only cues the timeline can take, and what it
// gives writes out as SubRip that reads back to as many cues at the same
// times.
#include "timeline/subtitle-file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    const subtitles::ParseResult result = subtitles::parse(bytes);
    if (result.cues.size() > subtitles::kMaxCues)
        std::abort();
    for (const subtitles::Cue& cue : result.cues) {
        if (cue.startMs < 0 || cue.endMs < cue.startMs || cue.text.size() > subtitles::kMaxTextChars ||
            cue.text.trimmed().isEmpty())
            std::abort();
    }
    const subtitles::ParseResult again = subtitles::parse(subtitles::writeSrt(result.cues));
    if (again.webVtt || again.cues.size() < result.cues.size())
        std::abort();
    return 0;
}
