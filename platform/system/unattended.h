#pragma once
// What a program that runs without a window needs from the system: SIGINT and SIGTERM as requests
// to stop, a wait for changes of the mount table, and a lock that keeps two runs apart.

#include <chrono>
#include <optional>
#include <string>

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

private:
    friend class MountWatch;
    // Takes one queued signal; false when none is queued.
    bool TakeSignal();

    UniqueFd signals_;
    UniqueFd wake_;
    bool valid_ = false;
};

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

// An exclusive lock on a file, held until the object goes. Another process that asks for the
// same file waits.
class FileLock {
public:
    enum class Result { Held, Stopped, Unavailable };
    // Takes the lock on the file at `path` (made with mode 0600 when missing, its folder with
    // 0700), waiting while another process holds it. Stopped: a stop signal came while waiting;
    // Unavailable: the file cannot be made or locked.
    Result Take(const std::string& path, StopSignals& stop);

private:
    UniqueFd fd_;
};

}  // namespace tarnwick::platform
