// The folder dialog (frmFolder) on the platform's own controls. The disk information of the typed
// path is read on a thread of its own, since a volume may stop answering, and posted back; an
// answer for a text that has changed since is dropped, and Save waits for the current one.
#include "winui/Ffolder.h"

#include <memory>
#include <optional>
#include <string>

#include "windowlogic/folder_dialog.h"
#include "winui/Background.h"
#include "winui/Ffolderbrowse.h"
#include "winui/Form.h"
#include "winui/ModalWindow.h"
#include "winui/Pictures.h"

namespace tarnwick::winui {

namespace {

// Control identifiers, by the designer names.
enum : int {
    kEdit1 = 100,
    kbtnBrowse,
    kGroupBox1,
    kLabel3,
    klblLabel,
    kLabel2,
    klblSerial,
    klblType,
    kRadioGroup1,
    kRadioGroup1Merge,
    kRadioGroup1Backup,
    kchkSubfolders,
    kPanel1,
    klblRadioText,
    kbbtnVista,
    kbbtnClose,
};
constexpr UINT_PTR kTimer1 = 1;
// lParam: a DiskAnswer the receiver owns.
constexpr UINT kDiskAnswer = WM_APP + 1;

struct DiskAnswer {
    unsigned sequence = 0;
    std::string typed;
    std::string path;  // the typed text as a drive path
    windowlogic::DiskInfo info;
};

bool Checked(HWND button) {
    return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SetChecked(HWND button, bool checked) {
    SendMessageA(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

class TfrmFolder final : public ModalWindow, public windowlogic::FolderDialog {
public:
    TfrmFolder(HINSTANCE instance, HWND owner) : instance_(instance), owner_(owner) {
        // The browser exists before the dialog, as at start-up.
        FolderBrowser(instance);
        if (!Create(instance, windowlogic::kFolderDialogCaption, owner, {653, 245}, {653, 245})) {
            return;
        }
        Edit1 = Child(kEdit, "", WS_TABSTOP | ES_AUTOHSCROLL, kEdit1, WS_EX_CLIENTEDGE);
        SendMessageA(Edit1, EM_SETLIMITTEXT, windowlogic::kMaxDialogPathLength, 0);
        btnBrowse = Child(kButton, "...", WS_TABSTOP | BS_PUSHBUTTON, kbtnBrowse);
        GroupBox1 = Child(kButton, "Disk information", BS_GROUPBOX, kGroupBox1);
        Label3 = Child(kStatic, "Label:", SS_LEFT, kLabel3);
        // Volume labels are shown as they are: no '&' marks an accelerator in them.
        lblLabel = Child(kStatic, "", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, klblLabel);
        Label2 = Child(kStatic, "Serial:", SS_LEFT, kLabel2);
        lblSerial = Child(kStatic, "", SS_LEFT | SS_NOPREFIX, klblSerial);
        lblType = Child(kStatic, "", SS_LEFT | SS_NOPREFIX, klblType);
        RadioGroup1 = Child(kButton, "Folder type", BS_GROUPBOX, kRadioGroup1);
        // Exclusive, yet nothing is selected until a caller or the user picks an item.
        RadioGroup1Merge =
            Child(kButton, "Merge", WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, kRadioGroup1Merge);
        RadioGroup1Backup = Child(kButton, "Backup", BS_AUTORADIOBUTTON, kRadioGroup1Backup);
        chkSubfolders = Child(kButton, "Include subfolders",
                              WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, kchkSubfolders);
        Panel1 = Child(kStatic, "", SS_ETCHEDFRAME, kPanel1);
        // "&&" in the explanations shows as one "&".
        lblRadioText = Child(kStatic, "", SS_LEFT, klblRadioText);
        bbtnVista = Child(kButton, "&Save", WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON | WS_DISABLED,
                          kbbtnVista);
        bbtnClose = Child(kButton, "&Close", WS_TABSTOP | BS_PUSHBUTTON, kbbtnClose);
        SetButtonGlyph(bbtnVista, Glyph::kSave);
        SetButtonGlyph(bbtnClose, Glyph::kClose);
        AddHint(bbtnVista, "Save the selected folder");
        AddHint(bbtnClose, "Cancel and Close this window");
        Layout();
    }

    bool AskSource(const std::string& caption, std::string& path, bool& subfolders) override {
        ShowRadioGroup(false);
        SetChecked(chkSubfolders, subfolders);
        // Setting the box to the value it already has sends no notification, and the explanation
        // may still describe the folder type of a destination opened in between.
        chkSubfoldersClick();
        if (Execute(caption, path) != 1) {
            return false;
        }
        subfolders = Checked(chkSubfolders);
        return true;
    }

    bool AskDestination(const std::string& caption, std::string& path, bool& merge) override {
        ShowRadioGroup(true);
        SetChecked(RadioGroup1Merge, merge);
        SetChecked(RadioGroup1Backup, !merge);
        RadioGroup1Click();
        if (Execute(caption, path) != 1) {
            return false;
        }
        merge = Merge;
        return true;
    }

    int SavedDriveType() const override { return DriveType; }
    std::string SavedSerial() const override { return WindowText(lblSerial); }

private:
    int Execute(const std::string& caption, std::string& path) {
        SetWindowTextA(Handle(),
                       caption.empty() ? windowlogic::kFolderDialogCaption : caption.c_str());
        SetPathText(path);
        const int result = RunModal(owner_) == 1 ? 1 : 2;
        if (result == 1) {
            path = WindowText(Edit1);
        }
        return result;
    }

    void ShowRadioGroup(bool destination) {
        for (HWND control : {RadioGroup1, RadioGroup1Merge, RadioGroup1Backup}) {
            ShowWindow(control, destination ? SW_SHOW : SW_HIDE);
        }
        ShowWindow(chkSubfolders, destination ? SW_HIDE : SW_SHOW);
    }

    // Puts a path into Edit1 without cutting it at the field's length limit: a longer text is
    // taken whole, and Save refuses it.
    void SetPathText(const std::string& text) {
        const std::size_t limit = text.size() > windowlogic::kMaxDialogPathLength
                                      ? text.size()
                                      : windowlogic::kMaxDialogPathLength;
        SendMessageA(Edit1, EM_SETLIMITTEXT, limit, 0);
        SetWindowTextA(Edit1, text.c_str());
    }

    void Layout() override {
        if (bbtnClose == nullptr) {
            return;
        }
        const int w = ClientSize96().cx;
        // PanelEdit: the top row, 65 high; PanelBrowse: its right 47, with the browse button.
        FormResize(w);
        Place(btnBrowse, w - 47 + 8, 25, 24, 22);
        Place(GroupBox1, 16, 64, 225, 89);
        Place(Label3, 16 + 8, 64 + 20, 40, 15);
        Place(lblLabel, 16 + 48, 64 + 20, 169, 15);
        Place(Label2, 16 + 8, 64 + 36, 40, 15);
        Place(lblSerial, 16 + 48, 64 + 36, 169, 15);
        Place(lblType, 16 + 8, 64 + 52, 209, 33);  // Panel3, filled by lblType
        Place(RadioGroup1, 248, 64, 385, 89);
        Place(RadioGroup1Merge, 248 + 8, 64 + 24, 70, 17);
        Place(RadioGroup1Backup, 248 + 8, 64 + 56, 70, 17);
        Place(chkSubfolders, 328, 67, 296, 17);
        Place(Panel1, 327, 84, 296, 53);
        Place(lblRadioText, 327 + 5, 84 + 4, 296 - 10, 53 - 8);
        Place(bbtnVista, 177, 169, 91, 25);
        Place(bbtnClose, 377, 169, 91, 25);
        InvalidateRect(Handle(), nullptr, TRUE);
    }

    // The path field fills the row up to the browse button.
    void FormResize(int width) { Place(Edit1, 16, 26, width - 16 - 47, 21); }

    void Shown() override {
        Timer1Timer();
        SetFocus(Edit1);
        SendMessageA(Edit1, EM_SETSEL, 0, -1);
    }

    bool CanClose(int result) override {
        if (result != 1) {
            return true;
        }
        // The caller stores DriveType and the serial with the path: they must describe the
        // final text, so Save waits for its answer.
        return answered_ && !WindowText(Edit1).empty() && accepted_;
    }

    void Edit1Change() {
        if (rewriting_) {
            return;
        }
        ++sequence_;
        answered_ = false;
        accepted_ = false;
        EnableWindow(bbtnVista, FALSE);
        // Typing on while the timer runs does not put the refresh off.
        if (!timerRunning_) {
            timerRunning_ =
                SetTimer(Handle(), kTimer1, windowlogic::kRefreshMilliseconds, nullptr) != 0;
        }
    }

    void Timer1Timer() {
        KillTimer(Handle(), kTimer1);
        timerRunning_ = false;
        const std::string text = WindowText(Edit1);
        if (text.empty()) {
            SetWindowTextA(lblLabel, "");
            SetWindowTextA(lblSerial, "");
            SetWindowTextA(lblType, "");
            DriveType = 0;
            EnableWindow(bbtnVista, FALSE);
            answered_ = true;
            accepted_ = false;
            return;
        }
        AskDiskInfo(text, sequence_);
    }

    // The typed text as a drive path and what the system says of it, asked on a thread of its
    // own: the drive list and the volume may each keep the asker waiting.
    void AskDiskInfo(const std::string& text, unsigned sequence) {
        HWND window = Handle();
        auto ask = [window, text, sequence] {
            auto answer = std::make_unique<DiskAnswer>();
            answer->sequence = sequence;
            answer->typed = text;
            answer->path = windowlogic::DrivePathOfTyped(text).value_or(text);
            answer->info = windowlogic::DiskInfoOf(answer->path);
            if (PostMessageA(window, kDiskAnswer, 0, reinterpret_cast<LPARAM>(answer.get()))) {
                answer.release();
            }
        };
        AskInBackground(ask);
    }

    void DiskInfoAnswered(std::unique_ptr<DiskAnswer> answer) {
        if (answer->sequence != sequence_) {
            return;  // for a text typed before; the refresh of the current one follows
        }
        if (answer->path != answer->typed) {
            DWORD cursor = 0;
            SendMessageA(Edit1, EM_GETSEL, reinterpret_cast<WPARAM>(&cursor), 0);
            rewriting_ = true;
            SetPathText(answer->path);
            rewriting_ = false;
            const int at = windowlogic::CursorAfterRewrite(static_cast<int>(answer->typed.size()),
                                                           static_cast<int>(cursor),
                                                           static_cast<int>(answer->path.size()));
            SendMessageA(Edit1, EM_SETSEL, at, at);
        }
        const windowlogic::DiskInfo& info = answer->info;
        SetWindowTextA(lblLabel, info.label.c_str());
        SetWindowTextA(lblSerial, std::to_string(info.serial).c_str());
        SetWindowTextA(lblType, info.description.c_str());
        DriveType = info.driveType;
        EnableWindow(bbtnVista, info.rule.enabled ? TRUE : FALSE);
        accepted_ = info.rule.accepted;
        answered_ = true;
    }

    void btnBrowseClick() {
        std::string folder = WindowText(Edit1);
        if (FolderBrowser(instance_).ChooseFolder(Handle(), windowlogic::kBrowsePrompt, folder) ==
            1) {
            SetPathText(folder);
        }
        Edit1Change();
        SetFocus(Edit1);
    }

    // Index of the selected folder type: 0 Merge, 1 Backup, -1 none.
    int RadioGroup1ItemIndex() const {
        return Checked(RadioGroup1Merge) ? 0 : Checked(RadioGroup1Backup) ? 1 : -1;
    }

    void RadioGroup1Click() {
        const bool merge = RadioGroup1ItemIndex() == 0;
        SetWindowTextA(lblRadioText, windowlogic::FolderTypeExplanation(merge));
        Merge = merge;
    }

    void chkSubfoldersClick() {
        SetWindowTextA(lblRadioText, windowlogic::SubfolderExplanation(Checked(chkSubfolders)));
    }

    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_COMMAND:
                switch (LOWORD(wParam)) {
                    case kEdit1:
                        if (HIWORD(wParam) == EN_CHANGE) {
                            Edit1Change();
                        }
                        return 0;
                    case kbtnBrowse:
                        btnBrowseClick();
                        return 0;
                    case kRadioGroup1Merge:
                    case kRadioGroup1Backup:
                        if (HIWORD(wParam) == BN_CLICKED) {
                            RadioGroup1Click();
                        }
                        return 0;
                    case kchkSubfolders:
                        if (HIWORD(wParam) == BN_CLICKED) {
                            chkSubfoldersClick();
                        }
                        return 0;
                    case kbbtnVista:
                    case IDOK:  // Enter saves while Save is enabled
                        if (IsWindowEnabled(bbtnVista)) {
                            EndModal(1);
                        }
                        return 0;
                    case kbbtnClose:
                    case IDCANCEL:  // Escape closes as Close does
                        EndModal(2);
                        return 0;
                    default:
                        break;
                }
                break;
            case WM_TIMER:
                if (wParam == kTimer1) {
                    Timer1Timer();
                    return 0;
                }
                break;
            case WM_DPICHANGED: {
                const LRESULT result = ModalWindow::OnMessage(message, wParam, lParam);
                SetButtonGlyph(bbtnVista, Glyph::kSave);
                SetButtonGlyph(bbtnClose, Glyph::kClose);
                return result;
            }
            case kDiskAnswer:
                DiskInfoAnswered(
                    std::unique_ptr<DiskAnswer>(reinterpret_cast<DiskAnswer*>(lParam)));
                return 0;
            default:
                break;
        }
        return ModalWindow::OnMessage(message, wParam, lParam);
    }

    HINSTANCE instance_;
    HWND owner_;

    // Drive type (0..6) found by the last refresh of the disk information; 0 for an empty path.
    int DriveType = 0;
    // True while "Merge" is the selected folder type.
    bool Merge = false;

    unsigned sequence_ = 0;      // counts the changes of the path text
    bool answered_ = false;      // the disk information shown is that of the current text
    bool accepted_ = false;      // and a Save of it is accepted
    bool timerRunning_ = false;  // Timer1 is enabled
    bool rewriting_ = false;     // the text changes to the drive path of what was typed

    HWND Edit1 = nullptr;
    HWND btnBrowse = nullptr;
    HWND GroupBox1 = nullptr;
    HWND Label3 = nullptr;
    HWND lblLabel = nullptr;
    HWND Label2 = nullptr;
    HWND lblSerial = nullptr;
    HWND lblType = nullptr;
    HWND RadioGroup1 = nullptr;
    HWND RadioGroup1Merge = nullptr;
    HWND RadioGroup1Backup = nullptr;
    HWND chkSubfolders = nullptr;
    HWND Panel1 = nullptr;
    HWND lblRadioText = nullptr;
    HWND bbtnVista = nullptr;
    HWND bbtnClose = nullptr;
};

}  // namespace

std::unique_ptr<windowlogic::FolderDialog> CreateFolderDialog(HINSTANCE instance, HWND owner) {
    return std::make_unique<TfrmFolder>(instance, owner);
}

}  // namespace tarnwick::winui
