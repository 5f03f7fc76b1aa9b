#pragma once
// The real drive map of a Linux system (mount table, sysfs, volume ids).

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/volumes/drives.h"
#include "platform/volumes/mountinfo.h"
#include "platform/volumes/volume_id.h"

namespace tarnwick::platform {

// What the map reads from the system. The three table functions are called one at a time.
struct DriveMapSources {
    std::function<bool()> tableChanged;  // true when the table may differ from the last read
    std::function<bool(std::string& text)> readTable;
    std::function<void()> tableFailed;  // optional: the last read could not be used, read it again
    std::function<std::optional<VolumeIds>(const DriveMount&)> readIds;
    std::function<std::optional<std::string>()> letterMemoryPath;
};

// /proc/self/mountinfo, udev, libblkid, udisks2 and the user's letter memory.
DriveMapSources SystemDriveMapSources();

// Tests pass sources of their own.
std::shared_ptr<DriveMap> CreateLinuxDriveMap(DriveMapSources sources = SystemDriveMapSources());

}  // namespace tarnwick::platform
