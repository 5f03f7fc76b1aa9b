// The Windows edition's main window and log window with real windows (run under wine on a
// virtual display by folder_dialog_e2e.sh): the lists as the settings hold them, the caption, the
// buttons a selection allows, and what Delete leaves selected; the log's lines.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings/settings_fixture.h"
#include "winui/Flog.h"
#include "winui/Unit1.h"

namespace tarnwick::winui {
namespace {

std::string Row(HWND list, int row) {
    std::string text(static_cast<std::size_t>(SendMessageA(list, LB_GETTEXTLEN, row, 0)), '\0');
    SendMessageA(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text.data()));
    return text;
}

int Count(HWND list) {
    return static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
}

int Selected(HWND list) {
    return static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
}

class MainWindowTest : public testing::SettingsFixture {
protected:
    MainWindowTest() {
        SetIniText(
            "[1_WORKSTATION]\r\n"
            "1_PATH=C:\\A\r\n1_TYPE=3\r\n1_SERIAL=1\r\n1_MERGE=0\r\n1_SUBDIR=1\r\n"
            "2_PATH=C:\\One\r\n2_TYPE=3\r\n2_SERIAL=1\r\n2_MERGE=0\r\n2_SUBDIR=0\r\n"
            "3_PATH=C:\\Two\r\n3_TYPE=3\r\n3_SERIAL=1\r\n3_MERGE=1\r\n3_SUBDIR=0\r\n"
            "[2_WORKSTATION]\r\n"
            "1_PATH=C:\\B\r\n1_TYPE=3\r\n1_SERIAL=1\r\n1_MERGE=0\r\n1_SUBDIR=1\r\n");
    }
};

TEST_F(MainWindowTest, ListsFollowTheSelectionAndTheCommands) {
    TForm1 form(GetModuleHandleA(nullptr));
    form.FormShow();
    EXPECT_EQ(WindowText(form.Handle()), "Tarnwick - Location E:\\Tools");
    ASSERT_EQ(Count(form.ListBox1), 2);
    EXPECT_EQ(Row(form.ListBox1, 0), "C:\\A");
    EXPECT_EQ(Row(form.ListBox1, 1), "C:\\B");
    EXPECT_EQ(WindowText(form.lblCount), "0");

    // Each step, and the selection and the buttons it leaves.
    const struct {
        const char* name;
        void (*step)(TForm1&);
        int sources, source, destinations, destination;
    } steps[] = {
        {"nothing selected", [](TForm1&) {}, 2, -1, 0, -1},
        {"the first source",
         [](TForm1& f) {
             SendMessageA(f.ListBox1, LB_SETCURSEL, 0, 0);
             f.ListBox1Click();
         },
         2, 0, 2, 0},
        {"the second destination",
         [](TForm1& f) {
             SendMessageA(f.ListBox2, LB_SETCURSEL, 1, 0);
             f.ListBox2Click();
         },
         2, 0, 2, 1},
        {"delete the second destination", [](TForm1& f) { f.bbtnDel2Click(); }, 2, 0, 1, 0},
        {"delete the first source", [](TForm1& f) { f.bbtnDel1Click(); }, 1, 0, 0, -1},
        {"delete the last source", [](TForm1& f) { f.bbtnDel1Click(); }, 0, -1, 0, -1},
    };
    for (const auto& s : steps) {
        s.step(form);
        EXPECT_EQ(Count(form.ListBox1), s.sources) << s.name;
        EXPECT_EQ(Selected(form.ListBox1), s.source) << s.name;
        EXPECT_EQ(Count(form.ListBox2), s.destinations) << s.name;
        EXPECT_EQ(Selected(form.ListBox2), s.destination) << s.name;
        const bool source = s.source >= 0;
        const bool destination = s.destination >= 0;
        EXPECT_EQ(IsWindowEnabled(form.bbtnChange1) != FALSE, source) << s.name;
        EXPECT_EQ(IsWindowEnabled(form.bbtnNew2) != FALSE, source) << s.name;
        EXPECT_EQ(IsWindowEnabled(form.bbtnDel2) != FALSE, destination) << s.name;
        EXPECT_TRUE(IsWindowEnabled(form.bbtnNew1)) << s.name;
    }
    EXPECT_NE(IniText().find("1_PATH=!"), std::string::npos);
}

TEST(LogWindow, LinesAreAppendedInOrderAndCleared) {
    TForm2 log(GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(WindowText(log.Handle()), "Log");
    log.ClearLines();
    log.AppendLine("------------ Logging Starts");
    log.AppendLine("");
    log.AppendLine("Total files copied : 0.");
    EXPECT_EQ(WindowText(log.Memo1), "------------ Logging Starts\r\n\r\nTotal files copied : 0.");
    log.ClearLines();
    EXPECT_EQ(WindowText(log.Memo1), "");
    log.AppendLine("one");
    EXPECT_EQ(WindowText(log.Memo1), "one");
}

}  // namespace
}  // namespace tarnwick::winui
