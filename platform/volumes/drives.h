#pragma once
// The drive map: drive letters, drive types and volumes on top of the Linux mount table.
//
// Paths inside the program are drive paths (E:\Backup\Photos). C: is the root file system; D: to Z:
// are the other mounted volumes a user regards as drives, in the order of the mount table. This
// header is the only place that knows how a drive path becomes a native path and back.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {

// Drive types, with the values the settings file stores.
inline constexpr std::uint32_t kDriveUnknown = 0;
inline constexpr std::uint32_t kDriveNoRootDir = 1;
inline constexpr std::uint32_t kDriveRemovable = 2;
inline constexpr std::uint32_t kDriveFixed = 3;
inline constexpr std::uint32_t kDriveRemote = 4;
inline constexpr std::uint32_t kDriveCdrom = 5;
inline constexpr std::uint32_t kDriveRamdisk = 6;

struct Volume {
    std::uint32_t serial = 0;  // 0: cannot be read, or the volume's own serial is 0
    std::string label;         // empty for a volume without a label
};

// One present drive letter.
struct Drive {
    char letter = 0;           // 'C'..'Z', upper case
    std::string root;          // native folder the drive's root maps to ("/" for C:)
    std::uint32_t type = kDriveFixed;
    bool hasMedium = true;     // false: the letter is present but its volume cannot be read
};

// The source of drive answers. The real map reads the mount table; tests install a fixture map.
// Implementations are called from the user-interface thread and the synchronisation worker at
// the same time and must be thread-safe.
class DriveMap {
public:
    virtual ~DriveMap() = default;
    // The present drives, ordered by letter.
    virtual std::vector<Drive> Drives() = 0;
    // The volume of a present drive; nullopt when it cannot be read (no medium, no access).
    virtual std::optional<Volume> VolumeOf(char letter) = 0;
};

// The map in use: the real Linux map unless a test installed another one.
DriveMap& CurrentDriveMap();

// Test seam: installs a map (nullptr restores the real one). Only tests call this.
void SetDriveMapForTesting(std::shared_ptr<DriveMap> map);

// --- Answers in the form the rest of the program asks for them ---------------------------------

// Bit 0 = A:, bit 1 = B:, ... set for every present drive.
std::uint32_t LogicalDriveMask();

// Root texts of the present drives in letter order ("C:\", "E:\", ...).
std::vector<std::string> LogicalDriveRoots();

// Drive type of the drive named by a letter (either case); kDriveNoRootDir when the letter names
// no present drive, including characters that are not letters.
std::uint32_t DriveTypeOf(char letter);

// Volume of the drive named by a letter (either case); nullopt when the drive is not present or
// its volume cannot be read.
std::optional<Volume> VolumeInformation(char letter);

// Native path of a drive path: "E:\Photos\2009" -> "<root of E:>/Photos/2009". Both '\' and '/'
// separate names. "." components stay, ".." components are resolved lexically and never climb
// above the drive's root. nullopt for a path without a drive letter and colon (UNC paths among
// them), a letter that is not present, a drive without a medium, or an embedded NUL byte.
std::optional<std::string> ToNativePath(std::string_view drivePath);

// Drive path of a native absolute path, through the longest mount point that has a letter:
// "/media/ann/STICK/Photos" -> "E:\Photos". A drive root gives "E:\". nullopt for a relative path
// or a path with a name that holds a backslash.
std::optional<std::string> ToDrivePath(std::string_view nativePath);

}  // namespace tarnwick::platform
