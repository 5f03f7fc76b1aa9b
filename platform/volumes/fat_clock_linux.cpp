// The clocks of the mounted volumes: the mount table, kept while the kernel reports it unchanged,
// and the time zones as they are at each question.
#include <fcntl.h>
#include <poll.h>
#include <sys/sysmacros.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/volumes/fat_clock.h"
#include "platform/volumes/mount_table_linux.h"
#include "platform/volumes/volume_id.h"

namespace tarnwick::platform {

namespace {

// A mount with a clock, and the kind of file system its device holds where the mount does not say.
struct ClockedMount {
    MountEntry mount;
    std::string volumeType;
};

std::optional<ClockedMount> WithClock(MountEntry mount) {
    std::string volumeType;
    // exfat-fuse, ntfs-3g and fusefat -o blkdev all mount as "fuseblk", on a device the kernel
    // opened.
    if (mount.fsType == "fuseblk" && mount.device.major != 0) {
        volumeType = FileSystemTypeOf(mount.device, mount.source).value_or("");
    }
    if (!FatClockOfMount(mount, ClockOffsets{}, volumeType)) {
        return std::nullopt;
    }
    return ClockedMount{std::move(mount), std::move(volumeType)};
}

class FatMounts {
public:
    std::optional<ClockedMount> Of(DeviceNumber device) {
        std::lock_guard lock(mutex_);
        if (table_.Changed()) {
            std::string text;
            fat_.clear();
            if (table_.Read(text)) {
                for (MountEntry& mount : ParseMountInfo(text)) {
                    if (auto clocked = WithClock(std::move(mount))) {
                        fat_.push_back(std::move(*clocked));
                    }
                }
            }
        }
        const auto found = std::find_if(fat_.begin(), fat_.end(), [device](const ClockedMount& m) {
            return m.mount.device == device;
        });
        return found == fat_.end() ? std::nullopt : std::optional(*found);
    }

private:
    std::mutex mutex_;  // guards the two below
    MountTableFile table_;
    std::vector<ClockedMount> fat_;  // the mounts of the table that have a clock
};

}  // namespace

ClockOffsets CurrentClockOffsets() {
    ClockOffsets offsets;
    timeval now{};
    struct timezone kernelZone {};
    if (::gettimeofday(&now, &kernelZone) == 0) {
        offsets.kernelMinutesWest = kernelZone.tz_minuteswest;
    }
    offsets.localOffsetAt = [](std::int64_t unixSeconds) -> std::int32_t {
        const auto moment = static_cast<time_t>(unixSeconds);
        std::tm local{};
        return ::localtime_r(&moment, &local) != nullptr
                   ? static_cast<std::int32_t>(local.tm_gmtoff)
                   : 0;
    };
    const time_t seconds = now.tv_sec != 0 ? now.tv_sec : std::time(nullptr);
    offsets.standardOffsetSeconds = offsets.localOffsetAt(seconds);
    // What the C library makes of today's UTC fields taken as standard time, as a driver that
    // converts with mktime and tm_isdst = 0 does.
    std::tm utc{};
    if (::gmtime_r(&seconds, &utc) != nullptr) {
        utc.tm_isdst = 0;
        const time_t standard = std::mktime(&utc);
        if (standard != static_cast<time_t>(-1)) {
            offsets.standardOffsetSeconds = static_cast<std::int32_t>(seconds - standard);
        }
    }
    return offsets;
}

std::optional<FatClock> FatClockOfDevice(std::uint64_t device) {
    static FatMounts* const mounts = new FatMounts;  // never destroyed: asked from any thread
    const auto clocked = mounts->Of(DeviceNumber{major(device), minor(device)});
    if (!clocked) {
        return std::nullopt;
    }
    return FatClockOfMount(clocked->mount, CurrentClockOffsets(), clocked->volumeType);
}

}  // namespace tarnwick::platform
