#pragma once
// The main window (Form1): the folder lists with their commands, the synchronisation run with its
// progress display and the run log it writes into the log window, and the menu commands.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/copy_pass.h"
#include "windowlogic/folder_dialog.h"
#include "windowlogic/folder_lists.h"
#include "windowlogic/run_display.h"
#include "winui/Form.h"

namespace tarnwick::winui {

class TForm2;
class TfrmAbout;

class TForm1 : public Form, private windowlogic::RunWindow {
public:
    // Control and menu identifiers, after the designer names.
    enum : int {
        IDC_Label3 = 101,
        IDC_Label1,
        IDC_lblComputer,
        IDC_ListBox1,
        IDC_Label9,
        IDC_lblSerial1,
        IDC_Label10,
        IDC_Label8,
        IDC_lblLabel1,
        IDC_lblType1,
        IDC_Label5,
        IDC_ListBox2,
        IDC_Label11,
        IDC_lblSerial2,
        IDC_Label12,
        IDC_Label13,
        IDC_lblLabel2,
        IDC_lblType2,
        IDC_bbtnNew1,
        IDC_bbtnChange1,
        IDC_bbtnDel1,
        IDC_bbtnNew2,
        IDC_bbtnChange2,
        IDC_bbtnDel2,
        IDC_Label2,
        IDC_Edit1,
        IDC_Label4,
        IDC_Edit2,
        IDC_Label6,
        IDC_lblCount,
        IDC_bbtnStart,
        IDC_bbtnCancel,
        IDC_bbtnClose,
        IDM_Copythisapplicatio1 = 151,
        IDM_Log1,
        IDM_Exit1,
        IDM_Gettingstarted1,
        IDM_OnlineHelp1,
        IDM_About1,
        IDT_Timer1 = 171,
        IDT_TimerError,
    };

    explicit TForm1(HINSTANCE instance);
    // Stops a run that is still going and waits for its worker.
    ~TForm1() override;

    // The other windows, once they exist (they are created after this one).
    void SetWindows(windowlogic::FolderDialog* folderDialog, TfrmAbout* about, TForm2* log);
    // How Copy and Run asks for its folder: 1 with the folder written into `folder`.
    using ChooseFolderFunction = std::function<int(const std::string& prompt, std::string& folder)>;
    void SetChooseFolder(ChooseFolderFunction choose) { chooseFolder_ = std::move(choose); }

    // Source list and its details line.
    HWND Label3, Label1, lblComputer, ListBox1;
    HWND Label9, lblSerial1, Label10, Label8, lblLabel1, lblType1;
    // Destination list and its details line.
    HWND Label5, ListBox2;
    HWND Label11, lblSerial2, Label12, Label13, lblLabel2, lblType2;
    // The column of list buttons at the right.
    HWND bbtnNew1, bbtnChange1, bbtnDel1, bbtnNew2, bbtnChange2, bbtnDel2;
    // Progress fields and the run's buttons.
    HWND Label2, Edit1, Label4, Edit2, Label6, lblCount;
    HWND bbtnStart, bbtnCancel, bbtnClose;

    // Shared with the run's worker thread.
    CopyProgress Progress;

    // Runs the message loop until the main window has closed; then waits for a run's worker.
    int Run();

    // Creation, show and close handling.
    void FormCreate();
    void FormShow() override;
    void FormClose();
    void FormResize();

    // Folder lists; each item carries its group or entry number as item data.
    void LoadSourceList();
    void LoadDestinationList(int group);
    void ShowFolderDetails(const std::string& path, int line);
    void UpdateListButtons();
    bool AddSourceFolder(const std::optional<std::string>& path);
    bool AddDestinationFolder(const std::optional<std::string>& path);
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

    // Worker side.
    static void SyncThread(TForm1* form);
    void RunSync();

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    class FormLists;
    // A Change's stored folder, read off the user-interface thread and posted back.
    struct ChangeRead {
        std::uint64_t question = 0;
        int group = 0;
        int entry = 0;
        std::optional<windowlogic::ChangeStart> start;
    };
    void ChangeFolder(int group, int entry);
    void ChangeAnswered(ChangeRead& answer);
    // A drive question's answer, posted back to the window.
    struct Details {
        int line = 0;
        std::uint64_t question = 0;
        windowlogic::DriveDetails drive;
    };

    void CreateControls();
    void CreateMenus();
    void PlaceDetails(int line);
    void ShowStartButton(bool start);
    void ShowProgressFields(const windowlogic::ProgressFields& fields);
    // What the run shows, on the user-interface thread.
    void Post(std::function<void()> change) override;
    void SetLogTitle(const char* title) override;
    void ClearLog() override;
    void AppendLog(const std::string& line) override;
    void StartErrorTimer() override;
    void ShowRunEnd(std::int32_t total) override;
    void DrainPosted();
    void WorkerEnded();
    void OpenLogAfterError();
    bool UnseenErrorLine() const;
    void DetailsAnswered(const Details& details);
    void FolderDropped(HWND list, HDROP drop);
    void ListContextMenu(HWND list, LPARAM where);
    // Insert, Enter and Delete on a list press its New, Change and Delete buttons.
    bool ListKey(HWND list, WPARAM key);
    template <typename Command>
    void RunCommand(Command&& command);
    static LRESULT CALLBACK ListProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam);

    windowlogic::FolderDialog* folderDialog_ = nullptr;
    TfrmAbout* about_ = nullptr;
    TForm2* log_ = nullptr;
    ChooseFolderFunction chooseFolder_;

    // The window's handle for the worker and the drive questions, which post to it: set once at
    // creation and never changed (a post after the window has gone fails and is dropped).
    HWND postTo_ = nullptr;
    HFONT bold_ = nullptr;
    HWND tips_ = nullptr;
    WNDPROC listProcedure1_ = nullptr;
    WNDPROC listProcedure2_ = nullptr;
    bool destinationDrops_ = false;
    bool centred_ = false;
    bool closing_ = false;
    bool errorTimerOn_ = false;

    std::atomic<bool> syncErrorFlag_{false};
    std::thread worker_;
    // Set by the worker as its last act.
    std::atomic<bool> workerEnded_{false};
    windowlogic::ErrorLines errorLines_;
    windowlogic::PostedChanges posted_;
    // The last question for each details line (source, destination); older answers are dropped.
    std::uint64_t detailsAsked_[2] = {};
    // The last Change asked for; an earlier one's answer opens nothing.
    std::uint64_t changeAsked_ = 0;
};

// The program's windows, created hidden in their defined order (Form1, frmFolder,
// TfrmFolderBrowse, frmAbout, Form2) and run until the main window closes: the exit status.
int RunProgramWindows(HINSTANCE instance);

}  // namespace tarnwick::winui
