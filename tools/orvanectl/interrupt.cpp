#include "orvanectl/interrupt.h"

#include <windows.h>

#include <atomic>

namespace Orv::Publisher {
namespace {

// The handler runs on a thread of its own that the system starts for the event.
std::atomic<std::stop_source*> activeStop{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
    std::stop_source* stop = activeStop.load();
    if ((type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) && stop != nullptr) {
        stop->request_stop();
        return TRUE;
    }
    return FALSE;
}

} // namespace

InterruptScope::InterruptScope() {
    activeStop.store(&stop_);
    // A program started in a new process group ignores Ctrl+C until it asks for it again.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

InterruptScope::~InterruptScope() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    activeStop.store(nullptr);
}

} // namespace Orv::Publisher
