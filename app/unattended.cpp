#include "app/unattended.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/system/file_lock.h"
#include "platform/system/stop_signals.h"
#include "platform/system/system.h"
#include "platform/system/version.h"
#include "settings/folder_groups.h"

namespace tarnwick::app {

namespace {

constexpr const char* kLockName = "/unattended.lock";

constexpr std::string_view kUsage =
    "Usage:\n"
    "  tarnwick                 open the window\n"
    "  tarnwick --synchronize   synchronise every folder group of this computer, without a\n"
    "                           window, writing the run log to standard output\n"
    "  tarnwick --watch         without a window, synchronise the groups that have a folder on\n"
    "                           a volume as soon as that volume is mounted\n"
    "  tarnwick --help          show this text\n"
    "  tarnwick --version       show the version\n"
    "\n"
    "Exit status of --synchronize:\n"
    "  0    every file the run decided to copy was copied, and no error line was written\n"
    "  1    an error line was written, or files could not be copied (the log names them)\n"
    "  2    the command line was not understood\n"
    "  130  the run was cancelled by SIGINT (143: by SIGTERM), after its Cancelled and end\n"
    "       lines; the log and notification of each run of --watch say the same\n";

// How long a cancelled run may take to come back with its own end lines, before they are
// written without it (its volume does not answer); the lines must be out within 2 s.
constexpr std::chrono::milliseconds kStopGrace{1500};

std::string CountText(std::int64_t count) {
    return std::to_string(count) + (count > 1 ? " files" : " file") + " copied.";
}

}  // namespace

void Write(std::FILE* out, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

std::string_view UsageText() {
    return kUsage;
}

int PrintVersion() {
    const std::optional<std::string> executable = platform::NativeExecutablePath();
    const std::optional<platform::FileVersion> version =
        executable ? platform::ReadFileVersion(*executable) : std::nullopt;
    if (!version) {
        Write(stderr, "tarnwick: this executable carries no version record\n");
        return kExitErrors;
    }
    Write(stdout, "Tarnwick " + std::to_string(version->major) + "." +
                      std::to_string(version->minor) + "." + std::to_string(version->release) +
                      "." + std::to_string(version->build) + "\n");
    return kExitDone;
}

// --- The lines of a run ------------------------------------------------------------------------

void StreamRunSink::Line(std::string_view text) {
    std::string line(text);
    if (nextLineIsError_) {
        errorLines_.push_back(line);
        nextLineIsError_ = false;
    }
    line += '\n';
    Write(out_, line);
}

void StreamRunSink::PassEnded(std::string_view /*from*/, std::string_view to, std::int32_t result) {
    if (result <= 0) {
        return;
    }
    const std::string destination(to);
    const auto [place, added] = copied_.try_emplace(destination, 0);
    if (added) {
        destinations_.push_back(destination);
    }
    place->second += result;
}

std::string StreamRunSink::Summary(const RunOutcome& outcome) const {
    if (outcome.Cancelled) {
        return "Synchronization cancelled";
    }
    if (!errorLines_.empty() || outcome.Errors) {
        return "Error during synchronization";
    }
    if (!outcome.LeftBehind.empty()) {
        return "Files could not be copied";
    }
    return "Total files copied : " + std::to_string(total_) + ".";
}

std::string StreamRunSink::Body(const RunOutcome& outcome) const {
    std::string body;
    for (const std::string& destination : destinations_) {
        body += "\"" + destination + "\": " + CountText(copied_.at(destination)) + "\n";
    }
    for (const FilesLeftBehind& left : outcome.LeftBehind) {
        const std::string what =
            left.Folders > 0
                ? std::to_string(left.Folders) + (left.Folders > 1 ? " folders" : " folder") +
                      " could not be read or made"
                : std::to_string(left.Files) + (left.Files > 1 ? " files" : " file") +
                      " could not be copied";
        body += "\"" + left.Folder + "\": " + what +
                (left.Reason.empty() ? "" : " (" + left.Reason + ")") + ".\n";
    }
    for (const std::string& line : errorLines_) {
        body += line + "\n";
    }
    if (!outcome.Complete()) {
        body += "Total files copied : " + std::to_string(total_) + ".";
    } else if (!body.empty()) {
        body.pop_back();
    }
    return body;
}

int ExitStatus(const UnattendedRun& run) {
    if (run.Outcome.Cancelled && run.Signal > 0) {
        return kExitSignal + run.Signal;
    }
    return run.Outcome.Complete() ? kExitDone : kExitErrors;
}

std::optional<std::string> UnattendedLockPath() {
    const std::optional<std::string> folder = platform::UserStateFolder();
    if (!folder) {
        return std::nullopt;
    }
    return *folder + kLockName;
}

void EndStranded(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

// --- One run -----------------------------------------------------------------------------------

namespace {

// The lines of a run whose thread may be left in a volume: once sealed, nothing it writes
// reaches the sink any more.
class SealableSink final : public RunSink {
public:
    explicit SealableSink(RunSink& sink) : sink_(&sink) {}

    void Started() override {
        With([](RunSink& sink) { sink.Started(); });
    }
    void Line(std::string_view text) override {
        With([text](RunSink& sink) { sink.Line(text); });
    }
    void ErrorRaised() override {
        With([](RunSink& sink) { sink.ErrorRaised(); });
    }
    void PassEnded(std::string_view from, std::string_view to, std::int32_t result) override {
        With([&](RunSink& sink) { sink.PassEnded(from, to, result); });
    }
    void Ending(std::int32_t total) override {
        With([total](RunSink& sink) { sink.Ending(total); });
    }
    void Seal() {
        const std::lock_guard lock(mutex_);
        sink_ = nullptr;
    }

private:
    template <typename Call>
    void With(const Call& call) {
        const std::lock_guard lock(mutex_);
        if (sink_ != nullptr) {
            call(*sink_);
        }
    }

    std::mutex mutex_;
    RunSink* sink_;
};

// What the run's thread shares with the thread that waits for it; kept alive by both, since
// the run's thread may outlive the wait.
struct RunState {
    explicit RunState(RunSink& out, const std::set<int>* only)
        : sink(out), groups(only != nullptr ? std::optional(*only) : std::nullopt) {}

    CopyProgress progress;
    SealableSink sink;
    const std::optional<std::set<int>> groups;
    std::mutex mutex;
    bool done = false;       // the run came back; `outcome` holds its answer
    bool abandoned = false;  // nobody waits any more: the run must not wake the waiter
    RunOutcome outcome;
};

void RunGroups(RunState& state) {
    const RunOutcome outcome =
        SyncRun(state.progress, state.sink)
            .RunSync(ReadFolderEntry, state.groups ? &*state.groups : nullptr, FolderOnItsVolume);
    const std::lock_guard lock(state.mutex);
    state.outcome = outcome;
    state.done = true;
}

}  // namespace

UnattendedRun RunUnattended(platform::StopSignals& stop, RunSink& sink, const std::set<int>* only,
                            int signalsToCancel) {
    UnattendedRun run;
    const auto state = std::make_shared<RunState>(sink, only);
    state->progress.Continue = true;
    int signals = 0;
    const auto signalCame = [&] {
        run.Signal = stop.LastSignal();
        if (++signals >= signalsToCancel) {
            state->progress.Continue = false;
        }
    };

    // Not to overlap with another unattended run; a stop that cancels ends the wait, and the
    // run then writes only its frame.
    platform::FileLock lock;
    const std::optional<std::string> lockPath = UnattendedLockPath();
    auto taken = platform::FileLock::Result::Unavailable;
    if (lockPath) {
        while ((taken = lock.Take(*lockPath, stop)) == platform::FileLock::Result::Stopped) {
            signalCame();
            if (!state->progress.Continue) {
                break;
            }
        }
    }
    if (taken == platform::FileLock::Result::Unavailable) {
        Write(stderr, "tarnwick: no lock keeps this run apart from other unattended runs: " +
                          (lockPath ? *lockPath : std::string("no home folder")) +
                          " cannot be locked\n");
    }

    // The run goes on in a thread of its own, so that this one can answer the stop signals
    // while a volume holds the run.
    std::thread runner;
    try {
        runner = std::thread([state, &stop] {
            RunGroups(*state);
            const std::lock_guard lock(state->mutex);
            if (!state->abandoned) {
                stop.Wake();
            }
        });
    } catch (const std::system_error&) {
        // Without a thread the stop signals wait until the run has ended.
        RunGroups(*state);
    }
    std::optional<std::chrono::steady_clock::time_point> deadline;
    for (;;) {
        {
            const std::lock_guard held(state->mutex);
            if (state->done) {
                break;
            }
        }
        std::optional<std::chrono::milliseconds> timeout;
        if (deadline) {
            timeout = std::chrono::duration_cast<std::chrono::milliseconds>(
                *deadline - std::chrono::steady_clock::now());
        }
        const platform::StopSignals::Event event = stop.Wait(timeout);
        if (event == platform::StopSignals::Event::Signal) {
            signalCame();
            if (!state->progress.Continue && !deadline) {
                deadline = std::chrono::steady_clock::now() + kStopGrace;
            }
        } else if (event == platform::StopSignals::Event::TimedOut && !deadline) {
            break;  // no stop signal can be had: the run is waited for as it is
        } else if (event == platform::StopSignals::Event::TimedOut &&
                   std::chrono::steady_clock::now() >= *deadline) {
            {
                const std::lock_guard held(state->mutex);
                if (state->done) {
                    break;
                }
                state->abandoned = true;
                state->sink.Seal();
            }
            // The run is held in a volume: its end is written here, with what it had copied.
            runner.detach();
            const std::int32_t total = state->progress.FilesCopied;
            SyncRun(state->progress, sink).LogEnding(total);
            run.Outcome.Total = total;
            run.Outcome.Cancelled = true;
            run.Stranded = true;
            return run;
        }
    }
    if (runner.joinable()) {
        runner.join();
    }
    run.Outcome = state->outcome;
    return run;
}

int Synchronize(std::FILE* out) {
    platform::StopSignals stop;
    StreamRunSink sink(out);
    const UnattendedRun run = RunUnattended(stop, sink, nullptr, 1);
    if (run.Stranded) {
        EndStranded(ExitStatus(run));
    }
    return ExitStatus(run);
}

}  // namespace tarnwick::app
