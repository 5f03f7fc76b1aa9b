// The mount table parser and the choice of drives, fed literal mountinfo lines.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/volumes/drives.h"
#include "platform/volumes/letter_memory.h"
#include "platform/volumes/mountinfo.h"
#include "platform/volumes/volume_id.h"

namespace tarnwick::platform {
namespace {

struct Answers {
    std::vector<DeviceNumber> removable;
    std::map<std::string, DeviceNumber> nodes;

    DriveProbes Probes() const {
        return DriveProbes{[this](DeviceNumber device) {
                               return std::find(removable.begin(), removable.end(), device) !=
                                      removable.end();
                           },
                           [this](const std::string& path) -> std::optional<DeviceNumber> {
                               const auto it = nodes.find(path);
                               return it == nodes.end() ? std::nullopt : std::optional(it->second);
                           }};
    }
};

std::vector<DriveMount> Select(std::string_view text, const Answers& answers = {}) {
    return SelectDrives(ParseMountInfo(text), answers.Probes());
}

// "C:/ D:/home ..." for short comparisons.
std::string Letters(const std::vector<DriveMount>& drives) {
    std::string out;
    for (const DriveMount& drive : drives) {
        out += std::string{drive.letter, ':'} + drive.mount.mountPoint + " ";
    }
    return out;
}

TEST(MountInfo, DecodesEscapesAndSkipsOptionalFields) {
    const auto table = ParseMountInfo(
        "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n"
        "45 27 8:17 / /media/ann/MY\\040STICK rw,nosuid shared:5 master:2 propagate_from:1 - vfat "
        "/dev/sdb1 rw\n"
        "46 27 8:18 /a\\134b /mnt/tab\\011nl\\012x rw - ext4 /dev/sdb\\0402 rw\n"
        "47 27 0:50 / /mnt/odd\\08\\400\\ rw - nfs4 srv:/a\\040b rw");
    ASSERT_EQ(table.size(), 4U);
    EXPECT_EQ(table[0].id, 36U);
    EXPECT_EQ(table[0].parentId, 35U);
    EXPECT_EQ(table[0].device, (DeviceNumber{98, 0}));
    EXPECT_EQ(table[0].root, "/mnt1");
    EXPECT_EQ(table[0].mountPoint, "/mnt2");
    EXPECT_EQ(table[0].fsType, "ext3");
    EXPECT_EQ(table[0].source, "/dev/root");
    EXPECT_EQ(table[0].superOptions, "rw,errors=continue");
    EXPECT_EQ(table[1].mountPoint, "/media/ann/MY STICK");
    EXPECT_EQ(table[1].fsType, "vfat");
    EXPECT_EQ(table[1].source, "/dev/sdb1");
    EXPECT_EQ(table[2].root, "/a\\b");
    EXPECT_EQ(table[2].mountPoint, "/mnt/tab\tnl\nx");
    EXPECT_EQ(table[2].source, "/dev/sdb 2");
    // Backslashes that start no octal escape stay as they are; the last line has no line end.
    EXPECT_EQ(table[3].mountPoint, "/mnt/odd\\08\\400\\");
    EXPECT_EQ(table[3].source, "srv:/a b");
}

TEST(MountInfo, SkipsGarbageAndTruncatedLines) {
    const std::string good = "20 1 8:2 / / rw - ext4 /dev/sda2 rw\n";
    constexpr char kRawNul[] = "21 20 8:3 / /nul\0byte rw - ext4 /dev/sda3 rw\n";
    const std::string text =
        "\n"
        "garbage\n"
        "21 20 8:3 / /x rw\n"                       // no separator
        "21 20 8:3 / /x rw - ext4 /dev/sda3\n"      // cut before the super options
        "21 20 8:3 / /x rw shared:1 -\n"            // cut after the separator
        "x1 20 8:3 / /x rw - ext4 /dev/sda3 rw\n"   // id not a number
        "21 -20 8:3 / /x rw - ext4 /dev/sda3 rw\n"  // negative parent
        "21 20 83 / /x rw - ext4 /dev/sda3 rw\n"    // no major:minor
        "21 20 8:3x / /x rw - ext4 /dev/sda3 rw\n"
        "21 20 8:99999999999 / /x rw - ext4 /dev/sda3 rw\n"
        "21 20 8:3 / x rw - ext4 /dev/sda3 rw\n"         // relative mount point
        "21 20 8:3 / /a\\000b rw - ext4 /dev/sda3 rw\n"  // escaped NUL
        "21 20 8:3 - - - ext4\n" +
        std::string(kRawNul, sizeof(kRawNul) - 1) + good + "\x01\xff\xfe junk \x80\n" +
        std::string(100000, 'x') + "\n" +
        "22 20 8:4 - /dash rw - ext4 /dev/sda4 rw";  // "-" as the root is a root, not the separator
    const auto table = ParseMountInfo(text);
    ASSERT_EQ(table.size(), 2U);
    EXPECT_EQ(table[0].mountPoint, "/");
    EXPECT_EQ(table[1].root, "-");
    EXPECT_EQ(table[1].mountPoint, "/dash");

    // A table with nothing usable still has C: for "/".
    for (const std::string_view bad :
         {std::string_view(), std::string_view("garbage\n\n"), std::string_view("\0\0\0", 3)}) {
        const auto drives = Select(bad);
        ASSERT_EQ(drives.size(), 1U);
        EXPECT_EQ(drives[0].letter, 'C');
        EXPECT_EQ(drives[0].mount.mountPoint, "/");
        EXPECT_EQ(drives[0].type, kDriveFixed);
    }
}

TEST(DriveSelection, UserDrivesGetLettersInTableOrderAndSystemMountsNone) {
    Answers answers;
    answers.removable = {{8, 33}};
    const auto drives = Select(
        "22 20 0:21 / /proc rw - proc proc rw\n"
        "23 20 0:22 / /sys rw - sysfs sysfs rw\n"
        "24 20 0:6 / /dev rw - devtmpfs devtmpfs rw\n"
        "25 20 0:23 / /run rw - tmpfs tmpfs rw\n"
        "20 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
        "26 20 8:1 / /boot/efi rw - vfat /dev/sda1 rw\n"
        "27 20 7:3 / /snap/core/1 ro - squashfs /dev/loop3 ro\n"
        "28 20 8:3 / /var rw - ext4 /dev/sda3 rw\n"
        "29 20 8:4 / /home rw - ext4 /dev/sda4 rw\n"
        "30 25 8:17 / /run/media/ann/MY\\040STICK rw - vfat /dev/sdb1 rw\n"
        "31 25 0:40 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
        "32 20 8:17 /Photos /mnt/photos rw - vfat /dev/sdb1 rw\n"  // bind: collapsed
        "33 20 8:2 /srv /srv rw - ext4 /dev/sda2 rw\n"             // root device: collapsed
        "34 20 0:50 / /mnt/nas rw - nfs4 server:/export rw\n"
        "35 29 0:51 / /home/ann/remote rw - fuse.sshfs ann@host:/ rw\n"
        "36 20 0:52 / /scratch rw - tmpfs tmpfs rw\n"
        "37 20 0:53 / /mnt/ram rw - tmpfs tmpfs rw\n"
        "38 20 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
        "39 20 8:33 / /data rw - ext4 /dev/sdc1 rw\n"
        "40 20 0:60 / /tmp rw - tmpfs tmpfs rw\n"
        "41 20 8:49 / /tmp/x rw - ext4 /dev/sdd1 rw\n"
        "42 20 0:61 / /var/lib/nfs/rpc_pipefs rw - rpc_pipefs sunrpc rw\n"
        "43 20 0:62 / /var/mail rw - nfs server:/mail rw\n"
        "44 20 0:63 / /mnt/chroot/proc rw - proc proc rw\n"
        "45 20 0:6 / /mnt/chroot/dev rw - devtmpfs devtmpfs rw\n"
        "46 20 0:64 / /mnt/auto rw - autofs systemd-1 rw\n"
        "47 33 0:65 / /srv/share rw - cifs //nas/share rw\n"    // on the bind at /srv
        "49 20 0:67 / /srv/hidden rw - cifs //nas/hidden rw\n"  // under the bind at /srv
        "48 20 0:66 / /efi rw - vfat /dev/sda9 rw\n",
        answers);
    EXPECT_EQ(Letters(drives),
              "C:/ D:/home E:/run/media/ann/MY STICK F:/mnt/nas G:/home/ann/remote H:/mnt/ram "
              "I:/media/cdrom J:/data K:/srv/share ");
    ASSERT_EQ(drives.size(), 9U);
    const std::vector<std::uint32_t> types = {kDriveFixed,  kDriveFixed,     kDriveRemovable,
                                              kDriveRemote, kDriveRemote,    kDriveRamdisk,
                                              kDriveCdrom,  kDriveRemovable, kDriveRemote};
    for (std::size_t i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(drives[i].type, types[i]) << drives[i].mount.mountPoint;
    }
    EXPECT_EQ(drives[0].device, (DeviceNumber{8, 2}));
    EXPECT_FALSE(drives[0].servedRemotely);
    EXPECT_TRUE(drives[3].servedRemotely);
    EXPECT_TRUE(drives[4].servedRemotely);
    EXPECT_EQ(drives[2].mount.source, "/dev/sdb1");
}

TEST(DriveSelection, FuseMountsOfBlockDevicesUseThatDevice) {
    Answers answers;
    answers.removable = {{7, 2}};
    answers.nodes = {{"/dev/loop0", {7, 0}}, {"/dev/loop5", {7, 5}}, {"/dev/sda7", {8, 7}}};
    const auto drives = Select(
        "20 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "45 20 0:40 / /media/twx\\040fat rw - fuse /dev/loop0 rw,user_id=0\n"
        "46 20 7:1 / /media/ex rw - fuseblk /dev/loop1 rw\n"
        "47 20 7:2 / /srv/nt rw - fuseblk /dev/loop2 rw\n"
        "48 20 0:41 /sub /srv/fatbind rw - fuse /dev/loop0 rw\n"
        "49 20 0:42 / /opt/x rw - fuse /dev/loop5 rw\n"
        "50 20 0:43 / /srv/fake rw - fuse /dev/notablock rw\n"
        "51 20 8:65 / /srv/odd rw - fuseblk myntfs rw\n"
        "52 20 0:44 / /srv/btrfs rw - btrfs /dev/sda7 rw\n"
        "53 20 0:45 / /srv/btrfs2 rw - btrfs /dev/sda7 rw\n"  // other subvolume, same volume
        "54 20 0:46 / /srv/foreign rw - fuse.rclone remote: rw\n"
        "55 20 7:3 / /srv/sub rw - fuseblk.exfat /dev/loop3 rw\n",
        answers);
    // A FUSE mount that the kernel did not open a device for is the volume of its own device
    // number, whatever its source says: outside the places for drives it is none.
    EXPECT_EQ(Letters(drives),
              "C:/ D:/media/twx fat E:/media/ex F:/srv/nt G:/srv/odd H:/srv/btrfs I:/srv/foreign "
              "J:/srv/sub ");
    ASSERT_EQ(drives.size(), 8U);
    EXPECT_EQ(drives[1].device, (DeviceNumber{0, 40}));
    EXPECT_EQ(drives[1].type, kDriveRemovable);
    EXPECT_TRUE(drives[1].servedRemotely);
    EXPECT_EQ(drives[2].device, (DeviceNumber{7, 1}));
    EXPECT_EQ(drives[2].type, kDriveRemovable);
    EXPECT_EQ(drives[3].type, kDriveRemovable);  // removable in sysfs, not under /media
    EXPECT_EQ(drives[4].device, (DeviceNumber{8, 65}));
    EXPECT_EQ(drives[5].device, (DeviceNumber{8, 7}));
    EXPECT_FALSE(drives[5].servedRemotely);
    EXPECT_EQ(drives[6].type, kDriveRemote);
    EXPECT_EQ(drives[7].device, (DeviceNumber{7, 3}));
}

TEST(DriveSelection, AFuseMountNamingAStickIsNotThatStick) {
    // Any user may mount a FUSE file system with fsname=/dev/sdb1; first in the table, it must
    // take neither the stick's device (and so its serial and remembered letter) nor drop the
    // stick as its duplicate.
    Answers answers;
    answers.nodes = {{"/dev/sdb1", {8, 17}}};
    const auto drives = Select(
        "20 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "60 20 0:50 / /home/eve/claim rw,nosuid,nodev - fuse /dev/sdb1 rw,user_id=1001\n"
        "61 20 0:51 / /media/eve/claim rw,nosuid,nodev - fuse.claim /dev/sdb1 rw,user_id=1001\n"
        "62 20 8:17 / /media/ann/STICK rw,nosuid,nodev - vfat /dev/sdb1 rw,fmask=0022\n",
        answers);
    EXPECT_EQ(Letters(drives), "C:/ D:/media/eve/claim E:/media/ann/STICK ");
    ASSERT_EQ(drives.size(), 3U);
    EXPECT_EQ(drives[1].device, (DeviceNumber{0, 51}));
    EXPECT_EQ(drives[2].device, (DeviceNumber{8, 17}));
    // Without a device of its own it reads no ids of a device, and is remembered by its mount.
    EXPECT_FALSE(ReadVolumeIds(drives[1]).has_value());
    EXPECT_EQ(VolumeIdentity(drives[1].mount, ""), "mount fuse.claim /media/eve/claim");
    struct statfs fuseRoot {};  // FUSE reports no file-system id
    EXPECT_EQ(IdentifyVolume(drives[1], fuseRoot, std::nullopt).serial,
              StandInSerial(drives[1].mount));
}

TEST(DriveSelection, HiddenMountsGetNoLetter) {
    // Stacked at one place, and a later mount over a parent folder of an earlier one.
    auto drives = Select(
        "20 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
        "21 20 8:17 / /media/a rw - vfat /dev/sdb1 rw\n"
        "22 21 8:33 / /media/a rw - vfat /dev/sdc1 rw\n"
        "23 20 8:49 / /media/b/inner rw - vfat /dev/sdd1 rw\n"
        "24 20 0:30 / /media/b rw - tmpfs tmpfs rw\n"
        "25 24 8:65 / /media/b/other rw - vfat /dev/sde1 rw\n"
        "26 20 8:81 / /media/c rw - vfat /dev/sdf1 rw\n"
        "27 26 8:97 / /media/c/d rw - vfat /dev/sdg1 rw\n");
    EXPECT_EQ(Letters(drives),
              "C:/ D:/media/a E:/media/b F:/media/b/other G:/media/c H:/media/c/d ");
    EXPECT_EQ(drives[1].device, (DeviceNumber{8, 33}));

    // A root stacked on another hides everything mounted on the old one.
    drives = Select(
        "20 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
        "21 20 8:17 / /mnt/old rw - ext4 /dev/sdb1 rw\n"
        "30 20 0:99 / / rw - overlay overlay rw\n"
        "31 30 8:33 / /mnt/new rw - ext4 /dev/sdc1 rw\n");
    EXPECT_EQ(Letters(drives), "C:/ D:/mnt/new ");
    EXPECT_EQ(drives[0].mount.fsType, "overlay");

    // Of two roots without a parent in the table the last one wins.
    drives = Select(
        "20 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
        "30 1 8:3 / / rw - ext4 /dev/sda3 rw\n"
        "31 20 8:17 / /media/x rw - vfat /dev/sdb1 rw\n");
    EXPECT_EQ(Letters(drives), "C:/ ");
    EXPECT_EQ(drives[0].device, (DeviceNumber{8, 3}));

    // Seen from inside a chroot the parents are missing; mounts in a parent cycle lead nowhere.
    drives = Select(
        "40 99 0:21 / /proc rw - proc proc rw\n"
        "41 99 8:17 / /media/x rw - vfat /dev/sdb1 rw\n"
        "42 43 8:33 / /media/y rw - vfat /dev/sdc1 rw\n"
        "43 42 8:49 / /media/z rw - vfat /dev/sdd1 rw\n"
        "44 44 8:65 / /media/self rw - vfat /dev/sde1 rw\n");
    EXPECT_EQ(Letters(drives), "C:/ D:/media/x E:/media/self ");
    EXPECT_EQ(drives[0].device, (DeviceNumber{}));
}

TEST(DriveSelection, LettersStopAtZ) {
    std::string text = "20 1 8:2 / / rw - ext4 /dev/sda2 rw\n";
    for (int i = 1; i <= 30; ++i) {
        text += std::to_string(100 + i) + " 20 0:" + std::to_string(200 + i) + " / /mnt/d" +
                std::to_string(i) + " rw - tmpfs tmpfs rw\n";
    }
    const auto drives = Select(text);
    ASSERT_EQ(drives.size(), 24U);
    for (std::size_t i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(drives[i].letter, static_cast<char>('C' + i));
    }
    EXPECT_EQ(drives.back().mount.mountPoint, "/mnt/d23");
}

}  // namespace
}  // namespace tarnwick::platform
