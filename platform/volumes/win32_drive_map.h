#pragma once
// The real drive map of a Windows system (its own letters, types and serials).

#include <memory>

#include "platform/volumes/drives.h"

namespace tarnwick::platform {

std::shared_ptr<DriveMap> CreateWin32DriveMap();

}  // namespace tarnwick::platform
