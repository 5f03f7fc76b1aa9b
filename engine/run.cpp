#include "engine/run.h"

#include <exception>

#include "platform/system/system.h"

namespace tarnwick {

std::string DateTimeText() {
    return platform::LocalDateTimeText();
}

namespace {

std::string Quoted(std::string_view path) {
    std::string quoted;
    quoted.reserve(path.size() + 2);
    quoted += '"';
    quoted += path;
    quoted += '"';
    return quoted;
}

// "1 file", "2 files".
std::string FileCount(std::int32_t count) {
    return std::to_string(count) + (count > 1 ? " files" : " file");
}

std::string FolderCount(std::int32_t count) {
    return std::to_string(count) + (count > 1 ? " folders" : " folder");
}

}  // namespace

RunOutcome SyncRun::RunSync(const FolderEntryReader& read, const std::set<int>* only,
                            const FolderVolumeCheck& onItsVolume) {
    LogStart();
    std::int32_t total = 0;
    try {
        bool merge = false;
        bool subfolders = false;
        int group = 1;
        int entry = 1;
        std::string path;
        std::string sourcePath;
        std::string destinationPath;
        bool sourceHere = true;
        bool found = read(group, entry, path, merge, subfolders);
        while (found && progress_.Continue) {
            const bool deleted = path == kDeletedMarker;
            const bool chosen = only == nullptr || only->contains(group);
            if ((deleted || !chosen) && entry == 1) {
                found = false;  // the whole group is passed over
            } else if (!deleted) {
                const bool here = !onItsVolume || onItsVolume(group, entry, path);
                if (entry == 1) {
                    sourcePath = path;
                    sourceHere = here;
                } else {
                    destinationPath = path;
                    total += SyncPair(sourcePath, destinationPath, subfolders,
                                      GroupDestination::kPassDestination, sourceHere, here);
                    if (merge) {
                        total += SyncPair(destinationPath, sourcePath, subfolders,
                                          GroupDestination::kPassSource, here, sourceHere);
                    }
                }
            }
            if (found) {
                ++entry;
                // A destination's own subfolders value is not used: the group keeps its
                // source's.
                bool destinationSubfolders = false;
                found = read(group, entry, path, merge, destinationSubfolders);
            }
            if (!found) {
                ++group;
                entry = 1;
                found = read(group, entry, path, merge, subfolders);
            }
        }
    } catch (const std::exception& error) {
        LogError(" The synchronization stopped after an unexpected error: ", error.what());
    } catch (...) {
        LogError(" The synchronization stopped after an unexpected error.");
    }
    LogEnding(total);
    return {total, errors_, !progress_.Continue, leftBehind_};
}

void SyncRun::LogEnding(std::int32_t total) {
    // A run that was stopped says so; its total stays what was copied before the stop.
    if (!progress_.Continue) {
        LogMessage("Cancelled ", DateTimeText(),
                   " The synchronization was stopped before its end.");
    }
    sink_.Ending(total);
    progress_.SourcePath.Set(std::nullopt);
    progress_.DestinationPath.Set(std::nullopt);
    progress_.FilesCopied = 0;
    LogLine("");
    LogMessage("Total files copied : ", std::to_string(total), ".");
    LogLine("");
    LogEnd();
}

std::int32_t SyncRun::SyncPair(const std::string& from, const std::string& to, bool subfolders,
                               GroupDestination groupDestination, bool fromHere, bool toHere) {
    LogMessage("Synchronising from ", Quoted(from), " to ", Quoted(to));
    PassFailures failures;
    // A folder on another volume than its own is missing: nothing is copied to or from it.
    const std::int32_t result =
        !fromHere ? -1
        : !toHere ? -2
                  : SyncFolders(from, to, subfolders, progress_, {groupDestination, &failures});
    sink_.PassEnded(from, to, result);
    if (result == -1) {
        LogError(" The folder ", Quoted(from), " was not found.");
        return 0;
    }
    if (result == -2) {
        LogError(" The folder ", Quoted(to), " was not found.");
        return 0;
    }
    if (result > 0) {
        LogMessage(FileCount(result), " copied.");
    }
    if (failures.NotCopied > 0 || failures.DestinationFailed) {
        LogFailures(to, failures);
    }
    if (failures.FoldersNotCopied > 0) {
        // "2 folders could not be read or made for "E:\Backup" (permission denied)."
        LogMessage(FolderCount(failures.FoldersNotCopied), " could not be read or made for ",
                   Quoted(to),
                   failures.FolderReason.empty() ? "." : " (" + failures.FolderReason + ").");
    }
    LogLeftAsTheyAre(to, failures);
    if (failures.NotCopied > 0) {
        leftBehind_.push_back({to, failures.NotCopied, failures.Reason});
    }
    if (failures.ReadOnly > 0) {
        leftBehind_.push_back({to, failures.ReadOnly, "read-only"});
    }
    if (failures.FoldersNotCopied > 0) {
        leftBehind_.push_back({to, 0, failures.FolderReason, failures.FoldersNotCopied});
    }
    return result;
}

// "3 files could not be copied to "E:\Backup" (read-only file system)."; an error when the
// destination itself failed, so that the log window opens.
void SyncRun::LogFailures(const std::string& to, const PassFailures& failures) {
    const std::string what = failures.NotCopied > 0
                                 ? FileCount(failures.NotCopied) + " could not be copied to "
                                 : std::string("Files could not be copied to ");
    const std::string reason = failures.Reason.empty() ? "." : " (" + failures.Reason + ").";
    if (failures.DestinationFailed) {
        LogError(" " + what, Quoted(to), reason);
    } else {
        LogMessage(what, Quoted(to), reason);
    }
}

// Plain lines: files the pass left as the user has them, which is no error.
void SyncRun::LogLeftAsTheyAre(const std::string& to, const PassFailures& failures) {
    if (failures.ReadOnly > 0) {
        LogMessage(FileCount(failures.ReadOnly), " could not be copied to ", Quoted(to),
                   " (read-only).");
    }
    const struct {
        std::int32_t count;
        std::string_view what;
    } lines[] = {
        {failures.LeftAsSaved, " left as saved during the run."},
        {failures.NamesGivenBack, " given back the name an interrupted copy had taken."},
        {failures.KeptBeside, " kept beside a newer file of the same name, as \"(kept)\"."},
    };
    for (const auto& line : lines) {
        if (line.count > 0) {
            LogMessage(FileCount(line.count), " in ", Quoted(to), line.what);
        }
    }
}

void SyncRun::LogLine(std::string_view text) {
    sink_.Line(text);
}

void SyncRun::LogMessage(std::string_view piece1, std::optional<std::string_view> piece2,
                         std::optional<std::string_view> piece3,
                         std::optional<std::string_view> piece4,
                         std::optional<std::string_view> piece5,
                         std::optional<std::string_view> piece6) {
    if (!piece2) {
        LogLine(piece1);
        return;
    }
    std::string line(piece1);
    for (const auto& piece : {piece2, piece3, piece4, piece5, piece6}) {
        if (piece) {
            line += *piece;
        }
    }
    LogLine(line);
}

void SyncRun::LogError(std::string_view piece1, std::optional<std::string_view> piece2,
                       std::optional<std::string_view> piece3,
                       std::optional<std::string_view> piece4,
                       std::optional<std::string_view> piece5,
                       std::optional<std::string_view> piece6) {
    errors_ = true;
    sink_.ErrorRaised();
    std::string head = "Error " + DateTimeText();
    head += piece1;
    LogMessage(head, piece2, piece3, piece4, piece5, piece6);
}

void SyncRun::LogStart() {
    sink_.Started();
    LogMessage("------------ Logging Starts ", DateTimeText(), " ------------");
}

void SyncRun::LogEnd() {
    LogMessage("------------ Logging Ends   ", DateTimeText(), " ------------");
}

}  // namespace tarnwick
