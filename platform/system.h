#pragma once
// The computer and the running program.

#include <optional>
#include <string>

namespace tarnwick::platform {

// The computer's name as the original platform gives it: the host name up to its first dot, in
// upper case, at most 15 characters. nullopt when it cannot be had.
std::optional<std::string> ComputerName();

// Native path of the running executable (/proc/self/exe). nullopt when it cannot be had.
std::optional<std::string> NativeExecutablePath();

// Drive path of the running executable ("C:\opt\tarnwick\tarnwick"). nullopt when it cannot be
// had or cannot be written as a drive path.
std::optional<std::string> ExecutablePath();

// The home folder of the user running the program, from the password database (never from the
// environment). nullopt when the user has no entry there, or its home is empty or not absolute.
std::optional<std::string> HomeFolder();

// Test seams: replace the answers above. nullopt restores the real answer; an empty text makes
// the query fail. Only tests call these.
void SetComputerNameForTesting(std::optional<std::string> name);
void SetExecutablePathForTesting(std::optional<std::string> nativePath);
void SetHomeFolderForTesting(std::optional<std::string> nativePath);

}  // namespace tarnwick::platform
