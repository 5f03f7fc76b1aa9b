#pragma once
// File times as the program keeps them: unsigned 64-bit counts of 100 ns since 1601-01-01 UTC.

#include <cstdint>
#include <ctime>

namespace tarnwick::platform {

using FileTime = std::uint64_t;

// 100-ns intervals between 1601-01-01 and 1970-01-01.
inline constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

// Converts a Linux time to a file time, dropping what lies below 100 ns. Times before 1601 give 0,
// times past the end of the 64-bit range give the largest file time.
FileTime FileTimeFromTimespec(const timespec& ts);

// Converts a file time back to a Linux time (nanoseconds a multiple of 100).
timespec TimespecFromFileTime(FileTime ft);

}  // namespace tarnwick::platform
