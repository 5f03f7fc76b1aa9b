#pragma once
// The main window: the folder lists with their commands, the synchronisation run with its
// progress display, and the run log written into the log window.

#include <QMainWindow>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/copy_pass.h"
#include "engine/run.h"
#include "ui/Background.h"
#include "windowlogic/run_display.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QToolButton;

namespace tarnwick::ui {

// Set when an error line has been written during the current run; read by the main window's
// timers on the user-interface thread.
extern std::atomic<bool> SyncErrorFlag;

using tarnwick::DateTimeText;

// Opens one of the help pages ("getting-started.html", "online-documentation.html") in the
// desktop's browser. The pages the executable carries are written into this user's runtime
// folder (platform::UserRuntimeFolder) and opened from there; where that cannot be written, the
// copy beside the executable (its folder's help/), else the installed one. Where no browser can
// be started, the page is shown in a help window of the program ("HelpWindow", owned by `owner`),
// and where no page can be found at all, a message says so.
void OpenHelpPage(const char* page, QWidget* owner = nullptr);

// Test seam: makes the start of the synchronisation thread fail as when the system refuses a
// new thread. Only tests call this.
void SetSyncThreadStartFailsForTesting(bool fails);

// What closing the program does with a run's worker that has not stopped within two seconds of
// being told to (a volume that stopped answering holds it in the kernel): by default the process
// ends at once, since nothing needs saving and unfinished copies are only temporary files. Tests
// give a function that returns; the close then waits for the worker after all. Empty restores the
// default.
void SetStuckWorkerEndForTesting(std::function<void()> end);

class TForm1 : public QMainWindow, private windowlogic::RunWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    // Stops a run that is still going and waits for its worker.
    ~TForm1() override;

    // Main menu.
    QMenu* File1;
    QAction* Copythisapplicatio1;
    QAction* Log1;
    QAction* Exit1;
    QMenu* Help1;
    QAction* Gettingstarted1;
    QAction* OnlineHelp1;
    QAction* About1;

    // Source list and its details line.
    QLabel* Label3;
    QLabel* Label1;
    QLabel* lblComputer;
    QListWidget* ListBox1;
    QLabel* Label9;
    QLabel* lblSerial1;
    QLabel* Label10;
    QLabel* Label8;
    QLabel* lblLabel1;
    QLabel* lblType1;

    // Destination list and its details line.
    QLabel* Label5;
    QListWidget* ListBox2;
    QLabel* Label11;
    QLabel* lblSerial2;
    QLabel* Label12;
    QLabel* Label13;
    QLabel* lblLabel2;
    QLabel* lblType2;

    // The column of list buttons at the right.
    QWidget* PanelButtons;
    QToolButton* bbtnNew1;
    QToolButton* bbtnChange1;
    QToolButton* bbtnDel1;
    QToolButton* bbtnNew2;
    QToolButton* bbtnChange2;
    QToolButton* bbtnDel2;

    // Progress fields and the run's buttons.
    QWidget* PanelEdit;
    QLabel* Label2;  // "From:"
    QLineEdit* Edit1;
    QLabel* Label4;  // "To:"
    QLineEdit* Edit2;
    QLabel* Label6;  // "Synchronized files: "
    QLabel* lblCount;
    QPushButton* bbtnStart;
    QPushButton* bbtnCancel;
    QPushButton* bbtnClose;
    QTimer* Timer1;
    QTimer* TimerError;

    // Shared with the run's worker thread.
    CopyProgress Progress;
    // The log window's text area; set when the window is shown.
    QPointer<QPlainTextEdit> LogMemo;

    // Creation, show and close handling.
    void FormCreate();
    void FormShow();
    void FormClose();

    // Folder lists. Each item carries its group number (source list) or entry number
    // (destination list) as Qt::UserRole data.
    void LoadSourceList();
    void LoadDestinationList(int group);
    // Describes the drive named by the path's first two characters in one details line. The
    // volume is asked off this thread (it may have stopped answering): the line fills in when the
    // answer comes, unless another path was asked for the same line meanwhile.
    void ShowFolderDetails(const std::string& path, QLabel* labelLabel, QLabel* serialLabel,
                           QLabel* typeLabel);
    void UpdateListButtons();
    // New source and New destination, with the dialog's path empty or a dropped folder. True when
    // a folder was added and selected. Raise SettingsError when the settings file cannot be
    // written; the command handlers show it.
    bool AddSourceFolder(const std::optional<std::string>& path);
    bool AddDestinationFolder(const std::optional<std::string>& path);
    // Change of a group's source (entry 1) or of a destination. The stored folder is read off this
    // thread, since finding its drive again asks the volumes; the dialog opens when it has been
    // read, if that folder is still the one selected and no other dialog is open.
    void ChangeFolder(int group, int entry);
    void ListBox1Click();
    void ListBox2Click();
    void bbtnNew1Click();
    void bbtnChange1Click();
    void bbtnDel1Click();
    void bbtnNew2Click();
    void bbtnChange2Click();
    void bbtnDel2Click();

    // Menu commands and the Exit button.
    void Copythisapplicatio1Click();
    void Log1Click();
    void Exit1Click();
    void Gettingstarted1Click();
    void OnlineHelp1Click();
    void About1Click();
    void xbbtnCloseClick();

    // The synchronisation run (user-interface thread).
    void btnStartClick();
    void bbtnCancelClick();
    void Timer1Timer();
    void TimerErrorTimer();

    // True from the start of a run's worker until it has ended, also after Cancel while the
    // worker finishes the file it is copying. Synchronize stays unavailable meanwhile.
    bool SyncRunning() const { return worker_.joinable(); }

    // Worker side: the run of the groups, whose log lines reach the window and the log on the
    // user-interface thread in the order written.
    static void SyncThread(TForm1* form);
    void RunSync();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend class FolderDropFilter;
    friend class FormLists;

    // One item dropped on a list (a native path; empty for something that is no local file) is
    // added as a folder when it is one; more than one is refused with a message.
    void FolderDropped(QListWidget* list, const std::vector<std::string>& items);

    Q_INVOKABLE void DrainPosted();
    Q_INVOKABLE void WorkerEnded();
    Q_INVOKABLE void OpenLogAfterError();
    bool UnseenErrorLine() const;

    // What the run shows, on the user-interface thread.
    void Post(std::function<void()> change) override;
    void SetLogTitle(const char* title) override;
    void ClearLog() override;
    void AppendLog(const std::string& line) override;
    void StartErrorTimer() override;
    void ShowRunEnd(std::int32_t total) override;
    void ShowProgressFields(const windowlogic::ProgressFields& fields);
    void ShowStartButton(bool start);
    // Tells the worker to stop and waits for it: without `limit` as long as it takes; with it, at
    // most that long before the program ends (see SetStuckWorkerEndForTesting).
    void StopRunAndWait(std::optional<std::chrono::milliseconds> limit = std::nullopt);
    void PlaceListButtons();
    // Lets the two lists take dropped folders.
    void InstallFolderDrops();

    // The drop handling of the two lists, from creation until the window closes.
    QObject* dropFilter1_ = nullptr;
    QObject* dropFilter2_ = nullptr;

    std::thread worker_;
    // Set by the worker as its last act, so that a close can wait for it with a time limit.
    std::mutex endedMutex_;
    std::condition_variable endedChanged_;
    bool workerEnded_ = false;
    // Error lines that reached the log during the run, and how many of them the log window had
    // when it was last opened: it opens again by itself only for a newer one.
    windowlogic::ErrorLines errorLines_;
    windowlogic::PostedChanges posted_;
    bool centred_ = false;
    // The last question for each details line (source, destination); older answers are dropped.
    std::uint64_t detailsAsked_[2] = {};
    // The last Change asked for; an earlier one's answer opens nothing.
    std::uint64_t changeAsked_ = 0;
    BackgroundQuestions questions_{this};
};

// The program's windows, created hidden in their defined order: Form1, frmFolder,
// TfrmFolderBrowse, frmAbout, Form2, each instance pointer set as soon as its window exists. The
// dialogs are children of the main window, so they open centred over it and end with it. The end
// of this object destroys them all and clears the pointers.
class ProgramWindows {
public:
    ProgramWindows();
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

private:
    std::unique_ptr<TForm1> main_;
};

}  // namespace tarnwick::ui
