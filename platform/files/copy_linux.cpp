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
                  UniqueFd& out, FileError& why) {
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
            why = SystemError(FileConcern::kFolder);
            return errno == EACCES || errno == EROFS || errno == ENOSPC || errno == EDQUOT ||
                           errno == EMFILE || errno == ENFILE
                       ? Written::kFailed
                       : Written::kUnsupported;
        }
        // An unnamed file is named only at the end, so whether this process may link one at all
        // is found out once, on the first: it takes a temporary name and is made like one.
        if (gUnnamedLinking.load(std::memory_order_relaxed) == Linking::kUnknown) {
            FormatTemporaryName(temporary, NextTemporarySequence());
            const Written linked = LinkUnnamed(out.get(), toFd, temporary);
            if (linked != Written::kDone) {
                why = SystemError(FileConcern::kFolder);
            }
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
                why = SystemError(FileConcern::kFolder);
                temporary[0] = '\0';
                return Written::kFailed;
            }
        }
        if (!out.valid()) {
            why = SystemError(FileConcern::kFolder, EEXIST);
            temporary[0] = '\0';
            return Written::kFailed;
        }
        // Where the file system keeps no locks of its own the kernel keeps them locally, which
        // still tells this computer's passes apart. A lock on the folder does as well.
        if (lockFile) {
            ::flock(out.get(), LOCK_EX | LOCK_NB);
        }
    }

    const bool copied = CopyContents(in, out.get(), static_cast<std::uint64_t>(source.st_size));
    if (!copied) {
        // Reading or writing: the source's error where a read failed is told as the target's,
        // which is the usual one (a full medium).
        why = SystemError(FileConcern::kTarget);
    }
    if (copied && !Unchanged(in, source)) {
        why = Refused(FileRefusal::kSourceChanged, FileConcern::kSource);
    } else if (copied) {
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

void TemporaryCopy::Discard() {
    if (temporary_[0] != '\0') {
        ::unlinkat(static_cast<int>(folder_), temporary_, 0);
        temporary_[0] = '\0';
    }
    if (out_ >= 0) {
        ::close(static_cast<int>(out_));
        out_ = -1;
    }
}

namespace {

// The one look at the target before its copy is written: the state it is in now must be the one
// the decision was made on (`decidedOn`, from the walk's lookup), and it is this very state that
// the copy may replace when it is named. Nothing that a user saves after the decision is ever
// adopted as "the file decided on".
FileError LookAtTarget(const Directory& to, const std::string& toName, const FindData* decidedOn,
                       TargetState& state) {
    const int toFd = to.NativeHandle();
    CopyStepReached(CopyStep::kDecided, toName.c_str());
    struct stat own {};
    if (::fstatat(toFd, toName.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            return SystemError(FileConcern::kTarget);
        }
        // A target decided on that is gone is left alone too.
        return decidedOn != nullptr ? Refused(FileRefusal::kTargetChanged) : FileError{};
    }
    // A link is judged by what it leads to, and only the link itself is replaced.
    struct stat behind = own;
    if (S_ISLNK(own.st_mode) && !StatFollowing(toFd, toName.c_str(), behind)) {
        return SystemError(FileConcern::kTarget);
    }
    if (S_ISDIR(behind.st_mode)) {
        return Refused(FileRefusal::kNotAFile);
    }
    if (!S_ISLNK(own.st_mode) && DeniesWrite(own, toFd, toName.c_str())) {
        return Refused(FileRefusal::kReadOnly);
    }
    if (decidedOn != nullptr &&
        !(decidedOn->device == behind.st_dev && decidedOn->inode == behind.st_ino &&
          decidedOn->size == std::uint64_t(behind.st_size) &&
          decidedOn->lastWriteTime ==
              to.OriginalTime(behind.st_dev, FileTimeFromTimespec(behind.st_mtim)))) {
        return Refused(FileRefusal::kTargetChanged);
    }
    TakeState(own, state);
    return {};
}

}  // namespace

std::optional<TemporaryCopy> TemporaryCopy::Write(const Directory& from, const std::string& name,
                                                  const Directory& to, const std::string& toName,
                                                  bool failIfExists,
                                                  std::optional<FileTime> lastWrite,
                                                  const FindData* decidedOn, const HeldFolder* held,
                                                  bool waits, FileError& why) {
    why = {};
    if (!from.IsOpen() || !to.IsOpen() || !IsPlainName(name) || !IsPlainName(toName)) {
        why = SystemError(FileConcern::kFolder, EINVAL);
        return std::nullopt;
    }
    const int toFd = to.NativeHandle();

    // With failIfExists the name itself refuses an existing target, whatever it is.
    TargetState targetState;
    if (!failIfExists) {
        why = LookAtTarget(to, toName, decidedOn, targetState);
        if (why) {
            return std::nullopt;
        }
    }

    // O_NONBLOCK: opening a FIFO must not wait for a writer. Only regular files are copied.
    UniqueFd in(
        RetryOpenAt(from.NativeHandle(), name.c_str(),
                    O_RDONLY | O_NONBLOCK | O_NOCTTY | (from.RefusesLinks() ? O_NOFOLLOW : 0)));
    if (!in.valid()) {
        why = SystemError(FileConcern::kSource);
        return std::nullopt;
    }
    struct stat source {};
    if (::fstat(in.get(), &source) != 0) {
        why = SystemError(FileConcern::kSource);
        return std::nullopt;
    }
    if (!S_ISREG(source.st_mode)) {
        why = Refused(FileRefusal::kNotAFile, FileConcern::kSource);
        return std::nullopt;
    }
    CopyStepReached(CopyStep::kOpened, toName.c_str());
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
    // The time the destination can keep: a copy whose time its volume cannot hold would look
    // changed on every run.
    copy.accessed_ = FileTimeFromTimespec(source.st_atim);
    copy.written_ = to.DriverTime(to.HeldTime(original));
    const timespec times[2] = {TimespecFromFileTime(copy.accessed_),
                               TimespecFromFileTime(copy.written_)};
    copy.folder_ = toFd;
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
    UniqueFd out;
    Written written = Written::kUnsupported;
    if (failIfExists && !waits) {
        written = WriteCopy(in.get(), source, bits, toFd, times, true, lockFile, copy.temporary_,
                            out, why);
        if (written == Written::kUnsupported && ::lseek(in.get(), 0, SEEK_SET) != 0) {
            why = SystemError(FileConcern::kSource);
            return std::nullopt;
        }
    }
    if (written == Written::kUnsupported) {
        written = WriteCopy(in.get(), source, bits, toFd, times, false, lockFile, copy.temporary_,
                            out, why);
    }
    if (written != Written::kDone) {
        return std::nullopt;
    }
    why = {};
    copy.out_ = out.release();
    CopyStepReached(CopyStep::kWritten, toName.c_str());
    return copy;
}

FileError TemporaryCopy::NameNow(const Directory& to) {
    // Named once its data is on the device (where the medium keeps it). A copy whose flush
    // failed is not named: it might not be whole after a power cut.
    const int outFd = static_cast<int>(out_);
    if (to.CopyDurability() != Directory::Durability::kNone) {
        CopyStepReached(CopyStep::kFlushed, toName_.c_str());
        if (::fsync(outFd) != 0) {
            const FileError failed{FileRefusal::kNotDurable, errno, FileConcern::kTarget};
            Discard();
            return failed;
        }
    }
    const timespec times[2] = {TimespecFromFileTime(accessed_), TimespecFromFileTime(written_)};
    const FileError named = GiveName(outFd, static_cast<int>(folder_), temporary_, toName_.c_str(),
                                     target_, to.RestampsOnRename(), times);
    temporary_[0] = '\0';  // named, or removed by GiveName
    Discard();
    return named;
}

void TemporaryCopy::HandOver(WaitingCopy& waiting) {
    if (size_ >= kEarlyWritebackSize) {
        ::sync_file_range(static_cast<int>(out_), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    waiting.toName = toName_;
    waiting.target = target_;
    std::copy(std::begin(temporary_), std::end(temporary_), waiting.temporary);
    temporary_[0] = '\0';
    Discard();
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
