// A disk that fills up, for as long as the object lives: writes of this
// process past `bytes` in any one file fail with EFBIG (SIGXFSZ ignored).
#pragma once

#include <csignal>
#include <sys/resource.h>

namespace korvel::test {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_old;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace korvel::test
