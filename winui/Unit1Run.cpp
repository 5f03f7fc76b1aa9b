// The synchronisation run: Synchronize and Cancel, the progress timers, the worker thread and the
// run log it writes into the log window.
#include "winui/Unit1.h"

#include <chrono>
#include <system_error>

#include "engine/run.h"
#include "settings/folder_groups.h"
#include "winui/Flog.h"
#include "winui/Messages.h"

namespace tarnwick::winui {

void TForm1::ShowStartButton(bool start) {
    HWND shown = start ? bbtnStart : bbtnCancel;
    HWND hidden = start ? bbtnCancel : bbtnStart;
    const bool hadFocus = GetFocus() == hidden;
    ShowWindow(shown, SW_SHOW);
    ShowWindow(hidden, SW_HIDE);
    if (hadFocus) {
        SetFocus(shown);
    }
}

void TForm1::btnStartClick() {
    if (worker_.joinable()) {
        return;
    }
    syncErrorFlag_ = false;
    ShowStartButton(false);
    windowlogic::ResetForRun(Progress);
    // Synchronize stays unavailable until this run's worker has ended, also after Cancel.
    EnableWindow(bbtnStart, FALSE);
    errorLines_.RunStarted();
    workerEnded_ = false;  // no worker runs now
    try {
        worker_ = std::thread(&TForm1::SyncThread, this);
    } catch (const std::system_error&) {
        // Nothing is reported: the window stays Running until the user presses Cancel.
        EnableWindow(bbtnStart, TRUE);
    }
    SetTimer(window_, IDT_Timer1, windowlogic::kProgressMilliseconds, nullptr);
}

void TForm1::bbtnCancelClick() {
    Progress.Continue = false;
    ShowStartButton(true);
    KillTimer(window_, IDT_Timer1);
}

void TForm1::Timer1Timer() {
    if (!Progress.Continue) {
        return;
    }
    ShowProgressFields(windowlogic::ProgressTick(Progress));
    if (UnseenErrorLine()) {
        // Opened from the message loop rather than from inside this tick, so that the timer goes
        // on ticking behind the modal window.
        PostMessageA(window_, kOpenLog, 0, 0);
    }
}

void TForm1::TimerErrorTimer() {
    KillTimer(window_, IDT_TimerError);
    errorTimerOn_ = false;
    OpenLogAfterError();
}

// An error line has reached the log since the log window was last opened, and the window is
// closed. A user who closed the log during a run can so reach Cancel; a new error opens it again.
bool TForm1::UnseenErrorLine() const {
    return log_ != nullptr && !closing_ && errorLines_.LogDue(syncErrorFlag_, log_->Visible());
}

void TForm1::OpenLogAfterError() {
    if (UnseenErrorLine()) {
        errorLines_.LogOpened();
        log_->ShowModal();
    }
}

void TForm1::WorkerEnded() {
    if (worker_.joinable()) {
        worker_.join();
    }
    EnableWindow(bbtnStart, TRUE);
}

// --- Handing the worker's changes to the user-interface thread ---------------------------------

// Each change is fetched by a posted message.
void TForm1::Post(std::function<void()> change) {
    posted_.Add(std::move(change));
    PostMessageA(postTo_, kDrainPosted, 0, 0);
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
    PostMessageA(form->postTo_, kWorkerEnded, 0, 0);
    form->workerEnded_ = true;
}

void TForm1::RunSync() {
    windowlogic::WindowRunSink sink(*this, syncErrorFlag_, errorLines_);
    SyncRun(Progress, sink).RunSync(ReadFolderEntry, nullptr, FolderOnItsVolume);
}

void TForm1::SetLogTitle(const char* title) {
    if (log_ != nullptr) {
        log_->SetCaption(title);
    }
}

void TForm1::ClearLog() {
    if (log_ != nullptr) {
        log_->ClearLines();
    }
}

void TForm1::AppendLog(const std::string& line) {
    if (log_ != nullptr) {
        log_->AppendLine(line);
    }
}

void TForm1::StartErrorTimer() {
    if (!closing_ && !errorTimerOn_) {
        errorTimerOn_ = true;
        SetTimer(window_, IDT_TimerError, windowlogic::kErrorMilliseconds, nullptr);
    }
}

void TForm1::ShowRunEnd(std::int32_t total) {
    KillTimer(window_, IDT_Timer1);
    ShowProgressFields(windowlogic::RunEndFields(total));
    ShowStartButton(true);
}

void TForm1::ShowProgressFields(const windowlogic::ProgressFields& fields) {
    if (fields.from) {
        SetWindowTextA(Edit1, fields.from->c_str());
    }
    if (fields.to) {
        SetWindowTextA(Edit2, fields.to->c_str());
    }
    if (fields.count) {
        SetWindowTextA(lblCount, fields.count->c_str());
    }
}

}  // namespace tarnwick::winui
