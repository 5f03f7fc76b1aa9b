#pragma once
// Volume serial numbers and labels of mounted drives.
//
// The ids come from udev's /dev/disk/by-uuid and by-label links (readable without root), else
// from a libblkid probe of the device (needs read access to it), else from the file-system id
// statfs reports. A volume that none of them identifies gets a stand-in serial, so that a readable
// volume never answers 0, which the rest of the program reads as "cannot be read".

#include <sys/statfs.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/volumes/drives.h"
#include "platform/volumes/mountinfo.h"

namespace tarnwick::platform {

// The serial number a file-system UUID stands for. "1A2B-3C4D" (FAT, exFAT) is 0x1A2B3C4D; 16 hex
// digits (NTFS) give their last 8; any other text of hex digits and dashes is folded to 32 bits
// (XOR of its 32-bit words, read from the left, a short last word taken as it is). nullopt for
// other text and for a result of 0.
std::optional<std::uint32_t> SerialFromUuid(std::string_view uuid);

// The file-system id of statfs folded to 32 bits; nullopt for 0 (FUSE, tmpfs and many network
// file systems report none).
std::optional<std::uint32_t> SerialFromFsid(const fsid_t& fsid);

// A serial for a volume without any id: a hash of what names the volume in the mount table (file
// system type, source, folder of the file system mounted), and of the mount point for volumes
// whose source names nothing (tmpfs, "none"), whose content belongs to the mount. Never 0.
std::uint32_t StandInSerial(const MountEntry& mount);

// A udev link name with its \xHH escapes decoded ("MY\x20STICK" -> "MY STICK").
std::string DecodeUdevName(std::string_view name);

// A label as the program keeps it: at most 259 bytes, cut before a partial UTF-8 character.
std::string LimitLabel(std::string label);

struct VolumeIds {
    std::string uuid;   // empty when the file system has none
    std::string label;  // empty for a volume without a label
};

// The ids udev recorded for a block device: the names of the links under <diskDir>/by-uuid and
// <diskDir>/by-label that lead to it. nullopt when no link leads to it (no udev, or unknown).
std::optional<VolumeIds> UdevVolumeIds(DeviceNumber device,
                                       const std::string& diskDir = "/dev/disk");

// The ids in the superblock of a block device, read by a libblkid probe (no cache file is read or
// written). nullopt when the device cannot be opened or holds no single known file system.
std::optional<VolumeIds> ProbeVolumeIds(const std::string& devicePath);

// A device node of a block device: the mount's source when it is that device's node, else the
// node sysfs names for it under /dev.
std::optional<std::string> DeviceNodeOf(DeviceNumber device, const std::string& source);

// Serial and label of a mounted drive whose root answered statfs with `root`.
Volume IdentifyVolume(const DriveMount& drive, const struct statfs& root);

}  // namespace tarnwick::platform
