// The main window's caption and Copy and Run, from the executable's path.

#include "windowlogic/program.h"

#include <gtest/gtest.h>

#include "settings/settings_fixture.h"

namespace tarnwick::windowlogic {
namespace {

TEST(Program, CaptionNamesTheFolderWhereThePathSplits) {
    const struct {
        std::string path;
        const char* caption;
    } cases[] = {
        {"E:\\Tools\\Tarnwick.exe", "Tarnwick - Location E:\\Tools"},
        {"E:\\Tarnwick.exe", "Tarnwick - Location E:"},
        {"E:\\", "Tarnwick"},
        {"E:\\Tools\\", "Tarnwick"},
        {"\\Tarnwick.exe", "Tarnwick"},
        {"Tarnwick.exe", "Tarnwick"},
        {"E:\\" + std::string(1021, 'a'), "Tarnwick"},  // more than 1,023 characters
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MainCaption(SplitExecutablePath(c.path)), c.caption) << c.path;
    }
}

TEST(Program, CopyTargetKeepsTheFileNameAndFitsAPath) {
    const ExecutableParts parts{"C:\\Tools", "tarnwick.exe"};
    EXPECT_EQ(CopyTarget("F:", parts), "F:\\tarnwick.exe");
    EXPECT_EQ(CopyTarget("F:\\Apps", parts), "F:\\Apps\\tarnwick.exe");
    EXPECT_EQ(CopyTarget(std::string(2034, 'a'), parts)->size(), 2047u);
    EXPECT_EQ(CopyTarget(std::string(2035, 'a'), parts), std::nullopt);
    EXPECT_EQ(CopyFailedText("F:\\tarnwick.exe"),
              " Unable to copy the appliction to \n\n\"F:\\tarnwick.exe\".");
}

class CopyAndRunTest : public testing::SettingsFixture {};

// The program runs as E:\Tools\tarnwick.
TEST_F(CopyAndRunTest, CopiesIntoTheChosenFolderAndStartsTheCopy) {
    const struct {
        const char* name;
        int chosen;  // the browser's answer
        bool copies, starts;
        std::string copiedTo, started, errorCaption, errorText;
        bool result;
    } cases[] = {
        {"cancelled", 2, true, true, "", "", "", "", false},
        {"copied and started", 1, true, true, "F:\\run\\tarnwick", "F:\\run\\tarnwick", "", "",
         true},
        {"copy failed", 1, false, true, "F:\\run\\tarnwick", "", kCopyFailedCaption,
         CopyFailedText("F:\\run\\tarnwick"), false},
        {"start failed", 1, true, false, "F:\\run\\tarnwick", "F:\\run\\tarnwick",
         "F:\\run\\tarnwick", kRunFailedText, false},
    };
    for (const auto& c : cases) {
        std::string copiedFrom, copiedTo, started, caption, text, prompt;
        const bool result = CopyAndRun({
            [&](const std::string& asked, std::string& folder) {
                prompt = asked;
                folder = "F:\\run";
                return c.chosen;
            },
            [&](const std::string& from, const std::string& to) {
                copiedFrom = from;
                copiedTo = to;
                return c.copies;
            },
            [&](const std::string& target) {
                started = target;
                return c.starts;
            },
            [&](const std::string& shownCaption, const std::string& shownText) {
                caption = shownCaption;
                text = shownText;
            },
        });
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(prompt, kCopyPrompt) << c.name;
        EXPECT_EQ(copiedFrom, c.copiedTo.empty() ? "" : "E:\\Tools\\tarnwick") << c.name;
        EXPECT_EQ(copiedTo, c.copiedTo) << c.name;
        EXPECT_EQ(started, c.started) << c.name;
        EXPECT_EQ(caption, c.errorCaption) << c.name;
        EXPECT_EQ(text, c.errorText) << c.name;
    }
}

}  // namespace
}  // namespace tarnwick::windowlogic
