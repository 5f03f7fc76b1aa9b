#pragma once
// Runs a piece of a test as an unprivileged user. Root passes every permission check, so tests
// about refused access run in a forked child that has dropped to the user nobody.

#include <sys/types.h>

#include <filesystem>
#include <functional>

namespace tarnwick::testing {

inline constexpr uid_t kNobody = 65534;

// Runs `body` in a forked child and returns what body returned (0 to 255; 255 when it threw), or
// -1 when the child could not be started or did not end normally.
int RunInChild(const std::function<int()>& body);

// Runs `body` in a forked child, as nobody when the test runs as root, and returns what body
// returned (0 to 255), or -1 when the child could not be started, could not drop its
// privileges or did not end normally.
int RunUnprivileged(const std::function<int()>& body);

// Gives nobody full access to a folder and everything in it, and lets it pass through every
// folder above it.
void OpenUpForNobody(const std::filesystem::path& folder);

}  // namespace tarnwick::testing
