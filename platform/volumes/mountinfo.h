#pragma once
// The Linux mount table as text, and the choice of the mounts that become drive letters.
//
// Both steps are pure functions: the real map feeds them /proc/self/mountinfo and answers from
// sysfs and stat(); tests feed them literal lines and answers of their own.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {

struct DeviceNumber {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    friend bool operator==(const DeviceNumber&, const DeviceNumber&) = default;
};

// One line of /proc/self/mountinfo, with the kernel's octal escapes decoded.
struct MountEntry {
    std::uint64_t id = 0;
    std::uint64_t parentId = 0;
    DeviceNumber device;       // st_dev of the mounted file system (0:N for those without a device)
    std::string root;          // folder of the file system that appears at the mount point
    std::string mountPoint;    // absolute
    std::string fsType;        // "ext4", "fuseblk", "fuse.sshfs"
    std::string source;        // "/dev/sdb1", "server:/export", "tmpfs"
    std::string superOptions;  // the file system's own options: "rw,fmask=0022,tz=UTC"
};

// Lines that do not have the layout of the kernel's table (too few fields, no " - " separator,
// numbers that are not numbers, a mount point that is not absolute, a NUL byte) are
// passed over.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// What the choice of drives asks the system. Tests answer with lambdas.
struct DriveProbes {
    // True when the block device, or the disk it is a partition of, reports removable media.
    std::function<bool(DeviceNumber)> isRemovable;
    // The device number of a block special file; nullopt for anything else.
    std::function<std::optional<DeviceNumber>(const std::string& path)> blockDeviceOf;
};

// A mount that carries a drive letter.
struct DriveMount {
    char letter = 0;
    std::uint32_t type = 0;       // drive type (kDriveFixed, ...)
    DeviceNumber device;          // the block device behind the volume where there is one
    bool servedRemotely = false;  // network or FUSE: its answers may hang on a server or a daemon
    MountEntry mount;
};

// The mounts that carry a drive letter: C: (letter 'C') is the mount visible at "/"; after it, in
// the order of the table and still without a letter (0), the other visible mounts a user regards
// as drives; a device that already has a letter (bind mounts, the root device mounted elsewhere)
// is taken once. A table without a mount at "/" (a chroot, an empty or unreadable table) still
// gives C: for "/": fixed, without a device.
std::vector<DriveMount> SelectDriveMounts(const std::vector<MountEntry>& table,
                                          const DriveProbes& probes);

// SelectDriveMounts with the letters of a system that remembers none: D: to Z: in the order of
// the table; mounts past Z: get none.
std::vector<DriveMount> SelectDrives(const std::vector<MountEntry>& table,
                                     const DriveProbes& probes);

bool IsNetworkFileSystem(std::string_view fsType);

}  // namespace tarnwick::platform
