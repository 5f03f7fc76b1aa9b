#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>

#include "platform/system/program_start.h"
#include "platform/unique_fd.h"

namespace tarnwick::platform {

namespace {

// Bounds that keep a hostile header from making the reader allocate without limit.
constexpr std::uint16_t kMaxSegments = 4096;
constexpr std::uint64_t kMaxInterpreterPath = 4096;

}  // namespace

std::optional<std::string> ParseProgramInterpreter(const ReadAt& read) {
    Elf64_Ehdr header{};
    if (!read(0, sizeof header, &header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        (header.e_type != ET_EXEC && header.e_type != ET_DYN) ||
        header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0 ||
        header.e_phnum > kMaxSegments) {
        return std::nullopt;
    }
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    if (!read(header.e_phoff, segments.size() * sizeof(Elf64_Phdr), segments.data())) {
        return std::nullopt;
    }
    for (const Elf64_Phdr& segment : segments) {
        if (segment.p_type != PT_INTERP) {
            continue;
        }
        if (segment.p_filesz < 2 || segment.p_filesz > kMaxInterpreterPath) {
            return std::nullopt;
        }
        std::string path(segment.p_filesz, '\0');
        if (!read(segment.p_offset, path.size(), path.data()) || path.back() != '\0') {
            return std::nullopt;
        }
        path.pop_back();
        if (path.front() != '/' || path.find('\0') != std::string::npos) {
            return std::nullopt;
        }
        return path;
    }
    return std::nullopt;
}

std::optional<ProgramStart> HowToStart(const std::string& nativePath) {
    struct stat st {};
    if (nativePath.empty() || nativePath.front() != '/' || ::stat(nativePath.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    if (::faccessat(AT_FDCWD, nativePath.c_str(), X_OK, AT_EACCESS) == 0) {
        return ProgramStart{nativePath, {}};
    }
    // The interpreter maps the program's code executable, which a noexec mount refuses: it would
    // start and fail at once, after the caller had taken the start for done.
    struct statvfs volume {};
    if (::statvfs(nativePath.c_str(), &volume) != 0 || (volume.f_flag & ST_NOEXEC) != 0) {
        return std::nullopt;
    }
    const UniqueFd fd(::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    std::optional<std::string> interpreter = ParseProgramInterpreter(FileReader(fd.get()));
    if (!interpreter || ::faccessat(AT_FDCWD, interpreter->c_str(), X_OK, AT_EACCESS) != 0) {
        return std::nullopt;
    }
    return ProgramStart{*std::move(interpreter), {nativePath}};
}

}  // namespace tarnwick::platform
