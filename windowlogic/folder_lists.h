#pragma once
// The main window's two folder lists: which items they show, which commands a selection allows,
// and what New, Change and Delete write into the settings. A toolkit shows the items, keeps the
// selection and opens the folder dialog through FolderDialog; settings errors (SettingsError) pass
// through to the command handler that shows them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::windowlogic {

// One list item: its group number (source list) or entry number (destination list) and its path.
struct ListItem {
    int number = 0;
    std::string path;
    bool operator==(const ListItem&) const = default;
};
using ListItems = std::vector<ListItem>;

// The live groups of this computer by group number, and a group's live destinations by entry
// number, with their paths re-lettered as the settings give them.
ListItems SourceItems();
ListItems DestinationItems(int group);

// The first row whose path equals `path` without regard to case; -1 when there is none.
int FindPath(const ListItems& items, std::string_view path);

// The commands a selection allows. New source is always available and the source list always
// takes dropped folders.
struct ListCommands {
    bool changeSource = false;
    bool deleteSource = false;
    bool newDestination = false;
    bool changeDestination = false;
    bool deleteDestination = false;
    bool destinationDrops = false;
    bool operator==(const ListCommands&) const = default;
};
ListCommands AvailableCommands(bool sourceSelected, bool destinationSelected);

// The row selected after the item at `row` was deleted: the one above it, the first for the first.
int RowAfterDelete(int row);

inline constexpr const char* kNewSourceCaption = "Please choose a new Source Folder ";
inline constexpr const char* kChangeSourceCaption = "Please specify the change for Source Folder ";
inline constexpr const char* kNewDestinationCaption = "Please choose a new Destination Folder";
inline constexpr const char* kChangeDestinationCaption =
    "Please specify the change for Destination Folder";

// The folder dialog as the list commands use it; each toolkit forwards to its own dialog.
class FolderDialog {
public:
    virtual ~FolderDialog() = default;
    // True after Save, with `path` and the flag as the user left them; after Close both keep
    // what they held.
    virtual bool AskSource(const std::string& caption, std::string& path, bool& subfolders) = 0;
    virtual bool AskDestination(const std::string& caption, std::string& path, bool& merge) = 0;
    // The drive type and the serial text that the dialog read for the path it saved last.
    virtual int SavedDriveType() const = 0;
    virtual std::string SavedSerial() const = 0;
};

// New source, with the dialog's path empty or a dropped folder. nullopt when the dialog was
// closed; else the path saved and whether a group was added for it (the source list is filled
// anew in both cases).
struct NewSourceResult {
    std::string path;
    bool added = false;
};
std::optional<NewSourceResult> NewSource(FolderDialog& dialog,
                                         const std::optional<std::string>& dropped);
// New destination of `group`: the path added, nullopt when the dialog was closed or nothing
// was added.
std::optional<std::string> NewDestination(FolderDialog& dialog, int group,
                                          const std::optional<std::string>& dropped);
// Change of a group's source or of one destination, read anew so that a drive that moved opens
// under its new letter. True when the folder was written.
bool ChangeSource(FolderDialog& dialog, int group);
bool ChangeDestination(FolderDialog& dialog, int group, int entry);
// The same in two steps, for a window that must not wait for volumes: the entry as the dialog
// opens with it (finding a moved drive asks every drive for its serial, and a drive may not
// answer), nullopt when there is none; then the dialog and the write.
struct ChangeStart {
    std::string path;
    bool merge = false;
    bool subfolders = false;
};
std::optional<ChangeStart> ReadForChange(int group, int entry);
bool FinishChange(FolderDialog& dialog, int group, int entry, ChangeStart start);
void DeleteSource(int group);
void DeleteDestination(int group, int entry);

// What a drop of native paths (empty for an item that is no local file) onto a list comes to.
struct DropAnswer {
    enum class Kind { kIgnore, kTooMany, kFolder };
    Kind kind = Kind::kIgnore;
    std::string folder;  // the drive path, for kFolder
    bool operator==(const DropAnswer&) const = default;
};
inline constexpr const char* kDropCaption = "Tarnwick";
inline constexpr const char* kTooManyDropped = "Only one folder at a time";
DropAnswer DroppedFolder(const std::vector<std::string>& items);

}  // namespace tarnwick::windowlogic
