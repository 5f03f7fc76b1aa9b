#pragma once
// The settings file beside the executable and its access object.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnwick {

// The one error the settings store raises: "Unable to write to <settings file path>".
class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const std::string& settingsPath);
};

// The computer name that names this computer's sections; nullopt when it cannot be had.
std::optional<std::string> ComputerName();

// Access object: forms the file's path on construction and reads or writes the file anew on
// every call. Nothing is cached.
class SettingsFile {
public:
    SettingsFile();

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // Each raises SettingsError when the write fails; the file then stays as it was.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void EraseSection(std::string_view section);

    // Drive path of the settings file (the executable's path with ".INI"); empty when the
    // executable's path cannot be had.
    const std::string& Path() const { return path_; }

private:
    std::string path_;        // drive path, for messages
    std::string nativePath_;  // where the file is read and written
};

}  // namespace tarnwick
