// Value texts come from project files on users' disks. Whatever the bytes,
// reading must not crash or touch memory outside its buffers, and whatever
// reads successfully must write a text that reads back to the same text.
#include "values/value-init.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

template <typename V>
void checkRoundTrip(const char* text) {
    V value;
    if (!value.read(text))
        return;
    std::string written = value.write();
    V again;
    if (!again.read(written.c_str()) && !again.isNull())
        std::abort();
    // "<variant>" and "<null>" forms aside, the canonical text is stable.
    if (again.write() != written)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size); // adds the terminating NUL
    checkRoundTrip<bg::Value>(text.c_str());
    checkRoundTrip<bg::ValueQt>(text.c_str());
    checkRoundTrip<bg::ValueQtG>(text.c_str());
    return 0;
}
