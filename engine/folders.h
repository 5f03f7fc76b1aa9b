#pragma once
// Folder creation and file lookup for the copy pass.

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/files/files.h"

namespace tarnwick {

// Makes sure a folder exists, creating the missing levels of its path one after the other.
// -1: no path, or a path of the wrong shape; 0: the folder exists, or not even the first missing
// level could be created; 1 or more: the number of folders created.
std::int32_t CreateFolderPath(std::optional<std::string_view> path);

// True when `folder` holds an entry called `name` (a folder counts as found too); `data` then
// describes it. The name is matched by the file system's own rules.
bool FindInFolder(std::string_view folder, std::string_view name, platform::FindData& data);

}  // namespace tarnwick
