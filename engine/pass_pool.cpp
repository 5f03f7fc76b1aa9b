#include "engine/pass_pool.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

#include "engine/folders.h"
#include "engine/pass_walk.h"

namespace tarnwick::pass {

namespace {

// Threads of a pass: two per core, so that while one waits for the disk (a folder or an inode
// not yet in memory) another works; at most a handful, beyond which the threads only queue at
// the disk and in the file system's locks.
constexpr unsigned kMinWorkers = 2;
constexpr unsigned kMaxWorkers = 8;
std::atomic<unsigned> gWorkers{0};

unsigned WorkerCount() {
    const unsigned chosen = gWorkers.load(std::memory_order_relaxed);
    if (chosen != 0) {
        return std::min(chosen, kMaxWorkers);
    }
    return std::clamp(2 * std::thread::hardware_concurrency(), kMinWorkers, kMaxWorkers);
}

}  // namespace

void SetWorkerCount(unsigned workers) {
    gWorkers.store(workers, std::memory_order_relaxed);
}

bool Pass::HandOn(Task& task, std::string_view sourcePath, std::string_view destinationPath) {
    if (idle_.load(std::memory_order_relaxed) == 0 || !Continue()) {
        return false;  // the usual answer, without the lock
    }
    {
        const std::lock_guard lock(mutex_);
        if (idle_.load(std::memory_order_relaxed) <= tasks_.size()) {
            return false;
        }
        task.sourcePath.assign(sourcePath);
        task.destinationPath.assign(destinationPath);
        tasks_.push_back(std::move(task));
        if (tasks_.back().holding) {
            turns_.Assign(*tasks_.back().holding, kQueued);
        }
        task.holding.reset();
    }
    wake_.notify_one();
    return true;
}

void Pass::NotCopied(std::int32_t count, std::string_view reason) {
    notCopied_.fetch_add(count, std::memory_order_relaxed);
    const std::lock_guard lock(reasonMutex_);
    if (reason_.empty()) {
        reason_.assign(reason);
    }
}

void Pass::AttemptsFailed(const platform::FileError& why, std::int32_t count) {
    switch (why.refusal) {
        case platform::FileRefusal::kTargetChanged:
            // The user saved the file meanwhile: it stays as saved, which is no failure.
            attempts_.fetch_sub(count, std::memory_order_relaxed);
            leftAsSaved_.fetch_add(count, std::memory_order_relaxed);
            return;
        case platform::FileRefusal::kReadOnly:
            attempts_.fetch_sub(count, std::memory_order_relaxed);
            readOnly_.fetch_add(count, std::memory_order_relaxed);
            return;
        default:
            break;
    }
    attemptsFailed_.fetch_add(count, std::memory_order_relaxed);
    if (why.LostVolume()) {
        volumeLost_.store(true, std::memory_order_relaxed);
    }
    NotCopied(count, why ? why.Text() : "not written to the device");
}

void Pass::GivenBack(const platform::FilesGivenBack& files) {
    namesGivenBack_.fetch_add(static_cast<std::int32_t>(files.ownName), std::memory_order_relaxed);
    keptBeside_.fetch_add(static_cast<std::int32_t>(files.beside), std::memory_order_relaxed);
}

void Pass::FolderNotCopied(const platform::FileError& why) {
    foldersNotCopied_.fetch_add(1, std::memory_order_relaxed);
    if (why.LostVolume()) {
        volumeLost_.store(true, std::memory_order_relaxed);
    }
    const std::lock_guard lock(reasonMutex_);
    if (folderReason_.empty()) {
        folderReason_ = why.InTheWay() ? "a file in the way" : why.Text();
    }
}

void Pass::Report(std::int32_t copied, PassFailures& failures) {
    const std::int32_t attempts = attempts_.load();
    // Copies handed to the batch that did not take their names: their data could not be made
    // durable, or their target changed meanwhile.
    const std::int32_t dropped = std::max(0, attempts - attemptsFailed_.load() - copied);
    if (dropped > 0) {
        NotCopied(dropped, "not written to the device");
    }
    failures.NotCopied = notCopied_.load();
    {
        const std::lock_guard lock(reasonMutex_);
        failures.Reason = reason_;
        failures.FolderReason = folderReason_;
    }
    failures.FoldersNotCopied = foldersNotCopied_.load();
    failures.DestinationFailed = volumeLost_.load() || (attempts > 0 && copied == 0);
    failures.LeftAsSaved = leftAsSaved_.load();
    failures.ReadOnly = readOnly_.load();
    failures.NamesGivenBack = namesGivenBack_.load();
    failures.KeptBeside = keptBeside_.load();
}

Released::~Released() {
    if (holding) {
        pass.Release(*std::exchange(holding, std::nullopt));
    }
}

void Pass::RunTask(Walker& walker, Task& task) {
    const Released released{*this, task.holding};
    try {
        if (Continue()) {
            walker.Run(task);
        }
    } catch (const std::exception&) {
        // As the pass of one thread would: everything stops, what is finished is named.
        abandoned_.store(true, std::memory_order_relaxed);
    }
    walker.LeaveDisplay();
}

// An idle thread: takes up the levels handed on until every thread is idle and nothing is left.
void Pass::Work(int worker) {
    Walker walker(*this, worker);
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.back());
            tasks_.pop_back();
            idle_.fetch_sub(1, std::memory_order_relaxed);
            if (task.holding) {
                turns_.Assign(*task.holding, worker);
            }
            lock.unlock();
            RunTask(walker, task);
            lock.lock();
            idle_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (idle_.load(std::memory_order_relaxed) == workers_) {
            done_ = true;
            wake_.notify_all();
        }
        if (done_) {
            return;
        }
        wake_.wait(lock);
    }
}

std::int32_t Pass::Run(std::string_view sourcePath, std::string_view destinationPath) {
    Walker first(*this, 0, true);
    first.SetPaths(sourcePath, destinationPath);
    if (!first.PublishFolderStart()) {
        return -1;
    }
    Task task;
    // Both folders from the roots of their drives: a folder saved on a stick that is a link by
    // now, or leads onto another volume, is not the folder saved.
    auto source = platform::Directory::OpenOnDrive(sourcePath);
    if (!source) {
        return -1;
    }
    // Missing levels are made as CreateFolderPath would, but from the drive's root: a path with
    // an empty name inside cannot be walked level by level.
    std::int32_t created = 0;
    const bool walkable = destinationPath.size() <= kMaxPathLength &&
                          destinationPath.find("\\\\", 1) == std::string_view::npos;
    task.destination = platform::Directory::OpenOnDrive(destinationPath, walkable, &created);
    if (!task.destination) {
        return -2;
    }
    destinationRoot_ = IdentityOf(*task.destination);
    // A group's destination is not trusted: nothing is opened through its links, whatever
    // the walk decides.
    if (SourceInGroupDestination()) {
        source->RefuseLinks();
    }
    if (task.destination && DestinationInGroupDestination()) {
        task.destination->RefuseLinks();
    }
    task.fresh = created > 0 && task.destination;
    task.path.push_back(IdentityOf(*source));
    task.source = std::move(*source);
    task.sourcePath.assign(sourcePath);
    task.destinationPath.assign(destinationPath);

    // The helpers wait for levels to take up; this thread walks from the top.
    // On a stick whose driver answers one request at a time the threads would only queue, and
    // a pass of one thread is measurably faster there.
    const bool serialised = task.source.SerialisesRequests() ||
                            (task.destination && task.destination->SerialisesRequests());
    workers_ = subfolders_ && !serialised ? WorkerCount() : 1;
    turns_.SetWorkers(workers_);
    struct Helpers {
        Pass& pass;
        std::vector<std::thread> threads;
        ~Helpers() {
            {
                const std::lock_guard lock(pass.mutex_);
                pass.done_ = true;
            }
            pass.wake_.notify_all();
            for (std::thread& thread : threads) {
                thread.join();
            }
        }
    } helpers{*this, {}};
    try {
        helpers.threads.reserve(workers_ - 1);
        for (unsigned worker = 1; worker < workers_; ++worker) {
            helpers.threads.emplace_back([this, worker] { Work(int(worker)); });
            idle_.fetch_add(1, std::memory_order_relaxed);
        }
    } catch (const std::exception&) {
        // Fewer threads than planned: the levels go to those that run.
        const std::lock_guard lock(mutex_);
        workers_ = unsigned(helpers.threads.size()) + 1;
        turns_.SetWorkers(workers_);
    }
    if (task.destination) {
        task.key = destinationRoot_->device ^ (destinationRoot_->inode * 0x9E3779B97F4A7C15ULL);
        task.holding = Hold(*destinationRoot_, task.key, 0, false);
    }
    RunTask(first, task);
    // This thread helps with what is left and returns when every thread is idle.
    {
        std::unique_lock lock(mutex_);
        idle_.fetch_add(1, std::memory_order_relaxed);
    }
    Work(0);
    first.SetPaths(sourcePath, destinationPath);
    first.PublishTopEntry();
    Counted(batch_.Finish());
    return copied_.load(std::memory_order_relaxed);
}

}  // namespace tarnwick::pass
