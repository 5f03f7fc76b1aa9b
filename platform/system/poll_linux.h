#pragma once
// poll() as the waits of the unattended runs use it (Linux only, inside platform/system).

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <vector>

namespace tarnwick::platform::detail {

inline int TimeoutMs(std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout) {
        return -1;
    }
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, timeout->count()));
}

// poll() that starts again after an interruption; the number of ready descriptors, or -1.
inline int PollAll(std::vector<pollfd>& fds, int timeoutMs) {
    int ready = 0;
    do {
        ready = ::poll(fds.data(), fds.size(), timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

inline bool Readable(const pollfd& fd) {
    return (fd.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

}  // namespace tarnwick::platform::detail
