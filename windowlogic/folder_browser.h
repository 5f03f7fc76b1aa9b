#pragma once
// The folder browser's tree without a tree control: the images of its nodes, the path a node
// stands for, the folders listed under a node, the steps that open the tree at a path, and what
// New Folder and a rename do on the disk.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::windowlogic {

inline constexpr const char* kBrowserCaption = "Browse for Folder";
inline constexpr const char* kDefaultBrowserPrompt = "Choose a folder";

// Node images by index: 0 red dot (also the placeholder child of an unlisted node), 1 closed
// folder, 2-6 the drive types, 7 the computer, 8 open folder.
inline constexpr int kImageDot = 0;
inline constexpr int kImageClosedFolder = 1;
inline constexpr int kImageOpenFolder = 8;
inline constexpr int kImageCount = 20;
// An index outside the image list shows the red dot.
int ImageOrDot(int index);

// The text of a drive's node ("C:") from its root ("C:\").
std::string DriveNodeText(std::string_view root);

// The drive level of the tree, in the system's order: each drive's text and its image (its
// drive type).
struct DriveNode {
    std::string text;
    int image = kImageDot;
    bool operator==(const DriveNode&) const = default;
};
std::vector<DriveNode> DriveNodes();
// The image of one drive of that level; it may wait for the drive's volume.
int DriveImage(std::string_view root);

// The path of a node from the texts of its nodes, the drive's first: "C:" for a drive,
// "C:\Data\Photos" below it.
std::string NodePath(const std::vector<std::string>& texts);

// The subfolders of a folder, each with whether it has subfolders of its own (it then gets a
// placeholder child). nullopt when the folder cannot be listed, and for a drive root that holds
// nothing at all (a freshly formatted stick): such a node keeps its placeholder, so a folder
// made on it later can be reached.
struct Subfolder {
    std::string name;
    bool hasSubfolders = false;
    bool operator==(const Subfolder&) const = default;
};
std::optional<std::vector<Subfolder>> ListSubfolders(const std::string& folder, bool driveRoot);

// The node texts that lead to `path`, the drive's first; each is opened on the way. `driveOnly`
// for a bare "C:", whose node is only selected (and opened when asked). Empty for a path that
// names no node.
struct PathSteps {
    std::vector<std::string> texts;
    bool driveOnly = false;
    bool operator==(const PathSteps&) const = default;
};
PathSteps StepsTo(std::string_view path);

// The road to a folder, walked one listing at a time so that no step waits for a volume: the
// toolkit looks for the node named by Next() under the node reached so far (a drive first), tells
// Found() whether it is there, and does what the step says. kOpen: list and open that node (it
// becomes the node reached), then look for the next one, or call Refused() when it could not be
// listed. kEnd: select the node reached when `select`, and open it when `open`.
class FolderRoad {
public:
    struct Step {
        enum class Kind { kOpen, kEnd };
        Kind kind = Kind::kEnd;
        bool select = false;
        bool open = false;
        bool operator==(const Step&) const = default;
    };

    FolderRoad() = default;
    FolderRoad(std::string_view path, bool openLast);

    // The text of the node looked for next; nullptr once the road has ended.
    const std::string* Next() const;
    Step Found(bool found);
    Step Refused();

private:
    Step End(bool select, bool open);

    PathSteps steps_;
    bool openLast_ = false;
    std::size_t next_ = 0;  // the index of the text looked for next
    bool ended_ = true;
};

// Test seam: called on the asking thread before each question about a folder (its listing,
// whether it exists, a new folder in it, a rename in it) with the folder's path. A test makes it
// wait to stand for a volume that stopped answering; nullptr removes it.
void SetFolderQuestionGateForTesting(std::function<void(const std::string& path)> gate);

// Whether Save may return the node's path: an existing folder (or drive) whose path fits the
// callers' buffers.
bool MayReturn(const std::string& path);

// New Folder under the selected node: the folder's path, and whether it was made.
inline constexpr const char* kNewFolderFailedCaption = "Could not create the directory";
struct NewFolderResult {
    std::string path;
    bool made = false;
};
NewFolderResult MakeNewFolder(const std::string& parentPath);

// A label confirmed for the folder `oldName` in `parentPath`. kKeep: the label is empty or the
// same, the node keeps its text. kRenamed: the folder now has the label as its name. kRefused:
// the label is no plain name or the system refused; the node keeps its text and the message
// names `newPath`.
inline constexpr const char* kRenameFailedCaption = "Could not rename ";
struct RenameResult {
    enum class Kind { kKeep, kRenamed, kRefused };
    Kind kind = Kind::kKeep;
    std::string newPath;
    bool operator==(const RenameResult&) const = default;
};
RenameResult RenameFolder(const std::string& parentPath, const std::string& oldName,
                          const std::string& label);
std::string RenameFailedText(const std::string& newPath);

// The argument that opens `path` in the system's file explorer ("/e," and the path), nullopt when
// it would not fit the explorer's buffer of 260 bytes.
std::optional<std::string> ExplorerArgument(std::string_view path);

}  // namespace tarnwick::windowlogic
