#pragma once
// A program started on its own (an opener such as xdg-open) whose end can be watched without
// waiting for it: the caller watches a descriptor and then asks for the exit status.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"

namespace tarnwick::platform {

class WatchedProgram {
public:
    // Starts `program` (looked up on PATH) with `arguments`, in a session of its own, so that it
    // outlives this one. nullopt when it cannot be started (no such program).
    static std::optional<WatchedProgram> Start(const std::string& program,
                                               const std::vector<std::string>& arguments);

    WatchedProgram(WatchedProgram&& other) noexcept
        : pid_(std::exchange(other.pid_, -1)), ended_(std::move(other.ended_)) {}
    WatchedProgram& operator=(WatchedProgram&&) = delete;
    // A program whose end was not asked for is waited for on a thread of its own, so that it
    // leaves no zombie behind.
    ~WatchedProgram();

    // Readable once the program has ended; -1 where the system cannot tell (the end is then never
    // reported).
    int EndDescriptor() const { return ended_.get(); }

    // The program's exit status once it has ended: 0 to 255, or -1 when a signal ended it;
    // nullopt while it runs.
    std::optional<int> ExitStatus();

private:
    WatchedProgram(int pid, UniqueFd ended) : pid_(pid), ended_(std::move(ended)) {}

    int pid_;  // -1 once its end is known, or when moved from
    UniqueFd ended_;
};

}  // namespace tarnwick::platform
