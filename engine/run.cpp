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

}  // namespace

RunOutcome SyncRun::RunSync(const FolderEntryReader& read, const std::set<int>* only) {
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
        bool found = read(group, entry, path, merge, subfolders);
        while (found && progress_.Continue) {
            const bool deleted = path == kDeletedMarker;
            const bool chosen = only == nullptr || only->contains(group);
            if ((deleted || !chosen) && entry == 1) {
                found = false;  // the whole group is passed over
            } else if (!deleted) {
                if (entry == 1) {
                    sourcePath = path;
                } else {
                    destinationPath = path;
                    total += SyncPair(sourcePath, destinationPath, subfolders);
                    if (merge) {
                        total += SyncPair(destinationPath, sourcePath, subfolders);
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
    sink_.Ending(total);
    progress_.SourcePath.Set(std::nullopt);
    progress_.DestinationPath.Set(std::nullopt);
    progress_.FilesCopied = 0;
    LogLine("");
    LogMessage("Total files copied : ", std::to_string(total), ".");
    LogLine("");
    LogEnd();
    return {total, errors_};
}

std::int32_t SyncRun::SyncPair(const std::string& from, const std::string& to, bool subfolders) {
    LogMessage("Synchronising from ", Quoted(from), " to ", Quoted(to));
    const std::int32_t result = SyncFolders(from, to, subfolders, progress_);
    sink_.PassEnded(from, to, result);
    if (result == -1) {
        LogError(" The folder ", Quoted(from), " was not found.");
    } else if (result == -2) {
        LogError(" The folder ", Quoted(to), " was not found.");
    } else if (result > 0) {
        const std::string count = std::to_string(result) + (result > 1 ? " files" : " file");
        LogMessage(count, " copied.");
        return result;
    }
    return 0;
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
