#pragma once
// A wait for changes of the mount table, which a stop signal ends.

#include <chrono>
#include <optional>

#include "platform/system/stop_signals.h"
#include "platform/unique_fd.h"

namespace tarnwick::platform {

// Changes of the mount table of this program's namespace (/proc/self/mountinfo answers poll()
// with POLLPRI once it changed).
class MountWatch {
public:
    MountWatch();
    // False when the mount table cannot be opened: no change will ever be reported.
    bool Watching() const { return table_.valid(); }

    enum class Event { MountsChanged, Stop, TimedOut };
    // Waits for a change of the mount table since the last call (or since construction), a stop
    // signal, or the end of `timeout`. Without a readable table only a stop or the timeout ends
    // the wait.
    Event Wait(StopSignals& stop, std::optional<std::chrono::milliseconds> timeout = std::nullopt);

private:
    UniqueFd table_;
};

}  // namespace tarnwick::platform
