#pragma once
// Folder groups of this computer: one section "<group>_<computer>" per group, five keys per
// folder, the deleted marker "!" and the re-lettering of moved drives.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/run.h"

namespace tarnwick {

struct FolderEntry {
    std::string Path;
    int DriveType = -1;
    std::string Serial;
    bool Merge = false;
    bool Subfolders = false;
};

struct FolderGroup {
    int Number = 0;
    std::map<int, FolderEntry> Entries;
};

int FindFreeGroup();
int FindFreeEntry(int group);
bool WriteFolderEntry(int group, int entry, const FolderEntry& folder);
int AddFolderGroup(const FolderEntry& source);
int AddFolderEntry(int group, const FolderEntry& destination);
bool DeleteFolderGroup(int group);
bool DeleteFolderEntry(int group, int entry);

// Found: `path` (re-lettered for every drive type where the stored serial is a number other than
// 0, for drive types 2 and 3 where it is 0), `merge` and `subfolders` are set.
// Not found: all three keep what they held.
bool ReadFolderEntry(int group, int entry, std::string& path, bool& merge, bool& subfolders);

// False when the entry's stored serial is a number other than 0 and the drive at the letter of
// `path` (the path ReadFolderEntry gave) carries another serial or none: the folder is not on the
// volume it was saved on, and the run takes it for missing. True for every other entry (an empty,
// non-numeric or "0" serial, a path without a drive letter).
bool FolderOnItsVolume(int group, int entry, std::string_view path);

// The live groups of this computer with a live folder (source or destination) saved on a volume
// whose serial is one of `serials`.
std::set<int> GroupsOnVolumes(const std::set<std::uint32_t>& serials);

// (group number, path to show) of the live groups, re-lettered for drive type 2 only.
std::vector<std::pair<int, std::string>> ListFolderGroups();
// (entry number, path to show) of the live destinations of a group.
std::vector<std::pair<int, std::string>> ListFolderEntries(int group);

}  // namespace tarnwick
