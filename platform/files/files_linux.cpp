#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/volumes/drives.h"
#include "platform/files/files.h"
#include "platform/unique_fd.h"

namespace tarnwick::platform {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

bool IsDotOrDotDot(std::string_view name) {
    return name == "." || name == "..";
}

// A name that can stand on its own inside a folder: not empty, no separator of either kind, no
// NUL, not "." or "..".
bool IsPlainName(std::string_view name) {
    if (name.empty() || IsDotOrDotDot(name)) {
        return false;
    }
    return name.find('/') == std::string_view::npos && name.find('\\') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// '*' any run of characters, '?' exactly one; "*.*" matches every name, also one without a dot.
bool MatchesPattern(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*") {
        return true;
    }
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

int RetryOpenAt(int dirFd, const char* name, int flags, mode_t mode = 0) {
    int fd = 0;
    do {
        fd = ::openat(dirFd, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Write permission as the mode bits grant it. Root is held to the bits as well: the kernel would
// let it write anything (and a rename over a file only needs the folder's permission), but a file
// nobody may write is a read-only file to this program.
bool DeniesWrite(const struct stat& st, int dirFd, const char* name) {
    const uid_t euid = ::geteuid();
    if (euid == 0) {
        return (st.st_mode & 0222) == 0;
    }
    if (st.st_uid == euid) {
        return (st.st_mode & S_IWUSR) == 0;
    }
    // Group membership (supplementary groups, ACLs) is the kernel's to judge.
    return ::faccessat(dirFd, name, W_OK, AT_EACCESS) != 0;
}

FindData MakeFindData(const struct stat& st, std::string_view name) {
    FindData data;
    // The attribute belongs to the file, not to whoever looks at it: the owner's write bit.
    const bool readOnly = (st.st_mode & S_IWUSR) == 0;
    if (S_ISDIR(st.st_mode)) {
        data.attributes |= kAttributeDirectory;
    } else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode) ||
               S_ISBLK(st.st_mode)) {
        data.attributes |= kAttributeDevice;
    }
    if (readOnly) {
        data.attributes |= kAttributeReadOnly;
    }
    if (!name.empty() && name.front() == '.' && !IsDotOrDotDot(name)) {
        data.attributes |= kAttributeHidden;
    }
    if (data.attributes == 0) {
        data.attributes = kAttributeNormal;
    }
    data.lastWriteTime = FileTimeFromTimespec(st.st_mtim);
    data.size = static_cast<std::uint64_t>(st.st_size);
    data.device = static_cast<std::uint64_t>(st.st_dev);
    data.inode = static_cast<std::uint64_t>(st.st_ino);
    data.name.assign(name);
    return data;
}

// Links are followed; a link that leads nowhere (or round in circles) is described by itself.
// Most entries are no links, so the entry itself is asked first: one call for them.
bool StatOne(int dirFd, const char* path, int flags, struct stat& st) {
    // statx asked for only what is used here: cheaper than a full stat on every file system.
    constexpr unsigned kMask = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_MTIME |
                               STATX_ATIME | STATX_SIZE | STATX_INO;
    struct statx sx {};
    if (::statx(dirFd, path, flags, kMask, &sx) != 0) {
        return false;
    }
    st = {};
    st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.st_ino = sx.stx_ino;
    st.st_mode = sx.stx_mode;
    st.st_uid = sx.stx_uid;
    st.st_gid = sx.stx_gid;
    st.st_size = static_cast<off_t>(sx.stx_size);
    st.st_atim = {static_cast<time_t>(sx.stx_atime.tv_sec), sx.stx_atime.tv_nsec};
    st.st_mtim = {static_cast<time_t>(sx.stx_mtime.tv_sec), sx.stx_mtime.tv_nsec};
    return true;
}

bool StatFollowing(int dirFd, const char* path, struct stat& st) {
    if (!StatOne(dirFd, path, AT_SYMLINK_NOFOLLOW, st)) {
        return false;
    }
    struct stat target {};
    if (S_ISLNK(st.st_mode) && StatOne(dirFd, path, 0, target)) {
        st = target;
    }
    return true;
}

std::optional<FindData> StatAt(int dirFd, const char* path, std::string_view name,
                               FatClockCache& clocks) {
    struct stat st {};
    if (!StatFollowing(dirFd, path, st)) {
        return std::nullopt;
    }
    FindData data = MakeFindData(st, name);
    data.lastWriteTime = clocks.Reading(data.device, data.lastWriteTime);
    return data;
}

// Trailing separators and "." names do not change which folder a native path names.
std::string_view TrimFolderPath(std::string_view native) {
    for (;;) {
        if (native.size() > 1 && native.back() == '/') {
            native.remove_suffix(1);
        } else if (native.size() > 2 && native.ends_with("/.")) {
            native.remove_suffix(2);
        } else if (native == ".") {
            return "/";
        } else {
            return native;
        }
    }
}

struct SplitPath {
    std::string_view folder;  // drive path of the folder, may end with a separator
    std::string_view name;    // last name, possibly empty
};

// "E:\Photos\a.jpg" -> {"E:\Photos\", "a.jpg"}; "E:a.jpg" -> {"E:", "a.jpg"}.
std::optional<SplitPath> SplitLastName(std::string_view path) {
    std::size_t cut = std::string_view::npos;
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1])) {
            cut = i;
            break;
        }
    }
    if (cut == std::string_view::npos) {
        if (path.size() >= 2 && path[1] == ':') {
            cut = 2;
        } else {
            return std::nullopt;
        }
    }
    return SplitPath{path.substr(0, cut), path.substr(cut)};
}

bool IsDriveRoot(std::string_view folderDrivePath, std::string_view nativeFolder) {
    if (folderDrivePath.empty()) {
        return false;
    }
    const auto root = ToNativePath(std::string{folderDrivePath.front(), ':', '\\'});
    return root && TrimFolderPath(*root) == TrimFolderPath(nativeFolder);
}

std::optional<FindData> FindFirstMatch(std::string_view folderDrivePath, std::string_view pattern) {
    const auto nativeFolder = ToNativePath(folderDrivePath);
    if (!nativeFolder) {
        return std::nullopt;
    }
    const int fd = RetryOpenAt(AT_FDCWD, nativeFolder->c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return std::nullopt;
    }
    DIR* const listing = ::fdopendir(fd);
    if (listing == nullptr) {
        ::close(fd);
        return std::nullopt;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(listing, ::closedir);
    FatClockCache clocks;

    // The original platform lists "." and ".." first in every folder but a drive's root.
    if (!IsDriveRoot(folderDrivePath, *nativeFolder)) {
        for (const char* dots : {".", ".."}) {
            if (MatchesPattern(pattern, dots)) {
                if (auto found = StatAt(fd, dots, dots, clocks)) {
                    return found;
                }
            }
        }
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (IsDotOrDotDot(name) || name.find('\\') != std::string_view::npos ||
            !MatchesPattern(pattern, name)) {
            continue;
        }
        if (auto found = StatAt(fd, entry->d_name, name, clocks)) {
            return found;
        }
    }
    return std::nullopt;
}

// --- File copy -----------------------------------------------------------------------------

constexpr std::size_t kCopyBufferSize = 1 << 20;

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Copies up to `limit` bytes, or to the end where the size is not known (0).
bool ReadWriteRest(int in, int out, std::uint64_t limit) {
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer) {
        buffer = std::make_unique_for_overwrite<char[]>(kCopyBufferSize);
    }
    for (std::uint64_t copied = 0; limit == 0 || copied < limit;) {
        const std::size_t wanted = limit == 0 ? kCopyBufferSize
                                              : static_cast<std::size_t>(std::min<std::uint64_t>(
                                                    kCopyBufferSize, limit - copied));
        const ssize_t got = ::read(in, buffer.get(), wanted);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (!WriteAll(out, buffer.get(), static_cast<std::size_t>(got))) {
            return false;
        }
        copied += static_cast<std::uint64_t>(got);
    }
    return true;
}

// Copies the contents from the current offsets on, as many bytes as the file had when it was
// opened (a file that grows meanwhile cannot keep the copy going forever). The kernel copies
// within the file system where it can; elsewhere (another file system, a file system without
// support) the bytes go through a buffer.
bool CopyContents(int in, int out, std::uint64_t expectedSize) {
    std::uint64_t copied = 0;
    for (;;) {
        if (expectedSize > 0 && copied >= expectedSize) {
            return true;
        }
        const std::size_t wanted = expectedSize == 0
                                       ? std::size_t{1} << 30
                                       : static_cast<std::size_t>(std::min<std::uint64_t>(
                                             std::uint64_t{1} << 30, expectedSize - copied));
        const ssize_t got = ::copy_file_range(in, nullptr, out, nullptr, wanted, 0);
        if (got > 0) {
            copied += static_cast<std::uint64_t>(got);
            continue;
        }
        if (got == 0) {
            // The end, a file that shrank, or a pseudo file system that reports nothing to copy
            // for a file that has contents: reading settles it.
            return ReadWriteRest(in, out, expectedSize == 0 ? 0 : expectedSize - copied);
        }
        switch (errno) {
            case EINTR:
                continue;
            case EXDEV:
            case EINVAL:
            case ENOSYS:
            case EOPNOTSUPP:
            case EPERM:
            case ETXTBSY:
                return ReadWriteRest(in, out, expectedSize == 0 ? 0 : expectedSize - copied);
            default:
                return false;
        }
    }
}

constexpr std::string_view kTemporaryPrefix = ".tarnwick-";
constexpr std::string_view kTemporarySuffix = ".tmp";

// The process id and umask do not change while the program runs, except for the id in a forked
// child (tests fork).
std::atomic<pid_t> gProcessId{0};

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
// with other threads creating files). 0777 when unknown, so permissions are always given again.
mode_t ProcessUmask() {
    static const mode_t mask = [] {
        std::FILE* status = std::fopen("/proc/self/status", "re");
        if (status == nullptr) {
            return mode_t{0777};
        }
        mode_t found = 0777;
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                found = static_cast<mode_t>(value & 0777);
                break;
            }
        }
        std::fclose(status);
        return found;
    }();
    return mask;
}

// Hidden, and unique within the process; O_EXCL makes it unique in the folder.
void FormatTemporaryName(char (&buffer)[64], std::uint64_t sequence) {
    char* out = std::copy(kTemporaryPrefix.begin(), kTemporaryPrefix.end(), buffer);
    out = std::to_chars(out, buffer + 32, static_cast<std::uint64_t>(ProcessId())).ptr;
    *out++ = '-';
    out = std::to_chars(out, buffer + 54, sequence).ptr;
    out = std::copy(kTemporarySuffix.begin(), kTemporarySuffix.end(), out);
    *out = '\0';
}

std::atomic<std::uint64_t> gTemporarySequence{0};

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

struct OpenedFolder {
    std::optional<Directory> folder;
    std::string name;
};

// The folder of a drive path, opened, and the last name of the path.
std::optional<OpenedFolder> OpenFolderOf(std::string_view drivePath) {
    const auto split = SplitLastName(drivePath);
    if (!split || !IsPlainName(split->name)) {
        return std::nullopt;
    }
    auto folder = Directory::Open(split->folder);
    if (!folder) {
        return std::nullopt;
    }
    return OpenedFolder{std::move(folder), std::string(split->name)};
}

}  // namespace

bool IsTemporaryCopyName(std::string_view name) {
    if (name.size() <= kTemporaryPrefix.size() + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) {
        return false;
    }
    const std::string_view middle = name.substr(
        kTemporaryPrefix.size(), name.size() - kTemporaryPrefix.size() - kTemporarySuffix.size());
    return middle.find_first_not_of("0123456789-") == std::string_view::npos;
}

std::optional<FindData> FindFirstFile(std::string_view pattern) {
    try {
        const auto split = SplitLastName(pattern);
        if (!split || split->name.empty()) {
            return std::nullopt;
        }
        if (HasWildcard(split->name)) {
            return FindFirstMatch(split->folder, split->name);
        }
        const auto native = ToNativePath(pattern);
        if (!native) {
            return std::nullopt;
        }
        FatClockCache clocks;
        return StatAt(AT_FDCWD, native->c_str(), split->name, clocks);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// --- Directory -----------------------------------------------------------------------------

Directory::Directory(Directory&& other) noexcept {
    *this = std::move(other);
}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        listing_ = std::move(other.listing_);
        listingPosition_ = other.listingPosition_;
        listingEnd_ = other.listingEnd_;
        listingDone_ = other.listingDone_;
        lastKind_ = other.lastKind_;
        identityKnown_ = other.identityKnown_;
        device_ = other.device_;
        inode_ = other.inode_;
        id_ = other.id_;
        traitsKnown_ = other.traitsKnown_;
        restamps_ = other.restamps_;
        serialises_ = other.serialises_;
        durability_ = other.durability_;
        clocks_ = other.clocks_;
    }
    return *this;
}

Directory::~Directory() {
    Close();
}

void Directory::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    listing_.reset();
}

void Directory::LoadIdentity() const {
    struct stat st {};
    if (!identityKnown_ && fd_ >= 0 && ::fstat(fd_, &st) == 0) {
        device_ = static_cast<std::uint64_t>(st.st_dev);
        inode_ = static_cast<std::uint64_t>(st.st_ino);
        identityKnown_ = true;
    }
}

std::uint64_t Directory::Device() const {
    LoadIdentity();
    return device_;
}

std::uint64_t Directory::Inode() const {
    LoadIdentity();
    return inode_;
}

std::optional<Directory> Directory::Open(std::string_view drivePath) {
    try {
        const auto native = ToNativePath(drivePath);
        if (!native) {
            return std::nullopt;
        }
        const int fd = RetryOpenAt(AT_FDCWD, native->c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) {
            return std::nullopt;
        }
        return Directory(fd);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

namespace {

std::atomic<std::uint64_t> gDirectoryIds{0};

}  // namespace

Directory::Directory(int fd) : fd_(fd), id_(gDirectoryIds.fetch_add(1) + 1) {}

void Directory::LoadVolumeTraits() const {
    if (traitsKnown_) {
        return;
    }
    traitsKnown_ = true;
    struct statfs fs {};
    if (fd_ < 0 || ::fstatfs(fd_, &fs) != 0) {
        durability_ = Durability::kEachFile;
        return;
    }
    // The magic numbers of network file systems that linux/magic.h leaves out.
    constexpr long kCifs = static_cast<long>(0xFF534D42U);
    constexpr long kSmb2 = static_cast<long>(0xFE534D42U);
    constexpr long kAfs = 0x6B414653;
    constexpr long kCeph = 0x00C36400;
    switch (static_cast<long>(fs.f_type)) {
        case TMPFS_MAGIC:
        case RAMFS_MAGIC:
            durability_ = Durability::kNone;
            break;
        case FUSE_SUPER_MAGIC:
            // FUSE drivers of FAT give a renamed file the current time, and a flush of the
            // volume reaches the device only where the driver implements one.
            restamps_ = true;
            durability_ = Durability::kEachFile;
            // The FUSE drivers of sticks answer one request after the other.
            serialises_ = true;
            break;
        case NFS_SUPER_MAGIC:
        case SMB_SUPER_MAGIC:
        case V9FS_MAGIC:
        case CODA_SUPER_MAGIC:
        case kCifs:
        case kSmb2:
        case kAfs:
        case kCeph:
            durability_ = Durability::kEachFile;
            break;
        default:
            durability_ = Durability::kVolume;
            break;
    }
}

bool Directory::RestampsOnRename() const {
    LoadVolumeTraits();
    return restamps_;
}

bool Directory::SerialisesRequests() const {
    LoadVolumeTraits();
    return serialises_;
}

Directory::Durability Directory::CopyDurability() const {
    LoadVolumeTraits();
    return durability_;
}

std::optional<Directory> Directory::OpenChild(const std::string& name) const {
    if (fd_ < 0 || !IsPlainName(name)) {
        return std::nullopt;
    }
    const int fd = RetryOpenAt(fd_, name.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return std::nullopt;
    }
    Directory child(fd);
    child.clocks_ = clocks_;  // a subfolder is nearly always on the same volume
    return child;
}

std::optional<std::string_view> Directory::Next() {
    // getdents64 directly: a listing through opendir would cost two more calls per folder.
    constexpr std::size_t kListingSize = 32 * 1024;
    if (fd_ < 0) {
        return std::nullopt;
    }
    for (;;) {
        if (listingPosition_ >= listingEnd_) {
            if (listingDone_) {
                lastKind_ = EntryKind::kUnknown;
                return std::nullopt;
            }
            if (!listing_) {
                listing_ = std::make_unique_for_overwrite<char[]>(kListingSize);
            }
            ssize_t got = 0;
            do {
                got = ::getdents64(fd_, listing_.get(), kListingSize);
            } while (got < 0 && errno == EINTR);
            listingPosition_ = 0;
            listingEnd_ = got > 0 ? static_cast<std::size_t>(got) : 0;
            listingDone_ = got <= 0;
            continue;
        }
        const auto* entry = reinterpret_cast<const dirent64*>(listing_.get() + listingPosition_);
        listingPosition_ += entry->d_reclen;
        const std::string_view name = entry->d_name;
        if (IsDotOrDotDot(name) || name.find('\\') != std::string_view::npos) {
            continue;
        }
        switch (entry->d_type) {
            case DT_REG:
                lastKind_ = EntryKind::kFile;
                break;
            case DT_DIR:
                lastKind_ = EntryKind::kFolder;
                break;
            case DT_FIFO:
            case DT_CHR:
            case DT_BLK:
            case DT_SOCK:
                lastKind_ = EntryKind::kOther;
                break;
            default:
                lastKind_ = EntryKind::kUnknown;
                break;
        }
        return name;
    }
}

std::optional<FindData> Directory::Lookup(const std::string& name) const {
    if (fd_ < 0 || !IsPlainName(name)) {
        return std::nullopt;
    }
    try {
        return StatAt(fd_, name.c_str(), name, clocks_);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool Directory::LastIsFolder(std::string_view name) const {
    switch (lastKind_) {
        case EntryKind::kFolder:
            return true;
        case EntryKind::kUnknown: {
            const auto data = Lookup(std::string(name));
            return data && (data->attributes & kAttributeDirectory) != 0;
        }
        default:
            return false;
    }
}

bool Directory::MakeChild(const std::string& name) const {
    return fd_ >= 0 && IsPlainName(name) && ::mkdirat(fd_, name.c_str(), 0777) == 0;
}

namespace {

enum class Written { kDone, kFailed, kUnsupported };

// True when the open source is still as it was when its copy began. A file written to during its
// copy would give a copy stitched together from different moments, or cut short: such a copy is
// dropped, the old target stays, and the next run copies the file (its time has moved on).
bool Unchanged(int fd, const struct stat& before) {
    struct stat now {};
    return ::fstat(fd, &now) == 0 && now.st_size == before.st_size &&
           now.st_mtim.tv_sec == before.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
           now.st_ctim.tv_sec == before.st_ctim.tv_sec &&
           now.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
}

std::atomic<bool> gEmptyPathLinkRefused{false};

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
constexpr std::size_t kBatchCount = 2048;
// The first batches of a pass are small and grow, and no copy waits much longer than this, so
// that the count of copies moves soon and steadily.
constexpr std::size_t kFirstBatchCount = 16;
constexpr std::chrono::milliseconds kBatchAge{400};
constexpr std::uint64_t kBatchBytes = std::uint64_t{256} << 20;
// Files at least this large are handed to the device as soon as they are written, so that the
// disk works while the next files are copied and the flush finds little left to do.
constexpr std::uint64_t kEarlyWritebackSize = std::uint64_t{1} << 20;

std::atomic<std::size_t> gTestBatchCount{0};
std::atomic<std::uint64_t> gTestBatchBytes{0};

std::size_t BatchCount() {
    const std::size_t forTests = gTestBatchCount.load(std::memory_order_relaxed);
    return forTests != 0 ? forTests : kBatchCount;
}

enum class Linking { kUnknown, kWorks, kRefused };
std::atomic<Linking> gUnnamedLinking{Linking::kUnknown};

// Gives a finished copy its name. A temporary file that does not get it is removed.
bool GiveName(int outFd, int dirFd, const char* temporary, const char* toName, bool failIfExists,
              bool restamps, const timespec (&times)[2]) {
    bool named = false;
    if (temporary[0] == '\0') {
        named = LinkUnnamed(outFd, dirFd, toName) == Written::kDone;
    } else {
        named = failIfExists ? RenameNoReplace(dirFd, temporary, dirFd, toName)
                             : ::renameat(dirFd, temporary, dirFd, toName) == 0;
        if (!named) {
            ::unlinkat(dirFd, temporary, 0);
        }
    }
    if (named && restamps) {
        ::futimens(outFd, times);
    }
    return named;
}

// Writes the copy into a new file of the folder `toFd`: an unnamed file, or a hidden temporary
// file (its name in `temporary`) that carries a lock for as long as the copy holds it open, so
// that no other pass takes it for a leftover. kUnsupported: the file system offers no unnamed
// files, nothing has been changed.
Written WriteCopy(int in, const struct stat& source, int toFd, const timespec (&times)[2],
                  bool unnamed, bool lockFile, char (&temporary)[64], UniqueFd& out) {
    // The copy is made with the source's permission bits; only where the umask takes some away
    // (or the owner could not read and write the copy while it is made) are they given again.
    const mode_t mode = source.st_mode & 0777;
    const mode_t createMode = mode | S_IRUSR | S_IWUSR;
    temporary[0] = '\0';
    if (unnamed && gUnnamedLinking.load(std::memory_order_relaxed) != Linking::kRefused) {
        out.Reset(RetryOpenAt(toFd, ".", O_WRONLY | O_TMPFILE, createMode));
        if (!out.valid()) {
            return errno == EACCES || errno == EROFS || errno == ENOSPC || errno == EDQUOT
                       ? Written::kFailed
                       : Written::kUnsupported;
        }
        // An unnamed file is named only at the end, so whether this process may link one at all
        // is found out once, on the first: it takes a temporary name and is made like one.
        if (gUnnamedLinking.load(std::memory_order_relaxed) == Linking::kUnknown) {
            FormatTemporaryName(temporary,
                                gTemporarySequence.fetch_add(1, std::memory_order_relaxed));
            const Written linked = LinkUnnamed(out.get(), toFd, temporary);
            if (linked == Written::kUnsupported) {
                gUnnamedLinking.store(Linking::kRefused, std::memory_order_relaxed);
                out.Reset();
                temporary[0] = '\0';
                return Written::kUnsupported;
            }
            if (linked == Written::kFailed) {
                out.Reset();
                temporary[0] = '\0';
                return Written::kFailed;
            }
            gUnnamedLinking.store(Linking::kWorks, std::memory_order_relaxed);
            ::flock(out.get(), LOCK_EX | LOCK_NB);
        }
    } else if (unnamed) {
        return Written::kUnsupported;
    } else {
        for (int attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
            FormatTemporaryName(temporary,
                                gTemporarySequence.fetch_add(1, std::memory_order_relaxed));
            out.Reset(
                RetryOpenAt(toFd, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, createMode));
            if (!out.valid() && errno != EEXIST) {
                temporary[0] = '\0';
                return Written::kFailed;
            }
        }
        if (!out.valid()) {
            temporary[0] = '\0';
            return Written::kFailed;
        }
        // Where the file system keeps no locks of its own the kernel keeps them locally, which
        // still tells this computer's passes apart. A lock on the folder does as well.
        if (lockFile) {
            ::flock(out.get(), LOCK_EX | LOCK_NB);
        }
    }

    if (CopyContents(in, out.get(), static_cast<std::uint64_t>(source.st_size)) &&
        Unchanged(in, source)) {
        // Both as far as the file system keeps them (FAT has no permission bits, and its times
        // are coarse); neither decides whether the copy succeeded.
        if ((mode & ProcessUmask()) != 0 || createMode != mode) {
            ::fchmod(out.get(), mode);
        }
        ::futimens(out.get(), times);
        return Written::kDone;
    }
    if (temporary[0] != '\0') {
        ::unlinkat(toFd, temporary, 0);
        temporary[0] = '\0';
    }
    out.Reset();
    return Written::kFailed;
}

}  // namespace

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

// --- Batches of copies ---------------------------------------------------------------------

// The destination folder of waiting copies, with a descriptor of its own (the walk may close its
// folder before the batch is committed). The descriptor holds a shared lock on the folder for as
// long as copies wait there under temporary names: a pass that looks for leftovers leaves the
// temporary files of a folder alone while anyone holds it.
struct CopyBatch::SharedFolder {
    UniqueFd fd;
    std::uint64_t id = 0;
    std::uint64_t device = 0;
    bool locked = false;  // the shared lock is held
};

struct CopyBatch::Pending {
    std::shared_ptr<SharedFolder> folder;
    std::string toName;
    char temporary[64] = "";
    bool failIfExists = false;
};

CopyBatch::Writer::Writer() = default;
CopyBatch::Writer::~Writer() = default;

CopyBatch::CopyBatch(std::atomic<std::int32_t>* named) : count_(kFirstBatchCount), named_(named) {}

bool CopyBatch::Named(bool named) {
    if (named && named_ != nullptr) {
        named_->fetch_add(1, std::memory_order_relaxed);
    }
    return named;
}

CopyBatch::~CopyBatch() {
    FinishBackground();
    for (const Pending& copy : pending_) {
        ::unlinkat(copy.folder->fd.get(), copy.temporary, 0);
    }
}

bool CopyBatch::FullLocked() const {
    if (pending_.empty()) {
        return false;
    }
    const std::uint64_t forTests = gTestBatchBytes.load(std::memory_order_relaxed);
    return pending_.size() >= std::min(count_, BatchCount()) ||
           bytes_ >= (forTests != 0 ? forTests : kBatchBytes) ||
           std::chrono::steady_clock::now() - first_ >= kBatchAge;
}

bool CopyBatch::Full() const {
    const std::lock_guard lock(mutex_);
    return FullLocked();
}

void SetCopyBatchBoundsForTests(std::size_t count, std::uint64_t bytes) {
    gTestBatchCount.store(count, std::memory_order_relaxed);
    gTestBatchBytes.store(bytes, std::memory_order_relaxed);
}

bool CopyBatch::MayHold(const Directory& to, std::string_view name) const {
    if (keyCount_.load(std::memory_order_acquire) == 0) {
        return false;  // what a rescan sees: nothing waits, no lock is taken
    }
    const std::uint64_t key = CaseFoldedKey(to.Device(), to.Inode(), name);
    const std::lock_guard lock(mutex_);
    return keys_.contains(key) || committingKeys_.contains(key);
}

namespace {

// The folder of a batch's copies, with a descriptor of its own (the walk may close its folder
// before the batch is committed), kept by a writer for as long as it adds there.
std::shared_ptr<CopyBatch::SharedFolder> SharedFolderOf(
    std::shared_ptr<CopyBatch::SharedFolder>& last, const Directory& to) {
    if (last && last->id == to.Id()) {
        return last;
    }
    auto folder = std::make_shared<CopyBatch::SharedFolder>();
    // A descriptor of its own, so that the lock lasts exactly as long as the batch needs it.
    folder->fd.Reset(RetryOpenAt(to.NativeHandle(), ".", O_RDONLY | O_DIRECTORY));
    if (!folder->fd.valid()) {
        return nullptr;
    }
    folder->id = to.Id();
    folder->device = to.Device();
    // Waits only while a pass clears leftovers out of the folder, a moment. Where the file
    // system refuses locks, the copies go without.
    int locked = 0;
    while ((locked = ::flock(folder->fd.get(), LOCK_SH)) != 0 && errno == EINTR) {
    }
    folder->locked = locked == 0;
    last = folder;
    return folder;
}

}  // namespace

CopyBatch::Added CopyBatch::Add(Writer& writer, const Directory& from, const std::string& name,
                                const Directory& to, const std::string& toName, bool failIfExists,
                                std::optional<FileTime> lastWrite) {
    if (!from.IsOpen() || !to.IsOpen() || !IsPlainName(name) || !IsPlainName(toName)) {
        return Added::kFailed;
    }
    const int toFd = to.NativeHandle();

    // With failIfExists the name itself refuses an existing target, whatever it is.
    struct stat target {};
    if (!failIfExists) {
        if (StatFollowing(toFd, toName.c_str(), target)) {
            if (S_ISDIR(target.st_mode) ||
                (!S_ISLNK(target.st_mode) && DeniesWrite(target, toFd, toName.c_str()))) {
                return Added::kFailed;
            }
        } else if (errno != ENOENT) {
            return Added::kFailed;
        }
    }

    // O_NONBLOCK: opening a FIFO must not wait for a writer. Only regular files are copied.
    const UniqueFd in(
        RetryOpenAt(from.NativeHandle(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!in.valid()) {
        return Added::kFailed;
    }
    struct stat source {};
    if (::fstat(in.get(), &source) != 0 || !S_ISREG(source.st_mode)) {
        return Added::kFailed;
    }
    const auto size = static_cast<std::uint64_t>(source.st_size);
    if (size >= (std::uint64_t{8} << 20)) {
        ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }

    // The access time is given too (the source's): some FUSE drivers ignore a last-write time
    // that comes without one. The last-write time is the original platform's; on FAT the driver
    // is given what makes it store the local time the original platform would.
    const FileTime original =
        lastWrite ? *lastWrite
                  : from.OriginalTime(source.st_dev, FileTimeFromTimespec(source.st_mtim));
    const timespec times[2] = {source.st_atim,
                               TimespecFromFileTime(to.DriverTime(original))};
    // A copy that waits in the batch does so under a temporary name, so that it needs no open
    // descriptor meanwhile and a batch can be large. A copy named at once is best written as an
    // unnamed file: nothing is left behind even by a crash.
    const Directory::Durability durability = to.CopyDurability();
    // The folder is held before a temporary file is made in it: a file just made is not locked
    // yet, and must not be taken for a leftover.
    std::shared_ptr<SharedFolder> folder;
    try {
        folder = SharedFolderOf(writer.folder_, to);
    } catch (const std::exception&) {
    }
    const bool waits = durability == Directory::Durability::kVolume && folder;
    // While the folder is held no pass takes a temporary file in it for a leftover: the file
    // needs no lock of its own.
    const bool lockFile = !folder || !folder->locked;
    char temporary[64] = "";
    UniqueFd out;
    Written written = Written::kUnsupported;
    if (failIfExists && !waits) {
        written = WriteCopy(in.get(), source, toFd, times, true, lockFile, temporary, out);
        if (written == Written::kUnsupported && ::lseek(in.get(), 0, SEEK_SET) != 0) {
            return Added::kFailed;
        }
    }
    if (written == Written::kUnsupported) {
        written = WriteCopy(in.get(), source, toFd, times, false, lockFile, temporary, out);
    }
    if (written != Written::kDone) {
        return Added::kFailed;
    }

    bool waiting = false;
    if (waits) {
        try {
            Pending copy;
            copy.folder = folder;
            copy.toName = toName;
            std::copy(std::begin(temporary), std::end(temporary), copy.temporary);
            copy.failIfExists = failIfExists;
            const std::uint64_t key = CaseFoldedKey(to.Device(), to.Inode(), toName);
            const std::lock_guard lock(mutex_);
            if (pending_.capacity() == 0) {
                pending_.reserve(BatchCount());
            }
            pending_.push_back(std::move(copy));
            try {
                if (keys_.insert(key).second) {
                    keyCount_.fetch_add(1, std::memory_order_release);
                }
            } catch (const std::exception&) {
                pending_.pop_back();
                throw;
            }
            waiting = true;
            if (pending_.size() == 1) {
                first_ = std::chrono::steady_clock::now();
            }
            bytes_ += size;
        } catch (const std::exception&) {
        }
    }
    if (!waiting) {
        // Named now, once its data is on the device (where the medium keeps it).
        if (durability != Directory::Durability::kNone && ::fsync(out.get()) != 0) {
            if (temporary[0] != '\0') {
                ::unlinkat(toFd, temporary, 0);
            }
            return Added::kFailed;
        }
        return Named(GiveName(out.get(), toFd, temporary, toName.c_str(), failIfExists,
                              to.RestampsOnRename(), times))
                   ? Added::kNamed
                   : Added::kFailed;
    }
    if (size >= kEarlyWritebackSize) {
        ::sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    return Added::kWaiting;
}

// With commitMutex_ held: the copies waiting so far become the batch being committed.
void CopyBatch::TakePending() {
    const std::lock_guard lock(mutex_);
    committing_.swap(pending_);
    committingKeys_.swap(keys_);
    bytes_ = 0;
}

// With commitMutex_ held, once the batch being committed has its names.
void CopyBatch::ForgetCommitted() {
    const std::lock_guard lock(mutex_);
    keyCount_.fetch_sub(committingKeys_.size(), std::memory_order_release);
    committingKeys_.clear();
}

// With commitMutex_ held.
int CopyBatch::FinishBackground() {
    if (!committer_.joinable()) {
        return 0;
    }
    committer_.join();
    ForgetCommitted();
    return std::exchange(committed_, 0);
}

int CopyBatch::Commit() {
    const std::lock_guard commit(commitMutex_);
    const int background = FinishBackground();
    // Committed as a background batch would be, only waited for here: the keys stay visible
    // until the copies have their names.
    TakePending();
    const int named = CommitCopies(committing_);
    ForgetCommitted();
    return background + named;
}

int CopyBatch::CommitInBackground() {
    const std::lock_guard commit(commitMutex_);
    if (!Full()) {
        return 0;  // another writer has handed the batch on meanwhile
    }
    const int background = FinishBackground();
    TakePending();
    {
        const std::lock_guard lock(mutex_);
        count_ = std::min(count_ * 2, BatchCount());
    }
    try {
        committer_ = std::thread([this] { committed_ = CommitCopies(committing_); });
    } catch (const std::exception&) {
        const int named = CommitCopies(committing_);
        ForgetCommitted();
        return background + named;
    }
    return background;
}

int CopyBatch::CommitCopies(std::vector<Pending>& copies) {
    // The volumes flushed for this batch, and whether the flush succeeded. A batch rarely spans
    // more than one volume.
    std::vector<std::pair<std::uint64_t, bool>> flushed;
    int named = 0;
    for (Pending& copy : copies) {
        const SharedFolder& folder = *copy.folder;
        const auto found = std::find_if(flushed.begin(), flushed.end(), [&](const auto& volume) {
            return volume.first == folder.device;
        });
        bool durable = false;
        if (found != flushed.end()) {
            durable = found->second;
        } else {
            durable = ::syncfs(folder.fd.get()) == 0;
            flushed.emplace_back(folder.device, durable);
        }
        const int dirFd = folder.fd.get();
        if (durable && (copy.failIfExists
                            ? RenameNoReplace(dirFd, copy.temporary, dirFd, copy.toName.c_str())
                            : ::renameat(dirFd, copy.temporary, dirFd, copy.toName.c_str()) == 0)) {
            named += Named(true) ? 1 : 0;
        } else {
            ::unlinkat(dirFd, copy.temporary, 0);
        }
    }
    copies.clear();
    return named;
}

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

void Directory::RemoveLeftoverCopies() const {
    if (fd_ < 0) {
        return;
    }
    // A listing of its own: this folder's listing may be in use. The folder is listed first and
    // locked only where there is something to remove.
    Directory listing(RetryOpenAt(fd_, ".", O_RDONLY | O_DIRECTORY));
    if (!listing.IsOpen()) {
        return;
    }
    UniqueFd lock;
    while (const auto name = listing.Next()) {
        if (!name->starts_with(kTemporaryPrefix) || !IsTemporaryCopyName(*name)) {
            continue;
        }
        if (!lock.valid()) {
            lock = LockFolderForCleaning(fd_);
            if (!lock.valid()) {
                return;
            }
        }
        RemoveIfFree(lock.get(), std::string(*name).c_str());
    }
}

// --- Copies, folders, renames --------------------------------------------------------------

// The old target stays as it is until the complete copy, with its time, is renamed over it, and
// that happens only once its data is on the device. A batch of one pays a flush for one file;
// the copy pass keeps its copies in larger batches.
bool CopyFileAt(const Directory& from, const std::string& name, const Directory& to,
                const std::string& toName, bool failIfExists, std::optional<FileTime> lastWrite) {
    CopyBatch batch;
    switch (batch.Add(from, name, to, toName, failIfExists, lastWrite)) {
        case CopyBatch::Added::kNamed:
            return true;
        case CopyBatch::Added::kWaiting:
            return batch.Commit() == 1;
        case CopyBatch::Added::kFailed:
            break;
    }
    return false;
}

namespace {

bool CopyByPaths(std::string_view from, std::string_view to, bool failIfExists,
                 std::optional<FileTime> lastWrite) {
    try {
        const auto source = OpenFolderOf(from);
        const auto target = OpenFolderOf(to);
        return source && target &&
               CopyFileAt(*source->folder, source->name, *target->folder, target->name,
                          failIfExists, lastWrite);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool CopyFileByPath(std::string_view from, std::string_view to, bool failIfExists,
                    FileTime lastWrite) {
    return CopyByPaths(from, to, failIfExists, lastWrite);
}

bool CopyFileKeepingAttributes(std::string_view from, std::string_view to, bool failIfExists) {
    return CopyByPaths(from, to, failIfExists, std::nullopt);
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
    const std::string temporary =
        std::string(from.substr(0, slash + 1)) + ".tarnwick-rename-" + std::to_string(ProcessId()) +
        "-" + std::to_string(gTemporarySequence.fetch_add(1, std::memory_order_relaxed));
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
