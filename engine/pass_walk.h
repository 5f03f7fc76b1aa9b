#pragma once
// The walk of a pass: one thread's part, folder by folder, entry by entry.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/copy_batch.h"
#include "engine/pass_pool.h"
#include "engine/queries.h"
#include "platform/files/files.h"

namespace tarnwick::pass {

inline constexpr std::string_view kListingPattern = "\\*.*";

// The destination folder of one level. `folder` is null when it could not be made: then every
// copy into it fails, as it would on its path. A folder the pass has just created holds nothing
// yet, so its names need not be looked up one by one (a copy never replaces what might appear
// there in the meantime).
struct Target {
    const platform::Directory* folder = nullptr;
    bool fresh = false;
    std::uint64_t key = 0;  // of its path below the top, see Holding
};

// One thread's part of a pass. The walk works on open folders (names resolved relative to their
// folder, one listing open per level) and keeps one source and one destination path text that
// grow and shrink with it; their only use is the progress display and the path limit.
class Walker {
public:
    // `top`: the walker that starts at the top folder, whose last entry the display keeps.
    Walker(Pass& pass, int worker, bool top = false) : pass_(pass), worker_(worker), top_(top) {}

    // The pass of one folder and, as far as no other thread takes them, its subfolders.
    void Run(Task& task) {
        source_ = std::move(task.sourcePath);
        destination_ = std::move(task.destinationPath);
        path_ = std::move(task.path);
        Folder(task.source,
               Target{task.destination ? &*task.destination : nullptr, task.fresh, task.key});
    }

    // At the end of the pass the display shows what the pass of one thread would have left
    // there: the last entry of the top folder, or its listing pattern when there was none.
    void PublishTopEntry() {
        if (pass_.progress_ == nullptr) {
            return;
        }
        pass_.display_.store(worker_, std::memory_order_relaxed);
        if (!topEntry_) {
            PublishFolderStart();
            return;
        }
        const std::size_t sourceLength = source_.size();
        const std::size_t destinationLength = destination_.size();
        Join(source_, sourceLength, *topEntry_);
        Join(destination_, destinationLength, *topEntry_);
        Publish(source_, destination_);
        source_.resize(sourceLength);
        destination_.resize(destinationLength);
    }

    // The listing pattern of a folder as shown when its pass starts, false when it does not fit
    // the path limit: such a folder cannot be listed.
    bool PublishFolderStart() {
        const std::size_t length = source_.size();
        const std::string_view pattern =
            source_.ends_with('\\') ? kListingPattern.substr(1) : kListingPattern;
        if (length + pattern.size() > kMaxPathLength) {
            return false;
        }
        if (pass_.progress_ != nullptr) {
            source_.append(pattern);
            Publish(source_, {});
            source_.resize(length);
        }
        return true;
    }

    void SetPaths(std::string_view source, std::string_view destination) {
        source_.assign(source);
        destination_.assign(destination);
    }

    // Leaves the display to whichever thread works next.
    void LeaveDisplay() {
        int owner = worker_;
        pass_.display_.compare_exchange_strong(owner, -1);
    }

private:
    void Publish(std::string_view source, std::string_view destination) {
        if (pass_.progress_ != nullptr && pass_.ClaimDisplay(worker_)) {
            pass_.progress_->SourcePath.Set(source);
            pass_.progress_->DestinationPath.Set(destination);
        }
    }

    // folder + "\" + name; a drive root ("E:\") already ends with its backslash.
    static void Join(std::string& path, std::size_t folderLength, std::string_view name) {
        path.resize(folderLength);
        AppendCharIfMissing(path, '\\');
        path.append(name);
    }

    bool OnCurrentPath(const Identity& folder) const {
        if (pass_.destinationRoot_ && folder == *pass_.destinationRoot_) {
            return true;  // the destination lies inside the source: never copy it into itself
        }
        for (const Identity& ancestor : path_) {
            if (ancestor == folder) {
                return true;
            }
        }
        return false;
    }

    // Lists one source folder and handles its entries in the order the file system gives them.
    void Folder(platform::Directory& source, const Target destination);
    void Entry(platform::Directory& source, const Target destination, platform::EntryKind kind);
    // The pass of one subfolder, here or on an idle thread. A subfolder that cannot be listed,
    // or whose destination folder cannot be opened or made, is passed over and told; one that
    // leads back onto the current path is passed over. The destination folder is opened or made
    // here, in the listing's order. `link`: the entry is a link in the group's source; it is not
    // followed up into a folder that holds the one being walked, nor into a pseudo file system.
    void Subfolder(platform::Directory& parent, const Target parentDestination, bool link);
    // Where a call failed for want of descriptors (`why`), names the waiting copies to give
    // theirs back and answers true: the call is worth trying again.
    bool GiveDescriptorsBack(const platform::FileError& why);

    Pass& pass_;
    const int worker_;
    const bool top_;
    CopyBatch::Writer writer_;
    std::string source_;
    std::string destination_;
    std::string name_;
    std::vector<Identity> path_;  // the source folders from the top down to the current one
    int depth_ = 0;               // of the current folder below the one the walker started in
    std::optional<std::string> topEntry_;  // the last entry shown in the top folder
};

}  // namespace tarnwick::pass
