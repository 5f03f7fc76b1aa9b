#include "windowlogic/about.h"

#include "platform/system/system.h"
#include "platform/system/version.h"

namespace tarnwick::windowlogic {

std::string VersionText() {
    const auto executable = platform::NativeExecutablePath();
    const auto version = executable ? platform::ReadFileVersion(*executable) : std::nullopt;
    if (!version) {
        return {};
    }
    return std::to_string(version->major) + '.' + std::to_string(version->minor) + '.' +
           std::to_string(version->release) + '.' + std::to_string(version->build);
}

}  // namespace tarnwick::windowlogic
