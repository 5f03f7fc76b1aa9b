// Volume serial numbers from UUIDs and file-system ids, labels, and udev's link folders.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/volumes/volume_id.h"
#include "support/temp_dir.h"

namespace tarnwick::platform {
namespace {

namespace fs = std::filesystem;

TEST(VolumeId, UuidsGiveTheSerialsWindowsShows) {
    EXPECT_EQ(SerialFromUuid("1A2B-3C4D"), 0x1A2B3C4DU);         // FAT
    EXPECT_EQ(SerialFromUuid("5e6f-7a8b"), 0x5E6F7A8BU);         // exFAT, as some tools write it
    EXPECT_EQ(SerialFromUuid("1122334455667788"), 0x55667788U);  // NTFS: the last 8 digits
    EXPECT_EQ(SerialFromUuid("0f3c2b1a-1111-2222-3333-444455556666"), 0x784B2B1AU);  // ext4 fold
    EXPECT_EQ(SerialFromUuid("0F3C2B1A-1111-2222-3333-444455556666"), 0x784B2B1AU);
    EXPECT_EQ(SerialFromUuid("2020-01-01-12-00-00-00"), 0x32200101U);  // iso9660 date
    EXPECT_EQ(SerialFromUuid("abc"), 0xABCU);

    for (const std::string_view bad :
         {"", "-", "xyz", "1A2B-3C4G", "1A2B 3C4D", "1A2B-3C4D\n", "{1A2B-3C4D}", "0000-0000",
          "0000000000000000", "00000000-0000-0000-0000-000000000000", "11111111-11111111"}) {
        EXPECT_EQ(SerialFromUuid(bad), std::nullopt) << bad;
    }
}

TEST(VolumeId, FileSystemIdsAndStandInsAreNeverZero) {
    fsid_t fsid{};
    EXPECT_EQ(SerialFromFsid(fsid), std::nullopt);
    const int words[2] = {0x11111111, 0x01010101};
    std::memcpy(&fsid, words, sizeof(words));
    EXPECT_EQ(SerialFromFsid(fsid), 0x10101010U);

    MountEntry ram{7, 1, {0, 40}, "/", "/mnt/ram1", "tmpfs", "tmpfs", "rw"};
    MountEntry otherRam = ram;
    otherRam.mountPoint = "/mnt/ram2";
    MountEntry share{8, 1, {0, 41}, "/", "/mnt/share", "fuse.sshfs", "ann@host:/data", "rw"};
    MountEntry sameShare = share;
    sameShare.mountPoint = "/home/ann/share";
    sameShare.device = {0, 77};
    MountEntry otherShare = share;
    otherShare.root = "/sub";
    for (const MountEntry& mount : {ram, otherRam, share, otherShare}) {
        EXPECT_NE(StandInSerial(mount), 0U);
    }
    EXPECT_EQ(StandInSerial(ram), StandInSerial(ram));
    EXPECT_NE(StandInSerial(ram), StandInSerial(otherRam));     // each RAM disk is its own volume
    EXPECT_EQ(StandInSerial(share), StandInSerial(sameShare));  // a share is one wherever it is
    EXPECT_NE(StandInSerial(share), StandInSerial(otherShare));

    // A RAM disk keeps its stand-in whatever statfs says; the label stays empty.
    DriveMount drive{'E', kDriveRamdisk, {0, 40}, false, ram};
    struct statfs root {};
    EXPECT_EQ(IdentifyVolume(drive, root).serial, StandInSerial(ram));
    EXPECT_EQ(IdentifyVolume(drive, root).label, "");
    std::memcpy(&root.f_fsid, words, sizeof(words));
    EXPECT_EQ(IdentifyVolume(drive, root).serial, StandInSerial(ram));
}

// What a serial is made from: the volume's own UUID; the statfs id only where the file system
// makes it from its UUID; never a device number; a stand-in only for volumes without a device.
TEST(VolumeId, SerialsComeOnlyFromWhatBelongsToTheVolume) {
    const int words[2] = {0x11111111, 0x01010101};
    fsid_t fsid{};
    std::memcpy(&fsid, words, sizeof(words));
    const auto drive = [](const char* type, DeviceNumber device, const char* source) {
        return DriveMount{'E', kDriveRemovable, device, false,
                          MountEntry{9, 1, device, "/", "/media/ann/X", type, source, "rw"}};
    };
    const DriveMount share = drive("nfs", {0, 50}, "host:/export");
    const DriveMount ram = drive("tmpfs", {0, 51}, "tmpfs");
    const DriveMount overlay = drive("overlay", {0, 52}, "overlay");
    const struct {
        DriveMount drive;
        const char* uuid;
        bool fsidKnown;
        std::uint32_t serial;
    } cases[] = {
        {drive("vfat", {7, 12}, "/dev/loop12"), "1A2B-3C4D", true, 0x1A2B3C4DU},
        {drive("vfat", {7, 12}, "/dev/loop12"), "0000-0000", true, 0},  // serial 0 stays 0
        {drive("vfat", {7, 12}, "/dev/loop12"), "", true, 0},           // unreadable: 0
        {drive("exfat", {8, 1}, "/dev/sdb1"), "", true, 0},
        {drive("fuseblk", {8, 1}, "/dev/sdb1"), "", true, 0},         // NTFS through FUSE
        {drive("xfs", {8, 2}, "/dev/sdb2"), "", true, 0},             // statfs id = device
        {drive("ext4", {8, 3}, "/dev/sdb3"), "", true, 0x10101010U},  // statfs id from UUID
        {drive("btrfs", {8, 4}, "/dev/sdb4"), "", true, 0x10101010U},
        {drive("ext4", {8, 3}, "/dev/sdb3"), "", false, 0},
        {share, "", false, StandInSerial(share.mount)},
        {share, "", true, 0x10101010U},  // as before
        {ram, "", true, StandInSerial(ram.mount)},
        {overlay, "", false, StandInSerial(overlay.mount)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SerialOfVolume(c.drive, c.uuid, c.fsidKnown ? fsid : fsid_t{}), c.serial)
            << c.drive.mount.fsType << " '" << c.uuid << "' " << c.fsidKnown;
    }
    EXPECT_EQ(UdisksObjectName("sdb1"), "sdb1");
    EXPECT_EQ(UdisksObjectName("dm-0"), "dm_2d0");
}

TEST(VolumeId, UdevNamesAndLabels) {
    EXPECT_EQ(DecodeUdevName("MY\\x20STICK"), "MY STICK");
    EXPECT_EQ(DecodeUdevName("a\\x2fb\\x5c"), "a/b\\");
    EXPECT_EQ(DecodeUdevName("\\x2"), "\\x2");
    EXPECT_EQ(DecodeUdevName("\\xZZ\\x00"), "\\xZZ\\x00");  // no NUL comes out of a name
    EXPECT_EQ(DecodeUdevName("Fotos\\xc3\\xa4"), "Fotos\xc3\xa4");

    EXPECT_EQ(LimitLabel(std::string(300, 'a')), std::string(259, 'a'));
    EXPECT_EQ(LimitLabel(std::string(259, 'a')), std::string(259, 'a'));
    // A two-byte character across the limit goes as a whole.
    EXPECT_EQ(LimitLabel(std::string(258, 'a') + "\xc3\xa4"), std::string(258, 'a'));
}

std::optional<std::string> SomeBlockDevice() {
    for (const char* node : {"/dev/loop0", "/dev/loop1", "/dev/vda", "/dev/sda", "/dev/nvme0n1"}) {
        struct stat st {};
        if (stat(node, &st) == 0 && S_ISBLK(st.st_mode)) {
            return node;
        }
    }
    return std::nullopt;
}

TEST(VolumeId, UdevLinksNameTheDeviceTheyLeadTo) {
    const auto node = SomeBlockDevice();
    if (!node) {
        GTEST_SKIP() << "no block device node to point links at";
    }
    struct stat st {};
    ASSERT_EQ(stat(node->c_str(), &st), 0);
    const DeviceNumber device{major(st.st_rdev), minor(st.st_rdev)};

    testing::TempDir disk;
    fs::create_directories(disk / "by-uuid");
    fs::create_directories(disk / "by-label");
    fs::create_symlink("/dev/null", disk / "by-uuid" / "0000-1111");
    fs::create_symlink("/nowhere", disk / "by-uuid" / "2222-3333");
    fs::create_symlink(*node, disk / "by-uuid" / "1A2B-3C4D");
    fs::create_symlink(*node, disk / "by-label" / "MY\\x20STICK");

    const auto ids = UdevVolumeIds(device, disk.str());
    ASSERT_TRUE(ids.has_value());
    EXPECT_EQ(ids->uuid, "1A2B-3C4D");
    EXPECT_EQ(ids->label, "MY STICK");
    EXPECT_EQ(UdevVolumeIds({device.major, device.minor + 1000}, disk.str()), std::nullopt);
    EXPECT_EQ(UdevVolumeIds(device, disk.str() + "/missing"), std::nullopt);

    fs::remove(disk / "by-label" / "MY\\x20STICK");
    const auto unlabelled = UdevVolumeIds(device, disk.str());
    ASSERT_TRUE(unlabelled.has_value());
    EXPECT_EQ(unlabelled->label, "");

    // The device node: the mount's source when it is the node, else the one sysfs names.
    EXPECT_EQ(DeviceNodeOf(device, *node), *node);
    EXPECT_EQ(DeviceNodeOf(device, "/dev/null"), DeviceNodeOf(device, "tmpfs"));
    if (fs::exists("/sys/dev/block/" + std::to_string(device.major) + ":" +
                   std::to_string(device.minor))) {
        EXPECT_EQ(DeviceNodeOf(device, "tmpfs"), *node);
    }
}

}  // namespace
}  // namespace tarnwick::platform
