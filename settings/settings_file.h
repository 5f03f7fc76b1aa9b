#pragma once
// The settings file beside the executable and its access object.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/profile/profile.h"

namespace tarnwick {

// The one error the settings store raises: "Unable to write to <settings file path>".
class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const std::string& settingsPath);
};

// The computer name that names this computer's sections; nullopt when it cannot be had (also
// when it could not be part of a section name).
std::optional<std::string> ComputerName();

// The settings file's drive path for an executable's drive path: the extension of the file name
// (from its last ".") replaced by ".INI", or ".INI" appended. Empty for a path shorter than 4
// characters, which names no executable.
std::string SettingsFilePathFor(std::string_view executablePath);

// Access object: forms the file's path on construction; every call sees the file as it is at
// that moment (nothing is remembered between calls that the file does not still hold). Use one
// object per operation and thread.
//
// Without the executable's path no file can be named: reads give their defaults and writes
// raise SettingsError.
class SettingsFile {
public:
    SettingsFile();

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // Each raises SettingsError when the write fails; the file then stays as it was. Section and
    // key names and values with a CR, LF or NUL, section names with ']', and values longer than
    // platform::kMaxProfileValueLength (they would not read back whole) are refused that way.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void EraseSection(std::string_view section);

    // Drive path of the settings file (the executable's path with ".INI"); empty when the
    // executable's path cannot be had. Where the executable's folder may not be written, the
    // file read and written is this user's copy of it (platform::ProfileStore).
    const std::string& Path() const { return path_; }

private:
    std::string path_;        // drive path beside the executable
    std::string nativePath_;  // its native path
    platform::ProfileStore store_;
    std::string writtenPath_;  // the file writes go to, as errors name it
    mutable platform::ProfileFile profile_;
};

}  // namespace tarnwick
