#include "engine/queries.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine_fixture.h"
#include "support/unprivileged.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

using QueriesTest = EngineTest;

TEST_F(QueriesTest, FolderExistsRootRuleComesFromTheDriveListAlone) {
    EXPECT_TRUE(FolderExists("E:\\"));
    EXPECT_TRUE(FolderExists("e:\\"));
    map_->SetMedium('E', false);
    EXPECT_TRUE(FolderExists("E:\\"));  // present without a medium
    EXPECT_FALSE(FolderExists("E:\\Photos"));
    map_->SetPresent('E', false);
    EXPECT_FALSE(FolderExists("E:\\"));
    EXPECT_FALSE(FolderExists("Q:\\"));
    EXPECT_FALSE(FolderExists("1:\\"));
    EXPECT_FALSE(FolderExists(":\\\\"));
}

TEST_F(QueriesTest, FolderExistsProbesTheFolderItself) {
    fs::create_directories(e_ / "Photos");
    WriteFile(e_ / "notes.txt", "x");
    EXPECT_TRUE(FolderExists("E:\\Photos"));
    EXPECT_FALSE(FolderExists("E:\\Photos\\"));  // trailing backslash never exists
    EXPECT_FALSE(FolderExists("E:\\photos"));    // ext4 compares exactly
    EXPECT_FALSE(FolderExists("E:\\notes.txt"));
    EXPECT_FALSE(FolderExists("E:\\Missing"));
    EXPECT_TRUE(FolderExists("E:"));  // the bare drive text probes E:\. like any folder
    EXPECT_FALSE(FolderExists(""));
    EXPECT_FALSE(FolderExists("\\\\server\\share\\folder"));
    EXPECT_FALSE(FolderExists("Photos"));
}

TEST_F(QueriesTest, FolderExistsAnswersLongPathsUpToTheLimit) {
    // Nested folders of 99 characters: paths beyond 1,021 characters are answered properly up
    // to 2,047 and refused beyond, even where the folder exists.
    std::string drivePath = "E:";
    fs::path native = e_;
    const std::string name(99, 'n');
    while (drivePath.size() + 100 <= kMaxPathLength) {
        drivePath += "\\" + name;
        native /= name;
    }
    const std::string beyond(kMaxPathLength - drivePath.size(), 'b');
    const std::string fits = beyond.substr(1);
    fs::create_directories(native / beyond);
    fs::create_directories(native / fits);
    ASSERT_GT(drivePath.size(), 1021U);
    EXPECT_TRUE(FolderExists(drivePath));
    EXPECT_TRUE(FolderExists(drivePath + "\\" + fits));     // 2,047 characters
    EXPECT_FALSE(FolderExists(drivePath + "\\" + beyond));  // 2,048 characters
}

TEST_F(QueriesTest, VolumeAndDriveDescription) {
    std::string label = "before";
    EXPECT_EQ(GetVolumeSerial("E:", label), 0x1A2B3C4DU);
    EXPECT_EQ(label, "STICK");
    map_->SetMedium('E', false);
    label = "kept";
    EXPECT_EQ(GetVolumeSerial("E:", label), 0U);
    EXPECT_EQ(label, "kept");
    EXPECT_EQ(GetVolumeSerial("Q:", label), 0U);
    EXPECT_EQ(GetVolumeSerial("", label), 0U);

    const std::pair<std::uint32_t, const char*> sentences[] = {
        {0, "The drive type cannot be determined."},
        {1, "The root directory does not exist."},
        {2, "The drive can be removed from the drive."},
        {3, "The disk cannot be removed from the drive."},
        {4, "The drive is a remote (network) drive."},
        {5, "The drive is a CD-ROM drive."},
        {6, "The drive is a RAM disk."},
    };
    for (const auto& [type, sentence] : sentences) {
        map_->Set('G', {f_.string(), type, 1, ""});
        std::string description;
        EXPECT_EQ(GetDriveDescription('g', &description), type);
        EXPECT_EQ(description, sentence);
        EXPECT_EQ(GetDriveDescription('G'), type);
    }
    map_->Set('G', {f_.string(), 9, 1, ""});
    std::string untouched = "as before";
    EXPECT_EQ(GetDriveDescription('G', &untouched), 9U);
    EXPECT_EQ(untouched, "as before");
    EXPECT_EQ(GetDriveDescription('Q', &untouched), 1U);
    EXPECT_EQ(untouched, "The root directory does not exist.");
}

TEST_F(QueriesTest, FindDriveBySerialTakesTheFirstInListOrder) {
    EXPECT_EQ(FindDriveBySerial(0x1A2B3C4D), 'E');
    EXPECT_EQ(FindDriveBySerial(0x0BADF00D), 'F');
    EXPECT_EQ(FindDriveBySerial(0x12345678), '0');
    EXPECT_EQ(FindDriveBySerial(0), '0');  // every volume is readable

    // The stick comes back under another letter.
    map_->Remove('E');
    map_->Set('K', {e_.string(), platform::kDriveRemovable, 0x1A2B3C4D, "STICK"});
    EXPECT_EQ(FindDriveBySerial(0x1A2B3C4D), 'K');
    map_->Set('H', {e_.string(), platform::kDriveRemovable, 0x1A2B3C4D, "TWIN"});
    EXPECT_EQ(FindDriveBySerial(0x1A2B3C4D), 'H');
    map_->SetPresent('H', false);
    map_->SetPresent('K', false);
    EXPECT_EQ(FindDriveBySerial(0x1A2B3C4D), '0');

    // An unreadable volume answers 0, so serial 0 finds the first drive without a medium.
    map_->Set('M', {e_.string(), platform::kDriveRemovable, 0x11, ""});
    map_->Set('R', {e_.string(), platform::kDriveCdrom, 0x22, ""});
    map_->SetMedium('R', false);
    map_->SetMedium('M', false);
    EXPECT_EQ(FindDriveBySerial(0), 'M');
    EXPECT_EQ(FindDriveBySerial(0x11), '0');
}

TEST_F(QueriesTest, HasSubfolders) {
    WriteFile(e_ / "files" / "a.txt", "a");
    WriteFile(e_ / "files" / "b.txt", "b");
    EXPECT_FALSE(HasSubfolders("E:\\files"));
    fs::create_directories(e_ / "hidden" / ".git");
    EXPECT_TRUE(HasSubfolders("E:\\hidden"));
    fs::create_directories(e_ / "linked");
    fs::create_directory_symlink(e_ / "hidden", e_ / "linked" / "to-folder");
    fs::create_symlink(e_ / "files" / "a.txt", e_ / "linked" / "to-file");
    EXPECT_TRUE(HasSubfolders("E:\\linked"));
    fs::remove(e_ / "linked" / "to-folder");
    EXPECT_FALSE(HasSubfolders("E:\\linked"));
    EXPECT_TRUE(HasSubfolders("E:\\"));
    EXPECT_FALSE(HasSubfolders("E:\\missing"));
    EXPECT_FALSE(HasSubfolders("E:\\files\\a.txt"));

    fs::create_directories(e_ / "locked" / "inner");
    OpenUpForNobody(e_);
    fs::permissions(e_ / "locked", fs::perms::none);
    EXPECT_EQ(RunUnprivileged([] { return HasSubfolders("E:\\locked") ? 1 : 0; }), 0);
}

TEST(QueriesHelpers, DrivePresentAppendCharIfMissingIsDirectory) {
    TempDir temp;
    ScopedDriveMap map;
    FixtureDrive drive;
    drive.root = temp.str();
    map->Set('E', drive);
    EXPECT_TRUE(DrivePresent('E'));
    EXPECT_TRUE(DrivePresent('e'));
    EXPECT_FALSE(DrivePresent('F'));
    EXPECT_FALSE(DrivePresent('1'));
    EXPECT_FALSE(DrivePresent('\0'));
    EXPECT_FALSE(DrivePresent('@'));  // 'A' - 1

    std::string text;
    EXPECT_EQ(AppendCharIfMissing(text, '\\'), 1U);
    EXPECT_EQ(text, "\\");
    EXPECT_EQ(AppendCharIfMissing(text, '\\'), 1U);
    text = "E:\\Photos";
    EXPECT_EQ(AppendCharIfMissing(text, '\\'), 10U);
    EXPECT_EQ(text, "E:\\Photos\\");

    std::filesystem::create_directories(temp / "Photos");
    WriteFile(temp / "file", "x");
    EXPECT_TRUE(IsDirectory("E:\\Photos"));
    EXPECT_TRUE(IsDirectory("E:\\Photos\\*.*"));  // its "." entry comes first
    EXPECT_TRUE(IsDirectory("E:\\Ph*"));
    EXPECT_FALSE(IsDirectory("E:\\fi*"));
    EXPECT_FALSE(IsDirectory("E:\\file"));
    EXPECT_FALSE(IsDirectory("E:\\nothing*"));
}

}  // namespace
}  // namespace tarnwick::testing
