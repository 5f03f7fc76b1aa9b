// Listing folders and looking entries up: FindFirstFile and the open folders (Directory).
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/files/files.h"
#include "platform/files/files_linux.h"
#include "platform/files/phrase.h"
#include "platform/unique_fd.h"
#include "platform/volumes/drives.h"

namespace tarnwick::platform {

namespace {

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

}  // namespace

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

namespace {

std::optional<FindData> StatAt(int dirFd, const char* path, std::string_view name,
                               FatClockCache& clocks) {
    struct stat st {};
    if (!StatOne(dirFd, path, AT_SYMLINK_NOFOLLOW, st)) {
        return std::nullopt;
    }
    const bool link = S_ISLNK(st.st_mode);
    struct stat target {};
    if (link && StatOne(dirFd, path, 0, target)) {
        st = target;
    }
    FindData data = MakeFindData(st, name);
    if (link) {
        data.attributes |= kAttributeReparsePoint;
    }
    data.lastWriteTime = clocks.Reading(data.device, data.lastWriteTime);
    return data;
}

}  // namespace

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

namespace {

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

}  // namespace

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

// The folder `relative` below the open folder `root`, one name after the other, never through a
// link and never onto another volume (unless `anywhere`); missing folders are made where `make`
// is set (`made` counts them).
int OpenBeneath(int root, std::string_view relative, bool make, bool anywhere, std::int32_t& made,
                int& error) {
    struct stat rootState {};
    if (::fstat(root, &rootState) != 0) {
        error = errno;
        return -1;
    }
    if (!make && !anywhere) {
        open_how how{};
        how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH | RESOLVE_NO_XDEV;
        const std::string path(relative);
        long fd = 0;
        do {
            fd = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != E2BIG)) {
            error = fd < 0 ? errno : 0;
            return static_cast<int>(fd);
        }
    }
    UniqueFd current(RetryOpenAt(root, ".", O_RDONLY | O_DIRECTORY));
    while (!relative.empty() && current.valid()) {
        const std::size_t slash = relative.find('/');
        const std::string name(relative.substr(0, slash));
        relative.remove_prefix(slash == std::string_view::npos ? relative.size() : slash + 1);
        if (name.empty() || name == ".") {
            continue;
        }
        const int flags = O_RDONLY | O_DIRECTORY | (anywhere ? 0 : O_NOFOLLOW);
        int next = RetryOpenAt(current.get(), name.c_str(), flags);
        if (next < 0 && errno == ENOENT && make) {
            if (::mkdirat(current.get(), name.c_str(), 0777) != 0) {
                error = errno;
                return -1;
            }
            ++made;
            next = RetryOpenAt(current.get(), name.c_str(), flags);
        }
        if (next < 0) {
            error = errno;
            return -1;
        }
        current.Reset(next);
        struct stat st {};
        if (!anywhere && (::fstat(current.get(), &st) != 0 || st.st_dev != rootState.st_dev)) {
            error = EXDEV;  // another volume mounted inside this one
            return -1;
        }
    }
    if (!current.valid()) {
        error = errno;
        return -1;
    }
    return current.release();
}

}  // namespace

std::optional<Directory> Directory::OpenOnDrive(std::string_view drivePath, bool make,
                                                std::int32_t* made, FileError* why) {
    std::int32_t madeHere = 0;
    const auto fail = [why](int error) -> std::optional<Directory> {
        if (why != nullptr) {
            *why = SystemError(FileConcern::kFolder, error);
        }
        return std::nullopt;
    };
    try {
        if (drivePath.size() < 2 || drivePath[1] != ':') {
            return fail(ENOENT);
        }
        const auto native = ToNativePath(drivePath);
        const auto root = ToNativePath(std::string(drivePath.substr(0, 2)) + "\\");
        if (!native || !root || !native->starts_with(*root)) {
            return fail(ENOENT);
        }
        const UniqueFd rootFd(RetryOpenAt(AT_FDCWD, root->c_str(), O_RDONLY | O_DIRECTORY));
        if (!rootFd.valid()) {
            return fail(errno);
        }
        std::string_view relative = std::string_view(*native).substr(root->size());
        while (relative.starts_with('/')) {
            relative.remove_prefix(1);
        }
        while (relative.ends_with('/')) {
            relative.remove_suffix(1);
        }
        // C: is every local folder: its paths cross mounts (a /home of its own) and go through
        // the user's own links, as they are. Every other drive is one volume.
        const bool anywhere = *root == "/";
        int error = 0;
        const int fd = relative.empty()
                           ? RetryOpenAt(rootFd.get(), ".", O_RDONLY | O_DIRECTORY)
                           : OpenBeneath(rootFd.get(), relative, make, anywhere, madeHere, error);
        if (made != nullptr) {
            *made = madeHere;
        }
        if (fd < 0) {
            return fail(error != 0 ? error : errno);
        }
        return Directory(fd);
    } catch (const std::exception&) {
        return fail(ENOMEM);
    }
}

namespace {

std::atomic<std::uint64_t> gDirectoryIds{0};

}  // namespace

Directory::Directory(int fd) : fd_(fd), id_(gDirectoryIds.fetch_add(1) + 1) {}

std::optional<Directory> Directory::OpenChild(const std::string& name, bool followLinks,
                                              FileError* why) const {
    if (fd_ < 0 || !IsPlainName(name)) {
        if (why != nullptr) {
            *why = SystemError(FileConcern::kFolder, EINVAL);
        }
        return std::nullopt;
    }
    const bool noFollow = refusesLinks_ || !followLinks;
    const int fd =
        RetryOpenAt(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | (noFollow ? O_NOFOLLOW : 0));
    if (fd < 0) {
        if (why != nullptr) {
            *why = SystemError(FileConcern::kFolder);
        }
        return std::nullopt;
    }
    Directory child(fd);
    child.clocks_ = clocks_;  // a subfolder is nearly always on the same volume
    child.refusesLinks_ = refusesLinks_;
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
            if (got < 0) {
                listingError_ = SystemError(FileConcern::kFolder);
            }
            listingPosition_ = 0;
            listingEnd_ = got > 0 ? static_cast<std::size_t>(got) : 0;
            listingDone_ = got <= 0;
            continue;
        }
        const auto* entry = reinterpret_cast<const dirent64*>(listing_.get() + listingPosition_);
        listingPosition_ += entry->d_reclen;
        const std::string_view name = entry->d_name;
        if (IsDotOrDotDot(name)) {
            continue;
        }
        if (name.find('\\') != std::string_view::npos) {
            ++leftOut_;
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

bool Directory::IsLink(const std::string& name) const {
    struct stat st {};
    return fd_ >= 0 && IsPlainName(name) && StatOne(fd_, name.c_str(), AT_SYMLINK_NOFOLLOW, st) &&
           S_ISLNK(st.st_mode);
}

bool Directory::Contains(const Directory& folder) const {
    if (fd_ < 0 || !folder.IsOpen()) {
        return false;
    }
    struct stat self {};
    if (::fstat(fd_, &self) != 0) {
        return false;
    }
    // Up through "..": the real parents, also of a folder reached through a link.
    UniqueFd current(::fcntl(folder.fd_, F_DUPFD_CLOEXEC, 0));
    for (int depth = 0; current.valid() && depth < 4096; ++depth) {
        struct stat here {};
        if (::fstat(current.get(), &here) != 0) {
            return false;
        }
        if (here.st_dev == self.st_dev && here.st_ino == self.st_ino) {
            return true;
        }
        UniqueFd parent(RetryOpenAt(current.get(), "..", O_RDONLY | O_DIRECTORY));
        struct stat above {};
        if (!parent.valid() || ::fstat(parent.get(), &above) != 0 ||
            (above.st_dev == here.st_dev && above.st_ino == here.st_ino)) {
            return false;  // the root: its parent is itself
        }
        current = std::move(parent);
    }
    return false;
}

bool Directory::OnPseudoFileSystem() const {
    struct statfs fs {};
    if (fd_ < 0 || ::fstatfs(fd_, &fs) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x9fa0:      // proc
        case 0x62656572:  // sysfs
        case 0x1cd1:      // devpts
        case 0x27e0eb:    // cgroup
        case 0x63677270:  // cgroup2
        case 0x64626720:  // debugfs
        case 0x74726163:  // tracefs
        case 0x73636673:  // securityfs
        case 0x6165676c:  // pstore
        case 0xcafe4a11:  // bpf
        case 0x62656570:  // configfs
        case 0x19800202:  // mqueue
        case 0x42494e4d:  // binfmt_misc
        case 0xf97cff8c:  // selinuxfs
        case 0xde5e81e4:  // efivarfs
        case 0x65735543:  // fusectl
        case 0x6e736673:  // nsfs
            return true;
        default:
            break;
    }
    // devtmpfs says it is tmpfs; it is the file system mounted on /dev.
    struct stat self {};
    struct stat dev {};
    return fs.f_type == 0x01021994 && ::fstat(fd_, &self) == 0 && ::stat("/dev", &dev) == 0 &&
           self.st_dev == dev.st_dev;
}

std::string FileErrorText(int error) {
    return AsPhrase(std::strerror(error));
}

bool IsLostVolumeError(int error) {
    switch (error) {
        case ENOTCONN:  // a FUSE driver that died
        case ENODEV:
        case ENXIO:
        case ENOMEDIUM:
        case EIO:        // a device that fails or was pulled
        case ESTALE:     // a share that lost the files
        case ETIMEDOUT:  // a share that stopped answering
        case EHOSTDOWN:
        case EHOSTUNREACH:
        case ENETDOWN:
        case ENETUNREACH:
        case ECONNRESET:
        case ECONNABORTED:
        case ESHUTDOWN:
            return true;
        default:
            return false;
    }
}

bool FileError::RanOutOfDescriptors() const {
    return refusal == FileRefusal::kSystem && (error == EMFILE || error == ENFILE);
}

bool FileError::LostVolume() const {
    return error != 0 && IsLostVolumeError(error);
}

bool FileError::Missing() const {
    return error == ENOENT;
}

bool FileError::NameTaken() const {
    return error == EEXIST;
}

bool FileError::InTheWay() const {
    return refusal == FileRefusal::kSystem && (error == EEXIST || error == ENOTDIR);
}

bool Directory::MakeChild(const std::string& name, FileError* why) const {
    if (fd_ >= 0 && IsPlainName(name) && ::mkdirat(fd_, name.c_str(), 0777) == 0) {
        return true;
    }
    if (why != nullptr) {
        *why = SystemError(FileConcern::kFolder, fd_ >= 0 && IsPlainName(name) ? errno : EINVAL);
    }
    return false;
}

}  // namespace tarnwick::platform
