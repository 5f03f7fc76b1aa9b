// Naming: the temporary names of copies, the renames that give copies their names or never
// replace anything, the keys on which names a case-insensitive volume takes for one fall, and
// new folders.
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <stdexcept>
#include <string>

#include "platform/files/copies.h"
#include "platform/files/files.h"
#include "platform/files/files_linux.h"
#include "platform/unique_fd.h"
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
    if (::fstatat(toDir, to, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) {
        return false;
    }
    return ::renameat(fromDir, from, toDir, to) == 0;
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

bool IsState(const struct stat& st, const TargetState& target, bool changed) {
    return target.device == st.st_dev && target.inode == st.st_ino &&
           target.size == std::uint64_t(st.st_size) &&
           target.modifiedSeconds == st.st_mtim.tv_sec &&
           target.modifiedNanoseconds == st.st_mtim.tv_nsec &&
           (!changed || (target.changedSeconds == st.st_ctim.tv_sec &&
                         target.changedNanoseconds == st.st_ctim.tv_nsec));
}

void TakeState(const struct stat& st, TargetState& state) {
    state.exists = true;
    state.device = st.st_dev;
    state.inode = st.st_ino;
    state.size = std::uint64_t(st.st_size);
    state.modifiedSeconds = st.st_mtim.tv_sec;
    state.modifiedNanoseconds = st.st_mtim.tv_nsec;
    state.changedSeconds = st.st_ctim.tv_sec;
    state.changedNanoseconds = st.st_ctim.tv_nsec;
}

std::string AsideName(std::string_view name) {
    std::string aside =
        AsideNameOf(name, static_cast<std::uint64_t>(ProcessId()), NextTemporarySequence());
    return aside.size() <= NAME_MAX ? aside : std::string();
}

std::string_view NameBeforeAside(std::string_view aside) {
    const std::string_view own = OwnNameIn(aside);
    return IsPlainName(own) ? own : std::string_view();
}

Restored GiveNameBack(int dirFd, const char* aside, std::string_view name) {
    const std::string own(name);
    if (RenameNoReplace(dirFd, aside, dirFd, own.c_str())) {
        return Restored::kOwnName;
    }
    if (errno != EEXIST) {
        return Restored::kFailed;
    }
    // The name is taken by a newer file: this one goes beside it, visible, with its extension.
    for (int number = 1; number <= kMostKeptBeside; ++number) {
        const std::string beside = KeptBesideName(name, number);
        if (beside.size() > NAME_MAX) {
            return Restored::kFailed;
        }
        if (RenameNoReplace(dirFd, aside, dirFd, beside.c_str())) {
            return Restored::kBeside;
        }
        if (errno != EEXIST) {
            return Restored::kFailed;
        }
    }
    return Restored::kFailed;
}

namespace {

// Removes the copy that is not to be named.
void Discard(int dirFd, const char* temporary, const char* toName) {
    CopyStepReached(CopyStep::kRemoved, toName);
    ::unlinkat(dirFd, temporary, 0);
}

// Where names cannot be exchanged (FAT, exFAT, NTFS through their FUSE drivers, NFS, CIFS), the
// target is moved aside under a hidden name first: a save after that creates a new file under
// the name, which the copy then does not take. What was moved is compared with the state decided
// on and gets its name back when it is another file. Should the program end in between, the next
// pass gives the file its name back (Directory::RemoveLeftoverCopies).
FileError ReplaceMovingAside(int dirFd, const char* temporary, const char* toName,
                             const TargetState& target, bool restamps) {
    const std::string aside = AsideName(toName);
    if (aside.empty()) {
        Discard(dirFd, temporary, toName);
        return SystemError(FileConcern::kTarget, ENAMETOOLONG);
    }
    // The target held open tells, after the move, which file went aside: some drivers give a
    // renamed file a new time (FAT through FUSE), or number files by their place in the folder.
    const UniqueFd held(RetryOpenAt(dirFd, toName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat before {};
    if (held.valid() && (::fstat(held.get(), &before) != 0 || !IsState(before, target, false))) {
        Discard(dirFd, temporary, toName);
        return Refused(FileRefusal::kTargetChanged);
    }
    CopyStepReached(CopyStep::kMovedAside, toName);
    if (!RenameNoReplace(dirFd, toName, dirFd, aside.c_str())) {
        const int error = errno;
        Discard(dirFd, temporary, toName);
        return error == ENOENT ? Refused(FileRefusal::kTargetChanged)
                               : SystemError(FileConcern::kTarget, error);
    }
    struct stat moved {};
    struct stat opened {};
    const bool same =
        ::fstatat(dirFd, aside.c_str(), &moved, AT_SYMLINK_NOFOLLOW) == 0 &&
        (held.valid() ? ::fstat(held.get(), &opened) == 0 && opened.st_dev == moved.st_dev &&
                            opened.st_ino == moved.st_ino &&
                            (restamps ? std::uint64_t(opened.st_size) == target.size
                                      : IsState(opened, target, false))
                      : IsState(moved, target, false));
    if (!same) {
        GiveNameBack(dirFd, aside.c_str(), toName);
        Discard(dirFd, temporary, toName);
        return Refused(FileRefusal::kTargetChanged);
    }
    CopyStepReached(CopyStep::kNamed, toName);
    if (!RenameNoReplace(dirFd, temporary, dirFd, toName)) {
        const int error = errno;
        Discard(dirFd, temporary, toName);
        // A new file took the name meanwhile: it is the user's latest. The old one was to be
        // replaced; it stays beside, since nothing of the user's is removed on a guess.
        GiveNameBack(dirFd, aside.c_str(), toName);
        return error == EEXIST ? Refused(FileRefusal::kTargetChanged)
                               : SystemError(FileConcern::kTarget, error);
    }
    CopyStepReached(CopyStep::kRemoved, toName);
    ::unlinkat(dirFd, aside.c_str(), 0);
    return {};
}

}  // namespace

FileError ReplaceTarget(int dirFd, const char* temporary, const char* toName,
                        const TargetState& target, bool restamps) {
    if (!target.exists) {
        CopyStepReached(CopyStep::kNamed, toName);
        if (RenameNoReplace(dirFd, temporary, dirFd, toName)) {
            return {};
        }
        const int error = errno;
        Discard(dirFd, temporary, toName);
        // A file that appeared under a name that was free is the user's: left as it is.
        return error == EEXIST ? Refused(FileRefusal::kTargetChanged)
                               : SystemError(FileConcern::kTarget, error);
    }
    CopyStepReached(CopyStep::kLooked, toName);
    struct stat now {};
    if (::fstatat(dirFd, toName, &now, AT_SYMLINK_NOFOLLOW) != 0 || !IsState(now, target, true)) {
        Discard(dirFd, temporary, toName);  // the target changed: it stays as the user left it
        return Refused(FileRefusal::kTargetChanged);
    }
    // The names are exchanged, and the file that leaves the name is looked at: should another
    // file have taken the name between the look above and the exchange, it gets its name back.
    CopyStepReached(CopyStep::kNamed, toName);
    if (::renameat2(dirFd, temporary, dirFd, toName, RENAME_EXCHANGE) == 0) {
        CopyStepReached(CopyStep::kDisplaced, toName);
        struct stat displaced {};
        if (::fstatat(dirFd, temporary, &displaced, AT_SYMLINK_NOFOLLOW) == 0 &&
            IsState(displaced, target, false)) {
            Discard(dirFd, temporary, toName);
            return {};
        }
        if (::renameat2(dirFd, temporary, dirFd, toName, RENAME_EXCHANGE) == 0) {
            Discard(dirFd, temporary, toName);
            return Refused(FileRefusal::kTargetChanged);
        }
        // The user's file takes its name back over the copy; where even that fails it must not
        // stay under a name that the next pass removes as a leftover: it goes under a name that
        // the next pass gives back, and the run tells of it.
        if (::renameat(dirFd, temporary, dirFd, toName) == 0) {
            return Refused(FileRefusal::kTargetChanged);
        }
        const int error = errno;
        const std::string aside = AsideName(toName);
        if (!aside.empty() && RenameNoReplace(dirFd, temporary, dirFd, aside.c_str())) {
            GiveNameBack(dirFd, aside.c_str(), toName);
        }
        return SystemError(FileConcern::kTarget, error);
    }
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) {
        Discard(dirFd, temporary, toName);
        return SystemError(FileConcern::kTarget, error);
    }
    return ReplaceMovingAside(dirFd, temporary, toName, target, restamps);
}

FileError GiveName(int outFd, int dirFd, const char* temporary, const char* toName,
                   const TargetState& target, bool restamps, const timespec (&times)[2]) {
    FileError failed;
    if (temporary[0] == '\0') {
        CopyStepReached(CopyStep::kNamed, toName);
        const Written linked = LinkUnnamed(outFd, dirFd, toName);
        if (linked != Written::kDone) {
            failed = errno == EEXIST ? Refused(FileRefusal::kTargetChanged)
                                     : SystemError(FileConcern::kTarget);
        }
    } else {
        failed = ReplaceTarget(dirFd, temporary, toName, target, restamps);
    }
    if (!failed && restamps) {
        ::futimens(outFd, times);
    }
    return failed;
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
