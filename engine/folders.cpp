#include "engine/folders.h"

#include <algorithm>
#include <exception>
#include <string>

#include "engine/queries.h"

namespace tarnwick {

namespace {

// Creates the missing levels below the deepest existing ancestor, one after the other; -1 when
// the path has a shape that cannot be walked that way, or when a level cannot be created (the
// levels made before it stay): a caller that asks only whether the answer is below 0 must not take
// a folder that is not there for one that is.
std::int32_t CreateLevelByLevel(const std::string_view path) {
    if (path.find("\\\\", 1) != std::string_view::npos || path.size() < 4 ||
        !FolderExists(path.substr(0, 3)) || path[1] != ':' || path[2] != '\\' ||
        path.back() == '\\') {
        return -1;
    }

    std::size_t cut = path.rfind('\\');
    while (cut >= 3 && !FolderExists(path.substr(0, cut))) {
        cut = path.rfind('\\', cut - 1);
    }

    std::string base(path.substr(0, cut));
    std::int32_t count = 0;
    while (base.size() < path.size()) {
        const std::size_t start = base.size() + 1;
        const std::size_t end = std::min(path.find('\\', start), path.size());
        base.push_back('\\');
        base.append(path.substr(start, end - start));
        if (!platform::CreateDirectory(base)) {
            return -1;
        }
        ++count;
    }
    return count;
}

}  // namespace

std::int32_t CreateFolderPath(std::optional<std::string_view> path) {
    if (!path || path->size() > kMaxPathLength) {
        return -1;
    }
    try {
        if (FolderExists(*path)) {
            return 0;
        }
        // A folder whose parent exists is made in one step, whatever the form of its path.
        if (platform::CreateDirectory(*path)) {
            return 1;
        }
        return CreateLevelByLevel(*path);
    } catch (const std::exception&) {
        return -1;
    }
}

bool FindInFolder(std::string_view folder, std::string_view name, platform::FindData& data) {
    try {
        std::string probe(folder);
        probe.push_back('\\');
        probe.append(name);
        if (probe.size() > kMaxPathLength) {
            return false;
        }
        // A name from a listing is a name, never a pattern: file systems here allow '*' and '?'.
        std::optional<platform::FindData> found;
        if (name.find_first_of("*?") == std::string_view::npos) {
            found = platform::FindFirstFile(probe);
        } else if (auto opened = platform::Directory::Open(folder)) {
            found = opened->Lookup(std::string(name));
        }
        if (!found) {
            return false;
        }
        data = std::move(*found);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tarnwick
