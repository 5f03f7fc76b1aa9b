#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/system/version.h"

namespace tarnwick::platform {

namespace {

// Section headers and their name table are bounded so that a hostile file cannot make the reader
// allocate without limit.
constexpr std::uint16_t kMaxSections = 4096;
constexpr std::uint64_t kMaxNameTable = 1 << 20;

}  // namespace

std::optional<FileVersion> ParseVersionRecord(const ReadAt& read) {
    Elf64_Ehdr header{};
    if (!read(0, sizeof header, &header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shnum == 0 ||
        header.e_shnum > kMaxSections || header.e_shstrndx >= header.e_shnum) {
        return std::nullopt;
    }

    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (!read(header.e_shoff, sections.size() * sizeof(Elf64_Shdr), sections.data())) {
        return std::nullopt;
    }
    const Elf64_Shdr& namesHeader = sections[header.e_shstrndx];
    if (namesHeader.sh_size == 0 || namesHeader.sh_size > kMaxNameTable) {
        return std::nullopt;
    }
    std::vector<char> names(namesHeader.sh_size);
    if (!read(namesHeader.sh_offset, names.size(), names.data())) {
        return std::nullopt;
    }
    names.back() = '\0';  // every name lookup below stays inside the table

    const std::string_view wanted = kVersionSection;
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_name >= names.size() || names.data() + section.sh_name != wanted ||
            section.sh_type == SHT_NOBITS || section.sh_size < sizeof(VersionRecord)) {
            continue;
        }
        VersionRecord record{};
        if (!read(section.sh_offset, sizeof record, &record) || record.magic != kVersionMagic) {
            return std::nullopt;
        }
        return FileVersion{record.major, record.minor, record.release, record.build};
    }
    return std::nullopt;
}

ReadAt FileReader(int fd) {
    return [fd](std::uint64_t offset, std::size_t size, void* out) {
        auto* bytes = static_cast<char*>(out);
        while (size > 0) {
            const ssize_t got = pread(fd, bytes, size, static_cast<off_t>(offset));
            if (got <= 0) {
                return false;
            }
            bytes += got;
            offset += static_cast<std::uint64_t>(got);
            size -= static_cast<std::size_t>(got);
        }
        return true;
    };
}

std::optional<FileVersion> ReadFileVersion(const std::string& nativePath) {
    const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    auto version = ParseVersionRecord(FileReader(fd));
    close(fd);
    return version;
}

}  // namespace tarnwick::platform
