#include "settings/folder_groups.h"

#include <climits>
#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/queries.h"
#include "settings/settings_file.h"

// Numbers run from 1 up to the first free slot. A file can hold only so many sections, so every
// walk ends; stopping at INT_MAX keeps the counters from overflowing all the same.
//
// Operations that cannot have the computer name write nothing: those giving a number or a flag
// give 0 or false, ReadFolderEntry gives "not found", and the two lists are empty.

namespace tarnwick {

namespace {

constexpr std::string_view kPath = "PATH";
constexpr std::string_view kType = "TYPE";
constexpr std::string_view kSerial = "SERIAL";
constexpr std::string_view kMerge = "MERGE";
constexpr std::string_view kSubdir = "SUBDIR";

std::string SectionName(int group, const std::string& computer) {
    return std::to_string(group) + "_" + computer;
}

std::string KeyName(int entry, std::string_view field) {
    return std::to_string(entry) + "_" + std::string(field);
}

bool IsFreeSlot(const std::string& path) {
    return path.empty() || path == kDeletedMarker;
}

// Lowest n >= 1 whose slot is free; 0 when none is below INT_MAX.
template <typename PathOf>
int LowestFreeSlot(PathOf&& pathOf) {
    for (int n = 1;; ++n) {
        if (IsFreeSlot(pathOf(n))) {
            return n;
        }
        if (n == INT_MAX) {
            return 0;
        }
    }
}

// A serial of decimal digits only, as an unsigned 32-bit number. A longer number than 32 bits
// can hold names no volume, so it gives nothing rather than a wrapped value.
std::optional<std::uint32_t> SerialNumber(std::string_view serial) {
    if (serial.empty()) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    for (const char c : serial) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number > UINT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(number);
}

bool StartsWithDriveLetter(std::string_view path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// Which drive types a reading re-letters.
enum class Relettering {
    kRemovable,  // the lists: removable drives only
    kEveryType,  // the run and the Change command: every type for a serial other than 0 (letters
                 // of shares and RAM disks move here too), removable and fixed drives for 0
};

// The path under the letter of the drive that now carries the stored serial. Only a path that
// begins with a drive letter and a colon is re-lettered: changing the first character of any
// other text would make it name something else. Of two present drives with the serial, the one
// at the stored letter wins, else the first. A serial of 0 (an unreadable volume) keeps the plain
// rule: the first unreadable drive.
std::string Relettered(std::string path, int driveType, std::string_view serial, Relettering rule) {
    const std::optional<std::uint32_t> number = SerialNumber(serial);
    if (!number || !StartsWithDriveLetter(path)) {
        return path;
    }
    const bool applies =
        driveType == 2 || (rule == Relettering::kEveryType && (driveType == 3 || *number != 0));
    if (!applies) {
        return path;
    }
    std::string label;
    if (*number != 0 && GetVolumeSerial(std::string_view(path).substr(0, 2), label) == *number) {
        return path;
    }
    const char letter = FindDriveBySerial(*number);
    if (letter != '0') {
        path[0] = letter;
    }
    return path;
}

// The shown paths of entries first, first + 1, ... of sections given by `sectionOf` up to the
// first empty PATH, re-lettered for removable drives, marked slots left out.
template <typename SectionOf, typename EntryOf>
std::vector<std::pair<int, std::string>> ListSlots(int first, SectionOf&& sectionOf,
                                                   EntryOf&& entryOf) {
    std::vector<std::pair<int, std::string>> list;
    const SettingsFile file;
    for (int n = first;; ++n) {
        const std::string section = sectionOf(n);
        const int entry = entryOf(n);
        const std::string path = file.ReadString(section, KeyName(entry, kPath), "");
        if (path.empty()) {
            break;
        }
        const int type = file.ReadInteger(section, KeyName(entry, kType), -1);
        const std::string serial = file.ReadString(section, KeyName(entry, kSerial), "");
        if (path != kDeletedMarker) {
            list.emplace_back(n, Relettered(path, type, serial, Relettering::kRemovable));
        }
        if (n == INT_MAX) {
            break;
        }
    }
    return list;
}

// The five keys of an entry, in their order. A failed write raises and ends the operation there.
bool WriteEntryKeys(int group, int entry, std::string_view path, std::string_view type,
                    std::string_view serial, bool merge, bool subfolders) {
    const std::optional<std::string> computer = ComputerName();
    if (!computer || group < 1 || entry < 1) {
        return false;
    }
    SettingsFile file;
    const std::string section = SectionName(group, *computer);
    file.WriteString(section, KeyName(entry, kPath), path);
    file.WriteString(section, KeyName(entry, kType), type);
    file.WriteString(section, KeyName(entry, kSerial), serial);
    file.WriteBool(section, KeyName(entry, kMerge), merge);
    file.WriteBool(section, KeyName(entry, kSubdir), subfolders);
    return true;
}

}  // namespace

int FindFreeGroup() {
    const std::optional<std::string> computer = ComputerName();
    if (!computer) {
        return 0;
    }
    const SettingsFile file;
    return LowestFreeSlot([&](int group) {
        return file.ReadString(SectionName(group, *computer), KeyName(1, kPath), "");
    });
}

int FindFreeEntry(int group) {
    const std::optional<std::string> computer = ComputerName();
    if (!computer || group < 1) {
        return 0;
    }
    const SettingsFile file;
    const std::string section = SectionName(group, *computer);
    return LowestFreeSlot(
        [&](int entry) { return file.ReadString(section, KeyName(entry, kPath), ""); });
}

bool WriteFolderEntry(int group, int entry, const FolderEntry& folder) {
    return WriteEntryKeys(group, entry, folder.Path, std::to_string(folder.DriveType),
                          folder.Serial, folder.Merge, folder.Subfolders);
}

int AddFolderGroup(const FolderEntry& source) {
    const int group = FindFreeGroup();
    if (group == 0) {
        return 0;
    }
    return WriteFolderEntry(group, 1, source) ? group : 0;
}

int AddFolderEntry(int group, const FolderEntry& destination) {
    const int entry = FindFreeEntry(group);
    // Entry 1 free means the group has no source (never used, or deleted): a destination written
    // there would become the source of a group the user did not make.
    if (entry < 2) {
        return 0;
    }
    return WriteFolderEntry(group, entry, destination) ? entry : 0;
}

bool DeleteFolderGroup(int group) {
    const std::optional<std::string> computer = ComputerName();
    if (!computer || group < 1) {
        return false;
    }
    SettingsFile file;
    const std::string section = SectionName(group, *computer);
    if (file.ReadString(section, KeyName(1, kPath), "").empty()) {
        return false;
    }
    file.EraseSection(section);
    file.WriteString(section, KeyName(1, kPath), kDeletedMarker);
    return true;
}

bool DeleteFolderEntry(int group, int entry) {
    return WriteEntryKeys(group, entry, kDeletedMarker, "", "", false, false);
}

bool ReadFolderEntry(int group, int entry, std::string& path, bool& merge, bool& subfolders) {
    const std::optional<std::string> computer = ComputerName();
    if (!computer || group < 1 || entry < 1) {
        return false;
    }
    const SettingsFile file;
    const std::string section = SectionName(group, *computer);
    const std::string stored = file.ReadString(section, KeyName(entry, kPath), "");
    if (stored.empty()) {
        return false;
    }
    const bool storedMerge = file.ReadBool(section, KeyName(entry, kMerge), false);
    const bool storedSubfolders = file.ReadBool(section, KeyName(entry, kSubdir), false);
    const int type = file.ReadInteger(section, KeyName(entry, kType), -1);
    const std::string serial = file.ReadString(section, KeyName(entry, kSerial), "");
    path = Relettered(stored, type, serial, Relettering::kEveryType);
    merge = storedMerge;
    subfolders = storedSubfolders;
    return true;
}

bool FolderOnItsVolume(int group, int entry, std::string_view path) {
    const std::optional<std::string> computer = ComputerName();
    if (!computer || group < 1 || entry < 1 || !StartsWithDriveLetter(path)) {
        return true;
    }
    const SettingsFile file;
    const std::optional<std::uint32_t> serial =
        SerialNumber(file.ReadString(SectionName(group, *computer), KeyName(entry, kSerial), ""));
    if (!serial || *serial == 0) {
        return true;
    }
    std::string label;
    return GetVolumeSerial(path.substr(0, 2), label) == *serial;
}

std::set<int> GroupsOnVolumes(const std::set<std::uint32_t>& serials) {
    std::set<int> groups;
    const std::optional<std::string> computer = ComputerName();
    if (!computer || serials.empty()) {
        return groups;
    }
    const SettingsFile file;
    for (int group = 1; group < INT_MAX; ++group) {
        const std::string section = SectionName(group, *computer);
        const std::string source = file.ReadString(section, KeyName(1, kPath), "");
        if (source.empty()) {
            break;
        }
        if (source == kDeletedMarker) {
            continue;
        }
        for (int entry = 1; entry < INT_MAX; ++entry) {
            const std::string path = file.ReadString(section, KeyName(entry, kPath), "");
            if (path.empty()) {
                break;
            }
            const std::optional<std::uint32_t> serial =
                SerialNumber(file.ReadString(section, KeyName(entry, kSerial), ""));
            if (path != kDeletedMarker && serial && serials.contains(*serial)) {
                groups.insert(group);
                break;
            }
        }
    }
    return groups;
}

std::vector<std::pair<int, std::string>> ListFolderGroups() {
    const std::optional<std::string> computer = ComputerName();
    if (!computer) {
        return {};
    }
    return ListSlots(
        1, [&](int group) { return SectionName(group, *computer); }, [](int) { return 1; });
}

std::vector<std::pair<int, std::string>> ListFolderEntries(int group) {
    const std::optional<std::string> computer = ComputerName();
    if (!computer || group < 1) {
        return {};
    }
    const std::string section = SectionName(group, *computer);
    return ListSlots(
        2, [&](int) { return section; }, [](int entry) { return entry; });
}

}  // namespace tarnwick
