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

namespace tarnwick::platform {

namespace {

bool MayKeepLocalTimes(const MountEntry& mount) {
    return FatClockOfMount(mount, ClockOffsets{}).has_value();
}

class FatMounts {
public:
    std::optional<MountEntry> Of(DeviceNumber device) {
        std::lock_guard lock(mutex_);
        if (table_.Changed()) {
            std::string text;
            fat_.clear();
            if (table_.Read(text)) {
                for (MountEntry& mount : ParseMountInfo(text)) {
                    if (MayKeepLocalTimes(mount)) {
                        fat_.push_back(std::move(mount));
                    }
                }
            }
        }
        const auto found = std::find_if(
            fat_.begin(), fat_.end(), [device](const MountEntry& m) { return m.device == device; });
        return found == fat_.end() ? std::nullopt : std::optional(*found);
    }

private:
    std::mutex mutex_;  // guards the two below
    MountTableFile table_;
    std::vector<MountEntry> fat_;  // the mounts of the table that may keep local times
};

}  // namespace

ClockOffsets CurrentClockOffsets() {
    ClockOffsets offsets;
    timeval now{};
    struct timezone kernelZone {};
    if (::gettimeofday(&now, &kernelZone) == 0) {
        offsets.kernelMinutesWest = kernelZone.tz_minuteswest;
    }
    const time_t seconds = now.tv_sec != 0 ? now.tv_sec : std::time(nullptr);
    std::tm local{};
    std::tm utc{};
    if (::localtime_r(&seconds, &local) != nullptr) {
        offsets.localOffsetSeconds = static_cast<std::int32_t>(local.tm_gmtoff);
    }
    offsets.standardOffsetSeconds = offsets.localOffsetSeconds;
    // What the C library makes of today's UTC fields taken as standard time, as a driver that
    // converts with mktime and tm_isdst = 0 does.
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
    const auto mount = mounts->Of(DeviceNumber{major(device), minor(device)});
    if (!mount) {
        return std::nullopt;
    }
    return FatClockOfMount(*mount, CurrentClockOffsets());
}

}  // namespace tarnwick::platform
