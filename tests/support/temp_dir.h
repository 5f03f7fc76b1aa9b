#pragma once
// Real temporary folders and small file helpers for tests.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/filetime.h"

namespace tarnwick::testing {

// A fresh folder under the system's temporary folder, removed with everything in it at the end
// (write permissions are restored first so nothing is left behind).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes a file (creating its parent folders) and optionally sets its last-write time.
void WriteFile(const std::filesystem::path& file, const std::string& content,
               std::optional<platform::FileTime> lastWrite = std::nullopt);
std::string ReadFile(const std::filesystem::path& file);
void SetLastWrite(const std::filesystem::path& file, platform::FileTime lastWrite);
platform::FileTime LastWrite(const std::filesystem::path& file);

// A fixed, recent file time to build test trees around (2020-01-01 00:00:00 UTC).
inline constexpr platform::FileTime kBaseTime = 132223104000000000ULL;
inline constexpr platform::FileTime kOneSecond = 10'000'000ULL;

bool RunningAsRoot();

}  // namespace tarnwick::testing
