#pragma once
// FAT keeps a file's time as local time, without saying which zone it was. The original platform
// reads it with the computer's local offset at the moment it looks (and writes with it), so a
// stick shows the same wall-clock time wherever it is plugged in. Linux drivers convert with an
// offset of their own choosing; a FatClock undoes the driver's conversion and does the original
// platform's instead, so that file times on FAT are what the original platform shows.
//
// The rule per driver:
// - the kernel's vfat and msdos: "tz=UTC" takes the FAT times as UTC, "time_offset=M" as local
//   times M minutes east of UTC; without either the kernel uses its own time zone (gettimeofday's
//   tz_minuteswest, 0 on most systems), in both directions.
// - fusefat reads the FAT time as the standard time (never daylight saving) of its own time zone,
//   and writes a time's UTC fields. Its zone is taken to be the computer's.
// - exFAT and NTFS drivers keep UTC: nothing to convert.

#include <cstdint>
#include <optional>

#include "platform/filetime.h"
#include "platform/volumes/mountinfo.h"

namespace tarnwick::platform {

// The time zones a conversion depends on, as they are at the moment of the conversion.
struct ClockOffsets {
    std::int32_t kernelMinutesWest = 0;      // the kernel's time zone, west of UTC positive
    std::int32_t localOffsetSeconds = 0;     // the computer's local offset now, east positive
    std::int32_t standardOffsetSeconds = 0;  // the local zone's standard time, east positive
};

// Between the times a FAT driver reports and takes and the file times the original platform has.
struct FatClock {
    std::int64_t readShiftSeconds = 0;   // file time = the driver's time + this
    std::int64_t writeShiftSeconds = 0;  // the time given to the driver = file time + this
    std::int64_t localShiftSeconds = 0;  // the local time FAT keeps = file time + this

    FileTime Reading(FileTime driverTime) const;
    FileTime Writing(FileTime original) const;
    // The file time nearest to `original` that FAT can keep: its local time from 1980-01-01
    // 00:00:00 to 2107-12-31 23:59:58, in steps of 2 seconds (a time between two is cut down to
    // the earlier, as the drivers do).
    FileTime Held(FileTime original) const;
};

// The clock of a mounted volume; nullopt where its times are taken as they are (UTC file
// systems, drivers not known to keep local times).
std::optional<FatClock> FatClockOfMount(const MountEntry& mount, const ClockOffsets& offsets);

// The time zones of this computer now (the C library's local time, the kernel's time zone).
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
    bool KeepsLocalTimes(std::uint64_t device) { return ClockOf(device).has_value(); }

private:
    const std::optional<FatClock>& ClockOf(std::uint64_t device);

    bool known_ = false;
    std::uint64_t device_ = 0;
    std::optional<FatClock> clock_;
};

}  // namespace tarnwick::platform
