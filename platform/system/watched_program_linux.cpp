#include "platform/system/watched_program.h"

#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <thread>

extern char** environ;

namespace tarnwick::platform {

std::optional<WatchedProgram> WatchedProgram::Start(const std::string& program,
                                                    const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0) {
        return std::nullopt;
    }
    // Its own session: a terminal's hang-up or the end of this program does not end it.
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int error =
        ::posix_spawnp(&pid, program.c_str(), nullptr, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        return std::nullopt;
    }
    // A descriptor that polls readable when the program ends (the C library's own pidfd_open is
    // not declared for C++ in every version).
    return WatchedProgram(pid, UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))));
}

WatchedProgram::~WatchedProgram() {
    if (pid_ <= 0) {
        return;
    }
    try {
        std::thread([pid = pid_] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::exception&) {
        // Without a thread the program is left to be reaped when this one ends.
    }
}

std::optional<int> WatchedProgram::ExitStatus() {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    pid_t ended = 0;
    do {
        ended = ::waitpid(pid_, &status, WNOHANG);
    } while (ended < 0 && errno == EINTR);
    if (ended == 0) {
        return std::nullopt;
    }
    pid_ = -1;
    if (ended < 0) {
        return -1;  // already gone: nothing tells how
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tarnwick::platform
