// The computer and the running program, from the system's own services.
#include <windows.h>

#include "platform/system/seams.h"
#include "platform/system/system.h"
#include "platform/volumes/drives.h"

namespace tarnwick::platform {

namespace {

// The buffer the program's own path is read into.
constexpr DWORD kMaxExecutablePath = 1024;

std::optional<std::string> EnvironmentFolder(const char* name) {
    char buffer[MAX_PATH + 1];
    const DWORD got = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (got == 0 || got >= sizeof buffer || got < 3 || buffer[1] != ':') {
        return std::nullopt;
    }
    return std::string(buffer, got);
}

}  // namespace

// Windows has no per-process limit of open handles worth raising.
void RaiseOpenFileLimit() {}

std::uint64_t OpenFileLimit() {
    return 1U << 24;
}

std::optional<std::string> ComputerName() {
    if (auto seam = SeamAnswer(Seam::kComputerName)) {
        return *seam;
    }
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size)) {
        return std::nullopt;
    }
    return std::string(name, size);
}

std::optional<std::string> NativeExecutablePath() {
    if (auto seam = SeamAnswer(Seam::kExecutablePath)) {
        return *seam;
    }
    char path[kMaxExecutablePath];
    const DWORD got = ::GetModuleFileNameA(nullptr, path, kMaxExecutablePath);
    // A path that filled the buffer was cut.
    if (got == 0 || got >= kMaxExecutablePath) {
        return std::nullopt;
    }
    return std::string(path, got);
}

std::optional<std::string> ExecutablePath() {
    const std::optional<std::string> native = NativeExecutablePath();
    if (!native) {
        return std::nullopt;
    }
    return ToDrivePath(*native);
}

std::optional<std::string> HomeFolder() {
    if (auto seam = SeamAnswer(Seam::kHomeFolder)) {
        return *seam;
    }
    return EnvironmentFolder("USERPROFILE");
}

// The user's local application data, which stays on this computer (the lock of the unattended
// runs lives there).
std::optional<std::string> UserStateFolder() {
    const std::optional<std::string> local = EnvironmentFolder("LOCALAPPDATA");
    if (!local) {
        return std::nullopt;
    }
    return *local + "\\tarnwick";
}

std::optional<std::string> UserRuntimeFolder() {
    if (auto seam = SeamAnswer(Seam::kRuntimeFolder)) {
        return *seam;
    }
    const std::optional<std::string> temporary = EnvironmentFolder("TEMP");
    if (!temporary) {
        return std::nullopt;
    }
    return *temporary + "\\tarnwick";
}

std::string LocalDateTimeText() {
    char date[128];
    char time[128];
    const int dateLength =
        ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
    const int timeLength =
        ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof time);
    if (dateLength <= 0 || timeLength <= 0) {
        return {};
    }
    // The lengths count the terminating NUL.
    return std::string(date, dateLength - 1) + " " + std::string(time, timeLength - 1);
}

}  // namespace tarnwick::platform
