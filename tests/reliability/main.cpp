// The reliability tests mount small volumes of their own. As root they run in a mount namespace
// of their own, entered before any thread starts: their mounts never show in the system's mount
// table (where the real drive map would give them letters while other tests look at it), and
// they go away with the process, whatever way it ends.

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/system/system.h"

int main(int argc, char** argv) {
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            std::perror("cannot enter a mount namespace of its own");
            return 1;
        }
    }
    tarnwick::platform::RaiseOpenFileLimit();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
