#pragma once
// The About window's one piece of logic.

#include <string>

namespace tarnwick::windowlogic {

// The version text ("1.0.2.31") from the running executable's version record, read anew each
// time; empty where the executable carries none.
std::string VersionText();

}  // namespace tarnwick::windowlogic
