#include "platform/system/unattended.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace tarnwick::platform {

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

int TimeoutMs(std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout) {
        return -1;
    }
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, timeout->count()));
}

// poll() that starts again after an interruption; the number of ready descriptors, or -1.
int PollAll(std::vector<pollfd>& fds, int timeoutMs) {
    int ready = 0;
    do {
        ready = ::poll(fds.data(), fds.size(), timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

bool Readable(const pollfd& fd) {
    return (fd.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

}  // namespace

StopSignals::StopSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = StopSet();
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        return;
    }
    signals_.Reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    wake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    valid_ = signals_.valid() && wake_.valid();
}

StopSignals::~StopSignals() {
    const sigset_t set = StopSet();
    signals_.Reset();
    // Signals that came after the last Wait end the program now, as they would have.
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool StopSignals::TakeSignal() {
    signalfd_siginfo info{};
    ssize_t count = 0;
    do {
        count = ::read(signals_.get(), &info, sizeof info);
    } while (count < 0 && errno == EINTR);
    return count == static_cast<ssize_t>(sizeof info);
}

StopSignals::Event StopSignals::Wait(std::optional<std::chrono::milliseconds> timeout) {
    if (!valid_) {
        // Nothing could ever end a wait without a timeout; one with a timeout takes its time.
        std::vector<pollfd> none;
        if (timeout) {
            PollAll(none, TimeoutMs(timeout));
        }
        return Event::TimedOut;
    }
    std::vector<pollfd> fds{{signals_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
    for (;;) {
        if (PollAll(fds, TimeoutMs(timeout)) <= 0) {
            return Event::TimedOut;
        }
        if (Readable(fds[0]) && TakeSignal()) {
            return Event::Signal;
        }
        if (Readable(fds[1])) {
            std::uint64_t count = 0;
            if (::read(wake_.get(), &count, sizeof count) == sizeof count) {
                return Event::Woken;
            }
        }
    }
}

void StopSignals::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
}

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

FileLock::Result FileLock::Take(const std::string& path, StopSignals& stop) {
    // The folders up to the file, made where missing (only the user reads them).
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    }
    fd_.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd_.valid()) {
        return Result::Unavailable;
    }
    // Asked again a few times a second: a blocking flock() could not be ended by a stop signal.
    for (;;) {
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
            return Result::Held;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            fd_.Reset();
            return Result::Unavailable;
        }
        if (stop.Wait(std::chrono::milliseconds(200)) == StopSignals::Event::Signal) {
            fd_.Reset();
            return Result::Stopped;
        }
    }
}

}  // namespace tarnwick::platform
