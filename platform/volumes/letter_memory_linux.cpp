// The letter memory's file: read, changed and replaced under an exclusive lock of a file beside
// it. Nothing here may stop the program: every failure leaves the caller's own copy in use.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/replace_file.h"
#include "platform/system/system.h"
#include "platform/unique_fd.h"
#include "platform/volumes/letter_memory.h"

namespace tarnwick::platform {

namespace {

// A memory is a few lines per letter; anything far larger is not one.
constexpr std::size_t kMaxMemorySize = 1 << 20;

// The lock is held for a read and a write of a small file; one held longer belongs to a process
// that hangs, and is not waited for.
constexpr auto kLockWait = std::chrono::seconds(2);

bool Lock(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

std::optional<std::string> LetterMemoryPath() {
    const std::optional<std::string> folder = UserStateFolder();
    if (!folder) {
        return std::nullopt;
    }
    return *folder + "/letters";
}

bool UpdateLetterMemory(const std::string& path, LetterMemory& memory,
                        const std::function<void(LetterMemory&)>& update) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        (void)MakeFoldersBelow("/", path.substr(0, slash));
    }
    const UniqueFd lock(
        ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    const bool locked = lock.get() >= 0 && Lock(lock.get());
    const std::optional<std::string> text = ReadWholeFile(path, kMaxMemorySize);
    if (text) {
        memory = ParseLetterMemory(*text);
    }
    const LetterMemory before = memory;
    update(memory);
    if (!locked) {
        return false;
    }
    if (text && memory == before && *text == FormatLetterMemory(memory)) {
        return true;
    }
    struct stat mode {};
    mode.st_mode = 0600;
    mode.st_uid = ::geteuid();
    mode.st_gid = ::getegid();
    return ReplaceFile(path, FormatLetterMemory(memory), &mode);
}

}  // namespace tarnwick::platform
