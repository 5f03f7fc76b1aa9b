#pragma once
// The synchronisation run: every group of this computer in order, each destination of a group
// after its source, a Merge destination also copied back, and the run log with its totals. The
// main window and the unattended runs use it alike; each gives it a sink for the log lines.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/copy_pass.h"

namespace tarnwick {

// The path of a deleted folder slot in the settings.
inline constexpr const char* kDeletedMarker = "!";

// Where a run's lines go, in the order written.
class RunSink {
public:
    virtual ~RunSink() = default;
    // Before the first line: a new log begins.
    virtual void Started() {}
    virtual void Line(std::string_view text) = 0;
    // Just before an error line is written.
    virtual void ErrorRaised() {}
    // When a pass has answered, before its lines: the files it copied, or -1 / -2 (a folder
    // missing).
    virtual void PassEnded(std::string_view /*from*/, std::string_view /*to*/,
                           std::int32_t /*result*/) {}
    // Before the end lines, with the run's total.
    virtual void Ending(std::int32_t /*total*/) {}
};

// Reads one folder of a group as the settings do: found, with its path, the group's Merge and
// Subfolders; not found, the three outputs keep what they held.
using FolderEntryReader =
    std::function<bool(int group, int entry, std::string& path, bool& merge, bool& subfolders)>;

// Whether a folder the reader gave lies on the volume it was saved on; one that does not counts
// as missing for the run, which then copies nothing to or from it.
using FolderVolumeCheck = std::function<bool(int group, int entry, const std::string& path)>;

// What a pass left behind in a destination folder: files not copied (a "could not be copied"
// line, read-only targets among them), or folders that could not be read or made.
struct FilesLeftBehind {
    std::string Folder;
    std::int32_t Files = 0;
    std::string Reason;  // of the first failure; may be empty
    std::int32_t Folders = 0;
};

struct RunOutcome {
    std::int32_t Total = 0;
    bool Errors = false;     // an error line was written
    bool Cancelled = false;  // the run was stopped before its end
    // Per pass that left files behind, in the order of the passes.
    std::vector<FilesLeftBehind> LeftBehind;

    // Every file the run decided to copy was copied, and no error line was written.
    bool Complete() const { return !Errors && !Cancelled && LeftBehind.empty(); }
};

// One run of the groups and its log. The log operations may be called from the run's thread only.
class SyncRun {
public:
    SyncRun(CopyProgress& progress, RunSink& sink) : progress_(progress), sink_(sink) {}

    // Runs the groups read through `read` (all of them, or only those in `only` when it is
    // given), each folder checked by `onItsVolume` where given. The caller sets `Continue` of the
    // progress record before; it is read as Cancel, so a Cancel that comes before the run has
    // begun is not undone by it.
    RunOutcome RunSync(const FolderEntryReader& read, const std::set<int>* only = nullptr,
                       const FolderVolumeCheck& onItsVolume = nullptr);

    void LogLine(std::string_view text);
    void LogMessage(std::string_view piece1, std::optional<std::string_view> piece2 = std::nullopt,
                    std::optional<std::string_view> piece3 = std::nullopt,
                    std::optional<std::string_view> piece4 = std::nullopt,
                    std::optional<std::string_view> piece5 = std::nullopt,
                    std::optional<std::string_view> piece6 = std::nullopt);
    void LogError(std::string_view piece1, std::optional<std::string_view> piece2 = std::nullopt,
                  std::optional<std::string_view> piece3 = std::nullopt,
                  std::optional<std::string_view> piece4 = std::nullopt,
                  std::optional<std::string_view> piece5 = std::nullopt,
                  std::optional<std::string_view> piece6 = std::nullopt);
    void LogStart();
    void LogEnd();
    // The end of a run that copied `total` files: the "Cancelled" line when it was stopped, the
    // total and the end line; the progress fields are emptied.
    void LogEnding(std::int32_t total);

private:
    // `fromHere`, `toHere`: the folder is on its own volume.
    std::int32_t SyncPair(const std::string& from, const std::string& to, bool subfolders,
                          GroupDestination groupDestination, bool fromHere, bool toHere);
    void LogFailures(const std::string& to, const PassFailures& failures);
    void LogLeftAsTheyAre(const std::string& to, const PassFailures& failures);

    CopyProgress& progress_;
    RunSink& sink_;
    bool errors_ = false;
    std::vector<FilesLeftBehind> leftBehind_;
};

// The local date and time as the run log shows it.
std::string DateTimeText();

}  // namespace tarnwick
