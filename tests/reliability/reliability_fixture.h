#pragma once
// Two fixture drives on real temporary folders: E: holds the source folder E:\Src, F: (a
// memory stick) the destination folder F:\Dst.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/copy_pass.h"
#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"
#include "support/tree.h"

namespace tarnwick::testing {

class ReliabilityTest : public ::testing::Test {
protected:
    ReliabilityTest() {
        std::filesystem::create_directories(source_);
        std::filesystem::create_directories(destination_);
        map_->Set('E', {(temp_ / "e").string(), platform::kDriveFixed, 0x5EED0001, "DATA"});
        map_->Set('F', {(temp_ / "f").string(), platform::kDriveRemovable, 0x5EED0002, "STICK"});
        progress_.Continue = true;
    }

    std::int32_t Sync(bool subfolders = true) {
        return SyncFolders("E:\\Src", "F:\\Dst", subfolders, progress_);
    }

    TempDir temp_;
    ScopedDriveMap map_;
    const std::filesystem::path source_ = temp_ / "e" / "Src";
    const std::filesystem::path destination_ = temp_ / "f" / "Dst";
    CopyProgress progress_;
};

}  // namespace tarnwick::testing
