// The tag that says how a photo stands is read from the first bytes of any
// JPEG the user imports, where anything may be written. Whatever the bytes,
// reading must stay inside them and answer one of the eight ways a picture
// can stand.
#include "media/av-util.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ff::av::Upright upright = ff::av::jpegUpright(data, size);
    if (upright.degrees != 0 && upright.degrees != 90 && upright.degrees != 180 && upright.degrees != 270)
        std::abort();
    return 0;
}
