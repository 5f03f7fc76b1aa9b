// Folder groups of this computer in the settings file: lists, free slots, the deleted marker,
// re-lettering, other computers' sections, files that are not what they should be.

#include "settings/folder_groups.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "platform/profile/profile.h"
#include "settings/settings_file.h"
#include "settings_fixture.h"

namespace tarnwick {
namespace {

using testing::kSerialE;
using testing::SectionText;
using List = std::vector<std::pair<int, std::string>>;
using namespace std::string_literals;

// A file used on two computers. WORKSTATION: group 1 with a source, a Backup destination on a
// removable drive, a deleted destination and a Merge destination; group 2 deleted; group 3 live.
const std::string kTwoComputers =
    "[1_WORKSTATION]\n"
    "1_PATH=C:\\Data\\Documents\n1_TYPE=3\n1_SERIAL=2891450123\n1_MERGE=0\n1_SUBDIR=1\n"
    "2_PATH=E:\\Backup\\Documents\n2_TYPE=2\n2_SERIAL=1588342657\n2_MERGE=0\n2_SUBDIR=0\n"
    "3_PATH=!\n3_TYPE=\n3_SERIAL=\n3_MERGE=0\n3_SUBDIR=0\n"
    "4_PATH=F:\\Shared\n4_TYPE=2\n4_SERIAL=3021887744\n4_MERGE=1\n4_SUBDIR=0\n"
    "\n"
    "[2_WORKSTATION]\n"
    "1_PATH=!\n"
    "\n"
    "[3_WORKSTATION]\n"
    "1_PATH=D:\\Projects\n1_TYPE=3\n1_SERIAL=2891450123\n1_MERGE=0\n1_SUBDIR=0\n"
    "\n"
    "[1_LAPTOP]\n"
    "1_PATH=C:\\Work\n1_TYPE=3\n1_SERIAL=1029384756\n1_MERGE=0\n1_SUBDIR=1\n"
    "2_PATH=E:\\Backup\\Documents\n2_TYPE=2\n2_SERIAL=1588342657\n2_MERGE=1\n2_SUBDIR=0\n";

FolderEntry Folder(const std::string& path, int type = 3, const std::string& serial = "1") {
    return FolderEntry{path, type, serial, false, false};
}

class FolderGroups : public testing::SettingsFixture {};

TEST_F(FolderGroups, TwoComputersSeeOnlyTheirOwnGroups) {
    SetIniText(kTwoComputers);
    EXPECT_EQ(ListFolderGroups(), (List{{1, "C:\\Data\\Documents"}, {3, "D:\\Projects"}}));
    EXPECT_EQ(ListFolderEntries(1), (List{{2, "E:\\Backup\\Documents"}, {4, "F:\\Shared"}}));
    EXPECT_EQ(ListFolderEntries(3), List{});
    EXPECT_EQ(FindFreeGroup(), 2);
    EXPECT_EQ(FindFreeEntry(1), 3);
    EXPECT_EQ(FindFreeEntry(3), 2);

    std::string path = "unchanged";
    bool merge = true;
    bool subfolders = false;
    ASSERT_TRUE(ReadFolderEntry(1, 1, path, merge, subfolders));
    EXPECT_EQ(path, "C:\\Data\\Documents");
    EXPECT_FALSE(merge);
    EXPECT_TRUE(subfolders);
    ASSERT_TRUE(ReadFolderEntry(1, 4, path, merge, subfolders));
    EXPECT_EQ(path, "F:\\Shared");
    EXPECT_TRUE(merge);
    ASSERT_TRUE(ReadFolderEntry(1, 3, path, merge, subfolders));
    EXPECT_EQ(path, "!");
    ASSERT_TRUE(ReadFolderEntry(2, 1, path, merge, subfolders));
    EXPECT_EQ(path, "!");
    path = "kept";
    merge = true;
    subfolders = true;
    EXPECT_FALSE(ReadFolderEntry(1, 5, path, merge, subfolders));
    EXPECT_FALSE(ReadFolderEntry(4, 1, path, merge, subfolders));
    EXPECT_FALSE(ReadFolderEntry(0, 1, path, merge, subfolders));
    EXPECT_EQ(path, "kept");
    EXPECT_TRUE(merge);
    EXPECT_TRUE(subfolders);
    EXPECT_EQ(IniText(), kTwoComputers) << "reading changed the file";

    platform::SetComputerNameForTesting("LAPTOP");
    EXPECT_EQ(ListFolderGroups(), (List{{1, "C:\\Work"}}));
    EXPECT_EQ(ListFolderEntries(1), (List{{2, "E:\\Backup\\Documents"}}));
    EXPECT_EQ(FindFreeGroup(), 2);
    ASSERT_TRUE(ReadFolderEntry(1, 2, path, merge, subfolders));
    EXPECT_TRUE(merge);

    // LAPTOP's changes leave every WORKSTATION section as it was.
    EXPECT_EQ(AddFolderGroup(Folder("C:\\Laptop")), 2);
    EXPECT_EQ(AddFolderEntry(1, Folder("C:\\Copy")), 3);
    EXPECT_TRUE(DeleteFolderEntry(1, 2));
    EXPECT_TRUE(DeleteFolderGroup(1));
    EXPECT_EQ(AddFolderGroup(Folder("C:\\Again")), 1);
    EXPECT_EQ(ListFolderGroups(), (List{{1, "C:\\Again"}, {2, "C:\\Laptop"}}));
    const std::string after = IniText();
    for (const char* section : {"1_WORKSTATION", "2_WORKSTATION", "3_WORKSTATION"}) {
        EXPECT_EQ(SectionText(after, section), SectionText(kTwoComputers, section)) << section;
    }
    platform::SetComputerNameForTesting("WORKSTATION");
    EXPECT_EQ(ListFolderGroups(), (List{{1, "C:\\Data\\Documents"}, {3, "D:\\Projects"}}));
}

TEST_F(FolderGroups, GroupsOnVolumesAreTheLiveGroupsWithALiveFolderThere) {
    // Group 4 is deleted, its destination kept; group 5 has a deleted destination.
    SetIniText(kTwoComputers +
               "\n[4_WORKSTATION]\n1_PATH=!\n1_SERIAL=777\n2_PATH=G:\\x\n2_SERIAL=777\n"
               "\n[5_WORKSTATION]\n1_PATH=C:\\y\n1_SERIAL=1\n2_PATH=!\n2_SERIAL=888\n");
    const std::pair<std::set<std::uint32_t>, std::set<int>> cases[] = {
        {{kSerialE}, {1}},               // a Backup destination
        {{3021887744U}, {1}},            // a Merge destination
        {{2891450123U}, {1, 3}},         // sources
        {{1029384756U}, {}},             // another computer's folder
        {{777, 888}, {}},                // deleted slots
        {{kSerialE, 1, 12345}, {1, 5}},  // several volumes at once
        {{}, {}},
    };
    int n = 0;
    for (const auto& [serials, groups] : cases) {
        EXPECT_EQ(GroupsOnVolumes(serials), groups) << "case " << n++;
    }
}

TEST_F(FolderGroups, FirstGroupCreatesTheFileWithOneSection) {
    EXPECT_EQ(ListFolderGroups(), List{});
    EXPECT_EQ(ListFolderEntries(1), List{});
    EXPECT_EQ(FindFreeGroup(), 1);
    EXPECT_FALSE(std::filesystem::exists(Ini()));

    EXPECT_EQ(AddFolderGroup(FolderEntry{"C:\\Data", 3, "2891450123", false, true}), 1);
    EXPECT_EQ(IniText(),
              "[1_WORKSTATION]\n1_PATH=C:\\Data\n1_TYPE=3\n1_SERIAL=2891450123\n1_MERGE=0\n"
              "1_SUBDIR=1\n");
    EXPECT_EQ(AddFolderEntry(1, FolderEntry{"E:\\Copy", 2, "1588342657", true, false}), 2);
    EXPECT_EQ(ListFolderEntries(1), (List{{2, "E:\\Copy"}}));
    EXPECT_EQ(platform::ProfileValue(IniText(), "1_WORKSTATION", "2_MERGE"), "1");
}

TEST_F(FolderGroups, DeletedNumbersAreReusedAndNothingIsRenumbered) {
    for (const char* source : {"C:\\One", "C:\\Two", "C:\\Three"}) {
        AddFolderGroup(Folder(source));
    }
    EXPECT_TRUE(DeleteFolderGroup(2));
    EXPECT_EQ(ListFolderGroups(), (List{{1, "C:\\One"}, {3, "C:\\Three"}}));
    EXPECT_EQ(SectionText(IniText(), "2_WORKSTATION"), "[2_WORKSTATION]\n1_PATH=!\n");
    EXPECT_EQ(AddFolderGroup(Folder("C:\\New")), 2);
    EXPECT_EQ(ListFolderGroups(), (List{{1, "C:\\One"}, {2, "C:\\New"}, {3, "C:\\Three"}}));

    for (const char* destination : {"C:\\D2", "C:\\D3", "C:\\D4"}) {
        AddFolderEntry(1, Folder(destination));
    }
    EXPECT_TRUE(DeleteFolderEntry(1, 3));
    EXPECT_EQ(ListFolderEntries(1), (List{{2, "C:\\D2"}, {4, "C:\\D4"}}));
    const std::string section = SectionText(IniText(), "1_WORKSTATION");
    EXPECT_NE(section.find("3_PATH=!\n3_TYPE=\n3_SERIAL=\n3_MERGE=0\n3_SUBDIR=0\n"),
              std::string::npos)
        << section;
    EXPECT_EQ(AddFolderEntry(1, Folder("C:\\D3b")), 3);
    EXPECT_EQ(ListFolderEntries(1), (List{{2, "C:\\D2"}, {3, "C:\\D3b"}, {4, "C:\\D4"}}));

    // A group's destinations go with it.
    AddFolderEntry(3, Folder("C:\\Gone"));
    EXPECT_TRUE(DeleteFolderGroup(3));
    EXPECT_EQ(SectionText(IniText(), "3_WORKSTATION"), "[3_WORKSTATION]\n1_PATH=!\n");
    EXPECT_EQ(ListFolderEntries(3), List{});
}

TEST_F(FolderGroups, DeleteFolderGroupOnMarkedAndUnusedGroups) {
    SetIniText(kTwoComputers);
    EXPECT_TRUE(DeleteFolderGroup(2));
    EXPECT_EQ(SectionText(IniText(), "2_WORKSTATION"), "[2_WORKSTATION]\n1_PATH=!\n");
    EXPECT_EQ(ListFolderGroups(), (List{{1, "C:\\Data\\Documents"}, {3, "D:\\Projects"}}));

    const std::string before = IniText();
    EXPECT_FALSE(DeleteFolderGroup(7));
    EXPECT_FALSE(DeleteFolderGroup(0));
    EXPECT_FALSE(DeleteFolderGroup(-1));
    EXPECT_EQ(IniText(), before);

    // A destination cannot be added to a group without a source.
    EXPECT_EQ(AddFolderEntry(2, Folder("C:\\Orphan")), 0);
    EXPECT_EQ(AddFolderEntry(9, Folder("C:\\Orphan")), 0);
    EXPECT_EQ(IniText(), before);
}

TEST_F(FolderGroups, AGapEndsTheList) {
    SetIniText(
        "[1_WORKSTATION]\n1_PATH=C:\\One\n"
        "[3_WORKSTATION]\n1_PATH=C:\\Three\n2_PATH=C:\\Dest\n"
        "[4_WORKSTATION]\n1_PATH=\n");
    EXPECT_EQ(ListFolderGroups(), (List{{1, "C:\\One"}}));
    std::string path;
    bool merge = false;
    bool subfolders = false;
    EXPECT_FALSE(ReadFolderEntry(2, 1, path, merge, subfolders));
    EXPECT_EQ(AddFolderGroup(Folder("C:\\Two")), 2);
    EXPECT_EQ(ListFolderGroups(), (List{{1, "C:\\One"}, {2, "C:\\Two"}, {3, "C:\\Three"}}));
    EXPECT_EQ(FindFreeGroup(), 4);
}

TEST_F(FolderGroups, MovedDrivesAreReletteredOnReadingOnly) {
    // E: now holds another volume; the stick with the stored serial sits on F:, and a drive
    // without a medium sits on G:.
    drives_->SetSerial('E', 77);
    std::filesystem::create_directories(dir_ / "F");
    drives_->Set('F', {(dir_ / "F").string(), platform::kDriveRemovable, kSerialE, "", true, true});
    drives_->Set('G', {(dir_ / "G").string(), platform::kDriveCdrom, 5, "", true, false});
    SetIniText(
        "[1_WORKSTATION]\n"
        "1_PATH=E:\\Fixed\n1_TYPE=3\n1_SERIAL=1588342657\n"
        "2_PATH=E:\\Data\n2_TYPE=2\n2_SERIAL=1588342657\n"
        "3_PATH=Q:\\NoMedium\n3_TYPE=2\n3_SERIAL=0\n"
        "4_PATH=E:\\Signed\n4_TYPE=2\n4_SERIAL=+1588342657\n"
        "5_PATH=E:\\Letters\n5_TYPE=2\n5_SERIAL=15883426x7\n"
        "6_PATH=E:\\Empty\n6_TYPE=2\n6_SERIAL=\n"
        "7_PATH=E:\\Wrapped\n7_TYPE=2\n7_SERIAL=4294967373\n"
        "8_PATH=E:\\Zeros\n8_TYPE=2\n8_SERIAL=0001588342657\n"
        "9_PATH=E:\\Remote\n9_TYPE=4\n9_SERIAL=1588342657\n"
        "10_PATH=\\\\server\\share\n10_TYPE=2\n10_SERIAL=1588342657\n"
        "11_PATH=E:\\Nowhere\n11_TYPE=2\n11_SERIAL=123\n"
        "[2_WORKSTATION]\n1_PATH=E:\\Stick\n1_TYPE=0x2\n1_SERIAL=1588342657\n");
    const std::string before = IniText();

    // The lists re-letter removable drives only. 4294967373 would be 77 (E:) if it wrapped.
    EXPECT_EQ(ListFolderGroups(), (List{{1, "E:\\Fixed"}, {2, "F:\\Stick"}}));
    EXPECT_EQ(ListFolderEntries(1), (List{{2, "F:\\Data"},
                                          {3, "G:\\NoMedium"},
                                          {4, "E:\\Signed"},
                                          {5, "E:\\Letters"},
                                          {6, "E:\\Empty"},
                                          {7, "E:\\Wrapped"},
                                          {8, "F:\\Zeros"},
                                          {9, "E:\\Remote"},
                                          {10, "\\\\server\\share"},
                                          {11, "E:\\Nowhere"}}));

    // ReadFolderEntry re-letters fixed drives too.
    const auto read = [](int entry) {
        std::string path;
        bool merge = false;
        bool subfolders = false;
        EXPECT_TRUE(ReadFolderEntry(1, entry, path, merge, subfolders)) << entry;
        return path;
    };
    EXPECT_EQ(read(1), "F:\\Fixed");
    EXPECT_EQ(read(2), "F:\\Data");
    EXPECT_EQ(read(3), "G:\\NoMedium");
    EXPECT_EQ(read(4), "E:\\Signed");
    EXPECT_EQ(read(9), "F:\\Remote");  // every drive type where the serial is not 0
    EXPECT_EQ(read(10), "\\\\server\\share");
    EXPECT_EQ(IniText(), before) << "re-lettering reached the file";
}

TEST_F(FolderGroups, WithoutAComputerNameNothingIsWritten) {
    SetIniText(kTwoComputers);
    platform::SetComputerNameForTesting("");
    EXPECT_EQ(FindFreeGroup(), 0);
    EXPECT_EQ(FindFreeEntry(1), 0);
    EXPECT_FALSE(WriteFolderEntry(1, 1, Folder("C:\\X")));
    EXPECT_EQ(AddFolderGroup(Folder("C:\\X")), 0);
    EXPECT_EQ(AddFolderEntry(1, Folder("C:\\X")), 0);
    EXPECT_FALSE(DeleteFolderGroup(1));
    EXPECT_FALSE(DeleteFolderEntry(1, 2));
    std::string path = "kept";
    bool merge = false;
    bool subfolders = false;
    EXPECT_FALSE(ReadFolderEntry(1, 1, path, merge, subfolders));
    EXPECT_EQ(path, "kept");
    EXPECT_EQ(ListFolderGroups(), List{});
    EXPECT_EQ(ListFolderEntries(1), List{});
    EXPECT_EQ(IniText(), kTwoComputers);
}

TEST_F(FolderGroups, WriteFailureStopsAtThatKeyAndKeepsTheKeysBefore) {
    AddFolderGroup(Folder("C:\\Source"));
    // A serial with a line break cannot be stored: PATH and TYPE are written, then the error.
    try {
        WriteFolderEntry(1, 2, FolderEntry{"C:\\Dest", 2, "12\n34", true, true});
        FAIL() << "no error";
    } catch (const SettingsError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to E:\\Tools\\tarnwick.INI");
    }
    const std::string section = SectionText(IniText(), "1_WORKSTATION");
    EXPECT_NE(section.find("2_PATH=C:\\Dest\n2_TYPE=2\n"), std::string::npos) << section;
    EXPECT_EQ(section.find("2_SERIAL"), std::string::npos) << section;
    EXPECT_EQ(section.find("2_MERGE"), std::string::npos) << section;

    // A path with a line break is refused at the first key, before anything is written.
    const std::string before = IniText();
    EXPECT_THROW(AddFolderGroup(Folder("C:\\Two\r\n[1_WORKSTATION]")), SettingsError);
    EXPECT_EQ(IniText(), before);
}

// Files that are not what the program wrote: no crash, nothing made up, and they can still be
// added to.
TEST_F(FolderGroups, MalformedFilesGiveSensibleAnswers) {
    const std::string longLine(1 << 20, 'x');
    const std::string longPath = "C:\\" + std::string(3000, 'p');
    std::string binary;
    for (int i = 0; i < 4096; ++i) {
        binary.push_back(static_cast<char>((i * 7919) % 256));
    }
    const std::vector<std::pair<std::string, List>> files = {
        {binary, {}},
        {longLine + "\n[1_WORKSTATION]\n1_PATH=C:\\After\n" + longLine, {{1, "C:\\After"}}},
        {"1_WORKSTATION]\n1_PATH=C:\\NoOpen\n", {}},
        {"[1_WORKSTATION\n1_PATH=C:\\NoClose\n", {{1, "C:\\NoClose"}}},
        {"[1_WORKSTATION]\n1_PATH=C:\\First\n1_PATH=C:\\Second\n[1_workstation]\n"
         "1_PATH=C:\\Third\n",
         {{1, "C:\\First"}}},
        {"[1_WORKSTATION]\n1_PATH=C:\\Nul\0tail\n[2_WORK\0STATION]\n1_PATH=C:\\X\n"s,
         {{1, "C:\\Nul"}}},
        {"[1_WORKSTATION]\n1_PATH=" + longPath + "\n", {{1, longPath.substr(0, 2047)}}},
        {"[1_WORKSTATION]\r\n1_PATH = \"C:\\Quoted \" \r\n1_TYPE=banana\r\n1_MERGE=yes\r\n",
         {{1, "C:\\Quoted "}}},
        {"\n\n;;;\n[]\n=\n[=]\n[1_WORKSTATION]]]\n1_PATH==C:\\Eq\n", {{1, "=C:\\Eq"}}},
    };
    for (const auto& [text, expected] : files) {
        SCOPED_TRACE(text.substr(0, 80));
        SetIniText(text);
        EXPECT_EQ(ListFolderGroups(), expected);
        (void)ListFolderEntries(1);
        std::string path;
        bool merge = true;
        bool subfolders = true;
        if (ReadFolderEntry(1, 1, path, merge, subfolders)) {
            EXPECT_FALSE(merge);  // "yes" and missing values read as false
        }
        const int group = AddFolderGroup(Folder("C:\\Added"));
        ASSERT_EQ(group, static_cast<int>(expected.size()) + 1);
        List withAdded = expected;
        withAdded.emplace_back(group, "C:\\Added");
        EXPECT_EQ(ListFolderGroups(), withAdded);
    }
}

TEST_F(FolderGroups, ManyGroupsEndAtTheFirstGap) {
    constexpr int kGroups = 20000;
    std::string text;
    for (int g = 1; g <= kGroups; ++g) {
        text += "[" + std::to_string(g) + "_WORKSTATION]\n1_PATH=C:\\G\n";
    }
    text += "[" + std::to_string(kGroups + 2) + "_WORKSTATION]\n1_PATH=C:\\Hidden\n";
    SetIniText(text);
    EXPECT_EQ(ListFolderGroups().size(), static_cast<std::size_t>(kGroups));
    EXPECT_EQ(FindFreeGroup(), kGroups + 1);
}

// The run reads entries on its worker thread while the window rewrites them: every read sees a
// whole file, so each path is one that was written, never a mix or a missing group.
TEST_F(FolderGroups, ThreadingReaderNeverSeesATornFile) {
    AddFolderGroup(FolderEntry{"C:\\Source", 3, "1", false, true});
    for (int entry = 2; entry <= 4; ++entry) {
        AddFolderEntry(1, Folder("C:\\Dest" + std::to_string(entry)));
    }
    const std::set<std::string> valid = {"C:\\Dest2",
                                         "C:\\Dest3",
                                         "C:\\Dest4",
                                         "!",
                                         "C:\\Rewritten-long-path-2",
                                         "C:\\Rewritten-long-path-3",
                                         "C:\\Rewritten-long-path-4"};
    std::atomic<bool> writing{true};
    std::atomic<int> reads{0};
    std::atomic<int> failures{0};
    std::thread reader([&] {
        while (writing.load() || reads.load() < 50) {
            std::string path;
            bool merge = false;
            bool subfolders = false;
            if (!ReadFolderEntry(1, 1, path, merge, subfolders) || path != "C:\\Source" ||
                !subfolders) {
                ++failures;
            }
            for (int entry = 2; entry <= 4; ++entry) {
                if (!ReadFolderEntry(1, entry, path, merge, subfolders) || !valid.count(path)) {
                    ++failures;
                }
            }
            if (ListFolderGroups().size() != 1) {
                ++failures;
            }
            ++reads;
        }
    });
    for (int round = 0; round < 40; ++round) {
        const int entry = 2 + round % 3;
        if (round % 4 == 3) {
            DeleteFolderEntry(1, entry);
        } else {
            WriteFolderEntry(
                1, entry,
                FolderEntry{round % 2 ? "C:\\Rewritten-long-path-" + std::to_string(entry)
                                      : "C:\\Dest" + std::to_string(entry),
                            3, "7", round % 2 == 0, false});
        }
    }
    writing = false;
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(reads.load(), 50);
}

}  // namespace
}  // namespace tarnwick
