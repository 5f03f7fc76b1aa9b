#pragma once
// The folder copy pass: brings one destination folder up to date from one source folder.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/filetime.h"

namespace tarnwick {

namespace platform {
class Directory;
}

// A text or none that one thread publishes and another reads whole.
class SharedText {
public:
    void Set(std::optional<std::string_view> text);
    std::optional<std::string> Get() const;

private:
    mutable std::mutex mutex_;
    std::string text_;
    bool given_ = false;
};

// Shared by the copy pass (worker thread) and the main window's progress timer (UI thread).
struct CopyProgress {
    SharedText SourcePath;
    SharedText DestinationPath;
    std::atomic<bool> Continue{false};
    std::atomic<std::int32_t> FilesCopied{0};
};

// What a pass could not copy, for the run log.
struct PassFailures {
    // Files that could not be copied, names that a drive path cannot hold or that would make a
    // path longer than its limit included.
    std::int32_t NotCopied = 0;
    // The reason of the first failure, in the system's words ("read-only file system").
    std::string Reason;
    // The destination refused every copy that was tried, or its volume vanished or stopped
    // answering: not a file's problem but the folder's.
    bool DestinationFailed = false;
};

// Which side of a pass is a group's destination folder. Nothing is written or read through a
// link there; in a group's source, folder links are followed (but not up into a folder that holds
// the one being walked, nor into a pseudo file system) and file links copied as their files.
enum class GroupDestination : std::uint8_t {
    kPassDestination,  // the forward pass of a group
    kPassSource,       // the reverse pass of a Merge destination
};

struct PassOptions {
    GroupDestination Destination = GroupDestination::kPassDestination;
    PassFailures* Failures = nullptr;  // filled when given
};

// -1: source folder missing or not listable; -2: destination folder missing or not creatable;
// otherwise the number of files copied. The destination folder itself must exist.
std::int32_t SyncFolders(std::string_view source, std::string_view destination, bool subfolders,
                         CopyProgress& progress, const PassOptions& options = {});

// The recursive pass. Without a progress record it runs to the end and publishes nothing.
std::int32_t CopyFolderPass(std::string_view source, std::string_view destination, bool subfolders,
                            CopyProgress* progress, const PassOptions& options = {});

// The number of threads a pass works with; 0 (the default) for one per core, within bounds.
// One gives the pass of a single thread.
void SetCopyPassWorkers(unsigned workers);

// Copies one file and gives the copy `lastWrite` as its last-write time. The time is given to
// the new file before it takes its name, so the copy of a read-only file gets it too and counts
// as a copy: it is whole, carries the source's time and is not copied again.
bool CopyFileKeepTime(std::string_view source, std::string_view destination, bool failIfExists,
                      platform::FileTime lastWrite);

// True when `source` is later than `destination` plus 2 seconds.
bool IsNewer(platform::FileTime source, platform::FileTime destination);

// The decision of the pass for a file in `sourceFolder` and its namesake in `destinationFolder`:
// IsNewer on the times that both volumes can keep (so that a time FAT cannot hold never counts
// as a change), and where either volume keeps local times (FAT), a difference of exactly one
// hour, within the 2 seconds, is a clock that moved (summer time, a trip), not an edit.
bool IsNewerIn(const platform::Directory& sourceFolder,
               const platform::Directory& destinationFolder, platform::FileTime source,
               platform::FileTime destination);

// Adds milliseconds to a file time, carrying from the low into the high 32 bits.
void AddMilliseconds(platform::FileTime& time, std::uint16_t milliseconds);

}  // namespace tarnwick
