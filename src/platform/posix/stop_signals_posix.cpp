// Stop signals on POSIX. SIGINT and SIGTERM are blocked in every thread and
// taken by one watching thread with sigwait, so no handler ever runs in the
// middle of the program's own code and nothing needs to be signal-safe.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/stop_signals.h"

namespace tmx::platform {

namespace {
std::atomic<bool> requested{false};
std::atomic<bool> endAtOnce{false};

void watch(sigset_t signals) {
    for (;;) {
        int signal = 0;
        if (::sigwait(&signals, &signal) != 0) continue;
        // The second request, or one after the clean stop: the admin wants
        // the process gone now. 128 + the signal, as a shell reports it.
        if (requested.exchange(true) || endAtOnce.load()) ::_exit(128 + signal);
    }
}
}  // namespace

bool installStopHandlers() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // A shell starts background jobs with SIGINT ignored, and an ignored
    // signal is thrown away even while blocked; the watcher must see it.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return false;
    try {
        std::thread(watch, signals).detach();
    } catch (...) {
        ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        return false;
    }
    return true;
}

bool stopRequested() { return requested.load(); }

void cleanStopDone() { endAtOnce = true; }

}  // namespace tmx::platform
