#pragma once
// Files and folders, addressed by drive paths (see drives.h) or through open folder handles.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/volumes/fat_clock.h"
#include "platform/filetime.h"

namespace tarnwick::platform {

inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeHidden = 0x02;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
// FIFOs, sockets and device nodes: entries with no contents to copy, which a copy never opens.
inline constexpr std::uint32_t kAttributeDevice = 0x40;
inline constexpr std::uint32_t kAttributeNormal = 0x80;

// What a listing or a lookup tells about one entry. Links are followed: a link to a folder is a
// folder with the target's time; a link that leads nowhere is reported with its own time.
struct FindData {
    std::uint32_t attributes = 0;  // kAttributeDirectory for folders
    FileTime lastWriteTime = 0;
    std::uint64_t size = 0;
    std::uint64_t device = 0;  // identity of the entry (after following links), used to
    std::uint64_t inode = 0;   // recognise a folder already on the current path
    std::string name;
};

// The first entry that matches a pattern: a drive path whose last name may hold the wildcards
// '*' and '?' ("E:\Photos\*.*", "E:\Photos\."). Without wildcards the path itself is looked up.
// "*.*" matches every name, also names without a dot; a listing reports "." and ".." first.
// nullopt when nothing matches or the folder cannot be listed.
std::optional<FindData> FindFirstFile(std::string_view pattern);

// What a listing says about an entry without looking at it: links and file systems that do not
// report types give kUnknown (ask Lookup).
enum class EntryKind { kUnknown, kFile, kFolder, kOther };

// An open folder: lists its entries and answers questions about names inside it without
// resolving the whole path again. Move-only; closes itself.
class Directory {
public:
    Directory() = default;
    Directory(Directory&& other) noexcept;
    Directory& operator=(Directory&& other) noexcept;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    ~Directory();

    // Opens the folder a drive path names (links followed). nullopt when it cannot be listed.
    static std::optional<Directory> Open(std::string_view drivePath);
    // Opens a subfolder by name (links followed).
    std::optional<Directory> OpenChild(const std::string& name) const;

    // The next entry's name, in the order the file system gives them, "." and ".." left out,
    // names that hold a backslash passed over. The view is valid until the next call.
    // nullopt at the end of the listing.
    std::optional<std::string_view> Next();
    // What the listing said about the entry Next() returned last.
    EntryKind LastKind() const { return lastKind_; }

    // Looks a name up in this folder by the file system's own rules (links followed).
    std::optional<FindData> Lookup(const std::string& name) const;
    // Whether the entry Next() returned last, `name`, is a folder: told by the listing, looked up
    // (links followed) only where the listing cannot tell.
    bool LastIsFolder(std::string_view name) const;

    // Creates a subfolder; false when it cannot be created (also when something of that name is
    // already there).
    bool MakeChild(const std::string& name) const;

    // This folder's own identity (device, inode), asked for on first use.
    std::uint64_t Device() const;
    std::uint64_t Inode() const;

    bool IsOpen() const { return fd_ >= 0; }
    int NativeHandle() const { return fd_; }

    // True where the file system gives a renamed file a new last-write time, so that a copy's
    // time has to be set again after its rename (asked once per folder).
    bool RestampsOnRename() const;

    // True where the driver of this folder's volume answers one request at a time (FUSE
    // drivers): threads working there at once would only queue (asked once per folder).
    bool SerialisesRequests() const;

    // How copies into this folder are made durable before they take their names: not at all on a
    // RAM disk (its contents do not survive anyway), by one flush of the whole volume for a batch
    // on local file systems, file by file where a volume flush is not known to reach the device
    // (FUSE drivers, network file systems). Asked once per folder.
    enum class Durability : std::uint8_t { kNone, kVolume, kEachFile };
    Durability CopyDurability() const;

    // Removes the temporary copy files in this folder that no running copy holds: files left by a
    // crash, a power cut or a pulled stick in the middle of a copy. Nothing else is touched.
    void RemoveLeftoverCopies() const;

    // Times as the original platform has them, for an entry of this folder on the volume
    // `device` (see FatClockCache), and the time to give this folder's driver for one.
    FileTime OriginalTime(std::uint64_t device, FileTime driverTime) const {
        return clocks_.Reading(device, driverTime);
    }
    FileTime DriverTime(FileTime original) const { return clocks_.Writing(Device(), original); }

    // A number that tells this open folder from every other one the process has opened.
    std::uint64_t Id() const { return id_; }

private:
    explicit Directory(int fd);
    void Close();
    void LoadIdentity() const;
    void LoadVolumeTraits() const;

    int fd_ = -1;
    // The listing as the kernel hands it over, read on the first Next() and then as needed.
    std::unique_ptr<char[]> listing_;
    std::size_t listingPosition_ = 0;
    std::size_t listingEnd_ = 0;
    bool listingDone_ = false;
    EntryKind lastKind_ = EntryKind::kUnknown;
    mutable bool identityKnown_ = false;
    mutable std::uint64_t device_ = 0;
    mutable std::uint64_t inode_ = 0;
    std::uint64_t id_ = 0;
    mutable bool traitsKnown_ = false;
    mutable bool restamps_ = false;
    mutable bool serialises_ = false;
    mutable Durability durability_ = Durability::kVolume;
    // FAT's local times are read as the original platform reads them.
    mutable FatClockCache clocks_;
};

// Copies the file `name` of `from` to `toName` in `to` and gives the copy `lastWrite` as its
// last-write time (nullopt: the source's own, as the opened file tells it). The copy is written to
// an unnamed or temporary file in `to` that takes the target's name only when it is complete and
// its data is on the device (a batch of one, see CopyBatch); a failed copy removes the temporary
// file and leaves the old target untouched. Fails (false) when the source is
// not a regular file (folders, FIFOs, devices, sockets), when `failIfExists` is set and the target
// exists (decided by the rename itself, so a target that appears during the copy is not replaced
// either), when the target is a folder, when the target is read-only (no write permission, also
// for root), and when the source is written to while it is copied (the copy would not be a state
// the file ever had; the next run copies it).
bool CopyFileAt(const Directory& from, const std::string& name, const Directory& to,
                const std::string& toName, bool failIfExists, std::optional<FileTime> lastWrite);

// True for the name of the hidden temporary file a copy writes before renaming it over its
// target. Only a crash in the middle of a copy leaves one behind; listings of the copy pass
// leave such names alone.
bool IsTemporaryCopyName(std::string_view name);

// Removes the temporary copy file `name` of `folder` when no running copy holds it (a copy locks
// its temporary file while it writes it, and its folder while it waits there for its name).
// False when it stays.
bool RemoveLeftoverCopy(const Directory& folder, const std::string& name);

// A key for the name `name` in the folder (device, inode) on which all names that a
// case-insensitive file system may take for one fall: ASCII letters folded, every other byte
// above 127 taken for any other (their case rules are the driver's). Different names rarely
// share a key.
std::uint64_t CaseFoldedKey(std::uint64_t device, std::uint64_t inode, std::string_view name);

// Tests only: the bounds of every later batch (0, 0: the usual ones), so that a small tree spans
// many batches.
void SetCopyBatchBoundsForTests(std::size_t count, std::uint64_t bytes);

// Copies that are finished but wait under temporary names until their data is on the device;
// then they take their real names, all of a batch together (a copy that needs no wait, on a RAM
// disk, or whose volume cannot be flushed as a whole, on FUSE and network drives, is made
// durable and named at once). While copies wait in a folder the batch holds a shared lock on
// it, so that no pass takes their files for leftovers. A crash or a power cut
// therefore never leaves a file under a real name that is not whole: it is the old file or the
// whole new copy with its time. The batch is bounded by count and bytes, so open descriptors
// and memory stay flat; a full batch is committed by whoever finds it full, in the background
// if it likes, while the next batch fills (one batch at most is committed so). Copies not
// committed are dropped with the batch. Several threads may add to one batch at once, each
// through a Writer of its own; the copies themselves are written in parallel.
class CopyBatch {
public:
    struct SharedFolder;

    // What one thread keeps while it adds copies: the folder it last added to, with the lock
    // that the waiting copies there need.
    class Writer {
    public:
        Writer();
        ~Writer();
        Writer(const Writer&) = delete;
        Writer& operator=(const Writer&) = delete;

    private:
        friend class CopyBatch;
        std::shared_ptr<SharedFolder> folder_;
    };

    // `named`, when given, grows by one at each name given, by whichever thread gives it.
    explicit CopyBatch(std::atomic<std::int32_t>* named = nullptr);
    ~CopyBatch();
    CopyBatch(const CopyBatch&) = delete;
    CopyBatch& operator=(const CopyBatch&) = delete;

    enum class Added { kFailed, kWaiting, kNamed };
    // Copies as CopyFileAt does. kNamed where the copy needs no wait and took its name at once
    // (RAM disks), kWaiting while it waits for a commit, kFailed when it could not be made
    // (nothing has changed then).
    Added Add(Writer& writer, const Directory& from, const std::string& name, const Directory& to,
              const std::string& toName, bool failIfExists, std::optional<FileTime> lastWrite);
    // The same for a batch that one thread uses.
    Added Add(const Directory& from, const std::string& name, const Directory& to,
              const std::string& toName, bool failIfExists, std::optional<FileTime> lastWrite) {
        return Add(writer_, from, name, to, toName, failIfExists, lastWrite);
    }

    bool Full() const;
    // True when a waiting copy (also one being committed in the background) may take the name
    // `name` in `to` or one that the file system may take for the same (names that differ in
    // case). A lookup of such a name has to wait for Commit, or it would decide on what the
    // folder holds before the copy.
    bool MayHold(const Directory& to, std::string_view name) const;

    // Makes the copies waiting so far durable and gives them their names, in the order they
    // were added. Answers how many took their names in this call, those of a commit in the
    // background that it waited for included; a copy whose data could not be made durable, or
    // whose name is taken meanwhile (where it may not be replaced), is dropped. Each name is
    // answered by exactly one call.
    int Commit();
    // Hands the waiting copies, when they fill a batch, to a commit in the background and
    // answers how many of the previous one took their names (it is waited for first). Where no
    // thread can be started the commit is made at once.
    int CommitInBackground();

private:
    struct Pending;
    using Keys = std::unordered_set<std::uint64_t>;
    int CommitCopies(std::vector<Pending>& copies);
    bool Named(bool named);
    bool FullLocked() const;
    void TakePending();
    void ForgetCommitted();
    int FinishBackground();

    // Guards the waiting copies and their bounds, and both sets of keys.
    mutable std::mutex mutex_;
    std::vector<Pending> pending_;
    Keys keys_;
    std::atomic<std::size_t> keyCount_{0};  // of both sets, read without the lock
    std::uint64_t bytes_ = 0;
    std::size_t count_;  // the bound of this batch: the first ones are small
    std::chrono::steady_clock::time_point first_;
    // One commit at a time. The batch being committed in the background belongs to its thread
    // until it is joined; its keys stay under mutex_ for MayHold.
    std::mutex commitMutex_;
    std::vector<Pending> committing_;
    Keys committingKeys_;
    std::thread committer_;
    int committed_ = 0;
    Writer writer_;
    std::atomic<std::int32_t>* const named_;
};

// The same for two drive paths.
bool CopyFileByPath(std::string_view from, std::string_view to, bool failIfExists,
                    FileTime lastWrite);

// Copies a file with its own last-write time and permissions (the executable for Copy and Run).
bool CopyFileKeepingAttributes(std::string_view from, std::string_view to, bool failIfExists);

// Creates one folder; false when it cannot be created or something of that name exists.
bool CreateDirectory(std::string_view drivePath);

// Renames a file or folder; never replaces an existing entry of the new name. Where the file
// system ignores case, a new name that differs only in case is the entry itself and is taken.
bool MoveFile(std::string_view fromDrivePath, std::string_view toDrivePath);

}  // namespace tarnwick::platform
