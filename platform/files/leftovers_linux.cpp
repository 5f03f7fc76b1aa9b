// Leftovers: the temporary files that a crash, a power cut or a pulled stick left in the middle
// of a copy, and the locks that tell them from copies still at work.
//
// The lock rule, in one place. A copy at work holds its temporary file in one of two ways:
//  - its folder is held (HeldFolder): a shared lock on the folder, for as long as copies wait
//    there under temporary names;
//  - or, where the folder could not be held or its file system refuses locks, an exclusive lock
//    on its own temporary file for as long as it writes it.
// A pass that removes leftovers takes an exclusive lock on the folder without waiting (none while
// anyone holds it) and then a shared lock on each file without waiting (none while its copy
// writes it): only a file that is free on both counts is removed. A folder is held before a
// temporary file is made in it, since a file just made is not locked yet.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/files/copies.h"
#include "platform/files/files.h"
#include "platform/files/files_linux.h"
#include "platform/unique_fd.h"

namespace tarnwick::platform {

namespace {

// A lock on the folder that no pass with copies waiting in it holds a share of; nullopt while one
// does (or where the file system refuses such locks): then its temporary files are left alone.
UniqueFd LockFolderForCleaning(int dirFd) {
    UniqueFd folder(RetryOpenAt(dirFd, ".", O_RDONLY | O_DIRECTORY));
    if (folder.valid() && ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) {
        folder.Reset();
    }
    return folder;
}

bool RemoveIfFree(int dirFd, const char* name) {
    const UniqueFd file(RetryOpenAt(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat opened {};
    if (!file.valid() || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        return false;
    }
    // A shared lock is refused while a copy writing the file holds its exclusive one (also across
    // computers where the network file system keeps locks; a shared lock needs no write access).
    if (::flock(file.get(), LOCK_SH | LOCK_NB) != 0) {
        return false;
    }
    // The name must still be the file that was found free.
    struct stat named {};
    if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != opened.st_dev ||
        named.st_ino != opened.st_ino) {
        return false;
    }
    return ::unlinkat(dirFd, name, 0) == 0;
}

}  // namespace

bool RemoveLeftoverCopy(const Directory& folder, const std::string& name) {
    if (!folder.IsOpen() || !IsTemporaryCopyName(name)) {
        return false;
    }
    const UniqueFd lock = LockFolderForCleaning(folder.NativeHandle());
    return lock.valid() && RemoveIfFree(lock.get(), name.c_str());
}

bool IsFileMovedAside(std::string_view name) {
    return !NameBeforeAside(name).empty();
}

FilesGivenBack Directory::RemoveLeftoverCopies() const {
    FilesGivenBack givenBack;
    if (fd_ < 0) {
        return givenBack;
    }
    // A listing of its own: this folder's listing may be in use. The folder is listed first and
    // locked only where there is something to remove.
    Directory listing(RetryOpenAt(fd_, ".", O_RDONLY | O_DIRECTORY));
    if (!listing.IsOpen()) {
        return givenBack;
    }
    UniqueFd lock;
    while (const auto name = listing.Next()) {
        if (!name->starts_with(kTemporaryPrefix)) {
            continue;
        }
        const bool leftover = IsTemporaryCopyName(*name);
        const std::string_view before = leftover ? std::string_view() : NameBeforeAside(*name);
        if (!leftover && before.empty()) {
            continue;
        }
        if (!lock.valid()) {
            lock = LockFolderForCleaning(fd_);
            if (!lock.valid()) {
                return givenBack;
            }
        }
        const std::string entry(*name);
        if (leftover) {
            RemoveIfFree(lock.get(), entry.c_str());
            continue;
        }
        // A file of the user's that a copy had moved aside when the program ended: it gets its
        // name back, or one beside it where a newer file has taken its name since.
        CountGivenBack(givenBack, GiveNameBack(lock.get(), entry.c_str(), before));
    }
    return givenBack;
}

}  // namespace tarnwick::platform
