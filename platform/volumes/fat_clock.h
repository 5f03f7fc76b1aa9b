#pragma once
// FAT keeps a file's time as local time, without saying which zone it was. Linux drivers convert
// with an offset of their own choosing; a FatClock undoes the driver's conversion and converts with
// the computer's zone instead, so that a stick shows the same wall-clock time wherever it is
// plugged in. The offset is the one the zone had at the moment the time stands for (the zone's own
// rules, summer time included, as the C library's local time gives them), not today's: the change
// of offset twice a year shifts nothing, while a change of zone (a trip) still does. (A system that
// reads FAT with today's offset sees every file an hour off for half of the year.)
//
// The rule per driver:
// - the kernel's vfat and msdos: "tz=UTC" takes the FAT times as UTC, "time_offset=M" as local
//   times M minutes east of UTC; without either the kernel uses its own time zone (gettimeofday's
//   tz_minuteswest, 0 on most systems), in both directions.
// - fusefat reads the FAT time as the standard time (never daylight saving) of its own time zone,
//   and writes a time's UTC fields. Its zone is taken to be the computer's.
// - exFAT keeps UTC (the kernel's driver) or converts with its own zone both ways (exfat-fuse):
//   nothing to convert, but it holds the same range of years as FAT: the kernel's driver clamps
//   to it in steps of 10 ms, exfat-fuse clamps the start, keeps whole seconds and wraps past the
//   end, so times are given to it clamped.
// - NTFS drivers keep UTC over a range wider than any file time here: nothing to do.

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/filetime.h"
#include "platform/volumes/mountinfo.h"

namespace tarnwick::platform {

// A zone's offset east of UTC, in seconds, at a moment given in seconds since 1970-01-01 UTC.
using ZoneOffsetAt = std::function<std::int32_t(std::int64_t unixSeconds)>;

// The time zones a conversion depends on.
struct ClockOffsets {
    std::int32_t kernelMinutesWest = 0;      // the kernel's time zone, west of UTC positive
    ZoneOffsetAt localOffsetAt;              // the computer's zone; empty reads as UTC
    std::int32_t standardOffsetSeconds = 0;  // the local zone's standard time now, east positive
};

// Between the times a driver reports and takes and the file times the original platform has.
struct FatClock {
    static constexpr FileTime kTicksPerSecond = 10'000'000;
    // Seconds since 1601-01-01 of the first and the last time FAT can keep.
    static constexpr std::int64_t kFirstFatTime = 11'960'006'400;  // 1980-01-01 00:00:00
    static constexpr std::int64_t kLastFatTime = 15'999'292'798;   // 2107-12-31 23:59:58

    // Where the volume keeps local times: the local time = the driver's time + readOffset when
    // read, the driver's time = the local time - writeOffset when written.
    std::int64_t readOffsetSeconds = 0;
    std::int64_t writeOffsetSeconds = 0;
    ZoneOffsetAt localOffsetAt;  // empty for a volume that keeps UTC (exFAT)
    // The range the volume holds (local times where it keeps them) and the step of its times.
    std::int64_t firstSeconds = kFirstFatTime;
    std::int64_t lastSeconds = kLastFatTime;
    FileTime stepTicks = 2 * kTicksPerSecond;

    FileTime Reading(FileTime driverTime) const;
    FileTime Writing(FileTime original) const;
    // The file time nearest to `original` that the volume can keep: within its range (a time
    // outside it becomes the first or the last, as the drivers do), cut down to its step.
    FileTime Held(FileTime original) const;
    bool KeepsLocalTimes() const { return static_cast<bool>(localOffsetAt); }
};

// The clock of a mounted volume; nullopt where its times are taken as they are (UTC file
// systems of a wide range, drivers of unknown kind). `volumeType` is the file system a "fuseblk"
// mount's device holds ("exfat"), as probed; such a mount names no type of its own.
std::optional<FatClock> FatClockOfMount(const MountEntry& mount, const ClockOffsets& offsets,
                                        std::string_view volumeType = {});

// The time zones of this computer (the C library's local time, the kernel's time zone).
ClockOffsets CurrentClockOffsets();

// The clock of the mounted volume a device number (st_dev) belongs to, from the mount table.
std::optional<FatClock> FatClockOfDevice(std::uint64_t device);

// The clock of the last volume asked about: the entries of one folder are on one volume nearly
// always. Only for holders that keep that volume mounted while they ask (an open folder).
class FatClockCache {
public:
    // A time the driver reports for an entry on the volume of `device` as the original platform
    // has it, and the time to give that driver for a file time of the original platform.
    FileTime Reading(std::uint64_t device, FileTime driverTime);
    FileTime Writing(std::uint64_t device, FileTime original);
    // The time a file on that volume can have nearest to `original` (see FatClock::Held); any
    // time where the volume keeps no local times.
    FileTime Held(std::uint64_t device, FileTime original);
    // Whether that volume keeps local times (FAT).
    bool KeepsLocalTimes(std::uint64_t device) {
        const auto& clock = ClockOf(device);
        return clock && clock->KeepsLocalTimes();
    }

private:
    const std::optional<FatClock>& ClockOf(std::uint64_t device);

    bool known_ = false;
    std::uint64_t device_ = 0;
    std::optional<FatClock> clock_;
};

}  // namespace tarnwick::platform
