#pragma once
// The system's sentence about an error as a phrase of a log line.

#include <string>

namespace tarnwick::platform {

// "Read-only file system" becomes "read-only file system"; a first word in capitals ("NTFS")
// stays as it is.
std::string AsPhrase(std::string sentence);

}  // namespace tarnwick::platform
