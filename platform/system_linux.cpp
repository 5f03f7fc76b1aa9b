#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string_view>

#include "platform/drives.h"
#include "platform/system.h"

namespace tarnwick::platform {

namespace {

// The original platform's names hold at most 15 characters.
constexpr std::size_t kMaxComputerName = 15;
// Paths exchanged with the executable-path query fit 1,024 bytes with their terminator.
constexpr std::size_t kMaxExecutablePath = 1023;

std::mutex gSeamMutex;
std::optional<std::string> gComputerNameForTesting;
std::optional<std::string> gExecutablePathForTesting;
std::optional<std::string> gHomeFolderForTesting;

// nullopt: no seam set; a set seam answers its value, an empty value meaning "cannot be had".
std::optional<std::optional<std::string>> SeamValue(const std::optional<std::string>& seam) {
    if (!seam) {
        return std::nullopt;
    }
    if (seam->empty()) {
        return std::optional<std::string>{};
    }
    return std::optional<std::string>{*seam};
}

}  // namespace

std::optional<std::string> ComputerName() {
    try {
        {
            std::lock_guard lock(gSeamMutex);
            if (auto seam = SeamValue(gComputerNameForTesting)) {
                return *seam;
            }
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

std::optional<std::string> NativeExecutablePath() {
    try {
        {
            std::lock_guard lock(gSeamMutex);
            if (auto seam = SeamValue(gExecutablePathForTesting)) {
                return *seam;
            }
        }
        std::string path(PATH_MAX, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
            return std::nullopt;
        }
        path.resize(static_cast<std::size_t>(length));
        // Once the executable's file is replaced (an update, a copy written over it) the kernel
        // adds " (deleted)" to the name, and the settings file would be looked for under a name
        // that was never there. The place the program was started from is still its place.
        constexpr std::string_view kDeletedMark = " (deleted)";
        if (path.ends_with(kDeletedMark)) {
            struct stat running {};
            struct stat named {};
            const bool marksTheName =
                ::stat("/proc/self/exe", &running) == 0 && ::stat(path.c_str(), &named) == 0 &&
                running.st_dev == named.st_dev && running.st_ino == named.st_ino;
            if (!marksTheName) {
                path.resize(path.size() - kDeletedMark.size());
            }
        }
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
        {
            std::lock_guard lock(gSeamMutex);
            if (auto seam = SeamValue(gHomeFolderForTesting)) {
                return *seam;
            }
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

void SetComputerNameForTesting(std::optional<std::string> name) {
    std::lock_guard lock(gSeamMutex);
    gComputerNameForTesting = std::move(name);
}

void SetExecutablePathForTesting(std::optional<std::string> nativePath) {
    std::lock_guard lock(gSeamMutex);
    gExecutablePathForTesting = std::move(nativePath);
}

void SetHomeFolderForTesting(std::optional<std::string> nativePath) {
    std::lock_guard lock(gSeamMutex);
    gHomeFolderForTesting = std::move(nativePath);
}

}  // namespace tarnwick::platform
