#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <string_view>

#include "platform/replace_file.h"
#include "platform/system/seams.h"
#include "platform/system/system.h"
#include "platform/unique_fd.h"
#include "platform/volumes/drives.h"

namespace tarnwick::platform {

void RaiseOpenFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::uint64_t OpenFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::uint64_t{1} << 20;
    }
    return limit.rlim_cur;
}

namespace {

// The original platform's names hold at most 15 characters.
constexpr std::size_t kMaxComputerName = 15;
// Paths exchanged with the executable-path query fit 1,024 bytes with their terminator.
constexpr std::size_t kMaxExecutablePath = 1023;

}  // namespace

std::optional<std::string> ComputerName() {
    try {
        if (auto seam = SeamAnswer(Seam::kComputerName)) {
            return *seam;
        }
        utsname names{};
        if (::uname(&names) != 0) {
            return std::nullopt;
        }
        std::string name = names.nodename;
        name = name.substr(0, name.find('.'));
        if (name.size() > kMaxComputerName) {
            name.resize(kMaxComputerName);
        }
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        if (name.empty()) {
            return std::nullopt;
        }
        return name;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<MappedFile> MappedFileAt(std::string_view maps, std::uintptr_t address) {
    // "start-end perms offset major:minor inode   path"
    while (!maps.empty()) {
        const std::size_t lineEnd = maps.find('\n');
        std::string_view line = maps.substr(0, lineEnd);
        maps.remove_prefix(lineEnd == std::string_view::npos ? maps.size() : lineEnd + 1);

        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
        const char* const last = line.data() + line.size();
        auto [afterStart, e1] = std::from_chars(line.data(), last, start, 16);
        if (e1 != std::errc() || afterStart == last || *afterStart != '-') {
            continue;
        }
        auto [afterEnd, e2] = std::from_chars(afterStart + 1, last, end, 16);
        if (e2 != std::errc() || address < start || address >= end) {
            continue;
        }
        // Three blank-separated fields (perms, offset, device), then the inode and the path.
        std::string_view rest(afterEnd, static_cast<std::size_t>(last - afterEnd));
        for (int field = 0; field < 4; ++field) {
            const std::size_t begin = rest.find_first_not_of(' ');
            if (begin == std::string_view::npos) {
                return std::nullopt;
            }
            rest.remove_prefix(begin);
            if (field == 3) {
                break;
            }
            rest.remove_prefix(std::min(rest.find(' '), rest.size()));
        }
        MappedFile mapped;
        auto [afterInode, e3] =
            std::from_chars(rest.data(), rest.data() + rest.size(), mapped.inode);
        if (e3 != std::errc()) {
            return std::nullopt;
        }
        rest.remove_prefix(static_cast<std::size_t>(afterInode - rest.data()));
        const std::size_t pathStart = rest.find_first_not_of(' ');
        if (mapped.inode == 0 || pathStart == std::string_view::npos || rest[pathStart] != '/') {
            return std::nullopt;
        }
        mapped.path = std::string(rest.substr(pathStart));
        return mapped;
    }
    return std::nullopt;
}

namespace {

// Once the executable's file is replaced (an update, a copy written over it) the kernel adds
// " (deleted)" to the name, and the settings file would be looked for under a name that was
// never there. The place the program was started from is still its place. `running` tells
// whether a file found under the whole name is the running one, whose name really ends so.
void DropDeletedMark(std::string& path, const std::function<bool(const struct stat&)>& running) {
    constexpr std::string_view kDeletedMark = " (deleted)";
    if (!path.ends_with(kDeletedMark)) {
        return;
    }
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0 || !running(named)) {
        path.resize(path.size() - kDeletedMark.size());
    }
}

// The memory map of a process is a line per mapping; a few MiB hold tens of thousands.
constexpr std::size_t kMaxMapsSize = 16 << 20;

// An address in the main program's own first segment: the dynamic linker lists the main program
// first, however it was started.
std::uintptr_t MainProgramAddress() {
    std::uintptr_t address = 0;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
                if (info->dlpi_phdr[i].p_type == PT_LOAD) {
                    *static_cast<std::uintptr_t*>(data) =
                        info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
                    break;
                }
            }
            return 1;  // only the first object
        },
        &address);
    return address;
}

// The main program's file where it is not the file /proc/self/exe names: started as the
// argument of its interpreter. nullopt when started in place, or when it cannot be told.
std::optional<std::string> LoadedByInterpreter(const std::string& exeLink) {
    const std::uintptr_t address = MainProgramAddress();
    const std::optional<std::string> maps =
        address != 0 ? ReadWholeFile("/proc/self/maps", kMaxMapsSize) : std::nullopt;
    std::optional<MappedFile> mapped = maps ? MappedFileAt(*maps, address) : std::nullopt;
    if (!mapped || mapped->path == exeLink) {
        return std::nullopt;
    }
    DropDeletedMark(mapped->path,
                    [&](const struct stat& named) { return named.st_ino == mapped->inode; });
    return mapped->path;
}

std::optional<std::string> ExeLink() {
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        return std::nullopt;
    }
    path.resize(static_cast<std::size_t>(length));
    return path;
}

// How the program was started does not change while it runs: the memory map is read again only
// for a program started through its interpreter.
bool StartedThroughInterpreter() {
    static const bool through = [] {
        const std::optional<std::string> link = ExeLink();
        return link && LoadedByInterpreter(*link);
    }();
    return through;
}

}  // namespace

std::optional<std::string> NativeExecutablePath() {
    try {
        if (auto seam = SeamAnswer(Seam::kExecutablePath)) {
            return *seam;
        }
        std::optional<std::string> path = ExeLink();
        if (!path) {
            return std::nullopt;
        }
        if (StartedThroughInterpreter()) {
            if (std::optional<std::string> loaded = LoadedByInterpreter(*path)) {
                return loaded;
            }
        }
        struct stat running {};
        const bool known = ::stat("/proc/self/exe", &running) == 0;
        DropDeletedMark(*path, [&](const struct stat& named) {
            return known && running.st_dev == named.st_dev && running.st_ino == named.st_ino;
        });
        return path;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> ExecutablePath() {
    try {
        const auto native = NativeExecutablePath();
        if (!native) {
            return std::nullopt;
        }
        auto drivePath = ToDrivePath(*native);
        if (!drivePath || drivePath->size() > kMaxExecutablePath) {
            return std::nullopt;
        }
        return drivePath;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> HomeFolder() {
    try {
        if (auto seam = SeamAnswer(Seam::kHomeFolder)) {
            return *seam;
        }
        if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
            return std::string(home);
        }
        std::string buffer(1024, '\0');
        for (;;) {
            passwd entry{};
            passwd* found = nullptr;
            const int error =
                ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
            if (error == ERANGE && buffer.size() < 1024 * 1024) {
                buffer.resize(buffer.size() * 2);
                continue;
            }
            if (error != 0 || found == nullptr || found->pw_dir == nullptr ||
                found->pw_dir[0] != '/') {
                return std::nullopt;
            }
            return std::string(found->pw_dir);
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> UserStateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/tarnwick";
    }
    const std::optional<std::string> home = HomeFolder();
    if (!home) {
        return std::nullopt;
    }
    return (home->ends_with('/') ? *home : *home + '/') + ".local/state/tarnwick";
}

std::optional<std::string> UserRuntimeFolder() {
    try {
        if (auto seam = SeamAnswer(Seam::kRuntimeFolder)) {
            return *seam;
        }
        const uid_t user = ::getuid();
        const std::string runtime = "/run/user/" + std::to_string(user);
        struct stat st {};
        if (::lstat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == user &&
            (st.st_mode & 077) == 0) {
            return runtime + "/tarnwick";
        }
        const std::optional<std::string> home = HomeFolder();
        if (!home) {
            return std::nullopt;
        }
        return (home->ends_with('/') ? *home : *home + '/') + ".cache/tarnwick";
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string LocalDateTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) {
        return {};
    }
    char text[256];
    const std::size_t length = std::strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, length);
}

}  // namespace tarnwick::platform
