// The real drive map: drive letters for the mounts of /proc/self/mountinfo.
//
// The parsed table is kept while the kernel reports it unchanged (poll() on the open table answers
// POLLPRI | POLLERR once the mounts of the namespace changed), so a query with an unchanged table
// costs one poll() and a copy of the drive list. The list never waits for a network server or a
// FUSE daemon: those mounts are asked about their medium only by VolumeOf, and only for a bounded
// time. Serials and labels are kept per mount until the table changes.
//
// Letters stay with their volumes through the letter memory: each change of the table assigns
// them again from the memory file, which is shared by every Tarnwick process of the user. Where
// the file cannot be read or written, the map's own copy keeps the letters for this process.
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/volumes/letter_memory.h"
#include "platform/volumes/linux_drive_map.h"
#include "platform/volumes/mount_table_linux.h"
#include "platform/volumes/mountinfo.h"
#include "platform/volumes/volume_id.h"

namespace tarnwick::platform {

namespace {

// How long VolumeOf waits for a network server or a FUSE daemon before it takes the volume for
// unreadable. A call that hangs longer is left behind, and no second one is started on that mount
// until it returns.
constexpr std::chrono::seconds kRemoteAnswerTime{3};

bool ReadFlag(const std::string& path, bool& value) {
    std::ifstream in(path);
    char c = 0;
    if (!(in >> c)) {
        return false;
    }
    value = c == '1';
    return true;
}

bool IsRemovableDevice(DeviceNumber device) {
    const std::string base =
        "/sys/dev/block/" + std::to_string(device.major) + ":" + std::to_string(device.minor);
    bool removable = false;
    if (ReadFlag(base + "/removable", removable)) {
        return removable;
    }
    // A partition has no flag of its own; the disk it belongs to has.
    return access((base + "/partition").c_str(), F_OK) == 0 &&
           ReadFlag(base + "/../removable", removable) && removable;
}

std::optional<DeviceNumber> BlockDeviceOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
        return std::nullopt;
    }
    return DeviceNumber{major(st.st_rdev), minor(st.st_rdev)};
}

// One statfs call on a thread of its own, shared by every query that waits for it.
struct PendingStatfs {
    std::chrono::steady_clock::time_point deadline;
    std::mutex mutex;
    std::condition_variable finishedChanged;
    bool finished = false;  // guarded by mutex, as are the two below
    int error = 0;
    struct statfs result {};
};

// A lettered mount of the current table.
struct MountedDrive {
    MountedDrive(DriveMount m, std::optional<VolumeIds> i)
        : mount(std::move(m)), ids(std::move(i)) {}

    const DriveMount mount;
    const std::optional<VolumeIds> ids;  // read when the table changed
    // A FUSE daemon that went away leaves its mount behind for good (ENOTCONN until unmounted).
    std::atomic<bool> daemonGone{false};
    std::mutex mutex;  // guards the two below
    std::optional<Volume> volume;
    std::shared_ptr<PendingStatfs> pending;
};

// statfs of a drive's root; 0 or the errno of the failure (ETIMEDOUT for no answer in time).
int StatfsRoot(MountedDrive& drive, struct statfs& root) {
    const std::string& path = drive.mount.mount.mountPoint;
    if (!drive.mount.servedRemotely) {
        return statfs(path.c_str(), &root) == 0 ? 0 : errno;
    }
    std::shared_ptr<PendingStatfs> pending;
    {
        std::lock_guard lock(drive.mutex);
        pending = drive.pending;
        const bool reusable = pending && [&pending] {
            std::lock_guard pendingLock(pending->mutex);
            return !pending->finished;
        }();
        if (!reusable) {
            pending = std::make_shared<PendingStatfs>();
            pending->deadline = std::chrono::steady_clock::now() + kRemoteAnswerTime;
            try {
                std::thread([pending, path] {
                    struct statfs st {};
                    const int error = statfs(path.c_str(), &st) == 0 ? 0 : errno;
                    std::lock_guard pendingLock(pending->mutex);
                    pending->result = st;
                    pending->error = error;
                    pending->finished = true;
                    pending->finishedChanged.notify_all();
                }).detach();
            } catch (const std::system_error&) {
                return EAGAIN;
            }
            drive.pending = pending;
        }
    }
    std::unique_lock lock(pending->mutex);
    if (!pending->finishedChanged.wait_until(lock, pending->deadline,
                                             [&pending] { return pending->finished; })) {
        return ETIMEDOUT;
    }
    root = pending->result;
    return pending->error;
}

class LinuxDriveMap final : public DriveMap {
public:
    std::vector<Drive> Drives() override {
        std::lock_guard lock(mutex_);
        Refresh();
        std::vector<Drive> drives = drives_;
        for (std::size_t i = 0; i < drives.size(); ++i) {
            if (mounted_[i]->daemonGone.load(std::memory_order_relaxed)) {
                drives[i].hasMedium = false;
            }
        }
        return drives;
    }

    std::optional<Volume> VolumeOf(char letter) override {
        const auto drive = Find(letter);
        if (!drive) {
            return std::nullopt;
        }
        struct statfs root {};
        const int error = StatfsRoot(*drive, root);
        if (error != 0) {
            if (error == ENOTCONN && drive->mount.mount.fsType.starts_with("fuse")) {
                drive->daemonGone.store(true, std::memory_order_relaxed);
            }
            return std::nullopt;
        }
        std::lock_guard lock(drive->mutex);
        if (!drive->volume) {
            drive->volume = IdentifyVolume(drive->mount, root, drive->ids);
        }
        return drive->volume;
    }

private:
    std::shared_ptr<MountedDrive> Find(char letter) {
        if (letter >= 'a' && letter <= 'z') {
            letter = static_cast<char>(letter - 'a' + 'A');
        }
        std::lock_guard lock(mutex_);
        Refresh();
        for (const auto& drive : mounted_) {
            if (drive->mount.letter == letter) {
                return drive;
            }
        }
        return nullptr;
    }

    // Called with mutex_ held.
    void Refresh() {
        if (!table_.Changed()) {
            return;
        }
        std::string text;
        // A table that cannot be read leaves C: alone and is tried again at the next query.
        if (!table_.Read(text)) {
            text.clear();
        }
        Rebuild(
            SelectDriveMounts(ParseMountInfo(text), DriveProbes{IsRemovableDevice, BlockDeviceOf}));
    }

    void Rebuild(std::vector<DriveMount> selected) {
        std::vector<std::optional<VolumeIds>> ids;
        std::vector<std::string> identities;
        for (std::size_t i = 0; i < selected.size(); ++i) {
            ids.push_back(ReadVolumeIds(selected[i]));
            if (i > 0) {  // C: is always the root file system
                identities.push_back(
                    VolumeIdentity(selected[i].mount, ids.back() ? ids.back()->uuid : ""));
            }
        }
        std::vector<char> letters;
        const auto assign = [&](LetterMemory& memory) {
            letters =
                AssignLetters(identities, memory, static_cast<std::uint64_t>(std::time(nullptr)));
        };
        if (const auto path = LetterMemoryPath()) {
            UpdateLetterMemory(*path, memory_, assign);
        } else {
            assign(memory_);
        }

        drives_.clear();
        mounted_.clear();
        std::vector<std::size_t> order{0};
        for (std::size_t i = 1; i < selected.size(); ++i) {
            selected[i].letter = letters[i - 1];
            if (selected[i].letter != 0) {
                order.push_back(i);
            }
        }
        std::sort(order.begin(), order.end(), [&selected](std::size_t a, std::size_t b) {
            return selected[a].letter < selected[b].letter;
        });
        for (const std::size_t i : order) {
            DriveMount& mount = selected[i];
            // Local file systems answer statfs from the kernel at once; the others are asked by
            // VolumeOf, which does not wait for them forever.
            struct statfs root {};
            const bool hasMedium =
                mount.servedRemotely || statfs(mount.mount.mountPoint.c_str(), &root) == 0;
            drives_.push_back(Drive{mount.letter, mount.mount.mountPoint, mount.type, hasMedium});
            mounted_.push_back(std::make_shared<MountedDrive>(std::move(mount), std::move(ids[i])));
        }
    }

    std::mutex mutex_;  // guards everything below
    MountTableFile table_;
    std::vector<Drive> drives_;
    std::vector<std::shared_ptr<MountedDrive>> mounted_;  // one per entry of drives_
    LetterMemory memory_;  // this process's copy of the letter memory
};

}  // namespace

std::shared_ptr<DriveMap> CreateLinuxDriveMap() {
    return std::make_shared<LinuxDriveMap>();
}

}  // namespace tarnwick::platform
