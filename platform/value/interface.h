// The value library's process services, reached through one process-wide
// pointer that __Init_CD_Later__ fills before the entry point runs.
//
// Every service may be called from any thread; each guards its own state.
#pragma once

#include "value.h"

#include <atomic>
#include <cstdarg>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace bg {

// Log levels as the logger numbers them.
enum LogLevel { LOG_ERROR = 2, LOG_WARNING = 3, LOG_DEBUG = 5 };

class ConfigStore;
class EventHub;

class Interface {
public:
    static Interface* instance();

    // Logger: formats with printf rules and writes the line to standard error
    // and to the log file ("korvel.log" in stateDirectory()). Debug lines
    // (LOG_DEBUG) are dropped unless debugLogging() holds. The file is moved
    // aside when it passes the size limit (korvel.log -> korvel.log.1 -> .2
    // -> .3; the oldest goes), at start and while running.
    void log(int level, const char* module, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
    void vlog(int level, const char* module, const char* fmt, va_list args);
    // Writes a finished line to the log file only: for messages that another
    // handler already prints (Qt's). Debug lines follow debugLogging().
    void logToFile(int level, const std::string& line);
    std::string logFilePath() const;
    // Debug lines are kept when the environment has KORVEL_DEBUG=1 or the
    // configuration has "log.debug" on; read at start() and when that key is set.
    bool debugLogging() const;
    void setDebugLogging(bool on);
    // The size at which the log file is moved aside (default 5 MB).
    void setLogLimit(long bytes);
    static constexpr long kDefaultLogLimit = 5L * 1024 * 1024;
    static constexpr int kKeptLogFiles = 3;

    // Clock: the current local time through a strftime pattern.
    std::string formatTime(const char* pattern) const;

    // Configuration store: flat key -> text pairs, durable only after configSave().
    bool configGet(const char* key, std::string* text);
    void configSet(const char* key, const std::string& text);
    void configClear();
    bool configSave();
    std::string configFilePath();

    // Service settings ("http_proxy", "version", "build_date" ...).
    void setServiceSetting(const std::string& name, const std::string& text);
    std::string serviceSetting(const std::string& name) const;

    // Runtime values ("language" ...): live for the process only.
    void setRuntimeValue(const std::string& name, const Value& value);
    Value runtimeValue(const std::string& name) const;

    // Event hub.
    using Reply = std::function<void(const Value&)>;
    using EventCallback = std::function<void(const std::string& event, const Value& argument, const Reply& reply)>;
    // Returns a handle for unsubscribe.
    int subscribe(const std::string& event, EventCallback callback);
    void unsubscribe(int handle);
    // Calls every subscriber of the event, in the caller's thread; returns how many.
    int publish(const std::string& event, const Value& argument, const Reply& reply = Reply());

    // Shell: shows the file selected in the desktop's file manager.
    bool showInFileManager(const std::string& path);

    // Text codec of lists kept in the configuration store.
    static std::string encodeTextList(const std::vector<std::string>& items);
    static std::vector<std::string> decodeTextList(const std::string& text);

    // Start and end of the library (InitBridge / UninitBridge).
    void start();
    void stop();

private:
    Interface();
    ~Interface() = delete; // lives until the process ends

    void openLogFileLocked();
    void writeLocked(const char* text, long length);
    void rotateLocked();
    void refreshDebugLogging();

    mutable std::mutex m_logMutex; // guards the members below up to m_config
    FILE* m_logFile = nullptr;
    std::string m_logPath;
    bool m_logOpenTried = false;
    long m_logSize = 0; // of the open file
    long m_logLimit = kDefaultLogLimit;
    bool m_rotateFailed = false; // said once, not on every line

    std::atomic<int> m_debug {-1}; // -1: not read yet

    ConfigStore* m_config;
    EventHub* m_events;

    mutable std::mutex m_settingsMutex; // guards m_serviceSettings, m_runtimeValues
    std::map<std::string, std::string> m_serviceSettings;
    std::map<std::string, Value> m_runtimeValues;
};

// Fills *target with the process-wide interface pointer.
void __Init_CD_Later__(Interface** target);
// The pointer every source file shares.
extern Interface* g_interface;
// Brings up the library: logger, configuration, the record of the last crash.
void InitBridge(int argc, char** argv);
void UninitBridge();
// Runs fn once when the process ends (in reverse order of registration).
void atExit(std::function<void()> fn);

// Sends Qt's messages (qDebug, qWarning, ...) to the log file with their
// level as well, and on to the handler that was there before. Called by
// Interface::start(); installing twice is harmless.
void installQtMessageLog();

// The interface, also before any initialiser has filled g_interface.
inline Interface* iface() { return g_interface ? g_interface : Interface::instance(); }

// Configuration store conveniences: texts and booleans with defaults.
std::string configText(const char* key, const std::string& def = std::string());
bool configBool(const char* key, bool def);
void configSetBool(const char* key, bool value);

// The source file's name without its folders, for log lines.
constexpr const char* sourceBaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    return base;
}

std::string logTime();

} // namespace bg

// Log lines of the fixed shape: time, level letter, module, file, line, message.
#define BG_LOG_AT(level, letter, fmt, ...)                                                                 \
    bg::iface()->log(level, "bg", "%s[" letter "][bg] %s %-4d: \"" fmt "\"\n", bg::logTime().c_str(),      \
                     bg::sourceBaseName(__FILE__), __LINE__, ##__VA_ARGS__)
#define LOGE(fmt, ...) BG_LOG_AT(bg::LOG_ERROR, "E", fmt, ##__VA_ARGS__)
#define LOGW(fmt, ...) BG_LOG_AT(bg::LOG_WARNING, "W", fmt, ##__VA_ARGS__)
#define LOGD(fmt, ...) BG_LOG_AT(bg::LOG_DEBUG, "D", fmt, ##__VA_ARGS__)
