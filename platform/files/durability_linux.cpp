// Durability: what the volume of a folder needs before a copy may take its name, and the flush
// that gives it.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/copies.h"
#include "platform/files/files.h"
#include "platform/files/files_linux.h"
#include "platform/unique_fd.h"

namespace tarnwick::platform {

void Directory::LoadVolumeTraits() const {
    if (traitsKnown_) {
        return;
    }
    traitsKnown_ = true;
    struct statfs fs {};
    if (fd_ < 0 || ::fstatfs(fd_, &fs) != 0) {
        durability_ = Durability::kEachFile;
        return;
    }
    // The magic numbers of network file systems that linux/magic.h leaves out.
    constexpr long kCifs = static_cast<long>(0xFF534D42U);
    constexpr long kSmb2 = static_cast<long>(0xFE534D42U);
    constexpr long kAfs = 0x6B414653;
    constexpr long kCeph = 0x00C36400;
    // File systems of sticks that keep no permission bits.
    constexpr long kExfat = 0x2011BAB0;
    constexpr long kNtfs = 0x5346544E;
    constexpr long kNtfs3 = 0x7366746E;
    switch (static_cast<long>(fs.f_type)) {
        case TMPFS_MAGIC:
        case RAMFS_MAGIC:
            durability_ = Durability::kNone;
            break;
        case MSDOS_SUPER_MAGIC:
        case kExfat:
        case kNtfs:
        case kNtfs3:
            permissions_ = Permissions::kNone;
            break;
        case FUSE_SUPER_MAGIC:
            // Drivers of sticks (FAT, exFAT, NTFS) make up bits, mostly 0777; others keep them.
            permissions_ = Permissions::kUnsure;
            // FUSE drivers of FAT give a renamed file the current time, and a flush of the
            // volume reaches the device only where the driver implements one.
            restamps_ = true;
            durability_ = Durability::kEachFile;
            // The FUSE drivers of sticks answer one request after the other.
            serialises_ = true;
            break;
        case NFS_SUPER_MAGIC:
        case SMB_SUPER_MAGIC:
        case V9FS_MAGIC:
        case CODA_SUPER_MAGIC:
        case kCifs:
        case kSmb2:
        case kAfs:
        case kCeph:
            durability_ = Durability::kEachFile;
            break;
        default:
            durability_ = Durability::kVolume;
            break;
    }
}

bool Directory::RestampsOnRename() const {
    LoadVolumeTraits();
    return restamps_;
}

Directory::Permissions Directory::KeepsPermissions() const {
    LoadVolumeTraits();
    return permissions_;
}

bool Directory::SerialisesRequests() const {
    LoadVolumeTraits();
    return serialises_;
}

Directory::Durability Directory::CopyDurability() const {
    LoadVolumeTraits();
    return durability_;
}

}  // namespace tarnwick::platform
