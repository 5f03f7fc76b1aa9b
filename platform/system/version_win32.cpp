// The version record as the system keeps it: the VERSIONINFO resource of the executable, read
// back through the version services.
#include <windows.h>

#include <vector>

#include "platform/system/version.h"

namespace tarnwick::platform {

std::optional<FileVersion> ReadFileVersion(const std::string& nativePath) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(nativePath.c_str(), &ignored);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<char> block(size);
    if (!::GetFileVersionInfoA(nativePath.c_str(), 0, size, block.data())) {
        return std::nullopt;
    }
    void* fixed = nullptr;
    UINT length = 0;
    char root[] = "\\";
    if (!::VerQueryValueA(block.data(), root, &fixed, &length) || fixed == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    if (info->dwSignature != 0xFEEF04BD) {
        return std::nullopt;
    }
    return FileVersion{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                       HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
}

}  // namespace tarnwick::platform
