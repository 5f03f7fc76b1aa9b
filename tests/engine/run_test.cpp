#include "engine/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine_fixture.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

// Keeps the lines of a run, and how many of them were errors.
class RecordingSink : public RunSink {
public:
    void Line(std::string_view text) override { lines.emplace_back(text); }
    void ErrorRaised() override { ++errors; }

    bool Has(std::string_view line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::vector<std::string> lines;
    int errors = 0;
};

class RunLogTest : public EngineTest {
protected:
    // One group: E:\Src with subfolders, and its Backup destination F:\Dst.
    RunOutcome RunOneGroup(RecordingSink& sink) {
        CopyProgress progress;
        progress.Continue = true;
        SyncRun run(progress, sink);
        return run.RunSync(
            [](int group, int entry, std::string& path, bool& merge, bool& subfolders) {
                if (group != 1 || entry > 2) {
                    return false;
                }
                path = entry == 1 ? "E:\\Src" : "F:\\Dst";
                merge = false;
                subfolders = true;
                return true;
            });
    }

    const fs::path src_ = e_ / "Src";
    const fs::path dst_ = f_ / "Dst";
};

// What a pair leaves as the user has it, or could not make, is told on a plain line at its end;
// only a folder that is not there is an error.
TEST_F(RunLogTest, APairEndsWithALineForWhatItLeftBehind) {
    const struct {
        const char* what;
        std::function<void(const fs::path& src, const fs::path& dst)> make;
        const char* line;
        int errors;
    } cases[] = {
        {"a read-only destination file",
         [](const fs::path& src, const fs::path& dst) {
             WriteFile(src / "r", "new", kBaseTime + 100 * kOneSecond);
             WriteFile(dst / "r", "old", kBaseTime);
             fs::permissions(dst / "r", fs::perms::owner_read);
         },
         "1 file could not be copied to \"F:\\Dst\" (read-only).", 0},
        {"a file in the way of a folder",
         [](const fs::path& src, const fs::path& dst) {
             WriteFile(src / "sub" / "f", "f", kBaseTime);
             WriteFile(dst / "sub", "a file", kBaseTime);
         },
         "1 folder could not be read or made for \"F:\\Dst\" (a file in the way).", 0},
        {"a file moved aside by a copy that did not finish",
         [](const fs::path&, const fs::path& dst) {
             WriteFile(dst / ".tarnwick-kept-12-3-doc", "user's", kBaseTime);
         },
         "1 file in \"F:\\Dst\" given back the name an interrupted copy had taken.", 0},
        {"a missing destination", [](const fs::path&, const fs::path& dst) { fs::remove_all(dst); },
         nullptr, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(src_);
        fs::remove_all(dst_);
        fs::create_directories(src_);
        fs::create_directories(dst_);
        c.make(src_, dst_);
        RecordingSink sink;
        const RunOutcome outcome = RunOneGroup(sink);
        if (c.line != nullptr) {
            EXPECT_TRUE(sink.Has(c.line)) << ::testing::PrintToString(sink.lines);
        }
        EXPECT_EQ(sink.errors, c.errors);
        EXPECT_EQ(outcome.Errors, c.errors > 0);
        if (fs::exists(dst_)) {
            fs::permissions(dst_, fs::perms::all);
            for (const auto& entry : fs::recursive_directory_iterator(dst_)) {
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
            }
        }
    }
}

}  // namespace
}  // namespace tarnwick::testing
