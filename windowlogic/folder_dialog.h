#pragma once
// The folder dialog's rules: its texts, the explanation of the folder type or the subfolder
// choice, a native path typed into the path field, and when Save is available and accepted. The
// disk information itself is read by the window.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::windowlogic {

// Longest path, in bytes, that the dialogs hand back to their callers: the callers keep paths in
// buffers of 1,024 bytes with their terminator.
inline constexpr std::size_t kMaxDialogPathLength = 1023;

inline constexpr const char* kFolderDialogCaption = "Specify folder";
inline constexpr const char* kBrowsePrompt = "    Please choose a folder";
// The interval after the first key of a change in which the disk information is refreshed.
inline constexpr int kRefreshMilliseconds = 300;

// The explanation beside the folder type (destinations) or the subfolder box (sources), as
// written with "&&" for one "&".
const char* FolderTypeExplanation(bool merge);
const char* SubfolderExplanation(bool subfolders);

// The drive path of what the user typed when it is written the Linux way: a native path, "~" or
// "~/rest", a file:// URL of this computer, or a drive path with '/' as a separator (which takes
// the letter of the volume that holds the whole path, when that is another). nullopt when the
// text is none of these or names no lettered volume.
std::optional<std::string> DrivePathOfTyped(std::string_view typed);

// The cursor position after a text of `oldLength` with the cursor at `cursor` was rewritten into
// one of `newLength`: as far from the end as before.
int CursorAfterRewrite(int oldLength, int cursor, int newLength);

// What the dialog may do with a path, from what the last refresh read about it: Save is enabled
// for an existing folder that fits the callers' buffers, and a Save is accepted only where the
// volume's serial could be read as well.
struct SaveRule {
    bool enabled = false;
    bool accepted = false;
    bool operator==(const SaveRule&) const = default;
};
bool PathFits(std::string_view path);
SaveRule SaveRuleFor(std::string_view path, bool folderExists, std::uint32_t serial);

// What a refresh reads about a path: the volume's label (the drive text "E:" where the volume
// cannot be read) and serial, the drive type with its sentence, and the Save rule. Each part is
// asked of the system now, so a volume that stopped answering holds the caller: windows ask it
// off their user-interface thread. The empty path reads nothing.
// What a details line shows of the drive of `driveText` ("C:"): the drive's description and type,
// the volume's label (the drive text itself where the volume does not answer) and its serial. It
// asks the volume, so a window asks it off its own thread.
struct DriveDetails {
    std::string description;
    int driveType = 0;
    std::string label;
    std::uint32_t serial = 0;
};
DriveDetails DriveDetailsOf(const std::string& driveText);

struct DiskInfo {
    std::string label;
    std::uint32_t serial = 0;
    std::string description;
    int driveType = 0;
    SaveRule rule;
    bool operator==(const DiskInfo&) const = default;
};
DiskInfo DiskInfoOf(const std::string& path);

}  // namespace tarnwick::windowlogic
