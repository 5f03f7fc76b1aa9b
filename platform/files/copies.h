#pragma once
// A copy on its way to its name. The copy is written into a new file of the destination folder
// and takes the target's name only when it is whole and its data is on the device; when that
// happens for many copies at once is the engine's to decide (engine/copy_batch.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/files/files.h"

namespace tarnwick::platform {

// What a target was when its copy was written: the copy replaces only that file, never one that
// has been edited, replaced or removed meanwhile.
struct TargetState {
    bool exists = false;  // false: the copy takes a free name and never replaces anything
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;
};

// A copy that waits for a flush of its volume under a temporary name.
struct WaitingCopy {
    char temporary[64] = "";
    std::string toName;
    TargetState target;
};

// The file calls of one copy in the order they come, for tests that act at each of them.
enum class CopyStep : std::uint8_t {
    kDecided,     // the target as decided on is compared with what is there now
    kOpened,      // the source is open, the new file about to be written
    kWritten,     // the contents are written
    kFlushed,     // the data is about to be made durable (the file's or the volume's flush)
    kLooked,      // the target is about to be looked at for the last time before naming
    kMovedAside,  // the target is about to be moved aside (volumes that cannot exchange names)
    kNamed,       // the copy is about to take the name
    kDisplaced,   // the file that left the name is about to be looked at
    kRemoved,     // what is no longer needed is about to be removed
};

// Tests only: `hook` runs at every step of every copy, with the name the copy is for
// (nullptr: nothing).
void SetCopyStepHookForTests(std::function<void(CopyStep, const std::string&)> hook);

// A destination folder in which copies wait under temporary names, with a descriptor of its own
// (the walk may close its folder before the copies are named). It holds a shared lock on the
// folder for as long as it lives, so that no pass takes the waiting files for leftovers (the
// rule is in leftovers_linux.cpp).
class HeldFolder {
public:
    // nullptr when the folder cannot be opened again (no descriptor left, for one). The lock is
    // never waited for without limit: `going` (when given) says whether to keep asking.
    // `why`, when given, tells why it could not be opened.
    static std::shared_ptr<HeldFolder> Hold(const Directory& folder,
                                            const std::function<bool()>& going = {},
                                            FileError* why = nullptr);

    std::uint64_t Id() const { return id_; }
    std::uint64_t Device() const { return device_; }
    // False where the file system refuses locks: then each copy locks its own file.
    bool Locked() const { return locked_; }
    // True where another holds the folder locked: copies there must not wait under temporary
    // names (their files are locked only while they are written).
    bool Contended() const { return contended_; }

    HeldFolder() = default;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
    ~HeldFolder();

    // Flushes the whole volume of the folder: empty when what was written to it is on the
    // device. A failed flush is not asked again as if it could succeed: the system reports an
    // error of writing back once.
    FileError FlushVolume() const;
    // Flushes the folder itself: the names given in it (where a volume flush is not used).
    FileError FlushFolder() const;
    // Gives a waiting copy its name where its target is still the file it was written for; a
    // copy that does not get its name is removed.
    FileError Name(const WaitingCopy& copy) const;
    // Removes a waiting copy that is not to be named.
    void Remove(const char* temporary) const;

private:
    std::intptr_t handle_ = -1;
    std::uint64_t id_ = 0;
    std::uint64_t device_ = 0;
    bool locked_ = false;
    bool contended_ = false;
};

// A finished copy that has no name yet: a temporary or an unnamed file in the destination folder.
// Whatever does not get its name is removed when the copy goes.
class TemporaryCopy {
public:
    TemporaryCopy(TemporaryCopy&& other) noexcept;
    TemporaryCopy& operator=(TemporaryCopy&& other) noexcept;
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;
    ~TemporaryCopy();

    // Writes the copy of `name` in `from` for the name `toName` in `to`, with the checks of
    // CopyFileAt. `decidedOn`: the target as the caller found it when it decided to replace it;
    // a target that is another file by now is left alone. `held`: the destination folder as a batch
    // holds it (null where it could not be held). `waits`: the copy will wait for a flush of the
    // volume, under a temporary name. nullopt when no copy could be made (nothing has changed
    // then).
    // `why` tells what kept the copy from being made.
    static std::optional<TemporaryCopy> Write(const Directory& from, const std::string& name,
                                              const Directory& to, const std::string& toName,
                                              bool failIfExists, std::optional<FileTime> lastWrite,
                                              const FindData* decidedOn, const HeldFolder* held,
                                              bool waits, FileError& why);

    std::uint64_t Size() const { return size_; }

    // Makes the data durable as the folder's volume needs and gives the copy its name now;
    // empty when it has its name.
    FileError NameNow(const Directory& to);

    // For a copy that waits for a flush of its volume: hands its data to the device (large files
    // at once), closes it and gives it to the caller, who names it or removes it through the
    // held folder.
    void HandOver(WaitingCopy& waiting);

private:
    TemporaryCopy() = default;

    void Discard();

    std::intptr_t out_ = -1;
    std::intptr_t folder_ = -1;  // not owned: the destination folder's
    std::string toName_;
    TargetState target_;
    char temporary_[64] = "";
    // Last access and last write as the destination's driver takes them.
    FileTime accessed_ = 0;
    FileTime written_ = 0;
    std::uint64_t size_ = 0;
};

}  // namespace tarnwick::platform
