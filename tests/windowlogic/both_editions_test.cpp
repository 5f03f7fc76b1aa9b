// One stick, two editions: the settings file that one edition's list commands write is the one
// the other edition's lists read. Built for Linux and for Windows alike; each edition writes its
// own layout of the file (the Windows services end lines with CRLF and put no blank line between
// sections), and each reads both.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

#include "settings/settings_fixture.h"
#include "windowlogic/folder_lists.h"

namespace tarnwick::windowlogic {

void PrintTo(const ListItem& item, std::ostream* out) {
    *out << item.number << ' ' << item.path;
}

namespace {

using testing::kSerialC;
using testing::kSerialE;

// Saves every path it is asked for as `next`, with the drive type and serial of its letter.
class SavingDialog final : public FolderDialog {
public:
    std::string next;
    bool flag = false;

    bool AskSource(const std::string&, std::string& path, bool& subfolders) override {
        return Save(path, subfolders);
    }
    bool AskDestination(const std::string&, std::string& path, bool& merge) override {
        return Save(path, merge);
    }
    int SavedDriveType() const override { return saved_.front() == 'C' ? 3 : 2; }
    std::string SavedSerial() const override {
        return std::to_string(saved_.front() == 'C' ? kSerialC : kSerialE);
    }

private:
    bool Save(std::string& path, bool& value) {
        path = saved_ = next;
        value = flag;
        return true;
    }
    std::string saved_;
};

// What the commands below leave, as each edition writes it.
constexpr const char* kWrittenOnLinux =
    "[1_WORKSTATION]\n"
    "1_PATH=C:\\Photos\n1_TYPE=3\n1_SERIAL=2891450123\n1_MERGE=0\n1_SUBDIR=1\n"
    "2_PATH=E:\\Backup\\Photos\n2_TYPE=2\n2_SERIAL=1588342657\n2_MERGE=1\n2_SUBDIR=0\n"
    "\n"
    "[3_WORKSTATION]\n"
    "1_PATH=C:\\Mail\n1_TYPE=3\n1_SERIAL=2891450123\n1_MERGE=0\n1_SUBDIR=0\n"
    "2_PATH=E:\\Mail\n2_TYPE=2\n2_SERIAL=1588342657\n2_MERGE=0\n2_SUBDIR=0\n"
    "\n"
    "[2_WORKSTATION]\n"
    "1_PATH=!\n";
constexpr const char* kWrittenOnWindows =
    "[1_WORKSTATION]\r\n"
    "1_PATH=C:\\Photos\r\n1_TYPE=3\r\n1_SERIAL=2891450123\r\n1_MERGE=0\r\n1_SUBDIR=1\r\n"
    "2_PATH=E:\\Backup\\Photos\r\n2_TYPE=2\r\n2_SERIAL=1588342657\r\n2_MERGE=1\r\n2_SUBDIR=0\r\n"
    "[3_WORKSTATION]\r\n"
    "1_PATH=C:\\Mail\r\n1_TYPE=3\r\n1_SERIAL=2891450123\r\n1_MERGE=0\r\n1_SUBDIR=0\r\n"
    "2_PATH=E:\\Mail\r\n2_TYPE=2\r\n2_SERIAL=1588342657\r\n2_MERGE=0\r\n2_SUBDIR=0\r\n"
    "[2_WORKSTATION]\r\n"
    "1_PATH=!\r\n";

class BothEditions : public testing::SettingsFixture {
protected:
    static void ExpectTheLists() {
        EXPECT_EQ(SourceItems(), (ListItems{{1, "C:\\Photos"}, {3, "C:\\Mail"}}));
        EXPECT_EQ(DestinationItems(1), (ListItems{{2, "E:\\Backup\\Photos"}}));
        EXPECT_EQ(DestinationItems(3), (ListItems{{2, "E:\\Mail"}}));
    }
};

TEST_F(BothEditions, TheListCommandsWriteThisEditionsLayout) {
    SavingDialog dialog;
    for (const auto& [source, subfolders, destination, merge] :
         {std::tuple{"C:\\Photos", true, "E:\\Backup\\Photos", true},
          std::tuple{"C:\\Old", false, "", false}, std::tuple{"C:\\Mail", false, "E:\\Mail", false}}) {
        dialog.next = source;
        dialog.flag = subfolders;
        ASSERT_TRUE(NewSource(dialog, std::nullopt).has_value()) << source;
        if (*destination != '\0') {
            dialog.next = destination;
            dialog.flag = merge;
            const int group = SourceItems().back().number;
            ASSERT_TRUE(NewDestination(dialog, group, std::nullopt).has_value()) << destination;
        }
    }
    DeleteSource(2);
#ifdef _WIN32
    EXPECT_EQ(IniText(), kWrittenOnWindows);
#else
    EXPECT_EQ(IniText(), kWrittenOnLinux);
#endif
    ExpectTheLists();
}

TEST_F(BothEditions, EachEditionReadsTheFileTheOtherWrote) {
    for (const char* written : {kWrittenOnLinux, kWrittenOnWindows}) {
        SetIniText(written);
        ExpectTheLists();
    }
}

}  // namespace
}  // namespace tarnwick::windowlogic
