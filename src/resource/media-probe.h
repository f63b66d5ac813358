// Probing of files being added to the library, off the GUI thread and with
// a time limit, so that a file on a stalled disk cannot freeze the window.
#pragma once

#include <QStringList>

#include <vector>

namespace resource {

// What a file must hold to be of use.
enum class MediaNeed { AnyStream, Picture, Sound };

// What probing found: the kind of media the file holds, or why it is of no use.
struct MediaVerdict {
    enum Kind { None, Still, Moving, Sound };
    enum Failure { Fine, NotMedia, NoStream, TooLarge, NoDecode, TimedOut };
    Kind kind = None;
    Failure failure = NotMedia;
    bool usable() const { return kind != None; }
};
// The translation key that tells the user why a file is of no use.
const char* unusableReasonKey(MediaVerdict::Failure failure);

// Whether the media decoder can open each file and really decode a first
// frame of what it needs (needs[i], AnyStream when missing). Runs the probes
// on a few worker threads; a probe that takes longer than timeoutMs is
// cancelled and counts as failed (with a log line). Returns when every file
// has an answer.
std::vector<bool> probeMediaFiles(const QStringList& paths, const std::vector<MediaNeed>& needs = {},
                                  int timeoutMs = 8000);
// The same probe, telling what each file holds: a picture that decodes
// makes it a still or a moving picture (GIFs and videos, with or without
// sound), else sound that decodes makes it sound. Needs narrow it as above.
std::vector<MediaVerdict> probeMedia(const QStringList& paths, const std::vector<MediaNeed>& needs = {},
                                     int timeoutMs = 8000);

} // namespace resource
