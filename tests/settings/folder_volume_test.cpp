// A folder is synchronised only on the volume it was saved on: re-lettering by serial for every
// drive type, and a stored serial the drive at the letter does not carry makes the folder missing.

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/run.h"
#include "settings/folder_groups.h"
#include "settings_fixture.h"

namespace tarnwick {
namespace {

using testing::kSerialC;
using testing::kSerialE;
using testing::ReadFile;
using testing::WriteFile;

class FolderVolumes : public testing::SettingsFixture {
protected:
    void AddDrive(char letter, std::uint32_t type, std::uint32_t serial) {
        const auto root = dir_ / std::string(1, letter);
        std::filesystem::create_directories(root);
        drives_->Set(letter, {root.string(), type, serial, "", true, true});
    }
};

TEST_F(FolderVolumes, FoldersAreReadOnTheirOwnVolumeOnly) {
    AddDrive('F', platform::kDriveRamdisk, 500);
    AddDrive('G', platform::kDriveRemovable, 500);  // a clone of F's volume
    AddDrive('H', platform::kDriveRemote, 600);
    const struct {
        const char* path;
        int type;
        const char* serial;
        const char* read;
        bool onItsVolume;
    } cases[] = {
        {"H:\\Ram", 6, "500", "F:\\Ram", true},  // a RAM disk moved: re-lettered
        {"H:\\Share", 4, "600", "H:\\Share", true},
        {"G:\\Clone", 2, "500", "G:\\Clone", true},  // the clone at the stored letter wins
        {"X:\\Clone", 2, "500", "F:\\Clone", true},  // else the first
        {"E:\\Card", 2, "999", "E:\\Card", false},   // another card took E:
        {"Q:\\Gone", 4, "700", "Q:\\Gone", false},
        {"E:\\Zero", 2, "0", "E:\\Zero", true},  // "0", empty, not a number: as before
        {"E:\\Empty", 6, "", "E:\\Empty", true},
        {"E:\\Text", 4, "5x", "E:\\Text", true},
        {"\\\\server\\share", 4, "999", "\\\\server\\share", true},
    };
    std::string ini = "[1_WORKSTATION]\n";
    int entry = 0;
    for (const auto& c : cases) {
        ++entry;
        ini += std::to_string(entry) + "_PATH=" + c.path + "\n" + std::to_string(entry) +
               "_TYPE=" + std::to_string(c.type) + "\n" + std::to_string(entry) +
               "_SERIAL=" + c.serial + "\n";
    }
    SetIniText(ini);
    entry = 0;
    for (const auto& c : cases) {
        ++entry;
        std::string path;
        bool merge = false;
        bool subfolders = false;
        ASSERT_TRUE(ReadFolderEntry(1, entry, path, merge, subfolders)) << c.path;
        EXPECT_EQ(path, c.read) << c.path;
        EXPECT_EQ(FolderOnItsVolume(1, entry, path), c.onItsVolume) << c.path;
    }
}

class LinesSink final : public RunSink {
public:
    void Line(std::string_view text) override { text_ += std::string(text) + "\n"; }
    std::string text_;
};

TEST_F(FolderVolumes, ARunPassesOverAFolderOnAnotherVolumeAndGoesOn) {
    // The card saved at E: was swapped for another (serial 999 stored, E: carries kSerialE); the
    // second destination is on its own volume.
    WriteFile(dir_ / "C" / "Src" / "a.txt", "a");
    WriteFile(dir_ / "E" / "DCIM" / "other.jpg", "other card");
    std::filesystem::create_directories(dir_ / "C" / "Backup");
    SetIniText(
        "[1_WORKSTATION]\n"
        "1_PATH=C:\\Src\n1_TYPE=3\n1_SERIAL=" +
        std::to_string(kSerialC) + "\n" +
        "2_PATH=E:\\DCIM\n2_TYPE=2\n2_SERIAL=999\n2_MERGE=1\n"
        "3_PATH=C:\\Backup\n3_TYPE=3\n3_SERIAL=" +
        std::to_string(kSerialC) + "\n");
    CopyProgress progress;
    progress.Continue = true;
    LinesSink sink;
    const RunOutcome outcome =
        SyncRun(progress, sink).RunSync(ReadFolderEntry, nullptr, FolderOnItsVolume);
    EXPECT_EQ(outcome.Total, 1);
    EXPECT_TRUE(outcome.Errors);
    std::size_t missing = 0;
    for (std::size_t at = 0;
         (at = sink.text_.find(" The folder \"E:\\DCIM\" was not found.", at)) != std::string::npos;
         ++at) {
        ++missing;
    }
    EXPECT_EQ(missing, 2U) << sink.text_;  // both directions of the Merge pair
    EXPECT_FALSE(std::filesystem::exists(dir_ / "E" / "DCIM" / "a.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "C" / "Src" / "other.jpg"));
    EXPECT_EQ(ReadFile(dir_ / "C" / "Backup" / "a.txt"), "a");
}

}  // namespace
}  // namespace tarnwick
