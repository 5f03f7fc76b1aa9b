#include "platform/system/stop_signals.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform/system/poll_linux.h"

namespace tarnwick::platform {

using detail::PollAll;
using detail::Readable;
using detail::TimeoutMs;

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
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
    if (count != static_cast<ssize_t>(sizeof info)) {
        return false;
    }
    lastSignal_ = static_cast<int>(info.ssi_signo);
    return true;
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

}  // namespace tarnwick::platform
