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
#include "ui/Application.h"
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
// run removes. The process itself lasts until the volume lets the worker go; its windows do not.
void EndWithStuckWorker() {
    if (gStuckWorkerEnd) {
        gStuckWorkerEnd();
        return;
    }
    CloseDisplayConnection();
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
    // Not once the windows are gone: their display connection may be closed already.
    const bool showWait =
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr && isVisible();
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
    windowlogic::ResetForRun(Progress);
    bbtnStart->setEnabled(false);
    errorLines_.RunStarted();
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
    ShowProgressFields(windowlogic::ProgressTick(Progress));
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
    return Form2 != nullptr && errorLines_.LogDue(SyncErrorFlag, Form2->isVisible());
}

void TForm1::OpenLogAfterError() {
    if (UnseenErrorLine()) {
        errorLines_.LogOpened();
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

// Each change is fetched by a queued call.
void TForm1::Post(std::function<void()> change) {
    posted_.Add(std::move(change));
    QMetaObject::invokeMethod(this, "DrainPosted", Qt::QueuedConnection);
}

void TForm1::DrainPosted() {
    posted_.RunAll();
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

void TForm1::RunSync() {
    windowlogic::WindowRunSink sink(*this, SyncErrorFlag, errorLines_);
    SyncRun(Progress, sink).RunSync(ReadFolderEntry, nullptr, FolderOnItsVolume);
}

void TForm1::SetLogTitle(const char* title) {
    if (Form2 != nullptr) {
        Form2->setWindowTitle(ToQt(title));
    }
}

void TForm1::ClearLog() {
    if (LogMemo) {
        LogMemo->clear();
    }
}

void TForm1::AppendLog(const std::string& line) {
    if (LogMemo) {
        LogMemo->appendPlainText(ToQt(line));
    }
}

void TForm1::StartErrorTimer() {
    if (!TimerError->isActive()) {
        TimerError->start();
    }
}

void TForm1::ShowRunEnd(std::int32_t total) {
    Timer1->stop();
    ShowProgressFields(windowlogic::RunEndFields(total));
    ShowStartButton(true);
}

void TForm1::ShowProgressFields(const windowlogic::ProgressFields& fields) {
    if (fields.from) {
        Edit1->setText(ToQt(*fields.from));
    }
    if (fields.to) {
        Edit2->setText(ToQt(*fields.to));
    }
    if (fields.count) {
        lblCount->setText(ToQt(*fields.count));
    }
}

}  // namespace tarnwick::ui
