// Cancel at any moment of a pass: every destination file is the old version or the whole new
// one, the count is the number of new ones, nothing temporary stays, and the next run finishes
// the job.

#include <atomic>
#include <iostream>
#include <optional>
#include <random>
#include <thread>

#include "reliability_fixture.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

class Cancel : public ReliabilityTest {
protected:
    // A source with files in folders at two levels and a destination that holds older versions
    // of about half of them and a few files of its own.
    std::pair<Tree, Tree> MakeTrees(std::mt19937& random) {
        std::uniform_int_distribution<std::size_t> size(0, 192 * 1024);
        std::bernoulli_distribution coin(0.5);
        Tree source;
        Tree destination = {{"only-here.txt", File("stays", kBaseTime)}};
        for (const std::string folder : {"", "d1/", "d2/", "d1/inner/"}) {
            for (int file = 0; file < 6; ++file) {
                const std::string name = folder + "f" + std::to_string(file);
                const auto seed = static_cast<unsigned>(random());
                source[name] = File(Pattern(size(random), seed), kBaseTime + 100 * kOneSecond);
                if (coin(random)) {
                    destination[name] = File(Pattern(size(random), seed + 1), kBaseTime);
                }
            }
        }
        AddParents(source);
        AddParents(destination);
        return {source, destination};
    }
};

TEST_F(Cancel, ThreadingClearingContinueAtAnyMomentLosesAndCorruptsNothing) {
    constexpr unsigned kRuns = 120;
    constexpr std::int32_t kFiles = 24;  // all of them newer than the destination's or missing
    unsigned cutShort = 0;
    for (unsigned seed = 1; seed <= kRuns; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        fs::remove_all(source_);
        fs::remove_all(destination_);
        const auto [source, existing] = MakeTrees(random);
        BuildTree(source_, source);
        BuildTree(destination_, existing);
        const Tree before = ReadTree(destination_);

        // The moment: after the display has moved on some number of times, and then a few more
        // turns of the scheduler. (Not after some number of copies: copies are counted when
        // their batch is named, which may be at the end of the pass.)
        // A pass shows few entries before its end on eight threads (a folder each), so later
        // moments would mostly fall after it: the moments are drawn where a pass still runs.
        const int entriesFirst = std::uniform_int_distribution<int>(0, 6)(random);
        const int turnsAfter = std::uniform_int_distribution<int>(0, 200)(random);
        // Every other run on the pool of threads (four folders for them), the others on one.
        SetCopyPassWorkers(seed % 2 == 0 ? 8 : 1);
        progress_.FilesCopied = 0;
        progress_.Continue = true;
        std::atomic<bool> done{false};
        std::thread canceller([&] {
            std::optional<std::string> shown = progress_.SourcePath.Get();
            for (int moves = 0; moves < entriesFirst && !done;) {
                std::optional<std::string> now = progress_.SourcePath.Get();
                if (now != shown) {
                    shown = std::move(now);
                    ++moves;
                }
                std::this_thread::yield();
            }
            for (int turn = 0; turn < turnsAfter && !done; ++turn) {
                std::this_thread::yield();
            }
            progress_.Continue = false;
        });
        const std::int32_t copied = Sync();
        done = true;
        canceller.join();
        SetCopyPassWorkers(0);

        const CopyOutcome outcome = CompareWithSource(before, source, ReadTree(destination_));
        ASSERT_EQ(outcome.problems, "");
        EXPECT_EQ(copied, static_cast<std::int32_t>(outcome.copied.size()));
        EXPECT_EQ(progress_.FilesCopied, copied);
        EXPECT_EQ(TemporaryFiles(destination_), std::vector<std::string>{});
        cutShort += copied < kFiles ? 1 : 0;

        progress_.Continue = true;
        Sync();
        Tree expected = before;
        for (const auto& [name, entry] : source) {
            expected[name] = entry;
        }
        ASSERT_TRUE(SameTree(ReadTree(destination_), expected));
    }
    // Where the moments fall depends on the scheduler; a test in which none fell inside a pass
    // would prove nothing.
    EXPECT_GT(cutShort, 0U) << "no run was cancelled before its end";
    std::cout << cutShort << " of " << kRuns << " runs cancelled before their end\n";
}

}  // namespace
}  // namespace tarnwick::testing
