#pragma once
// A lock that keeps two runs apart, whose wait a stop signal ends.

#include <string>

#include "platform/system/stop_signals.h"
#include "platform/unique_fd.h"

namespace tarnwick::platform {

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
