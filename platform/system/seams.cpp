#include "platform/system/seams.h"

#include <mutex>

#include "platform/system/system.h"

namespace tarnwick::platform {

namespace {

std::mutex gSeamMutex;
std::optional<std::string> gSeams[4];

void Set(Seam seam, std::optional<std::string> value) {
    std::lock_guard lock(gSeamMutex);
    gSeams[static_cast<int>(seam)] = std::move(value);
}

}  // namespace

std::optional<std::optional<std::string>> SeamAnswer(Seam seam) {
    std::lock_guard lock(gSeamMutex);
    const std::optional<std::string>& value = gSeams[static_cast<int>(seam)];
    if (!value) {
        return std::nullopt;
    }
    // An empty text makes the query fail.
    return value->empty() ? std::optional<std::string>{} : std::optional<std::string>{*value};
}

void SetComputerNameForTesting(std::optional<std::string> name) {
    Set(Seam::kComputerName, std::move(name));
}

void SetExecutablePathForTesting(std::optional<std::string> nativePath) {
    Set(Seam::kExecutablePath, std::move(nativePath));
}

void SetHomeFolderForTesting(std::optional<std::string> nativePath) {
    Set(Seam::kHomeFolder, std::move(nativePath));
}

void SetRuntimeFolderForTesting(std::optional<std::string> nativePath) {
    Set(Seam::kRuntimeFolder, std::move(nativePath));
}

}  // namespace tarnwick::platform
