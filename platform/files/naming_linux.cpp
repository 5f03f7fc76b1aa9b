// Naming: the temporary names of copies, the renames that give copies their names or never
// replace anything, the keys on which names a case-insensitive volume takes for one fall, and
// new folders.
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

#include "platform/files/copies.h"
#include "platform/files/files.h"
#include "platform/files/files_linux.h"
#include "platform/volumes/drives.h"

namespace tarnwick::platform {

namespace {

std::atomic<std::uint64_t> gTemporarySequence{0};
std::atomic<bool> gEmptyPathLinkRefused{false};

}  // namespace

std::uint64_t NextTemporarySequence() {
    return gTemporarySequence.fetch_add(1, std::memory_order_relaxed);
}

// The process id does not change while the program runs, except for the id in a forked
// child (tests fork).
namespace {

std::atomic<pid_t> gProcessId{0};

}  // namespace

pid_t ProcessId() {
    static const bool hooked = ::pthread_atfork(nullptr, nullptr, [] { gProcessId = 0; }) == 0;
    pid_t pid = gProcessId.load(std::memory_order_relaxed);
    if (pid == 0 || !hooked) {
        pid = ::getpid();
        gProcessId.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

// Read without changing it (umask() itself can only be read by setting it, which would race
// Hidden, and unique within the process; O_EXCL makes it unique in the folder.
void FormatTemporaryName(char (&buffer)[64], std::uint64_t sequence) {
    char* out = std::copy(kTemporaryPrefix.begin(), kTemporaryPrefix.end(), buffer);
    out = std::to_chars(out, buffer + 32, static_cast<std::uint64_t>(ProcessId())).ptr;
    *out++ = '-';
    out = std::to_chars(out, buffer + 54, sequence).ptr;
    out = std::copy(kTemporarySuffix.begin(), kTemporarySuffix.end(), out);
    *out = '\0';
}

// A rename that never replaces an existing entry. Where the file system cannot refuse a
// replacement by itself (FAT, some network file systems), a hard link can for files; elsewhere a
// check just before the rename has to do.
bool RenameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL) {
        return false;
    }
    struct stat source {};
    if (::fstatat(fromDir, from, &source, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    if (!S_ISDIR(source.st_mode)) {
        if (::linkat(fromDir, from, toDir, to, 0) == 0) {
            ::unlinkat(fromDir, from, 0);
            return true;
        }
        if (errno == EEXIST) {
            return false;
        }
    }
    struct stat existing {};
    if (::fstatat(toDir, to, &existing, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
        return false;
    }
    return ::renameat(fromDir, from, toDir, to) == 0;
}

bool IsTemporaryCopyName(std::string_view name) {
    if (name.size() <= kTemporaryPrefix.size() + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) {
        return false;
    }
    const std::string_view middle = name.substr(
        kTemporaryPrefix.size(), name.size() - kTemporaryPrefix.size() - kTemporarySuffix.size());
    return middle.find_first_not_of("0123456789-") == std::string_view::npos;
}

// Names an unnamed file; never replaces an existing entry.
Written LinkUnnamed(int fd, int dirFd, const char* name) {
    if (!gEmptyPathLinkRefused.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0) {
            return Written::kDone;
        }
        if (errno != ENOENT) {
            return errno == EEXIST ? Written::kFailed : Written::kUnsupported;
        }
    }
    // Without CAP_DAC_READ_SEARCH the kernel takes the file only by its name under /proc.
    char path[48] = "/proc/self/fd/";
    *std::to_chars(path + 14, path + sizeof path - 1, fd).ptr = '\0';
    if (::linkat(AT_FDCWD, path, dirFd, name, AT_SYMLINK_FOLLOW) == 0) {
        gEmptyPathLinkRefused.store(true, std::memory_order_relaxed);
        return Written::kDone;
    }
    return errno == EEXIST ? Written::kFailed : Written::kUnsupported;
}

// A batch waits for at most this many copies and bytes. A flush of the volume costs about as
// much for a large batch as for one file (it is the device's flush that costs); the bounds keep
// the memory of a batch small and the work a power cut can undo limited. Waiting copies hold no
// open descriptor.
// Gives a finished copy its name. A temporary file that does not get it is removed.
namespace {

std::mutex gHookMutex;
std::function<void()> gBeforeReplace;
std::atomic<bool> gHooked{false};

void BeforeReplace() {
    if (!gHooked.load(std::memory_order_acquire)) {
        return;
    }
    try {
        std::function<void()> hook;
        {
            const std::lock_guard lock(gHookMutex);
            hook = gBeforeReplace;
        }
        if (hook) {
            hook();
        }
    } catch (const std::exception&) {
    }
}

// `changed`: the inode's change time too, which a rename itself may move.
bool IsState(const struct stat& st, const TargetState& target, bool changed) {
    return target.device == st.st_dev && target.inode == st.st_ino &&
           target.size == std::uint64_t(st.st_size) &&
           target.modifiedSeconds == st.st_mtim.tv_sec &&
           target.modifiedNanoseconds == st.st_mtim.tv_nsec &&
           (!changed || (target.changedSeconds == st.st_ctim.tv_sec &&
                         target.changedNanoseconds == st.st_ctim.tv_nsec));
}

}  // namespace

void SetBeforeReplaceHookForTests(std::function<void()> hook) {
    const std::lock_guard lock(gHookMutex);
    gHooked.store(static_cast<bool>(hook), std::memory_order_release);
    gBeforeReplace = std::move(hook);
}

bool StateOfTarget(int dirFd, const char* name, TargetState& state) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    state.exists = true;
    state.device = st.st_dev;
    state.inode = st.st_ino;
    state.size = std::uint64_t(st.st_size);
    state.modifiedSeconds = st.st_mtim.tv_sec;
    state.modifiedNanoseconds = st.st_mtim.tv_nsec;
    state.changedSeconds = st.st_ctim.tv_sec;
    state.changedNanoseconds = st.st_ctim.tv_nsec;
    return true;
}

bool ReplaceTarget(int dirFd, const char* temporary, const char* toName,
                   const TargetState& target) {
    if (!target.exists) {
        if (RenameNoReplace(dirFd, temporary, dirFd, toName)) {
            return true;
        }
        ::unlinkat(dirFd, temporary, 0);
        return false;
    }
    BeforeReplace();
    struct stat now {};
    if (::fstatat(dirFd, toName, &now, AT_SYMLINK_NOFOLLOW) != 0 || !IsState(now, target, true)) {
        ::unlinkat(dirFd, temporary, 0);  // the target changed: it stays as the user left it
        return false;
    }
    // The names are exchanged, and the file that leaves the name is looked at: should another
    // file have taken the name between the look above and the exchange, it gets its name back.
    if (::renameat2(dirFd, temporary, dirFd, toName, RENAME_EXCHANGE) == 0) {
        struct stat displaced {};
        if (::fstatat(dirFd, temporary, &displaced, AT_SYMLINK_NOFOLLOW) == 0 &&
            IsState(displaced, target, false)) {
            ::unlinkat(dirFd, temporary, 0);
            return true;
        }
        if (::renameat2(dirFd, temporary, dirFd, toName, RENAME_EXCHANGE) == 0) {
            ::unlinkat(dirFd, temporary, 0);
        } else {
            // The other file back under its name, over the copy.
            ::renameat(dirFd, temporary, dirFd, toName);
        }
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        ::unlinkat(dirFd, temporary, 0);
        return false;
    }
    // No exchange on this file system: the look above has to do.
    if (::renameat(dirFd, temporary, dirFd, toName) == 0) {
        return true;
    }
    ::unlinkat(dirFd, temporary, 0);
    return false;
}

bool GiveName(int outFd, int dirFd, const char* temporary, const char* toName,
              const TargetState& target, bool restamps, const timespec (&times)[2]) {
    const bool named = temporary[0] == '\0' ? LinkUnnamed(outFd, dirFd, toName) == Written::kDone
                                            : ReplaceTarget(dirFd, temporary, toName, target);
    if (named && restamps) {
        ::futimens(outFd, times);
    }
    return named;
}

bool HeldFolder::Name(const WaitingCopy& copy) const {
    return ReplaceTarget(fd_.get(), copy.temporary, copy.toName.c_str(), copy.target);
}
void HeldFolder::Remove(const char* temporary) const {
    ::unlinkat(fd_.get(), temporary, 0);
}

std::uint64_t CaseFoldedKey(std::uint64_t device, std::uint64_t inode, std::string_view name) {
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
    const auto mix = [&hash](std::uint64_t byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    for (int shift = 0; shift < 64; shift += 8) {
        mix((device >> shift) & 0xFF);
        mix((inode >> shift) & 0xFF);
    }
    for (const char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 'A' && byte <= 'Z') {
            byte = static_cast<unsigned char>(byte - 'A' + 'a');
        } else if (byte >= 0x80) {
            byte = 0x80;
        }
        mix(byte);
    }
    return hash;
}

bool CreateDirectory(std::string_view drivePath) {
    try {
        const auto native = ToNativePath(drivePath);
        return native && ::mkdir(native->c_str(), 0777) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        return lower(x) == lower(y);
    });
}

// Where a file system ignores case (FAT), "photos" and "Photos" name one entry, so a rename that
// changes only the case of the last name finds its new name taken. The entry goes through a
// temporary name; if the new name is still taken then, it was another entry, and the entry goes
// back.
bool RenameChangingCase(std::string_view from, std::string_view to) {
    from = TrimFolderPath(from);
    to = TrimFolderPath(to);
    const std::size_t slash = from.rfind('/');
    if (slash == std::string_view::npos || from == to ||
        to.substr(0, slash + 1) != from.substr(0, slash + 1) ||
        !SameIgnoringCase(from.substr(slash + 1), to.substr(slash + 1))) {
        return false;
    }
    const std::string source(from);
    const std::string target(to);
    // Not a name the copy pass passes over: should the second step never happen, the entry
    // stays visible under this name.
    const std::string temporary = std::string(from.substr(0, slash + 1)) + ".tarnwick-rename-" +
                                  std::to_string(ProcessId()) + "-" +
                                  std::to_string(NextTemporarySequence());
    if (!RenameNoReplace(AT_FDCWD, source.c_str(), AT_FDCWD, temporary.c_str())) {
        return false;
    }
    if (RenameNoReplace(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str())) {
        return true;
    }
    RenameNoReplace(AT_FDCWD, temporary.c_str(), AT_FDCWD, source.c_str());
    return false;
}

}  // namespace

bool MoveFile(std::string_view fromDrivePath, std::string_view toDrivePath) {
    try {
        const auto from = ToNativePath(fromDrivePath);
        const auto to = ToNativePath(toDrivePath);
        if (!from || !to) {
            return false;
        }
        return RenameNoReplace(AT_FDCWD, from->c_str(), AT_FDCWD, to->c_str()) ||
               RenameChangingCase(*from, *to);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tarnwick::platform
