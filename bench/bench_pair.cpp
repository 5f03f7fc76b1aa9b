// Synchronises one folder pair the way a run does, for the benchmark:
//   tarnwick-bench-pair SOURCE DEST [--subfolders] [--merge] [--workers N]
// SOURCE and DEST are native folders; they are turned into drive paths through the real drive
// map. --workers sets the threads of the pass (1: a single thread). Prints one line per pass: "copied N", "error -1" or "error -2".

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "engine/copy_pass.h"
#include "platform/volumes/drives.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: tarnwick-bench-pair SOURCE DEST [--subfolders] [--merge] [--workers N]\n");
    return 2;
}

std::optional<std::string> DrivePathOf(const char* native) {
    std::error_code ec;
    std::string absolute = std::filesystem::absolute(native, ec).lexically_normal().string();
    if (ec) {
        return std::nullopt;
    }
    while (absolute.size() > 1 && absolute.back() == '/') {
        absolute.pop_back();
    }
    return tarnwick::platform::ToDrivePath(absolute);
}

// The main window's progress timer: reads the shared record every 100 ms while a pass runs.
class ProgressReader {
public:
    explicit ProgressReader(const tarnwick::CopyProgress& progress)
        : thread_([this, &progress] {
              std::unique_lock lock(mutex_);
              while (
                  !cv_.wait_for(lock, std::chrono::milliseconds(100), [this] { return done_; })) {
                  const auto source = progress.SourcePath.Get();
                  const auto destination = progress.DestinationPath.Get();
                  shown_ = progress.FilesCopied.load() + (source ? 1 : 0) + (destination ? 1 : 0);
              }
          }) {}

    ~ProgressReader() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    long shown_ = 0;
    std::thread thread_;
};

void Report(std::int32_t result) {
    if (result < 0) {
        std::printf("error %d\n", result);
    } else {
        std::printf("copied %d\n", result);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    bool subfolders = false;
    bool merge = false;
    for (int i = 3; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--subfolders") {
            subfolders = true;
        } else if (option == "--merge") {
            merge = true;
        } else if (option == "--workers" && i + 1 < argc) {
            const int workers = std::atoi(argv[++i]);
            if (workers < 1) {
                return Usage();
            }
            tarnwick::SetCopyPassWorkers(static_cast<unsigned>(workers));
        } else {
            return Usage();
        }
    }
    const auto source = DrivePathOf(argv[1]);
    const auto destination = DrivePathOf(argv[2]);
    if (!source || !destination) {
        std::fprintf(stderr, "tarnwick-bench-pair: a folder has no drive path\n");
        return 2;
    }

    tarnwick::CopyProgress progress;
    progress.Continue = true;
    {
        const ProgressReader reader(progress);
        Report(tarnwick::SyncFolders(*source, *destination, subfolders, progress));
        if (merge) {
            // The way back as a run's Merge takes it: the destination is the group's, whose
            // links are not followed.
            Report(tarnwick::SyncFolders(*destination, *source, subfolders, progress,
                                         {tarnwick::GroupDestination::kPassSource, nullptr}));
        }
    }
    return 0;
}
