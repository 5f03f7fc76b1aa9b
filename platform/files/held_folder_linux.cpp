// A destination folder held while copies wait in it for their names: its own descriptor, the
// shared lock that keeps other passes from taking the waiting files for leftovers (the rule is in
// leftovers_linux.cpp), the flushes that make the copies durable and the naming of each.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/files/copies.h"
#include "platform/files/files.h"
#include "platform/files/files_linux.h"

namespace tarnwick::platform {

std::shared_ptr<HeldFolder> HeldFolder::Hold(const Directory& to,
                                             const std::function<bool()>& going, FileError* why) {
    auto folder = std::make_shared<HeldFolder>();
    folder->handle_ = RetryOpenAt(to.NativeHandle(), ".", O_RDONLY | O_DIRECTORY);
    if (folder->handle_ < 0) {
        if (why != nullptr) {
            *why = SystemError(FileConcern::kFolder);
        }
        return nullptr;
    }
    const int fd = static_cast<int>(folder->handle_);
    folder->id_ = to.Id();
    folder->device_ = to.Device();
    // A pass that clears leftovers holds the folder only a moment; another program may hold it
    // for good. The lock is asked for without waiting, for a while and only as long as the pass
    // goes on; a folder still refused is contended, and its copies do not wait there. Where the
    // file system refuses locks, the copies go without.
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            folder->locked_ = true;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            break;
        }
        if (attempt + 1 == kAttempts || (going && !going())) {
            folder->contended_ = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return folder;
}

HeldFolder::~HeldFolder() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
}

FileError HeldFolder::FlushVolume() const {
    CopyStepReached(CopyStep::kFlushed, "");
    if (::syncfs(static_cast<int>(handle_)) != 0) {
        return FileError{FileRefusal::kNotDurable, errno, FileConcern::kFolder};
    }
    return {};
}

FileError HeldFolder::FlushFolder() const {
    if (::fsync(static_cast<int>(handle_)) != 0 && errno != EINVAL) {  // EINVAL: nothing to flush
        return FileError{FileRefusal::kNotDurable, errno, FileConcern::kFolder};
    }
    return {};
}

FileError HeldFolder::Name(const WaitingCopy& copy) const {
    // Waiting copies are made on volumes flushed as a whole, none of which restamps on rename.
    return ReplaceTarget(static_cast<int>(handle_), copy.temporary, copy.toName.c_str(),
                         copy.target, false);
}

void HeldFolder::Remove(const char* temporary) const {
    ::unlinkat(static_cast<int>(handle_), temporary, 0);
}

}  // namespace tarnwick::platform
