#pragma once
// External programs that tests call: run one without a shell, and rsync as an independent check
// of a copy.

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarnwick::testing {

// Runs a program (looked up in PATH and the sbin folders) with its arguments, without a shell, so
// names may hold any byte. Its output is collected when `output` is given; the rest goes to
// /dev/null. The exit status, or -1 when it could not be started or did not end normally.
int RunProgram(const std::vector<std::string>& args, std::string* output = nullptr);

bool HasProgram(const std::string& name);

// The names (relative to `source`, '/'-separated, folders with a trailing '/') that
// `rsync -rcn --itemize-changes SRC/ DST/` would transfer: files missing in `destination` or whose
// contents differ, and entries where the destination has a folder for a file or a file for a
// folder. Special files and links that lead nowhere are never listed. nullopt when rsync is not
// installed or fails.
std::optional<std::set<std::string>> RsyncDifferences(const std::filesystem::path& source,
                                                      const std::filesystem::path& destination);

// The message a test leaves the rsync check out with.
inline constexpr const char* kNoRsync = "rsync is not installed: the independent check is left out";

}  // namespace tarnwick::testing
