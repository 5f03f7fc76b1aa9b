// Requests to stop from the console (Ctrl+C, Ctrl+Break, the console closed) as stop signals:
// each is counted and answered once by Wait, as SIGINT is on Linux.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <csignal>

#include "platform/system/console_stop.h"
#include "platform/system/stop_signals.h"

namespace tarnwick::platform {

namespace {

// One event for the stops and the wakes of the process's one StopSignals; it lives as long as
// the process, since the console's thread may still set it while the object goes.
HANDLE StopEvent() {
    static const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

std::atomic<int> gStops{0};
std::atomic<bool> gWoken{false};

}  // namespace

StopSignals::StopSignals() {
    valid_ = StopEvent() != nullptr && OnConsoleStop([] {
                 gStops.fetch_add(1);
                 ::SetEvent(StopEvent());
             });
}

StopSignals::~StopSignals() {
    // From now on a request to stop ends the program, as without this object.
    OnConsoleStop({});
}

bool StopSignals::TakeSignal() {
    int stops = gStops.load();
    while (stops > 0) {
        if (gStops.compare_exchange_weak(stops, stops - 1)) {
            lastSignal_ = SIGINT;
            return true;
        }
    }
    return false;
}

StopSignals::Event StopSignals::Wait(std::optional<std::chrono::milliseconds> timeout) {
    const DWORD wait =
        timeout ? static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(0, timeout->count()))
                : INFINITE;
    if (!valid_) {
        // Nothing could ever end a wait without a timeout; one with a timeout takes its time.
        if (timeout) {
            ::Sleep(wait);
        }
        return Event::TimedOut;
    }
    const ULONGLONG end = ::GetTickCount64() + wait;
    for (;;) {
        if (TakeSignal()) {
            return Event::Signal;
        }
        if (gWoken.exchange(false)) {
            return Event::Woken;
        }
        DWORD left = INFINITE;
        if (timeout) {
            const ULONGLONG now = ::GetTickCount64();
            left = now >= end ? 0 : static_cast<DWORD>(end - now);
        }
        if (::WaitForSingleObject(StopEvent(), left) == WAIT_OBJECT_0) {
            continue;
        }
        if (TakeSignal()) {
            return Event::Signal;
        }
        return gWoken.exchange(false) ? Event::Woken : Event::TimedOut;
    }
}

void StopSignals::Wake() {
    gWoken.store(true);
    ::SetEvent(StopEvent());
}

}  // namespace tarnwick::platform
