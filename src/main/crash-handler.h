// Writes a crash report when the process dies of a fatal signal, and names
// the report of the last crash at the next start.
#pragma once

#include <string>

namespace crash {

// Installs the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT. The
// report ("crash-<time>-<pid>.txt" in the state folder beside the log) holds
// the version, the time, the signal and a backtrace.
void install(const char* version);
// Path of the report left by the last run that crashed, and forgets it; empty
// when the last run ended normally. Logs a line naming the file.
std::string takePreviousReport();

} // namespace crash
