#include "engine/newer.h"

#include <cstdint>

#include "platform/files/files.h"

namespace tarnwick {

bool IsNewer(platform::FileTime source, platform::FileTime destination) {
    platform::FileTime limit = destination;
    AddMilliseconds(limit, 2000);
    return source > limit;
}

bool IsNewerIn(const platform::Directory& sourceFolder,
               const platform::Directory& destinationFolder, platform::FileTime source,
               platform::FileTime destination) {
    const auto held = [&](platform::FileTime time) {
        return sourceFolder.HeldTime(destinationFolder.HeldTime(time));
    };
    return IsNewerHeld(held(source), held(destination),
                       sourceFolder.KeepsLocalTimes() || destinationFolder.KeepsLocalTimes());
}

bool IsNewerHeld(platform::FileTime source, platform::FileTime destination, bool localTimes) {
    if (!IsNewer(source, destination)) {
        return false;
    }
    if (localTimes) {
        constexpr platform::FileTime kHour = platform::FileTime{3600} * 10'000'000;
        constexpr platform::FileTime kTolerance = platform::FileTime{2} * 10'000'000;
        const platform::FileTime difference = source - destination;
        if (difference >= kHour - kTolerance && difference <= kHour + kTolerance) {
            return false;
        }
    }
    return true;
}

void AddMilliseconds(platform::FileTime& time, std::uint16_t milliseconds) {
    const auto low = static_cast<std::uint32_t>(time);
    auto high = static_cast<std::uint32_t>(time >> 32);
    const auto newLow = static_cast<std::uint32_t>(low + std::uint32_t{milliseconds} * 10000U);
    if (newLow < low) {
        ++high;
    }
    time = (static_cast<platform::FileTime>(high) << 32) | newLow;
}

}  // namespace tarnwick
