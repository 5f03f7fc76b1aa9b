#pragma once
// A settings file in a temporary folder: drive C: and E: of the fixture drive map are folders of
// it, the executable lies at E:\Tools\tarnwick (so the settings file is E:\Tools\tarnwick.INI) and
// the computer is WORKSTATION.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/volumes/drives.h"
#include "platform/system/system.h"
#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"

namespace tarnwick::testing {

inline constexpr std::uint32_t kSerialC = 2891450123U;
inline constexpr std::uint32_t kSerialE = 1588342657U;

class SettingsFixture : public ::testing::Test {
protected:
    SettingsFixture() {
        std::filesystem::create_directories(dir_ / "C");
        std::filesystem::create_directories(dir_ / "E" / "Tools");
        drives_->Set('C', {(dir_ / "C").string(), platform::kDriveFixed, kSerialC, "", true, true});
        drives_->Set('E',
                     {(dir_ / "E").string(), platform::kDriveRemovable, kSerialE, "", true, true});
        platform::SetExecutablePathForTesting((dir_ / "E" / "Tools" / "tarnwick").string());
        platform::SetComputerNameForTesting("WORKSTATION");
    }
    ~SettingsFixture() override {
        platform::SetExecutablePathForTesting(std::nullopt);
        platform::SetComputerNameForTesting(std::nullopt);
        platform::SetHomeFolderForTesting(std::nullopt);
    }

    std::filesystem::path Ini() const { return dir_ / "E" / "Tools" / "tarnwick.INI"; }
    std::string IniText() const { return ReadFile(Ini()); }
    void SetIniText(const std::string& text) const { WriteFile(Ini(), text); }

    TempDir dir_;
    ScopedDriveMap drives_;
};

// The lines of the first section of that name, its header included.
inline std::string SectionText(const std::string& text, const std::string& name) {
    const std::string header = "[" + name + "]";
    std::size_t begin = text.find(header);
    if (begin == std::string::npos) {
        return {};
    }
    std::size_t end = text.find("\n[", begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end + 1 - begin);
}

}  // namespace tarnwick::testing
