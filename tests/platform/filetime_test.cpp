#include "platform/filetime.h"

#include <gtest/gtest.h>

#include <limits>

namespace tarnwick::platform {
namespace {

TEST(FileTime, ConvertsWithoutRoundingBeyondOneHundredNanoseconds) {
    EXPECT_EQ(FileTimeFromTimespec({0, 0}), kUnixEpochAsFileTime);
    // 2020-01-01 00:00:00.123456789 UTC
    const timespec precise{1577836800, 123456789};
    const FileTime ft = FileTimeFromTimespec(precise);
    EXPECT_EQ(ft, 132223104000000000ULL + 1234567);  // the last 89 ns are dropped, not rounded
    const timespec back = TimespecFromFileTime(ft);
    EXPECT_EQ(back.tv_sec, 1577836800);
    EXPECT_EQ(back.tv_nsec, 123456700);
    EXPECT_EQ(FileTimeFromTimespec(back), ft);
    EXPECT_EQ(FileTimeFromTimespec({1577836800, 999999999}), 132223104000000000ULL + 9999999);

    // Before 1970, and the limits of the range.
    const timespec before1970{-1, 500000000};  // 1969-12-31 23:59:59.5
    EXPECT_EQ(FileTimeFromTimespec(before1970), kUnixEpochAsFileTime - 5000000);
    const timespec back1969 = TimespecFromFileTime(kUnixEpochAsFileTime - 5000000);
    EXPECT_EQ(back1969.tv_sec, -1);
    EXPECT_EQ(back1969.tv_nsec, 500000000);
    EXPECT_EQ(FileTimeFromTimespec({-11644473600, 0}), 0U);  // 1601-01-01
    EXPECT_EQ(FileTimeFromTimespec({-11644473601, 999999999}), 0U);
    EXPECT_EQ(FileTimeFromTimespec({std::numeric_limits<time_t>::max(), 0}),
              std::numeric_limits<FileTime>::max());
    const timespec zero = TimespecFromFileTime(0);
    EXPECT_EQ(zero.tv_sec, -11644473600);
    EXPECT_EQ(zero.tv_nsec, 0);
    const FileTime largest = std::numeric_limits<FileTime>::max();
    EXPECT_EQ(FileTimeFromTimespec(TimespecFromFileTime(largest)), largest);
}

}  // namespace
}  // namespace tarnwick::platform
