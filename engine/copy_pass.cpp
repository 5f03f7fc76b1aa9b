#include "engine/copy_pass.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <list>
#include <thread>
#include <utility>
#include <vector>

#include "engine/folders.h"
#include "engine/queries.h"
#include "platform/files/files.h"

namespace tarnwick {

void SharedText::Set(std::optional<std::string_view> text) {
    std::lock_guard lock(mutex_);
    // Assigning into the existing text reuses its storage: no allocation once it is large enough.
    if (text) {
        text_.assign(*text);
    } else {
        text_.clear();
    }
    given_ = text.has_value();
}

std::optional<std::string> SharedText::Get() const {
    std::lock_guard lock(mutex_);
    if (!given_) {
        return std::nullopt;
    }
    return text_;
}

namespace {

constexpr std::string_view kListingPattern = "\\*.*";

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

struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
};

Identity IdentityOf(const platform::Directory& folder) {
    return {folder.Device(), folder.Inode()};
}

// The destination folder of one level. `folder` is null when it could not be made: then every
// copy into it fails, as it would on its path. A folder the pass has just created holds nothing
// yet, so its names need not be looked up one by one (a copy never replaces what might appear
// there in the meantime).
struct Target {
    const platform::Directory* folder = nullptr;
    bool fresh = false;
    std::uint64_t key = 0;  // of its path below the top, see Holding
};

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
constexpr int kQueued = -2;
using Holdings = std::list<Holding>;

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
          batch_(progress != nullptr ? &progress->FilesCopied : nullptr) {}

    std::int32_t Run(std::string_view source, std::string_view destination);

    const bool subfolders_;
    CopyProgress* const progress_;
    const PassOptions options_;
    std::optional<Identity> destinationRoot_;
    platform::CopyBatch batch_;
    std::atomic<std::int32_t> copied_{0};

    bool Continue() const {
        return !abandoned_.load(std::memory_order_relaxed) &&
               (progress_ == nullptr || progress_->Continue.load(std::memory_order_relaxed));
    }
    void Counted(int named) { copied_.fetch_add(named, std::memory_order_relaxed); }

    // One thread at a time shows its paths, so that source and destination shown belong
    // together and the threads do not queue at the display.
    bool ClaimDisplay(int worker) {
        int owner = display_.load(std::memory_order_relaxed);
        return owner == worker ||
               (owner == -1 && display_.compare_exchange_strong(owner, worker));
    }

    // Hands a level on, with the paths shown for it, when a thread is idle; false when none is.
    bool HandOn(Task& task, std::string_view sourcePath, std::string_view destinationPath);

    // The destination folder `folder` becomes the working place of a level of `worker`.
    // `mayBeShared`: the folder was there before (a fresh one cannot be another level's yet);
    // then the level waits while another level works there, unless that level waits, directly
    // or not, for this worker.
    Holdings::iterator Hold(const Identity& folder, std::uint64_t key, int worker,
                            bool mayBeShared);
    void Release(Holdings::iterator holding);

private:
    friend class Walker;
    void Work(int worker);
    void RunTask(Walker& walker, Task& task);
    int BlockerOf(const Identity& folder, std::uint64_t key, int worker) const;

    std::atomic<bool> abandoned_{false};
    std::atomic<int> display_{-1};

    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::condition_variable released_;
    std::vector<Task> tasks_;
    std::atomic<unsigned> idle_{0};
    unsigned workers_ = 1;
    bool done_ = false;
    Holdings holdings_;
    std::vector<int> waitingOn_;
    int waiters_ = 0;
};

// One thread's part of a pass. The walk works on open folders (names resolved relative to their
// folder, one listing open per level) and keeps one source and one destination path text that
// grow and shrink with it; their only use is the progress display and the path limit.
class Walker {
public:
    // `top`: the walker that starts at the top folder, whose last entry the display keeps.
    Walker(Pass& pass, int worker, bool top = false) : pass_(pass), worker_(worker), top_(top) {}

    // The pass of one folder and, as far as no other thread takes them, its subfolders.
    void Run(Task& task) {
        source_ = std::move(task.sourcePath);
        destination_ = std::move(task.destinationPath);
        path_ = std::move(task.path);
        Folder(task.source,
               Target{task.destination ? &*task.destination : nullptr, task.fresh, task.key});
    }

    // At the end of the pass the display shows what the pass of one thread would have left
    // there: the last entry of the top folder, or its listing pattern when there was none.
    void PublishTopEntry() {
        if (pass_.progress_ == nullptr) {
            return;
        }
        pass_.display_.store(worker_, std::memory_order_relaxed);
        if (!topEntry_) {
            PublishFolderStart();
            return;
        }
        const std::size_t sourceLength = source_.size();
        const std::size_t destinationLength = destination_.size();
        Join(source_, sourceLength, *topEntry_);
        Join(destination_, destinationLength, *topEntry_);
        Publish(source_, destination_);
        source_.resize(sourceLength);
        destination_.resize(destinationLength);
    }

    // The listing pattern of a folder as shown when its pass starts, false when it does not fit
    // the path limit: such a folder cannot be listed.
    bool PublishFolderStart() {
        const std::size_t length = source_.size();
        const std::string_view pattern =
            source_.ends_with('\\') ? kListingPattern.substr(1) : kListingPattern;
        if (length + pattern.size() > kMaxPathLength) {
            return false;
        }
        if (pass_.progress_ != nullptr) {
            source_.append(pattern);
            Publish(source_, {});
            source_.resize(length);
        }
        return true;
    }

    void SetPaths(std::string_view source, std::string_view destination) {
        source_.assign(source);
        destination_.assign(destination);
    }

    // Leaves the display to whichever thread works next.
    void LeaveDisplay() {
        int owner = worker_;
        pass_.display_.compare_exchange_strong(owner, -1);
    }

private:
    void Publish(std::string_view source, std::string_view destination) {
        if (pass_.progress_ != nullptr && pass_.ClaimDisplay(worker_)) {
            pass_.progress_->SourcePath.Set(source);
            pass_.progress_->DestinationPath.Set(destination);
        }
    }

    // folder + "\" + name; a drive root ("E:\") already ends with its backslash.
    static void Join(std::string& path, std::size_t folderLength, std::string_view name) {
        path.resize(folderLength);
        AppendCharIfMissing(path, '\\');
        path.append(name);
    }

    bool OnCurrentPath(const Identity& folder) const {
        if (pass_.destinationRoot_ && folder == *pass_.destinationRoot_) {
            return true;  // the destination lies inside the source: never copy it into itself
        }
        for (const Identity& ancestor : path_) {
            if (ancestor == folder) {
                return true;
            }
        }
        return false;
    }

    // Lists one source folder and handles its entries in the order the file system gives them.
    void Folder(platform::Directory& source, const Target destination) {
        const std::size_t sourceLength = source_.size();
        const std::size_t destinationLength = destination_.size();
        // A folder that was there before the pass may hold what an interrupted copy left.
        if (destination.folder != nullptr && !destination.fresh) {
            destination.folder->RemoveLeftoverCopies();
        }
        while (pass_.Continue()) {
            const auto entry = source.Next();
            if (!entry) {
                break;
            }
            if (platform::IsTemporaryCopyName(*entry)) {
                // Left by an interrupted copy (or being written by one, which holds it).
                platform::RemoveLeftoverCopy(source, std::string(*entry));
                continue;
            }
            Join(source_, sourceLength, *entry);
            Join(destination_, destinationLength, *entry);
            // A longer path would not fit: passed over, never cut short into another path.
            if (source_.size() > kMaxPathLength || destination_.size() > kMaxPathLength) {
                continue;
            }
            Publish(source_, destination_);
            name_.assign(*entry);
            if (top_ && depth_ == 0 && pass_.progress_ != nullptr) {
                topEntry_ = name_;
            }
            Entry(source, destination, source.LastKind());
        }
        source_.resize(sourceLength);
        destination_.resize(destinationLength);
    }

    void Entry(platform::Directory& source, const Target destination, platform::EntryKind kind) {
        std::optional<platform::FindData> data;
        if (kind == platform::EntryKind::kUnknown) {
            data = source.Lookup(name_);
            if (!data) {
                return;
            }
            // Behind a link: opening a FIFO or a device to copy it could wait or do harm.
            if ((data->attributes & platform::kAttributeDirectory) != 0) {
                kind = platform::EntryKind::kFolder;
            } else if ((data->attributes & platform::kAttributeDevice) != 0) {
                kind = platform::EntryKind::kOther;
            } else {
                kind = platform::EntryKind::kFile;
            }
        }
        if (kind == platform::EntryKind::kFolder) {
            // Without subfolders a folder takes the file road, where its copy can only fail.
            if (!pass_.subfolders_) {
                return;
            }
            Subfolder(source, destination);
            // The subfolder's pass pointed the display at its own paths.
            Publish(source_, destination_);
            return;
        }
        if (kind != platform::EntryKind::kFile || destination.folder == nullptr) {
            return;  // FIFOs, devices and sockets are not copied; nor is anything into nothing
        }

        platform::CopyBatch& batch = pass_.batch_;
        std::optional<platform::FindData> existing;
        if (!destination.fresh) {
            // A waiting copy that the file system may take for this name (one differing only in
            // case, on FAT) is named first: the decision must see the folder as it would be had
            // every earlier copy been made at once.
            if (batch.MayHold(*destination.folder, name_)) {
                pass_.Counted(batch.Commit());
            }
            existing = destination.folder->Lookup(name_);
        }
        if (existing) {
            if (!data) {
                data = source.Lookup(name_);
                if (!data) {
                    return;
                }
            }
            if (!IsNewer(data->lastWriteTime, existing->lastWriteTime)) {
                return;
            }
        }
        // A missing file takes the source's time as the opened file gives it, which spares a
        // look at the source beforehand. Where nothing of the name was there, the copy also
        // refuses to replace whatever appears in the meantime.
        const std::optional<platform::FileTime> sourceTime =
            data ? std::optional(data->lastWriteTime) : std::nullopt;
        switch (batch.Add(writer_, source, name_, *destination.folder, name_, !existing,
                          sourceTime)) {
            case platform::CopyBatch::Added::kNamed:
                pass_.Counted(1);
                break;
            case platform::CopyBatch::Added::kWaiting:
                // The disk takes the batch while the walk goes on with the next one.
                if (batch.Full()) {
                    pass_.Counted(batch.CommitInBackground());
                }
                break;
            case platform::CopyBatch::Added::kFailed:
                break;
        }
    }

    // The pass of one subfolder, here or on an idle thread. A subfolder that cannot be listed
    // (or leads back onto the current path), or whose destination folder cannot be made, is
    // passed over. The destination folder is opened or made here, in the listing's order.
    void Subfolder(platform::Directory& parent, const Target parentDestination) {
        if (!PublishFolderStart()) {
            return;
        }
        auto source = parent.OpenChild(name_);
        if (!source || OnCurrentPath(IdentityOf(*source))) {
            return;
        }

        std::optional<platform::Directory> destination;
        bool fresh = false;
        if (const platform::Directory* const folder = parentDestination.folder) {
            if (!parentDestination.fresh) {
                destination = folder->OpenChild(name_);
            }
            if (!destination && folder->MakeChild(name_)) {
                destination = folder->OpenChild(name_);
                fresh = true;
            }
        }
        if (!destination) {
            // The rare road (something in the way, no permission, no parent): decided exactly
            // as for a path.
            const std::int32_t created = CreateFolderPath(destination_);
            if (created < 0) {
                return;
            }
            destination = platform::Directory::Open(destination_);
            fresh = created > 0;
        }
        fresh = fresh && destination.has_value();

        Task task;
        task.key = platform::CaseFoldedKey(parentDestination.key, 0, name_);
        task.path.reserve(path_.size() + 1);
        task.path = path_;
        task.path.push_back(IdentityOf(*source));
        if (destination) {
            task.holding = pass_.Hold(IdentityOf(*destination), task.key, worker_, !fresh);
        }
        const Released released{pass_, task.holding};
        task.source = std::move(*source);
        task.destination = std::move(destination);
        task.fresh = fresh;
        if (pass_.HandOn(task, source_, destination_)) {
            return;  // the holding went with the task
        }
        // No thread is idle: the subfolder's pass runs here, one level down.
        const struct Down {
            Walker& walker;
            std::vector<Identity>& above;
            Down(Walker& w, std::vector<Identity>& path) : walker(w), above(path) {
                std::swap(walker.path_, above);
                ++walker.depth_;
            }
            ~Down() {
                std::swap(walker.path_, above);
                --walker.depth_;
            }
        } down(*this, task.path);
        Folder(task.source,
               Target{task.destination ? &*task.destination : nullptr, task.fresh, task.key});
    }

    Pass& pass_;
    const int worker_;
    const bool top_;
    platform::CopyBatch::Writer writer_;
    std::string source_;
    std::string destination_;
    std::string name_;
    std::vector<Identity> path_;  // the source folders from the top down to the current one
    int depth_ = 0;               // of the current folder below the one the walker started in
    std::optional<std::string> topEntry_;  // the last entry shown in the top folder
};

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
            (*tasks_.back().holding)->worker = kQueued;
        }
        task.holding.reset();
    }
    wake_.notify_one();
    return true;
}

int Pass::BlockerOf(const Identity& folder, std::uint64_t key, int worker) const {
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

Holdings::iterator Pass::Hold(const Identity& folder, std::uint64_t key, int worker,
                              bool mayBeShared) {
    std::unique_lock lock(mutex_);
    if (mayBeShared) {
        // A cancelled pass does not wait: the level ends before its first entry.
        for (int blocker = BlockerOf(folder, key, worker); blocker != -1 && Continue();
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

void Pass::Release(Holdings::iterator holding) {
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
            bool wake = false;
            if (task.holding) {
                (*task.holding)->worker = worker;
                wake = waiters_ > 0;
            }
            lock.unlock();
            if (wake) {
                released_.notify_all();
            }
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
    auto source = platform::Directory::Open(sourcePath);
    if (!source) {
        return -1;
    }
    const std::int32_t created = CreateFolderPath(destinationPath);
    if (created < 0) {
        return -2;
    }
    task.destination = platform::Directory::Open(destinationPath);
    if (task.destination) {
        destinationRoot_ = IdentityOf(*task.destination);
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
    waitingOn_.assign(workers_, -1);
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
    Counted(batch_.Commit());
    return copied_.load(std::memory_order_relaxed);
}

}  // namespace

void SetCopyPassWorkers(unsigned workers) {
    gWorkers.store(workers, std::memory_order_relaxed);
}

std::int32_t SyncFolders(std::string_view source, std::string_view destination, bool subfolders,
                         CopyProgress& progress, const PassOptions& options) {
    if (!FolderExists(source)) {
        return -1;
    }
    if (!FolderExists(destination)) {
        return -2;
    }
    return CopyFolderPass(source, destination, subfolders, &progress, options);
}

std::int32_t CopyFolderPass(std::string_view source, std::string_view destination, bool subfolders,
                            CopyProgress* progress, const PassOptions& options) {
    Pass pass(subfolders, progress, options);
    try {
        return pass.Run(source, destination);
    } catch (const std::exception&) {
        try {
            pass.Counted(pass.batch_.Commit());
        } catch (const std::exception&) {
        }
        return pass.copied_.load();
    }
}

bool CopyFileKeepTime(std::string_view source, std::string_view destination, bool failIfExists,
                      platform::FileTime lastWrite) {
    if (source.size() > kMaxPathLength || destination.size() > kMaxPathLength) {
        return false;
    }
    return platform::CopyFileByPath(source, destination, failIfExists, lastWrite);
}

bool IsNewer(platform::FileTime source, platform::FileTime destination) {
    platform::FileTime limit = destination;
    AddMilliseconds(limit, 2000);
    return source > limit;
}

void AddMilliseconds(platform::FileTime& time, std::uint16_t milliseconds) {
    const auto low = static_cast<std::uint32_t>(time);
    auto high = static_cast<std::uint32_t>(time >> 32);
    const auto newLow = static_cast<std::uint32_t>(low + std::uint32_t{milliseconds} * 10000U);
    if (newLow < low) {
        ++high;
    }
    time = (static_cast<platform::FileTime>(high) << 32) | newLow;
}

}  // namespace tarnwick
