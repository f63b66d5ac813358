// Where the value library keeps its files.
#pragma once

#include <string>

namespace bg {

// Folder of the configuration store: $KORVEL_CONFIG_DIR, else
// $XDG_CONFIG_HOME/Korvel, else ~/.config/Korvel.
std::string configDirectory();
// Folder of the log and crash files: $KORVEL_STATE_DIR, else
// $XDG_STATE_HOME/Korvel, else ~/.local/state/Korvel.
std::string stateDirectory();
// Folder of files that can always be made again (previews, waveforms,
// converted media): $KORVEL_CACHE_DIR, else $XDG_CACHE_HOME/Korvel, else
// ~/.cache/Korvel.
std::string cacheDirectory();
// Creates the folder and its parents; true when it exists afterwards.
bool makeDirectory(const std::string& path);

} // namespace bg
