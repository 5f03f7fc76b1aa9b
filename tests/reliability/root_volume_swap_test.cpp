// A stick swapped for another at the same mount point, with the real drive map: the run copies
// nothing to or from the folder saved on the first stick and logs it as not found, whether the
// second stick gets a letter of its own (letters remembered) or the first one's (no memory).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "engine/queries.h"
#include "engine/run.h"
#include "platform/system/system.h"
#include "platform/volumes/drives.h"
#include "platform/volumes/linux_drive_map.h"
#include "settings/folder_groups.h"
#include "support/temp_dir.h"
#include "volumes.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

class LinesSink final : public RunSink {
public:
    void Line(std::string_view text) override { text_ += std::string(text) + "\n"; }
    std::string text_;
};

// Removes the mount point and the image beside it once the volumes are gone.
struct MountPointRemover {
    ~MountPointRemover() {
        std::error_code ec;
        fs::remove(mountPoint.string() + ".img", ec);
        fs::remove(mountPoint, ec);
    }
    fs::path mountPoint;
};

// Gives XDG_STATE_HOME back its value at the end.
class ScopedStateHome {
public:
    ScopedStateHome() : had_(std::getenv("XDG_STATE_HOME") != nullptr) {
        if (had_) {
            value_ = std::getenv("XDG_STATE_HOME");
        }
    }
    ~ScopedStateHome() {
        if (had_) {
            setenv("XDG_STATE_HOME", value_.c_str(), 1);
        } else {
            unsetenv("XDG_STATE_HOME");
        }
    }

private:
    bool had_;
    std::string value_;
};

FolderEntry SavedFolder(const fs::path& native, int type, bool merge) {
    const std::string path = platform::ToDrivePath(native.string()).value_or("");
    std::string label;
    const std::uint32_t serial = GetVolumeSerial(path.substr(0, 2), label);
    return FolderEntry{path, type, std::to_string(serial), merge, true};
}

TEST(RootVolumeSwap, TheRunCopiesNothingOntoAnotherStickAtTheSameMountPoint) {
    if (!RunningAsRoot()) {
        GTEST_SKIP() << "mounting a volume needs root";
    }
    const ScopedStateHome stateHome;
    for (const bool remembered : {true, false}) {
        SCOPED_TRACE(remembered ? "letters remembered" : "no letter memory");
        const TempDir temp;
        const TempDir memory;
        setenv("XDG_STATE_HOME", remembered ? memory.str().c_str() : "/proc/no-state", 1);
        platform::SetDriveMapForTesting(platform::CreateLinuxDriveMap());
        platform::SetExecutablePathForTesting((temp / "tarnwick").string());
        platform::SetComputerNameForTesting("WORKSTATION");
        WriteFile(temp / "src" / "a.txt", "a");

        const fs::path stick = "/media/tarnwick-" + std::to_string(getpid()) + "-swap";
        const MountPointRemover remover{stick};
        std::string saved;
        {
            const ScratchVolume first(ScratchVolume::Kind::kExt4, stick, 8 << 20);
            if (!first.Mounted()) {
                GTEST_SKIP() << first.Error();
            }
            fs::create_directories(stick / "DCIM");
            ASSERT_EQ(AddFolderGroup(SavedFolder(temp / "src", 3, false)), 1);
            const FolderEntry card = SavedFolder(stick / "DCIM", 2, true);
            ASSERT_EQ(AddFolderEntry(1, card), 2);
            saved = card.Path;
        }
        if (!remembered) {
            // A new start without a memory: letters in the order of the table again.
            platform::SetDriveMapForTesting(platform::CreateLinuxDriveMap());
        }
        const ScratchVolume second(ScratchVolume::Kind::kExt4, stick, 8 << 20);
        ASSERT_TRUE(second.Mounted()) << second.Error();
        WriteFile(stick / "DCIM" / "other.jpg", "other card");
        const auto now = platform::ToDrivePath((stick / "DCIM").string());
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(*now == saved, !remembered) << *now << " " << saved;

        CopyProgress progress;
        progress.Continue = true;
        LinesSink sink;
        const RunOutcome outcome =
            SyncRun(progress, sink).RunSync(ReadFolderEntry, nullptr, FolderOnItsVolume);
        EXPECT_EQ(outcome.Total, 0) << sink.text_;
        EXPECT_TRUE(outcome.Errors);
        EXPECT_NE(sink.text_.find(" The folder \"" + saved + "\" was not found."),
                  std::string::npos)
            << sink.text_;
        EXPECT_FALSE(fs::exists(stick / "DCIM" / "a.txt"));
        EXPECT_FALSE(fs::exists(temp / "src" / "other.jpg"));

        platform::SetDriveMapForTesting(nullptr);
        platform::SetExecutablePathForTesting(std::nullopt);
        platform::SetComputerNameForTesting(std::nullopt);
    }
}

}  // namespace
}  // namespace tarnwick::testing
