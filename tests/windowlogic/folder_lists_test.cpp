// The folder lists without a window: what each command asks the folder dialog and what it writes,
// which commands a selection allows, how a path is found again, what a drop comes to, and which
// items each command leaves selected and described.

#include "windowlogic/folder_lists.h"
#include "windowlogic/list_commands.h"

#include <gtest/gtest.h>

#include <functional>

#include "settings/folder_groups.h"
#include "settings/settings_fixture.h"

namespace tarnwick::windowlogic {
namespace {

// A folder dialog that answers as scripted and records what it was asked.
class ScriptedDialog final : public FolderDialog {
public:
    bool save = true;
    std::string typed;  // the path the "user" leaves; empty keeps the initial one
    bool flag = false;
    std::string askedCaption;
    std::string askedPath;
    bool askedFlag = false;

    bool AskSource(const std::string& caption, std::string& path, bool& subfolders) override {
        return Answer(caption, path, subfolders);
    }
    bool AskDestination(const std::string& caption, std::string& path, bool& merge) override {
        return Answer(caption, path, merge);
    }
    int SavedDriveType() const override { return 2; }
    std::string SavedSerial() const override { return "1588342657"; }

private:
    bool Answer(const std::string& caption, std::string& path, bool& value) {
        askedCaption = caption;
        askedPath = path;
        askedFlag = value;
        if (save) {
            path = typed.empty() ? path : typed;
            value = flag;
        }
        return save;
    }
};

class FolderListsTest : public testing::SettingsFixture {
protected:
    void SetUp() override {
        SetIniText(
            "[1_WORKSTATION]\n"
            "1_PATH=C:\\Data\n1_TYPE=3\n1_SERIAL=2891450123\n1_MERGE=0\n1_SUBDIR=0\n"
            "2_PATH=E:\\Backup\n2_TYPE=2\n2_SERIAL=1588342657\n2_MERGE=1\n2_SUBDIR=0\n");
    }
    static FolderEntry Read(int group, int entry) {
        FolderEntry folder;
        ReadFolderEntry(group, entry, folder.Path, folder.Merge, folder.Subfolders);
        return folder;
    }
};

TEST_F(FolderListsTest, EachCommandAsksTheDialogAndWritesWhatItSaved) {
    enum class Command { kNewSource, kNewDestination, kChangeSource, kChangeDestination };
    struct Case {
        const char* name;
        Command command;
        bool save;
        std::optional<std::string> dropped;
        const char* caption;
        const char* initialPath;
        bool initialFlag;
        int writtenGroup, writtenEntry;  // where the saved folder lands; 0 for nowhere
        bool flagWritten;
    };
    const Case cases[] = {
        {"new source", Command::kNewSource, true, std::nullopt, kNewSourceCaption, "", true, 2, 1,
         false},
        {"dropped source", Command::kNewSource, true, "C:\\Dropped", kNewSourceCaption,
         "C:\\Dropped", true, 2, 1, false},
        {"new source closed", Command::kNewSource, false, std::nullopt, kNewSourceCaption, "", true,
         0, 0, false},
        {"new destination", Command::kNewDestination, true, std::nullopt, kNewDestinationCaption,
         "", false, 1, 3, true},
        {"new destination closed", Command::kNewDestination, false, "C:\\Dropped",
         kNewDestinationCaption, "C:\\Dropped", false, 0, 0, false},
        {"change source", Command::kChangeSource, true, std::nullopt, kChangeSourceCaption,
         "C:\\Data", false, 1, 1, true},
        {"change destination", Command::kChangeDestination, true, std::nullopt,
         kChangeDestinationCaption, "E:\\Backup", true, 1, 2, false},
        {"change destination closed", Command::kChangeDestination, false, std::nullopt,
         kChangeDestinationCaption, "E:\\Backup", true, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const std::string before = IniText();
        ScriptedDialog dialog;
        dialog.save = c.save;
        dialog.typed = "E:\\Saved";
        dialog.flag = c.flagWritten;
        bool answered = false;
        switch (c.command) {
            case Command::kNewSource: {
                const auto result = NewSource(dialog, c.dropped);
                answered = result.has_value() && result->added && result->path == "E:\\Saved";
                break;
            }
            case Command::kNewDestination:
                answered = NewDestination(dialog, 1, c.dropped) == "E:\\Saved";
                break;
            case Command::kChangeSource:
                answered = ChangeSource(dialog, 1);
                break;
            case Command::kChangeDestination:
                answered = ChangeDestination(dialog, 1, 2);
                break;
        }
        EXPECT_EQ(dialog.askedCaption, c.caption);
        EXPECT_EQ(dialog.askedPath, c.initialPath);
        EXPECT_EQ(dialog.askedFlag, c.initialFlag);
        EXPECT_EQ(answered, c.writtenGroup != 0);
        if (c.writtenGroup == 0) {
            EXPECT_EQ(IniText(), before);
            continue;
        }
        const FolderEntry written = Read(c.writtenGroup, c.writtenEntry);
        EXPECT_EQ(written.Path, "E:\\Saved");
        const bool flag = c.writtenEntry == 1 ? written.Subfolders : written.Merge;
        EXPECT_EQ(flag, c.flagWritten);
        const std::string section =
            testing::SectionText(IniText(), std::to_string(c.writtenGroup) + "_WORKSTATION");
        const std::string key = std::to_string(c.writtenEntry) + "_";
        EXPECT_NE(section.find(key + "TYPE=2\n"), std::string::npos) << section;
        EXPECT_NE(section.find(key + "SERIAL=1588342657\n"), std::string::npos) << section;
    }
}

TEST(FolderListsRules, PathsAreFoundAgainWithoutRegardToCase) {
    const ListItems items{{1, "C:\\Data"}, {3, "E:\\Fotos \xC3\x89t\xC3\xA9"}, {4, "C:\\data"}};
    const struct {
        const char* path;
        int row;
    } cases[] = {
        {"C:\\Data", 0}, {"c:\\DATA", 0},    {"e:\\FOTOS \xC3\xA9T\xC3\x89", 1},  // É and é
        {"C:\\Dat", -1}, {"C:\\Data\\", -1}, {"C:\\D\xC3\xA1ta", -1},
        {"", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindPath(items, c.path), c.row) << c.path;
    }
}

TEST(FolderListsRules, SelectionDecidesCommandsAndDeletesSelectTheOneAbove) {
    EXPECT_EQ(AvailableCommands(false, false), ListCommands{});
    EXPECT_EQ(AvailableCommands(true, false), (ListCommands{true, true, true, false, false, true}));
    EXPECT_EQ(AvailableCommands(true, true), (ListCommands{true, true, true, true, true, true}));
    EXPECT_EQ(RowAfterDelete(0), 0);
    EXPECT_EQ(RowAfterDelete(1), 0);
    EXPECT_EQ(RowAfterDelete(5), 4);
}

TEST_F(FolderListsTest, OneExistingFolderMayBeDropped) {
    std::filesystem::create_directories(dir_ / "C" / "Photos");
    testing::WriteFile(dir_ / "C" / "note.txt", "x");
    const std::string photos = (dir_ / "C" / "Photos").string();
    std::filesystem::path deep = dir_ / "C";
    for (int level = 0; level < 5; ++level) {
        deep /= std::string(220, static_cast<char>('a' + level));
    }
    std::filesystem::create_directories(deep);
    const std::string tooLong = deep.string();
    using Kind = DropAnswer::Kind;
    const struct {
        const char* name;
        std::vector<std::string> items;
        DropAnswer answer;
    } cases[] = {
        {"one folder", {photos}, {Kind::kFolder, "C:\\Photos"}},
        {"two folders", {photos, photos}, {Kind::kTooMany, ""}},
        {"nothing", {}, {Kind::kTooMany, ""}},
        {"no local file", {""}, {}},
        {"a file", {(dir_ / "C" / "note.txt").string()}, {}},
        {"gone", {(dir_ / "C" / "Gone").string()}, {}},
        {"too long", {tooLong}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DroppedFolder(c.items), c.answer) << c.name;
    }
}

// The two lists as a window would keep them: the items, the selection, what each details line
// describes and the commands shown.
class RecordedLists final : public ListsView {
public:
    ListItems items[2];
    int selected[2] = {-1, -1};
    std::string details[2];
    ListCommands commands;

    int SelectedRow(List list) const override { return selected[Of(list)]; }
    ListItems Items(List list) const override { return items[Of(list)]; }
    void Select(List list, int row) override {
        const bool inside = row >= 0 && row < static_cast<int>(items[Of(list)].size());
        selected[Of(list)] = inside ? row : -1;
    }
    void Fill(List list, const ListItems& filled) override {
        items[Of(list)] = filled;
        selected[Of(list)] = -1;
    }
    void BlankDetails(List list) override { details[Of(list)] = " "; }
    void ShowFolderDetails(List list, const std::string& path) override {
        details[Of(list)] = path;
    }
    void ShowComputer() override {}
    void ShowCommands(const ListCommands& shown) override { commands = shown; }
    void ResetCount() override {}

private:
    static int Of(List list) { return list == List::kSources ? 0 : 1; }
};

TEST_F(FolderListsTest, EachCommandLeavesTheDefinedItemsSelectedAndDescribed) {
    struct Case {
        const char* name;
        int source, destination;  // selected before the command (-1: none)
        std::function<void(ListsView&, ScriptedDialog&)> command;
        int sourceAfter, destinationAfter;
        const char* sourceDetails;
        const char* destinationDetails;
    };
    const Case cases[] = {
        {"select a source", -1, -1,
         [](ListsView& v, ScriptedDialog&) {
             v.Select(List::kSources, 0);
             SourceSelectionChanged(v);
         },
         0, 0, "C:\\A", "E:\\One"},
        {"delete the second of three sources", 1, -1,
         [](ListsView& v, ScriptedDialog&) { DeleteSelectedSource(v); }, 0, 0, "C:\\A",
         "E:\\One"},
        {"delete the first source", 0, -1,
         [](ListsView& v, ScriptedDialog&) { DeleteSelectedSource(v); }, 0, -1, "C:\\B", " "},
        {"delete the last destination", 0, 2,
         [](ListsView& v, ScriptedDialog&) { DeleteSelectedDestination(v); }, 0, 1, "C:\\A",
         "E:\\Two"},
        {"add a destination", 0, 0,
         [](ListsView& v, ScriptedDialog& d) {
             d.typed = "e:\\four";
             AddDestinationFolder(v, d, std::nullopt);
         },
         0, 3, "C:\\A", "e:\\four"},
        {"change a source keeps its place", 1, -1,
         [](ListsView& v, ScriptedDialog& d) {
             d.typed = "E:\\B2";
             FinishSelectedChange(v, d, 2, 1, *ReadForChange(2, 1));
         },
         1, -1, "E:\\B2", " "},
        {"change of a folder no longer selected", 0, 0,
         [](ListsView& v, ScriptedDialog& d) {
             d.typed = "E:\\B2";
             FinishSelectedChange(v, d, 2, 1, *ReadForChange(2, 1));
         },
         0, 0, "C:\\A", "E:\\One"},
        {"delete without a selection", -1, -1,
         [](ListsView& v, ScriptedDialog&) {
             DeleteSelectedSource(v);
             DeleteSelectedDestination(v);
         },
         -1, -1, " ", " "},
    };
    for (const Case& c : cases) {
        SetIniText(
            "[1_WORKSTATION]\n"
            "1_PATH=C:\\A\n1_TYPE=3\n1_SERIAL=1\n1_MERGE=0\n1_SUBDIR=1\n"
            "2_PATH=E:\\One\n2_TYPE=3\n2_SERIAL=1\n2_MERGE=0\n2_SUBDIR=0\n"
            "3_PATH=E:\\Two\n3_TYPE=3\n3_SERIAL=1\n3_MERGE=0\n3_SUBDIR=0\n"
            "4_PATH=E:\\Three\n4_TYPE=3\n4_SERIAL=1\n4_MERGE=0\n4_SUBDIR=0\n"
            "[2_WORKSTATION]\n1_PATH=C:\\B\n1_TYPE=3\n1_SERIAL=1\n1_MERGE=0\n1_SUBDIR=1\n"
            "[3_WORKSTATION]\n1_PATH=C:\\C\n1_TYPE=3\n1_SERIAL=1\n1_MERGE=0\n1_SUBDIR=1\n");
        RecordedLists view;
        ScriptedDialog dialog;
        LoadSourceList(view);
        if (c.source >= 0) {
            view.Select(List::kSources, c.source);
            SourceSelectionChanged(view);
            view.Select(List::kDestinations, c.destination);
            DestinationSelectionChanged(view);
        }
        c.command(view, dialog);
        EXPECT_EQ(view.selected[0], c.sourceAfter) << c.name;
        EXPECT_EQ(view.selected[1], c.destinationAfter) << c.name;
        EXPECT_EQ(view.details[0], c.sourceDetails) << c.name;
        EXPECT_EQ(view.details[1], c.destinationDetails) << c.name;
        EXPECT_EQ(view.commands, AvailableCommands(c.sourceAfter >= 0, c.destinationAfter >= 0))
            << c.name;
    }
}

}  // namespace
}  // namespace tarnwick::windowlogic
