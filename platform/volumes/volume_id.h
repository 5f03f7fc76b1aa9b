#pragma once
// Volume serial numbers and labels of mounted drives.
//
// The ids come from udev's /dev/disk/by-uuid and by-label links (readable without root), else
// from a libblkid probe of the device (needs read access to it), else from the udisks2 service on
// the system bus. A volume on a block device has a serial only through its own UUID, or through
// the statfs id of the file systems that make that id from their UUID (ext2/3/4, btrfs): the
// statfs id of the others (FAT, XFS, ...) is their device number, which the next stick on the same
// node shares, so such a volume answers 0 ("cannot be read") rather than a serial that is not its
// own. Volumes without a serial of their own (shares, RAM disks, overlays) get a stand-in serial
// made from what names them in the mount table, the same across remounts and restarts.

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

// The kind of file system on a block device ("exfat", "ntfs"): udev's record of it, else a
// libblkid probe of the device. nullopt when neither knows.
std::optional<std::string> FileSystemTypeOf(DeviceNumber device, const std::string& source,
                                            const std::string& udevDataDir = "/run/udev/data");

// A device node of a block device: the mount's source when it is that device's node, else the
// node sysfs names for it under /dev.
std::optional<std::string> DeviceNodeOf(DeviceNumber device, const std::string& source);

// The ids the udisks2 service on the system bus keeps for a block device node ("/dev/sdb1"):
// the IdUUID and IdLabel of its Block interface. nullopt when there is no bus, no service, no such
// device or no answer within a second.
std::optional<VolumeIds> UdisksVolumeIds(const std::string& deviceNode);

// The name udisks2 gives a block device's object: the kernel name with every character other than
// a letter or digit written as _XX ("dm-0" -> "dm_2d0").
std::string UdisksObjectName(std::string_view kernelName);

// The serial of a drive from its UUID (empty when none was found) and the statfs id of its root:
// the UUID's serial; else, for ext2/3/4 and btrfs, the statfs id; else 0 for a volume on a block
// device; else (no device) the stand-in serial, or for a file system of no known kind the statfs
// id where it reports one. RAM disks always take the stand-in: their statfs id is new at each
// mount.
std::uint32_t SerialOfVolume(const DriveMount& drive, std::string_view uuid, const fsid_t& fsid);

// The ids of a drive's volume: for a volume on a block device udev's links, else a probe of the
// device, else the udisks2 service; nullopt for a volume without a device or when none answers.
std::optional<VolumeIds> ReadVolumeIds(const DriveMount& drive);

// Serial and label of a mounted drive whose root answered statfs with `root`, from the ids
// ReadVolumeIds gave for it.
Volume IdentifyVolume(const DriveMount& drive, const struct statfs& root,
                      const std::optional<VolumeIds>& ids);
// The same, reading the ids first.
Volume IdentifyVolume(const DriveMount& drive, const struct statfs& root);

}  // namespace tarnwick::platform
