#pragma once
// A file image held in memory, read the way the ELF parsers read a file.

#include <cstring>
#include <string>

#include "platform/system/version.h"

namespace tarnwick::testing {

// Reads from `bytes`, which must outlive the reader; false beyond its end.
inline platform::ReadAt FromBytes(const std::string& bytes) {
    return [&bytes](std::uint64_t offset, std::size_t size, void* out) {
        if (offset > bytes.size() || size > bytes.size() - offset) {
            return false;
        }
        std::memcpy(out, bytes.data() + offset, size);
        return true;
    };
}

}  // namespace tarnwick::testing
