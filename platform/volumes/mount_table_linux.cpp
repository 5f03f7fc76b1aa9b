#include "platform/volumes/mount_table_linux.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>

namespace tarnwick::platform {

namespace {

bool ReadWholeFile(int fd, std::string& text) {
    if (lseek(fd, 0, SEEK_SET) != 0) {
        return false;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

}  // namespace

bool MountTableFile::Changed() {
    if (!upToDate_) {
        return true;
    }
    pollfd changed{fd_.get(), POLLPRI, 0};
    int ready = 0;
    do {
        ready = poll(&changed, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        return false;
    }
    if (ready < 0 || (changed.revents & POLLNVAL) != 0) {
        fd_.Reset();
    }
    upToDate_ = false;
    return true;
}

bool MountTableFile::Read(std::string& text) {
    if (!fd_.valid()) {
        fd_.Reset(open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    }
    upToDate_ = fd_.valid() && ReadWholeFile(fd_.get(), text);
    return upToDate_;
}

}  // namespace tarnwick::platform
