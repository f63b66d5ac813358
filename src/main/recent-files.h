// The desktop's list of recently used files ($XDG_DATA_HOME/recently-used.xbel,
// the freedesktop bookmark file that file choosers and docks read). Korvel
// adds the projects the user opens and saves, beside the Works list.
//
// The file belongs to every program of the session: entries of others are
// copied through unchanged, the file is replaced atomically, and a file that
// cannot be parsed is never rewritten. GUI thread (or any one thread at a time).
#pragma once

#include <QString>

namespace recent {

// The most bookmarks Korvel alone keeps in the file; older ones of its own go.
constexpr int kMaxOwnEntries = 20;

// $XDG_DATA_HOME/recently-used.xbel ($HOME/.local/share when unset).
QString defaultFile();

// Adds path (a project file) to the list in xbelFile, or refreshes its entry:
// its modified and visited times become now and Korvel's use count grows.
// False (with a log line, the file left as it was) when the file cannot be
// read, parsed or written.
bool addProject(const QString& path, const QString& xbelFile = defaultFile());

} // namespace recent
