#pragma once
// The test seams of system.h, as the answers of each system's queries see them.

#include <optional>
#include <string>

namespace tarnwick::platform {

enum class Seam { kComputerName, kExecutablePath, kHomeFolder, kRuntimeFolder };

// nullopt where no test set the seam; otherwise its answer (nullopt inside: "cannot be had").
std::optional<std::optional<std::string>> SeamAnswer(Seam seam);

}  // namespace tarnwick::platform
