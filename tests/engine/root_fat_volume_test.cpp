// A real FAT file system: times kept to 2 seconds, names looked up without regard to case.
// Needs root (loop device or FUSE mount); skips itself otherwise.

#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <optional>
#include <string>

#include "engine/copy_pass.h"
#include "engine/folders.h"
#include "engine_fixture.h"
#include "support/programs.h"
#include "support/unprivileged.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

bool RunQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// With the FAT driver the machine has: the kernel's vfat, else fusefat.
bool MountFat(const fs::path& image, const fs::path& mountPoint) {
    return RunQuietly("mount -t vfat -o loop " + image.string() + " " + mountPoint.string()) ||
           RunQuietly("fusefat -o rw+ " + image.string() + " " + mountPoint.string());
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
        mounted_ = MountFat(image, mountPoint_);
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
    // As the program sees it: the driver's own time of a FAT entry depends on the driver.
    platform::FindData data;
    ASSERT_TRUE(FindInFolder("F:\\", "Report.TXT", data));
    const platform::FileTime kept = data.lastWriteTime;
    EXPECT_NE(kept, odd);
    EXPECT_LE(odd - kept, 2 * kOneSecond);

    EXPECT_EQ(SyncFolders("E:\\Src", "F:\\", true, progress), 0);
    EXPECT_EQ(SyncFolders("F:\\", "E:\\Src", true, progress), 0);  // the Merge pass back
    EXPECT_EQ(LastWrite(e_ / "Src" / "Report.TXT"), odd);

    ASSERT_TRUE(FindInFolder("F:\\", "report.txt", data));
    EXPECT_EQ(data.lastWriteTime, kept);
}

// A FAT32 stick used on the original platform too, in the computer's time zone: the FAT image
// is written and read with mtools (which keeps FAT's local time by TZ), mounted by the FAT driver
// the machine has, the program and the driver running in the same zone.
class RootFatLocalTimeTest : public EngineTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        if (!RunningAsRoot()) {
            GTEST_SKIP() << "mounting a FAT image needs root";
        }
        if (!HasProgram("mcopy") || !HasProgram("mdir")) {
            GTEST_SKIP() << "mtools is not installed";
        }
        if (const char* zone = std::getenv("TZ")) {
            oldZone_ = zone;
        }
        ::setenv("TZ", GetParam(), 1);
        ::tzset();
        fs::create_directories(mountPoint_);
        // 2026-01-15 12:00 local time, as the original platform stores it and mtools copies it.
        std::tm noon{};
        noon.tm_year = 126;
        noon.tm_mday = 15;
        noon.tm_hour = 12;
        noon.tm_isdst = -1;
        const platform::FileTime localNoon = platform::FileTimeFromTimespec({::mktime(&noon), 0});
        for (const char* name : {"STICK.TXT", "A.TXT", "B.TXT"}) {
            WriteFile(temp_ / "mtools" / name, std::string("stick ") + name, localNoon);
        }
        if (!RunQuietly("truncate -s 40M " + image_.string()) ||
            !RunQuietly("mkfs.vfat -F 32 " + image_.string()) ||
            !RunQuietly("mcopy -m -i " + image_.string() + " " + (temp_ / "mtools").string() +
                        "/* ::/")) {
            GTEST_SKIP() << "the FAT32 image cannot be made";
        }
        mounted_ = MountFat(image_, mountPoint_);
        if (!mounted_) {
            GTEST_SKIP() << "neither the kernel's vfat nor fusefat can mount the image";
        }
        struct statfs volume {};
        fusefat_ = ::statfs(mountPoint_.c_str(), &volume) == 0 && volume.f_type == FUSE_SUPER_MAGIC;
        map_->Set('G', {mountPoint_.string(), platform::kDriveRemovable, 0x5A5A0001, "STICK"});

        // The original platform converts with the offset the computer has now.
        const time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        offset_ = static_cast<std::int64_t>(local.tm_gmtoff) * kOneSecond;
        shown_ = kStoredNoonAsUtc - offset_;
        // fusefat 0.1a reads every FAT month as the month after it (January 15 as February 15,
        // December as January of the next year) and stores months one too low: a fault of the
        // driver, not corrected here. The time of day is what the rule decides.
        stickRead_ = fusefat_ ? NextMonth(shown_) : shown_;
    }

    void TearDown() override {
        if (mounted_) {
            RunQuietly("umount " + mountPoint_.string());
        }
        if (oldZone_) {
            ::setenv("TZ", oldZone_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

    static platform::FileTime NextMonth(platform::FileTime time) {
        const time_t seconds = platform::TimespecFromFileTime(time).tv_sec;
        std::tm fields{};
        ::gmtime_r(&seconds, &fields);
        ++fields.tm_mon;
        return platform::FileTimeFromTimespec({::timegm(&fields), 0});
    }

    // The stick's entry for a name as mtools lists it ("2026-01-15  12:00").
    std::string MdirLine(const std::string& name) {
        std::string listing;
        RunProgram({"mdir", "-i", image_.string(), "::/" + name}, &listing);
        const std::string base = fs::path(name).stem().string();
        const std::size_t at = listing.find(base);
        if (at == std::string::npos) {
            return listing;
        }
        const std::size_t start = listing.rfind('\n', at) + 1;  // npos + 1 is 0
        return listing.substr(start, listing.find('\n', at) - start);
    }

    // 2026-01-15 12:00 UTC: the local noon on the stick, read as if it were UTC.
    static constexpr platform::FileTime kStoredNoonAsUtc = 134129520000000000ULL;
    static constexpr platform::FileTime kMinute = 60 * kOneSecond;

    const fs::path image_ = temp_ / "fat32.img";
    const fs::path mountPoint_ = temp_ / "stick";
    std::optional<std::string> oldZone_;
    bool mounted_ = false;
    bool fusefat_ = false;
    std::int64_t offset_ = 0;           // the local offset now, east of UTC
    platform::FileTime shown_ = 0;      // what the original platform shows for local noon now
    platform::FileTime stickRead_ = 0;  // what the program must read for it here
};

TEST_P(RootFatLocalTimeTest, TimesAreTheOriginalPlatformsAndAMergeCopiesOnlyNewerFiles) {
    platform::FindData data;
    ASSERT_TRUE(FindInFolder("G:\\", "STICK.TXT", data));
    EXPECT_EQ(data.lastWriteTime, stickRead_) << "fusefat: " << fusefat_;

    // A copy of an 11:00 UTC file is stored as 11:00 in the local time of now.
    WriteFile(f_ / "Out" / "COPY.TXT", "copy", kStoredNoonAsUtc - 60 * kMinute);
    fs::create_directory(mountPoint_ / "Out");
    CopyProgress progress;
    progress.Continue = true;
    EXPECT_EQ(SyncFolders("F:\\Out", "G:\\Out", false, progress), 1);
    ASSERT_TRUE(FindInFolder("G:\\Out", "COPY.TXT", data));
    EXPECT_EQ(data.lastWriteTime, kStoredNoonAsUtc - 60 * kMinute);

    // A Merge with a folder of a file system that keeps UTC: A is newer there, B on the stick,
    // each by half an hour (less than any zone's offset, so a time read as UTC gets one wrong).
    WriteFile(f_ / "Home" / "A.TXT", "home A", stickRead_ + 30 * kMinute);
    WriteFile(f_ / "Home" / "B.TXT", "home B", stickRead_ - 30 * kMinute);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(SyncFolders("G:\\", "F:\\Home", false, progress), round == 0 ? 2 : 0);
        EXPECT_EQ(SyncFolders("F:\\Home", "G:\\", false, progress), round == 0 ? 1 : 0);
    }
    EXPECT_EQ(ReadFile(f_ / "Home" / "A.TXT"), "home A");
    EXPECT_EQ(ReadFile(f_ / "Home" / "B.TXT"), "stick B.TXT");
    EXPECT_EQ(ReadFile(mountPoint_ / "A.TXT"), "home A");
    EXPECT_EQ(LastWrite(f_ / "Home" / "STICK.TXT"), stickRead_);

    // What the stick holds, read by mtools: the original platform's local times.
    ASSERT_TRUE(RunQuietly("umount " + mountPoint_.string()));
    mounted_ = false;
    const time_t copied =
        platform::TimespecFromFileTime(kStoredNoonAsUtc - 60 * kMinute + offset_).tv_sec;
    std::tm fields{};
    ::gmtime_r(&copied, &fields);
    if (fusefat_) {
        --fields.tm_mon;  // stored one too low by fusefat, see above
    }
    char expected[64];
    std::snprintf(expected, sizeof expected, "%04d-%02d-%02d  %2d:%02d", fields.tm_year + 1900,
                  fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min);
    EXPECT_NE(MdirLine("Out/COPY.TXT").find(expected), std::string::npos)
        << MdirLine("Out/COPY.TXT") << " holds no " << expected;
    EXPECT_NE(MdirLine("STICK.TXT").find("2026-01-15  12:00"), std::string::npos)
        << MdirLine("STICK.TXT");
}

INSTANTIATE_TEST_SUITE_P(Zones, RootFatLocalTimeTest,
                         ::testing::Values("Europe/Berlin", "America/New_York"),
                         [](const auto& info) {
                             return std::string(info.param).substr(info.param[0] == 'E' ? 7 : 8);
                         });

// Two source names that FAT takes for one: the second is decided on what the first one's copy
// left, as if every copy took its name at once (copies wait in batches before they are named).
// Files meet in one folder; two folders meet in one destination folder, which the pass's threads
// then take in turn, in the listing's order.
TEST_F(RootFatVolumeTest, NamesDifferingOnlyInCaseAreDecidedInListingOrder) {
    WriteFile(mountPoint_ / "other.txt", "other", kBaseTime);  // the stick is not empty
    const auto listedFirst = [](const fs::path& folder, const char* one, const char* other) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name == one || name == other) {
                return std::pair(folder / name, folder / (name == one ? other : one));
            }
        }
        return std::pair(fs::path(), fs::path());
    };
    // The one listed first is the older: it is copied, and the newer one replaces its copy.
    WriteFile(e_ / "Src" / "Note.txt", "", kBaseTime);
    WriteFile(e_ / "Src" / "NOTE.TXT", "", kBaseTime);
    const auto [first, second] = listedFirst(e_ / "Src", "Note.txt", "NOTE.TXT");
    WriteFile(first, "older", kBaseTime);
    WriteFile(second, "newer", kBaseTime + 10 * kOneSecond);
    constexpr int kFolderFiles = 40;
    fs::create_directories(e_ / "Src" / "Photos");
    fs::create_directories(e_ / "Src" / "PHOTOS");
    const auto [firstFolder, secondFolder] = listedFirst(e_ / "Src", "Photos", "PHOTOS");
    for (int file = 0; file < kFolderFiles; ++file) {
        const std::string name = "p" + std::to_string(file) + ".txt";
        WriteFile(firstFolder / name, "older", kBaseTime);
        WriteFile(secondFolder / name, "newer", kBaseTime + 10 * kOneSecond);
    }
    CopyProgress progress;
    progress.Continue = true;

    EXPECT_EQ(SyncFolders("E:\\Src", "F:\\", true, progress), 2 + 2 * kFolderFiles);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(mountPoint_)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names.size(), 3U);
    platform::FindData data;
    ASSERT_TRUE(FindInFolder("F:\\", "note.txt", data));
    EXPECT_EQ(ReadFile(mountPoint_ / data.name), "newer");
    ASSERT_TRUE(FindInFolder("F:\\", "photos", data));
    int newer = 0;
    for (const auto& entry : fs::directory_iterator(mountPoint_ / data.name)) {
        newer += ReadFile(entry.path()) == "newer" ? 1 : 0;
    }
    EXPECT_EQ(newer, kFolderFiles);
}

// FAT keeps 1980 to 2107. A file of 1970 or of 2150 goes onto the stick with the nearest time
// the stick can keep; neither the next run nor a Merge back copies it again, and an edit made
// later still wins.
TEST_F(RootFatVolumeTest, TimesFatCannotHoldAreClampedAndNotCopiedAgainInEitherDirection) {
    constexpr platform::FileTime kUnixEpoch = 116444736000000000ULL;
    constexpr platform::FileTime kYear2150 = kUnixEpoch + 5680281600ULL * kOneSecond;
    WriteFile(e_ / "Home" / "epoch.txt", "1970", kUnixEpoch);
    WriteFile(e_ / "Home" / "future.txt", "2150", kYear2150);
    CopyProgress progress;
    progress.Continue = true;
    EXPECT_EQ(SyncFolders("E:\\Home", "F:\\", false, progress), 2);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(SyncFolders("E:\\Home", "F:\\", false, progress), 0);
        EXPECT_EQ(SyncFolders("F:\\", "E:\\Home", false, progress), 0);
    }
    EXPECT_EQ(LastWrite(e_ / "Home" / "epoch.txt"), kUnixEpoch);
    EXPECT_EQ(LastWrite(e_ / "Home" / "future.txt"), kYear2150);
    WriteFile(e_ / "Home" / "epoch.txt", "edited", kBaseTime);
    EXPECT_EQ(SyncFolders("F:\\", "E:\\Home", false, progress), 0);
    EXPECT_EQ(SyncFolders("E:\\Home", "F:\\", false, progress), 1);
    EXPECT_EQ(ReadFile(mountPoint_ / "epoch.txt"), "edited");
}

// FAT keeps local time: when the computer's offset moves by an hour (summer time ends, a trip),
// every file on the stick reads an hour later or earlier. A Merge takes that for no change,
// either way, while an edit still counts.
TEST_F(RootFatVolumeTest, AnHourShiftOfTheLocalTimeBringsNothingBackInAMerge) {
    std::optional<std::string> oldZone;
    if (const char* zone = std::getenv("TZ")) {
        oldZone = zone;
    }
    // The driver runs in the zone the computer has when it mounts the stick (fusefat takes it
    // then): the stick is mounted again in the new zone, as after a restart.
    const auto setZone = [this](const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        mounted_ = RunQuietly("umount " + mountPoint_.string()) &&
                   MountFat(temp_ / "fat.img", mountPoint_);
        return mounted_;
    };
    const auto merge = [](CopyProgress& progress) {
        return std::pair(SyncFolders("E:\\Home", "F:\\", false, progress),
                         SyncFolders("F:\\", "E:\\Home", false, progress));
    };
    const std::pair<const char*, const char*> shifts[] = {{"UTC-2", "UTC-1"}, {"UTC-1", "UTC-2"}};
    for (const auto& [before, after] : shifts) {
        SCOPED_TRACE(std::string(before) + " to " + after);
        fs::remove_all(e_ / "Home");
        for (const auto& entry : fs::directory_iterator(mountPoint_)) {
            fs::remove_all(entry.path());
        }
        WriteFile(e_ / "Home" / "kept.txt", "kept", kBaseTime);
        WriteFile(e_ / "Home" / "edited.txt", "first", kBaseTime);
        CopyProgress progress;
        progress.Continue = true;
        ASSERT_TRUE(setZone(before));
        EXPECT_EQ(merge(progress), std::pair(2, 0));
        ASSERT_TRUE(setZone(after));
        WriteFile(e_ / "Home" / "edited.txt", "edit", kBaseTime + 5400 * kOneSecond);
        EXPECT_EQ(merge(progress), std::pair(1, 0));
        EXPECT_EQ(merge(progress), std::pair(0, 0));
        EXPECT_EQ(ReadFile(e_ / "Home" / "edited.txt"), "edit");
        EXPECT_EQ(ReadFile(mountPoint_ / "edited.txt"), "edit");
        EXPECT_EQ(LastWrite(e_ / "Home" / "kept.txt"), kBaseTime);
    }
    if (oldZone) {
        ::setenv("TZ", oldZone->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

// A stick keeps no permission bits (its driver shows 0755 or 0777): a file merged back from it
// is a plain file less the umask.
TEST_F(RootFatVolumeTest, FilesFromAStickAreCopiedAsPlainFilesLessTheUmask) {
    WriteFile(mountPoint_ / "Out" / "notes.txt", "notes", kBaseTime);
    EXPECT_EQ(RunInChild([] {
                  ::umask(022);
                  return CopyFolderPass("F:\\Out", "E:\\Home", false, nullptr);
              }),
              1);
    EXPECT_EQ(fs::status(e_ / "Home" / "notes.txt").permissions(), fs::perms(0644));
}

// A file and a folder whose names differ only in case: FAT takes them for one name, and the pool
// of threads ends where one thread ends, whichever the source lists first.
TEST_F(RootFatVolumeTest, ThreadingAFileAndAFolderDifferingInCaseEndAsOnOneThread) {
    WriteFile(e_ / "Src" / "data", "file", kBaseTime);
    WriteFile(e_ / "Src" / "DATA" / "inner.txt", "inner", kBaseTime);
    for (int file = 0; file < 20; ++file) {
        WriteFile(e_ / "Src" / ("f" + std::to_string(file)), "f", kBaseTime);
    }
    std::map<unsigned, std::pair<std::int32_t, std::set<std::string>>> outcomes;
    for (const unsigned workers : {1U, 8U}) {
        for (const auto& entry : fs::directory_iterator(mountPoint_)) {
            fs::remove_all(entry.path());
        }
        SetCopyPassWorkers(workers);
        const std::int32_t copied = CopyFolderPass("E:\\Src", "F:\\", true, nullptr);
        SetCopyPassWorkers(0);
        std::set<std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(mountPoint_)) {
            entries.insert(fs::relative(entry.path(), mountPoint_).string() +
                           (entry.is_regular_file() ? "=" + ReadFile(entry.path()) : "/"));
        }
        outcomes[workers] = {copied, entries};
    }
    EXPECT_EQ(outcomes[8], outcomes[1]);
}

}  // namespace
}  // namespace tarnwick::testing
