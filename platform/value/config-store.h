// The configuration store: key -> text pairs in an ini file.
//
// Values are read once from the file, on first use; set and clear change
// only the copy in memory until save() writes the whole store at once.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace bg {

class ConfigStore {
public:
    ConfigStore() = default;

    bool get(const std::string& key, std::string* text);
    void set(const std::string& key, const std::string& text);
    void clear();
    // Writes the store to its file, replacing the old file in one step.
    bool save();
    std::string filePath();

private:
    void loadLocked();
    // Copies a file the load found damaged aside, once, before it is replaced.
    void keepDamagedFileLocked();

    std::mutex m_mutex; // guards everything below
    bool m_loaded = false;
    bool m_damaged = false; // the file read had lines the reader could not take
    std::string m_path;
    std::map<std::string, std::string> m_values;
};

} // namespace bg
