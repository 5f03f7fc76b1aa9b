#include "platform/filetime.h"

#include <limits>

namespace tarnwick::platform {

namespace {
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kEpochSeconds =
    static_cast<std::int64_t>(kUnixEpochAsFileTime / kTicksPerSecond);  // 11644473600
}  // namespace

FileTime FileTimeFromTimespec(const timespec& ts) {
    // Seconds since 1601; a normalised timespec has 0 <= tv_nsec < 1e9.
    if (ts.tv_sec > std::numeric_limits<std::int64_t>::max() - kEpochSeconds) {
        return std::numeric_limits<FileTime>::max();
    }
    const std::int64_t seconds = static_cast<std::int64_t>(ts.tv_sec) + kEpochSeconds;
    if (seconds < 0) {
        return 0;
    }
    const auto useconds = static_cast<std::uint64_t>(seconds);
    constexpr std::uint64_t kMaxSeconds = std::numeric_limits<FileTime>::max() / kTicksPerSecond;
    if (useconds > kMaxSeconds) {
        return std::numeric_limits<FileTime>::max();
    }
    const std::uint64_t whole = useconds * kTicksPerSecond;
    const std::uint64_t fraction = static_cast<std::uint64_t>(ts.tv_nsec) / 100;
    if (fraction > std::numeric_limits<FileTime>::max() - whole) {
        return std::numeric_limits<FileTime>::max();
    }
    return whole + fraction;
}

timespec TimespecFromFileTime(FileTime ft) {
    const auto seconds = static_cast<std::int64_t>(ft / kTicksPerSecond) - kEpochSeconds;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((ft % kTicksPerSecond) * 100);
    return ts;
}

}  // namespace tarnwick::platform
