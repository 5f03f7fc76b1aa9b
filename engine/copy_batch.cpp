#include "engine/copy_batch.h"

#include "platform/system/system.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace tarnwick {

namespace {

constexpr std::size_t kBatchCount = 2048;
// The first batches of a pass are small and grow, and no copy waits much longer than this, so
// that the count of copies moves soon and steadily.
constexpr std::size_t kFirstBatchCount = 16;
constexpr std::chrono::milliseconds kBatchAge{400};
constexpr std::uint64_t kBatchBytes = std::uint64_t{256} << 20;
// Each folder with copies waiting in it holds a descriptor: a batch spans at most this many
// folders, and at most an eighth of the descriptors the process may open (the batch being
// committed holds as many again).
constexpr std::size_t kBatchFolders = 256;

std::size_t FolderBound() {
    return std::clamp<std::size_t>(std::size_t(platform::OpenFileLimit() / 8), 4, kBatchFolders);
}

std::atomic<std::size_t> gTestBatchCount{0};
std::atomic<std::uint64_t> gTestBatchBytes{0};

std::size_t BatchCount() {
    const std::size_t forTests = gTestBatchCount.load(std::memory_order_relaxed);
    return forTests != 0 ? forTests : kBatchCount;
}

}  // namespace

struct CopyBatch::Pending {
    std::shared_ptr<platform::HeldFolder> folder;
    platform::WaitingCopy copy;
};

CopyBatch::Writer::Writer() = default;
CopyBatch::Writer::~Writer() = default;

CopyBatch::CopyBatch(std::atomic<std::int32_t>* named, const std::atomic<bool>* going,
                     Dropped dropped)
    : count_(kFirstBatchCount),
      folderBound_(FolderBound()),
      named_(named),
      going_(going),
      dropped_(std::move(dropped)) {}

void CopyBatch::Drop(const platform::FileError& why, std::int32_t count) {
    if (dropped_ && count > 0) {
        dropped_(why, count);
    }
}

// Names already given and counted whose flush failed: they may never reach the device.
int CopyBatch::Unname(const platform::FileError& why, std::int32_t names) {
    if (names <= 0) {
        return 0;
    }
    if (named_ != nullptr) {
        named_->fetch_sub(names, std::memory_order_relaxed);
    }
    Drop(why, names);
    return names;
}

bool CopyBatch::Named(bool named) {
    if (named && named_ != nullptr) {
        named_->fetch_add(1, std::memory_order_relaxed);
    }
    return named;
}

CopyBatch::~CopyBatch() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    aged_.notify_all();
    if (watcher_.joinable()) {
        watcher_.join();
    }
    FinishBackground();
    for (const Pending& copy : pending_) {
        copy.folder->Remove(copy.copy.temporary);
    }
}

bool CopyBatch::FullLocked() const {
    if (pending_.empty()) {
        return false;
    }
    const std::uint64_t forTests = gTestBatchBytes.load(std::memory_order_relaxed);
    return pending_.size() >= std::min(count_, BatchCount()) ||
           bytes_ >= (forTests != 0 ? forTests : kBatchBytes) || folders_.size() >= folderBound_ ||
           std::chrono::steady_clock::now() - first_ >= kBatchAge;
}

bool CopyBatch::Full() const {
    const std::lock_guard lock(mutex_);
    return FullLocked();
}

void SetCopyBatchBoundsForTests(std::size_t count, std::uint64_t bytes) {
    gTestBatchCount.store(count, std::memory_order_relaxed);
    gTestBatchBytes.store(bytes, std::memory_order_relaxed);
}

bool CopyBatch::MayHold(const platform::Directory& to, std::string_view name) const {
    if (keyCount_.load(std::memory_order_acquire) == 0) {
        return false;  // what a rescan sees: nothing waits, no lock is taken
    }
    const std::uint64_t key = platform::CaseFoldedKey(to.Device(), to.Inode(), name);
    const std::lock_guard lock(mutex_);
    return keys_.contains(key) || committingKeys_.contains(key);
}

namespace {

// The folder of a batch's copies, held by a writer for as long as it adds there.
std::shared_ptr<platform::HeldFolder> HeldFolderOf(std::shared_ptr<platform::HeldFolder>& last,
                                                   const platform::Directory& to,
                                                   const std::atomic<bool>* going,
                                                   platform::FileError& why) {
    if (last && last->Id() == to.Id()) {
        return last;
    }
    last.reset();  // its descriptor is not needed while the next one is opened
    auto folder = platform::HeldFolder::Hold(
        to, [going] { return going == nullptr || going->load(std::memory_order_relaxed); }, &why);
    if (folder) {
        last = folder;
    }
    return folder;
}

}  // namespace

CopyBatch::Added CopyBatch::Add(Writer& writer, const platform::Directory& from,
                                const std::string& name, const platform::Directory& to,
                                const std::string& toName, bool failIfExists,
                                std::optional<platform::FileTime> lastWrite,
                                const platform::FindData* decidedOn, platform::FileError& why) {
    why = {};
    if (!to.IsOpen()) {
        why = {platform::FileRefusal::kSystem, 0, platform::FileConcern::kFolder};
        return Added::kFailed;
    }
    const platform::Directory::Durability durability = to.CopyDurability();
    std::shared_ptr<platform::HeldFolder> folder;
    std::optional<platform::TemporaryCopy> copy;
    // Where descriptors run out, the waiting copies are named, which gives theirs back, and the
    // copy is tried once more: running out never skips a file.
    for (int attempt = 0; attempt < 2 && !copy; ++attempt) {
        if (attempt > 0) {
            writer.Release();
            folder.reset();
            Relieve();
        }
        // The folder is held before a temporary file is made in it: a file just made is not
        // locked yet, and must not be taken for a leftover.
        platform::FileError held;
        try {
            folder = HeldFolderOf(writer.folder_, to, going_, held);
        } catch (const std::exception&) {
        }
        if (!folder && held.RanOutOfDescriptors() && attempt == 0) {
            continue;
        }
        // A copy that waits in the batch does so under a temporary name; one that needs no wait
        // (a RAM disk), or whose volume cannot be flushed as a whole, is made durable and named
        // at once.
        const bool waits = durability == platform::Directory::Durability::kVolume && folder &&
                           !folder->Contended();
        copy = platform::TemporaryCopy::Write(from, name, to, toName, failIfExists, lastWrite,
                                              decidedOn, folder.get(), waits, why);
        if (!copy && !why.RanOutOfDescriptors()) {
            return Added::kFailed;
        }
    }
    if (!copy) {
        return Added::kFailed;
    }
    if (durability != platform::Directory::Durability::kVolume || !folder || folder->Contended()) {
        why = copy->NameNow(to);
        if (why) {
            return Added::kFailed;
        }
        // The name itself reaches the disk with a flush of its folder, at the end.
        if (durability != platform::Directory::Durability::kNone && folder) {
            Settle(folder);
        }
        return Named(true) ? Added::kNamed : Added::kFailed;
    }
    try {
        Pending pending;
        pending.folder = folder;
        const std::uint64_t key = platform::CaseFoldedKey(to.Device(), to.Inode(), toName);
        const std::uint64_t size = copy->Size();
        copy->HandOver(pending.copy);
        bool first = false;
        {
            const std::lock_guard lock(mutex_);
            if (pending_.capacity() == 0) {
                pending_.reserve(BatchCount());
            }
            pending_.push_back(std::move(pending));
            try {
                if (keys_.insert(key).second) {
                    keyCount_.fetch_add(1, std::memory_order_release);
                }
                folders_.insert(folder.get());
            } catch (const std::exception&) {
                folder->Remove(pending_.back().copy.temporary);
                pending_.pop_back();
                return Added::kFailed;
            }
            first = pending_.size() == 1;
            if (first) {
                first_ = std::chrono::steady_clock::now();
            }
            bytes_ += size;
        }
        if (first) {
            WatchAge();
        }
    } catch (const std::exception&) {
        return Added::kFailed;
    }
    return Added::kWaiting;
}

// A copy that waits is named within kBatchAge even when no copy comes after it: a thread of the
// batch's own watches the age of the oldest, started with the first copy that waits.
void CopyBatch::WatchAge() {
    try {
        std::call_once(watcherStarted_, [this] {
            try {
                watcher_ = std::thread([this] { Watch(); });
            } catch (const std::exception&) {
                // Without it a batch is named when the next copy finds it old, or at the end.
            }
        });
    } catch (const std::exception&) {
    }
    aged_.notify_one();
}

void CopyBatch::Watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (pending_.empty()) {
            aged_.wait(lock);
            continue;
        }
        const auto due = first_ + kBatchAge;
        if (std::chrono::steady_clock::now() < due) {
            aged_.wait_until(lock, due);
            continue;
        }
        lock.unlock();
        try {
            const std::lock_guard commit(commitMutex_);
            if (Full()) {  // not handed on meanwhile
                early_ += CommitLocked();
            }
        } catch (const std::exception&) {
            // Nothing here may end the program: the copies wait for the next commit.
        }
        lock.lock();
    }
}

// Names the waiting copies now, to give their folders' descriptors back.
void CopyBatch::Relieve() {
    const std::lock_guard commit(commitMutex_);
    early_ += CommitLocked();
}

void CopyBatch::Settle(const std::shared_ptr<platform::HeldFolder>& folder) {
    std::vector<Unflushed> full;
    {
        const std::lock_guard lock(mutex_);
        if (!settling_.empty() && settling_.back().folder->Id() == folder->Id()) {
            ++settling_.back().names;
            return;
        }
        try {
            settling_.push_back({folder, 1});
        } catch (const std::exception&) {
            if (const platform::FileError failed = folder->FlushFolder()) {
                unflushedEarly_.fetch_add(Unname(failed, 1), std::memory_order_relaxed);
            }
            return;
        }
        if (settling_.size() >= folderBound_) {
            full.swap(settling_);
        }
    }
    unflushedEarly_.fetch_add(FlushFolders(full), std::memory_order_relaxed);
}

int CopyBatch::FlushFolders(const std::vector<Unflushed>& folders) {
    int unnamed = 0;
    for (const Unflushed& named : folders) {
        if (const platform::FileError failed = named.folder->FlushFolder()) {
            unnamed += Unname(failed, named.names);
        }
    }
    return unnamed;
}

// With commitMutex_ held: the copies waiting so far become the batch being committed.
void CopyBatch::TakePending() {
    const std::lock_guard lock(mutex_);
    committing_.swap(pending_);
    committingKeys_.swap(keys_);
    folders_.clear();
    bytes_ = 0;
}

// With commitMutex_ held, once the batch being committed has its names.
void CopyBatch::ForgetCommitted() {
    const std::lock_guard lock(mutex_);
    keyCount_.fetch_sub(committingKeys_.size(), std::memory_order_release);
    committingKeys_.clear();
}

// With commitMutex_ held.
int CopyBatch::FinishBackground() {
    if (!committer_.joinable()) {
        return 0;
    }
    committer_.join();
    ForgetCommitted();
    return std::exchange(committed_, 0);
}

// With commitMutex_ held.
int CopyBatch::CommitLocked() {
    const int background = FinishBackground();
    // Committed as a background batch would be, only waited for here: the keys stay visible
    // until the copies have their names.
    TakePending();
    const int named = CommitCopies(committing_);
    ForgetCommitted();
    return background + named;
}

int CopyBatch::Commit() {
    const std::lock_guard commit(commitMutex_);
    const int named = CommitLocked();
    return std::exchange(early_, 0) + named;
}

int CopyBatch::Finish() {
    const std::lock_guard commit(commitMutex_);
    const int named = std::exchange(early_, 0) + CommitLocked();
    // The names given since the last flush of their volume, and those given at once in folders
    // whose volume is not flushed as a whole, are made durable too. A flush that fails is not
    // asked again: its names are not counted.
    int unnamed = 0;
    for (const Unflushed& volume : unflushed_) {
        if (const platform::FileError failed = volume.folder->FlushVolume()) {
            unnamed += Unname(failed, volume.names);
        }
    }
    unflushed_.clear();
    std::vector<Unflushed> settling;
    {
        const std::lock_guard lock(mutex_);
        settling.swap(settling_);
    }
    unnamed += FlushFolders(settling);
    return named - unflushedEarly_.exchange(0, std::memory_order_relaxed) - unnamed;
}

int CopyBatch::CommitInBackground() {
    const std::lock_guard commit(commitMutex_);
    if (!Full()) {
        return 0;  // another writer has handed the batch on meanwhile
    }
    const int background = FinishBackground() + std::exchange(early_, 0);
    TakePending();
    {
        const std::lock_guard lock(mutex_);
        count_ = std::min(count_ * 2, BatchCount());
    }
    try {
        committer_ = std::thread([this] {
            // Nothing on this thread may end the program: what is not named stays a leftover.
            try {
                committed_ = CommitCopies(committing_);
            } catch (const std::exception&) {
            }
        });
    } catch (const std::exception&) {
        const int named = CommitCopies(committing_);
        ForgetCommitted();
        return background + named;
    }
    return background;
}

int CopyBatch::CommitCopies(std::vector<Pending>& copies) {
    // The volumes flushed for this batch, and how the flush went. A batch rarely spans more than
    // one volume.
    constexpr std::size_t kVolumes = 8;
    std::pair<std::uint64_t, platform::FileError> flushed[kVolumes];
    std::size_t volumes = 0;
    int named = 0;
    for (Pending& copy : copies) {
        const platform::HeldFolder& folder = *copy.folder;
        const auto end = flushed + volumes;
        const auto found = std::find_if(
            flushed, end, [&](const auto& volume) { return volume.first == folder.Device(); });
        platform::FileError failed;
        if (found != end) {
            failed = found->second;
        } else {
            failed = folder.FlushVolume();
            if (volumes < kVolumes) {
                flushed[volumes++] = {folder.Device(), failed};
            }
            // The flush covers the names given there before: they are on the device now, or,
            // where it failed, may never be.
            std::erase_if(unflushed_, [&](const Unflushed& volume) {
                if (volume.folder->Device() != folder.Device()) {
                    return false;
                }
                if (failed) {
                    named -= Unname(failed, volume.names);
                }
                return true;
            });
        }
        // A copy whose data may not be on the device is neither named nor counted. Its flush is
        // not asked again through another descriptor, which would not hear of the error.
        if (failed) {
            folder.Remove(copy.copy.temporary);
            Drop(failed, 1);
            continue;
        }
        if (const platform::FileError refused = folder.Name(copy.copy)) {
            Drop(refused, 1);
            continue;
        }
        named += Named(true) ? 1 : 0;
        const auto volume = std::find_if(
            unflushed_.begin(), unflushed_.end(),
            [&](const Unflushed& known) { return known.folder->Device() == folder.Device(); });
        if (volume != unflushed_.end()) {
            ++volume->names;
            continue;
        }
        try {
            unflushed_.push_back({copy.folder, 1});
        } catch (const std::exception&) {
            if (const platform::FileError lost = folder.FlushVolume()) {
                named -= Unname(lost, 1);
            }
        }
    }
    copies.clear();
    return named;
}

}  // namespace tarnwick
