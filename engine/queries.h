#pragma once
// Questions about paths, drives and volumes. Every answer comes from the platform at the moment
// of the call; nothing is cached here and nothing is raised.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// Longest path text the program builds (buffers of 2,048 bytes with their terminator).
inline constexpr std::size_t kMaxPathLength = 2047;

// True when the path names an existing folder, or is the root of a present drive ("E:\").
// A folder path with a trailing backslash never exists for this query. The empty path and paths
// longer than kMaxPathLength answer false.
bool FolderExists(std::string_view path);

// Serial number of the volume of a drive text ("E:": a letter and a colon; what follows them
// does not count). On success `label` receives the volume label; on failure (also for a text of
// another form) the answer is 0 and `label` keeps what it held.
std::uint32_t GetVolumeSerial(std::string_view driveText, std::string& label);

// Drive type (0..6) of the drive named by a letter. With a description, a type of 0 to 6 writes
// its sentence; any other type leaves the description as it was.
std::uint32_t GetDriveDescription(char letter, std::string* description = nullptr);

// Letter of the first drive, in drive-list order, whose volume serial equals `serial`; '0' when
// there is none. An unreadable volume answers 0, so 0 finds the first unreadable drive.
char FindDriveBySerial(std::uint32_t serial);

// True when the folder holds at least one folder entry other than "." and "..". Stops at the
// first one found.
bool HasSubfolders(std::string_view path);

// True when the letter (either case) names a present drive.
bool DrivePresent(char letter);

// True when the first match for the pattern exists and is a folder.
bool IsDirectory(std::string_view pattern);

// Appends `c` unless the text already ends with it; an empty text receives it. Returns the new
// length.
std::size_t AppendCharIfMissing(std::string& text, char c);

}  // namespace tarnwick
