// Stop requests on Windows: Ctrl-C, Ctrl-Break and closing the console
// window (or logging off / shutting down). The system calls the handler on a
// thread of its own. For a closing window it ends the process as soon as the
// handler returns, so the handler waits there for the clean stop (Windows
// allows about five seconds).
#include <windows.h>

#include <atomic>

#include "platform/stop_signals.h"

namespace tmx::platform {

namespace {
std::atomic<bool> requested{false};
std::atomic<bool> endAtOnce{false};
constexpr DWORD kCloseWaitMs = 4500;

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            if (requested.exchange(true) || endAtOnce.load()) ::ExitProcess(1);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: {
            requested = true;
            for (DWORD waited = 0; waited < kCloseWaitMs && !endAtOnce.load(); waited += 50) ::Sleep(50);
            return TRUE;
        }
        default:
            return FALSE;
    }
}
}  // namespace

bool installStopHandlers() { return ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0; }

bool stopRequested() { return requested.load(); }

void cleanStopDone() { endAtOnce = true; }

}  // namespace tmx::platform
