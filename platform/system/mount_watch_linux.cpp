#include "platform/system/mount_watch.h"

#include <fcntl.h>
#include <poll.h>

#include <vector>

#include "platform/system/poll_linux.h"

namespace tarnwick::platform {

using detail::PollAll;
using detail::Readable;
using detail::TimeoutMs;

MountWatch::MountWatch() : table_(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)) {
    // The first poll() reports the table as changed; this one takes that answer.
    pollfd table{table_.get(), POLLPRI, 0};
    std::vector<pollfd> fds{table};
    PollAll(fds, 0);
}

MountWatch::Event MountWatch::Wait(StopSignals& stop,
                                   std::optional<std::chrono::milliseconds> timeout) {
    std::vector<pollfd> fds{{stop.signals_.get(), POLLIN, 0}, {table_.get(), POLLPRI, 0}};
    for (;;) {
        if (PollAll(fds, TimeoutMs(timeout)) <= 0) {
            return Event::TimedOut;
        }
        if (Readable(fds[0]) && stop.TakeSignal()) {
            return Event::Stop;
        }
        if ((fds[1].revents & (POLLPRI | POLLERR)) != 0) {
            return Event::MountsChanged;
        }
        if ((fds[1].revents & POLLNVAL) != 0) {
            fds[1].fd = -1;  // no table: only a stop or the timeout
        }
    }
}

}  // namespace tarnwick::platform
