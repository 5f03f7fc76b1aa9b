// The real drive map: drive letters for the mounts of /proc/self/mountinfo.
//
// The parsed table is kept while the kernel reports it unchanged (poll() on the open table answers
// POLLPRI | POLLERR once the mounts of the namespace changed), so a query with an unchanged table
// costs one poll() and a copy of the drive list. The map for a changed table is built without the
// map's lock, so no query waits for another one's probes. The list never waits for a network server
// or a FUSE daemon: those mounts are asked about their medium only by VolumeOf, and only for a
// bounded time. Serials and labels are kept per mount until the table changes.
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
#include <utility>

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

// How long a query waits for a map that another thread is building from a changed table (udev's
// links and the letter memory take milliseconds; libblkid on a device that stopped answering, or
// udisks2, may take much longer).
constexpr std::chrono::seconds kJoinTime{1};

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
    explicit LinuxDriveMap(DriveMapSources sources) : sources_(std::move(sources)) {}

    std::vector<Drive> Drives() override {
        const std::shared_ptr<const Snapshot> snapshot = Current();
        std::vector<Drive> drives = snapshot->drives;
        for (std::size_t i = 0; i < drives.size(); ++i) {
            if (snapshot->mounted[i]->daemonGone.load(std::memory_order_relaxed)) {
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
    // One whole map, built from one reading of the table and never changed afterwards.
    struct Snapshot {
        std::vector<Drive> drives;
        std::vector<std::shared_ptr<MountedDrive>> mounted;  // one per entry of drives
    };

    std::shared_ptr<MountedDrive> Find(char letter) {
        if (letter >= 'a' && letter <= 'z') {
            letter = static_cast<char>(letter - 'a' + 'A');
        }
        const std::shared_ptr<const Snapshot> snapshot = Current();
        for (const auto& drive : snapshot->mounted) {
            if (drive->mount.letter == letter) {
                return drive;
            }
        }
        return nullptr;
    }

    // The map for the table as it is now. The thread that finds the table changed builds the new
    // map without the lock: the probes, udisks2 and the letter lock may take seconds. A query
    // meanwhile joins that build, as its table may hold a mount the caller just made, but for
    // kJoinTime at most: then it answers from the map before (a whole one), and no later query
    // waits for that build again. Only the very first map is waited for as long as it takes.
    // Where two builds overlap, the one of the later table wins.
    std::shared_ptr<const Snapshot> Current() {
        std::unique_lock lock(mutex_);
        while (!sources_.tableChanged()) {
            if (!current_) {
                built_.wait(lock);
                continue;
            }
            const std::uint64_t awaited = started_;
            if (installed_ < awaited && givenUp_ < awaited &&
                !built_.wait_for(lock, kJoinTime, [&] { return installed_ >= awaited; })) {
                givenUp_ = std::max(givenUp_, awaited);
            }
            return current_;
        }
        std::string text;
        // A table that cannot be read leaves C: alone and is tried again at the next query.
        if (!sources_.readTable(text)) {
            text.clear();
        }
        const std::uint64_t generation = ++started_;
        lock.unlock();
        std::shared_ptr<const Snapshot> built;
        try {
            built = Build(text);
        } catch (...) {
            lock.lock();
            if (sources_.tableFailed) {
                sources_.tableFailed();
            }
            built_.notify_all();
            throw;
        }
        lock.lock();
        if (generation > installed_) {
            current_ = std::move(built);
            installed_ = generation;
        }
        built_.notify_all();
        return current_;
    }

    std::shared_ptr<const Snapshot> Build(const std::string& text) {
        std::vector<DriveMount> selected =
            SelectDriveMounts(ParseMountInfo(text), DriveProbes{IsRemovableDevice, BlockDeviceOf});
        std::vector<std::optional<VolumeIds>> ids;
        std::vector<std::string> identities;
        for (std::size_t i = 0; i < selected.size(); ++i) {
            ids.push_back(sources_.readIds(selected[i]));
            if (i > 0) {  // C: is always the root file system
                identities.push_back(
                    VolumeIdentity(selected[i].mount, ids.back() ? ids.back()->uuid : ""));
            }
        }
        std::vector<char> letters;
        {
            std::lock_guard memoryLock(memoryMutex_);
            const auto assign = [&](LetterMemory& memory) {
                letters = AssignLetters(identities, memory,
                                        static_cast<std::uint64_t>(std::time(nullptr)));
            };
            if (const auto path = sources_.letterMemoryPath()) {
                UpdateLetterMemory(*path, memory_, assign);
            } else {
                assign(memory_);
            }
        }

        auto snapshot = std::make_shared<Snapshot>();
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
            snapshot->drives.push_back(
                Drive{mount.letter, mount.mount.mountPoint, mount.type, hasMedium});
            snapshot->mounted.push_back(
                std::make_shared<MountedDrive>(std::move(mount), std::move(ids[i])));
        }
        return snapshot;
    }

    DriveMapSources sources_;  // its table functions are called with mutex_ held
    std::mutex mutex_;         // guards the five below
    std::condition_variable built_;
    std::shared_ptr<const Snapshot> current_;
    std::uint64_t started_ = 0;    // builds begun
    std::uint64_t installed_ = 0;  // the build that current_ comes from
    std::uint64_t givenUp_ = 0;    // builds up to this one kept a query waiting for kJoinTime
    std::mutex memoryMutex_;       // guards memory_
    LetterMemory memory_;          // this process's copy of the letter memory
};

}  // namespace

DriveMapSources SystemDriveMapSources() {
    auto table = std::make_shared<MountTableFile>();
    DriveMapSources sources;
    sources.tableChanged = [table] { return table->Changed(); };
    sources.readTable = [table](std::string& text) { return table->Read(text); };
    sources.tableFailed = [table] { table->Forget(); };
    sources.readIds = [](const DriveMount& drive) { return ReadVolumeIds(drive); };
    sources.letterMemoryPath = [] { return LetterMemoryPath(); };
    return sources;
}

std::shared_ptr<DriveMap> CreateLinuxDriveMap(DriveMapSources sources) {
    return std::make_shared<LinuxDriveMap>(std::move(sources));
}

}  // namespace tarnwick::platform
