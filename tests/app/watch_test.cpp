// Which volumes the watch takes as plugged in, from one look at the drives to the next.
#include <gtest/gtest.h>

#include "app/watch.h"

namespace tarnwick::app {
namespace {

TEST(Watch, VolumesThatAppearedAfterTheStart) {
    constexpr std::uint32_t kStick = 0x1A2B3C4D;
    struct Step {
        const char* what;
        PresentDrives present;
        std::set<std::uint32_t> appeared;
        bool awaiting;
    };
    const Step steps[] = {
        {"a share present at the start answers now", {{"/", 1}, {"/mnt/share", 7}}, {}, false},
        {"a stick is mounted",
         {{"/", 1}, {"/mnt/share", 7}, {"/media/a", kStick}},
         {kStick},
         false},
        {"nothing changed", {{"/", 1}, {"/mnt/share", 7}, {"/media/a", kStick}}, {}, false},
        {"the share does not answer",
         {{"/", 1}, {"/mnt/share", {}}, {"/media/a", kStick}},
         {},
         false},
        {"it answers again", {{"/", 1}, {"/mnt/share", 7}, {"/media/a", kStick}}, {}, false},
        {"a new stick cannot be read yet",
         {{"/", 1}, {"/mnt/share", 7}, {"/media/a", kStick}, {"/media/b", {}}},
         {},
         true},
        {"now it can",
         {{"/", 1}, {"/mnt/share", 7}, {"/media/a", kStick}, {"/media/b", 9}},
         {9},
         false},
        {"another stick at the first one's place",
         {{"/", 1}, {"/mnt/share", 7}, {"/media/a", 5}, {"/media/b", 9}},
         {5},
         false},
        {"both sticks pulled", {{"/", 1}, {"/mnt/share", 7}}, {}, false},
        {"the first stick plugged in again",
         {{"/", 1}, {"/mnt/share", 7}, {"/run/media/ann/A", kStick}},
         {kStick},
         false},
    };
    // The drives at the start: the share does not answer yet.
    std::map<std::string, SeenDrive> seen{{"/", {1, false}}, {"/mnt/share", {std::nullopt, false}}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        bool awaiting = !step.awaiting;
        EXPECT_EQ(TakeAppeared(seen, step.present, awaiting), step.appeared);
        EXPECT_EQ(awaiting, step.awaiting);
    }
}

}  // namespace
}  // namespace tarnwick::app
