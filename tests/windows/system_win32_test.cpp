// The computer, the program and the drives as the system answers for them (wine's drives: C: the
// prefix's own folder, Z: the Linux root).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/system/file_lock.h"
#include "platform/system/stop_signals.h"
#include "platform/system/system.h"
#include "platform/volumes/drives.h"
#include "support/temp_dir.h"

namespace tarnwick::platform {
namespace {

TEST(Win32System, ComputerAndProgramAreTheSystemsOwn) {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    ASSERT_TRUE(::GetComputerNameA(name, &size));
    EXPECT_EQ(ComputerName(), std::string(name, size));

    const auto executable = ExecutablePath();
    ASSERT_TRUE(executable);
    EXPECT_EQ((*executable)[1], ':');
    EXPECT_TRUE(executable->ends_with("\\platform_tests.exe")) << *executable;
    // The settings beside it are found through the same drive path, also when written another
    // way.
    std::string slashes = *executable;
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    slashes[0] = static_cast<char>(slashes[0] - 'A' + 'a');
    EXPECT_EQ(ToDrivePath(slashes), executable);
    EXPECT_EQ(ToNativePath(*executable), executable);

    SetComputerNameForTesting("");
    EXPECT_EQ(ComputerName(), std::nullopt);
    SetComputerNameForTesting(std::nullopt);
}

// The lock of the unattended runs has one holder at a time and is free again once it goes; its
// folder is made where it is missing.
TEST(Win32System, TheRunLockHasOneHolderAtATime) {
    testing::TempDir dir;
    StopSignals stop;
    const std::string path = dir.str() + "\\state\\unattended.lock";
    {
        FileLock first;
        ASSERT_EQ(first.Take(path, stop), FileLock::Result::Held);
        const HANDLE other =
            ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        OVERLAPPED whole{};
        EXPECT_FALSE(::LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                                  MAXDWORD, MAXDWORD, &whole));
        ::CloseHandle(other);
    }
    FileLock again;
    EXPECT_EQ(again.Take(path, stop), FileLock::Result::Held);

    // A wake ends one wait; without a stop or a wake a wait ends at its timeout.
    stop.Wake();
    EXPECT_EQ(stop.Wait(std::chrono::milliseconds(0)), StopSignals::Event::Woken);
    EXPECT_EQ(stop.Wait(std::chrono::milliseconds(1)), StopSignals::Event::TimedOut);
    EXPECT_EQ(stop.LastSignal(), 0);
}

TEST(Win32Drives, LettersTypesAndSerialsAreTheSystems) {
    const std::uint32_t mask = LogicalDriveMask();
    EXPECT_EQ(mask, ::GetLogicalDrives());
    EXPECT_NE(mask & (1U << ('C' - 'A')), 0U);
    const auto roots = LogicalDriveRoots();
    ASSERT_FALSE(roots.empty());
    for (const std::string& root : roots) {
        SCOPED_TRACE(root);
        EXPECT_EQ(DriveTypeOf(root[0]), ::GetDriveTypeA(root.c_str()));
    }
    EXPECT_EQ(DriveTypeOf('C'), kDriveFixed);
    DWORD serial = 0;
    ASSERT_TRUE(::GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    const auto volume = VolumeInformation('c');
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->serial, serial);

    char unused = 0;
    for (char letter = 'Y'; letter > 'D'; --letter) {
        if ((mask & (1U << (letter - 'A'))) == 0) {
            unused = letter;
            break;
        }
    }
    ASSERT_NE(unused, 0);
    EXPECT_EQ(DriveTypeOf(unused), kDriveNoRootDir);
    EXPECT_EQ(VolumeInformation(unused), std::nullopt);
    EXPECT_EQ(ToNativePath(std::string{unused, ':', '\\', 'x'}), std::nullopt);
    EXPECT_EQ(DriveTypeOf('?'), kDriveNoRootDir);
}

TEST(Win32Drives, DrivePathsAreCleanedAsOnLinux) {
    EXPECT_EQ(ToDrivePath("c:/windows\\..\\users/./x/"), "C:\\users\\x");
    EXPECT_EQ(ToDrivePath("C:\\..\\.."), "C:\\");
    EXPECT_EQ(ToNativePath("C:\\a\\..\\..\\b"), "C:\\b");
    EXPECT_EQ(ToDrivePath("\\\\server\\share"), std::nullopt);
    EXPECT_EQ(ToNativePath("\\\\server\\share"), std::nullopt);
}

}  // namespace
}  // namespace tarnwick::platform
