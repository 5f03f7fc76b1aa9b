#include "engine/pass_turns.h"

namespace tarnwick::pass {

void FolderTurns::SetWorkers(unsigned workers) {
    const std::lock_guard lock(mutex_);
    workers_ = workers;
    waitingOn_.assign(workers, -1);
}

void FolderTurns::Assign(Holdings::iterator holding, int worker) {
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        holding->worker = worker;
        wake = worker != kQueued && waiters_ > 0;
    }
    if (wake) {
        released_.notify_all();
    }
}

int FolderTurns::BlockerOf(const Identity& folder, std::uint64_t key, int worker) const {
    for (const Holding& holding : holdings_) {
        if ((holding.folder != folder && holding.key != key) || holding.worker == worker) {
            continue;
        }
        // A queued level is taken up by an idle thread, never by this one.
        for (int other = holding.worker, steps = 0; other >= 0 && steps <= int(workers_);
             other = waitingOn_[other], ++steps) {
            if (other == worker) {
                return -1;  // that level waits for this one: both go on
            }
        }
        return holding.worker;
    }
    return -1;
}

Holdings::iterator FolderTurns::Hold(const Identity& folder, std::uint64_t key, int worker,
                                     bool mayBeShared) {
    std::unique_lock lock(mutex_);
    if (mayBeShared) {
        // A cancelled pass does not wait: the level ends before its first entry.
        for (int blocker = BlockerOf(folder, key, worker); blocker != -1 && going_();
             blocker = BlockerOf(folder, key, worker)) {
            waitingOn_[worker] = blocker;
            ++waiters_;
            // Every change that may end the wait wakes it; the time limit only bounds a wake-up
            // missed between two threads that take each other's turn.
            released_.wait_for(lock, std::chrono::milliseconds(50));
            --waiters_;
        }
        waitingOn_[worker] = -1;
    }
    holdings_.push_front(Holding{folder, key, worker});
    return holdings_.begin();
}

void FolderTurns::Release(Holdings::iterator holding) {
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        holdings_.erase(holding);
        wake = waiters_ > 0;
    }
    if (wake) {
        released_.notify_all();
    }
}
}  // namespace tarnwick::pass
