// The time rule of a mounted volume, fed literal mount-table lines and time zones.

#include "platform/volumes/fat_clock.h"

#include <gtest/gtest.h>

#include <limits>

namespace tarnwick::platform {
namespace {

// 2026-01-15 00:00 UTC plus some hours.
FileTime Hour(int hour) {
    return FileTimeFromTimespec({1768435200 + hour * 3600, 0});
}

constexpr std::int32_t kBerlinWinter = 3600;
constexpr std::int32_t kBerlinSummer = 7200;
constexpr std::int32_t kNewYorkWinter = -5 * 3600;
constexpr std::int32_t kNewYorkSummer = -4 * 3600;

TEST(FatClock, UndoesTheDriverAndConvertsWithTheLocalOffsetOfNow) {
    // A stick holding the local time 12:00. The driver reports it as `reported` (UTC hours); the
    // original platform shows `original`, and a copy with that time is handed to the driver as
    // `handed`, so that the stick holds 12:00 again.
    struct Case {
        const char* line;
        std::int32_t kernelMinutesWest;
        std::int32_t local;
        std::int32_t standard;
        int reported;
        int original;
        int handed;
    };
    constexpr Case kCases[] = {
        // The kernel's own zone: UTC on most systems, Berlin (minuteswest -60), New York.
        {"40 1 8:17 / /media/ann/S rw - vfat /dev/sdb1 rw,fmask=0022,errors=remount-ro", 0,
         kBerlinWinter, kBerlinWinter, 12, 11, 12},
        {"40 1 8:17 / /media/ann/S rw - vfat /dev/sdb1 rw,fmask=0022", -60, kBerlinSummer,
         kBerlinWinter, 11, 10, 11},
        {"40 1 8:17 / /media/ann/S rw - vfat /dev/sdb1 rw", 300, kNewYorkWinter, kNewYorkWinter, 17,
         17, 17},
        // tz=UTC and time_offset= win over the kernel's zone; the last one counts.
        {"40 1 8:17 / /media/ann/S rw - vfat /dev/sdb1 rw,tz=UTC,errors=remount-ro", -60,
         kNewYorkWinter, kNewYorkWinter, 12, 17, 12},
        {"40 1 8:17 / /mnt/s rw - vfat /dev/sdb1 rw,time_offset=-240", 0, kNewYorkSummer,
         kNewYorkWinter, 16, 16, 16},
        {"40 1 8:17 / /mnt/s rw - msdos /dev/sdb1 rw,time_offset=60", 0, kBerlinSummer,
         kBerlinWinter, 11, 10, 11},
        {"40 1 8:17 / /mnt/s rw - vfat /dev/sdb1 rw,time_offset=60,tz=UTC", 0, kBerlinWinter,
         kBerlinWinter, 12, 11, 12},
        // A value the kernel would refuse leaves its own zone.
        {"40 1 8:17 / /mnt/s rw - vfat /dev/sdb1 rw,time_offset=1h", 0, kBerlinWinter,
         kBerlinWinter, 12, 11, 12},
        {"40 1 8:17 / /mnt/s rw - vfat /dev/sdb1 rw,time_offset=99999999999", 0, kBerlinWinter,
         kBerlinWinter, 12, 11, 12},
        // fusefat reads standard time (winter and summer alike) and writes UTC fields.
        {"66 46 0:40 / /mnt/s rw,nosuid - fuse.fusefat fusefat rw,user_id=0,group_id=0", 0,
         kBerlinWinter, kBerlinWinter, 11, 11, 12},
        {"66 46 0:40 / /mnt/s rw,nosuid - fuse.fusefat fusefat rw,user_id=0,group_id=0", -60,
         kBerlinSummer, kBerlinWinter, 11, 10, 12},
        {"66 46 0:40 / /mnt/s rw - fuseblk.fusefat /dev/sdb1 rw", 0, kNewYorkSummer, kNewYorkWinter,
         17, 16, 12},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.line);
        const auto table = ParseMountInfo(c.line);
        ASSERT_EQ(table.size(), 1U);
        const auto clock =
            FatClockOfMount(table[0], ClockOffsets{c.kernelMinutesWest, c.local, c.standard});
        ASSERT_TRUE(clock.has_value());
        EXPECT_EQ(clock->Reading(Hour(c.reported)), Hour(c.original));
        EXPECT_EQ(clock->Writing(Hour(c.original)), Hour(c.handed));
    }

    // File systems that keep UTC, and FUSE drivers of other file systems.
    for (const char* line : {
             "41 1 8:18 / /media/ann/X rw - exfat /dev/sdc1 rw,fmask=0022,time_offset=60",
             "42 1 0:41 / /media/ann/X rw - fuseblk /dev/sdc1 rw,user_id=0,group_id=0",
             "43 1 0:42 / /media/ann/N rw - fuse.exfat /dev/sdc2 rw",
             "44 1 8:19 / / rw - ext4 /dev/sda1 rw,tz=UTC",
         }) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(FatClockOfMount(ParseMountInfo(line).at(0), {0, kBerlinWinter, 3600}));
    }

    // Shifts past either end of the range stop there.
    const FatClock west{-3600, 3600};
    EXPECT_EQ(west.Reading(0), 0U);
    EXPECT_EQ(west.Writing(std::numeric_limits<FileTime>::max()),
              std::numeric_limits<FileTime>::max());
}

}  // namespace
}  // namespace tarnwick::platform
