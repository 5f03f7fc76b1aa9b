#include "platform/volumes/mountinfo.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <unordered_map>

#include "platform/volumes/drives.h"

namespace tarnwick::platform {

namespace {

using namespace std::string_view_literals;

constexpr std::array kNetworkFileSystems = {
    "nfs"sv,          "nfs4"sv,           "cifs"sv,
    "smb3"sv,         "smbfs"sv,          "ncpfs"sv,
    "9p"sv,           "virtiofs"sv,       "afs"sv,
    "ceph"sv,         "glusterfs"sv,      "lustre"sv,
    "gpfs"sv,         "beegfs"sv,         "orangefs"sv,
    "coda"sv,         "davfs"sv,          "vboxsf"sv,
    "sshfs"sv,        "fuse.sshfs"sv,     "fuse.rclone"sv,
    "fuse.s3fs"sv,    "fuse.glusterfs"sv, "fuse.ceph-fuse"sv,
    "fuse.davfs"sv,   "fuse.curlftpfs"sv, "fuse.vmhgfs-fuse"sv,
    "fuse.gcsfuse"sv, "fuse.juicefs"sv,
};

// Kernel interfaces and automount triggers: never a drive, wherever they are mounted (a chroot
// under /mnt brings its own /proc, /sys and /dev along). Touching an autofs trigger would start a
// mount that may hang.
constexpr std::array kPseudoFileSystems = {
    "proc"sv,       "sysfs"sv,    "devtmpfs"sv,  "devpts"sv,      "cgroup"sv, "cgroup2"sv,
    "securityfs"sv, "debugfs"sv,  "tracefs"sv,   "pstore"sv,      "bpf"sv,    "mqueue"sv,
    "hugetlbfs"sv,  "configfs"sv, "fusectl"sv,   "binfmt_misc"sv, "autofs"sv, "efivarfs"sv,
    "rpc_pipefs"sv, "nsfs"sv,     "selinuxfs"sv, "nfsd"sv,
};

// Places where the system keeps its own mounts. /tmp and /var/tmp are scratch space, not drives;
// /home, /srv and /root on their own disks are drives a user regards as such.
constexpr std::array kSystemPlaces = {
    "/boot"sv,  "/efi"sv,   "/snap"sv,   "/var"sv, "/proc"sv, "/sys"sv,  "/dev"sv,
    "/run"sv,   "/tmp"sv,   "/usr"sv,    "/etc"sv, "/bin"sv,  "/sbin"sv, "/lib"sv,
    "/lib32"sv, "/lib64"sv, "/libx32"sv, "/opt"sv, "/nix"sv,
};

// Where people and desktops mount what they regard as drives.
constexpr std::array kUserPlaces = {"/media"sv, "/run/media"sv, "/mnt"sv};
// Where desktops mount plugged-in media.
constexpr std::array kRemovablePlaces = {"/media"sv, "/run/media"sv};

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool PathIsUnder(std::string_view path, std::string_view base) {
    if (base == "/") {
        return path.starts_with('/');
    }
    return path.starts_with(base) && (path.size() == base.size() || path[base.size()] == '/');
}

template <std::size_t N>
bool IsUnderAny(std::string_view path, const std::array<std::string_view, N>& bases) {
    return std::any_of(bases.begin(), bases.end(),
                       [path](std::string_view base) { return PathIsUnder(path, base); });
}

bool IsOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

// The kernel writes a blank, tab, newline and backslash inside a field as \040, \011, \012 and
// \134. nullopt for a NUL byte, escaped or not, which no path can hold.
std::optional<std::string> DecodeField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\0') {
            return std::nullopt;
        }
        if (field[i] == '\\' && field.size() - i >= 4 && IsOctalDigit(field[i + 1]) &&
            IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
            const int value =
                (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value == 0) {
                return std::nullopt;
            }
            if (value <= 0xFF) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc{} && ptr == end;
}

std::optional<MountEntry> ParseLine(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", pos);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        fields.push_back(line.substr(start, end - start));
        pos = end;
    }
    // id parent major:minor root mount-point options [optional fields...] - type source
    // super-options
    constexpr std::size_t kFirstOptional = 6;
    const auto separator =
        std::find(fields.begin() + std::min(fields.size(), kFirstOptional), fields.end(), "-"sv);
    if (separator == fields.end() || fields.end() - separator < 4) {
        return std::nullopt;
    }

    MountEntry entry;
    const std::string_view device = fields[2];
    const std::size_t colon = device.find(':');
    if (!ParseNumber(fields[0], entry.id) || !ParseNumber(fields[1], entry.parentId) ||
        colon == std::string_view::npos ||
        !ParseNumber(device.substr(0, colon), entry.device.major) ||
        !ParseNumber(device.substr(colon + 1), entry.device.minor)) {
        return std::nullopt;
    }
    auto root = DecodeField(fields[3]);
    auto mountPoint = DecodeField(fields[4]);
    auto fsType = DecodeField(separator[1]);
    auto source = DecodeField(separator[2]);
    auto superOptions = DecodeField(separator[3]);
    if (!root || !mountPoint || !fsType || !source || !superOptions ||
        !mountPoint->starts_with('/')) {
        return std::nullopt;
    }
    entry.root = std::move(*root);
    entry.mountPoint = std::move(*mountPoint);
    entry.fsType = std::move(*fsType);
    entry.source = std::move(*source);
    entry.superOptions = std::move(*superOptions);
    return entry;
}

// The mounts as the kernel stacks them, to tell which one a path really leads into.
class MountTree {
public:
    explicit MountTree(const std::vector<MountEntry>& table)
        : table_(table), children_(table.size() + 1) {
        std::unordered_map<std::uint64_t, std::size_t> byId;
        for (std::size_t i = 0; i < table.size(); ++i) {
            byId.emplace(table[i].id, i);
        }
        // Mounts whose parent is not in the table (the root, or mounts seen from inside a
        // chroot) hang from a virtual top.
        for (std::size_t i = 0; i < table.size(); ++i) {
            const auto parent = byId.find(table[i].parentId);
            const bool hasParent = parent != byId.end() && parent->second != i;
            children_[hasParent ? parent->second : table.size()].push_back(i);
        }
    }

    // The mount a path leads into. A path walk crosses the shortest mount point first, and a
    // mount stacked on another at the same place is its child, so it is taken before anything
    // mounted below that place; of two equal candidates the later one in the table is on top.
    std::optional<std::size_t> Resolve(std::string_view path) const {
        std::optional<std::size_t> found;
        std::size_t current = table_.size();
        // A malformed table may hold cycles: no walk is longer than the table.
        for (std::size_t step = 0; step <= table_.size(); ++step) {
            std::optional<std::size_t> best;
            for (const std::size_t child : children_[current]) {
                const std::string& point = table_[child].mountPoint;
                if (PathIsUnder(path, point) &&
                    (!best || point.size() <= table_[*best].mountPoint.size())) {
                    best = child;
                }
            }
            if (!best) {
                break;
            }
            found = best;
            current = *best;
        }
        return found;
    }

    bool IsVisible(std::size_t index) const { return Resolve(table_[index].mountPoint) == index; }

private:
    const std::vector<MountEntry>& table_;
    std::vector<std::vector<std::size_t>> children_;  // the last one lists the top's children
};

// "fuse", "fuseblk" and "fuse.<daemon>".
bool IsFuse(std::string_view fsType) {
    return fsType.starts_with("fuse");
}

// FUSE mounts whose block device the kernel opened itself: "fuseblk", "fuseblk.<subtype>".
bool IsFuseBlk(std::string_view fsType) {
    return fsType == "fuseblk" || fsType.starts_with("fuseblk.");
}

// The source of a FUSE mount is whatever text its daemon chose (any user may mount one with
// fsname=/dev/sdb1): only a device the kernel opened for the mount counts.
bool IsBlockDeviceMount(const MountEntry& mount) {
    if (IsFuse(mount.fsType)) {
        return IsFuseBlk(mount.fsType) && mount.device.major != 0;
    }
    return mount.source.starts_with("/dev/");
}

bool IsDriveCandidate(const MountEntry& mount) {
    if (mount.mountPoint == "/" || Contains(kPseudoFileSystems, mount.fsType)) {
        return false;
    }
    if (IsUnderAny(mount.mountPoint, kUserPlaces)) {
        return true;
    }
    return !IsUnderAny(mount.mountPoint, kSystemPlaces) &&
           (IsBlockDeviceMount(mount) || IsNetworkFileSystem(mount.fsType));
}

// Some kernel file systems (btrfs) report an anonymous device number; the block device they read
// is the one their source names, which only the administrator could have put there. A FUSE
// mount's source is not evidence: it is the volume its own device number names.
DeviceNumber BackingDevice(const MountEntry& mount, const DriveProbes& probes) {
    if (mount.device.major == 0 && !IsFuse(mount.fsType) && mount.source.starts_with("/dev/") &&
        probes.blockDeviceOf) {
        if (const auto device = probes.blockDeviceOf(mount.source)) {
            return *device;
        }
    }
    return mount.device;
}

std::uint32_t TypeOfMount(const MountEntry& mount, DeviceNumber device, const DriveProbes& probes) {
    if (mount.fsType == "iso9660" || mount.fsType == "udf") {
        return kDriveCdrom;
    }
    if (IsNetworkFileSystem(mount.fsType)) {
        return kDriveRemote;
    }
    if (mount.fsType == "tmpfs" || mount.fsType == "ramfs") {
        return kDriveRamdisk;
    }
    if (IsUnderAny(mount.mountPoint, kRemovablePlaces) ||
        (device.major != 0 && probes.isRemovable && probes.isRemovable(device))) {
        return kDriveRemovable;
    }
    return kDriveFixed;
}

DriveMount MakeDrive(char letter, const MountEntry& mount, DeviceNumber device,
                     const DriveProbes& probes) {
    DriveMount drive;
    drive.letter = letter;
    drive.device = device;
    drive.type = TypeOfMount(mount, device, probes);
    drive.servedRemotely = IsNetworkFileSystem(mount.fsType) || IsFuse(mount.fsType);
    drive.mount = mount;
    return drive;
}

}  // namespace

bool IsNetworkFileSystem(std::string_view fsType) {
    return Contains(kNetworkFileSystems, fsType);
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> table;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        if (auto entry = ParseLine(text.substr(0, end))) {
            table.push_back(std::move(*entry));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return table;
}

std::vector<DriveMount> SelectDriveMounts(const std::vector<MountEntry>& table,
                                          const DriveProbes& probes) {
    const MountTree tree(table);
    std::vector<DriveMount> drives;

    const auto root = tree.Resolve("/");
    if (root && table[*root].mountPoint == "/") {
        drives.push_back(MakeDrive('C', table[*root], BackingDevice(table[*root], probes), probes));
    } else {
        MountEntry bare;
        bare.mountPoint = "/";
        bare.root = "/";
        drives.push_back(DriveMount{'C', kDriveFixed, {}, false, std::move(bare)});
    }

    std::vector<DeviceNumber> lettered;
    if (drives.front().device.major != 0 || drives.front().device.minor != 0) {
        lettered.push_back(drives.front().device);
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!IsDriveCandidate(table[i]) || !tree.IsVisible(i)) {
            continue;
        }
        const DeviceNumber device = BackingDevice(table[i], probes);
        if (std::find(lettered.begin(), lettered.end(), device) != lettered.end()) {
            continue;
        }
        lettered.push_back(device);
        drives.push_back(MakeDrive(0, table[i], device, probes));
    }
    return drives;
}

std::vector<DriveMount> SelectDrives(const std::vector<MountEntry>& table,
                                     const DriveProbes& probes) {
    std::vector<DriveMount> drives = SelectDriveMounts(table, probes);
    constexpr std::size_t kLetters = 'Z' - 'C' + 1;
    if (drives.size() > kLetters) {
        drives.resize(kLetters);
    }
    for (std::size_t i = 1; i < drives.size(); ++i) {
        drives[i].letter = static_cast<char>('C' + i);
    }
    return drives;
}

}  // namespace tarnwick::platform
