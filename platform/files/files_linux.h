#pragma once
// What the Linux files of platform/files/ share among themselves: names, opening, looking up,
// temporary names and renames that never replace. Not for use outside platform/files/.

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/copies.h"
#include "platform/files/copy_steps.h"
#include "platform/files/files.h"
#include "platform/files/moved_aside.h"

namespace tarnwick::platform {

inline bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

inline bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

inline bool IsDotOrDotDot(std::string_view name) {
    return name == "." || name == "..";
}

// A name that can stand on its own inside a folder: not empty, no separator of either kind, no
// NUL, not "." or "..".
inline bool IsPlainName(std::string_view name) {
    if (name.empty() || IsDotOrDotDot(name)) {
        return false;
    }
    return name.find('/') == std::string_view::npos && name.find('\\') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

inline int RetryOpenAt(int dirFd, const char* name, int flags, mode_t mode = 0) {
    int fd = 0;
    do {
        fd = ::openat(dirFd, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// --- Looking up (listing_linux.cpp) ---

// Write permission as the mode bits grant it (root is held to them too).
bool DeniesWrite(const struct stat& st, int dirFd, const char* name);
// Links are followed; a link that leads nowhere is described by itself.
bool StatFollowing(int dirFd, const char* path, struct stat& st);
// Trailing separators and "." names do not change which folder a native path names.
std::string_view TrimFolderPath(std::string_view native);

struct OpenedFolder {
    std::optional<Directory> folder;
    std::string name;
};
// The folder of a drive path, opened, and the last name of the path.
std::optional<OpenedFolder> OpenFolderOf(std::string_view drivePath);

// --- Temporary names and renames (naming_linux.cpp) ---

pid_t ProcessId();
// A hidden name, unique within the process; O_EXCL makes it unique in the folder.
void FormatTemporaryName(char (&buffer)[64], std::uint64_t sequence);
std::uint64_t NextTemporarySequence();

// A rename that never replaces an existing entry.
bool RenameNoReplace(int fromDir, const char* from, int toDir, const char* to);

enum class Written { kDone, kFailed, kUnsupported };
// Names an unnamed file; never replaces an existing entry.
Written LinkUnnamed(int fd, int dirFd, const char* name);
// The error of the call that just failed, about `concerns`.
inline FileError SystemError(FileConcern concerns, int error = errno) {
    return FileError{FileRefusal::kSystem, error, concerns};
}
inline FileError Refused(FileRefusal refusal, FileConcern concerns = FileConcern::kTarget) {
    return FileError{refusal, 0, concerns};
}

// Whether `st` is the state `target` was taken in. `changed`: the inode's change time too, which
// a rename itself may move.
bool IsState(const struct stat& st, const TargetState& target, bool changed);
void TakeState(const struct stat& st, TargetState& state);

// Gives the finished copy `temporary` the name `toName`: a free name where the target did not
// exist, otherwise only over the target in the state it had. The temporary file is gone
// afterwards, named or removed, and so is every file of the user's that left the name for a
// moment: it has its name back, or one beside it.
// `restamps`: the volume gives a renamed file a new time (see Directory::RestampsOnRename).
FileError ReplaceTarget(int dirFd, const char* temporary, const char* toName,
                        const TargetState& target, bool restamps);
// Gives a finished copy its name (`temporary` empty: the open unnamed file `outFd`, which never
// replaces anything). `restamps`: the time is given again after the rename.
FileError GiveName(int outFd, int dirFd, const char* temporary, const char* toName,
                   const TargetState& target, bool restamps, const timespec (&times)[2]);

// --- Files of the user's moved aside (naming_linux.cpp) ---

// A hidden name for the file `name` while it is moved aside, which tells the next pass whose
// file it is; empty where `name` is too long to be told in one.
std::string AsideName(std::string_view name);
// The name a file moved aside had; empty for any other name.
std::string_view NameBeforeAside(std::string_view aside);
// Gives the file moved aside under `aside` its name back, or where that name is taken, a name
// beside it ("report (kept).txt"). kDone: its own name; kFailed: it stays as it is.
Restored GiveNameBack(int dirFd, const char* aside, std::string_view name);

}  // namespace tarnwick::platform
