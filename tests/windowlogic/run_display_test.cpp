// What a run shows without a window: the progress fields on each tick and at the end, and when
// the log window opens by itself.

#include "windowlogic/run_display.h"

#include <gtest/gtest.h>

namespace tarnwick::windowlogic {
namespace {

TEST(RunDisplay, TicksShowThePublishedPairWithItsCount) {
    const struct {
        const char* name;
        bool running;
        std::optional<std::string> source, destination;
        ProgressFields fields;
    } cases[] = {
        {"stopped", false, "C:\\Data", "E:\\Backup", {}},
        {"nothing published", true, std::nullopt, std::nullopt, {}},
        {"source only", true, "C:\\Data", std::nullopt, {"C:\\Data", std::nullopt, std::nullopt}},
        {"pair", true, "C:\\Data", "E:\\Backup", {"C:\\Data", "E:\\Backup", "42"}},
    };
    for (const auto& c : cases) {
        CopyProgress progress;
        progress.Continue = c.running;
        progress.SourcePath.Set(c.source);
        progress.DestinationPath.Set(c.destination);
        progress.FilesCopied = 42;
        EXPECT_EQ(ProgressTick(progress), c.fields) << c.name;
    }
    EXPECT_EQ(RunEndFields(7), (ProgressFields{"", "", "7"}));

    CopyProgress leftOver;
    leftOver.SourcePath.Set("C:\\Data");
    leftOver.DestinationPath.Set("E:\\Backup");
    leftOver.FilesCopied = 3;
    ResetForRun(leftOver);
    EXPECT_EQ(ProgressTick(leftOver), ProgressFields{});
    EXPECT_TRUE(leftOver.Continue);
    EXPECT_EQ(leftOver.FilesCopied, 0);
}

TEST(RunDisplay, TheLogOpensOnceForEachNewErrorLine) {
    ErrorLines lines;
    EXPECT_FALSE(lines.LogDue(true, false));  // the flag without a line
    lines.LineWritten();
    EXPECT_FALSE(lines.LogDue(false, false));
    EXPECT_FALSE(lines.LogDue(true, true));  // already open
    EXPECT_TRUE(lines.LogDue(true, false));
    lines.LogOpened();
    EXPECT_FALSE(lines.LogDue(true, false));  // the user closed it: not again for the same line
    lines.LineWritten();
    EXPECT_TRUE(lines.LogDue(true, false));
    lines.RunStarted();
    EXPECT_FALSE(lines.LogDue(true, false));
}

}  // namespace
}  // namespace tarnwick::windowlogic
