#pragma once
// The hidden names under which a copy moves a file of the user's aside for a moment, and the
// names such a file gets back: one rule for both systems.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files/files.h"

namespace tarnwick::platform {

// ".tarnwick-kept-" the process id, '-', a sequence number, '-', the file's own name.
inline constexpr std::string_view kAsidePrefix = ".tarnwick-kept-";
std::string AsideNameOf(std::string_view name, std::uint64_t process, std::uint64_t sequence);
// The file's own name in such a name, not yet checked as a name of the system; empty where
// `aside` is none.
std::string_view OwnNameIn(std::string_view aside);

// The `number`-th name beside `name` for a file whose own name is taken by a newer one:
// "report (kept).txt", "report (kept 2).txt", ... (visible, with the extension kept).
std::string KeptBesideName(std::string_view name, int number);
inline constexpr int kMostKeptBeside = 100;

// How a file moved aside got a name back.
enum class Restored { kOwnName, kBeside, kFailed };
void CountGivenBack(FilesGivenBack& givenBack, Restored restored);

}  // namespace tarnwick::platform
