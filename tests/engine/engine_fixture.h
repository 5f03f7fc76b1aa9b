#pragma once
// Two fixture drives on real temporary folders: E: (a memory stick) and F: (a fixed disk).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"

namespace tarnwick::testing {

class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        std::filesystem::create_directories(e_);
        std::filesystem::create_directories(f_);
        map_->Set('E', {e_.string(), platform::kDriveRemovable, 0x1A2B3C4D, "STICK"});
        map_->Set('F', {f_.string(), platform::kDriveFixed, 0x0BADF00D, "DATA"});
    }

    TempDir temp_;
    ScopedDriveMap map_;
    const std::filesystem::path e_ = temp_ / "e";
    const std::filesystem::path f_ = temp_ / "f";
};

}  // namespace tarnwick::testing
