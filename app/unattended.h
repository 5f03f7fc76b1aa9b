#pragma once
// Runs without a window: `tarnwick --synchronize` (every group, as Synchronize does) and
// `tarnwick --watch` (the groups with a folder on a volume as soon as it is mounted). Each run-log
// line goes to a stream as it is written; unattended runs of one user never overlap.

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/run.h"

namespace tarnwick::platform {
class StopSignals;
}

namespace tarnwick::app {

// Exit statuses of the command line.
inline constexpr int kExitDone = 0;    // the run wrote no error line (also --help, --version)
inline constexpr int kExitErrors = 1;  // it wrote one (or --watch could not watch)
inline constexpr int kExitUsage = 2;   // the command line was not understood

// Writes each line of a run to a stream, flushed, and keeps what a notification says of it.
class StreamRunSink final : public RunSink {
public:
    explicit StreamRunSink(std::FILE* out) : out_(out) {}

    void Line(std::string_view text) override;
    void ErrorRaised() override { nextLineIsError_ = true; }
    void PassEnded(std::string_view from, std::string_view to, std::int32_t result) override;
    void Ending(std::int32_t total) override { total_ = total; }

    // The notification of the run in the log's words: its title (the total, or that errors
    // occurred) and its text (the files copied into each folder; the error lines and the total).
    std::string Summary() const;
    std::string Body() const;

private:
    std::FILE* out_;
    bool nextLineIsError_ = false;
    std::vector<std::string> errorLines_;
    std::vector<std::string> destinations_;       // in the order first copied into
    std::map<std::string, std::int64_t> copied_;  // per destination
    std::int32_t total_ = 0;
};

// The drives present, by their root folder, with the serial of each volume that can be read.
using PresentDrives = std::map<std::string, std::optional<std::uint32_t>>;

// A mounted drive as the watch last saw it.
struct SeenDrive {
    std::optional<std::uint32_t> serial;  // nullopt while its volume cannot be read
    // Mounted after the watch began and not yet taken for a run (its volume could not be read).
    bool awaited = false;
};

// Takes the drives present now into `seen`, and gives the serials of the volumes that appeared
// since: on a drive that is new, or whose root now holds another volume. A drive that was there
// before and only now can be read did not appear: it is taken as it is (a share that did not
// answer for a while). `awaiting` tells whether a new drive still cannot be read.
std::set<std::uint32_t> TakeAppeared(std::map<std::string, SeenDrive>& seen,
                                     const PresentDrives& present, bool& awaiting);

// One unattended run of the groups (all of them, or those in `only`), once no other unattended
// run of this user is running. A stop signal clears Progress.Continue when it is the
// `signalsToCancel`-th; `stopRequested` tells whether one came at all.
RunOutcome RunUnattended(platform::StopSignals& stop, RunSink& sink, const std::set<int>* only,
                         int signalsToCancel, bool& stopRequested);

// tarnwick --synchronize: the exit status.
int Synchronize(std::FILE* out);

// tarnwick --watch: until SIGINT or SIGTERM (which let a run in progress end first; a second
// one cancels it). The exit status.
int Watch(int& argc, char** argv, std::FILE* out);

// Everything after the program's name; the exit status.
int RunCommandLine(int& argc, char** argv);

}  // namespace tarnwick::app
