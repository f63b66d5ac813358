// The WAV file a voice-over is recorded into: a RIFF header with the
// capture format, then the samples exactly as captured.
//
// The samples go to the file as they come (no buffer of the writer's own),
// and both sizes of the header are patched about once a second of sound
// while recording and again when the writer is destroyed, so that a
// recording cut short by a crash holds all it was given, and repairSizes()
// makes its header say so. A write the file system refuses (a full disk)
// leaves the file cut back to whole sample frames with sizes that say so,
// and every later write is refused too. Used by one thread at a time (the
// capture side).
#pragma once

#include <cstdint>
#include <cstdio>

namespace wav {

#pragma pack(push, 1)
// The 18-byte base of a format record, little-endian on disk.
struct WaveFormatEx {
    uint16_t formatTag = 0; // 1 integer PCM, 3 IEEE float
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0; // bytes of one sample frame
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0; // bytes of the format record beyond these 18
};
#pragma pack(pop)
static_assert(sizeof(WaveFormatEx) == 18, "WaveFormatEx layout");

class WavEncoder {
public:
    // Results of Init and Write.
    enum Result : int {
        Ok = 0,
        NoFile = 100,
        HeaderWriteFailed = 101,
        ShortWrite = 102,
        SizeLimit = 103,
        NoFormat = 104,
        TruncateFailed = 105,
    };
    // The file grows no further than one byte short of 256 MiB.
    static constexpr int64_t kSizeLimit = 268435456;
    // The header of a format record without extra bytes.
    static constexpr int64_t kPlainHeaderBytes = 28 + 18;

    // Takes over `file` (opened "wb" by the caller) and closes it.
    explicit WavEncoder(FILE* file);
    ~WavEncoder(); // patches the sizes when a header was written, closes the file
    WavEncoder(const WavEncoder&) = delete;
    WavEncoder& operator=(const WavEncoder&) = delete;

    // Writes the header up to the data chunk. `format` is followed in memory
    // by the extraSize bytes it announces.
    int Init(const WaveFormatEx* format);
    // Appends sample bytes.
    int Write(const void* data, int bytes);
    // Cuts the samples back to their first `bytes` (rounded down to whole
    // sample frames) and writes the sizes for it; nothing when the file holds
    // no more than that.
    int Truncate(int64_t bytes);

    bool headerWritten() const { return m_formatSize != 0; }
    // Sample bytes written so far.
    int64_t dataBytes() const { return m_dataBytes; }
    // Bytes before the samples: 28 + the format block.
    int64_t headerBytes() const { return 28 + int64_t(m_formatSize); }

    // A write was refused; the file ends with the last whole sample frame
    // that was written.
    bool failed() const { return m_failed; }

private:
    // Writes both sizes for what is in the file now and returns to its end.
    void patchSizes();

    uint16_t m_blockSize = 0;
    FILE* m_file;
    uint32_t m_formatSize = 0; // F, 0 until the header is written
    uint32_t m_bytesPerSecond = 0;
    int64_t m_dataBytes = 0;
    int64_t m_unpatched = 0; // sample bytes since the sizes were last written
    bool m_failed = false;
};

// Makes the sizes in the header of a file this writer began say what the
// file holds (cut back to whole sample frames): a recording cut off by a
// crash had them patched up to a second earlier. False, with a log line,
// for a file that is not one of ours or cannot be written.
bool repairSizes(const char* path);

} // namespace wav
