#include "engine/folders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/queries.h"
#include "engine_fixture.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

using FoldersTest = EngineTest;

TEST_F(FoldersTest, CreateFolderPathCountsTheLevelsItCreates) {
    fs::create_directories(e_ / "Backup");
    EXPECT_EQ(CreateFolderPath("E:\\Backup"), 0);
    EXPECT_EQ(CreateFolderPath("E:\\"), 0);
    EXPECT_EQ(CreateFolderPath("E:\\Backup\\New"), 1);
    EXPECT_TRUE(fs::is_directory(e_ / "Backup" / "New"));
    EXPECT_EQ(CreateFolderPath("E:\\Backup\\Other\\"), 1);  // the direct attempt takes any form
    EXPECT_TRUE(fs::is_directory(e_ / "Backup" / "Other"));
    EXPECT_EQ(CreateFolderPath("E:\\One\\Two\\Three"), 3);
    EXPECT_TRUE(fs::is_directory(e_ / "One" / "Two" / "Three"));
    EXPECT_EQ(CreateFolderPath("E:\\Backup\\Photos\\2009"), 2);
    EXPECT_TRUE(fs::is_directory(e_ / "Backup" / "Photos" / "2009"));
}

TEST_F(FoldersTest, CreateFolderPathRefusesPathsOfTheWrongShape) {
    EXPECT_EQ(CreateFolderPath(std::nullopt), -1);
    EXPECT_EQ(CreateFolderPath("E:\\A\\B\\"), -1);  // trailing backslash, A missing
    EXPECT_EQ(CreateFolderPath("E:\\A\\\\B"), -1);  // double backslash, A missing
    EXPECT_EQ(CreateFolderPath("Q:\\A\\B"), -1);    // no drive Q
    EXPECT_EQ(CreateFolderPath("Q:\\A"), -1);
    EXPECT_EQ(CreateFolderPath("ab"), -1);                      // short and not there
    EXPECT_EQ(CreateFolderPath("EE\\A\\B"), -1);                // no colon
    EXPECT_EQ(CreateFolderPath("\\\\server\\share\\new"), -1);  // no network paths here
    EXPECT_EQ(CreateFolderPath("\\\\server\\share\\new\\deeper"), -1);
    EXPECT_FALSE(fs::exists(e_ / "A"));

    // Too long to be held: refused, and nothing shorter is created in its place.
    const std::string tooLong = "E:\\" + std::string(100, 'a') + "\\" + std::string(2000, 'b');
    EXPECT_EQ(CreateFolderPath(tooLong), -1);
    EXPECT_TRUE(fs::is_empty(e_));
}

// A folder that could not be made is a failure, never an answer that reads as "already there".
TEST_F(FoldersTest, CreateFolderPathFailsWhereALevelCannotBeCreated) {
    WriteFile(e_ / "One" / "Two", "a file in the way");
    EXPECT_EQ(CreateFolderPath("E:\\One\\Two\\Three"), -1);
    EXPECT_TRUE(fs::is_regular_file(e_ / "One" / "Two"));

    map_->SetMedium('E', false);  // present, but nothing can be created on it
    EXPECT_EQ(CreateFolderPath("E:\\Gone\\Deeper"), -1);
}

TEST_F(FoldersTest, FindInFolderDescribesTheEntry) {
    WriteFile(e_ / "Backup" / "Report.TXT", "report", kBaseTime + 12345);
    fs::create_directories(e_ / "Backup" / "Sub");
    WriteFile(e_ / "Backup" / "a*b", "a literal star", kBaseTime);
    WriteFile(e_ / "Backup" / "axxb", "not the star", kBaseTime + kOneSecond);

    platform::FindData data;
    ASSERT_TRUE(FindInFolder("E:\\Backup", "Report.TXT", data));
    EXPECT_EQ(data.lastWriteTime, kBaseTime + 12345);
    EXPECT_EQ(data.size, 6U);
    EXPECT_EQ(data.attributes & platform::kAttributeDirectory, 0U);
    // ext4 compares names exactly; a case-insensitive file system finds it (see the FAT test).
    EXPECT_FALSE(FindInFolder("E:\\Backup", "report.txt", data));
    ASSERT_TRUE(FindInFolder("E:\\Backup", "Sub", data));
    EXPECT_NE(data.attributes & platform::kAttributeDirectory, 0U);
    EXPECT_FALSE(FindInFolder("E:\\Backup", "missing", data));
    EXPECT_FALSE(FindInFolder("E:\\Missing", "Report.TXT", data));
    ASSERT_TRUE(FindInFolder("E:\\Backup", "a*b", data));  // a name, not a pattern
    EXPECT_EQ(data.lastWriteTime, kBaseTime);
    EXPECT_FALSE(FindInFolder("E:\\Backup", "a?b", data));
    EXPECT_FALSE(FindInFolder("E:\\Backup", std::string(kMaxPathLength, 'x'), data));
}

}  // namespace
}  // namespace tarnwick::testing
