#include "platform/volumes/volume_id.h"

#include <blkid.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <fstream>
#include <memory>

namespace tarnwick::platform {

namespace {

std::optional<unsigned> HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    return std::nullopt;
}

std::optional<std::uint32_t> NonZero(std::uint32_t value) {
    return value == 0 ? std::nullopt : std::optional<std::uint32_t>(value);
}

bool IsBlockDevice(const struct stat& st, DeviceNumber device) {
    return S_ISBLK(st.st_mode) && major(st.st_rdev) == device.major &&
           minor(st.st_rdev) == device.minor;
}

// The name of the first link in a folder that leads to the device.
std::optional<std::string> LinkNameFor(const std::string& folder, DeviceNumber device) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), &closedir);
    if (!dir) {
        return std::nullopt;
    }
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        struct stat st {};
        if (name == "." || name == ".." || fstatat(dirfd(dir.get()), entry->d_name, &st, 0) != 0) {
            continue;
        }
        if (IsBlockDevice(st, device)) {
            return std::string(name);
        }
    }
    return std::nullopt;
}

std::string ProbeValue(blkid_probe probe, const char* name) {
    const char* data = nullptr;
    std::size_t size = 0;
    if (blkid_probe_lookup_value(probe, name, &data, &size) != 0 || data == nullptr) {
        return {};
    }
    return std::string(data, strnlen(data, size));
}

using Probe = std::unique_ptr<std::remove_pointer_t<blkid_probe>, void (*)(blkid_probe)>;

// A libblkid probe of a device's superblock for the values of `flags` (no cache file is read or
// written). Only a single, unambiguous file system counts: a stale second signature could
// otherwise give the volume the ids of something that was on the device before. nullptr when the
// device cannot be opened or holds no such file system.
Probe SafeProbe(const std::string& devicePath, int flags) {
    Probe probe(blkid_new_probe_from_filename(devicePath.c_str()), &blkid_free_probe);
    if (!probe) {
        return probe;
    }
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), flags);
    if (blkid_do_safeprobe(probe.get()) != 0) {
        probe.reset();
    }
    return probe;
}

}  // namespace

std::optional<std::uint32_t> SerialFromUuid(std::string_view uuid) {
    std::string digits;
    for (const char c : uuid) {
        if (c == '-') {
            continue;
        }
        if (!HexValue(c)) {
            return std::nullopt;
        }
        digits.push_back(c);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    const auto wordAt = [&digits](std::size_t first) {
        std::uint32_t word = 0;
        for (std::size_t i = first; i < std::min(first + 8, digits.size()); ++i) {
            word = (word << 4) | *HexValue(digits[i]);
        }
        return word;
    };
    const bool fatShape = uuid.size() == 9 && uuid[4] == '-' && digits.size() == 8;
    if (fatShape) {
        return NonZero(wordAt(0));
    }
    const bool ntfsShape = uuid.size() == 16 && digits.size() == 16;
    if (ntfsShape) {
        return NonZero(wordAt(8));
    }
    std::uint32_t folded = 0;
    for (std::size_t first = 0; first < digits.size(); first += 8) {
        folded ^= wordAt(first);
    }
    return NonZero(folded);
}

std::optional<std::uint32_t> SerialFromFsid(const fsid_t& fsid) {
    int words[2] = {};
    static_assert(sizeof(words) == sizeof(fsid));
    std::memcpy(words, &fsid, sizeof(words));
    return NonZero(static_cast<std::uint32_t>(words[0]) ^ static_cast<std::uint32_t>(words[1]));
}

std::uint32_t StandInSerial(const MountEntry& mount) {
    // FNV-1a: small, and the same on every build, so the serial survives restarts and remounts.
    std::uint32_t hash = 2166136261U;
    const auto add = [&hash](std::string_view text) {
        for (const char c : text) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 16777619U;
        }
        hash = (hash ^ 0U) * 16777619U;
    };
    add(mount.fsType);
    add(mount.source);
    add(mount.root);
    const bool sourceNamesNothing = mount.source.empty() || mount.source == "none" ||
                                    mount.source == mount.fsType || mount.fsType == "tmpfs" ||
                                    mount.fsType == "ramfs";
    if (sourceNamesNothing) {
        add(mount.mountPoint);
    }
    return hash == 0 ? 1U : hash;
}

std::string DecodeUdevName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && name.size() - i >= 4 && name[i + 1] == 'x') {
            const auto high = HexValue(name[i + 2]);
            const auto low = HexValue(name[i + 3]);
            if (high && low && (*high != 0 || *low != 0)) {
                out.push_back(static_cast<char>(*high * 16 + *low));
                i += 3;
                continue;
            }
        }
        out.push_back(name[i]);
    }
    return out;
}

std::string LimitLabel(std::string label) {
    constexpr std::size_t kMaxLabel = 259;
    if (label.size() > kMaxLabel) {
        std::size_t cut = kMaxLabel;
        while (cut > 0 && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        label.resize(cut);
    }
    return label;
}

std::optional<VolumeIds> UdevVolumeIds(DeviceNumber device, const std::string& diskDir) {
    const auto uuid = LinkNameFor(diskDir + "/by-uuid", device);
    const auto label = LinkNameFor(diskDir + "/by-label", device);
    if (!uuid && !label) {
        return std::nullopt;
    }
    return VolumeIds{uuid ? DecodeUdevName(*uuid) : "", label ? DecodeUdevName(*label) : ""};
}

std::optional<VolumeIds> ProbeVolumeIds(const std::string& devicePath) {
    const Probe probe = SafeProbe(devicePath, BLKID_SUBLKS_UUID | BLKID_SUBLKS_LABEL);
    if (!probe) {
        return std::nullopt;
    }
    return VolumeIds{ProbeValue(probe.get(), "UUID"), ProbeValue(probe.get(), "LABEL")};
}

std::optional<std::string> FileSystemTypeOf(DeviceNumber device, const std::string& source,
                                            const std::string& udevDataDir) {
    std::ifstream record(udevDataDir + "/b" + std::to_string(device.major) + ":" +
                         std::to_string(device.minor));
    std::string line;
    while (std::getline(record, line)) {
        if (line.starts_with("E:ID_FS_TYPE=") && line.size() > 13) {
            return line.substr(13);
        }
    }
    const auto node = DeviceNodeOf(device, source);
    if (!node) {
        return std::nullopt;
    }
    const Probe probe = SafeProbe(*node, BLKID_SUBLKS_TYPE);
    if (!probe) {
        return std::nullopt;
    }
    std::string type = ProbeValue(probe.get(), "TYPE");
    return type.empty() ? std::nullopt : std::optional(std::move(type));
}

std::optional<std::string> DeviceNodeOf(DeviceNumber device, const std::string& source) {
    struct stat st {};
    if (source.starts_with("/dev/") && stat(source.c_str(), &st) == 0 &&
        IsBlockDevice(st, device)) {
        return source;
    }
    // Without udev there is no /dev/block; the kernel's uevent file names the node.
    std::ifstream uevent("/sys/dev/block/" + std::to_string(device.major) + ":" +
                         std::to_string(device.minor) + "/uevent");
    std::string line;
    while (std::getline(uevent, line)) {
        if (line.starts_with("DEVNAME=")) {
            const std::string node = "/dev/" + line.substr(8);
            if (stat(node.c_str(), &st) == 0 && IsBlockDevice(st, device)) {
                return node;
            }
        }
    }
    return std::nullopt;
}

std::uint32_t SerialOfVolume(const DriveMount& drive, std::string_view uuid, const fsid_t& fsid) {
    if (const auto serial = SerialFromUuid(uuid)) {
        return *serial;
    }
    const std::string& type = drive.mount.fsType;
    const bool fsidFromUuid = type == "ext2" || type == "ext3" || type == "ext4" || type == "btrfs";
    if (fsidFromUuid) {
        return SerialFromFsid(fsid).value_or(0);
    }
    if (drive.device.major != 0) {
        return 0;
    }
    if (type == "tmpfs" || type == "ramfs") {
        return StandInSerial(drive.mount);
    }
    return SerialFromFsid(fsid).value_or(StandInSerial(drive.mount));
}

std::optional<VolumeIds> ReadVolumeIds(const DriveMount& drive) {
    if (drive.device.major == 0) {
        return std::nullopt;
    }
    std::optional<VolumeIds> ids = UdevVolumeIds(drive.device);
    // udev keeps one by-label link for volumes of the same label, so a missing label link does
    // not prove the volume has none.
    if (ids && !ids->label.empty() && !ids->uuid.empty()) {
        return ids;
    }
    const auto node = DeviceNodeOf(drive.device, drive.mount.source);
    auto probed = node ? ProbeVolumeIds(*node) : std::nullopt;
    // Without udev and without read access to the device, the system's disk service still knows
    // the ids.
    if (node && (!probed || probed->uuid.empty()) && (!ids || ids->uuid.empty())) {
        if (auto asked = UdisksVolumeIds(*node); asked && !asked->uuid.empty()) {
            probed = std::move(asked);
        }
    }
    if (!ids) {
        return probed;
    }
    if (probed) {
        if (ids->uuid.empty()) {
            ids->uuid = std::move(probed->uuid);
        }
        if (ids->label.empty()) {
            ids->label = std::move(probed->label);
        }
    }
    return ids;
}

Volume IdentifyVolume(const DriveMount& drive, const struct statfs& root,
                      const std::optional<VolumeIds>& ids) {
    Volume volume;
    if (ids) {
        volume.label = LimitLabel(ids->label);
    }
    volume.serial = SerialOfVolume(drive, ids ? std::string_view(ids->uuid) : "", root.f_fsid);
    return volume;
}

Volume IdentifyVolume(const DriveMount& drive, const struct statfs& root) {
    return IdentifyVolume(drive, root, ReadVolumeIds(drive));
}

}  // namespace tarnwick::platform
