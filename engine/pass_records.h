#pragma once
// What a copy pass shares with its callers: the progress record the window reads while the pass
// runs, the failures it counts for the run log, and the options a run gives it.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

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
    // Folders left behind with everything below them: the source's could not be opened or
    // listed whole, or the destination's could not be opened or made; and the first reason.
    std::int32_t FoldersNotCopied = 0;
    std::string FolderReason;
    // Destination files left as they are, which is no failure: saved by the user during the
    // run, or made read-only.
    std::int32_t LeftAsSaved = 0;
    std::int32_t ReadOnly = 0;
    // Files of the user's that an interrupted copy had moved aside: given their names back, or
    // names beside them where newer files have taken theirs.
    std::int32_t NamesGivenBack = 0;
    std::int32_t KeptBeside = 0;
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

}  // namespace tarnwick
