#include "render/record/wav-encoder.h"

#include "value/interface.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace wav {

namespace {

void putLittle32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

bool writeLittle32(FILE* file, long offset, uint32_t value) {
    uint8_t bytes[4];
    putLittle32(bytes, value);
    return std::fseek(file, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, file) == 4;
}

} // namespace

WavEncoder::WavEncoder(FILE* file) : m_file(file) {
    // Straight to the file: a refused write is seen at once, and a crash
    // loses nothing that was handed over.
    if (m_file)
        std::setvbuf(m_file, nullptr, _IONBF, 0);
}

WavEncoder::~WavEncoder() {
    if (!m_file)
        return;
    if (headerWritten())
        patchSizes();
    std::fclose(m_file);
}

int WavEncoder::Init(const WaveFormatEx* format) {
    if (!format)
        return NoFormat;
    if (!m_file)
        return NoFile;
    const uint32_t formatSize = uint32_t(format->extraSize) + 18;
    // The record as it lies in memory, each field little-endian on disk.
    std::vector<uint8_t> record(formatSize);
    std::memcpy(record.data(), format, formatSize);
    const uint16_t fields16[] = {format->formatTag, format->channels};
    for (int i = 0; i < 2; ++i) {
        record[size_t(2 * i)] = uint8_t(fields16[i]);
        record[size_t(2 * i + 1)] = uint8_t(fields16[i] >> 8);
    }
    putLittle32(&record[4], format->samplesPerSec);
    putLittle32(&record[8], format->avgBytesPerSec);
    const uint16_t tail16[] = {format->blockAlign, format->bitsPerSample, format->extraSize};
    for (int i = 0; i < 3; ++i) {
        record[size_t(12 + 2 * i)] = uint8_t(tail16[i]);
        record[size_t(13 + 2 * i)] = uint8_t(tail16[i] >> 8);
    }
    uint8_t size[4];
    putLittle32(size, formatSize);
    if (std::fwrite("RIFF    WAVEfmt ", 1, 16, m_file) != 16 || std::fwrite(size, 1, 4, m_file) != 4 ||
        std::fwrite(record.data(), 1, formatSize, m_file) != formatSize ||
        std::fwrite("data    ", 1, 8, m_file) != 8)
        return HeaderWriteFailed;
    m_blockSize = format->blockAlign;
    m_bytesPerSecond = format->avgBytesPerSec;
    m_formatSize = formatSize;
    // A file with the header and no sound yet is already a valid one.
    patchSizes();
    return Ok;
}

int WavEncoder::Write(const void* data, int bytes) {
    if (!m_file)
        return NoFile;
    if (m_failed)
        return ShortWrite;
    if (bytes <= 0)
        return Ok;
    const int64_t position = headerBytes() + m_dataBytes;
    int64_t room = kSizeLimit - 1 - position;
    int result = Ok;
    int64_t toWrite = bytes;
    if (position + bytes >= kSizeLimit) {
        if (m_blockSize > 0)
            room -= room % m_blockSize; // whole sample frames only
        toWrite = std::max<int64_t>(0, room);
        result = SizeLimit;
    }
    const size_t written = toWrite > 0 ? std::fwrite(data, 1, size_t(toWrite), m_file) : 0;
    m_dataBytes += int64_t(written);
    m_unpatched += int64_t(written);
    if (int64_t(written) != toWrite) {
        const int error = errno;
        LOGE("wav: a write was refused after %lld bytes of samples: %s", static_cast<long long>(m_dataBytes),
             std::strerror(error));
        m_failed = true;
        std::clearerr(m_file);
        // Part of a sample frame may have gone in: the file ends whole.
        const int64_t whole = m_blockSize > 0 ? m_dataBytes - m_dataBytes % m_blockSize : m_dataBytes;
        if (whole != m_dataBytes && ::ftruncate(fileno(m_file), off_t(headerBytes() + whole)) != 0)
            LOGW("wav: cannot cut the samples back to whole frames: %s", std::strerror(errno));
        else
            m_dataBytes = whole;
        if (headerWritten())
            patchSizes();
        return ShortWrite;
    }
    if (result == SizeLimit)
        m_failed = true;
    if (headerWritten() && m_unpatched >= std::max<int64_t>(m_bytesPerSecond, 1))
        patchSizes();
    return result;
}

int WavEncoder::Truncate(int64_t bytes) {
    if (!m_file)
        return NoFile;
    if (!headerWritten())
        return NoFormat;
    bytes = std::max<int64_t>(0, bytes);
    if (m_blockSize > 0)
        bytes -= bytes % m_blockSize;
    if (bytes >= m_dataBytes)
        return Ok;
    if (std::fflush(m_file) != 0 || ::ftruncate(fileno(m_file), off_t(headerBytes() + bytes)) != 0) {
        LOGW("wav: cannot cut the samples back to %lld bytes", static_cast<long long>(bytes));
        std::fseek(m_file, 0, SEEK_END);
        return TruncateFailed;
    }
    m_dataBytes = bytes;
    patchSizes(); // also returns to the new end
    return Ok;
}

bool repairSizes(const char* path) {
    FILE* file = std::fopen(path, "r+b");
    if (!file) {
        LOGW("wav: %s cannot be opened to repair: %s", path, std::strerror(errno));
        return false;
    }
    uint8_t head[36] = {};
    const auto little16 = [&head](int at) { return uint32_t(head[at]) | uint32_t(head[at + 1]) << 8; };
    const auto little32 = [&head](int at) {
        return uint32_t(head[at]) | uint32_t(head[at + 1]) << 8 | uint32_t(head[at + 2]) << 16 |
               uint32_t(head[at + 3]) << 24;
    };
    bool ok = std::fread(head, 1, sizeof head, file) == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
              std::memcmp(head + 8, "WAVEfmt ", 8) == 0;
    const uint32_t formatSize = ok ? little32(16) : 0;
    const uint32_t block = ok ? little16(32) : 0;
    char tag[4] = {};
    ok = ok && formatSize >= 16 && formatSize < 1024 && block > 0 &&
         std::fseek(file, long(20 + formatSize), SEEK_SET) == 0 && std::fread(tag, 1, 4, file) == 4 &&
         std::memcmp(tag, "data", 4) == 0 && std::fseek(file, 0, SEEK_END) == 0;
    const long end = ok ? std::ftell(file) : -1;
    const int64_t header = 28 + int64_t(formatSize);
    if (!ok || end < header || end >= WavEncoder::kSizeLimit) {
        LOGW("wav: %s is not a recording this program began; left as it is", path);
        std::fclose(file);
        return false;
    }
    const int64_t data = (end - header) - (end - header) % block;
    ok = (data == end - header || ::ftruncate(fileno(file), off_t(header + data)) == 0) &&
         writeLittle32(file, 4, uint32_t(header + data - 8)) &&
         writeLittle32(file, long(24 + formatSize), uint32_t(data));
    if (std::fclose(file) != 0 || !ok) {
        LOGW("wav: the sizes of %s cannot be written", path);
        return false;
    }
    return true;
}

void WavEncoder::patchSizes() {
    m_unpatched = 0;
    const int64_t fileSize = headerBytes() + m_dataBytes;
    // Flushed first, so that the sizes never claim bytes still in a buffer.
    if (std::fflush(m_file) != 0 || !writeLittle32(m_file, 4, uint32_t(fileSize - 8)) ||
        !writeLittle32(m_file, long(24 + m_formatSize), uint32_t(fileSize - headerBytes())) ||
        std::fflush(m_file) != 0) {
        LOGW("wav: cannot write the header sizes");
    }
    std::fseek(m_file, 0, SEEK_END);
}

} // namespace wav
