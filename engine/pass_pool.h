#pragma once
// The pool of threads of one pass: the levels handed on to idle threads, the shared count and
// batch, and which thread shows its paths.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/copy_batch.h"
#include "engine/copy_pass.h"
#include "engine/pass_turns.h"
#include "platform/files/files.h"

namespace tarnwick::pass {

// The number of threads of the next passes; 0 for one per core, within bounds.
void SetWorkerCount(unsigned workers);

// A folder whose pass is handed to another thread: its open folders, the paths shown for it
// and the source folders above it.
struct Task {
    platform::Directory source;
    std::optional<platform::Directory> destination;
    bool fresh = false;
    std::uint64_t key = 0;
    std::string sourcePath;
    std::string destinationPath;
    std::vector<Identity> path;
    std::optional<Holdings::iterator> holding;
};

class Walker;
class Pass;

// Gives a destination folder up at the end of its level, however the level ends.
struct Released {
    Pass& pass;
    std::optional<Holdings::iterator>& holding;
    ~Released();
};

// What the threads of one pass share: the copies waiting for their names, the count, the
// folders handed on, and which thread shows its paths in the progress record. A thread that
// meets a subfolder hands it on only when another thread is idle, so that nothing waits in a
// queue longer than a moment and the queue never holds more than there are threads.
class Pass {
public:
    Pass(bool subfolders, CopyProgress* progress, const PassOptions& options)
        : subfolders_(subfolders),
          progress_(progress),
          options_(options),
          batch_(progress != nullptr ? &progress->FilesCopied : nullptr,
                 progress != nullptr ? &progress->Continue : nullptr,
                 [this](const platform::FileError& why, std::int32_t count) {
                     AttemptsFailed(why, count);
                 }) {}

    std::int32_t Run(std::string_view source, std::string_view destination);

    const bool subfolders_;
    CopyProgress* const progress_;
    const PassOptions options_;
    std::optional<Identity> destinationRoot_;
    std::atomic<std::int32_t> copied_{0};

    bool Continue() const {
        return !abandoned_.load(std::memory_order_relaxed) &&
               (progress_ == nullptr || progress_->Continue.load(std::memory_order_relaxed));
    }
    void Counted(int named) { copied_.fetch_add(named, std::memory_order_relaxed); }

    // Which sides of the pass lie in a group's destination, where no link is followed.
    bool SourceInGroupDestination() const {
        return options_.Destination == GroupDestination::kPassSource;
    }
    bool DestinationInGroupDestination() const {
        return options_.Destination == GroupDestination::kPassDestination;
    }

    // What could not be copied. A copy is an attempt once handed to the batch; one that fails,
    // there or later when it is to be named, gives its reason. A target that changed during the
    // run, or that the user made read-only, is left as it is: no failure, no attempt.
    void NotCopied(std::int32_t count, std::string_view reason);
    void Attempted() { attempts_.fetch_add(1, std::memory_order_relaxed); }
    void AttemptsFailed(const platform::FileError& why, std::int32_t count = 1);
    // Files of the user's that an interrupted copy had moved aside, given back their names.
    void GivenBack(const platform::FilesGivenBack& files);
    // A folder left behind with all below it: its source could not be opened or listed whole,
    // or its destination could not be opened or made.
    void FolderNotCopied(const platform::FileError& why);
    // The failures of the whole pass, once it has returned `copied`.
    void Report(std::int32_t copied, PassFailures& failures);

    // One thread at a time shows its paths, so that source and destination shown belong
    // together and the threads do not queue at the display.
    bool ClaimDisplay(int worker) {
        int owner = display_.load(std::memory_order_relaxed);
        return owner == worker || (owner == -1 && display_.compare_exchange_strong(owner, worker));
    }

    // Hands a level on, with the paths shown for it, when a thread is idle; false when none is.
    bool HandOn(Task& task, std::string_view sourcePath, std::string_view destinationPath);

    // The destination folder `folder` becomes the working place of a level of `worker`.
    // `mayBeShared`: the folder was there before (a fresh one cannot be another level's yet);
    // then the level waits while another level works there, unless that level waits, directly
    // or not, for this worker.
    Holdings::iterator Hold(const Identity& folder, std::uint64_t key, int worker,
                            bool mayBeShared) {
        return turns_.Hold(folder, key, worker, mayBeShared);
    }
    void Release(Holdings::iterator holding) { turns_.Release(holding); }

private:
    friend class Walker;
    void Work(int worker);
    void RunTask(Walker& walker, Task& task);

    std::atomic<bool> abandoned_{false};
    std::atomic<std::int32_t> attempts_{0};
    std::atomic<std::int32_t> attemptsFailed_{0};
    std::atomic<std::int32_t> notCopied_{0};
    std::atomic<std::int32_t> leftAsSaved_{0};
    std::atomic<std::int32_t> readOnly_{0};
    std::atomic<std::int32_t> namesGivenBack_{0};
    std::atomic<std::int32_t> keptBeside_{0};
    std::atomic<std::int32_t> foldersNotCopied_{0};
    std::string folderReason_;  // of the first folder left behind, under reasonMutex_
    std::atomic<bool> volumeLost_{false};
    std::mutex reasonMutex_;
    std::string reason_;  // of the first failure
    std::atomic<int> display_{-1};
    FolderTurns turns_{[this] { return Continue(); }};

    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::vector<Task> tasks_;
    std::atomic<unsigned> idle_{0};
    unsigned workers_ = 1;
    bool done_ = false;

public:
    // Last, so that it goes first: its threads may still report to the members above.
    CopyBatch batch_;
};

}  // namespace tarnwick::pass
