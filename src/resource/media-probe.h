// Probing of files being added to the library, off the GUI thread and with
// a time limit, so that a file on a stalled disk cannot freeze the window.
#pragma once

#include <QStringList>

#include <vector>

namespace resource {

// What a file must hold to be of use.
enum class MediaNeed { AnyStream, Picture, Sound };

// Whether the media decoder can open each file and really decode a first
// frame of what it needs (needs[i], AnyStream when missing). Runs the probes
// on a few worker threads; a probe that takes longer than timeoutMs is
// cancelled and counts as failed (with a log line). Returns when every file
// has an answer.
std::vector<bool> probeMediaFiles(const QStringList& paths, const std::vector<MediaNeed>& needs = {},
                                  int timeoutMs = 8000);

} // namespace resource
