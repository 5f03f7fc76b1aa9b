#include "platform/volumes/drives.h"

#include <mutex>

#include "platform/volumes/linux_drive_map.h"

namespace tarnwick::platform {

namespace {

std::mutex gMapMutex;
std::shared_ptr<DriveMap> gTestMap;

std::shared_ptr<DriveMap> RealMap() {
    static const std::shared_ptr<DriveMap> real = CreateLinuxDriveMap();
    return real;
}

std::shared_ptr<DriveMap> MapInUse() {
    {
        std::lock_guard lock(gMapMutex);
        if (gTestMap) {
            return gTestMap;
        }
    }
    return RealMap();
}

char UpperLetter(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::optional<Drive> FindDrive(DriveMap& map, char letter) {
    letter = UpperLetter(letter);
    if (letter < 'A' || letter > 'Z') {
        return std::nullopt;
    }
    for (Drive& drive : map.Drives()) {
        if (drive.letter == letter) {
            return std::move(drive);
        }
    }
    return std::nullopt;
}

// An absolute native path without ".", ".." and repeated slashes; ".." stops at "/".
std::string LexicallyNormal(std::string_view path) {
    std::string normal;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        if (name == "..") {
            const std::size_t last = normal.rfind('/');
            normal.resize(last == std::string::npos ? 0 : last);
        } else if (!name.empty() && name != ".") {
            normal.push_back('/');
            normal.append(name);
        }
        if (slash == std::string_view::npos) {
            break;
        }
        path.remove_prefix(slash + 1);
    }
    return normal.empty() ? std::string(1, '/') : normal;
}

}  // namespace

DriveMap& CurrentDriveMap() {
    // The map in use is kept alive by the globals above for as long as it is installed.
    std::lock_guard lock(gMapMutex);
    if (gTestMap) {
        return *gTestMap;
    }
    return *RealMap();
}

void SetDriveMapForTesting(std::shared_ptr<DriveMap> map) {
    std::lock_guard lock(gMapMutex);
    gTestMap = std::move(map);
}

std::uint32_t LogicalDriveMask() {
    std::uint32_t mask = 0;
    for (const Drive& drive : MapInUse()->Drives()) {
        if (drive.letter >= 'A' && drive.letter <= 'Z') {
            mask |= 1U << (drive.letter - 'A');
        }
    }
    return mask;
}

std::vector<std::string> LogicalDriveRoots() {
    std::vector<std::string> roots;
    for (const Drive& drive : MapInUse()->Drives()) {
        roots.push_back(std::string{drive.letter, ':', '\\'});
    }
    return roots;
}

std::uint32_t DriveTypeOf(char letter) {
    const auto map = MapInUse();
    const auto drive = FindDrive(*map, letter);
    return drive ? drive->type : kDriveNoRootDir;
}

std::optional<Volume> VolumeInformation(char letter) {
    const auto map = MapInUse();
    const auto drive = FindDrive(*map, letter);
    if (!drive || !drive->hasMedium) {
        return std::nullopt;
    }
    return map->VolumeOf(drive->letter);
}

std::optional<std::string> ToNativePath(std::string_view drivePath) {
    if (drivePath.size() < 2 || drivePath[1] != ':' ||
        drivePath.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const auto map = MapInUse();
    const auto drive = FindDrive(*map, drivePath[0]);
    if (!drive || !drive->hasMedium) {
        return std::nullopt;
    }

    // Split the rest into names; ".." never climbs above the drive's root.
    std::vector<std::string_view> names;
    std::string_view rest = drivePath.substr(2);
    while (!rest.empty()) {
        std::size_t end = 0;
        while (end < rest.size() && !IsSeparator(rest[end])) {
            ++end;
        }
        const std::string_view name = rest.substr(0, end);
        if (name == "..") {
            if (!names.empty()) {
                names.pop_back();
            }
        } else if (!name.empty()) {
            names.push_back(name);
        }
        rest.remove_prefix(end < rest.size() ? end + 1 : end);
    }

    std::string native = drive->root.empty() ? std::string(1, '/') : drive->root;
    for (const std::string_view name : names) {
        if (native.back() != '/') {
            native.push_back('/');
        }
        native.append(name);
    }
    // A trailing separator of the drive path stays, so that "E:\Photos\" names the folder as a
    // folder (and a file of that name does not match).
    if (!names.empty() && IsSeparator(drivePath.back())) {
        native.push_back('/');
    }
    return native;
}

std::optional<std::string> ToDrivePath(std::string_view givenPath) {
    if (givenPath.empty() || givenPath.front() != '/' ||
        givenPath.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    // ".." is taken back by name before the mount point is chosen: "/media/ann/STICK/../Other"
    // lies outside the stick, and once written as "E:\..\Other" it would lead into it.
    const std::string normal = LexicallyNormal(givenPath);
    const std::string_view nativePath = normal;
    const auto map = MapInUse();
    std::optional<Drive> best;
    std::size_t bestLength = 0;
    for (Drive& drive : map->Drives()) {
        std::string_view root = drive.root;
        while (root.size() > 1 && root.back() == '/') {
            root.remove_suffix(1);
        }
        const bool isRoot = root == "/";
        const bool matches =
            isRoot || (nativePath.substr(0, root.size()) == root &&
                       (nativePath.size() == root.size() || nativePath[root.size()] == '/'));
        const std::size_t length = isRoot ? 0 : root.size();
        if (matches && (!best || length > bestLength)) {
            bestLength = length;
            best = std::move(drive);
        }
    }
    if (!best) {
        return std::nullopt;
    }
    std::string path{best->letter, ':', '\\'};
    std::string_view rest = nativePath.substr(bestLength);
    bool first = true;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        if (name.find('\\') != std::string_view::npos) {
            return std::nullopt;  // cannot be written in drive notation
        }
        if (!name.empty() && name != ".") {
            if (!first) {
                path.push_back('\\');
            }
            path.append(name);
            first = false;
        }
        if (slash == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(slash + 1);
    }
    return path;
}

}  // namespace tarnwick::platform
