// Temporary folders and file times for the tests of the Windows edition.
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <system_error>

#include "support/temp_dir.h"

namespace tarnwick::testing {

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> gSequence{0};

HANDLE OpenForTimes(const fs::path& file, DWORD access) {
    return ::CreateFileA(
        file.string().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

TempDir::TempDir() {
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            base / ("tarnwick-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                    std::to_string(gSequence.fetch_add(1)));
        if (::CreateDirectoryA(candidate.string().c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only attributes a test set would keep files from being removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        ::SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(path_, ec);
}

void SetLastWrite(const fs::path& file, platform::FileTime lastWrite) {
    const HANDLE handle = OpenForTimes(file, FILE_WRITE_ATTRIBUTES);
    const FILETIME time{static_cast<DWORD>(lastWrite & 0xFFFFFFFFU),
                        static_cast<DWORD>(lastWrite >> 32)};
    const bool set =
        handle != INVALID_HANDLE_VALUE && ::SetFileTime(handle, nullptr, nullptr, &time);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
    }
    if (!set) {
        throw std::runtime_error("cannot set the time of " + file.string());
    }
}

platform::FileTime LastWrite(const fs::path& file) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(file.string().c_str(), GetFileExInfoStandard, &data)) {
        throw std::runtime_error("cannot read the time of " + file.string());
    }
    return (platform::FileTime{data.ftLastWriteTime.dwHighDateTime} << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

// Root's powers do not exist there; tests that need them skip.
bool RunningAsRoot() {
    return false;
}

}  // namespace tarnwick::testing
