#include "windowlogic/folder_dialog.h"

#include <algorithm>
#include <cctype>

#include "engine/queries.h"
#include "platform/system/system.h"
#include "platform/volumes/drives.h"

namespace tarnwick::windowlogic {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// "%XX" escapes decoded; a '%' that starts no escape stays as it is.
std::string PercentDecoded(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                bytes.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        bytes.push_back(text[i]);
    }
    return bytes;
}

// The local path a file:// URL names, as bytes; nullopt for another host or another scheme.
std::optional<std::string> LocalFileOfUrl(std::string_view url) {
    constexpr std::string_view kScheme = "file://";
    if (url.size() < kScheme.size() ||
        !std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
        return std::nullopt;
    }
    const std::string_view rest = url.substr(kScheme.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") {
        return std::nullopt;
    }
    return PercentDecoded(rest.substr(slash));
}

// "~" or "~/rest" as the shell reads it: the user's home folder, or rest inside it. nullopt when
// the home folder cannot be had.
std::optional<std::string> InHomeFolder(std::string_view typed) {
    const std::optional<std::string> home = platform::HomeFolder();
    if (!home) {
        return std::nullopt;
    }
    return *home + std::string(typed.substr(1));
}

}  // namespace

const char* FolderTypeExplanation(bool merge) {
    return merge ? " Files && folders will be copied TO and FROM this folder, if they do not exist "
                   "or are newer."
                 : " Files && folders will only be copied TO this folder, if they do not exist or "
                   "are newer.";
}

const char* SubfolderExplanation(bool subfolders) {
    return subfolders ? " Files && all subfolders will be synchronised."
                      : " Only files in this folder will be synchronised.";
}

std::optional<std::string> DrivePathOfTyped(std::string_view typed) {
    if (typed.size() >= 2 && typed[1] == ':' && typed.find('/') != std::string_view::npos) {
        // "C:/Data": '/' never occurs in a name here, so it is a separator written the Linux way.
        // Such a text is most often a native path still being typed that an earlier refresh put
        // under the letter of the part typed then ("C:\media\ann" + "/STICK/DCIM"): where the
        // whole path lies on another lettered volume, it takes that volume's letter.
        std::string drivePath(typed);
        std::replace(drivePath.begin(), drivePath.end(), '/', '\\');
        const auto native = platform::ToNativePath(drivePath);
        const auto onVolume = native ? platform::ToDrivePath(*native) : std::nullopt;
        if (onVolume && onVolume->front() != drivePath.front()) {
            return onVolume;
        }
        return drivePath;
    }
    std::optional<std::string> native;
    if (typed.starts_with('/')) {
        native = std::string(typed);
    } else if (typed == "~" || typed.starts_with("~/")) {
        native = InHomeFolder(typed);
    } else {
        native = LocalFileOfUrl(typed);
    }
    return native ? platform::ToDrivePath(*native) : std::nullopt;
}

int CursorAfterRewrite(int oldLength, int cursor, int newLength) {
    return std::max(0, newLength - (oldLength - cursor));
}

bool PathFits(std::string_view path) {
    return path.size() <= kMaxDialogPathLength;
}

SaveRule SaveRuleFor(std::string_view path, bool folderExists, std::uint32_t serial) {
    const bool exists = !path.empty() && PathFits(path) && folderExists;
    return {exists, exists && serial != 0};
}

DriveDetails DriveDetailsOf(const std::string& driveText) {
    DriveDetails details;
    details.label = driveText;
    details.serial = GetVolumeSerial(driveText, details.label);
    details.driveType = static_cast<int>(
        GetDriveDescription(driveText.empty() ? '\0' : driveText.front(), &details.description));
    return details;
}

DiskInfo DiskInfoOf(const std::string& path) {
    DiskInfo info;
    if (path.empty()) {
        return info;
    }
    DriveDetails drive = DriveDetailsOf({path.front(), ':'});
    info.label = std::move(drive.label);
    info.serial = drive.serial;
    info.description = std::move(drive.description);
    info.driveType = drive.driveType;
    info.rule = SaveRuleFor(path, PathFits(path) && FolderExists(path), info.serial);
    return info;
}

}  // namespace tarnwick::windowlogic
