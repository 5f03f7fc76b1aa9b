#include "engine/copy_batch.h"

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

std::atomic<std::size_t> gTestBatchCount{0};
std::atomic<std::uint64_t> gTestBatchBytes{0};

std::size_t BatchCount() {
    const std::size_t forTests = gTestBatchCount.load(std::memory_order_relaxed);
    return forTests != 0 ? forTests : kBatchCount;
}

}  // namespace

struct CopyBatch::Pending {
    std::shared_ptr<platform::HeldFolder> folder;
    std::string toName;
    char temporary[64] = "";
    bool failIfExists = false;
};

CopyBatch::Writer::Writer() = default;
CopyBatch::Writer::~Writer() = default;

CopyBatch::CopyBatch(std::atomic<std::int32_t>* named) : count_(kFirstBatchCount), named_(named) {}

bool CopyBatch::Named(bool named) {
    if (named && named_ != nullptr) {
        named_->fetch_add(1, std::memory_order_relaxed);
    }
    return named;
}

CopyBatch::~CopyBatch() {
    FinishBackground();
    for (const Pending& copy : pending_) {
        copy.folder->Remove(copy.temporary);
    }
}

bool CopyBatch::FullLocked() const {
    if (pending_.empty()) {
        return false;
    }
    const std::uint64_t forTests = gTestBatchBytes.load(std::memory_order_relaxed);
    return pending_.size() >= std::min(count_, BatchCount()) ||
           bytes_ >= (forTests != 0 ? forTests : kBatchBytes) ||
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
                                                   const platform::Directory& to) {
    if (last && last->Id() == to.Id()) {
        return last;
    }
    auto folder = platform::HeldFolder::Hold(to);
    if (folder) {
        last = folder;
    }
    return folder;
}

}  // namespace

CopyBatch::Added CopyBatch::Add(Writer& writer, const platform::Directory& from,
                                const std::string& name, const platform::Directory& to,
                                const std::string& toName, bool failIfExists,
                                std::optional<platform::FileTime> lastWrite) {
    if (!to.IsOpen()) {
        return Added::kFailed;
    }
    const platform::Directory::Durability durability = to.CopyDurability();
    // The folder is held before a temporary file is made in it: a file just made is not locked
    // yet, and must not be taken for a leftover.
    std::shared_ptr<platform::HeldFolder> folder;
    try {
        folder = HeldFolderOf(writer.folder_, to);
    } catch (const std::exception&) {
    }
    // A copy that waits in the batch does so under a temporary name; one that needs no wait (a
    // RAM disk), or whose volume cannot be flushed as a whole, is made durable and named at once.
    const bool waits = durability == platform::Directory::Durability::kVolume && folder;
    auto copy = platform::TemporaryCopy::Write(from, name, to, toName, failIfExists, lastWrite,
                                               folder.get(), waits);
    if (!copy) {
        return Added::kFailed;
    }
    if (!waits) {
        return Named(copy->NameNow(to)) ? Added::kNamed : Added::kFailed;
    }
    try {
        Pending pending;
        pending.folder = folder;
        pending.toName = toName;
        pending.failIfExists = failIfExists;
        const std::uint64_t key = platform::CaseFoldedKey(to.Device(), to.Inode(), toName);
        const std::uint64_t size = copy->Size();
        copy->HandOver(pending.temporary);
        const std::lock_guard lock(mutex_);
        if (pending_.capacity() == 0) {
            pending_.reserve(BatchCount());
        }
        pending_.push_back(std::move(pending));
        try {
            if (keys_.insert(key).second) {
                keyCount_.fetch_add(1, std::memory_order_release);
            }
        } catch (const std::exception&) {
            folder->Remove(pending_.back().temporary);
            pending_.pop_back();
            return Added::kFailed;
        }
        if (pending_.size() == 1) {
            first_ = std::chrono::steady_clock::now();
        }
        bytes_ += size;
    } catch (const std::exception&) {
        return Added::kFailed;
    }
    return Added::kWaiting;
}

// With commitMutex_ held: the copies waiting so far become the batch being committed.
void CopyBatch::TakePending() {
    const std::lock_guard lock(mutex_);
    committing_.swap(pending_);
    committingKeys_.swap(keys_);
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

int CopyBatch::Commit() {
    const std::lock_guard commit(commitMutex_);
    const int background = FinishBackground();
    // Committed as a background batch would be, only waited for here: the keys stay visible
    // until the copies have their names.
    TakePending();
    const int named = CommitCopies(committing_);
    ForgetCommitted();
    return background + named;
}

int CopyBatch::CommitInBackground() {
    const std::lock_guard commit(commitMutex_);
    if (!Full()) {
        return 0;  // another writer has handed the batch on meanwhile
    }
    const int background = FinishBackground();
    TakePending();
    {
        const std::lock_guard lock(mutex_);
        count_ = std::min(count_ * 2, BatchCount());
    }
    try {
        committer_ = std::thread([this] { committed_ = CommitCopies(committing_); });
    } catch (const std::exception&) {
        const int named = CommitCopies(committing_);
        ForgetCommitted();
        return background + named;
    }
    return background;
}

int CopyBatch::CommitCopies(std::vector<Pending>& copies) {
    // The volumes flushed for this batch, and whether the flush succeeded. A batch rarely spans
    // more than one volume.
    std::vector<std::pair<std::uint64_t, bool>> flushed;
    int named = 0;
    for (Pending& copy : copies) {
        const platform::HeldFolder& folder = *copy.folder;
        const auto found = std::find_if(flushed.begin(), flushed.end(), [&](const auto& volume) {
            return volume.first == folder.Device();
        });
        bool durable = false;
        if (found != flushed.end()) {
            durable = found->second;
        } else {
            durable = folder.FlushVolume();
            flushed.emplace_back(folder.Device(), durable);
        }
        if (!durable) {
            folder.Remove(copy.temporary);
        } else if (folder.Name(copy.temporary, copy.toName, copy.failIfExists)) {
            named += Named(true) ? 1 : 0;
        }
    }
    copies.clear();
    return named;
}

}  // namespace tarnwick
