#include "engine/copy_batch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using platform::Directory;
using testing::kBaseTime;
using testing::ReadFile;
using testing::WriteFile;

using CopyBatchTest = testing::EngineTest;

// Threads add to one batch at once, each into a folder of its own, and hand it on when they find
// it full: every copy takes its name exactly once, the answers of the commits add up to the
// names given, a waiting copy is seen by the other threads' lookups, and nothing temporary stays.
TEST_F(CopyBatchTest, ThreadingOneBatchTakesTheCopiesOfSeveralWriters) {
    constexpr int kWriters = 4;
    constexpr int kFiles = 150;
    for (int file = 0; file < kFiles; ++file) {
        WriteFile(e_ / "src" / ("f" + std::to_string(file)), std::to_string(file), kBaseTime);
    }
    std::vector<Directory> targets;
    for (int writer = 0; writer < kWriters; ++writer) {
        fs::create_directories(e_ / ("to" + std::to_string(writer)));
        targets.push_back(*Directory::Open("E:\\to" + std::to_string(writer)));
    }
    if (targets[0].CopyDurability() != Directory::Durability::kVolume) {
        GTEST_SKIP() << "copies into this file system do not wait for a flush";
    }
    SetCopyBatchBoundsForTests(7, 1 << 20);
    std::atomic<std::int32_t> named{0};
    std::atomic<int> answered{0};
    std::atomic<int> seenWaiting{0};
    {
        CopyBatch batch(&named);
        std::vector<std::thread> writers;
        for (int writer = 0; writer < kWriters; ++writer) {
            writers.emplace_back([&, writer] {
                // An open folder of its own: an open folder belongs to one thread.
                auto from = Directory::Open("E:\\src");
                CopyBatch::Writer own;
                for (int file = 0; file < kFiles; ++file) {
                    const std::string name = "f" + std::to_string(file);
                    platform::FileError why;
                    const auto added = batch.Add(own, *from, name, targets[writer], name, true,
                                                 std::nullopt, nullptr, why);
                    if (added == CopyBatch::Added::kWaiting) {
                        seenWaiting += batch.MayHold(targets[writer], name) ? 1 : 0;
                        if (batch.Full()) {
                            answered += batch.CommitInBackground();
                        }
                    }
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
        answered += batch.Commit();
    }
    SetCopyBatchBoundsForTests(0, 0);
    EXPECT_EQ(named, kWriters * kFiles);
    EXPECT_EQ(answered, kWriters * kFiles);
    EXPECT_GT(seenWaiting, 0);
    for (int writer = 0; writer < kWriters; ++writer) {
        const fs::path folder = e_ / ("to" + std::to_string(writer));
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), kFiles);
        EXPECT_EQ(ReadFile(folder / "f42"), "42");
    }
}

// A copy with no copy after it is named once the batch is old, without a further Add or a
// commit; the next commit answers for it, exactly once.
TEST_F(CopyBatchTest, ThreadingALoneCopyIsNamedWhenItsBatchIsOld) {
    WriteFile(e_ / "src" / "alone", "alone", kBaseTime);
    fs::create_directories(e_ / "to");
    auto from = Directory::Open("E:\\src");
    auto to = Directory::Open("E:\\to");
    if (to->CopyDurability() != Directory::Durability::kVolume) {
        GTEST_SKIP() << "copies into this file system do not wait for a flush";
    }
    std::atomic<std::int32_t> named{0};
    CopyBatch batch(&named);
    ASSERT_EQ(batch.Add(*from, "alone", *to, "alone", true, std::nullopt),
              CopyBatch::Added::kWaiting);
    while (named == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ReadFile(e_ / "to" / "alone"), "alone");
    EXPECT_EQ(batch.Commit(), 1);
    EXPECT_EQ(batch.Finish(), 0);
}

}  // namespace
}  // namespace tarnwick
