#pragma once
// Small files read and written whole; written as a new file beside the target, made durable and
// renamed into place.

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// Writes `text` to a new file beside `target` and renames it into place. The new file gets the
// permission bits (and, for root, the owner) of `existing` when given. On any failure the new
// file is removed and `target` is as it was.
bool ReplaceFile(const std::string& target, std::string_view text, const struct stat* existing);

// Makes the folders of `folder` that are missing below `home` (owner only, as a home's own data
// folders are), never `home` itself or anything above it.
bool MakeFoldersBelow(const std::string& home, const std::string& folder);

// The whole text of the regular file at `path`; nullopt when it cannot be opened or read, is a
// link or no regular file (a FIFO in its place does not block), or holds more than `limit` bytes.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit);

}  // namespace tarnwick::platform
