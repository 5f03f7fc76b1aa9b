#include "windowlogic/run_display.h"

namespace tarnwick::windowlogic {

void ResetForRun(CopyProgress& progress) {
    progress.SourcePath.Set(std::nullopt);
    progress.DestinationPath.Set(std::nullopt);
    progress.FilesCopied = 0;
    progress.Continue = true;
}

ProgressFields ProgressTick(const CopyProgress& progress) {
    ProgressFields fields;
    if (!progress.Continue) {
        return fields;
    }
    fields.from = progress.SourcePath.Get();
    if (auto destination = progress.DestinationPath.Get()) {
        fields.to = std::move(destination);
        fields.count = std::to_string(progress.FilesCopied.load());
    }
    return fields;
}

ProgressFields RunEndFields(std::int32_t total) {
    return {std::string(), std::string(), std::to_string(total)};
}

void PostedChanges::Add(std::function<void()> change) {
    const std::lock_guard lock(mutex_);
    changes_.push_back(std::move(change));
}

void PostedChanges::RunAll() {
    for (;;) {
        std::function<void()> change;
        {
            const std::lock_guard lock(mutex_);
            if (changes_.empty()) {
                return;
            }
            change = std::move(changes_.front());
            changes_.pop_front();
        }
        change();
    }
}

void WindowRunSink::Started() {
    window_.Post([&window = window_] {
        window.SetLogTitle(kLogTitle);
        window.ClearLog();
    });
}

void WindowRunSink::Line(std::string_view text) {
    window_.Post([&window = window_, line = std::string(text)] { window.AppendLog(line); });
}

void WindowRunSink::ErrorRaised() {
    errorFlag_ = true;
    window_.Post([&window = window_, &lines = errorLines_] {
        lines.LineWritten();
        window.StartErrorTimer();
        window.SetLogTitle(kErrorLogTitle);
    });
}

void WindowRunSink::Ending(std::int32_t total) {
    window_.Post([&window = window_, total] { window.ShowRunEnd(total); });
}

}  // namespace tarnwick::windowlogic
