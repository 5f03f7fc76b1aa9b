#pragma once
// Files and folders, addressed by drive paths (see drives.h) or through open folder handles.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/filetime.h"
#include "platform/volumes/fat_clock.h"

namespace tarnwick::platform {

inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeHidden = 0x02;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
// FIFOs, sockets and device nodes: entries with no contents to copy, which a copy never opens.
inline constexpr std::uint32_t kAttributeDevice = 0x40;
inline constexpr std::uint32_t kAttributeNormal = 0x80;
// The entry itself is a link (its other attributes and time are those of what it leads to).
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;

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

// Why a file operation did not do what was asked. `error` is the system's error of the call that
// failed, taken at that call (0 where a rule of this program refused); `concerns` says what it
// was about.
enum class FileRefusal : std::uint8_t {
    kNone,
    kSystem,         // the system refused (see `error`)
    kTargetChanged,  // the target is no longer the file decided on: it stays as the user saved it
    kReadOnly,       // the target may not be written
    kSourceChanged,  // the source was written to while it was copied
    kNotAFile,       // the source is no regular file, or a folder stands where the file goes
    kNotDurable,     // the copy could not be made durable (its flush failed)
};
enum class FileConcern : std::uint8_t { kSource, kTarget, kFolder };
struct FileError {
    FileRefusal refusal = FileRefusal::kNone;
    int error = 0;
    FileConcern concerns = FileConcern::kTarget;

    explicit operator bool() const { return refusal != FileRefusal::kNone; }
    // For want of descriptors (closing some and trying again may succeed).
    bool RanOutOfDescriptors() const;
    // The volume itself is gone or no longer answers.
    bool LostVolume() const;
    // Nothing has the name (or a folder on its way).
    bool Missing() const;
    // Something has the name already.
    bool NameTaken() const;
    // Where a folder was to be made or opened, something else has its name.
    bool InTheWay() const;
    // In the system's words, lower case ("read-only file system"); the program's own refusals in
    // its own.
    std::string Text() const;
};

// Files of the user's that an interrupted copy had moved aside under a hidden name, and that got
// their own names back, or, where a newer file had taken the name, a name beside it
// ("report (kept).txt").
struct FilesGivenBack {
    std::uint32_t ownName = 0;
    std::uint32_t beside = 0;
};

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
    // Opens the folder a drive path names from the root of its drive, one name after the other:
    // never through a link and never onto another volume, so that a folder saved on a stick is
    // found only on that stick. `make`: missing folders of the path are made (`made` counts
    // them). nullopt, with the reason in `why`, where it cannot be opened so.
    static std::optional<Directory> OpenOnDrive(std::string_view drivePath, bool make = false,
                                                std::int32_t* made = nullptr,
                                                FileError* why = nullptr);
    // Opens a subfolder by name; links are followed unless `followLinks` is false (then a link
    // is not opened).
    // `why`, when given, tells why it was not opened.
    std::optional<Directory> OpenChild(const std::string& name, bool followLinks = true,
                                       FileError* why = nullptr) const;
    // Whether the entry `name` is itself a link.
    bool IsLink(const std::string& name) const;
    // From now on nothing is opened through a link among this folder's entries: no subfolder
    // (OpenChild), no file to copy from (CopyFileAt and the copies of a batch). Its subfolders
    // inherit the rule. For a folder whose contents are not trusted (a stick, a share).
    void RefuseLinks() { refusesLinks_ = true; }
    bool RefusesLinks() const { return refusesLinks_; }
    // Whether this folder is `folder` or contains it, however deep (told by walking up from
    // `folder` through its real parents).
    bool Contains(const Directory& folder) const;
    // Whether this folder lies on a file system of the kernel's own that holds no user files
    // (proc, sysfs, devtmpfs, cgroup and the like).
    bool OnPseudoFileSystem() const;

    // The next entry's name, in the order the file system gives them, "." and ".." left out,
    // names that hold a backslash passed over (counted in LeftOut). The view is valid until the
    // next call.
    // nullopt at the end of the listing.
    std::optional<std::string_view> Next();
    // What the listing said about the entry Next() returned last.
    EntryKind LastKind() const { return lastKind_; }
    // Names the listing passed over so far because a drive path cannot hold them.
    std::uint32_t LeftOut() const { return leftOut_; }
    // Why the listing ended before its end (empty where it was read whole).
    const FileError& ListingError() const { return listingError_; }

    // Looks a name up in this folder by the file system's own rules (links followed).
    std::optional<FindData> Lookup(const std::string& name) const;
    // Whether the entry Next() returned last, `name`, is a folder: told by the listing, looked up
    // (links followed) only where the listing cannot tell.
    bool LastIsFolder(std::string_view name) const;

    // Creates a subfolder; false when it cannot be created (also when something of that name is
    // already there).
    bool MakeChild(const std::string& name, FileError* why = nullptr) const;

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

    // Whether the files of this folder's volume have permission bits of their own: not on FAT,
    // exFAT and NTFS, whose drivers make them up; unsure through FUSE drivers (asked once).
    enum class Permissions : std::uint8_t { kKept, kNone, kUnsure };
    Permissions KeepsPermissions() const;

    // How copies into this folder are made durable before they take their names: not at all on a
    // RAM disk (its contents do not survive anyway), by one flush of the whole volume for a batch
    // on local file systems, file by file where a volume flush is not known to reach the device
    // (FUSE drivers, network file systems). Asked once per folder.
    enum class Durability : std::uint8_t { kNone, kVolume, kEachFile };
    Durability CopyDurability() const;

    // Removes the temporary copy files in this folder that no running copy holds: files left by a
    // crash, a power cut or a pulled stick in the middle of a copy. Files of the user's that such
    // a copy had moved aside get their names back (or names beside them, see FilesGivenBack).
    // Nothing else is touched.
    FilesGivenBack RemoveLeftoverCopies() const;

    // Times as the original platform has them, for an entry of this folder on the volume
    // `device` (see FatClockCache), and the time to give this folder's driver for one.
    FileTime OriginalTime(std::uint64_t device, FileTime driverTime) const {
        return clocks_.Reading(device, driverTime);
    }
    FileTime DriverTime(FileTime original) const { return clocks_.Writing(Device(), original); }
    // The time a file in this folder can have nearest to `original` (FAT keeps 1980 to 2107 in
    // steps of 2 seconds), and whether its volume keeps local times (FAT).
    FileTime HeldTime(FileTime original) const { return clocks_.Held(Device(), original); }
    bool KeepsLocalTimes() const { return clocks_.KeepsLocalTimes(Device()); }

    // A number that tells this open folder from every other one the process has opened.
    std::uint64_t Id() const { return id_; }

private:
    // Where the system names files by path, a copy and the removal of leftovers need the
    // folder's.
    friend class TemporaryCopy;
    friend bool RemoveLeftoverCopy(const Directory& folder, const std::string& name);

    explicit Directory(int fd);
    void Close();
    void LoadIdentity() const;
    void LoadVolumeTraits() const;

    int fd_ = -1;
    // The folder's native path, where the system lists folders and names files by path.
    std::string native_;
    // The listing as the kernel hands it over, read on the first Next() and then as needed.
    std::unique_ptr<char[]> listing_;
    std::size_t listingPosition_ = 0;
    std::size_t listingEnd_ = 0;
    bool listingDone_ = false;
    EntryKind lastKind_ = EntryKind::kUnknown;
    std::uint32_t leftOut_ = 0;
    FileError listingError_;
    bool refusesLinks_ = false;
    mutable bool identityKnown_ = false;
    mutable std::uint64_t device_ = 0;
    mutable std::uint64_t inode_ = 0;
    std::uint64_t id_ = 0;
    mutable bool traitsKnown_ = false;
    mutable bool restamps_ = false;
    mutable bool serialises_ = false;
    mutable Permissions permissions_ = Permissions::kKept;
    mutable Durability durability_ = Durability::kVolume;
    // FAT's local times are read as the original platform reads them.
    mutable FatClockCache clocks_;
};

// Copies the file `name` of `from` to `toName` in `to` and gives the copy `lastWrite` as its
// last-write time (nullopt: the source's own, as the opened file tells it). The copy is written to
// an unnamed or temporary file in `to` that takes the target's name only when it is complete and
// its data is on the device (see copies.h); a failed copy removes the temporary
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
// Such a name: the prefix, the process id, '-', a sequence number, the suffix.
inline constexpr std::string_view kTemporaryPrefix = ".tarnwick-";
inline constexpr std::string_view kTemporarySuffix = ".tmp";

// True for the hidden name under which a copy moves a file of the user's aside for a moment
// (where a volume cannot exchange names). Listings of the copy pass leave such names alone, and
// the pass gives them their names back (Directory::RemoveLeftoverCopies).
bool IsFileMovedAside(std::string_view name);

// Removes the temporary copy file `name` of `folder` when no running copy holds it (a copy locks
// its temporary file while it writes it, and its folder while it waits there for its name).
// False when it stays.
bool RemoveLeftoverCopy(const Directory& folder, const std::string& name);

// A key for the name `name` in the folder (device, inode) on which all names that a
// case-insensitive file system may take for one fall: ASCII letters folded, every other byte
// above 127 taken for any other (their case rules are the driver's). Different names rarely
// share a key.
std::uint64_t CaseFoldedKey(std::uint64_t device, std::uint64_t inode, std::string_view name);

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

// The text of a system error that a file call answered (FileError), in the system's words, lower
// case ("read-only file system"), and whether it says that the volume itself is gone or no longer
// answers (a pulled stick, a dead driver, a lost share).
std::string FileErrorText(int error);
bool IsLostVolumeError(int error);

}  // namespace tarnwick::platform
