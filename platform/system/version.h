#pragma once
// The version record an executable carries in a section of its own.
//
// The build places one record in the ELF section named kVersionSection of the executable; the
// About window reads it back from the executable file each time it is shown.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::platform {

inline constexpr const char* kVersionSection = ".tarnwick.version";
inline constexpr std::array<char, 8> kVersionMagic = {'T', 'W', 'V', 'E', 'R', 'S', '0', '1'};

// The record as it lies in the section: the magic, then four little-endian 16-bit numbers.
struct VersionRecord {
    std::array<char, 8> magic;
    std::uint16_t major;
    std::uint16_t minor;
    std::uint16_t release;
    std::uint16_t build;
};
static_assert(sizeof(VersionRecord) == 16);

struct FileVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned release = 0;
    unsigned build = 0;
};

// Reads `size` bytes at `offset` into `out`; false when the file is shorter or cannot be read.
using ReadAt = std::function<bool(std::uint64_t offset, std::size_t size, void* out)>;

// A reader of an open file (pread, so that readers of one file never disturb each other).
ReadAt FileReader(int fd);

// Finds the version record in an ELF file read through `read`. nullopt for a file that is not a
// 64-bit little-endian ELF file, has no such section, or holds a malformed record.
std::optional<FileVersion> ParseVersionRecord(const ReadAt& read);

// The version record of the executable at a native path.
std::optional<FileVersion> ReadFileVersion(const std::string& nativePath);

}  // namespace tarnwick::platform
