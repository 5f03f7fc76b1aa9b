// The letter memory: letters that stay with their volumes, and the file that keeps them.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/volumes/letter_memory.h"
#include "platform/volumes/mountinfo.h"
#include "support/temp_dir.h"

namespace tarnwick::platform {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> Names(std::initializer_list<const char*> names) {
    return {names.begin(), names.end()};
}

// Each step: the volumes present in mount-table order and the letters they must get.
struct Step {
    std::vector<std::string> present;
    std::string letters;  // one per present volume, '-' for none
};

void RunSteps(const std::vector<Step>& steps, LetterMemory memory = {}) {
    std::uint64_t now = 100;
    for (const Step& step : steps) {
        const std::vector<char> got = AssignLetters(step.present, memory, now++);
        std::string text;
        for (const char c : got) {
            text += c == 0 ? '-' : c;
        }
        EXPECT_EQ(text, step.letters) << "at time " << now - 1;
    }
}

TEST(LetterMemory, LettersStayWithTheirVolumes) {
    // A volume leaves and comes back.
    RunSteps({{Names({"a", "b", "c"}), "DEF"},
              {Names({"a", "c"}), "DF"},
              {Names({"a", "b", "c"}), "DEF"}});
    // An earlier volume (a share) leaves and reconnects after the stick.
    RunSteps({{Names({"share", "stick"}), "DE"},
              {Names({"stick"}), "E"},
              {Names({"stick", "share"}), "ED"}});
    // A new volume while one is remembered but absent takes a letter nobody is remembered for.
    RunSteps({{Names({"a", "b"}), "DE"},
              {Names({"b"}), "E"},
              {Names({"b", "new"}), "EF"},
              {Names({"a", "new", "b"}), "DFE"}});
    // Two present volumes of one identity: the second gets a letter, but only the first's is kept.
    RunSteps({{Names({"twin", "twin"}), "DE"}, {Names({"other", "twin"}), "ED"}});
    // A volume without identity gets a letter and is not remembered.
    RunSteps({{Names({"", "a"}), "DE"}, {Names({"a"}), "E"}, {Names({"b"}), "D"}});
}

TEST(LetterMemory, TheLetterSeenLongestAgoIsGivenAwayWhenNoneIsLeft) {
    std::vector<std::string> all;
    for (int i = 1; i <= 24; ++i) {
        all.push_back("v" + std::to_string(i));
    }
    const std::vector<std::string> first23(all.begin(), all.begin() + 23);
    const std::vector<std::string> from2(all.begin() + 1, all.begin() + 23);
    std::vector<std::string> from3(all.begin() + 2, all.end());  // v3..v24
    std::vector<std::string> back = from3;
    back.push_back("v1");
    RunSteps({
        {first23, "DEFGHIJKLMNOPQRSTUVWXYZ"},
        {from2, "EFGHIJKLMNOPQRSTUVWXYZ"},  // v1 last seen first
        {from3, "FGHIJKLMNOPQRSTUVWXYZD"},  // v24 takes D, v1's
        {back, "FGHIJKLMNOPQRSTUVWXYZDE"},  // v1 is new again and takes E, v2's
        {all, "E-FGHIJKLMNOPQRSTUVWXYZD"},  // 24 present: v2 is left without one
    });
}

TEST(LetterMemory, FileTextRoundTripsAndDamageLosesOnlyTheDamagedLines) {
    const LetterMemory memory{{'D', 5, "uuid 1A2B-3C4D"},
                              {'E', 7, "mount tmpfs /mnt/ram disk\n%x"},
                              {'Z', 18446744073709551615ULL, "share host:/export/"}};
    EXPECT_EQ(ParseLetterMemory(FormatLetterMemory(memory)), memory);

    const std::string good = FormatLetterMemory(memory);
    const std::string header = good.substr(0, good.find('\n') + 1);
    const struct {
        std::string text;
        std::size_t kept;
    } cases[] = {
        {"", 0},
        {"garbage\nD 1 uuid x\n", 0},              // not a memory of this program
        {header + "D 1 uuid x\nD 2 uuid y\n", 1},  // a letter twice: the first counts
        {header + "D 1 uuid x\nE 2 uuid x\n", 1},  // an identity twice
        {header + "A 1 uuid x\nD x uuid y\nE 1 \nF 1 bad%zz\nG 3 uuid z", 1},
        {good.substr(0, good.size() - 44), 2},  // cut short: the last line is lost
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseLetterMemory(c.text).size(), c.kept) << c.text;
    }
}

TEST(LetterMemory, TheFileIsKeptAndNeverStopsTheProgram) {
    const TempDir dir;
    const std::string path = (dir / "state/tarnwick/letters").string();
    const auto assign = [](std::vector<std::string> present) {
        return [present](LetterMemory& memory) { AssignLetters(present, memory, 1); };
    };

    LetterMemory own;
    EXPECT_TRUE(UpdateLetterMemory(path, own, assign(Names({"a", "b"}))));
    LetterMemory fresh;  // another process starts with nothing and reads the file
    EXPECT_TRUE(UpdateLetterMemory(path, fresh, assign(Names({"b"}))));
    EXPECT_EQ(fresh, own);
    EXPECT_EQ(ParseLetterMemory(ReadFile(path)), own);

    // A damaged file gives what is left of it and is written anew.
    WriteFile(path, "tarnwick letters 1\nE 1 b\n\x01\x02garbage");
    LetterMemory afterDamage;
    EXPECT_TRUE(UpdateLetterMemory(path, afterDamage, assign(Names({"c", "b"}))));
    EXPECT_EQ(ParseLetterMemory(ReadFile(path)), (LetterMemory{{'D', 1, "c"}, {'E', 1, "b"}}));

    // A memory that cannot be written or read: the caller's copy is used and kept.
    const std::string blocked = (dir / "file/tarnwick/letters").string();
    WriteFile(dir / "file", "not a folder");
    LetterMemory kept{{'F', 1, "x"}};
    EXPECT_FALSE(UpdateLetterMemory(blocked, kept, assign(Names({"y", "x"}))));
    EXPECT_EQ(kept, (LetterMemory{{'D', 1, "y"}, {'F', 1, "x"}}));
}

TEST(LetterMemory, TwoProcessesUpdatingAtOnceLoseNothing) {
    const TempDir dir;
    const std::string path = (dir / "letters").string();
    constexpr int kProcesses = 6;
    constexpr int kRounds = 20;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Each process sees only its own volume, and must not lose the others' letters.
            for (int round = 0; round < kRounds; ++round) {
                LetterMemory memory;
                UpdateLetterMemory(path, memory, [p](LetterMemory& m) {
                    AssignLetters({"v" + std::to_string(p)}, m, 1);
                });
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const LetterMemory memory = ParseLetterMemory(ReadFile(path));
    ASSERT_EQ(memory.size(), static_cast<std::size_t>(kProcesses));
    for (int p = 0; p < kProcesses; ++p) {
        EXPECT_TRUE(std::any_of(memory.begin(), memory.end(), [p](const RememberedLetter& r) {
            return r.identity == "v" + std::to_string(p);
        }));
    }
}

TEST(LetterMemory, IdentitiesNameTheVolumeNotItsPlace) {
    MountEntry stick{1, 0, {8, 1}, "/", "/media/ann/STICK", "vfat", "/dev/sdb1", "rw"};
    MountEntry share{2, 0, {0, 50}, "/", "/mnt/share", "nfs4", "host:/export", "rw"};
    MountEntry ram{3, 0, {0, 51}, "/", "/mnt/ram", "tmpfs", "tmpfs", "rw"};
    EXPECT_EQ(VolumeIdentity(stick, "1A2B-3C4D"), "uuid 1A2B-3C4D");
    EXPECT_EQ(VolumeIdentity(stick, ""), "mount vfat /media/ann/STICK");
    EXPECT_EQ(VolumeIdentity(share, ""), "share host:/export/");
    EXPECT_EQ(VolumeIdentity(ram, ""), "mount tmpfs /mnt/ram");
}

}  // namespace
}  // namespace tarnwick::platform
