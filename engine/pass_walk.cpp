#include "engine/pass_walk.h"

#include <utility>

#include "engine/copy_pass.h"
#include "engine/folders.h"
#include "engine/queries.h"

namespace tarnwick::pass {

namespace {

constexpr std::string_view kPathTooLong = "path longer than 2,047 characters";
constexpr std::string_view kLinkInDestination = "a link, which is not followed";
constexpr std::string_view kNoDestinationFolder = "the destination folder could not be opened";

}  // namespace

// Lists one source folder and handles its entries in the order the file system gives them.
void Walker::Folder(platform::Directory& source, const Target destination) {
    const std::size_t sourceLength = source_.size();
    const std::size_t destinationLength = destination_.size();
    // A folder that was there before the pass may hold what an interrupted copy left.
    if (destination.folder != nullptr && !destination.fresh) {
        pass_.GivenBack(destination.folder->RemoveLeftoverCopies());
    }
    while (pass_.Continue()) {
        const auto entry = source.Next();
        if (!entry) {
            break;
        }
        if (platform::IsTemporaryCopyName(*entry)) {
            // Left by an interrupted copy (or being written by one, which holds it).
            platform::RemoveLeftoverCopy(source, std::string(*entry));
            continue;
        }
        if (platform::IsFileMovedAside(*entry)) {
            continue;  // gets its name back where its folder is a destination
        }
        Join(source_, sourceLength, *entry);
        Join(destination_, destinationLength, *entry);
        // A longer path would not fit: passed over, never cut short into another path.
        if (source_.size() > kMaxPathLength || destination_.size() > kMaxPathLength) {
            pass_.NotCopied(1, kPathTooLong);
            continue;
        }
        Publish(source_, destination_);
        name_.assign(*entry);
        if (top_ && depth_ == 0 && pass_.progress_ != nullptr) {
            topEntry_ = name_;
        }
        Entry(source, destination, source.LastKind());
    }
    if (source.LeftOut() > 0) {
        pass_.NotCopied(static_cast<std::int32_t>(source.LeftOut()), "name with a backslash");
    }
    if (source.ListingError()) {
        pass_.FolderNotCopied(source.ListingError());  // its listing ended before its end
    }
    source_.resize(sourceLength);
    destination_.resize(destinationLength);
}

void Walker::Entry(platform::Directory& source, const Target destination,
                   platform::EntryKind kind) {
    std::optional<platform::FindData> data;
    bool link = false;
    if (kind == platform::EntryKind::kUnknown) {
        data = source.Lookup(name_);
        if (!data) {
            return;
        }
        link = (data->attributes & platform::kAttributeReparsePoint) != 0;
        if (link && pass_.SourceInGroupDestination()) {
            pass_.NotCopied(1, kLinkInDestination);  // nothing is read through it
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
        if (!pass_.subfolders_) {
            return;
        }
        Subfolder(source, destination, link);
        // The subfolder's pass pointed the display at its own paths.
        Publish(source_, destination_);
        return;
    }
    if (kind != platform::EntryKind::kFile) {
        return;  // FIFOs, devices and sockets are not copied
    }
    if (destination.folder == nullptr) {
        pass_.NotCopied(1, kNoDestinationFolder);
        return;
    }

    CopyBatch& batch = pass_.batch_;
    std::optional<platform::FindData> existing;
    if (!destination.fresh) {
        // A waiting copy that the file system may take for this name (one differing only in
        // case, on FAT) is named first: the decision must see the folder as it would be had
        // every earlier copy been made at once.
        if (batch.MayHold(*destination.folder, name_)) {
            pass_.Counted(batch.Commit());
        }
        existing = destination.folder->Lookup(name_);
        if (existing && (existing->attributes & platform::kAttributeReparsePoint) != 0 &&
            pass_.DestinationInGroupDestination()) {
            pass_.NotCopied(1, kLinkInDestination);  // nothing is written through it
            return;
        }
    }
    if (existing) {
        if (!data) {
            data = source.Lookup(name_);
            if (!data) {
                return;
            }
        }
        if (!IsNewerIn(source, *destination.folder, data->lastWriteTime, existing->lastWriteTime)) {
            return;
        }
    }
    // A missing file takes the source's time as the opened file gives it, which spares a
    // look at the source beforehand. Where nothing of the name was there, the copy also
    // refuses to replace whatever appears in the meantime.
    const std::optional<platform::FileTime> sourceTime =
        data ? std::optional(data->lastWriteTime) : std::nullopt;
    pass_.Attempted();
    platform::FileError why;
    const CopyBatch::Added added =
        batch.Add(writer_, source, name_, *destination.folder, name_, !existing, sourceTime,
                  existing ? &*existing : nullptr, why);
    if (added == CopyBatch::Added::kFailed) {
        pass_.AttemptsFailed(why);
    }
    switch (added) {
        case CopyBatch::Added::kNamed:
            pass_.Counted(1);
            break;
        case CopyBatch::Added::kWaiting:
            // The disk takes the batch while the walk goes on with the next one.
            if (batch.Full()) {
                pass_.Counted(batch.CommitInBackground());
            }
            break;
        case CopyBatch::Added::kFailed:
            break;
    }
}

bool Walker::GiveDescriptorsBack(const platform::FileError& why) {
    if (!why.RanOutOfDescriptors()) {
        return false;
    }
    // The copies waiting in the batch hold a descriptor for each of their folders: named, they
    // give them back. Running out never makes the pass pass a folder over.
    writer_.Release();
    pass_.Counted(pass_.batch_.Commit());
    return true;
}

// The pass of one subfolder, here or on an idle thread. A subfolder that cannot be listed
// (or leads back onto the current path), or whose destination folder cannot be made, is
// passed over. The destination folder is opened or made here, in the listing's order.
void Walker::Subfolder(platform::Directory& parent, const Target parentDestination, bool link) {
    if (!PublishFolderStart()) {
        pass_.NotCopied(1, kPathTooLong);
        return;
    }
    // In a group's destination a folder is opened only where it is no link.
    const bool followSourceLinks = !pass_.SourceInGroupDestination();
    platform::FileError why;
    auto source = parent.OpenChild(name_, followSourceLinks, &why);
    if (!source && GiveDescriptorsBack(why)) {
        source = parent.OpenChild(name_, followSourceLinks, &why);
    }
    if (!source) {
        pass_.FolderNotCopied(why);
        return;
    }
    if (OnCurrentPath(IdentityOf(*source))) {
        return;  // a loop of links: the folder is being copied already
    }
    // A link in the source leads anywhere: never up into a folder that holds this one (".."
    // "/", the home folder), which would copy the whole disk, nor into the kernel's own files.
    if (link && (source->Contains(parent) || source->OnPseudoFileSystem())) {
        return;
    }

    const bool followLinks = !pass_.DestinationInGroupDestination();
    std::optional<platform::Directory> destination;
    bool fresh = false;
    if (const platform::Directory* const folder = parentDestination.folder) {
        if (!parentDestination.fresh) {
            // A waiting copy that the file system may take for this name (a file differing only
            // in case, on FAT) is named first, as for a file.
            if (pass_.batch_.MayHold(*folder, name_)) {
                pass_.Counted(pass_.batch_.Commit());
            }
            destination = folder->OpenChild(name_, followLinks, &why);
            if (!destination && GiveDescriptorsBack(why)) {
                destination = folder->OpenChild(name_, followLinks, &why);
            }
            // (Where links are not followed, only a name that did not open may be one.)
            if ((followLinks || !destination) && folder->IsLink(name_)) {
                // In the group's destination nothing is written through a link; in its source
                // (the way back of a Merge) not up into a folder that holds this one.
                if (!followLinks || !destination || destination->Contains(*folder) ||
                    destination->OnPseudoFileSystem()) {
                    pass_.NotCopied(1, kLinkInDestination);
                    return;
                }
            }
        }
        // A folder that is there but does not open (no permission) is not made again: the
        // error of opening it is the one to tell.
        const bool there = !parentDestination.fresh && !why.Missing();
        if (!destination && !there) {
            if (folder->MakeChild(name_, &why)) {
                destination = folder->OpenChild(name_, followLinks, &why);
                fresh = true;
            } else if (why.NameTaken()) {
                // Made meanwhile (by a pass of a name that the volume takes for the same), or a
                // file in the way: only a folder opens.
                destination = folder->OpenChild(name_, followLinks, &why);
            }
        }
    }
    if (!destination) {
        // Something in the way (a file of that name), no permission, a full medium: the
        // folder and all below it are left behind, and told. It is never looked for again by
        // its path, which could lead anywhere.
        pass_.FolderNotCopied(why);
        return;
    }

    Task task;
    task.key = platform::CaseFoldedKey(parentDestination.key, 0, name_);
    task.path.reserve(path_.size() + 1);
    task.path = path_;
    task.path.push_back(IdentityOf(*source));
    if (destination) {
        task.holding = pass_.Hold(IdentityOf(*destination), task.key, worker_, !fresh);
    }
    const Released released{pass_, task.holding};
    task.source = std::move(*source);
    task.destination = std::move(destination);
    task.fresh = fresh;
    if (pass_.HandOn(task, source_, destination_)) {
        return;  // the holding went with the task
    }
    // No thread is idle: the subfolder's pass runs here, one level down.
    const struct Down {
        Walker& walker;
        std::vector<Identity>& above;
        Down(Walker& w, std::vector<Identity>& path) : walker(w), above(path) {
            std::swap(walker.path_, above);
            ++walker.depth_;
        }
        ~Down() {
            std::swap(walker.path_, above);
            --walker.depth_;
        }
    } down(*this, task.path);
    Folder(task.source,
           Target{task.destination ? &*task.destination : nullptr, task.fresh, task.key});
}

}  // namespace tarnwick::pass
