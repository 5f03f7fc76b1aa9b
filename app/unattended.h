#pragma once
// The core of the runs without a window, without Qt: `tarnwick --synchronize` (every group, as
// Synchronize does) and the runs of `tarnwick --watch`. Each run-log line goes to a stream as it
// is written; unattended runs of one user never overlap.

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run.h"

namespace tarnwick::platform {
class StopSignals;
}

namespace tarnwick::app {

// Exit statuses of the command line.
inline constexpr int kExitDone = 0;      // everything decided was copied, no error line (also
                                         // --help, --version)
inline constexpr int kExitErrors = 1;    // an error line, or files left behind (or --watch could
                                         // not watch)
inline constexpr int kExitUsage = 2;     // the command line was not understood
inline constexpr int kExitSignal = 128;  // plus the number of the signal that cancelled the run

// Writes each line of a run to a stream, flushed, and keeps what a notification says of it.
class StreamRunSink final : public RunSink {
public:
    explicit StreamRunSink(std::FILE* out) : out_(out) {}

    void Line(std::string_view text) override;
    void ErrorRaised() override { nextLineIsError_ = true; }
    void PassEnded(std::string_view from, std::string_view to, std::int32_t result) override;
    void Ending(std::int32_t total) override { total_ = total; }

    // The notification of the run in the log's words: its title (the total, or that errors
    // occurred, files were left behind or the run was cancelled) and its text (the files copied
    // into each folder, the folders where files were left behind, the error lines, the total).
    std::string Summary(const RunOutcome& outcome) const;
    std::string Body(const RunOutcome& outcome) const;

private:
    std::FILE* out_;
    bool nextLineIsError_ = false;
    std::vector<std::string> errorLines_;
    std::vector<std::string> destinations_;       // in the order first copied into
    std::map<std::string, std::int64_t> copied_;  // per destination
    std::int32_t total_ = 0;
};

// What an unattended run did.
struct UnattendedRun {
    RunOutcome Outcome;
    int Signal = 0;  // the last stop signal that came (SIGINT, SIGTERM), 0 for none
    // The run's thread did not come back from a volume after the cancel: the end lines were
    // written without it, and the program must end without waiting for it.
    bool Stranded = false;
};

// The exit status of a run: 0 complete, 1 error lines or files left behind, 128 + the signal's
// number for a run that a signal cancelled.
int ExitStatus(const UnattendedRun& run);

// One unattended run of the groups (all of them, or those in `only`), once no other unattended
// run of this user is running. A stop signal clears Progress.Continue when it is the
// `signalsToCancel`-th; a run that is not back within a moment after that (its volume does not
// answer) is left where it is, and its "Cancelled" and end lines are written without it.
UnattendedRun RunUnattended(platform::StopSignals& stop, RunSink& sink, const std::set<int>* only,
                            int signalsToCancel);

// Where unattended runs of this user take their lock: one place whether or not a login session
// exists (the user's state folder). nullopt when there is none.
std::optional<std::string> UnattendedLockPath();

// Ends the program with `status` at once, after the output written so far, where a run's thread
// is stranded in a volume (nothing may wait for it, not even the end of the program's objects).
[[noreturn]] void EndStranded(int status);

// tarnwick --synchronize: the exit status.
int Synchronize(std::FILE* out);

// The text of --help, and --version's answer (its exit status).
std::string_view UsageText();
int PrintVersion();

// Writes the text to the stream at once.
void Write(std::FILE* out, std::string_view text);

}  // namespace tarnwick::app
