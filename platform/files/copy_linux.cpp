// Copying one file: the contents, the checks before and after, and the copy that waits for its
// name (TemporaryCopy).
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/files/copies.h"
#include "platform/files/files.h"
#include "platform/files/files_linux.h"
#include "platform/unique_fd.h"

namespace tarnwick::platform {

namespace {

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
        if (written == 0) {
            return false;  // nothing written and no error: trying again would never end
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

// The umask, read without changing it (umask() itself can only be read by setting it, which would
// race with other threads creating files). It does not change while the program runs, except in
// a forked child that sets its own (tests fork). The usual 022 when unknown.
std::atomic<int> gUmask{-1};

mode_t ProcessUmask() {
    static const bool hooked = ::pthread_atfork(nullptr, nullptr, [] { gUmask = -1; }) == 0;
    const int known = gUmask.load(std::memory_order_relaxed);
    if (known >= 0 && hooked) {
        return static_cast<mode_t>(known);
    }
    mode_t found = 022;
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                found = static_cast<mode_t>(value & 0777);
                break;
            }
        }
        std::fclose(status);
    }
    gUmask.store(static_cast<int>(found), std::memory_order_relaxed);
    return found;
}

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

enum class Linking { kUnknown, kWorks, kRefused };
std::atomic<Linking> gUnnamedLinking{Linking::kUnknown};

// Writes the copy into a new file of the folder `toFd`: an unnamed file, or a hidden temporary
// file (its name in `temporary`) that carries a lock for as long as the copy holds it open, so
// that no other pass takes it for a leftover. kUnsupported: the file system offers no unnamed
// files, nothing has been changed.
Written WriteCopy(int in, const struct stat& source, mode_t bits, int toFd,
                  const timespec (&times)[2], bool unnamed, bool lockFile, char (&temporary)[64],
                  UniqueFd& out) {
    // The copy gets the source's permission bits less the user's umask, and is always writable by
    // its owner: a copy of a read-only file must not keep the next run from updating it. The
    // bits are given again only where creating the file could not give them.
    const mode_t umask = ProcessUmask();
    const mode_t mode = (bits & ~umask) | S_IWUSR;
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
            FormatTemporaryName(temporary, NextTemporarySequence());
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
            FormatTemporaryName(temporary, NextTemporarySequence());
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
        if ((createMode & ~umask) != mode) {
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

// Files at least this large are handed to the device as soon as they are written, so that the
// disk works while the next files are copied and the flush finds little left to do.
constexpr std::uint64_t kEarlyWritebackSize = std::uint64_t{1} << 20;

}  // namespace

TemporaryCopy::TemporaryCopy(TemporaryCopy&& other) noexcept {
    *this = std::move(other);
}

TemporaryCopy& TemporaryCopy::operator=(TemporaryCopy&& other) noexcept {
    if (this != &other) {
        if (temporary_[0] != '\0') {
            ::unlinkat(dirFd_, temporary_, 0);
        }
        out_ = std::move(other.out_);
        dirFd_ = other.dirFd_;
        toName_ = std::move(other.toName_);
        target_ = other.target_;
        size_ = other.size_;
        std::copy(std::begin(other.temporary_), std::end(other.temporary_), temporary_);
        std::copy(std::begin(other.times_), std::end(other.times_), times_);
        other.temporary_[0] = '\0';
    }
    return *this;
}

TemporaryCopy::~TemporaryCopy() {
    if (temporary_[0] != '\0') {
        ::unlinkat(dirFd_, temporary_, 0);
    }
}

std::optional<TemporaryCopy> TemporaryCopy::Write(const Directory& from, const std::string& name,
                                                  const Directory& to, const std::string& toName,
                                                  bool failIfExists,
                                                  std::optional<FileTime> lastWrite,
                                                  const FindData* decidedOn, const HeldFolder* held,
                                                  bool waits) {
    if (!from.IsOpen() || !to.IsOpen() || !IsPlainName(name) || !IsPlainName(toName)) {
        return std::nullopt;
    }
    const int toFd = to.NativeHandle();

    // With failIfExists the name itself refuses an existing target, whatever it is. Otherwise
    // the target is taken as it is now, and only this state of it is replaced later.
    TargetState targetState;
    if (!failIfExists) {
        struct stat target {};
        if (StatFollowing(toFd, toName.c_str(), target)) {
            // The reason is left in errno for the caller's report.
            if (S_ISDIR(target.st_mode)) {
                errno = EISDIR;
                return std::nullopt;
            }
            if (!S_ISLNK(target.st_mode) && DeniesWrite(target, toFd, toName.c_str())) {
                errno = EACCES;
                return std::nullopt;
            }
            if (decidedOn != nullptr &&
                !(decidedOn->device == target.st_dev && decidedOn->inode == target.st_ino &&
                  decidedOn->size == std::uint64_t(target.st_size) &&
                  decidedOn->lastWriteTime ==
                      to.OriginalTime(target.st_dev, FileTimeFromTimespec(target.st_mtim)))) {
                return std::nullopt;  // changed since the decision: left alone
            }
            if (!StateOfTarget(toFd, toName.c_str(), targetState)) {
                return std::nullopt;
            }
        } else if (errno != ENOENT || decidedOn != nullptr) {
            return std::nullopt;  // a target decided on that is gone is left alone too
        }
    }

    // O_NONBLOCK: opening a FIFO must not wait for a writer. Only regular files are copied.
    const UniqueFd in(
        RetryOpenAt(from.NativeHandle(), name.c_str(),
                    O_RDONLY | O_NONBLOCK | O_NOCTTY | (from.RefusesLinks() ? O_NOFOLLOW : 0)));
    if (!in.valid()) {
        return std::nullopt;
    }
    struct stat source {};
    if (::fstat(in.get(), &source) != 0 || !S_ISREG(source.st_mode)) {
        return std::nullopt;
    }
    TemporaryCopy copy;
    copy.size_ = static_cast<std::uint64_t>(source.st_size);
    if (copy.size_ >= (std::uint64_t{8} << 20)) {
        ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }

    // The access time is given too (the source's): some FUSE drivers ignore a last-write time
    // that comes without one. The last-write time is the original platform's; on FAT the driver
    // is given what makes it store the local time the original platform would.
    const FileTime original =
        lastWrite ? *lastWrite
                  : from.OriginalTime(source.st_dev, FileTimeFromTimespec(source.st_mtim));
    copy.times_[0] = source.st_atim;
    // The time the destination can keep: a copy whose time its volume cannot hold would look
    // changed on every run.
    copy.times_[1] = TimespecFromFileTime(to.DriverTime(to.HeldTime(original)));
    copy.dirFd_ = toFd;
    copy.toName_ = toName;
    copy.target_ = targetState;
    // While the folder is held no pass takes a temporary file in it for a leftover: the file
    // needs no lock of its own. A copy that waits does so under a temporary name, so that it
    // needs no open descriptor meanwhile; a copy named at once is best written as an unnamed
    // file: nothing is left behind even by a crash.
    const bool lockFile = held == nullptr || !held->Locked();
    // Bits that a stick's driver made up (FAT, exFAT and NTFS keep none; their FUSE drivers
    // show 0777 or the mounting user's) are not the file's: such a copy is a plain file, less
    // the umask.
    mode_t bits = source.st_mode & 0777;
    const Directory::Permissions kept = from.KeepsPermissions();
    if (kept == Directory::Permissions::kNone ||
        (kept == Directory::Permissions::kUnsure && (bits == 0777 || from.KeepsLocalTimes()))) {
        bits = 0666;
    }
    Written written = Written::kUnsupported;
    if (failIfExists && !waits) {
        written = WriteCopy(in.get(), source, bits, toFd, copy.times_, true, lockFile,
                            copy.temporary_, copy.out_);
        if (written == Written::kUnsupported && ::lseek(in.get(), 0, SEEK_SET) != 0) {
            return std::nullopt;
        }
    }
    if (written == Written::kUnsupported) {
        written = WriteCopy(in.get(), source, bits, toFd, copy.times_, false, lockFile,
                            copy.temporary_, copy.out_);
    }
    if (written != Written::kDone) {
        return std::nullopt;
    }
    return copy;
}

bool TemporaryCopy::NameNow(const Directory& to) {
    // Named once its data is on the device (where the medium keeps it).
    if (to.CopyDurability() != Directory::Durability::kNone && ::fsync(out_.get()) != 0) {
        return false;
    }
    const bool named = GiveName(out_.get(), dirFd_, temporary_, toName_.c_str(), target_,
                                to.RestampsOnRename(), times_);
    temporary_[0] = '\0';  // named, or removed by GiveName
    return named;
}

void TemporaryCopy::HandOver(WaitingCopy& waiting) {
    if (size_ >= kEarlyWritebackSize) {
        ::sync_file_range(out_.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    waiting.toName = toName_;
    waiting.target = target_;
    std::copy(std::begin(temporary_), std::end(temporary_), waiting.temporary);
    temporary_[0] = '\0';
    out_.Reset();
}

// The old target stays as it is until the complete copy, with its time, takes its name, and
// that happens only once its data is on the device. The copy pass keeps its copies in batches
// that share one flush (engine/copy_batch.h).
bool CopyFileAt(const Directory& from, const std::string& name, const Directory& to,
                const std::string& toName, bool failIfExists, std::optional<FileTime> lastWrite) {
    try {
        // Held while the copy is made, so that its temporary file is not taken for a leftover.
        const std::shared_ptr<HeldFolder> held = HeldFolder::Hold(to);
        auto copy = TemporaryCopy::Write(from, name, to, toName, failIfExists, lastWrite, nullptr,
                                         held.get(), false);
        return copy && copy->NameNow(to);
    } catch (const std::exception&) {
        return false;
    }
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

}  // namespace tarnwick::platform
