// The real drive map with real mounts: FAT32, exFAT and NTFS sticks on loop devices under /media,
// and tmpfs and FUSE mounts in a private mount namespace. All of it needs root. These tests run
// one at a time and never beside other tests that read the real map (CTest resource lock
// "real_drive_map").

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/volumes/drives.h"
#include "platform/volumes/linux_drive_map.h"
#include "support/temp_dir.h"

namespace tarnwick::platform {
namespace {

namespace fs = std::filesystem;
using testing::RunningAsRoot;
using testing::TempDir;

std::string FindProgram(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/local/sbin:/usr/sbin:/sbin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string candidate = path.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

// Runs a program and waits for it. Its output is dropped unless `output` asks for it: FUSE
// drivers leave a daemon behind that would hold a pipe open.
int Run(const std::vector<std::string>& args, std::string* output = nullptr) {
    const std::string program = FindProgram(args.front());
    if (program.empty()) {
        return 127;
    }
    int pipeFds[2] = {-1, -1};
    if (output && pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(output ? pipeFds[1] : devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (output) {
        close(pipeFds[1]);
        output->clear();
        char buffer[4096];
        ssize_t count = 0;
        while ((count = read(pipeFds[0], buffer, sizeof(buffer))) > 0 ||
               (count < 0 && errno == EINTR)) {
            output->append(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        }
        close(pipeFds[0]);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsMountPoint(const std::string& dir) {
    struct stat self {};
    struct stat parent {};
    return stat(dir.c_str(), &self) == 0 &&
           stat(fs::path(dir).parent_path().c_str(), &parent) == 0 && self.st_dev != parent.st_dev;
}

// Daemons of FUSE drivers finish their mount a moment after they start.
bool WaitForMount(const std::string& dir, bool mounted) {
    for (int i = 0; i < 500; ++i) {
        if (IsMountPoint(dir) == mounted) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::optional<Drive> DriveAt(const std::vector<Drive>& drives, const std::string& root) {
    for (const Drive& drive : drives) {
        if (drive.root == root) {
            return drive;
        }
    }
    return std::nullopt;
}

// The lookup the settings store does to find a moved stick: the first drive whose volume has
// the serial, '0' for none.
char FindDriveBySerial(std::uint32_t serial) {
    for (const std::string& root : LogicalDriveRoots()) {
        const auto volume = VolumeInformation(root[0]);
        if (volume && volume->serial == serial) {
            return root[0];
        }
    }
    return '0';
}

// --- Sticks on loop devices --------------------------------------------------------------------

enum class StickKind { kFat32, kExfat, kNtfs };

struct Stick {
    StickKind kind;
    std::uint32_t serial;
    std::string label;
    std::string dirName;  // under /media
};

const Stick kFatStick{StickKind::kFat32, 0x1A2B3C4D, "TW FAT", "fat32 stick"};
const Stick kExfatStick{StickKind::kExfat, 0x5E6F7A8B, "TWEXFAT", "exfat-stick"};
const Stick kNtfsStick{StickKind::kNtfs, 0xCAFE0123, "TW NTFS", "ntfs-stick"};

std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof(text), "%08X", value);
    return text;
}

// Why sticks of this kind cannot be tested here; empty when they can.
std::string MissingForSticks(StickKind kind) {
    if (!RunningAsRoot()) {
        return "needs root to attach loop devices and mount";
    }
    if (access("/dev/loop-control", F_OK) != 0) {
        return "no loop device support (/dev/loop-control)";
    }
    std::vector<std::string> tools = {"losetup", "mount", "umount", "truncate"};
    switch (kind) {
        case StickKind::kFat32:
            tools.insert(tools.end(), {"mkfs.vfat", "fusefat"});
            break;
        case StickKind::kExfat:
            tools.insert(tools.end(), {"mkfs.exfat", "tune.exfat", "mount.exfat-fuse"});
            break;
        case StickKind::kNtfs:
            tools.insert(tools.end(), {"mkntfs", "ntfslabel", "ntfs-3g"});
            break;
    }
    for (const std::string& tool : tools) {
        if (FindProgram(tool).empty()) {
            return tool + " is not installed";
        }
    }
    return {};
}

bool MakeImage(const Stick& stick, const std::string& image) {
    const std::string serial = Hex8(stick.serial);
    switch (stick.kind) {
        case StickKind::kFat32:  // FAT32 needs 65525 clusters at the least
            return Run({"truncate", "-s", "64M", image}) == 0 &&
                   Run({"mkfs.vfat", "-F", "32", "-i", serial, "-n", stick.label, image}) == 0;
        case StickKind::kExfat:
            return Run({"truncate", "-s", "16M", image}) == 0 &&
                   Run({"mkfs.exfat", "-L", stick.label, image}) == 0 &&
                   Run({"tune.exfat", "-I", "0x" + serial, image}) == 0;
        case StickKind::kNtfs:
            return Run({"truncate", "-s", "16M", image}) == 0 &&
                   Run({"mkntfs", "-F", "-q", "-L", stick.label, image}) == 0 &&
                   Run({"ntfslabel", "--new-serial=11223344" + serial, image}) == 0;
    }
    return false;
}

// A stick image attached to a loop device and mounted under /media: with the kernel's driver where
// it has one, else with the FUSE driver. Unmounts, detaches and removes its folder whatever
// happened.
class MountedStick {
public:
    MountedStick(const Stick& stick, const std::string& image)
        : dir_("/media/tarnwick-" + std::to_string(getpid()) + " " + stick.dirName) {
        std::string loop;
        if (Run({"losetup", "-f", "--show", image}, &loop) != 0 || loop.empty()) {
            error_ = "no free loop device";
            return;
        }
        loop_ = loop.substr(0, loop.find('\n'));
        std::error_code ec;
        fs::create_directories(dir_, ec);
        if (ec) {
            error_ = "cannot create " + dir_;
            return;
        }
        madeDir_ = true;
        mounted_ = MountKernel(stick.kind) || MountFuse(stick.kind);
        if (!mounted_ || !WaitForMount(dir_, true)) {
            error_ = "cannot mount " + loop_ + " on " + dir_;
        }
    }
    MountedStick(const MountedStick&) = delete;
    MountedStick& operator=(const MountedStick&) = delete;

    ~MountedStick() {
        if (mounted_ && Run({"umount", dir_}) != 0) {
            Run({"umount", "-l", dir_});
        }
        if (mounted_) {
            WaitForMount(dir_, false);
        }
        if (!loop_.empty()) {
            Run({"losetup", "-d", loop_});
        }
        if (madeDir_) {
            std::error_code ec;
            fs::remove(dir_, ec);
        }
    }

    const std::string& error() const { return error_; }
    const std::string& dir() const { return dir_; }

private:
    bool MountKernel(StickKind kind) const {
        const char* type = kind == StickKind::kFat32   ? "vfat"
                           : kind == StickKind::kExfat ? "exfat"
                                                       : "ntfs3";
        return Run({"mount", "-t", type, loop_, dir_}) == 0;
    }
    bool MountFuse(StickKind kind) const {
        switch (kind) {
            // blkdev: the kernel opens the device for the mount ("fuseblk"), as the only FUSE
            // mount whose source counts as its device.
            case StickKind::kFat32:
                return Run({"fusefat", "-o", "rw+,blkdev,fsname=" + loop_, loop_, dir_}) == 0;
            case StickKind::kExfat:
                return Run({"mount.exfat-fuse", loop_, dir_}) == 0;
            case StickKind::kNtfs:
                return Run({"ntfs-3g", loop_, dir_}) == 0;
        }
        return false;
    }

    std::string dir_;
    std::string loop_;
    bool madeDir_ = false;
    bool mounted_ = false;
    std::string error_;
};

void CheckStick(const Stick& stick) {
    const std::string missing = MissingForSticks(stick.kind);
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const TempDir temp;
    const std::string image = (temp / "stick.img").string();
    ASSERT_TRUE(MakeImage(stick, image));
    const MountedStick mounted(stick, image);
    if (mounted.error() == "no free loop device") {
        GTEST_SKIP() << mounted.error();
    }
    ASSERT_EQ(mounted.error(), "");

    const auto drive = DriveAt(CurrentDriveMap().Drives(), mounted.dir());
    ASSERT_TRUE(drive.has_value()) << mounted.dir() << " has no letter";
    EXPECT_EQ(drive->type, kDriveRemovable);
    EXPECT_TRUE(drive->hasMedium);
    EXPECT_EQ(DriveTypeOf(drive->letter), kDriveRemovable);
    const auto volume = VolumeInformation(drive->letter);
    ASSERT_TRUE(volume.has_value());
    EXPECT_EQ(Hex8(volume->serial), Hex8(stick.serial));
    EXPECT_EQ(volume->label, stick.label);
    EXPECT_EQ(FindDriveBySerial(stick.serial), drive->letter);

    const std::string letter{drive->letter, ':', '\\'};
    EXPECT_EQ(ToDrivePath(mounted.dir() + "/Photos/2009"), letter + "Photos\\2009");
    EXPECT_EQ(ToNativePath(letter + "Photos\\2009"), mounted.dir() + "/Photos/2009");
}

TEST(RootDriveMap, Fat32StickShowsItsSerialLabelAndRemovableType) {
    CheckStick(kFatStick);
}
TEST(RootDriveMap, ExfatStickShowsItsSerialLabelAndRemovableType) {
    CheckStick(kExfatStick);
}
TEST(RootDriveMap, NtfsStickShowsItsSerialLabelAndRemovableType) {
    CheckStick(kNtfsStick);
}

TEST(RootDriveMap, SticksKeepTheirLettersWhateverTheOrderTheyComeIn) {
    const std::vector<Stick> sticks = {kFatStick, kExfatStick, kNtfsStick};
    for (const Stick& stick : sticks) {
        const std::string missing = MissingForSticks(stick.kind);
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
    }
    const TempDir temp;
    std::vector<std::string> images;
    for (const Stick& stick : sticks) {
        images.push_back((temp / stick.dirName).string() + ".img");
        ASSERT_TRUE(MakeImage(stick, images.back()));
    }

    // Mounts the sticks in the given order; answers each stick's letter, in the order of `sticks`.
    const auto lettersAfterMounting = [&](const std::vector<std::size_t>& order) {
        std::vector<std::unique_ptr<MountedStick>> mounted(sticks.size());
        for (const std::size_t i : order) {
            mounted[i] = std::make_unique<MountedStick>(sticks[i], images[i]);
            EXPECT_EQ(mounted[i]->error(), "");
        }
        std::vector<char> letters;
        const auto drives = CurrentDriveMap().Drives();
        for (std::size_t i = 0; i < sticks.size(); ++i) {
            const auto drive = DriveAt(drives, mounted[i]->dir());
            letters.push_back(drive ? drive->letter : '?');
            EXPECT_EQ(FindDriveBySerial(sticks[i].serial), letters.back()) << sticks[i].label;
        }
        return letters;
    };
    const auto first = lettersAfterMounting({0, 1, 2});
    for (const Stick& stick : sticks) {
        EXPECT_EQ(FindDriveBySerial(stick.serial), '0') << stick.label << " is gone";
    }
    const auto second = lettersAfterMounting({1, 2, 0});
    for (std::size_t i = 0; i < sticks.size(); ++i) {
        EXPECT_NE(first[i], '?');
        EXPECT_EQ(first[i], second[i]) << sticks[i].label << " did not keep its letter";
    }
}

// --- Mounts in a private mount namespace -------------------------------------------------------

// Runs `check` in a child process with a mount namespace of its own, so that its mounts are seen
// by nobody else. `check` answers what went wrong, empty for nothing.
std::string InPrivateMountNamespace(const std::function<std::string()>& check) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return "no pipe";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        std::string failure;
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            failure = "cannot make a private mount namespace";
        } else {
            failure = check();
        }
        const ssize_t written = write(pipeFds[1], failure.data(), failure.size());
        // exit() rather than _exit(): sanitizers report what they found at exit.
        std::exit(written == static_cast<ssize_t>(failure.size()) ? 0 : 1);
    }
    close(pipeFds[1]);
    std::string failure;
    char buffer[1024];
    ssize_t count = 0;
    while ((count = read(pipeFds[0], buffer, sizeof(buffer))) > 0) {
        failure.append(buffer, static_cast<std::size_t>(count));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failure += " (child ended with status " + std::to_string(status) + ")";
    }
    return failure;
}

bool MountTmpfs(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    return mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m") == 0;
}

// A letter memory of its own for a map made in a child: letters from D: in the order of the table
// for what is mounted when the map is made.
class FreshLetterMemory {
public:
    FreshLetterMemory() { setenv("XDG_STATE_HOME", dir_.str().c_str(), 1); }

private:
    TempDir dir_;
};

TEST(RootDriveMap, MountChangesAreSeenAtOnce) {
    if (!RunningAsRoot()) {
        GTEST_SKIP() << "needs root to mount";
    }
    const std::string failure = InPrivateMountNamespace([]() -> std::string {
        const FreshLetterMemory memory;
        // A map made in this namespace: one inherited from the parent reads the parent's table.
        const auto map = CreateLinuxDriveMap();
        const std::size_t before = map->Drives().size();
        if (!MountTmpfs("/media")) {
            return "cannot mount a tmpfs on /media";
        }
        auto drives = map->Drives();
        const auto media = DriveAt(drives, "/media");
        if (drives.size() != before + 1 || !media || media->type != kDriveRamdisk ||
            media->letter != drives.back().letter) {
            return "a tmpfs on /media is not the last drive";
        }
        std::error_code ec;
        if (!MountTmpfs("/media/with space") || !fs::create_directories("/media/bind", ec)) {
            return "cannot mount a tmpfs under /media";
        }
        if (mount("/media/with space", "/media/bind", nullptr, MS_BIND, nullptr) != 0) {
            return "cannot bind-mount";
        }
        drives = map->Drives();
        const auto spaced = DriveAt(drives, "/media/with space");
        if (!spaced || spaced->letter != media->letter + 1 || drives.size() != before + 2) {
            return "the tmpfs at \"/media/with space\" has no letter after /media";
        }
        if (DriveAt(drives, "/media/bind")) {
            return "a bind mount got a letter of its own";
        }
        const auto spacedVolume = map->VolumeOf(spaced->letter);
        const auto mediaVolume = map->VolumeOf(media->letter);
        if (!spacedVolume || !mediaVolume || spacedVolume->serial == 0 ||
            spacedVolume->serial == mediaVolume->serial) {
            return "the two RAM disks have no serials of their own";
        }

        // Lazily detached: gone at once. The bind now stands for that volume, and is a volume of
        // its own for the letters (a RAM disk is known by its mount point): the letter stays kept
        // for the one at "/media/with space".
        if (umount2("/media/with space", MNT_DETACH) != 0) {
            return "cannot detach";
        }
        drives = map->Drives();
        const auto bind = DriveAt(drives, "/media/bind");
        if (DriveAt(drives, "/media/with space") || !bind || bind->letter == spaced->letter) {
            return "after the detach the bind has no letter of its own";
        }
        if (umount2("/media", MNT_DETACH) != 0) {
            return "cannot detach /media";
        }
        if (map->Drives().size() != before) {
            return "the drives under /media stay after it was detached";
        }
        return {};
    });
    EXPECT_EQ(failure, "");
}

TEST(RootDriveMap, FuseVolumeWithoutItsDaemonHasNoMedium) {
    if (!RunningAsRoot()) {
        GTEST_SKIP() << "needs root to mount";
    }
    if (FindProgram("fusefat").empty() || FindProgram("mkfs.vfat").empty()) {
        GTEST_SKIP() << "fusefat or mkfs.vfat is not installed";
    }
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        GTEST_SKIP() << "no /dev/fuse";
    }
    const TempDir temp;
    const std::string image = (temp / "fat.img").string();
    ASSERT_TRUE(MakeImage(kFatStick, image));
    const std::string failure = InPrivateMountNamespace([&image]() -> std::string {
        const auto map = CreateLinuxDriveMap();
        if (!MountTmpfs("/media")) {
            return "cannot mount a tmpfs on /media";
        }
        fs::create_directories("/media/fat");
        const pid_t daemon = fork();
        if (daemon == 0) {
            const int devNull = open("/dev/null", O_RDWR);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
            const std::string program = FindProgram("fusefat");
            execl(program.c_str(), "fusefat", "-f", "-o", "rw+", image.c_str(), "/media/fat",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        if (!WaitForMount("/media/fat", true)) {
            kill(daemon, SIGKILL);
            return "fusefat did not mount";
        }
        auto fat = DriveAt(map->Drives(), "/media/fat");
        if (!fat || !fat->hasMedium || !map->VolumeOf(fat->letter)) {
            return "the FUSE volume is not readable while its daemon runs";
        }
        kill(daemon, SIGKILL);
        waitpid(daemon, nullptr, 0);
        const bool unreadable = !map->VolumeOf(fat->letter);
        fat = DriveAt(map->Drives(), "/media/fat");
        umount2("/media/fat", MNT_DETACH);
        if (!unreadable || !fat || fat->hasMedium) {
            return "a FUSE volume without its daemon still has a medium";
        }
        return {};
    });
    EXPECT_EQ(failure, "");
}

TEST(RootDriveMapThreading, QueriesDuringMountChanges) {
    if (!RunningAsRoot()) {
        GTEST_SKIP() << "needs root to mount";
    }
    const std::string failure = InPrivateMountNamespace([]() -> std::string {
        const auto map = CreateLinuxDriveMap();
        if (!MountTmpfs("/media")) {
            return "cannot mount a tmpfs on /media";
        }
        std::atomic<bool> done{false};
        std::atomic<int> bad{0};
        std::vector<std::thread> readers;
        for (int t = 0; t < 3; ++t) {
            readers.emplace_back([&] {
                while (!done.load()) {
                    const auto drives = map->Drives();
                    if (drives.empty() || drives.front().root != "/") {
                        ++bad;
                    }
                    for (const Drive& drive : drives) {
                        if (const auto volume = map->VolumeOf(drive.letter);
                            volume && volume->serial == 0) {
                            ++bad;
                        }
                    }
                }
            });
        }
        std::string failure;
        for (int i = 0; i < 50 && failure.empty(); ++i) {
            const std::string dir = "/media/d" + std::to_string(i % 5);
            if (!MountTmpfs(dir)) {
                failure = "cannot mount " + dir;
            } else if (!DriveAt(map->Drives(), dir)) {
                failure = dir + " has no letter";
            } else if (umount2(dir.c_str(), MNT_DETACH) != 0) {
                failure = "cannot detach " + dir;
            }
        }
        done = true;
        for (std::thread& reader : readers) {
            reader.join();
        }
        if (failure.empty() && bad.load() != 0) {
            failure = "readers saw a list without C: at / or a zero serial";
        }
        return failure;
    });
    EXPECT_EQ(failure, "");
}

// --- Letters and serials of volumes on loop devices, in a private mount namespace ---------------

// An image on a loop device, mounted at `dir` by the kernel driver (FAT by its FUSE driver where
// the kernel has none), in the calling namespace.
// Detached again at the end (the kernel lets it go once its last mount is gone).
class LoopVolume {
public:
    LoopVolume(const std::vector<std::string>& mkfs, const std::string& type,
               const std::string& image, std::string dir)
        : dir_(std::move(dir)) {
        std::vector<std::string> make = mkfs;
        make.push_back(image);
        std::error_code ec;
        fs::create_directories(dir_, ec);
        std::string loop;
        if (Run({"truncate", "-s", "64M", image}) != 0 || Run(make) != 0 ||
            Run({"losetup", "-f", "--show", image}, &loop) != 0 || loop.empty()) {
            return;
        }
        loop_ = loop.substr(0, loop.find('\n'));
        mounted_ = Run({"mount", "-t", type, loop_, dir_}) == 0;
        if (!mounted_ && type == "vfat" && !FindProgram("fusefat").empty()) {
            mounted_ = Run({"fusefat", "-o", "rw+,blkdev,fsname=" + loop_, loop_, dir_}) == 0 &&
                       WaitForMount(dir_, true);
        }
    }
    LoopVolume(const LoopVolume&) = delete;
    LoopVolume& operator=(const LoopVolume&) = delete;
    ~LoopVolume() {
        Unmount();
        if (!loop_.empty()) {
            Run({"losetup", "-d", loop_});
        }
        std::error_code ec;
        fs::remove(dir_, ec);
    }

    bool ok() const { return mounted_; }
    const std::string& loop() const { return loop_; }
    void Unmount() {
        if (mounted_) {
            umount2(dir_.c_str(), MNT_DETACH);
            mounted_ = false;
        }
    }

private:
    std::string dir_;
    std::string loop_;
    bool mounted_ = false;
};

std::string MissingForLoopVolumes() {
    if (!RunningAsRoot()) {
        return "needs root to attach loop devices and mount";
    }
    for (const char* tool : {"losetup", "mount", "truncate", "mkfs.ext4", "mkfs.vfat"}) {
        if (FindProgram(tool).empty()) {
            return std::string(tool) + " is not installed";
        }
    }
    return access("/dev/loop-control", F_OK) == 0 ? "" : "no loop device support";
}

char LetterAt(DriveMap& map, const std::string& dir) {
    const auto drive = DriveAt(map.Drives(), dir);
    return drive ? drive->letter : '?';
}

TEST(RootDriveMap, LettersStayWithTheirVolumesWhenOthersComeAndGo) {
    if (const std::string missing = MissingForLoopVolumes(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const TempDir images;
    const std::string failure = InPrivateMountNamespace([&images]() -> std::string {
        const FreshLetterMemory memory;
        const std::string base = "/mnt/tarnwick-" + std::to_string(getpid());
        const auto ext4 = [](const char* uuid) {
            return std::vector<std::string>{"mkfs.ext4", "-q", "-F", "-U", uuid};
        };
        auto first = std::make_unique<LoopVolume>(ext4("11111111-2222-3333-4444-555555555555"),
                                                  "ext4", (images / "a.img").string(), base + "-a");
        const bool ram = MountTmpfs(base + "-ram");
        const LoopVolume last(ext4("66666666-7777-8888-9999-aaaaaaaaaaaa"), "ext4",
                              (images / "b.img").string(), base + "-b");
        if (!first->ok() || !ram || !last.ok()) {
            return "cannot mount the volumes";
        }
        const auto map = CreateLinuxDriveMap();
        const char a = LetterAt(*map, base + "-a");
        const char r = LetterAt(*map, base + "-ram");
        const char b = LetterAt(*map, base + "-b");
        if (a == '?' || r != a + 1 || b != r + 1) {
            return "the volumes did not get letters in the order of the table";
        }
        const auto ramSerial = map->VolumeOf(r);

        // The first volume leaves: the RAM disk and the last one keep their letters, and the
        // RAM disk its serial; what the RAM disk's letter names is still the RAM disk.
        first->Unmount();
        if (LetterAt(*map, base + "-ram") != r || LetterAt(*map, base + "-b") != b ||
            map->VolumeOf(a)) {
            return "letters moved after an earlier volume left";
        }
        const auto ramSerialAfter = map->VolumeOf(r);
        if (!ramSerial || !ramSerialAfter || ramSerial->serial != ramSerialAfter->serial) {
            return "the RAM disk changed its serial";
        }
        const auto another = CreateLinuxDriveMap();  // as another process would see them
        if (LetterAt(*another, base + "-ram") != r || LetterAt(*another, base + "-b") != b) {
            return "another map sees other letters";
        }
        umount2((base + "-ram").c_str(), MNT_DETACH);
        std::error_code ec;
        fs::remove(base + "-ram", ec);

        // Two sticks swapped at one mount point: the second is another volume, with a letter of
        // its own; the first one's letter names nothing while it is away.
        const std::string stick = "/media/tarnwick-" + std::to_string(getpid()) + "-stick";
        char stickLetter = '?';
        {
            const LoopVolume one(ext4("12121212-3434-5656-7878-909090909090"), "ext4",
                                 (images / "one.img").string(), stick);
            stickLetter = LetterAt(*map, stick);
        }
        const LoopVolume two(ext4("abababab-cdcd-efef-0101-232323232323"), "ext4",
                             (images / "two.img").string(), stick);
        const char other = LetterAt(*map, stick);
        if (stickLetter == '?' || other == '?' || other == stickLetter ||
            map->VolumeOf(stickLetter)) {
            return "a swapped stick took the letter of the one before";
        }
        return {};
    });
    EXPECT_EQ(failure, "");
}

TEST(RootDriveMap, FatVolumeWithSerialZeroReportsZeroWithAndWithoutUdevLinks) {
    if (const std::string missing = MissingForLoopVolumes(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const TempDir images;
    const std::string failure = InPrivateMountNamespace([&images]() -> std::string {
        const FreshLetterMemory memory;
        const std::string dir = "/media/tarnwick-" + std::to_string(getpid()) + "-zero";
        const LoopVolume fat({"mkfs.vfat", "-F", "32", "-i", "00000000", "-n", "ZERO"}, "vfat",
                             (images / "zero.img").string(), dir);
        if (!fat.ok()) {
            return "cannot mount the FAT image";
        }
        const auto serialOf = [&dir]() -> std::optional<Volume> {
            const auto map = CreateLinuxDriveMap();
            const char letter = LetterAt(*map, dir);
            return letter == '?' ? std::nullopt : map->VolumeOf(letter);
        };
        const auto without = serialOf();
        if (!without || without->serial != 0 || without->label != "ZERO") {
            return "without udev links the volume does not answer serial 0";
        }
        // udev's links for it: a label link only (the volume has no UUID). The /dev seen here is
        // a tmpfs of this namespace.
        struct stat node {};
        if (stat(fat.loop().c_str(), &node) != 0 ||
            mount("tmpfs", "/dev", "tmpfs", 0, "size=1m") != 0) {
            return "cannot cover /dev";
        }
        std::error_code ec;
        fs::create_directories("/dev/disk/by-label", ec);
        const std::string name = fat.loop().substr(5);
        const bool made = mknod(fat.loop().c_str(), S_IFBLK | 0600, node.st_rdev) == 0 &&
                          symlink(("../../" + name).c_str(), "/dev/disk/by-label/ZERO") == 0;
        const auto with = serialOf();
        umount2("/dev", MNT_DETACH);
        if (!made) {
            return "cannot make the udev links";
        }
        if (!with || with->serial != 0 || with->label != "ZERO") {
            return "with udev links the volume does not answer serial 0";
        }
        return {};
    });
    EXPECT_EQ(failure, "");
}

}  // namespace
}  // namespace tarnwick::platform
