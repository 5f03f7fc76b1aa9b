// A user saves the destination file at each file call of its replacement in turn, one run per
// call: the save survives under its own name, on a volume that exchanges names (ext4) and on one
// whose driver cannot (exFAT through its FUSE driver), on one thread and on eight.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <set>

#include "platform/files/copies.h"
#include "reliability_fixture.h"
#include "volumes.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;
using platform::CopyStep;

constexpr std::string_view kEdit = " USER EDIT";

// As an editor that appends: the file of the name is opened (made, where the name is free at that
// moment) and written.
void Save(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << file;
    ASSERT_EQ(::write(fd, kEdit.data(), kEdit.size()), static_cast<ssize_t>(kEdit.size()));
    ::close(fd);
}

std::vector<std::string> HiddenNames(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().starts_with(".tarnwick-")) {
            names.push_back(entry.path().string());
        }
    }
    return names;
}

class SaveDuringCopyTest : public ReliabilityTest {};

TEST_F(SaveDuringCopyTest, ThreadingASaveAtAnyFileCallOfItsReplacementSurvives) {
    const CopyStep steps[] = {CopyStep::kDecided, CopyStep::kOpened,    CopyStep::kWritten,
                              CopyStep::kFlushed, CopyStep::kLooked,    CopyStep::kMovedAside,
                              CopyStep::kNamed,   CopyStep::kDisplaced, CopyStep::kRemoved};
    const struct {
        std::optional<ScratchVolume::Kind> kind;  // none: the test's own folder (ext4 here)
        CopyStep absent;                          // the one step this volume never takes
    } volumes[] = {
        {std::nullopt, CopyStep::kMovedAside},
        {ScratchVolume::Kind::kExfatFuse, CopyStep::kDisplaced},
    };
    Tree others;
    for (int folder = 0; folder < 4; ++folder) {
        for (int file = 0; file < 6; ++file) {
            others["d" + std::to_string(folder) + "/f" + std::to_string(file)] =
                File(Pattern(512, static_cast<unsigned>(folder * 10 + file)), kBaseTime);
        }
    }
    AddParents(others);
    BuildTree(source_, others);
    WriteFile(source_ / "doc.txt", "newer source", kBaseTime + 100 * kOneSecond);

    for (const auto& volume : volumes) {
        std::optional<ScratchVolume> stick;
        fs::path destination = destination_;
        if (volume.kind) {
            stick.emplace(*volume.kind, temp_ / "stick25", std::size_t{32} << 20);
            if (!stick->Mounted()) {
                std::cout << "exFAT through FUSE left out: " << stick->Error() << "\n";
                continue;
            }
            map_->Set('F', {stick->MountPoint().string(), platform::kDriveRemovable, 0x5EED0025,
                            "STICK"});
            destination = stick->MountPoint() / "Dst";
        }
        for (const unsigned workers : {1U, 8U}) {
            for (const CopyStep step : steps) {
                SCOPED_TRACE(std::string(stick ? stick->Name() : "ext4") + ", " +
                             std::to_string(workers) + " threads, step " +
                             std::to_string(static_cast<int>(step)));
                fs::remove_all(destination);
                fs::create_directories(destination);
                WriteFile(destination / "doc.txt", "backup", kBaseTime);
                std::atomic<bool> saved{false};  // the hook runs on the pass's threads
                platform::SetCopyStepHookForTests([&](CopyStep at, const std::string& name) {
                    if (at == step && (name == "doc.txt" || name.empty()) &&
                        !saved.exchange(true)) {
                        Save(destination / "doc.txt");
                    }
                });
                SetCopyPassWorkers(workers);
                PassFailures failures;
                const std::int32_t copied =
                    SyncFolders("E:\\Src", "F:\\Dst", true, progress_,
                                {GroupDestination::kPassDestination, &failures});
                SetCopyPassWorkers(0);
                platform::SetCopyStepHookForTests(nullptr);

                EXPECT_EQ(saved, step != volume.absent)
                    << LastWrite(destination / "doc.txt") << " vs "
                    << LastWrite(source_ / "doc.txt") << " " << copied << " copied; "
                    << ReadFile(destination / "doc.txt") << "; " << failures.NotCopied << " "
                    << failures.Reason << " " << failures.LeftAsSaved;
                if (!saved) {
                    continue;
                }
                EXPECT_TRUE(ReadFile(destination / "doc.txt").ends_with(kEdit))
                    << ReadFile(destination / "doc.txt");
                EXPECT_GE(copied, 24);
                EXPECT_EQ(failures.NotCopied, 0) << failures.Reason;
                EXPECT_FALSE(failures.DestinationFailed);
                EXPECT_EQ(HiddenNames(destination), std::vector<std::string>{});
            }
        }
    }
}

}  // namespace
}  // namespace tarnwick::testing
