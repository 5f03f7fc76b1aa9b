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
#include "platform/files/files.h"

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

inline constexpr std::string_view kTemporaryPrefix = ".tarnwick-";
inline constexpr std::string_view kTemporarySuffix = ".tmp";

pid_t ProcessId();
// A hidden name, unique within the process; O_EXCL makes it unique in the folder.
void FormatTemporaryName(char (&buffer)[64], std::uint64_t sequence);
std::uint64_t NextTemporarySequence();

// A rename that never replaces an existing entry.
bool RenameNoReplace(int fromDir, const char* from, int toDir, const char* to);

enum class Written { kDone, kFailed, kUnsupported };
// Names an unnamed file; never replaces an existing entry.
Written LinkUnnamed(int fd, int dirFd, const char* name);
// The state of the entry `name` (not followed) that a copy may replace.
bool StateOfTarget(int dirFd, const char* name, TargetState& state);
// Gives the finished copy `temporary` the name `toName`: a free name where the target did not
// exist, otherwise only over the target in the state it had. The temporary file is gone
// afterwards, named or removed.
bool ReplaceTarget(int dirFd, const char* temporary, const char* toName, const TargetState& target);
// Gives a finished copy its name (`temporary` empty: the open unnamed file `outFd`, which never
// replaces anything). `restamps`: the time is given again after the rename.
bool GiveName(int outFd, int dirFd, const char* temporary, const char* toName,
              const TargetState& target, bool restamps, const timespec (&times)[2]);

}  // namespace tarnwick::platform
