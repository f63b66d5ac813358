#include "crash-handler.h"

#include "value/interface.h"
#include "value/paths.h"

#include <execinfo.h>
#include <fcntl.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <unistd.h>

namespace crash {

namespace {

// Filled at installation: the handler may not allocate.
char g_folder[1024];
char g_marker[1100]; // "last-crash" file holding the report's path
char g_version[64];

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Async-signal-safe text building.
struct Buffer {
    char text[1400];
    size_t length = 0;
    void add(const char* s) {
        while (*s && length + 1 < sizeof text)
            text[length++] = *s++;
        text[length] = '\0';
    }
    void addNumber(long long v, int width = 0) {
        char digits[24];
        int n = 0;
        bool negative = v < 0;
        unsigned long long u = negative ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        do {
            digits[n++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u && n < 20);
        while (n < width)
            digits[n++] = '0';
        if (negative)
            add("-");
        char one[2] = {0, 0};
        while (n > 0) {
            one[0] = digits[--n];
            add(one);
        }
    }
};

void writeAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, text, length);
        if (n <= 0)
            return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

void onFatalSignal(int sig) {
    // Civil time from the epoch by hand: localtime is not safe here.
    time_t now = ::time(nullptr);
    long long days = now / 86400, secs = now % 86400;
    // Days to a civil date (Howard Hinnant's algorithm).
    long long z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    long long day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    long long year = yoe + era * 400 + (month <= 2);

    Buffer path;
    path.add(g_folder);
    path.add("/crash-");
    path.addNumber(year, 4);
    path.addNumber(month, 2);
    path.addNumber(day, 2);
    path.add("-");
    path.addNumber(secs / 3600, 2);
    path.addNumber(secs / 60 % 60, 2);
    path.addNumber(secs % 60, 2);
    path.add("-");
    path.addNumber(::getpid());
    path.add(".txt");

    int fd = ::open(path.text, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
        Buffer head;
        head.add("Korvel ");
        head.add(g_version);
        head.add(" crashed with signal ");
        head.addNumber(sig);
        head.add(" (");
        head.add(sig == SIGSEGV ? "SIGSEGV" : sig == SIGBUS ? "SIGBUS" : sig == SIGFPE ? "SIGFPE"
                 : sig == SIGILL ? "SIGILL" : sig == SIGABRT ? "SIGABRT" : "signal");
        head.add(")\ntime (UTC): ");
        head.addNumber(year, 4);
        head.add("-");
        head.addNumber(month, 2);
        head.add("-");
        head.addNumber(day, 2);
        head.add(" ");
        head.addNumber(secs / 3600, 2);
        head.add(":");
        head.addNumber(secs / 60 % 60, 2);
        head.add(":");
        head.addNumber(secs % 60, 2);
        head.add("\npid: ");
        head.addNumber(::getpid());
        head.add("\nbacktrace:\n");
        writeAll(fd, head.text, head.length);
        void* frames[64];
        int count = ::backtrace(frames, 64);
        ::backtrace_symbols_fd(frames, count, fd);
        ::close(fd);

        int marker = ::open(g_marker, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (marker >= 0) {
            writeAll(marker, path.text, path.length);
            ::close(marker);
        }
        Buffer line;
        line.add("korvel: crashed; report written to ");
        line.add(path.text);
        line.add("\n");
        writeAll(STDERR_FILENO, line.text, line.length);
    }
    // Let the default action end the process (and leave a core where enabled).
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

} // namespace

void install(const char* version) {
    std::string folder = bg::stateDirectory();
    bg::makeDirectory(folder);
    std::snprintf(g_folder, sizeof g_folder, "%s", folder.c_str());
    std::snprintf(g_marker, sizeof g_marker, "%s/last-crash", folder.c_str());
    std::snprintf(g_version, sizeof g_version, "%s", version ? version : "");
    // backtrace() loads its unwinder on first use; do that now, not in the handler.
    void* warmUp[1];
    ::backtrace(warmUp, 1);

    static char alternateStack[64 * 1024]; // a stack overflow still gets its report
    stack_t ss {};
    ss.ss_sp = alternateStack;
    ss.ss_size = sizeof alternateStack;
    ::sigaltstack(&ss, nullptr);

    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
}

std::string takePreviousReport() {
    std::string marker = bg::stateDirectory() + "/last-crash";
    std::ifstream in(marker);
    if (!in)
        return std::string();
    std::string report;
    std::getline(in, report);
    in.close();
    std::remove(marker.c_str());
    if (!report.empty())
        LOGW("the last run of Korvel crashed; its report is %s", report.c_str());
    return report;
}

} // namespace crash
