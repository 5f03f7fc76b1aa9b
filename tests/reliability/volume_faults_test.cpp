// Faults of the destination volume during a pass, on real file systems: it fills up, it is
// unmounted under the pass, its device stops answering. Nothing already there is lost, no half
// copy is left under a real name, the pass ends, and a later run completes the work.

#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "engine/copy_pass.h"
#include "reliability_fixture.h"
#include "volumes.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;
using Kind = ScratchVolume::Kind;

std::uint64_t FreeBytes(const fs::path& folder) {
    struct statvfs vfs {};
    return ::statvfs(folder.c_str(), &vfs) == 0
               ? static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize
               : 0;
}

// F: becomes a scratch volume; the destination is its root, as for a memory stick.
class VolumeFaultTest : public ReliabilityTest {
protected:
    bool Mount(Kind kind, std::size_t bytes) {
        volume_.emplace(kind, temp_ / "stick", bytes);
        if (!volume_->Mounted()) {
            return false;
        }
        map_->Set('F',
                  {volume_->MountPoint().string(), platform::kDriveRemovable, 0x5EED0004, "STICK"});
        return true;
    }

    std::int32_t SyncToStick() { return SyncFolders("E:\\Src", "F:\\", true, progress_); }

    std::optional<ScratchVolume> volume_;
};

class RootDestinationFull : public VolumeFaultTest, public ::testing::WithParamInterface<Kind> {};
TEST_P(RootDestinationFull, KeepsWhatIsThereAndCountsOnlyWholeCopies) {
    if (!Mount(GetParam(), GetParam() == Kind::kTmpfs ? 2 << 20 : 8 << 20)) {
        GTEST_SKIP() << volume_->Error();
    }
    const fs::path stick = volume_->MountPoint();
    // Older, smaller versions of some files are there already; empty files need no room for
    // their contents, so they are copied however full the volume is, wherever the listing puts
    // them: proof that the pass goes on past the failures.
    Tree old;
    Tree source;
    for (int i = 0; i < 12; ++i) {
        old["old" + std::to_string(i)] = File(Pattern(4096, 100 + i), kBaseTime);
        source["old" + std::to_string(i)] =
            File(Pattern(96 * 1024, 200 + i), kBaseTime + 100 * kOneSecond);
    }
    old["empty"] = Folder();
    source["empty"] = Folder();
    for (int i = 0; i < 10; ++i) {
        source["empty/e" + std::to_string(i)] = File("", kBaseTime);
    }
    BuildTree(stick, old);
    const Tree before = ReadTree(stick);
    const std::uint64_t room = FreeBytes(stick);
    std::uint64_t total = 0;
    for (int i = 0; total < 2 * room; ++i) {
        const std::string folder = "d" + std::to_string(i % 4);
        source[folder] = Folder();
        const std::size_t size =
            16 * 1024 + (static_cast<std::size_t>(i) * 37 * 1024) % (240 * 1024);
        source[folder + "/f" + std::to_string(i)] =
            File(Pattern(size, static_cast<unsigned>(i)), kBaseTime);
        total += size;
    }
    BuildTree(source_, source);

    const std::int32_t copied = SyncToStick();
    const Tree after = ReadTree(stick);
    const CopyOutcome outcome = CompareWithSource(before, ReadTree(source_), after);
    EXPECT_EQ(outcome.problems, "");
    EXPECT_EQ(copied, static_cast<std::int32_t>(outcome.copied.size()));
    EXPECT_EQ(progress_.FilesCopied, copied);
    // Twice the room was asked for; which copies find room depends on the order in which the
    // pass's threads meet them, not whether some find none.
    const auto files = static_cast<std::size_t>(std::count_if(
        source.begin(), source.end(), [](const auto& entry) { return entry.second.kind == TreeEntry::Kind::kFile; }));
    EXPECT_LT(outcome.copied.size(), files) << "the volume never filled up";
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(after.contains("empty/e" + std::to_string(i))) << i;
    }
    EXPECT_EQ(TemporaryFiles(stick), std::vector<std::string>{});
    EXPECT_TRUE(RsyncAgrees(source_, stick, outcome.copied));
}

INSTANTIATE_TEST_SUITE_P(Volumes, RootDestinationFull, ::testing::Values(Kind::kTmpfs, Kind::kExt4),
                         [](const auto& info) {
                             return info.param == Kind::kTmpfs ? "Tmpfs" : "Ext4";
                         });

// How the medium goes away under a running pass.
enum class Removal { kUnmounted, kDeviceGone, kDeviceGoneAfterJournal };

struct RemovalCase {
    Kind kind;
    Removal removal;
    const char* name;
};

class RootMediumRemoved : public VolumeFaultTest,
                          public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(RootMediumRemoved, ThreadingDuringAPassNothingHangsAndALaterRunCompletesTheWork) {
    const RemovalCase removal = GetParam();
    if (!Mount(removal.kind, 96 << 20)) {
        GTEST_SKIP() << volume_->Error();
    }
    const fs::path stick = volume_->MountPoint();
    Tree source = {{"big.bin", File(Pattern(24 << 20, 1), kBaseTime)}};
    for (int folder = 0; folder < 20; ++folder) {
        const std::string name = "d" + std::to_string(folder);
        source[name] = Folder();
        for (int file = 0; file < 20; ++file) {
            source[name + "/f" + std::to_string(file)] =
                File(Pattern(32 * 1024, static_cast<unsigned>(folder * 100 + file)), kBaseTime);
        }
    }
    BuildTree(source_, source);

    std::atomic<bool> passDone{false};
    std::int32_t first = 0;
    std::thread pass([&] {
        first = SyncToStick();
        passDone = true;
    });
    while (progress_.FilesCopied < 50 && !passDone) {
        std::this_thread::yield();
    }
    // The real drive map loses the letter with the mount.
    map_->SetPresent('F', false);
    if (removal.removal == Removal::kUnmounted) {
        EXPECT_TRUE(volume_->Detach());
    } else {
        EXPECT_TRUE(volume_->Shutdown(removal.removal == Removal::kDeviceGoneAfterJournal));
    }
    pass.join();
    EXPECT_GE(first, 0);
    if (removal.removal == Removal::kUnmounted) {
        EXPECT_TRUE(fs::is_empty(stick)) << "the pass wrote beside the volume, on the disk below";
    } else {
        EXPECT_TRUE(volume_->Detach());
    }

    ASSERT_TRUE(volume_->Mount()) << volume_->Error();
    map_->SetPresent('F', true);
    EXPECT_GE(SyncToStick(), 0);
    Tree onStick = ReadTree(stick);
    onStick.erase("lost+found");  // made again by the journal's replay
    EXPECT_TRUE(SameTree(onStick, source));
    EXPECT_EQ(TemporaryFiles(stick), std::vector<std::string>{});
    std::vector<std::string> files;
    for (const auto& [name, entry] : source) {
        if (entry.kind == TreeEntry::Kind::kFile) {
            files.push_back(name);
        }
    }
    EXPECT_TRUE(RsyncAgrees(source_, stick, files));
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, RootMediumRemoved,
    ::testing::Values(RemovalCase{Kind::kTmpfs, Removal::kUnmounted, "TmpfsUnmounted"},
                      RemovalCase{Kind::kExt4, Removal::kUnmounted, "Ext4Unmounted"},
                      RemovalCase{Kind::kExt4, Removal::kDeviceGone, "Ext4DeviceGone"},
                      RemovalCase{Kind::kExt4, Removal::kDeviceGoneAfterJournal,
                                  "Ext4DeviceGoneAfterItsJournal"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::testing
