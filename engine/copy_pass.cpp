#include "engine/copy_pass.h"

#include <exception>
#include <utility>
#include <vector>

#include "engine/folders.h"
#include "engine/queries.h"
#include "platform/files.h"

namespace tarnwick {

void SharedText::Set(std::optional<std::string_view> text) {
    std::lock_guard lock(mutex_);
    // Assigning into the existing text reuses its storage: no allocation once it is large enough.
    if (text) {
        text_.assign(*text);
    } else {
        text_.clear();
    }
    given_ = text.has_value();
}

std::optional<std::string> SharedText::Get() const {
    std::lock_guard lock(mutex_);
    if (!given_) {
        return std::nullopt;
    }
    return text_;
}

namespace {

constexpr std::string_view kListingPattern = "\\*.*";

struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
};

Identity IdentityOf(const platform::Directory& folder) {
    return {folder.Device(), folder.Inode()};
}

// The destination folder of one level. `folder` is null when it could not be made: then every
// copy into it fails, as it would on its path. A folder the pass has just created holds nothing
// yet, so its names need not be looked up one by one (a copy never replaces what might appear
// there in the meantime).
struct Target {
    const platform::Directory* folder = nullptr;
    bool fresh = false;
};

// One pass over a tree. The walk works on open folders (names resolved relative to their
// folder, one listing open per level) and keeps one source and one destination path text that
// grow and shrink with it; their only use is the progress display and the path limit.
class Walk {
public:
    Walk(bool subfolders, CopyProgress* progress)
        : subfolders_(subfolders),
          progress_(progress),
          batch_(progress != nullptr ? &progress->FilesCopied : nullptr) {}

    std::int32_t Run(std::string_view source, std::string_view destination) {
        source_.assign(source);
        destination_.assign(destination);
        if (!PublishFolderStart()) {
            return -1;
        }
        auto sourceFolder = platform::Directory::Open(source);
        if (!sourceFolder) {
            return -1;
        }
        const std::int32_t created = CreateFolderPath(destination);
        if (created < 0) {
            return -2;
        }
        auto destinationFolder = platform::Directory::Open(destination);
        if (destinationFolder) {
            destinationRoot_ = IdentityOf(*destinationFolder);
        }
        path_.push_back(IdentityOf(*sourceFolder));
        Folder(*sourceFolder,
               Target{destinationFolder ? &*destinationFolder : nullptr, created > 0});
        Commit();
        return copied_;
    }

    // Names what is finished (also when the walk has to be abandoned) and answers the files
    // copied so far.
    std::int32_t Finish() {
        try {
            Commit();
        } catch (const std::exception&) {
        }
        return copied_;
    }

private:
    // A copy counts once it has its name; the batch counts it in the progress record as it
    // names it.
    void Counted(int named) { copied_ += named; }

    void Commit() { Counted(batch_.Commit()); }

    bool Continue() const {
        return progress_ == nullptr || progress_->Continue.load(std::memory_order_relaxed);
    }

    void Publish(std::string_view source, std::string_view destination) {
        if (progress_ != nullptr) {
            progress_->SourcePath.Set(source);
            progress_->DestinationPath.Set(destination);
        }
    }

    // A folder's pass shows its listing pattern and an empty destination. False when the pattern
    // does not fit the path limit: such a folder cannot be listed.
    bool PublishFolderStart() {
        const std::size_t length = source_.size();
        const std::string_view pattern =
            source_.ends_with('\\') ? kListingPattern.substr(1) : kListingPattern;
        if (length + pattern.size() > kMaxPathLength) {
            return false;
        }
        if (progress_ != nullptr) {
            source_.append(pattern);
            Publish(source_, {});
            source_.resize(length);
        }
        return true;
    }

    // folder + "\" + name; a drive root ("E:\") already ends with its backslash.
    static void Join(std::string& path, std::size_t folderLength, std::string_view name) {
        path.resize(folderLength);
        AppendCharIfMissing(path, '\\');
        path.append(name);
    }

    bool OnCurrentPath(const Identity& folder) const {
        if (destinationRoot_ && folder == *destinationRoot_) {
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
    // Copies are counted when their batch gives them their names, so the count of the whole
    // pass is kept in copied_ rather than level by level.
    void Folder(platform::Directory& source, const Target destination) {
        const std::size_t sourceLength = source_.size();
        const std::size_t destinationLength = destination_.size();
        // A folder that was there before the pass may hold what an interrupted copy left.
        if (destination.folder != nullptr && !destination.fresh) {
            destination.folder->RemoveLeftoverCopies();
        }
        while (Continue()) {
            const auto entry = source.Next();
            if (!entry) {
                break;
            }
            if (platform::IsTemporaryCopyName(*entry)) {
                // Left by an interrupted copy (or being written by one, which holds it).
                platform::RemoveLeftoverCopy(source, std::string(*entry));
                continue;
            }
            Join(source_, sourceLength, *entry);
            Join(destination_, destinationLength, *entry);
            // A longer path would not fit: passed over, never cut short into another path.
            if (source_.size() > kMaxPathLength || destination_.size() > kMaxPathLength) {
                continue;
            }
            Publish(source_, destination_);
            name_.assign(*entry);
            Entry(source, destination, source.LastKind());
        }
        source_.resize(sourceLength);
        destination_.resize(destinationLength);
    }

    void Entry(platform::Directory& source, const Target destination, platform::EntryKind kind) {
        std::optional<platform::FindData> data;
        if (kind == platform::EntryKind::kUnknown) {
            data = source.Lookup(name_);
            if (!data) {
                return;
            }
            // Behind a link: opening a FIFO or a device to copy it could wait or do harm.
            if ((data->attributes & platform::kAttributeDirectory) != 0) {
                kind = platform::EntryKind::kFolder;
            } else if ((data->attributes & platform::kAttributeDevice) != 0) {
                kind = platform::EntryKind::kOther;
            } else {
                kind = platform::EntryKind::kFile;
            }
        }
        if (kind == platform::EntryKind::kFolder) {
            // Without subfolders a folder takes the file road, where its copy can only fail.
            if (!subfolders_) {
                return;
            }
            Subfolder(source, destination);
            // The subfolder's pass pointed the display at its own paths.
            Publish(source_, destination_);
            return;
        }
        if (kind != platform::EntryKind::kFile || destination.folder == nullptr) {
            return;  // FIFOs, devices and sockets are not copied; nor is anything into nothing
        }

        std::optional<platform::FindData> existing;
        if (!destination.fresh) {
            // A waiting copy that the file system may take for this name (one differing only in
            // case, on FAT) is named first: the decision must see the folder as it would be had
            // every earlier copy been made at once.
            if (batch_.MayHold(*destination.folder, name_)) {
                Commit();
            }
            existing = destination.folder->Lookup(name_);
        }
        if (existing) {
            if (!data) {
                data = source.Lookup(name_);
                if (!data) {
                    return;
                }
            }
            if (!IsNewer(data->lastWriteTime, existing->lastWriteTime)) {
                return;
            }
        }
        // A missing file takes the source's time as the opened file gives it, which spares a
        // look at the source beforehand. Where nothing of the name was there, the copy also
        // refuses to replace whatever appears in the meantime.
        const std::optional<platform::FileTime> sourceTime =
            data ? std::optional(data->lastWriteTime) : std::nullopt;
        switch (batch_.Add(source, name_, *destination.folder, name_, !existing, sourceTime)) {
            case platform::CopyBatch::Added::kNamed:
                Counted(1);
                break;
            case platform::CopyBatch::Added::kWaiting:
                // The disk takes the batch while the walk goes on with the next one.
                if (batch_.Full()) {
                    Counted(batch_.CommitInBackground());
                }
                break;
            case platform::CopyBatch::Added::kFailed:
                break;
        }
    }

    // The pass of one subfolder. A subfolder that cannot be listed (or leads back onto the
    // current path), or whose destination folder cannot be made, is passed over.
    void Subfolder(platform::Directory& parent, const Target parentDestination) {
        if (!PublishFolderStart()) {
            return;
        }
        auto source = parent.OpenChild(name_);
        if (!source || OnCurrentPath(IdentityOf(*source))) {
            return;
        }

        std::optional<platform::Directory> destination;
        bool fresh = false;
        if (const platform::Directory* const folder = parentDestination.folder) {
            if (!parentDestination.fresh) {
                destination = folder->OpenChild(name_);
            }
            if (!destination && folder->MakeChild(name_)) {
                destination = folder->OpenChild(name_);
                fresh = true;
            }
        }
        if (!destination) {
            // The rare road (something in the way, no permission, no parent): decided exactly
            // as for a path.
            const std::int32_t created = CreateFolderPath(destination_);
            if (created < 0) {
                return;
            }
            destination = platform::Directory::Open(destination_);
            fresh = created > 0;
        }

        path_.push_back(IdentityOf(*source));
        Folder(*source, Target{destination ? &*destination : nullptr, fresh && destination});
        path_.pop_back();
    }

    const bool subfolders_;
    CopyProgress* const progress_;
    std::string source_;
    std::string destination_;
    std::string name_;
    std::vector<Identity> path_;  // the source folders from the top down to the current one
    std::optional<Identity> destinationRoot_;
    platform::CopyBatch batch_;
    std::int32_t copied_ = 0;
};

}  // namespace

std::int32_t SyncFolders(std::string_view source, std::string_view destination, bool subfolders,
                         CopyProgress& progress) {
    if (!FolderExists(source)) {
        return -1;
    }
    if (!FolderExists(destination)) {
        return -2;
    }
    return CopyFolderPass(source, destination, subfolders, &progress);
}

std::int32_t CopyFolderPass(std::string_view source, std::string_view destination, bool subfolders,
                            CopyProgress* progress) {
    Walk walk(subfolders, progress);
    try {
        return walk.Run(source, destination);
    } catch (const std::exception&) {
        return walk.Finish();
    }
}

bool CopyFileKeepTime(std::string_view source, std::string_view destination, bool failIfExists,
                      platform::FileTime lastWrite) {
    if (source.size() > kMaxPathLength || destination.size() > kMaxPathLength) {
        return false;
    }
    return platform::CopyFileByPath(source, destination, failIfExists, lastWrite);
}

bool IsNewer(platform::FileTime source, platform::FileTime destination) {
    platform::FileTime limit = destination;
    AddMilliseconds(limit, 2000);
    return source > limit;
}

void AddMilliseconds(platform::FileTime& time, std::uint16_t milliseconds) {
    const auto low = static_cast<std::uint32_t>(time);
    auto high = static_cast<std::uint32_t>(time >> 32);
    const auto newLow = static_cast<std::uint32_t>(low + std::uint32_t{milliseconds} * 10000U);
    if (newLow < low) {
        ++high;
    }
    time = (static_cast<platform::FileTime>(high) << 32) | newLow;
}

}  // namespace tarnwick
