#include "support/fat_stick.h"

#include <sched.h>
#include <sys/mount.h>

#include "support/programs.h"
#include "support/unprivileged.h"

namespace tarnwick::testing {

int RunOnFatStick(const std::filesystem::path& image, const std::filesystem::path& mountPoint,
                  const std::function<int()>& body) {
    return RunInChild([&] {
        const bool mounted =
            RunProgram({"truncate", "-s", "8M", image.string()}) == 0 &&
            RunProgram({"mkfs.vfat", image.string()}) == 0 && ::unshare(CLONE_NEWNS) == 0 &&
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            (RunProgram(
                 {"mount", "-t", "vfat", "-o", "loop", image.string(), mountPoint.string()}) == 0 ||
             RunProgram({"fusefat", "-o", "rw+", image.string(), mountPoint.string()}) == 0);
        if (!mounted) {
            return kNoFatStick;
        }
        int result = 255;
        try {
            result = body();
        } catch (...) {
        }
        ::umount2(mountPoint.c_str(), 0);
        return result;
    });
}

}  // namespace tarnwick::testing
