// The real drive map of the machine the tests run on, as far as it can be checked anywhere:
// other tests may mount sticks meanwhile, so only C: and the shape of the list are fixed.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/volumes/drives.h"
#include "platform/volumes/linux_drive_map.h"

namespace tarnwick::platform {
namespace {

void ExpectWellFormed(const std::vector<Drive>& drives) {
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives.front().letter, 'C');
    EXPECT_EQ(drives.front().root, "/");
    for (std::size_t i = 1; i < drives.size(); ++i) {
        EXPECT_LT(drives[i - 1].letter, drives[i].letter);
        EXPECT_LE(drives[i].letter, 'Z');
        EXPECT_TRUE(drives[i].root.starts_with('/')) << drives[i].root;
    }
}

TEST(RealDriveMap, CIsTheRootAndEveryReadableVolumeHasASerial) {
    const auto map = CreateLinuxDriveMap();
    const auto drives = map->Drives();
    ExpectWellFormed(drives);
    EXPECT_TRUE(drives.front().hasMedium);

    for (const Drive& drive : drives) {
        if (drive.hasMedium && !std::filesystem::is_directory(drive.root)) {
            ADD_FAILURE() << drive.letter << ": " << drive.root << " is no folder";
        }
        const auto volume = map->VolumeOf(drive.letter);
        if (volume) {
            EXPECT_NE(volume->serial, 0U) << drive.letter;
            EXPECT_LE(volume->label.size(), 259U);
        }
    }
    const auto c = map->VolumeOf('C');
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(map->VolumeOf('c')->serial, c->serial);
    EXPECT_EQ(map->VolumeOf('C')->serial, c->serial);  // the second answer comes from the cache
    EXPECT_EQ(map->VolumeOf('B'), std::nullopt);
    EXPECT_EQ(map->VolumeOf('1'), std::nullopt);
    EXPECT_EQ(map->VolumeOf('\0'), std::nullopt);

    // The program's own entry points answer from a real map as well.
    EXPECT_EQ(VolumeInformation('C')->serial, c->serial);
    EXPECT_EQ(DriveTypeOf('C'), drives.front().type);
    EXPECT_NE(LogicalDriveMask() & (1U << ('C' - 'A')), 0U);
    EXPECT_EQ(LogicalDriveMask() & 3U, 0U);
    EXPECT_EQ(ToNativePath("C:\\"), "/");
    EXPECT_EQ(ToDrivePath("/"), "C:\\");
}

TEST(RealDriveMapThreading, ConcurrentQueriesAgree) {
    const auto map = CreateLinuxDriveMap();
    const auto serial = map->VolumeOf('C')->serial;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&map, &failures, serial] {
            for (int i = 0; i < 300; ++i) {
                const auto drives = map->Drives();
                const auto volume = map->VolumeOf('C');
                if (drives.empty() || drives.front().root != "/" || !volume ||
                    volume->serial != serial || !ToDrivePath("/tmp")) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace tarnwick::platform
