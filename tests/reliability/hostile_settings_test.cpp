// Settings files that no version of the program wrote: cut off anywhere, full of garbage, far too
// large, with numbers out of every range. The group operations list what they can, never crash,
// and refuse only what they must; the file is changed only by a write that was asked for.

#include <climits>
#include <random>

#include "settings/folder_groups.h"
#include "settings/settings_file.h"
#include "settings/settings_fixture.h"

namespace tarnwick::testing {
namespace {

using List = std::vector<std::pair<int, std::string>>;

const std::string kFile =
    "[1_WORKSTATION]\n"
    "1_PATH=C:\\Data\\Documents\n1_TYPE=3\n1_SERIAL=2891450123\n1_MERGE=0\n1_SUBDIR=1\n"
    "2_PATH=E:\\Backup\\Documents\n2_TYPE=2\n2_SERIAL=1588342657\n2_MERGE=0\n2_SUBDIR=0\n"
    "3_PATH=!\n3_TYPE=\n3_SERIAL=\n3_MERGE=0\n3_SUBDIR=0\n"
    "4_PATH=F:\\Shared\n4_TYPE=2\n4_SERIAL=3021887744\n4_MERGE=1\n4_SUBDIR=0\n"
    "\r\n"
    "[2_WORKSTATION]\r\n"
    "1_PATH=!\r\n"
    "[3_WORKSTATION]\n"
    "1_PATH=D:\\Projects\n1_TYPE=3\n1_SERIAL=2891450123\n1_MERGE=0\n1_SUBDIR=0\n";

const List kGroups = {{1, "C:\\Data\\Documents"}, {3, "D:\\Projects"}};
const List kEntries = {{2, "E:\\Backup\\Documents"}, {4, "F:\\Shared"}};

FolderEntry Source(const std::string& path) {
    return FolderEntry{path, 3, "1", false, true};
}

class HostileSettings : public SettingsFixture {
protected:
    // What every operation must manage on any file: no crash, the listed groups readable, and a
    // new group added at the first free number with everything listed before still listed.
    void ExpectUsable() {
        const List groups = ListFolderGroups();
        for (const auto& [group, path] : groups) {
            (void)ListFolderEntries(group);
            std::string read;
            bool merge = false;
            bool subfolders = false;
            EXPECT_TRUE(ReadFolderEntry(group, 1, read, merge, subfolders)) << group;
        }
        const int free = FindFreeGroup();
        ASSERT_EQ(AddFolderGroup(Source("C:\\Added")), free);
        const List after = ListFolderGroups();
        for (const auto& listed : groups) {
            EXPECT_NE(std::find(after.begin(), after.end(), listed), after.end()) << listed.second;
        }
        EXPECT_NE(std::find(after.begin(), after.end(), std::pair(free, std::string("C:\\Added"))),
                  after.end());
    }
};

// A file cut off at any byte (a full disk under another program, a copy that stopped): each
// group and entry shown is one of the whole file's, its path whole or cut short, never mixed up
// with another.
TEST_F(HostileSettings, FileCutOffAtAnyByte) {
    const auto isCutFrom = [](const List& shown, const List& whole) {
        for (const auto& [number, path] : shown) {
            const auto it = std::find_if(whole.begin(), whole.end(),
                                         [&](const auto& item) { return item.first == number; });
            if (it == whole.end() || !it->second.starts_with(path)) {
                return false;
            }
        }
        return true;
    };
    for (std::size_t cut = 0; cut <= kFile.size(); ++cut) {
        SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
        SetIniText(kFile.substr(0, cut));
        EXPECT_TRUE(isCutFrom(ListFolderGroups(), kGroups));
        EXPECT_TRUE(isCutFrom(ListFolderEntries(1), kEntries));
        ExpectUsable();
    }
}

// Random bytes with pieces of the layout mixed in.
TEST_F(HostileSettings, GarbageOfEveryKind) {
    const std::vector<std::string> pieces = {"[1_WORKSTATION]",
                                             "[2_WORKSTATION]",
                                             "[1_workstation",
                                             "1_PATH=",
                                             "2_PATH=C:\\X",
                                             "1_TYPE=2",
                                             "1_SERIAL=",
                                             "=",
                                             "\n",
                                             "\r\n",
                                             "\r",
                                             std::string(1, '\0'),
                                             "[",
                                             "]",
                                             "!",
                                             "1_MERGE=-1",
                                             ";",
                                             "\xff\xfe",
                                             "\"",
                                             " \t"};
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::string text;
        const std::size_t parts = random() % 200;
        for (std::size_t i = 0; i < parts; ++i) {
            if (random() % 3 == 0) {
                text += static_cast<char>(random());
            } else {
                text += pieces[random() % pieces.size()];
            }
        }
        SetIniText(text);
        ExpectUsable();
    }
}

// Numbers that are negative, too large for their type or no numbers at all: TYPE reads as -1
// (a serial other than 0 re-letters every type all the same), flags as false (any other number
// as true), and a serial that is no unsigned 32-bit number re-letters nothing.
TEST_F(HostileSettings, NumbersOutOfEveryRange) {
    struct Case {
        std::string keys;  // of entry 1 of group 1
        std::string path;
        bool merge;
        bool subfolders;
    };
    // The stick with kSerialE now sits on F:.
    drives_->SetSerial('E', 77);
    std::filesystem::create_directories(dir_ / "F");
    drives_->Set('F', {(dir_ / "F").string(), platform::kDriveRemovable, kSerialE, "", true, true});
    const std::string serial = std::to_string(kSerialE);
    const std::vector<Case> cases = {
        {"1_TYPE=2\n1_SERIAL=" + serial, "F:\\D", false, false},
        {"1_TYPE=-2\n1_SERIAL=" + serial, "F:\\D", false, false},
        {"1_TYPE=4294967298\n1_SERIAL=" + serial, "F:\\D", false, false},
        {"1_TYPE=99999999999999999999999999\n1_SERIAL=" + serial, "F:\\D", false, false},
        {"1_TYPE=two\n1_SERIAL=" + serial, "F:\\D", false, false},
        {"1_TYPE=0x2\n1_SERIAL=" + serial, "F:\\D", false, false},
        {"1_TYPE=2\n1_SERIAL=" + std::string(5000, '9'), "E:\\D", false, false},
        {"1_MERGE=-1\n1_SUBDIR=2147483647", "E:\\D", true, true},
        {"1_MERGE=2147483648\n1_SUBDIR=-2147483649", "E:\\D", false, false},
        {"1_MERGE=0x0\n1_SUBDIR=0x7fffffff", "E:\\D", false, true},
        {"1_MERGE=1.0\n1_SUBDIR= 1 ", "E:\\D", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        SetIniText("[1_WORKSTATION]\n1_PATH=E:\\D\n" + c.keys + "\n");
        std::string path;
        bool merge = !c.merge;
        bool subfolders = !c.subfolders;
        ASSERT_TRUE(ReadFolderEntry(1, 1, path, merge, subfolders));
        EXPECT_EQ(path, c.path);
        EXPECT_EQ(merge, c.merge);
        EXPECT_EQ(subfolders, c.subfolders);
    }

    // Group and entry numbers no caller should pass, and keys of numbers no walk reaches.
    drives_->Remove('F');
    drives_->SetSerial('E', kSerialE);
    SetIniText(kFile +
               "[0_WORKSTATION]\n1_PATH=C:\\Zero\n[-1_WORKSTATION]\n1_PATH=C:\\Neg\n"
               "[1_WORKSTATION]\n0_PATH=C:\\Zero\n-1_PATH=C:\\Neg\n"
               "99999999999_PATH=C:\\Huge\n");
    const std::string before = IniText();
    std::string path = "unchanged";
    bool flag = false;
    for (const int number : {0, -1, INT_MIN}) {
        EXPECT_FALSE(ReadFolderEntry(number, 1, path, flag, flag));
        EXPECT_FALSE(ReadFolderEntry(1, number, path, flag, flag));
        EXPECT_TRUE(ListFolderEntries(number).empty());
        EXPECT_FALSE(DeleteFolderGroup(number));
        EXPECT_FALSE(DeleteFolderEntry(1, number));
        EXPECT_FALSE(WriteFolderEntry(number, 1, Source("C:\\Bad")));
        EXPECT_EQ(AddFolderEntry(number, Source("C:\\Bad")), 0);
    }
    EXPECT_FALSE(ReadFolderEntry(INT_MAX, INT_MAX, path, flag, flag));
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(IniText(), before);
    EXPECT_EQ(ListFolderGroups(), kGroups);
    EXPECT_EQ(ListFolderEntries(1), kEntries);
}

// Sizes beyond any that the program writes: a file too large to read is neither read nor
// destroyed; very long values and very many entries are handled whole.
TEST_F(HostileSettings, EnormousFilesAndValues) {
    std::string huge = kFile;
    while (huge.size() <= platform::kMaxProfileFileSize) {
        huge += "; padding " + std::string(4096, '#') + "\n";
    }
    SetIniText(huge);
    EXPECT_TRUE(ListFolderGroups().empty());
    EXPECT_EQ(FindFreeGroup(), 1);
    try {
        AddFolderGroup(Source("C:\\New"));
        ADD_FAILURE() << "a write into a file too large to read went through";
    } catch (const SettingsError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to E:\\Tools\\tarnwick.INI");
    }
    EXPECT_EQ(IniText(), huge);

    // A path of 10,000 characters reads back as its first 2047, as it always did; entries by
    // the ten thousand are all listed.
    const std::string longPath = "C:\\" + std::string(9997, 'p');
    std::string text = "[1_WORKSTATION]\n1_PATH=" + longPath + "\n";
    for (int entry = 2; entry <= 10001; ++entry) {
        text += std::to_string(entry) + "_PATH=C:\\D" + std::to_string(entry) + "\n";
    }
    SetIniText(text);
    EXPECT_EQ(ListFolderGroups(), (List{{1, longPath.substr(0, 2047)}}));
    EXPECT_EQ(ListFolderEntries(1).size(), 10000U);
    EXPECT_EQ(AddFolderEntry(1, Source("C:\\Last")), 10002);
}

}  // namespace
}  // namespace tarnwick::testing
