#pragma once
// SIGINT and SIGTERM as requests to stop, for a program that runs without a window.

#include <chrono>
#include <optional>

#include "platform/unique_fd.h"

namespace tarnwick::platform {

// While a StopSignals lives, SIGINT and SIGTERM do not end the program: they are blocked and
// queued on a descriptor that Wait reads. Make it before any other thread, so that the threads
// started afterwards inherit the blocked signals. A write to a closed pipe (standard output read
// by a program that went away) fails with EPIPE instead of ending the program.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    enum class Event { Signal, Woken, TimedOut };
    // Waits for a stop signal (each one is answered once), a Wake, or the end of `timeout`.
    Event Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    // Ends the current or the next Wait with Woken; safe from any thread.
    void Wake();
    // The number of the last signal taken (SIGINT or SIGTERM); 0 before the first.
    int LastSignal() const { return lastSignal_; }

private:
    friend class MountWatch;
    // Takes one queued signal; false when none is queued.
    bool TakeSignal();

    UniqueFd signals_;
    UniqueFd wake_;
    bool valid_ = false;
    int lastSignal_ = 0;
};

}  // namespace tarnwick::platform
