// Animated WebP files, which FFmpeg's WebP reader does not play (it reads
// none of their frames). libwebp decodes them; each is written once as a
// movie FFmpeg reads, frame for frame and with its alpha, and from then on
// that movie stands in for it wherever media are opened.
#pragma once

#include <atomic>
#include <string>

namespace ff::webp {

// True when the file is a WebP whose header says it is an animation.
bool isAnimation(const char* path);

// The movie that stands for the animation: lossless FFV1 with alpha in
// Matroska, each frame at its own time (a one-frame animation is a PNG),
// in the cache folder under a name made of the file's path, size and
// modification time, so an edited file is converted again. Made at the
// first call; later calls find it. Empty, with a log line, when the file
// cannot be decoded or the movie cannot be written (nothing is left
// behind); empty without one when `cancel` was set.
std::string movieOf(const char* path, std::atomic<bool>* cancel);

} // namespace ff::webp
