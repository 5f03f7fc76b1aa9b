#pragma once
// The batch of copies that wait for their names, so that one flush of a volume serves many.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/files/copies.h"
#include "platform/files/files.h"

namespace tarnwick {

// Tests only: the bounds of every later batch (0, 0: the usual ones), so that a small tree spans
// many batches.
void SetCopyBatchBoundsForTests(std::size_t count, std::uint64_t bytes);

// Copies that are finished but wait under temporary names until their data is on the device;
// then they take their real names, all of a batch together (a copy that needs no wait, on a RAM
// disk, or whose volume cannot be flushed as a whole, on FUSE and network drives, is made
// durable and named at once). While copies wait in a folder the batch holds a shared lock on
// it, so that no pass takes their files for leftovers. A crash or a power cut
// therefore never leaves a file under a real name that is not whole: it is the old file or the
// whole new copy with its time. The batch is bounded by count and bytes, so open descriptors
// and memory stay flat; a full batch is committed by whoever finds it full, in the background
// if it likes, while the next batch fills (one batch at most is committed so). Copies not
// committed are dropped with the batch. Several threads may add to one batch at once, each
// through a Writer of its own; the copies themselves are written in parallel.
class CopyBatch {
public:
    // What one thread keeps while it adds copies: the folder it last added to, with the lock
    // that the waiting copies there need.
    class Writer {
    public:
        Writer();
        ~Writer();
        Writer(const Writer&) = delete;
        Writer& operator=(const Writer&) = delete;
        // Lets go of the folder it holds (its descriptor stays open while copies wait there).
        void Release() { folder_.reset(); }

    private:
        friend class CopyBatch;
        std::shared_ptr<platform::HeldFolder> folder_;
    };

    // Told of each copy that was added (kWaiting or kNamed) and then did not keep its name:
    // its data could not be made durable, or its target changed; called on whichever thread
    // commits. `count` copies at once where a flush of names failed.
    using Dropped = std::function<void(const platform::FileError& why, std::int32_t count)>;

    // `named`, when given, grows by one at each name given, by whichever thread gives it (and
    // shrinks again for names that a failed flush leaves off the device). `going`, when given,
    // is cleared to stop waiting for a folder that another holds locked.
    explicit CopyBatch(std::atomic<std::int32_t>* named = nullptr,
                       const std::atomic<bool>* going = nullptr, Dropped dropped = {});
    ~CopyBatch();
    CopyBatch(const CopyBatch&) = delete;
    CopyBatch& operator=(const CopyBatch&) = delete;

    enum class Added { kFailed, kWaiting, kNamed };
    // Copies as platform::CopyFileAt does. kNamed where the copy needs no wait and took its name at
    // once (RAM disks), kWaiting while it waits for a commit, kFailed when it could not be made
    // (nothing has changed then). `decidedOn`: the target as found when the copy was decided
    // on; the copy replaces only that file, and is dropped where the target changed meanwhile.
    // `why` tells what made it kFailed.
    Added Add(Writer& writer, const platform::Directory& from, const std::string& name,
              const platform::Directory& to, const std::string& toName, bool failIfExists,
              std::optional<platform::FileTime> lastWrite, const platform::FindData* decidedOn,
              platform::FileError& why);
    // The same for a batch that one thread uses.
    Added Add(const platform::Directory& from, const std::string& name,
              const platform::Directory& to, const std::string& toName, bool failIfExists,
              std::optional<platform::FileTime> lastWrite) {
        platform::FileError why;
        return Add(writer_, from, name, to, toName, failIfExists, lastWrite, nullptr, why);
    }

    bool Full() const;
    // True when a waiting copy (also one being committed in the background) may take the name
    // `name` in `to` or one that the file system may take for the same (names that differ in
    // case). A lookup of such a name has to wait for Commit, or it would decide on what the
    // folder holds before the copy.
    bool MayHold(const platform::Directory& to, std::string_view name) const;

    // Makes the copies waiting so far durable and gives them their names, in the order they
    // were added. Answers how many took their names in this call, those of a commit in the
    // background that it waited for included; a copy whose data could not be made durable, or
    // whose name is taken meanwhile (where it may not be replaced), is dropped. Each name is
    // answered by exactly one call.
    int Commit();
    // Hands the waiting copies, when they fill a batch, to a commit in the background and
    // answers how many of the previous one took their names (it is waited for first). Where no
    // thread can be started the commit is made at once.
    int CommitInBackground();
    // Commit, and then the names given are made durable too: once it returns, every copy that
    // any call answered for is on the device under its name. Names whose flush failed are taken
    // off the count (the answer may be below 0) and told as dropped.
    int Finish();

private:
    struct Pending;
    using Keys = std::unordered_set<std::uint64_t>;
    int CommitCopies(std::vector<Pending>& copies);
    int CommitLocked();
    void Relieve();
    void WatchAge();
    void Watch();
    void Settle(const std::shared_ptr<platform::HeldFolder>& folder);
    void Drop(const platform::FileError& why, std::int32_t count);
    // Names given in a folder, or on a volume, that a flush has yet to reach the device.
    struct Unflushed {
        std::shared_ptr<platform::HeldFolder> folder;
        std::int32_t names = 0;
    };
    int Unname(const platform::FileError& why, std::int32_t names);
    int FlushFolders(const std::vector<Unflushed>& folders);
    bool Named(bool named);
    bool FullLocked() const;
    void TakePending();
    void ForgetCommitted();
    int FinishBackground();

    // Guards the waiting copies and their bounds, and both sets of keys.
    mutable std::mutex mutex_;
    std::vector<Pending> pending_;
    Keys keys_;
    std::atomic<std::size_t> keyCount_{0};  // of both sets, read without the lock
    std::unordered_set<const platform::HeldFolder*> folders_;  // of the waiting copies
    std::uint64_t bytes_ = 0;
    std::size_t count_;  // the bound of this batch: the first ones are small
    const std::size_t folderBound_;
    std::chrono::steady_clock::time_point first_;
    // The watcher of the batch's age; stopping_ under mutex_.
    std::once_flag watcherStarted_;
    std::thread watcher_;
    std::condition_variable aged_;
    bool stopping_ = false;
    // Folders where copies took their names at once, to be flushed at the end (under mutex_).
    std::vector<Unflushed> settling_;
    // One commit at a time. The batch being committed in the background belongs to its thread
    // until it is joined; its keys stay under mutex_ for MayHold.
    std::mutex commitMutex_;
    std::vector<Pending> committing_;
    Keys committingKeys_;
    std::thread committer_;
    int committed_ = 0;
    int early_ = 0;  // named by the watcher or for want of descriptors, not yet answered
    // One folder for each volume that has names not yet flushed (the committing thread's).
    std::vector<Unflushed> unflushed_;
    Writer writer_;
    std::atomic<std::int32_t>* const named_;
    const std::atomic<bool>* const going_;
    const Dropped dropped_;
    // Names given at once whose folder's flush failed before Finish, to be taken off its answer.
    std::atomic<int> unflushedEarly_{0};
};

}  // namespace tarnwick
