#include "platform/volumes/fat_clock.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string_view>

namespace tarnwick::platform {

namespace {

using namespace std::string_view_literals;

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int32_t kMaxOffsetMinutes = 24 * 60;

FileTime Shifted(FileTime time, std::int64_t seconds) {
    constexpr FileTime kMax = std::numeric_limits<FileTime>::max();
    if (seconds >= 0) {
        const auto ticks = static_cast<FileTime>(seconds) * kTicksPerSecond;
        return time > kMax - ticks ? kMax : time + ticks;
    }
    const auto ticks = static_cast<FileTime>(-seconds) * kTicksPerSecond;
    return time < ticks ? 0 : time - ticks;
}

// The offset east of UTC, in seconds, that the kernel's FAT driver converts with. The kernel
// shows "tz=UTC" for time_offset=0 and "time_offset=M" otherwise; the last one counts, as when
// the kernel parsed them.
std::int64_t KernelDriverOffset(std::string_view options, std::int32_t kernelMinutesWest) {
    std::int64_t offset = -std::int64_t{kernelMinutesWest} * 60;
    while (!options.empty()) {
        const std::size_t comma = std::min(options.find(','), options.size());
        const std::string_view option = options.substr(0, comma);
        options.remove_prefix(std::min(comma + 1, options.size()));
        if (option == "tz=UTC"sv) {
            offset = 0;
        } else if (option.starts_with("time_offset="sv)) {
            const std::string_view value = option.substr(12);
            std::int32_t minutes = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), minutes);
            // A value the kernel would have refused leaves the kernel's own zone.
            if (error == std::errc{} && end == value.data() + value.size() &&
                minutes >= -kMaxOffsetMinutes && minutes <= kMaxOffsetMinutes) {
                offset = std::int64_t{minutes} * 60;
            }
        }
    }
    return offset;
}

}  // namespace

FileTime FatClock::Reading(FileTime driverTime) const {
    return Shifted(driverTime, readShiftSeconds);
}

FileTime FatClock::Writing(FileTime original) const {
    return Shifted(original, writeShiftSeconds);
}

FileTime FatClock::Held(FileTime original) const {
    // Seconds since 1601-01-01, as FileTime counts.
    constexpr std::int64_t kFirst = 11'960'006'400;  // 1980-01-01 00:00:00
    constexpr std::int64_t kLast = 15'999'292'798;   // 2107-12-31 23:59:58
    std::int64_t local = static_cast<std::int64_t>(original / kTicksPerSecond) + localShiftSeconds;
    local = std::clamp(local, kFirst, kLast);
    local -= local % 2;
    const std::int64_t seconds = local - localShiftSeconds;
    return seconds <= 0 ? 0 : static_cast<FileTime>(seconds) * kTicksPerSecond;
}

std::optional<FatClock> FatClockOfMount(const MountEntry& mount, const ClockOffsets& offsets) {
    const std::int64_t local = offsets.localOffsetSeconds;
    if (mount.fsType == "vfat"sv || mount.fsType == "msdos"sv) {
        // linux time = FAT local time - driver offset, both ways.
        const std::int64_t driver =
            KernelDriverOffset(mount.superOptions, offsets.kernelMinutesWest);
        return FatClock{driver - local, local - driver, local};
    }
    if (mount.fsType == "fuse.fusefat"sv || mount.fsType == "fuseblk.fusefat"sv) {
        // Reads: linux time = FAT local time - standard offset; writes: FAT time = UTC fields.
        return FatClock{offsets.standardOffsetSeconds - local, local, local};
    }
    return std::nullopt;
}

const std::optional<FatClock>& FatClockCache::ClockOf(std::uint64_t device) {
    if (!known_ || device != device_) {
        clock_ = FatClockOfDevice(device);
        device_ = device;
        known_ = true;
    }
    return clock_;
}

FileTime FatClockCache::Reading(std::uint64_t device, FileTime driverTime) {
    const auto& clock = ClockOf(device);
    return clock ? clock->Reading(driverTime) : driverTime;
}

FileTime FatClockCache::Held(std::uint64_t device, FileTime original) {
    const auto& clock = ClockOf(device);
    return clock ? clock->Held(original) : original;
}

FileTime FatClockCache::Writing(std::uint64_t device, FileTime original) {
    const auto& clock = ClockOf(device);
    return clock ? clock->Writing(original) : original;
}

}  // namespace tarnwick::platform
