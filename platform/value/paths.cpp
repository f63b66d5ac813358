#include "paths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bg {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string homeDirectory() {
    std::string home = env("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = getpwuid(getuid()))
        return pw->pw_dir ? pw->pw_dir : "/tmp";
    return "/tmp";
}

std::string folderFor(const char* overrideVar, const char* xdgVar, const char* homeRelative) {
    std::string path = env(overrideVar);
    if (!path.empty())
        return path;
    std::string base = env(xdgVar);
    if (base.empty() || base[0] != '/')
        base = homeDirectory() + homeRelative;
    return base + "/Korvel";
}

} // namespace

std::string configDirectory() { return folderFor("KORVEL_CONFIG_DIR", "XDG_CONFIG_HOME", "/.config"); }

std::string stateDirectory() { return folderFor("KORVEL_STATE_DIR", "XDG_STATE_HOME", "/.local/state"); }

std::string cacheDirectory() { return folderFor("KORVEL_CACHE_DIR", "XDG_CACHE_HOME", "/.cache"); }

bool makeDirectory(const std::string& path) {
    if (path.empty())
        return false;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace bg
