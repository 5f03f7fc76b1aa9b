// Requests to stop a run in a console, through SetConsoleCtrlHandler.
#include <windows.h>

#include <mutex>

#include "platform/system/console_stop.h"

namespace tarnwick::platform {

namespace {

std::mutex gStopMutex;
std::function<void()> gOnStop;

BOOL WINAPI ConsoleControl(DWORD /*event*/) {
    std::function<void()> onStop;
    {
        std::lock_guard lock(gStopMutex);
        onStop = gOnStop;
    }
    if (!onStop) {
        return FALSE;  // the system's default: the program ends
    }
    onStop();
    return TRUE;
}

}  // namespace

bool OnConsoleStop(std::function<void()> onStop) {
    {
        std::lock_guard lock(gStopMutex);
        gOnStop = std::move(onStop);
    }
    static const bool installed = ::SetConsoleCtrlHandler(ConsoleControl, TRUE) != FALSE;
    return installed;
}

}  // namespace tarnwick::platform
