#pragma once
// The folder copy pass: brings one destination folder up to date from one source folder.

#include <cstdint>
#include <string_view>

#include "engine/newer.h"
#include "engine/pass_records.h"
#include "platform/filetime.h"

namespace tarnwick {

namespace platform {
class Directory;
}

// -1: source folder missing or not listable; -2: destination folder missing or not creatable;
// otherwise the number of files copied. The destination folder itself must exist.
std::int32_t SyncFolders(std::string_view source, std::string_view destination, bool subfolders,
                         CopyProgress& progress, const PassOptions& options = {});

// The recursive pass. Without a progress record it runs to the end and publishes nothing.
std::int32_t CopyFolderPass(std::string_view source, std::string_view destination, bool subfolders,
                            CopyProgress* progress, const PassOptions& options = {});

// The number of threads a pass works with; 0 (the default) for one per core, within bounds.
// One gives the pass of a single thread.
void SetCopyPassWorkers(unsigned workers);

// Copies one file and gives the copy `lastWrite` as its last-write time. The time is given to
// the new file before it takes its name, so the copy of a read-only file gets it too and counts
// as a copy: it is whole, carries the source's time and is not copied again.
bool CopyFileKeepTime(std::string_view source, std::string_view destination, bool failIfExists,
                      platform::FileTime lastWrite);

}  // namespace tarnwick
