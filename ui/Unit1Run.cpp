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
#include <ctime>
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

std::string Quoted(std::string_view path) {
    std::string quoted;
    quoted.reserve(path.size() + 2);
    quoted += '"';
    quoted += path;
    quoted += '"';
    return quoted;
}

}  // namespace

std::string DateTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return {};
    }
    char text[256];
    const std::size_t length = std::strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, length);
}

void SetSyncThreadStartFailsForTesting(bool fails) {
    gThreadStartFails = fails;
}

void TForm1::StopRunAndWait() {
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
    if (SyncErrorFlag && Form2 != nullptr && !Form2->isVisible()) {
        // Opened from the event loop rather than from inside this tick, so that the timer goes on
        // ticking behind the modal window.
        QMetaObject::invokeMethod(this, "OpenLogAfterError", Qt::QueuedConnection);
    }
}

void TForm1::TimerErrorTimer() {
    TimerError->stop();
    if (SyncErrorFlag && Form2 != nullptr && !Form2->isVisible()) {
        OpenLogAfterError();
    }
}

void TForm1::OpenLogAfterError() {
    if (Form2 != nullptr && !Form2->isVisible()) {
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
}

void TForm1::RunSync() {
    LogStart();
    std::int32_t total = 0;
    try {
        bool merge = false;
        bool subfolders = false;
        int group = 1;
        int entry = 1;
        std::string path;
        std::string sourcePath;
        std::string destinationPath;
        bool found = ReadFolderEntry(group, entry, path, merge, subfolders);
        while (found && Progress.Continue) {
            const bool deleted = path == kDeletedMarker;
            if (deleted && entry == 1) {
                found = false;  // the whole group is passed over
            } else if (!deleted) {
                if (entry == 1) {
                    sourcePath = path;
                } else {
                    destinationPath = path;
                    total += SyncPair(sourcePath, destinationPath, subfolders);
                    if (merge) {
                        total += SyncPair(destinationPath, sourcePath, subfolders);
                    }
                }
            }
            if (found) {
                ++entry;
                // A destination's own subfolders value is not used: the group keeps its
                // source's.
                bool destinationSubfolders = false;
                found = ReadFolderEntry(group, entry, path, merge, destinationSubfolders);
            }
            if (!found) {
                ++group;
                entry = 1;
                found = ReadFolderEntry(group, entry, path, merge, subfolders);
            }
        }
    } catch (const std::exception& error) {
        LogError(" The synchronization stopped after an unexpected error: ", error.what());
    } catch (...) {
        LogError(" The synchronization stopped after an unexpected error.");
    }
    EndRun(total);
}

std::int32_t TForm1::SyncPair(const std::string& from, const std::string& to, bool subfolders) {
    LogMessage("Synchronising from ", Quoted(from), " to ", Quoted(to));
    const std::int32_t result = SyncFolders(from, to, subfolders, Progress);
    if (result == -1) {
        LogError(" The folder ", Quoted(from), " was not found.");
    } else if (result == -2) {
        LogError(" The folder ", Quoted(to), " was not found.");
    } else if (result > 0) {
        const std::string count = std::to_string(result) + (result > 1 ? " files" : " file");
        LogMessage(count, " copied.");
        return result;
    }
    return 0;
}

void TForm1::EndRun(std::int32_t total) {
    Post([this, total] {
        Timer1->stop();
        Edit1->clear();
        Edit2->clear();
        lblCount->setText(QString::number(total));
        ShowStartButton(true);
    });
    Progress.SourcePath.Set(std::nullopt);
    Progress.DestinationPath.Set(std::nullopt);
    Progress.FilesCopied = 0;
    LogLine("");
    LogMessage("Total files copied : ", std::to_string(total), ".");
    LogLine("");
    LogEnd();
}

// --- The run log -------------------------------------------------------------------------------

void TForm1::LogLine(std::string_view text) {
    Post([this, line = std::string(text)] {
        if (LogMemo) {
            LogMemo->appendPlainText(ToQt(line));
        }
    });
}

void TForm1::LogMessage(std::string_view piece1, std::optional<std::string_view> piece2,
                        std::optional<std::string_view> piece3,
                        std::optional<std::string_view> piece4,
                        std::optional<std::string_view> piece5,
                        std::optional<std::string_view> piece6) {
    if (!piece2) {
        LogLine(piece1);
        return;
    }
    std::string line(piece1);
    for (const auto& piece : {piece2, piece3, piece4, piece5, piece6}) {
        if (piece) {
            line += *piece;
        }
    }
    LogLine(line);
}

void TForm1::LogError(std::string_view piece1, std::optional<std::string_view> piece2,
                      std::optional<std::string_view> piece3,
                      std::optional<std::string_view> piece4,
                      std::optional<std::string_view> piece5,
                      std::optional<std::string_view> piece6) {
    SyncErrorFlag = true;
    Post([this] {
        if (!TimerError->isActive()) {
            TimerError->start();
        }
        if (Form2 != nullptr) {
            Form2->setWindowTitle(QStringLiteral("Error during synchronization"));
        }
    });
    std::string head = "Error " + DateTimeText();
    head += piece1;
    LogMessage(head, piece2, piece3, piece4, piece5, piece6);
}

void TForm1::LogStart() {
    Post([this] {
        if (Form2 != nullptr) {
            Form2->setWindowTitle(QStringLiteral("Log"));
        }
        if (LogMemo) {
            LogMemo->clear();
        }
    });
    LogMessage("------------ Logging Starts ", DateTimeText(), " ------------");
}

void TForm1::LogEnd() {
    LogMessage("------------ Logging Ends   ", DateTimeText(), " ------------");
}

}  // namespace tarnwick::ui
