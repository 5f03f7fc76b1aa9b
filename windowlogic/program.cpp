#include "windowlogic/program.h"

#include "engine/queries.h"
#include "platform/system/system.h"

namespace tarnwick::windowlogic {

std::optional<ExecutableParts> SplitExecutablePath(std::string_view path) {
    // The path was read into 1,024 bytes with its terminator.
    if (path.size() <= 3 || path.size() > 1023) {
        return std::nullopt;
    }
    const std::size_t slash = path.rfind('\\');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == path.size()) {
        return std::nullopt;
    }
    return ExecutableParts{std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

std::optional<ExecutableParts> SplitExecutablePath() {
    const std::optional<std::string> path = platform::ExecutablePath();
    return path ? SplitExecutablePath(*path) : std::nullopt;
}

std::string MainCaption(const std::optional<ExecutableParts>& parts) {
    return parts ? std::string(kMainCaption) + " - Location " + parts->folder : kMainCaption;
}

std::optional<std::string> CopyTarget(std::string_view folder, const ExecutableParts& parts) {
    std::string target = std::string(folder) + '\\' + parts.fileName;
    if (target.size() > kMaxPathLength) {
        return std::nullopt;
    }
    return target;
}

std::string CopyFailedText(std::string_view target) {
    return " Unable to copy the appliction to \n\n\"" + std::string(target) + "\".";
}

bool CopyAndRun(const CopyAndRunServices& services) {
    std::string folder;
    if (services.chooseFolder(kCopyPrompt, folder) != 1) {
        return false;
    }
    const std::optional<ExecutableParts> parts = SplitExecutablePath();
    if (!parts) {
        return false;
    }
    const std::optional<std::string> target = CopyTarget(folder, *parts);
    // Only the executable travels: the settings file of the chosen place is the copy's own.
    if (!target || !services.copyFile(parts->folder + '\\' + parts->fileName, *target)) {
        services.showError(kCopyFailedCaption,
                           CopyFailedText(target.value_or(folder + '\\' + parts->fileName)));
        return false;
    }
    if (!services.start(*target)) {
        services.showError(*target, kRunFailedText);
        return false;
    }
    return true;
}

}  // namespace tarnwick::windowlogic
