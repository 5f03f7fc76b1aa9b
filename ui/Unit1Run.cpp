// The synchronisation run: Synchronize and Cancel, the progress timers, the worker thread and the
// run log it writes.
#include "ui/Unit1.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <utility>

#include "settings/folder_groups.h"
#include "ui/Flog.h"
#include "ui/Forms.h"
#include "ui/Text.h"

namespace tarnwick::ui {

std::atomic<bool> SyncErrorFlag{false};

namespace {

bool gThreadStartFails = false;
std::function<void()> gStuckWorkerEnd;

// The program ends without waiting for a worker that the kernel holds: the settings are written
// as they change, and what the worker had not finished lies under temporary names that the next
// run removes.
void EndWithStuckWorker() {
    if (gStuckWorkerEnd) {
        gStuckWorkerEnd();
        return;
    }
    std::fflush(nullptr);
    std::_Exit(0);
}

}  // namespace

void SetSyncThreadStartFailsForTesting(bool fails) {
    gThreadStartFails = fails;
}

void SetStuckWorkerEndForTesting(std::function<void()> end) {
    gStuckWorkerEnd = std::move(end);
}

void TForm1::StopRunAndWait(std::optional<std::chrono::milliseconds> limit) {
    if (!worker_.joinable()) {
        return;
    }
    // The worker stops before its next folder entry or directory entry; a file being copied is
    // finished (or its temporary file removed) first, so nothing is left half written.
    Progress.Continue = false;
    const bool showWait = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (showWait) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    if (limit) {
        std::unique_lock lock(endedMutex_);
        if (!endedChanged_.wait_for(lock, *limit, [this] { return workerEnded_; })) {
            lock.unlock();
            EndWithStuckWorker();
        }
    }
    worker_.join();
    if (showWait) {
        QGuiApplication::restoreOverrideCursor();
    }
}

// --- The synchronisation run: user-interface thread --------------------------------------------

void TForm1::ShowStartButton(bool start) {
    QPushButton* shown = start ? bbtnStart : bbtnCancel;
    QPushButton* hidden = start ? bbtnCancel : bbtnStart;
    const bool hadFocus = hidden->hasFocus();
    shown->setVisible(true);
    hidden->setVisible(false);
    if (hadFocus) {
        shown->setFocus();
    }
}

void TForm1::btnStartClick() {
    if (worker_.joinable()) {
        return;
    }
    SyncErrorFlag = false;
    ShowStartButton(false);
    Progress.SourcePath.Set(std::nullopt);
    Progress.DestinationPath.Set(std::nullopt);
    Progress.FilesCopied = 0;
    // Set here rather than by the worker, so that a Cancel (or a close) that comes before the
    // worker has begun is not undone by it.
    Progress.Continue = true;
    bbtnStart->setEnabled(false);
    errorLines_ = 0;
    errorLinesSeen_ = 0;
    workerEnded_ = false;  // no worker runs now
    try {
        if (gThreadStartFails) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        worker_ = std::thread(&TForm1::SyncThread, this);
    } catch (const std::system_error&) {
        // Nothing is reported: the window stays Running until the user presses Cancel.
        bbtnStart->setEnabled(true);
    }
    if (!Timer1->isActive()) {
        Timer1->start();
    }
}

void TForm1::bbtnCancelClick() {
    Progress.Continue = false;
    ShowStartButton(true);
    Timer1->stop();
}

void TForm1::Timer1Timer() {
    if (!Progress.Continue) {
        return;
    }
    if (const auto source = Progress.SourcePath.Get()) {
        Edit1->setText(ToQt(*source));
    }
    if (const auto destination = Progress.DestinationPath.Get()) {
        Edit2->setText(ToQt(*destination));
        lblCount->setText(QString::number(Progress.FilesCopied.load()));
    }
    if (UnseenErrorLine()) {
        // Opened from the event loop rather than from inside this tick, so that the timer goes on
        // ticking behind the modal window.
        QMetaObject::invokeMethod(this, "OpenLogAfterError", Qt::QueuedConnection);
    }
}

void TForm1::TimerErrorTimer() {
    TimerError->stop();
    OpenLogAfterError();
}

// An error line has reached the log since the log window was last opened, and the window is
// closed. A user who closed the log during a run can so reach Cancel; a new error opens it again.
bool TForm1::UnseenErrorLine() const {
    return SyncErrorFlag && errorLines_ > errorLinesSeen_ && Form2 != nullptr &&
           !Form2->isVisible();
}

void TForm1::OpenLogAfterError() {
    if (UnseenErrorLine()) {
        errorLinesSeen_ = errorLines_;
        Form2->exec();
    }
}

void TForm1::WorkerEnded() {
    if (worker_.joinable()) {
        worker_.join();
    }
    bbtnStart->setEnabled(true);
}

// --- Handing the worker's changes to the user-interface thread ---------------------------------

// The changes wait in a queue of our own, guarded by our own mutex, and each one is fetched by a
// queued call: they run on the user-interface thread one at a time in the order made, also when
// one of them opens a nested event loop.
void TForm1::Post(std::function<void()> change) {
    {
        const std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(change));
    }
    QMetaObject::invokeMethod(this, "DrainPosted", Qt::QueuedConnection);
}

void TForm1::DrainPosted() {
    for (;;) {
        std::function<void()> change;
        {
            const std::lock_guard lock(postedMutex_);
            if (posted_.empty()) {
                return;
            }
            change = std::move(posted_.front());
            posted_.pop_front();
        }
        change();
    }
}

// --- The synchronisation run: worker thread ----------------------------------------------------

void TForm1::SyncThread(TForm1* form) {
    try {
        form->RunSync();
    } catch (...) {
        // RunSync ends its own run on an error; this only keeps a failure while writing the end
        // lines from ending the program.
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    QMetaObject::invokeMethod(form, "WorkerEnded", Qt::QueuedConnection);
    {
        const std::lock_guard lock(form->endedMutex_);
        form->workerEnded_ = true;
    }
    form->endedChanged_.notify_all();
}

// The run's log lines and window changes are posted to the user-interface thread.
class TForm1::WindowRunSink final : public RunSink {
public:
    explicit WindowRunSink(TForm1& form) : form_(form) {}

    void Started() override {
        form_.Post([&form = form_] {
            if (Form2 != nullptr) {
                Form2->setWindowTitle(QStringLiteral("Log"));
            }
            if (form.LogMemo) {
                form.LogMemo->clear();
            }
        });
    }

    void Line(std::string_view text) override { form_.LogLine(text); }

    void ErrorRaised() override {
        SyncErrorFlag = true;
        form_.Post([&form = form_] {
            ++form.errorLines_;
            if (!form.TimerError->isActive()) {
                form.TimerError->start();
            }
            if (Form2 != nullptr) {
                Form2->setWindowTitle(QStringLiteral("Error during synchronization"));
            }
        });
    }

    void Ending(std::int32_t total) override { form_.EndRun(total); }

private:
    TForm1& form_;
};

void TForm1::RunSync() {
    WindowRunSink sink(*this);
    SyncRun(Progress, sink).RunSync(ReadFolderEntry, nullptr, FolderOnItsVolume);
}

void TForm1::EndRun(std::int32_t total) {
    Post([this, total] {
        Timer1->stop();
        Edit1->clear();
        Edit2->clear();
        lblCount->setText(QString::number(total));
        ShowStartButton(true);
    });
}

// --- The run log -------------------------------------------------------------------------------

void TForm1::LogLine(std::string_view text) {
    Post([this, line = std::string(text)] {
        if (LogMemo) {
            LogMemo->appendPlainText(ToQt(line));
        }
    });
}

}  // namespace tarnwick::ui
