// The lock of the unattended runs: a file locked without sharing by LockFileEx, asked for again
// every 200 ms while another process holds it, so that a stop ends the wait.
#include <io.h>
#include <windows.h>

#include <chrono>

#include "platform/system/file_lock.h"

namespace tarnwick::platform {

namespace {

constexpr std::chrono::milliseconds kAskAgain{200};

}  // namespace

FileLock::Result FileLock::Take(const std::string& path, StopSignals& stop) {
    fd_.Reset();
    const std::size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos && slash > 2) {
        ::CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    }
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Result::Unavailable;
    }
    // The descriptor owns the handle: closing it ends the lock.
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
    if (fd < 0) {
        ::CloseHandle(file);
        return Result::Unavailable;
    }
    UniqueFd held(fd);
    for (;;) {
        OVERLAPPED whole{};
        if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                         MAXDWORD, &whole)) {
            fd_ = std::move(held);
            return Result::Held;
        }
        if (::GetLastError() != ERROR_LOCK_VIOLATION) {
            return Result::Unavailable;
        }
        if (stop.Wait(kAskAgain) == StopSignals::Event::Signal) {
            return Result::Stopped;
        }
    }
}

}  // namespace tarnwick::platform
