#include "platform/volumes/drives.h"

#include <algorithm>
#include <mutex>

#ifdef _WIN32
#include "platform/volumes/win32_drive_map.h"
#else
#include "platform/volumes/linux_drive_map.h"
#endif

namespace tarnwick::platform {

namespace {

std::mutex gMapMutex;
std::shared_ptr<DriveMap> gTestMap;

std::shared_ptr<DriveMap> RealMap() {
#ifdef _WIN32
    static const std::shared_ptr<DriveMap> real = CreateWin32DriveMap();
#else
    static const std::shared_ptr<DriveMap> real = CreateLinuxDriveMap();
#endif
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

// The separator of a drive's native paths: '\\' where its root is itself written with a drive
// letter (Windows), '/' otherwise.
char NativeSeparator(const Drive& drive) {
    return drive.root.size() >= 2 && drive.root[1] == ':' ? '\\' : '/';
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

// An absolute native path without ".", ".." and repeated slashes; ".." stops at "/". With
// `separators` "/\\" a backslash separates names too.
std::string LexicallyNormal(std::string_view path, const char* separators = "/") {
    std::string normal;
    while (!path.empty()) {
        const std::size_t slash = path.find_first_of(separators);
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

bool HasDriveLetter(std::string_view path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// A native path in a form that the paths of drive roots are compared in: a Linux path lexically
// normal, a path with a drive letter (where native paths have them) as "/E:/Photos", cleaned as
// a drive path is.
std::string ComparableForm(std::string_view path) {
    if (!HasDriveLetter(path)) {
        return LexicallyNormal(path);
    }
    const std::string names = LexicallyNormal(path.substr(2), "/\\");
    return std::string{'/', UpperLetter(path[0]), ':'} + (names == "/" ? std::string() : names);
}

// Names of paths in drive-letter form compare without regard to ASCII case, as the system's
// own file systems take them; Linux paths compare exactly.
bool SameNames(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    if (!(a.size() >= 3 && a[2] == ':')) {
        return a == b;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperLetter(a[i]) != UpperLetter(b[i])) {
            return false;
        }
    }
    return true;
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

    const char separator = NativeSeparator(*drive);
    std::string native = drive->root.empty() ? std::string(1, '/') : drive->root;
    for (const std::string_view name : names) {
        if (native.back() != separator) {
            native.push_back(separator);
        }
        native.append(name);
    }
    // A trailing separator of the drive path stays, so that "E:\Photos\" names the folder as a
    // folder (and a file of that name does not match).
    if (!names.empty() && IsSeparator(drivePath.back())) {
        native.push_back(separator);
    }
    return native;
}

std::optional<std::string> ToDrivePath(std::string_view givenPath) {
    if (givenPath.empty() || !(givenPath.front() == '/' || HasDriveLetter(givenPath)) ||
        givenPath.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    // ".." is taken back by name before the mount point is chosen: "/media/ann/STICK/../Other"
    // lies outside the stick, and once written as "E:\..\Other" it would lead into it.
    const std::string normal = ComparableForm(givenPath);
    const std::string_view nativePath = normal;
    // A path with a drive letter lies only on drives whose roots have one too, and a Linux path
    // only on drives whose roots are Linux paths.
    const bool lettered = HasDriveLetter(givenPath);
    const auto map = MapInUse();
    std::optional<Drive> best;
    std::size_t bestLength = 0;
    for (Drive& drive : map->Drives()) {
        if (HasDriveLetter(drive.root) != lettered) {
            continue;
        }
        const std::string rootForm = ComparableForm(drive.root.empty() ? "/" : drive.root);
        const std::string_view root = rootForm;
        const bool isRoot = root == "/";
        const bool matches =
            isRoot || (SameNames(nativePath.substr(0, root.size()), root) &&
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
