#pragma once
// The turn-taking of folders that meet: two source folders may lead into one destination folder
// (names that FAT takes for one, links in the destination); the levels of the pass that work
// there take turns as they would in a pass of one thread.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <vector>

#include "platform/files/files.h"

namespace tarnwick::pass {

struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
};

inline Identity IdentityOf(const platform::Directory& folder) {
    return {folder.Device(), folder.Inode()};
}

// A destination folder that a level of the pass works in. Two source folders may lead into one
// destination folder (names that FAT takes for one, links in the destination); their levels
// take turns there as they would in a pass of one thread, so that every name is decided
// against what the earlier level left. A folder is recognised by its identity and by the path
// that leads to it from the top, its names folded as FAT folds them: some FAT drivers give
// one folder another inode for each spelling of its name.
struct Holding {
    Identity folder;
    std::uint64_t key;
    int worker;  // kQueued while the level waits for a thread
};
inline constexpr int kQueued = -2;
using Holdings = std::list<Holding>;

class FolderTurns {
public:
    // `going`: false once the pass is cancelled; a level then does not wait for its turn.
    explicit FolderTurns(std::function<bool()> going) : going_(std::move(going)) {}

    // How many threads the pass works with (their numbers are 0 to workers - 1).
    void SetWorkers(unsigned workers);

    // The destination folder `folder` becomes the working place of a level of `worker`.
    // `mayBeShared`: the folder was there before (a fresh one cannot be another level's yet);
    // then the level waits while another level works there, unless that level waits, directly
    // or not, for this worker.
    Holdings::iterator Hold(const Identity& folder, std::uint64_t key, int worker,
                            bool mayBeShared);
    void Release(Holdings::iterator holding);
    // The level of `holding` waits for a thread (kQueued), or `worker` has taken it up.
    void Assign(Holdings::iterator holding, int worker);

private:
    int BlockerOf(const Identity& folder, std::uint64_t key, int worker) const;

    const std::function<bool()> going_;
    std::mutex mutex_;  // guards everything below
    std::condition_variable released_;
    Holdings holdings_;
    std::vector<int> waitingOn_;
    int waiters_ = 0;
    unsigned workers_ = 1;
};

}  // namespace tarnwick::pass
