#include "settings/settings_file.h"

#include "platform/volumes/drives.h"
#include "platform/system/system.h"

namespace tarnwick {

namespace {

// What the error names when the program's own path, and so the settings file, is unknown.
constexpr const char* kUnnamedSettingsFile = "the settings file (the program's path is unknown)";

std::string CurrentSettingsPath() {
    const std::optional<std::string> executable = platform::ExecutablePath();
    return executable ? SettingsFilePathFor(*executable) : std::string();
}

std::string NativePathOf(const std::string& drivePath) {
    if (drivePath.empty()) {
        return {};
    }
    return platform::ToNativePath(drivePath).value_or(std::string());
}

// The file writes go to, as an error names it: its drive path where it has one. Without a per-user
// copy to write (no home folder) it is the file beside the executable.
std::string WrittenPath(const std::string& drivePath, const platform::ProfileStore& store) {
    if (store.original.empty() || store.path.empty()) {
        return drivePath;
    }
    return platform::ToDrivePath(store.path).value_or(store.path);
}

}  // namespace

SettingsError::SettingsError(const std::string& settingsPath)
    : std::runtime_error("Unable to write to " + settingsPath) {}

std::optional<std::string> ComputerName() {
    std::optional<std::string> name = platform::ComputerName();
    if (!name || name->empty() || !platform::IsStorableProfileSection(*name)) {
        return std::nullopt;
    }
    return name;
}

std::string SettingsFilePathFor(std::string_view executablePath) {
    if (executablePath.size() < 4) {
        return {};
    }
    const std::size_t nameStart = executablePath.find_last_of("\\/") + 1;  // npos + 1 == 0
    const std::size_t dot = executablePath.rfind('.');
    const std::size_t stem =
        (dot != std::string_view::npos && dot >= nameStart) ? dot : executablePath.size();
    return std::string(executablePath.substr(0, stem)) + ".INI";
}

SettingsFile::SettingsFile()
    : path_(CurrentSettingsPath()),
      nativePath_(NativePathOf(path_)),
      store_(platform::ProfileStoreFor(nativePath_)),
      writtenPath_(WrittenPath(path_, store_)),
      profile_(store_) {}

std::string SettingsFile::ReadString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
    if (nativePath_.empty()) {
        return std::string(defaultValue);
    }
    return profile_.Read(section, key).value_or(std::string(defaultValue));
}

int SettingsFile::ReadInteger(std::string_view section, std::string_view key,
                              int defaultValue) const {
    if (nativePath_.empty()) {
        return defaultValue;
    }
    const std::optional<std::string> value = profile_.Read(section, key);
    if (!value) {
        return defaultValue;
    }
    return platform::ParseProfileInteger(*value).value_or(defaultValue);
}

bool SettingsFile::ReadBool(std::string_view section, std::string_view key,
                            bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void SettingsFile::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
    if (path_.empty()) {
        throw SettingsError(kUnnamedSettingsFile);
    }
    if (value.size() > platform::kMaxProfileValueLength || !profile_.Write(section, key, value)) {
        throw SettingsError(writtenPath_);
    }
}

void SettingsFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void SettingsFile::EraseSection(std::string_view section) {
    if (path_.empty()) {
        throw SettingsError(kUnnamedSettingsFile);
    }
    if (!profile_.EraseSection(section)) {
        throw SettingsError(writtenPath_);
    }
}

}  // namespace tarnwick
