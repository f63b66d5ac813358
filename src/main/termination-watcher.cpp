#include "termination-watcher.h"

#include "value/interface.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_pipe[2] = {-1, -1}; // the handler writes the signal number, the event loop reads it
volatile sig_atomic_t g_quitAtOnce = 0;

void onTerminationSignal(int sig) {
    if (g_quitAtOnce && sig != SIGUSR1)
        ::_exit(128 + sig);
    unsigned char byte = static_cast<unsigned char>(sig);
    ssize_t ignored = ::write(g_pipe[1], &byte, 1);
    (void)ignored;
}
} // namespace

TerminationWatcher::TerminationWatcher(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        LOGW("termination signals will not shut down cleanly: no socket pair");
        ::signal(SIGUSR1, SIG_IGN); // a late "finish now" must not end the process
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (::read(g_pipe[0], &byte, 1) != 1)
            return;
        if (byte == SIGUSR1) {
            LOGD("signal %d: finishing what runs", int(byte));
            emit finishRequested();
            return;
        }
        LOGD("signal %d: quitting", int(byte));
        emit terminationRequested(byte);
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        ::sigaction(sig, &action, nullptr);
}

void TerminationWatcher::setQuitAtOnce(bool quit) { g_quitAtOnce = quit ? 1 : 0; }

TerminationWatcher::~TerminationWatcher() {
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::signal(sig, SIG_DFL);
    // A "finish now" that comes while the program ends (the export already
    // written) must not kill it: that would read as a crash.
    ::signal(SIGUSR1, SIG_IGN);
    delete m_notifier;
    m_notifier = nullptr;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
