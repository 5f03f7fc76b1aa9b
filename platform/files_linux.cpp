#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/drives.h"
#include "platform/files.h"

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
    return !name.empty() && !IsDotOrDotDot(name) &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
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

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

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
std::optional<FindData> StatAt(int dirFd, const char* path, std::string_view name) {
    struct stat st {};
    if (::fstatat(dirFd, path, &st, 0) != 0) {
        if ((errno != ENOENT && errno != ELOOP) ||
            ::fstatat(dirFd, path, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) {
            return std::nullopt;
        }
    }
    return MakeFindData(st, name);
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

    // The original platform lists "." and ".." first in every folder but a drive's root.
    if (!IsDriveRoot(folderDrivePath, *nativeFolder)) {
        for (const char* dots : {".", ".."}) {
            if (MatchesPattern(pattern, dots)) {
                if (auto found = StatAt(fd, dots, dots)) {
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
        if (auto found = StatAt(fd, entry->d_name, name)) {
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

bool ReadWriteRest(int in, int out) {
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer) {
        buffer = std::make_unique_for_overwrite<char[]>(kCopyBufferSize);
    }
    for (;;) {
        const ssize_t got = ::read(in, buffer.get(), kCopyBufferSize);
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
    }
}

// Copies the contents from the current offsets on. The kernel copies within the file system
// where it can; elsewhere (another file system, a file system without support) the bytes go
// through a buffer.
bool CopyContents(int in, int out, std::uint64_t expectedSize) {
    std::uint64_t copied = 0;
    for (;;) {
        if (expectedSize > 0 && copied >= expectedSize) {
            return true;
        }
        const ssize_t got = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
        if (got > 0) {
            copied += static_cast<std::uint64_t>(got);
            continue;
        }
        if (got == 0) {
            // The end, a file that shrank, or a pseudo file system that reports nothing to copy
            // for a file that has contents: reading settles it.
            return ReadWriteRest(in, out);
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
                return ReadWriteRest(in, out);
            default:
                return false;
        }
    }
}

constexpr std::string_view kTemporaryPrefix = ".tarnwick-";
constexpr std::string_view kTemporarySuffix = ".tmp";

// Hidden, and unique within the process; O_EXCL makes it unique in the folder.
void FormatTemporaryName(char (&buffer)[64], std::uint64_t sequence) {
    char* out = std::copy(kTemporaryPrefix.begin(), kTemporaryPrefix.end(), buffer);
    out = std::to_chars(out, buffer + 32, static_cast<std::uint64_t>(::getpid())).ptr;
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
        return StatAt(AT_FDCWD, native->c_str(), split->name);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// --- Directory -----------------------------------------------------------------------------

Directory::Directory(int fd) : fd_(fd) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
        device_ = static_cast<std::uint64_t>(st.st_dev);
        inode_ = static_cast<std::uint64_t>(st.st_ino);
    }
}

Directory::Directory(Directory&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      stream_(std::exchange(other.stream_, nullptr)),
      device_(other.device_),
      inode_(other.inode_),
      lastKind_(other.lastKind_) {}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        stream_ = std::exchange(other.stream_, nullptr);
        device_ = other.device_;
        inode_ = other.inode_;
        lastKind_ = other.lastKind_;
    }
    return *this;
}

Directory::~Directory() {
    Close();
}

void Directory::Close() {
    if (stream_ != nullptr) {
        ::closedir(static_cast<DIR*>(stream_));  // closes fd_ as well
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
    stream_ = nullptr;
    fd_ = -1;
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

std::optional<Directory> Directory::OpenChild(const std::string& name) const {
    if (fd_ < 0 || !IsPlainName(name)) {
        return std::nullopt;
    }
    const int fd = RetryOpenAt(fd_, name.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return std::nullopt;
    }
    return Directory(fd);
}

std::optional<std::string_view> Directory::Next() {
    if (fd_ < 0) {
        return std::nullopt;
    }
    if (stream_ == nullptr) {
        // The listing takes over the descriptor; the *at calls keep using it (they do not
        // depend on the listing's position).
        stream_ = ::fdopendir(fd_);
        if (stream_ == nullptr) {
            return std::nullopt;
        }
    }
    while (const dirent* entry = ::readdir(static_cast<DIR*>(stream_))) {
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
    lastKind_ = EntryKind::kUnknown;
    return std::nullopt;
}

std::optional<FindData> Directory::Lookup(const std::string& name) const {
    if (fd_ < 0 || !IsPlainName(name)) {
        return std::nullopt;
    }
    try {
        return StatAt(fd_, name.c_str(), name);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool Directory::MakeChild(const std::string& name) const {
    return fd_ >= 0 && IsPlainName(name) && ::mkdirat(fd_, name.c_str(), 0777) == 0;
}

// --- Copies, folders, renames --------------------------------------------------------------

// The old target stays as it is until the complete copy, with its time, is renamed over it.
// There is deliberately no fsync per file: a rename over an existing file makes ext4 (and the
// other journalling file systems) write the new data before the rename, and a crash before that
// point leaves the old file and at worst a hidden temporary file.
bool CopyFileAt(const Directory& from, const std::string& name, const Directory& to,
                const std::string& toName, bool failIfExists, FileTime lastWrite) {
    if (!from.IsOpen() || !to.IsOpen() || !IsPlainName(name) || !IsPlainName(toName)) {
        return false;
    }
    const int toFd = to.NativeHandle();

    struct stat target {};
    if (::fstatat(toFd, toName.c_str(), &target, 0) == 0) {
        if (failIfExists || S_ISDIR(target.st_mode) || DeniesWrite(target, toFd, toName.c_str())) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    } else if (failIfExists && ::fstatat(toFd, toName.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0) {
        return false;  // a link that leads nowhere still holds the name
    }

    // O_NONBLOCK: opening a FIFO must not wait for a writer. Only regular files are copied.
    const FileDescriptor in(
        RetryOpenAt(from.NativeHandle(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!in.valid()) {
        return false;
    }
    struct stat source {};
    if (::fstat(in.get(), &source) != 0 || !S_ISREG(source.st_mode)) {
        return false;
    }

    char temporary[64];
    int outFd = -1;
    for (int attempt = 0; attempt < 100 && outFd < 0; ++attempt) {
        FormatTemporaryName(temporary, gTemporarySequence.fetch_add(1, std::memory_order_relaxed));
        outFd = RetryOpenAt(toFd, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0600);
        if (outFd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (outFd < 0) {
        return false;
    }
    const FileDescriptor out(outFd);

    if (source.st_size >= (std::int64_t{8} << 20)) {
        ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    // The access time is given too (the source's): some FUSE drivers ignore a last-write time
    // that comes without one.
    const timespec times[2] = {source.st_atim, TimespecFromFileTime(lastWrite)};
    bool done = CopyContents(in.get(), out.get(), static_cast<std::uint64_t>(source.st_size));
    if (done) {
        // Both as far as the file system keeps them (FAT has no permission bits, and its times
        // are coarse); neither decides whether the copy succeeded.
        ::fchmod(out.get(), source.st_mode & 0777);
        ::futimens(out.get(), times);
        done = failIfExists ? RenameNoReplace(toFd, temporary, toFd, toName.c_str())
                            : ::renameat(toFd, temporary, toFd, toName.c_str()) == 0;
        // Some FAT drivers stamp a renamed file with the current time: set it once more.
        struct stat renamed {};
        if (done && ::fstat(out.get(), &renamed) == 0 &&
            FileTimeFromTimespec(renamed.st_mtim) != lastWrite) {
            ::futimens(out.get(), times);
        }
    }
    if (!done) {
        ::unlinkat(toFd, temporary, 0);
    }
    return done;
}

bool CopyFileByPath(std::string_view from, std::string_view to, bool failIfExists,
                    FileTime lastWrite) {
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

bool CopyFileKeepingAttributes(std::string_view from, std::string_view to, bool failIfExists) {
    try {
        const auto source = OpenFolderOf(from);
        const auto target = OpenFolderOf(to);
        if (!source || !target) {
            return false;
        }
        const auto data = source->folder->Lookup(source->name);
        return data && CopyFileAt(*source->folder, source->name, *target->folder, target->name,
                                  failIfExists, data->lastWriteTime);
    } catch (const std::exception&) {
        return false;
    }
}

bool CreateDirectory(std::string_view drivePath) {
    try {
        const auto native = ToNativePath(drivePath);
        return native && ::mkdir(native->c_str(), 0777) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

bool MoveFile(std::string_view fromDrivePath, std::string_view toDrivePath) {
    try {
        const auto from = ToNativePath(fromDrivePath);
        const auto to = ToNativePath(toDrivePath);
        if (!from || !to) {
            return false;
        }
        return RenameNoReplace(AT_FDCWD, from->c_str(), AT_FDCWD, to->c_str());
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tarnwick::platform
