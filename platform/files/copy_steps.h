#pragma once
// The test hook of SetCopyStepHookForTests, run by each system's copy code at its steps.
#include <string_view>

#include "platform/files/copies.h"

namespace tarnwick::platform {

// Runs the hook, where one is set; what it throws stays in it.
void CopyStepReached(CopyStep step, std::string_view name);

}  // namespace tarnwick::platform
