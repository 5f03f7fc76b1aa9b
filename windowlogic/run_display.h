#pragma once
// What the main window shows of a synchronisation run: the progress fields on each tick of its
// timer, the fields at the end, the log window's title, and when the log window opens by itself.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/copy_pass.h"
#include "engine/run.h"

namespace tarnwick::windowlogic {

// The interval of the progress timer and of the timer that opens the log after an error.
inline constexpr int kProgressMilliseconds = 100;
inline constexpr int kErrorMilliseconds = 500;

inline constexpr const char* kLogTitle = "Log";
inline constexpr const char* kErrorLogTitle = "Error during synchronization";

// The shared record at the start of a run: no paths, no files, and told to go on. Set by the
// window rather than by the worker, so that a Cancel (or a close) that comes before the worker has
// begun is not undone by it.
void ResetForRun(CopyProgress& progress);

// The fields a tick changes; a field without a value keeps what it shows. Nothing changes once
// the run has been told to stop. The count changes with the destination field only, so that it
// always belongs to the pair shown.
struct ProgressFields {
    std::optional<std::string> from;
    std::optional<std::string> to;
    std::optional<std::string> count;
    bool operator==(const ProgressFields&) const = default;
};
ProgressFields ProgressTick(const CopyProgress& progress);

// The fields at the end of a run, complete or cancelled: both paths empty, the count the total.
ProgressFields RunEndFields(std::int32_t total);

// The error lines of a run against those the log window has been opened for: the log opens by
// itself only for a newer one, so a user who closed it during the run can reach Cancel.
class ErrorLines {
public:
    void RunStarted() { lines_ = seen_ = 0; }
    void LineWritten() { ++lines_; }
    // True when the run's error flag is set, an error line came since the log was last opened by
    // this, and the log window is closed.
    bool LogDue(bool errorFlag, bool logVisible) const {
        return errorFlag && lines_ > seen_ && !logVisible;
    }
    void LogOpened() { seen_ = lines_; }

private:
    int lines_ = 0;
    int seen_ = 0;
};

// Changes handed from other threads to the user-interface thread. The toolkit wakes its thread
// after each Add; RunAll there runs them one at a time in the order added, also when one of them
// opens a nested message loop (which may run the rest).
class PostedChanges {
public:
    void Add(std::function<void()> change);
    void RunAll();

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> changes_;
};

// What a window does with a run, on its user-interface thread.
class RunWindow {
public:
    virtual ~RunWindow() = default;
    // Runs `change` on the user-interface thread after every change posted before it, also when
    // one of them opens a modal window. May be called from any thread.
    virtual void Post(std::function<void()> change) = 0;
    virtual void SetLogTitle(const char* title) = 0;
    virtual void ClearLog() = 0;
    virtual void AppendLog(const std::string& line) = 0;
    // Switches on the timer that opens the log after an error (one already on stays as it is).
    virtual void StartErrorTimer() = 0;
    // The end of a run: the progress timer off, the fields of RunEndFields, Synchronize back.
    virtual void ShowRunEnd(std::int32_t total) = 0;
};

// A run's lines and end as a window shows them: every change is posted to the window in the
// order the run makes it; the error flag is set at once, on the run's thread, for the timers.
// `window` and `errorLines` (touched on the user-interface thread only) outlive what is posted.
class WindowRunSink final : public RunSink {
public:
    WindowRunSink(RunWindow& window, std::atomic<bool>& errorFlag, ErrorLines& errorLines)
        : window_(window), errorFlag_(errorFlag), errorLines_(errorLines) {}

    void Started() override;
    void Line(std::string_view text) override;
    void ErrorRaised() override;
    void Ending(std::int32_t total) override;

private:
    RunWindow& window_;
    std::atomic<bool>& errorFlag_;
    ErrorLines& errorLines_;
};

}  // namespace tarnwick::windowlogic
