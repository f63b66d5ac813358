// Copies a project's media into an archive's "resource" folder: one copy per
// distinct file, a fresh numbered name when a different file of the same
// name is already there, and the copy already there reused when it holds the
// same bytes. Plain functions on files only, so they run on any thread; the
// archive runs them on a pool thread while the GUI thread shows Progress.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>

namespace archive {

constexpr const char* kResourceFolder = "resource";

// Written by the copying thread, read by whoever shows it; every field is
// atomic, so no lock is involved. stop is set by the owner to end the copy
// early (the program is quitting); the file being copied is then dropped.
struct Progress {
    std::atomic<int> filesDone{0};
    std::atomic<int> filesTotal{0};
    std::atomic<int64_t> bytesDone{0};
    std::atomic<int64_t> bytesTotal{0};
    std::atomic<bool> stop{false};
};

struct Failure {
    QString source; // as the project names it
    QString reason;
};

struct CopyResult {
    // Each source path as given -> the absolute path of its copy.
    QHash<QString, QString> copies;
    // Sources without a copy, in the order given.
    QList<Failure> failures;
    // The copies this run wrote (not those it found there and reused).
    QStringList made;
    bool stopped = false; // Progress::stop ended it
};

// "clip.mp4" for n = 1, else "clip (n).mp4"; the suffix is the part after the last dot.
QString numberedName(const QString& fileName, int n);

// True when both files hold the same bytes (the same file counts too).
// Reads them side by side; a file that cannot be read compares unequal.
bool sameContent(const QString& a, const QString& b, Progress* progress = nullptr);

// Copies every distinct file among sources into resourceDir (made when
// missing). Paths naming the same file (through links or "..") share one
// copy; empty paths are ignored. An existing file in resourceDir is never
// overwritten. progress may be null. Any thread.
CopyResult copyMedia(const QStringList& sources, const QString& resourceDir, Progress* progress = nullptr);

} // namespace archive
