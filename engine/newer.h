#pragma once
// Whether a source file is newer than its namesake in a destination: the one decision of a pass.

#include "platform/filetime.h"

namespace tarnwick {

namespace platform {
class Directory;
}

// True when `source` is later than `destination` plus 2 seconds.
bool IsNewer(platform::FileTime source, platform::FileTime destination);

// The decision of the pass for a file in `sourceFolder` and its namesake in `destinationFolder`:
// IsNewer on the times that both volumes can keep (so that a time FAT cannot hold never counts
// as a change), and where either volume keeps local times (FAT), a difference of exactly one
// hour, within the 2 seconds, is a clock that moved (summer time, a trip), not an edit.
bool IsNewerIn(const platform::Directory& sourceFolder,
               const platform::Directory& destinationFolder, platform::FileTime source,
               platform::FileTime destination);

// The same decision on times already held by both volumes, with `localTimes` where either keeps
// local times: no file system is asked.
bool IsNewerHeld(platform::FileTime source, platform::FileTime destination, bool localTimes);

// Adds milliseconds to a file time, carrying from the low into the high 32 bits.
void AddMilliseconds(platform::FileTime& time, std::uint16_t milliseconds);

}  // namespace tarnwick
