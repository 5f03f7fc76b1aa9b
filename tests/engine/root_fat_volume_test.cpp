// A real FAT file system: times kept to 2 seconds, names looked up without regard to case.
// Needs root (loop device or FUSE mount); skips itself otherwise.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "engine/copy_pass.h"
#include "engine/folders.h"
#include "engine_fixture.h"
#include "support/programs.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

bool RunQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class RootFatVolumeTest : public EngineTest {
protected:
    void SetUp() override {
        if (!RunningAsRoot()) {
            GTEST_SKIP() << "mounting a FAT image needs root";
        }
        const fs::path image = temp_ / "fat.img";
        fs::create_directories(mountPoint_);
        if (!RunQuietly("truncate -s 34M " + image.string()) ||
            !RunQuietly("mkfs.vfat -i 1A2B3C4D " + image.string())) {
            GTEST_SKIP() << "mkfs.vfat is not available";
        }
        mounted_ =
            RunQuietly("mount -t vfat -o loop " + image.string() + " " + mountPoint_.string()) ||
            RunQuietly("fusefat -o rw+ " + image.string() + " " + mountPoint_.string());
        if (!mounted_) {
            GTEST_SKIP() << "neither the kernel's vfat nor fusefat can mount the image";
        }
        map_->Set('F', {mountPoint_.string(), platform::kDriveRemovable, 0x1A2B3C4D, "STICK"});
    }

    void TearDown() override {
        if (mounted_) {
            RunQuietly("umount " + mountPoint_.string());
        }
    }

    const fs::path mountPoint_ = temp_ / "mnt";
    bool mounted_ = false;
};

TEST_F(RootFatVolumeTest, TwoSecondTimesAreNotCopiedAgainInEitherDirection) {
    // Odd seconds with a fraction: FAT keeps them as the even second before.
    const platform::FileTime odd = kBaseTime + kOneSecond + kOneSecond / 2;
    WriteFile(e_ / "Src" / "Report.TXT", "report", odd);
    WriteFile(e_ / "Src" / "sub" / "b.bin", "b", odd + 2 * kOneSecond);
    CopyProgress progress;
    progress.Continue = true;

    EXPECT_EQ(SyncFolders("E:\\Src", "F:\\", true, progress), 2);
    if (HasProgram("rsync")) {
        EXPECT_EQ(RsyncDifferences(e_ / "Src", mountPoint_), std::set<std::string>{});
    } else {
        std::cout << kNoRsync << "\n";
    }
    const platform::FileTime kept = LastWrite(mountPoint_ / "Report.TXT");
    EXPECT_NE(kept, odd);
    EXPECT_LE(odd - kept, 2 * kOneSecond);

    EXPECT_EQ(SyncFolders("E:\\Src", "F:\\", true, progress), 0);
    EXPECT_EQ(SyncFolders("F:\\", "E:\\Src", true, progress), 0);  // the Merge pass back
    EXPECT_EQ(LastWrite(e_ / "Src" / "Report.TXT"), odd);

    platform::FindData data;
    ASSERT_TRUE(FindInFolder("F:\\", "report.txt", data));
    EXPECT_EQ(data.lastWriteTime, kept);
}

// Two source names that FAT takes for one: the second is decided on what the first one's copy
// left, as if every copy took its name at once (copies wait in batches before they are named).
TEST_F(RootFatVolumeTest, NamesDifferingOnlyInCaseAreDecidedInListingOrder) {
    WriteFile(mountPoint_ / "other.txt", "other", kBaseTime);  // the stick is not empty
    // The one listed first is the older: it is copied, and the newer one replaces its copy.
    WriteFile(e_ / "Src" / "Note.txt", "", kBaseTime);
    WriteFile(e_ / "Src" / "NOTE.TXT", "", kBaseTime);
    const fs::path first = fs::directory_iterator(e_ / "Src")->path();
    const fs::path second = e_ / "Src" / (first.filename() == "Note.txt" ? "NOTE.TXT" : "Note.txt");
    WriteFile(first, "older", kBaseTime);
    WriteFile(second, "newer", kBaseTime + 10 * kOneSecond);
    CopyProgress progress;
    progress.Continue = true;

    EXPECT_EQ(SyncFolders("E:\\Src", "F:\\", true, progress), 2);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(mountPoint_)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names.size(), 2U);
    platform::FindData data;
    ASSERT_TRUE(FindInFolder("F:\\", "note.txt", data));
    EXPECT_EQ(ReadFile(mountPoint_ / data.name), "newer");
}

}  // namespace
}  // namespace tarnwick::testing
