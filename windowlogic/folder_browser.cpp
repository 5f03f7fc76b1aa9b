#include "windowlogic/folder_browser.h"

#include "engine/queries.h"
#include "platform/files/files.h"
#include "platform/volumes/drives.h"
#include "windowlogic/folder_dialog.h"

#include <mutex>
#include <utility>

namespace tarnwick::windowlogic {

namespace {

std::mutex gGateMutex;
std::function<void(const std::string&)> gGate;

// Lets a test hold the question here; nothing at all otherwise.
void PassGate(const std::string& path) {
    std::function<void(const std::string&)> gate;
    {
        std::lock_guard lock(gGateMutex);
        gate = gGate;
    }
    if (gate) {
        gate(path);
    }
}

}  // namespace

void SetFolderQuestionGateForTesting(std::function<void(const std::string& path)> gate) {
    std::lock_guard lock(gGateMutex);
    gGate = std::move(gate);
}

int ImageOrDot(int index) {
    return index >= 0 && index < kImageCount ? index : kImageDot;
}

std::string DriveNodeText(std::string_view root) {
    return std::string(root.substr(0, 1)) + ':';
}

std::vector<DriveNode> DriveNodes() {
    std::vector<DriveNode> nodes;
    for (const std::string& root : platform::LogicalDriveRoots()) {
        nodes.push_back({DriveNodeText(root), DriveImage(root)});
    }
    return nodes;
}

int DriveImage(std::string_view root) {
    return root.empty() ? kImageDot
                        : ImageOrDot(static_cast<int>(GetDriveDescription(root.front())));
}

std::string NodePath(const std::vector<std::string>& texts) {
    std::string path;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) {
            path.push_back('\\');
        }
        path += texts[i];
    }
    return path;
}

std::optional<std::vector<Subfolder>> ListSubfolders(const std::string& folder, bool driveRoot) {
    PassGate(folder);
    std::optional<platform::Directory> listing = platform::Directory::Open(folder);
    if (!listing) {
        return std::nullopt;
    }
    const std::string base = folder + '\\';
    std::vector<Subfolder> folders;
    bool anyEntry = false;
    while (const auto entry = listing->Next()) {
        anyEntry = true;
        // The listing tells folders from files: a folder of many files is listed without a
        // look at each of them.
        if (!listing->LastIsFolder(*entry)) {
            continue;
        }
        std::string name(*entry);
        const bool deeper = HasSubfolders(base + name);
        folders.push_back({std::move(name), deeper});
    }
    if (!anyEntry && driveRoot) {
        return std::nullopt;
    }
    return folders;
}

PathSteps StepsTo(std::string_view path) {
    std::size_t separator = path.find('\\');
    if (separator == std::string_view::npos) {
        if (path.size() == 2 && path[1] == ':') {
            return {{std::string(path)}, true};
        }
        return {};
    }
    // A path that begins with a backslash is taken whole as its first text: it names no drive.
    if (separator == 0) {
        return {{std::string(path)}, false};
    }
    PathSteps steps;
    for (;;) {
        steps.texts.emplace_back(path.substr(0, separator));
        if (separator == std::string_view::npos) {
            return steps;
        }
        path.remove_prefix(separator + 1);
        separator = path.find('\\');
    }
}

FolderRoad::FolderRoad(std::string_view path, bool openLast)
    : steps_(StepsTo(path)), openLast_(openLast), ended_(steps_.texts.empty()) {}

const std::string* FolderRoad::Next() const {
    return ended_ ? nullptr : &steps_.texts[next_];
}

FolderRoad::Step FolderRoad::End(bool select, bool open) {
    ended_ = true;
    return {Step::Kind::kEnd, select, open};
}

FolderRoad::Step FolderRoad::Found(bool found) {
    if (ended_) {
        return {};
    }
    if (!found) {
        // Below the drive, a missing name ends the road at the deepest folder that exists, open.
        return next_ == 0 ? End(false, false) : End(true, true);
    }
    if (steps_.driveOnly) {
        return End(true, openLast_);
    }
    if (++next_ == steps_.texts.size()) {
        return End(true, openLast_);
    }
    return {Step::Kind::kOpen};
}

FolderRoad::Step FolderRoad::Refused() {
    return ended_ ? Step{} : End(true, false);
}

bool MayReturn(const std::string& path) {
    PassGate(path);
    std::string probe = path;
    if (probe.size() == 2 && probe[1] == ':') {
        probe.push_back('\\');
    }
    return !path.empty() && PathFits(path) && FolderExists(probe);
}

NewFolderResult MakeNewFolder(const std::string& parentPath) {
    PassGate(parentPath);
    std::string path = parentPath + "\\New Folder";
    const bool made = platform::CreateDirectory(path);
    return {std::move(path), made};
}

RenameResult RenameFolder(const std::string& parentPath, const std::string& oldName,
                          const std::string& label) {
    if (label.empty() || label == oldName) {
        return {};
    }
    PassGate(parentPath);
    std::string newPath = parentPath + '\\' + label;
    // A label is a name: separators or "." and ".." would move the folder somewhere else.
    const bool plainName = label.find_first_of(std::string_view("\\/\0", 3)) == std::string::npos &&
                           label != "." && label != "..";
    if (plainName && platform::MoveFile(parentPath + '\\' + oldName, newPath)) {
        return {RenameResult::Kind::kRenamed, std::move(newPath)};
    }
    return {RenameResult::Kind::kRefused, std::move(newPath)};
}

std::string RenameFailedText(const std::string& newPath) {
    return "Unable to rename to\n" + newPath;
}

std::optional<std::string> ExplorerArgument(std::string_view path) {
    constexpr std::size_t kBufferSize = 260;
    std::string argument = "/e," + std::string(path);
    if (argument.size() >= kBufferSize) {
        return std::nullopt;
    }
    return argument;
}

}  // namespace tarnwick::windowlogic
