#include "windowlogic/folder_lists.h"

#include "engine/queries.h"
#include "platform/volumes/drives.h"
#include "settings/folder_groups.h"
#include "windowlogic/folder_dialog.h"

namespace tarnwick::windowlogic {

namespace {

ListItems ToItems(const std::vector<std::pair<int, std::string>>& list) {
    ListItems items;
    items.reserve(list.size());
    for (const auto& [number, path] : list) {
        items.push_back({number, path});
    }
    return items;
}

// The next code point of UTF-8 text; a byte that starts no valid sequence stands for itself.
char32_t NextCodePoint(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    const int length = first < 0x80           ? 1
                       : (first >> 5) == 0x6  ? 2
                       : (first >> 4) == 0xE  ? 3
                       : (first >> 3) == 0x1E ? 4
                                              : 0;
    if (length <= 1 || at + static_cast<std::size_t>(length) > text.size()) {
        ++at;
        return first;
    }
    char32_t point = first & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(at + static_cast<std::size_t>(i));
        if ((next & 0xC0) != 0x80) {
            ++at;
            return first;
        }
        point = (point << 6) | (next & 0x3F);
    }
    at += static_cast<std::size_t>(length);
    return point;
}

// Lower case of the letters of the Latin, Greek and Cyrillic alphabets, the same under every
// locale (the C library's answer depends on the locale the program was started in).
char32_t Folded(char32_t p) {
    const auto in = [p](char32_t first, char32_t last) { return p >= first && p <= last; };
    if (in('A', 'Z') || (in(0xC0, 0xDE) && p != 0xD7) || (in(0x391, 0x3AB) && p != 0x3A2) ||
        in(0x410, 0x42F)) {
        return p + 0x20;
    }
    if (in(0x400, 0x40F)) {
        return p + 0x50;
    }
    if ((in(0x100, 0x12F) || in(0x132, 0x137) || in(0x14A, 0x177) || in(0x460, 0x481) ||
         in(0x48A, 0x4BF) || in(0x4D0, 0x52F)) &&
        p % 2 == 0) {
        return p + 1;
    }
    if ((in(0x139, 0x148) || in(0x179, 0x17E) || in(0x4C1, 0x4CE)) && p % 2 == 1) {
        return p + 1;
    }
    return p == 0x178 ? 0xFF : p;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (Folded(NextCodePoint(a, i)) != Folded(NextCodePoint(b, j))) {
            return false;
        }
    }
    return i == a.size() && j == b.size();
}

FolderEntry Saved(const FolderDialog& dialog, const std::string& path, bool merge,
                  bool subfolders) {
    return {path, dialog.SavedDriveType(), dialog.SavedSerial(), merge, subfolders};
}

}  // namespace

ListItems SourceItems() {
    return ToItems(ListFolderGroups());
}

ListItems DestinationItems(int group) {
    return ToItems(ListFolderEntries(group));
}

int FindPath(const ListItems& items, std::string_view path) {
    for (std::size_t row = 0; row < items.size(); ++row) {
        if (EqualIgnoringCase(items[row].path, path)) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

ListCommands AvailableCommands(bool sourceSelected, bool destinationSelected) {
    return {sourceSelected,      sourceSelected,      sourceSelected,
            destinationSelected, destinationSelected, sourceSelected};
}

int RowAfterDelete(int row) {
    return row > 0 ? row - 1 : 0;
}

std::optional<NewSourceResult> NewSource(FolderDialog& dialog,
                                         const std::optional<std::string>& dropped) {
    std::string path = dropped.value_or(std::string());
    bool subfolders = true;
    if (!dialog.AskSource(kNewSourceCaption, path, subfolders)) {
        return std::nullopt;
    }
    const int group = AddFolderGroup(Saved(dialog, path, false, subfolders));
    return NewSourceResult{path, group > 0};
}

std::optional<std::string> NewDestination(FolderDialog& dialog, int group,
                                          const std::optional<std::string>& dropped) {
    std::string path = dropped.value_or(std::string());
    bool merge = false;
    if (!dialog.AskDestination(kNewDestinationCaption, path, merge) ||
        AddFolderEntry(group, Saved(dialog, path, merge, false)) <= 0) {
        return std::nullopt;
    }
    return path;
}

std::optional<ChangeStart> ReadForChange(int group, int entry) {
    ChangeStart start;
    if (!ReadFolderEntry(group, entry, start.path, start.merge, start.subfolders)) {
        return std::nullopt;
    }
    return start;
}

bool FinishChange(FolderDialog& dialog, int group, int entry, ChangeStart start) {
    const bool saved =
        entry == 1 ? dialog.AskSource(kChangeSourceCaption, start.path, start.subfolders)
                   : dialog.AskDestination(kChangeDestinationCaption, start.path, start.merge);
    if (!saved) {
        return false;
    }
    WriteFolderEntry(group, entry, Saved(dialog, start.path, start.merge, start.subfolders));
    return true;
}

bool ChangeSource(FolderDialog& dialog, int group) {
    const auto start = ReadForChange(group, 1);
    return start && FinishChange(dialog, group, 1, *start);
}

bool ChangeDestination(FolderDialog& dialog, int group, int entry) {
    const auto start = ReadForChange(group, entry);
    return start && FinishChange(dialog, group, entry, *start);
}

void DeleteSource(int group) {
    DeleteFolderGroup(group);
}

void DeleteDestination(int group, int entry) {
    DeleteFolderEntry(group, entry);
}

DropAnswer DroppedFolder(const std::vector<std::string>& items) {
    if (items.size() != 1) {
        return {DropAnswer::Kind::kTooMany, {}};
    }
    // Anything but an existing folder that the dialog can take is passed over without a word.
    const std::optional<std::string> folder =
        items.front().empty() ? std::nullopt : platform::ToDrivePath(items.front());
    if (!folder || folder->size() > kMaxDialogPathLength || !FolderExists(*folder)) {
        return {};
    }
    return {DropAnswer::Kind::kFolder, *folder};
}

}  // namespace tarnwick::windowlogic
