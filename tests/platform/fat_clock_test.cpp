// The time rule of a mounted volume, fed literal mount-table lines and time zones.

#include "platform/volumes/fat_clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

namespace tarnwick::platform {
namespace {

// 2026-01-15 00:00 UTC plus some hours.
FileTime Hour(int hour) {
    return FileTimeFromTimespec({1768435200 + hour * 3600, 0});
}

// A file time from seconds since 1970 and ticks of 100 ns.
FileTime At(std::int64_t unixSeconds, FileTime ticks = 0) {
    return FileTimeFromTimespec({static_cast<time_t>(unixSeconds), 0}) + ticks;
}

ZoneOffsetAt Fixed(std::int32_t offset) {
    return [offset](std::int64_t) { return offset; };
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
        const auto clock = FatClockOfMount(
            table[0], ClockOffsets{c.kernelMinutesWest, Fixed(c.local), c.standard});
        ASSERT_TRUE(clock.has_value());
        EXPECT_EQ(clock->Reading(Hour(c.reported)), Hour(c.original));
        EXPECT_EQ(clock->Writing(Hour(c.original)), Hour(c.handed));
    }

    // File systems that keep UTC over a wide range, and FUSE drivers of unknown kind.
    for (const char* line : {
             "42 1 8:33 / /media/ann/X rw - fuseblk /dev/sdc1 rw,user_id=0,group_id=0",
             "44 1 8:19 / / rw - ext4 /dev/sda1 rw,tz=UTC",
         }) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(
            FatClockOfMount(ParseMountInfo(line).at(0), {0, Fixed(kBerlinWinter), kBerlinWinter}));
    }
    EXPECT_FALSE(FatClockOfMount(
        ParseMountInfo("42 1 8:33 / /media/ann/X rw - fuseblk /dev/sdc1 rw").at(0), {}, "ntfs"));
    const auto fusefatOnItsDevice =
        FatClockOfMount(ParseMountInfo("42 1 7:1 / /media/ann/S rw - fuseblk /dev/loop1 rw").at(0),
                        {0, Fixed(kBerlinSummer), kBerlinWinter}, "vfat");
    ASSERT_TRUE(fusefatOnItsDevice.has_value());
    EXPECT_EQ(fusefatOnItsDevice->Reading(Hour(11)), Hour(10));  // as fuse.fusefat above

    // Shifts past either end of the range stop there.
    const FatClock west{-3600, -3600, Fixed(0)};
    EXPECT_EQ(west.Reading(0), 0U);
    EXPECT_EQ(west.Writing(std::numeric_limits<FileTime>::max()),
              std::numeric_limits<FileTime>::max());
}

TEST(FatClock, ConvertsEachTimeWithTheOffsetItsZoneHadThen) {
    // Berlin in 2026: summer time from 29 March 01:00 UTC to 25 October 01:00 UTC.
    constexpr std::int64_t kSummerStarts = 1774746000;
    constexpr std::int64_t kSummerEnds = 1792890000;
    const ZoneOffsetAt berlin = [](std::int64_t t) {
        return t >= kSummerStarts && t < kSummerEnds ? kBerlinSummer : kBerlinWinter;
    };
    const auto stick = ParseMountInfo("40 1 8:17 / /media/ann/S rw - vfat /dev/sdb1 rw,tz=UTC");
    const auto clock = FatClockOfMount(stick.at(0), {0, berlin, kBerlinWinter});
    ASSERT_TRUE(clock.has_value());
    struct Case {
        std::int64_t moment;  // UTC
        std::int64_t local;   // what the stick keeps, read by the driver as UTC
        std::int64_t readBack;
    };
    constexpr std::int64_t kJuly = 1784109600;     // 2026-07-15 10:00 UTC
    constexpr std::int64_t kJanuary = 1768471200;  // 2026-01-15 10:00 UTC
    constexpr Case kCases[] = {
        {kJuly, kJuly + 7200, kJuly},
        {kJuly + 1800, kJuly + 1800 + 7200, kJuly + 1800},
        {kJanuary, kJanuary + 3600, kJanuary},
        // The hour the end of summer repeats: both moments keep 02:30, which reads as the first.
        {kSummerEnds - 1800, kSummerEnds - 1800 + 7200, kSummerEnds - 1800},
        {kSummerEnds + 1800, kSummerEnds + 1800 + 3600, kSummerEnds - 1800},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.moment);
        EXPECT_EQ(clock->Writing(At(c.moment)), At(c.local));
        EXPECT_EQ(clock->Reading(At(c.local)), At(c.readBack));
        EXPECT_EQ(clock->Held(At(c.moment, 19'999'999)), At(c.readBack));
    }
    EXPECT_TRUE(clock->KeepsLocalTimes());

    // The computer's zone is the C library's, with its rules for every moment.
    const char* const zone = std::getenv("TZ");
    const std::string saved = zone != nullptr ? zone : "";
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const ClockOffsets offsets = CurrentClockOffsets();
    EXPECT_EQ(offsets.localOffsetAt(kJuly), kBerlinSummer);
    EXPECT_EQ(offsets.localOffsetAt(kJanuary), kBerlinWinter);
    EXPECT_EQ(offsets.standardOffsetSeconds, kBerlinWinter);
    if (zone != nullptr) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

TEST(FatClock, ExfatHoldsTheYearsOfFatInItsDriversSteps) {
    constexpr std::int64_t kFirst = 315532800;  // 1980-01-01 00:00:00 UTC
    constexpr std::int64_t kLast = 4354819199;  // 2107-12-31 23:59:59 UTC
    constexpr FileTime kHalf = 5'000'000;       // half a second
    constexpr FileTime kCentis = 123'456;       // 12.3456 ms
    struct Case {
        FileTime original;
        FileTime kernel;  // the kernel's exfat: 10 ms steps
        FileTime fuse;    // exfat-fuse: whole seconds
    };
    const Case kCases[] = {
        {At(0), At(kFirst), At(kFirst)},  // 1970
        {At(kFirst - 1, kHalf), At(kFirst), At(kFirst)},
        {At(kFirst), At(kFirst), At(kFirst)},
        {At(kFirst, kCentis), At(kFirst, 100'000), At(kFirst)},
        {At(kLast, kHalf), At(kLast, kHalf), At(kLast)},
        {At(kLast + 1), At(kLast), At(kLast)},
        {At(7258118400), At(kLast), At(kLast)},  // 2200
    };
    const auto kernel =
        FatClockOfMount(ParseMountInfo("41 1 8:18 / /media/X rw - exfat /dev/sdc1 rw").at(0), {});
    const auto fuse = FatClockOfMount(
        ParseMountInfo("42 1 8:33 / /media/X rw - fuseblk /dev/sdc1 rw").at(0), {}, "exfat");
    const auto named =
        FatClockOfMount(ParseMountInfo("43 1 0:42 / /media/N rw - fuse.exfat /dev/sdc2 rw").at(0),
                        {0, Fixed(kBerlinSummer), kBerlinWinter});
    ASSERT_TRUE(kernel && fuse && named);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.original);
        EXPECT_EQ(kernel->Held(c.original), c.kernel);
        EXPECT_EQ(fuse->Held(c.original), c.fuse);
        EXPECT_EQ(named->Held(c.original), c.fuse);
        // UTC both ways: the times are handed over as they are.
        EXPECT_EQ(kernel->Reading(c.original), c.original);
        EXPECT_EQ(named->Writing(c.original), c.original);
    }
    EXPECT_FALSE(kernel->KeepsLocalTimes());
    EXPECT_FALSE(named->KeepsLocalTimes());
}

}  // namespace
}  // namespace tarnwick::platform
