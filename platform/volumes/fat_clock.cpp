#include "platform/volumes/fat_clock.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string_view>

namespace tarnwick::platform {

namespace {

using namespace std::string_view_literals;

constexpr std::int64_t kTicksPerSecond = FatClock::kTicksPerSecond;
constexpr std::int32_t kMaxOffsetMinutes = 24 * 60;
constexpr std::int64_t kUnixEpochSeconds = 11'644'473'600;  // 1970-01-01 in seconds since 1601
// 2107-12-31 23:59:59 UTC and 1980-01-01 00:00:00 UTC, the range of the kernel's exFAT driver.
constexpr std::int64_t kLastExfatTime = 15'999'292'799;

// A file time split into whole seconds since 1601 and the ticks below a second.
struct Seconds {
    std::int64_t whole = 0;
    FileTime ticks = 0;
};

Seconds Split(FileTime time) {
    return {static_cast<std::int64_t>(time / kTicksPerSecond), time % kTicksPerSecond};
}

FileTime Joined(Seconds time) {
    constexpr auto kMaxWhole =
        static_cast<std::int64_t>(std::numeric_limits<FileTime>::max() / kTicksPerSecond);
    if (time.whole < 0) {
        return 0;
    }
    if (time.whole >= kMaxWhole) {
        return std::numeric_limits<FileTime>::max();
    }
    return static_cast<FileTime>(time.whole) * kTicksPerSecond + time.ticks;
}

std::int64_t OffsetAt(const ZoneOffsetAt& zone, std::int64_t seconds) {
    return zone ? zone(seconds - kUnixEpochSeconds) : 0;
}

// The moment whose local time in `zone` is `local`. In the hour that a change of offset repeats,
// the moment with the offset before the change; in the hour it skips, the local time is taken
// with the offset before the change too. A zone changes its offset at most once a day.
std::int64_t MomentOfLocal(const ZoneOffsetAt& zone, std::int64_t local) {
    constexpr std::int64_t kDay = 86400;
    const std::int64_t before = local - OffsetAt(zone, local - kDay);
    const std::int64_t after = local - OffsetAt(zone, local + kDay);
    for (const std::int64_t moment : {before, after}) {
        if (moment + OffsetAt(zone, moment) == local) {
            return moment;
        }
    }
    return before;
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
    Seconds time = Split(driverTime);
    if (KeepsLocalTimes()) {
        time.whole = MomentOfLocal(localOffsetAt, time.whole + readOffsetSeconds);
    }
    return Joined(time);
}

FileTime FatClock::Writing(FileTime original) const {
    Seconds time = Split(original);
    if (KeepsLocalTimes()) {
        time.whole += OffsetAt(localOffsetAt, time.whole) - writeOffsetSeconds;
    }
    return Joined(time);
}

FileTime FatClock::Held(FileTime original) const {
    Seconds time = Split(original);
    if (KeepsLocalTimes()) {
        time.whole += OffsetAt(localOffsetAt, time.whole);
    }
    if (time.whole < firstSeconds || time.whole > lastSeconds) {
        time = {std::clamp(time.whole, firstSeconds, lastSeconds), 0};
    }
    FileTime held = Joined(time);
    held -= held % stepTicks;
    time = Split(held);
    if (KeepsLocalTimes()) {
        time.whole = MomentOfLocal(localOffsetAt, time.whole);
    }
    return Joined(time);
}

std::optional<FatClock> FatClockOfMount(const MountEntry& mount, const ClockOffsets& offsets,
                                        std::string_view volumeType) {
    const ZoneOffsetAt local =
        offsets.localOffsetAt ? offsets.localOffsetAt : [](std::int64_t) { return 0; };
    const std::string_view type = mount.fsType;
    if (type == "vfat"sv || type == "msdos"sv) {
        // linux time = FAT local time - driver offset, both ways.
        const std::int64_t driver =
            KernelDriverOffset(mount.superOptions, offsets.kernelMinutesWest);
        return FatClock{driver, driver, local};
    }
    // fusefat on a device it had the kernel open ("-o blkdev") names no type of its own.
    if (type == "fuse.fusefat"sv || type == "fuseblk.fusefat"sv ||
        (type == "fuseblk"sv && volumeType == "vfat"sv)) {
        // Reads: linux time = FAT local time - standard offset; writes: FAT time = UTC fields.
        return FatClock{offsets.standardOffsetSeconds, 0, local};
    }
    const FatClock exfat{0, 0, {}, FatClock::kFirstFatTime, kLastExfatTime, 0};
    if (type == "exfat"sv) {
        FatClock kernel = exfat;
        kernel.stepTicks = kTicksPerSecond / 100;
        return kernel;
    }
    const bool fuseExfat = type == "fuse.exfat"sv || type == "fuseblk.exfat"sv ||
                           (type == "fuseblk"sv && volumeType == "exfat"sv);
    if (fuseExfat) {
        FatClock fuse = exfat;
        fuse.stepTicks = kTicksPerSecond;
        return fuse;
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
