#include "platform/files/files.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "support/fat_stick.h"
#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"
#include "support/unprivileged.h"

namespace tarnwick::platform {
namespace {

namespace fs = std::filesystem;
using testing::kBaseTime;
using testing::kOneSecond;
using testing::LastWrite;
using testing::ReadFile;
using testing::WriteFile;

class FilesTest : public ::testing::Test {
protected:
    FilesTest() {
        fs::create_directories(e_);
        testing::FixtureDrive drive;
        drive.root = e_.string();
        map_->Set('E', drive);
    }

    testing::TempDir temp_;
    testing::ScopedDriveMap map_;
    const fs::path e_ = temp_ / "e";
};

TEST_F(FilesTest, FindFirstFileMatchesTheLastName) {
    WriteFile(e_ / "Photos" / "b.jpg", "b", kBaseTime);
    WriteFile(e_ / "Photos" / "README", "r", kBaseTime + kOneSecond);
    WriteFile(e_ / "Photos" / "back\\slash.jpg", "x", kBaseTime);
    WriteFile(e_ / "top.txt", "t", kBaseTime);

    // Every folder but a drive's root lists "." and ".." first; "*.*" matches every name.
    auto found = FindFirstFile("E:\\Photos\\*.*");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, ".");
    EXPECT_NE(found->attributes & kAttributeDirectory, 0U);
    found = FindFirstFile("E:\\*.*");
    ASSERT_TRUE(found);
    EXPECT_NE(found->name, ".");
    EXPECT_NE(found->name, "..");
    found = FindFirstFile("E:\\Photos\\READ*");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "README");
    EXPECT_EQ(found->lastWriteTime, kBaseTime + kOneSecond);
    EXPECT_EQ(found->size, 1U);
    found = FindFirstFile("E:\\Photos\\?.jpg");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "b.jpg");
    EXPECT_FALSE(FindFirstFile("E:\\Photos\\back*"));  // cannot be written as a drive path
    EXPECT_FALSE(FindFirstFile("E:\\Photos\\*.png"));
    EXPECT_FALSE(FindFirstFile("E:\\Missing\\*.*"));

    // Without wildcards the path itself is looked up.
    found = FindFirstFile("E:\\Photos\\.");
    ASSERT_TRUE(found);
    EXPECT_NE(found->attributes & kAttributeDirectory, 0U);
    EXPECT_FALSE(FindFirstFile("E:\\top.txt\\."));
    found = FindFirstFile("E:/Photos/b.jpg");  // '/' separates names too
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "b.jpg");
    EXPECT_EQ(found->attributes, kAttributeNormal);
    EXPECT_FALSE(FindFirstFile("E:\\Photos\\"));
    EXPECT_FALSE(FindFirstFile("Q:\\x"));
    EXPECT_FALSE(FindFirstFile("\\\\server\\share\\x"));
    EXPECT_FALSE(FindFirstFile(std::string_view("E:\\top.txt\0x", 12)));
}

TEST_F(FilesTest, FindDataDescribesLinksAndAttributes) {
    WriteFile(e_ / "target.txt", "t", kBaseTime);
    fs::create_symlink("target.txt", e_ / "link");
    fs::create_symlink("nowhere", e_ / "dangling");
    WriteFile(e_ / ".hidden", "h", kBaseTime);
    fs::permissions(e_ / ".hidden", fs::perms::owner_read);

    auto found = FindFirstFile("E:\\link");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->lastWriteTime, kBaseTime);  // the target's time
    EXPECT_EQ(found->size, 1U);
    found = FindFirstFile("E:\\dangling");  // described by itself
    ASSERT_TRUE(found);
    EXPECT_EQ(found->attributes & kAttributeDirectory, 0U);
    found = FindFirstFile("E:\\.hidden");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->attributes, kAttributeHidden | kAttributeReadOnly);
}

TEST_F(FilesTest, DirectoryListsLooksUpAndCreates) {
    WriteFile(e_ / "d" / "file", "f", kBaseTime);
    fs::create_directories(e_ / "d" / "sub");
    fs::create_directory_symlink(e_ / "d" / "sub", e_ / "d" / "sublink");
    WriteFile(e_ / "d" / "odd\\name", "x", kBaseTime);
    ASSERT_EQ(mkfifo((e_ / "d" / "fifo").c_str(), 0644), 0);

    auto folder = Directory::Open("E:\\d");
    ASSERT_TRUE(folder);
    std::map<std::string, EntryKind> seen;
    while (const auto name = folder->Next()) {
        seen[std::string(*name)] = folder->LastKind();
    }
    EXPECT_EQ(seen.size(), 4U);  // no ".", "..", nor the name with a backslash
    EXPECT_EQ(seen["file"], EntryKind::kFile);
    EXPECT_EQ(seen["sub"], EntryKind::kFolder);
    EXPECT_EQ(seen["sublink"], EntryKind::kUnknown);
    EXPECT_EQ(seen["fifo"], EntryKind::kOther);
    EXPECT_FALSE(folder->Next());

    const auto sub = folder->Lookup("sublink");
    ASSERT_TRUE(sub);
    EXPECT_NE(sub->attributes & kAttributeDirectory, 0U);
    const auto child = folder->OpenChild("sublink");
    ASSERT_TRUE(child);
    EXPECT_EQ(child->Inode(), sub->inode);
    EXPECT_EQ(child->Device(), sub->device);
    EXPECT_FALSE(folder->OpenChild("file"));
    EXPECT_FALSE(folder->Lookup("missing"));
    EXPECT_FALSE(folder->Lookup("../d"));
    EXPECT_FALSE(folder->Lookup(".."));

    EXPECT_TRUE(folder->MakeChild("made"));
    EXPECT_TRUE(fs::is_directory(e_ / "d" / "made"));
    EXPECT_FALSE(folder->MakeChild("made"));
    EXPECT_FALSE(folder->MakeChild("file"));
    EXPECT_FALSE(Directory::Open("E:\\d\\file"));
    EXPECT_FALSE(Directory::Open("E:\\missing"));

    Directory moved = std::move(*folder);
    EXPECT_TRUE(moved.IsOpen());
    EXPECT_FALSE(folder->IsOpen());
}

TEST_F(FilesTest, CopyGivesTheTimeAndPermissionsAndNeverLeavesHalfAFile) {
    WriteFile(e_ / "src" / "a.txt", "contents", kBaseTime);
    fs::permissions(e_ / "src" / "a.txt", fs::perms::owner_read | fs::perms::owner_exec);
    fs::create_directories(e_ / "dst");

    EXPECT_TRUE(CopyFileByPath("E:\\src\\a.txt", "E:\\dst\\a.txt", false, kBaseTime + 12345));
    EXPECT_EQ(ReadFile(e_ / "dst" / "a.txt"), "contents");
    EXPECT_EQ(LastWrite(e_ / "dst" / "a.txt"), kBaseTime + 12345);
    // The source's bits, always writable by the owner so that a later run can update it.
    EXPECT_EQ(fs::status(e_ / "dst" / "a.txt").permissions(), fs::perms::owner_all);
    // Made read-only by its user: not replaced, also for root.
    fs::permissions(e_ / "dst" / "a.txt", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(CopyFileByPath("E:\\src\\a.txt", "E:\\dst\\a.txt", false, kBaseTime));
    EXPECT_EQ(LastWrite(e_ / "dst" / "a.txt"), kBaseTime + 12345);

    WriteFile(e_ / "dst" / "b.txt", "old b", kBaseTime);
    EXPECT_FALSE(CopyFileByPath("E:\\src\\a.txt", "E:\\dst\\b.txt", true, kBaseTime));
    EXPECT_EQ(ReadFile(e_ / "dst" / "b.txt"), "old b");
    EXPECT_TRUE(CopyFileByPath("E:\\src\\a.txt", "E:\\dst\\b.txt", false, kBaseTime));
    EXPECT_EQ(ReadFile(e_ / "dst" / "b.txt"), "contents");
    EXPECT_TRUE(CopyFileByPath("E:\\src\\a.txt", "E:\\dst\\c.txt", true, kBaseTime));

    fs::create_directories(e_ / "dst" / "folder");
    EXPECT_FALSE(CopyFileByPath("E:\\src\\a.txt", "E:\\dst\\folder", false, kBaseTime));
    EXPECT_TRUE(fs::is_directory(e_ / "dst" / "folder"));
    EXPECT_FALSE(CopyFileByPath("E:\\src", "E:\\dst\\d", false, kBaseTime));  // a folder
    EXPECT_FALSE(CopyFileByPath("E:\\src\\missing", "E:\\dst\\d", false, kBaseTime));
    EXPECT_FALSE(CopyFileByPath("E:\\src\\a.txt", "E:\\nowhere\\d", false, kBaseTime));
    EXPECT_FALSE(CopyFileByPath("E:\\src\\a.txt", "E:\\dst\\", false, kBaseTime));
    ASSERT_EQ(mkfifo((e_ / "src" / "fifo").c_str(), 0644), 0);
    EXPECT_FALSE(CopyFileByPath("E:\\src\\fifo", "E:\\dst\\fifo", false, kBaseTime));  // no hang
    EXPECT_FALSE(fs::exists(e_ / "dst" / "d"));
    EXPECT_FALSE(fs::exists(e_ / "dst" / "fifo"));

    // Fails half-way: the old file stays and no temporary file is left.
    WriteFile(e_ / "src" / "big", std::string(1 << 20, 'b'), kBaseTime);
    WriteFile(e_ / "dst" / "big", "old big", kBaseTime);
    testing::OpenUpForNobody(temp_.path());
    EXPECT_EQ(testing::RunUnprivileged([] {
                  std::signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{4096, 4096};
                  return setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                                 !CopyFileByPath("E:\\src\\big", "E:\\dst\\big", false, kBaseTime)
                             ? 0
                             : 1;
              }),
              0);
    EXPECT_EQ(ReadFile(e_ / "dst" / "big"), "old big");
    for (const auto& entry : fs::directory_iterator(e_ / "dst")) {
        EXPECT_FALSE(IsTemporaryCopyName(entry.path().filename().string()))
            << entry.path().filename();
    }
}

TEST_F(FilesTest, CopyKeepingAttributesKeepsTheSourceTime) {
    WriteFile(e_ / "app", "binary", kBaseTime + 777);
    fs::permissions(e_ / "app", fs::perms::owner_all | fs::perms::group_exec);
    fs::create_directories(e_ / "to");
    EXPECT_TRUE(CopyFileKeepingAttributes("E:\\app", "E:\\to\\app", true));
    EXPECT_EQ(LastWrite(e_ / "to" / "app"), kBaseTime + 777);
    EXPECT_EQ(fs::status(e_ / "to" / "app").permissions(),
              fs::perms::owner_all | fs::perms::group_exec);
    EXPECT_FALSE(CopyFileKeepingAttributes("E:\\app", "E:\\to\\app", true));
    EXPECT_TRUE(CopyFileKeepingAttributes("E:\\app", "E:\\to\\app", false));
}

TEST_F(FilesTest, CreateDirectoryAndMoveFileNeverReplace) {
    EXPECT_TRUE(CreateDirectory("E:\\new"));
    EXPECT_FALSE(CreateDirectory("E:\\new"));
    EXPECT_TRUE(CreateDirectory("E:\\new\\inner\\"));
    EXPECT_FALSE(CreateDirectory("E:\\a\\b"));
    EXPECT_FALSE(CreateDirectory("\\\\server\\share\\x"));

    WriteFile(e_ / "one", "1", kBaseTime);
    WriteFile(e_ / "two", "2", kBaseTime);
    EXPECT_FALSE(MoveFile("E:\\one", "E:\\two"));
    EXPECT_EQ(ReadFile(e_ / "two"), "2");
    EXPECT_FALSE(MoveFile("E:\\one", "E:\\new"));
    EXPECT_TRUE(MoveFile("E:\\one", "E:\\three"));
    EXPECT_EQ(ReadFile(e_ / "three"), "1");
    EXPECT_FALSE(fs::exists(e_ / "one"));
    fs::create_directories(e_ / "empty");
    EXPECT_FALSE(MoveFile("E:\\new", "E:\\empty"));  // not even over an empty folder
    EXPECT_TRUE(MoveFile("E:\\new", "E:\\renamed"));
    EXPECT_TRUE(fs::is_directory(e_ / "renamed" / "inner"));
    EXPECT_FALSE(MoveFile("E:\\missing", "E:\\x"));

    // Where case counts, a name that differs only in case is another entry: never replaced.
    fs::create_directories(e_ / "Renamed");
    WriteFile(e_ / "Renamed" / "kept", "k", kBaseTime);
    EXPECT_FALSE(MoveFile("E:\\renamed", "E:\\Renamed"));
    EXPECT_TRUE(fs::is_directory(e_ / "renamed" / "inner"));
    EXPECT_EQ(ReadFile(e_ / "Renamed" / "kept"), "k");
}

// On a FAT stick "photos" and "Photos" are one name: a rename that changes only the case goes
// through, as on the original platform, and still replaces nothing else.
TEST_F(FilesTest, RootRenameOnAFatStickMayChangeTheCase) {
    if (!testing::RunningAsRoot()) {
        GTEST_SKIP() << "mounting a FAT image needs root";
    }
    const fs::path stick = temp_ / "stick";
    fs::create_directories(stick);
    testing::FixtureDrive drive;
    drive.root = stick.string();
    drive.type = kDriveRemovable;
    map_->Set('F', drive);
    const int result = testing::RunOnFatStick(temp_ / "fat.img", stick, [&] {
        WriteFile(stick / "photos" / "a.jpg", "a", kBaseTime);
        WriteFile(stick / "notes", "n", kBaseTime);
        WriteFile(stick / "other", "o", kBaseTime);
        const bool renamed =
            MoveFile("F:\\photos", "F:\\Photos") && MoveFile("F:\\notes", "F:\\Notes");
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(stick)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        const bool right = names == std::vector<std::string>{"Notes", "Photos", "other"} &&
                           fs::exists(stick / "Photos" / "a.jpg") &&
                           !MoveFile("F:\\other", "F:\\NOTES") &&
                           ReadFile(stick / "Notes") == "n" && ReadFile(stick / "other") == "o";
        return renamed ? (right ? 0 : 2) : 1;
    });
    if (result == testing::kNoFatStick) {
        GTEST_SKIP() << "no FAT stick: mkfs.vfat, or both the kernel's vfat and fusefat, missing";
    }
    EXPECT_EQ(result, 0) << "1: a rename was refused, 2: wrong names afterwards";
}

TEST(FilesNames, TemporaryCopyNames) {
    EXPECT_TRUE(IsTemporaryCopyName(".tarnwick-123-4.tmp"));
    EXPECT_FALSE(IsTemporaryCopyName(".tarnwick-.tmp"));
    EXPECT_FALSE(IsTemporaryCopyName(".tarnwick-12a.tmp"));
    EXPECT_FALSE(IsTemporaryCopyName("tarnwick-1-2.tmp"));
    EXPECT_FALSE(IsTemporaryCopyName(".tarnwick-1-2.tmp.txt"));
}

}  // namespace
}  // namespace tarnwick::platform
