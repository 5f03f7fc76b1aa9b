#pragma once
// A FAT stick for a piece of a test: an image formatted with mkfs.vfat and mounted (the kernel's
// vfat, else fusefat) in a mount namespace of a forked child of its own, so that no other test's
// drive map ever sees it. Needs root.

#include <filesystem>
#include <functional>

namespace tarnwick::testing {

// What RunOnFatStick answers when the stick could not be made or mounted.
inline constexpr int kNoFatStick = 77;

// Makes an 8 MiB FAT image at `image`, mounts it at `mountPoint` (an existing folder) and runs
// `body` there in a forked child. Returns what body returned (0 to 255), kNoFatStick, or -1 when
// the child did not end normally. The stick is unmounted before the child ends.
int RunOnFatStick(const std::filesystem::path& image, const std::filesystem::path& mountPoint,
                  const std::function<int()>& body);

}  // namespace tarnwick::testing
