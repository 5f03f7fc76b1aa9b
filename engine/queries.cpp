#include "engine/queries.h"

#include <array>
#include <exception>

#include "platform/files/files.h"
#include "platform/volumes/drives.h"

namespace tarnwick {

namespace {

constexpr std::array<std::string_view, 7> kDriveSentences = {
    "The drive type cannot be determined.",
    "The root directory does not exist.",
    "The drive can be removed from the drive.",
    "The disk cannot be removed from the drive.",
    "The drive is a remote (network) drive.",
    "The drive is a CD-ROM drive.",
    "The drive is a RAM disk.",
};

// The longest text a volume label may have.
constexpr std::size_t kMaxLabelLength = 259;

}  // namespace

bool FolderExists(std::string_view path) {
    if (path.empty() || path.size() > kMaxPathLength) {
        return false;
    }
    // A drive root is answered from the drive list alone, without touching the drive, so a
    // present drive without a medium counts as existing.
    if (path.size() == 3 && path[1] == ':' && path[2] == '\\') {
        return DrivePresent(path[0]);
    }
    if (path.back() == '\\') {
        return false;
    }
    try {
        // The folder's own "." entry exists only for a folder: a file of that name, or nothing,
        // gives false.
        std::string probe(path);
        AppendCharIfMissing(probe, '\\');
        probe.push_back('.');
        return IsDirectory(probe);
    } catch (const std::exception&) {
        return false;
    }
}

std::uint32_t GetVolumeSerial(std::string_view driveText, std::string& label) {
    if (driveText.size() < 2 || driveText[1] != ':') {
        return 0;
    }
    try {
        const auto volume = platform::VolumeInformation(driveText[0]);
        if (!volume) {
            return 0;
        }
        label = volume->label.substr(0, kMaxLabelLength);
        return volume->serial;
    } catch (const std::exception&) {
        return 0;
    }
}

std::uint32_t GetDriveDescription(char letter, std::string* description) {
    try {
        const std::uint32_t type = platform::DriveTypeOf(letter);
        if (description != nullptr && type < kDriveSentences.size()) {
            description->assign(kDriveSentences[type]);
        }
        return type;
    } catch (const std::exception&) {
        return platform::kDriveUnknown;
    }
}

char FindDriveBySerial(std::uint32_t serial) {
    try {
        for (const std::string& root : platform::LogicalDriveRoots()) {
            std::string label;
            if (GetVolumeSerial(std::string_view(root).substr(0, 2), label) == serial) {
                return root.front();
            }
        }
    } catch (const std::exception&) {
    }
    return '0';
}

bool HasSubfolders(std::string_view path) {
    try {
        auto folder = platform::Directory::Open(path);
        if (!folder) {
            return false;
        }
        while (const auto entry = folder->Next()) {
            if (folder->LastIsFolder(*entry)) {
                return true;
            }
        }
    } catch (const std::exception&) {
    }
    return false;
}

bool DrivePresent(char letter) {
    if (letter >= 'a' && letter <= 'z') {
        letter = static_cast<char>(letter - 'a' + 'A');
    }
    if (letter < 'A' || letter > 'Z') {
        return false;
    }
    try {
        return (platform::LogicalDriveMask() >> (letter - 'A') & 1U) != 0;
    } catch (const std::exception&) {
        return false;
    }
}

bool IsDirectory(std::string_view pattern) {
    const auto found = platform::FindFirstFile(pattern);
    return found && (found->attributes & platform::kAttributeDirectory) != 0;
}

std::size_t AppendCharIfMissing(std::string& text, char c) {
    if (text.empty() || text.back() != c) {
        text.push_back(c);
    }
    return text.size();
}

}  // namespace tarnwick
