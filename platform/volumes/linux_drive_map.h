#pragma once
// The real drive map of a Linux system (mount table, sysfs, volume ids).

#include <memory>

#include "platform/volumes/drives.h"

namespace tarnwick::platform {

std::shared_ptr<DriveMap> CreateLinuxDriveMap();

}  // namespace tarnwick::platform
