#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/profile/profile.h"
#include "platform/replace_file.h"
#include "platform/unique_fd.h"

namespace tarnwick::platform {

namespace {

// Writes of all threads of the process are taken one at a time, so that two read-modify-write
// cycles on the same file never lose one of the changes.
std::mutex gWriteMutex;

// O_NONBLOCK keeps a FIFO put in the file's place from blocking the open; only regular files are
// read.
int OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// Reads a regular file of at most kMaxProfileFileSize bytes from an open descriptor.
ProfileFileText ReadOpenFile(int fd, const struct stat& st) {
    if (!S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > kMaxProfileFileSize) {
        return {ProfileFileState::kUnusable, {}};
    }
    std::string text;
    text.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t filled = 0;
    // The file may grow while it is read; one byte beyond the limit tells that it became too big.
    for (;;) {
        if (filled == text.size()) {
            if (text.size() > kMaxProfileFileSize) {
                return {ProfileFileState::kUnusable, {}};
            }
            text.resize(std::min(text.size() * 2, kMaxProfileFileSize + 1));
        }
        const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {ProfileFileState::kUnusable, {}};
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    return {ProfileFileState::kLoaded, std::move(text)};
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The file a write replaces: the target of a symbolic link rather than the link itself, so that
// a settings file kept elsewhere through a link stays where it is.
std::string ReplacementTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

std::atomic<unsigned> gTempCounter{0};

}  // namespace

bool ReplaceFile(const std::string& target, std::string_view text, const struct stat* existing) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

    std::string tempPath;
    UniqueFd temp;
    for (int attempt = 0; attempt < 100 && temp.get() < 0; ++attempt) {
        tempPath = folder + "." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
                   std::to_string(gTempCounter.fetch_add(1));
        // 0666 less the umask for a new file, as any program creating it would give.
        temp.Reset(
            ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (temp.get() < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (temp.get() < 0) {
        return false;
    }

    bool ok = true;
    if (existing != nullptr) {
        if (::geteuid() == 0) {
            // Best effort: a root-run program should not take over the user's file.
            (void)::fchown(temp.get(), existing->st_uid, existing->st_gid);
        }
        // FAT and exFAT keep no permission bits of their own, and some of their drivers refuse
        // any change of mode (FUSE drivers answer ENOSYS): the settings file on a stick must
        // still take writes. Only a new file that would grant more than the old one is refused.
        if (::fchmod(temp.get(), existing->st_mode & 07777) != 0) {
            struct stat made {};
            ok =
                ::fstat(temp.get(), &made) == 0 && (made.st_mode & ~existing->st_mode & 07777) == 0;
        }
    }
    ok = ok && WriteAll(temp.get(), text) && ::fsync(temp.get()) == 0;
    ok = ::close(temp.release()) == 0 && ok;
    ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    // The rename itself is made durable on a best-effort basis: it has happened either way.
    if (const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        dir.get() >= 0) {
        (void)::fsync(dir.get());
    }
    return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > limit) {
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || text.size() > limit) {
            return std::nullopt;
        }
        if (got == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

bool MakeFoldersBelow(const std::string& home, const std::string& folder) {
    const std::string base = home.ends_with('/') ? home : home + '/';
    if (!folder.starts_with(base)) {
        return false;
    }
    for (std::size_t end = folder.find('/', base.size());; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
    }
}

namespace {

// `original`, when not empty, is the file `path` is a per-user copy of: a missing copy starts
// from it, in folders made below `home`.
template <typename Change>
bool ChangeFile(const std::string& path, const std::string& original, const std::string& home,
                Change&& change) {
    if (path.empty()) {
        return false;
    }
    std::lock_guard lock(gWriteMutex);
    const std::string target = ReplacementTarget(path);

    std::string before;
    struct stat st {};
    bool exists = false;
    if (const UniqueFd fd(OpenForReading(target)); fd.get() >= 0) {
        if (::fstat(fd.get(), &st) != 0) {
            return false;
        }
        // No write bit at all means read-only, also for root; access() adds what the caller may
        // not do (another owner, an immutable file, a read-only mount).
        if ((st.st_mode & 0222) == 0 ||
            ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            return false;
        }
        ProfileFileText loaded = ReadOpenFile(fd.get(), st);
        if (loaded.state != ProfileFileState::kLoaded) {
            return false;
        }
        before = std::move(loaded.text);
        exists = true;
    } else if (errno != ENOENT) {
        return false;
    } else if (!original.empty()) {
        // An original that cannot be read gives an empty copy; the original stays as it is.
        if (ProfileFileText seed = LoadProfileFile(original);
            seed.state == ProfileFileState::kLoaded) {
            before = std::move(seed.text);
        }
    }

    const std::optional<std::string> after = change(std::string_view(before));
    if (!after || after->size() > kMaxProfileFileSize) {
        return false;
    }
    if (*after == before) {
        return true;  // nothing changes in what is read
    }
    if (!exists && !original.empty()) {
        const std::size_t slash = target.rfind('/');
        if (slash == std::string::npos || !MakeFoldersBelow(home, target.substr(0, slash))) {
            return false;
        }
    }
    return ReplaceFile(target, *after, exists ? &st : nullptr);
}

std::int64_t Nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

ProfileFileText LoadProfileFile(const std::string& nativePath) {
    if (nativePath.empty()) {
        return {ProfileFileState::kMissing, {}};
    }
    const UniqueFd fd(OpenForReading(nativePath));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return {ProfileFileState::kMissing, {}};
        }
        return {ProfileFileState::kUnusable, {}};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return {ProfileFileState::kUnusable, {}};
    }
    return ReadOpenFile(fd.get(), st);
}

ProfileFile::ProfileFile(std::string nativePath) : path_(std::move(nativePath)) {}

ProfileFile::ProfileFile(ProfileStore store)
    : path_(std::move(store.path)),
      original_(std::move(store.original)),
      home_(std::move(store.home)) {}

const std::string& ProfileFile::ReadSource() const {
    if (original_.empty()) {
        return path_;
    }
    struct stat st {};
    if (path_.empty() ||
        (::lstat(path_.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))) {
        return original_;
    }
    return path_;
}

ProfileFile::~ProfileFile() {
    DropCache();
}

void ProfileFile::DropCache() {
    if (cachedFd_ >= 0) {
        ::close(cachedFd_);
        cachedFd_ = -1;
    }
    cachedIndex_ = ProfileIndex{};
}

const ProfileIndex& ProfileFile::CurrentIndex() {
    const std::string& source = ReadSource();
    struct stat st {};
    if (source.empty() || ::stat(source.c_str(), &st) != 0) {
        DropCache();
        return emptyIndex_;
    }
    const Identity now{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                       static_cast<std::int64_t>(st.st_size), Nanoseconds(st.st_mtim),
                       Nanoseconds(st.st_ctim)};
    if (cachedFd_ >= 0 && now == cachedIdentity_) {
        return cachedIndex_;
    }
    DropCache();
    UniqueFd fd(OpenForReading(source));
    struct stat opened {};
    if (fd.get() < 0 || ::fstat(fd.get(), &opened) != 0) {
        return emptyIndex_;
    }
    const ProfileFileText loaded = ReadOpenFile(fd.get(), opened);
    if (loaded.state != ProfileFileState::kLoaded) {
        return emptyIndex_;
    }
    // The identity is taken from the opened file, before reading: a change made while reading
    // shows as a changed identity on the next call.
    cachedIdentity_ = {static_cast<std::uint64_t>(opened.st_dev),
                       static_cast<std::uint64_t>(opened.st_ino),
                       static_cast<std::int64_t>(opened.st_size), Nanoseconds(opened.st_mtim),
                       Nanoseconds(opened.st_ctim)};
    cachedIndex_ = IndexProfile(loaded.text);
    cachedFd_ = fd.release();
    return cachedIndex_;
}

std::optional<std::string> ProfileFile::Read(std::string_view section, std::string_view key) {
    return LookupProfileValue(CurrentIndex(), section, key);
}

bool ProfileFile::Write(std::string_view section, std::string_view key, std::string_view value) {
    return ChangeFile(path_, original_, home_, [&](std::string_view text) {
        return ProfileWithValue(text, section, key, value);
    });
}

bool ProfileFile::EraseSection(std::string_view section) {
    return ChangeFile(path_, original_, home_,
                      [&](std::string_view text) -> std::optional<std::string> {
                          return ProfileWithoutSection(text, section);
                      });
}

}  // namespace tarnwick::platform
