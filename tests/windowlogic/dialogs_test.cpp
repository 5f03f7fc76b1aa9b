// The folder dialog's and the folder browser's rules without a window: typed paths, Save, the
// steps into the tree, the listing of a node, New Folder and renames on the disk.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/system/system.h"
#include "settings/settings_fixture.h"
#include "windowlogic/folder_browser.h"
#include "windowlogic/folder_dialog.h"

namespace tarnwick::windowlogic {
namespace {

class DialogRules : public testing::SettingsFixture {
protected:
    std::string Native(const char* drive, const std::string& rest = {}) const {
        return (dir_ / drive).string() + rest;
    }
};

TEST_F(DialogRules, TypedPathsBecomeDrivePaths) {
    std::filesystem::create_directories(dir_ / "E" / "DCIM");
    // A stick mounted inside C:'s tree.
    std::filesystem::create_directories(dir_ / "C" / "media" / "STICK" / "DCIM");
    drives_->Set('F', {Native("C", "/media/STICK"), platform::kDriveRemovable, 7, "", true, true});
    platform::SetHomeFolderForTesting(Native("C", "/home/ann"));
    const struct {
        std::string typed;
        std::optional<std::string> drivePath;
    } cases[] = {
        {Native("E", "/DCIM"), "E:\\DCIM"},
        {Native("C", "/Data"), "C:\\Data"},
        {"~", "C:\\home\\ann"},
        {"~/Data", "C:\\home\\ann\\Data"},
        {"~ann", std::nullopt},
        {"file://" + Native("E", "/My%20Photos"), "E:\\My Photos"},
        {"FILE://localhost" + Native("E", "/100%"), "E:\\100%"},
        {"file://" + Native("E", "/50%zz%4"), "E:\\50%zz%4"},  // no escapes: kept as typed
        {"file://server" + Native("E"), std::nullopt},
        {"C:/Data/Photos", "C:\\Data\\Photos"},
        // A native path typed on after a refresh put its first part under C:.
        {"C:/media/STICK/DCIM", "F:\\DCIM"},
        {"C:\\media/STICK", "F:\\"},
        {"C:\\Data", std::nullopt},
        {"Data", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DrivePathOfTyped(c.typed), c.drivePath) << c.typed;
    }
    EXPECT_EQ(CursorAfterRewrite(10, 10, 4), 4);
    EXPECT_EQ(CursorAfterRewrite(10, 7, 20), 17);
    EXPECT_EQ(CursorAfterRewrite(10, 0, 4), 0);
}

TEST(DialogRulesPure, SaveNeedsAnExistingFolderThatFitsAndAReadableSerial) {
    const std::string longest(kMaxDialogPathLength, 'a');
    const struct {
        std::string path;
        bool exists;
        std::uint32_t serial;
        SaveRule rule;
    } cases[] = {
        {"C:\\Data", true, 7, {true, true}},
        {"C:\\Data", true, 0, {true, false}},  // e.g. a network path: Save shown, yet refused
        {"C:\\Gone", false, 7, {false, false}},
        {"", true, 7, {false, false}},
        {longest, true, 7, {true, true}},
        {longest + "a", true, 7, {false, false}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SaveRuleFor(c.path, c.exists, c.serial), c.rule) << c.path.size();
    }
}

TEST_F(DialogRules, DiskInfoTellsTheVolumeTheDriveAndWhetherSaveIsAccepted) {
    std::filesystem::create_directories(dir_ / "C" / "Data");
    std::filesystem::create_directories(dir_ / "G" / "Share");
    drives_->Set('F', {Native("F"), platform::kDriveRemovable, 7, "STICK", true, false});
    drives_->Set('G', {Native("G"), platform::kDriveRemote, 0, "", true, true});
    const std::string fixed = "The disk cannot be removed from the drive.";
    const struct {
        std::string path;
        DiskInfo info;
    } cases[] = {
        {"", {}},
        {"C:\\Data", {"", testing::kSerialC, fixed, 3, {true, true}}},
        {"C:\\Data\\", {"", testing::kSerialC, fixed, 3, {false, false}}},
        {"C:\\Gone", {"", testing::kSerialC, fixed, 3, {false, false}}},
        // No medium: the root of the present drive exists, the label line shows the drive text
        // and the serial 0, and a Save is refused.
        {"F:\\", {"F:", 0, "The drive can be removed from the drive.", 2, {true, false}}},
        // A volume without a serial: Save stays enabled and is refused.
        {"G:\\Share", {"", 0, "The drive is a remote (network) drive.", 4, {true, false}}},
        {"Q:\\x", {"Q:", 0, "The root directory does not exist.", 1, {false, false}}},
        {"C:\\" + std::string(kMaxDialogPathLength, 'a'),
         {"", testing::kSerialC, fixed, 3, {false, false}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DiskInfoOf(c.path), c.info) << c.path.substr(0, 20);
    }
}

TEST_F(DialogRules, DrivesAreListedWithTheImageOfTheirType) {
    drives_->Set('H', {Native("H"), platform::kDriveCdrom, 1, "", true, false});
    EXPECT_EQ(DriveNodes(), (std::vector<DriveNode>{{"C:", 3}, {"E:", 2}, {"H:", 5}}));
}

TEST(DialogRulesPure, TheExplorerArgumentFitsItsBuffer) {
    EXPECT_EQ(ExplorerArgument("C:\\Data"), "/e,C:\\Data");
    EXPECT_EQ(ExplorerArgument(std::string(256, 'a')), "/e," + std::string(256, 'a'));
    EXPECT_EQ(ExplorerArgument(std::string(257, 'a')), std::nullopt);
}

TEST(DialogRulesPure, PathsLeadThroughTheTree) {
    const struct {
        const char* path;
        PathSteps steps;
    } cases[] = {
        {"C:", {{"C:"}, true}},
        {"C:\\", {{"C:", ""}, false}},
        {"C:\\Data\\Photos", {{"C:", "Data", "Photos"}, false}},
        {"\\\\server\\share", {{"\\\\server\\share"}, false}},
        {"Data", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StepsTo(c.path), c.steps) << c.path;
    }
    EXPECT_EQ(NodePath({"C:"}), "C:");
    EXPECT_EQ(NodePath({"C:", "Data", "Photos"}), "C:\\Data\\Photos");
}

// The road walked over a tree that holds C:\Data\Photos, with C:\Data\Stuck unlistable: the
// nodes opened on the way, and the node selected at the end and whether it is opened.
TEST(DialogRulesPure, TheRoadToAFolderOpensOneLevelPerAnswer) {
    const auto walk = [](const char* path, bool openLast) {
        const std::vector<std::string> tree = {"C:", "C:\\Data", "C:\\Data\\Photos",
                                               "C:\\Data\\Stuck"};
        FolderRoad road(path, openLast);
        std::vector<std::string> reached;
        std::string walked;
        while (const std::string* next = road.Next()) {
            std::vector<std::string> candidate = reached;
            candidate.push_back(*next);
            const bool found = std::ranges::find(tree, NodePath(candidate)) != tree.end();
            if (found) {
                reached = candidate;
            }
            FolderRoad::Step step = road.Found(found);
            if (step.kind == FolderRoad::Step::Kind::kOpen) {
                walked += "open " + NodePath(reached) + "; ";
                if (NodePath(reached) == "C:\\Data\\Stuck") {
                    step = road.Refused();
                } else {
                    continue;
                }
            }
            if (step.select) {
                walked += "select " + NodePath(reached) + (step.open ? " open" : "");
            }
        }
        return walked;
    };
    const struct {
        const char* path;
        bool openLast;
        const char* walked;
    } cases[] = {
        {"C:", true, "select C: open"},
        {"C:", false, "select C:"},
        {"C:\\", true, "open C:; select C: open"},
        {"C:\\Data\\Photos", true, "open C:; open C:\\Data; select C:\\Data\\Photos open"},
        {"C:\\Data", false, "open C:; select C:\\Data"},
        {"C:\\Data\\Missing\\Deeper", false, "open C:; open C:\\Data; select C:\\Data open"},
        {"C:\\Data\\Stuck\\Deeper", true,
         "open C:; open C:\\Data; open C:\\Data\\Stuck; select C:\\Data\\Stuck"},
        {"D:\\Data", true, ""},
        {"Data", true, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(walk(c.path, c.openLast), c.walked) << c.path;
    }
}

TEST_F(DialogRules, NodesListTheirSubfoldersAndAnEmptyDriveKeepsItsPlaceholder) {
    std::filesystem::create_directories(dir_ / "C" / "Data" / "Photos");
    std::filesystem::create_directories(dir_ / "C" / "Empty");
    testing::WriteFile(dir_ / "C" / "file.txt", "x");
    auto listed = ListSubfolders("C:", true);
    ASSERT_TRUE(listed);
    std::sort(listed->begin(), listed->end(),
              [](const Subfolder& a, const Subfolder& b) { return a.name < b.name; });
    EXPECT_EQ(*listed, (std::vector<Subfolder>{{"Data", true}, {"Empty", false}}));
    EXPECT_EQ(ListSubfolders("C:\\Empty", false), std::vector<Subfolder>{});
    EXPECT_EQ(ListSubfolders("C:\\Gone", false), std::nullopt);
    std::filesystem::remove_all(dir_ / "E" / "Tools");
    EXPECT_EQ(ListSubfolders("E:", true), std::nullopt);
    EXPECT_TRUE(MayReturn("C:"));
    EXPECT_TRUE(MayReturn("C:\\Data"));
    EXPECT_FALSE(MayReturn("C:\\file.txt"));
    EXPECT_FALSE(MayReturn("C:\\Gone"));
}

TEST_F(DialogRules, RenamesMoveOnlyWithinTheParentFolder) {
    std::filesystem::create_directories(dir_ / "C" / "Data" / "Old");
    std::filesystem::create_directories(dir_ / "C" / "Data" / "Taken");
    using Kind = RenameResult::Kind;
    const struct {
        const char* label;
        RenameResult result;
        const char* remains;  // the folder's name on disk afterwards
    } cases[] = {
        {"", {}, "Old"},
        {"Old", {}, "Old"},
        {"..", {Kind::kRefused, "C:\\Data\\.."}, "Old"},
        {"a/b", {Kind::kRefused, "C:\\Data\\a/b"}, "Old"},
        {"a\\b", {Kind::kRefused, "C:\\Data\\a\\b"}, "Old"},
        {"New", {Kind::kRenamed, "C:\\Data\\New"}, "New"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RenameFolder("C:\\Data", "Old", c.label), c.result) << c.label;
        EXPECT_TRUE(std::filesystem::is_directory(dir_ / "C" / "Data" / c.remains)) << c.label;
    }
    EXPECT_EQ(RenameFailedText("C:\\Data\\.."), "Unable to rename to\nC:\\Data\\..");

    const NewFolderResult made = MakeNewFolder("C:\\Data");
    EXPECT_TRUE(made.made);
    EXPECT_EQ(made.path, "C:\\Data\\New Folder");
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "C" / "Data" / "New Folder"));
    EXPECT_FALSE(MakeNewFolder("C:\\Data").made);
}

}  // namespace
}  // namespace tarnwick::windowlogic
