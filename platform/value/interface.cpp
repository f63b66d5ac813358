#include "interface.h"

#include "config-store.h"
#include "event-hub.h"
#include "paths.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace bg {

Interface* g_interface = nullptr;

namespace {

// The configuration key that keeps debug lines.
constexpr const char* kDebugKey = "log.debug";

std::mutex& exitMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

std::vector<std::function<void()>>& exitHooks() {
    static auto* hooks = new std::vector<std::function<void()>>;
    return *hooks;
}

void runExitHooks() {
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard<std::mutex> lock(exitMutex());
        hooks.swap(exitHooks());
    }
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it)
        (*it)();
}

} // namespace

Interface::Interface() : m_config(new ConfigStore), m_events(new EventHub) {}

Interface* Interface::instance() {
    // Never destroyed: log lines and configuration stay usable while other
    // static objects are torn down.
    static Interface* instance = new Interface;
    return instance;
}

void Interface::openLogFileLocked() {
    if (m_logOpenTried)
        return;
    m_logOpenTried = true;
    std::string folder = stateDirectory();
    if (!makeDirectory(folder)) {
        std::fprintf(stderr, "korvel: log folder %s cannot be created\n", folder.c_str());
        return;
    }
    m_logPath = folder + "/korvel.log";
    struct stat st {};
    m_logSize = stat(m_logPath.c_str(), &st) == 0 ? long(st.st_size) : 0;
    if (m_logSize >= m_logLimit) {
        rotateLocked(); // opens the fresh file
        return;
    }
    m_logFile = std::fopen(m_logPath.c_str(), "a");
    if (!m_logFile)
        std::fprintf(stderr, "korvel: log file %s cannot be opened\n", m_logPath.c_str());
}

void Interface::rotateLocked() {
    if (m_logFile) {
        std::fclose(m_logFile);
        m_logFile = nullptr;
    }
    // korvel.log.2 -> .3, .1 -> .2, korvel.log -> .1; the oldest is replaced.
    bool moved = true;
    for (int i = kKeptLogFiles - 1; i >= 0; --i) {
        const std::string from = i == 0 ? m_logPath : m_logPath + "." + std::to_string(i);
        const std::string to = m_logPath + "." + std::to_string(i + 1);
        if (std::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT)
            moved = false;
    }
    // When the file cannot be moved it is cut instead, so it never grows
    // without end.
    m_logFile = std::fopen(m_logPath.c_str(), moved ? "a" : "w");
    m_logSize = 0;
    if (!m_logFile) {
        std::fprintf(stderr, "korvel: log file %s cannot be opened\n", m_logPath.c_str());
    } else if (!moved && !m_rotateFailed) {
        m_rotateFailed = true;
        m_logSize = std::fprintf(m_logFile, "%s[W][bg] %s %-4d: \"the full log could not be moved aside; it was emptied\"\n",
                                 logTime().c_str(), sourceBaseName(__FILE__), __LINE__);
    }
}

void Interface::writeLocked(const char* text, long length) {
    openLogFileLocked();
    if (!m_logFile || length <= 0)
        return;
    if (std::fwrite(text, 1, size_t(length), m_logFile) == size_t(length))
        m_logSize += length;
    std::fflush(m_logFile);
    if (m_logSize >= m_logLimit)
        rotateLocked();
}

void Interface::vlog(int level, const char* /*module*/, const char* fmt, va_list args) {
    if (level >= LOG_DEBUG && !debugLogging())
        return;
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0)
        return;
    std::string big;
    const char* text = small;
    if (size_t(n) >= sizeof small) {
        big.resize(size_t(n) + 1);
        std::vsnprintf(big.data(), big.size(), fmt, args);
        text = big.c_str();
    }
    std::lock_guard<std::mutex> lock(m_logMutex);
    std::fwrite(text, 1, size_t(n), stderr);
    writeLocked(text, n);
}

void Interface::logToFile(int level, const std::string& line) {
    if (level >= LOG_DEBUG && !debugLogging())
        return;
    std::lock_guard<std::mutex> lock(m_logMutex);
    writeLocked(line.data(), long(line.size()));
}

bool Interface::debugLogging() const {
    int state = m_debug.load(std::memory_order_relaxed);
    if (state < 0) {
        // Before start(): the environment alone (the configuration store
        // may itself log while it loads).
        const char* env = std::getenv("KORVEL_DEBUG");
        state = env && std::strcmp(env, "1") == 0 ? 1 : 0;
    }
    return state == 1;
}

void Interface::setDebugLogging(bool on) { m_debug = on ? 1 : 0; }

void Interface::refreshDebugLogging() {
    const char* env = std::getenv("KORVEL_DEBUG");
    std::string text;
    const bool fromConfig = configGet(kDebugKey, &text) && (text == "1" || text == "true");
    setDebugLogging((env && std::strcmp(env, "1") == 0) || fromConfig);
}

void Interface::setLogLimit(long bytes) {
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_logLimit = bytes > 1024 ? bytes : 1024;
    if (m_logFile && m_logSize >= m_logLimit)
        rotateLocked();
}

void Interface::log(int level, const char* module, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vlog(level, module, fmt, args);
    va_end(args);
}

std::string Interface::logFilePath() const {
    std::lock_guard<std::mutex> lock(m_logMutex);
    return m_logPath.empty() ? stateDirectory() + "/korvel.log" : m_logPath;
}

std::string Interface::formatTime(const char* pattern) const {
    std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char buffer[256];
    size_t n = std::strftime(buffer, sizeof buffer, pattern, &local);
    return std::string(buffer, n);
}

bool Interface::configGet(const char* key, std::string* text) { return key && m_config->get(key, text); }

void Interface::configSet(const char* key, const std::string& text) {
    if (!key)
        return;
    m_config->set(key, text);
    if (std::strcmp(key, kDebugKey) == 0)
        refreshDebugLogging();
}

void Interface::configClear() { m_config->clear(); }

bool Interface::configSave() { return m_config->save(); }

std::string Interface::configFilePath() { return m_config->filePath(); }

void Interface::setServiceSetting(const std::string& name, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_settingsMutex);
    m_serviceSettings[name] = text;
}

std::string Interface::serviceSetting(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_settingsMutex);
    auto it = m_serviceSettings.find(name);
    return it == m_serviceSettings.end() ? std::string() : it->second;
}

void Interface::setRuntimeValue(const std::string& name, const Value& value) {
    std::lock_guard<std::mutex> lock(m_settingsMutex);
    m_runtimeValues[name] = value;
}

Value Interface::runtimeValue(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_settingsMutex);
    auto it = m_runtimeValues.find(name);
    return it == m_runtimeValues.end() ? Value() : it->second;
}

int Interface::subscribe(const std::string& event, EventCallback callback) {
    return m_events->subscribe(event, std::move(callback));
}

void Interface::unsubscribe(int handle) { m_events->unsubscribe(handle); }

int Interface::publish(const std::string& event, const Value& argument, const Reply& reply) {
    return m_events->publish(event, argument, reply);
}

std::string Interface::encodeTextList(const std::vector<std::string>& items) {
    QJsonArray array;
    for (const auto& item : items)
        array.append(QString::fromStdString(item));
    return QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

std::vector<std::string> Interface::decodeTextList(const std::string& text) {
    std::vector<std::string> items;
    QJsonParseError error {};
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return items;
    for (const QJsonValue& v : doc.array()) {
        if (v.isString())
            items.push_back(v.toString().toStdString());
    }
    return items;
}

void Interface::start() {
    refreshDebugLogging();
    installQtMessageLog();
    std::lock_guard<std::mutex> lock(m_logMutex);
    openLogFileLocked();
}

void Interface::stop() {
    m_events->clear();
    std::lock_guard<std::mutex> lock(m_logMutex);
    if (m_logFile) {
        std::fclose(m_logFile);
        m_logFile = nullptr;
    }
    // A line logged after the stop opens the file again.
    m_logOpenTried = false;
}

void __Init_CD_Later__(Interface** target) {
    if (target)
        *target = Interface::instance();
}

void InitBridge(int /*argc*/, char** /*argv*/) {
    __Init_CD_Later__(&g_interface);
    g_interface->start();
}

void UninitBridge() {
    if (g_interface)
        g_interface->stop();
}

void atExit(std::function<void()> fn) {
    if (!fn)
        return;
    static bool registered = false;
    std::lock_guard<std::mutex> lock(exitMutex());
    if (!registered) {
        registered = true;
        std::atexit(runExitHooks);
    }
    exitHooks().push_back(std::move(fn));
}

std::string configText(const char* key, const std::string& def) {
    std::string text;
    return iface()->configGet(key, &text) ? text : def;
}

bool configBool(const char* key, bool def) {
    std::string text;
    if (!iface()->configGet(key, &text))
        return def;
    return text == "1" || text == "true";
}

void configSetBool(const char* key, bool value) { iface()->configSet(key, value ? "1" : "0"); }

std::string logTime() { return iface()->formatTime("%m%d-%H:%M:%S"); }

} // namespace bg
