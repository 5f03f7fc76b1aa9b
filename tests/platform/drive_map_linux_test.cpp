// The real drive map of the machine the tests run on, as far as it can be checked anywhere:
// other tests may mount sticks meanwhile, so only C: and the shape of the list are fixed.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/volumes/drives.h"
#include "platform/volumes/linux_drive_map.h"
#include "support/temp_dir.h"

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

TEST(RealDriveMapThreading, AReaderIsNotHeldWhileARefreshWaitsForAVolume) {
    const std::string root = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
    tarnwick::testing::TempDir state;
    std::mutex mutex;
    std::condition_variable changed;
    std::string table = root;
    bool tableChanged = true;
    bool probing = false;
    bool answer = false;
    DriveMapSources sources;
    sources.tableChanged = [&] {
        std::lock_guard lock(mutex);
        return std::exchange(tableChanged, false);
    };
    sources.readTable = [&](std::string& text) {
        std::lock_guard lock(mutex);
        text = table;
        return true;
    };
    // The stick's probe waits, as libblkid on a device that stopped answering.
    sources.readIds = [&](const DriveMount& drive) -> std::optional<VolumeIds> {
        std::unique_lock lock(mutex);
        probing = drive.mount.mountPoint == "/mnt/stick";
        changed.notify_all();
        changed.wait(lock, [&] { return answer || !probing; });
        return std::nullopt;
    };
    sources.letterMemoryPath = [&] { return std::optional(state.str() + "/letters"); };
    const auto map = CreateLinuxDriveMap(sources);
    ASSERT_EQ(map->Drives().size(), 1u);

    {
        std::lock_guard lock(mutex);
        table = root + "30 22 8:33 / /mnt/stick rw - vfat /dev/sdz9 rw\n";
        tableChanged = true;
    }
    std::vector<Drive> refreshed;
    std::thread refresher([&] { refreshed = map->Drives(); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return probing; });
    }
    // Meanwhile the map before answers whole, after a short wait for the build at most.
    auto meanwhile = std::async(std::launch::async, [&] { return map->Drives(); });
    const bool answered = meanwhile.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    {
        std::lock_guard lock(mutex);
        answer = true;
        changed.notify_all();
    }
    refresher.join();
    ASSERT_TRUE(answered) << "a reader waited for the refresh";
    EXPECT_EQ(meanwhile.get().size(), 1u);
    ASSERT_EQ(refreshed.size(), 2u);
    EXPECT_EQ(refreshed[1].root, "/mnt/stick");
}

}  // namespace
}  // namespace tarnwick::platform
