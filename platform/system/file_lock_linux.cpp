#include "platform/system/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

namespace tarnwick::platform {

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
