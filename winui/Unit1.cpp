// The main window's creation, layout, show and close handling, its message loop, and the
// program's windows.
#include "winui/Unit1.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>

#include "windowlogic/program.h"
#include "winui/Fabout.h"
#include "winui/Ffolder.h"
#include "winui/Ffolderbrowse.h"
#include "winui/Flog.h"
#include "winui/Look.h"
#include "winui/Messages.h"
#include "winui/Pictures.h"

namespace tarnwick::winui {

namespace {

// Sizes at 96 dpi.
constexpr int kListButtonSize = 26;
constexpr int kListButtonGap = 2;
constexpr int kPanelButtonsWidth = kListButtonSize + 8;
constexpr int kLineHeight = 16;
constexpr int kEditHeight = 22;
constexpr int kButtonHeight = 26;
constexpr int kCaptionWidth = 45;

HWND Label(HWND parent, int id, const char* text, DWORD align = SS_LEFT) {
    return MakeControl(parent, "STATIC", text, align | SS_NOPREFIX | SS_CENTERIMAGE, id);
}

// The common controls' own small pictures for New, Properties and Delete; null where the
// library does not carry them.
HIMAGELIST StandardPictures() {
    static HIMAGELIST pictures = [] {
        HMODULE library = GetModuleHandleA("comctl32.dll");
        constexpr int kSmallStandardBitmap = 120;
        return library == nullptr
                   ? nullptr
                   : ImageList_LoadImageA(library, MAKEINTRESOURCEA(kSmallStandardBitmap), 16, 0,
                                          CLR_DEFAULT, IMAGE_BITMAP, LR_CREATEDIBSECTION);
    }();
    return pictures;
}

// A picture button. Its text, which screen readers read, is its hint; where the picture cannot
// be had, a glyph stands in for it.
HWND ListButton(HWND parent, int id, int picture, const char* glyph, const char* hint) {
    HICON icon = StandardPictures() != nullptr
                     ? ImageList_GetIcon(StandardPictures(), picture, ILD_TRANSPARENT)
                     : nullptr;
    HWND button = MakeControl(parent, "BUTTON", icon != nullptr ? hint : glyph,
                              BS_PUSHBUTTON | WS_TABSTOP | (icon != nullptr ? BS_ICON : 0), id);
    if (icon != nullptr) {
        if (SetButtonPictures(button, icon, 16)) {
            DestroyIcon(icon);  // the button has its own pictures of it
        } else {
            SendMessageA(button, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
        }
    }
    return button;
}

void AddTip(HWND tips, HWND owner, HWND control, const char* text) {
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<char*>(text);
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace

TForm1::TForm1(HINSTANCE instance) {
    CreateForm(instance, nullptr, windowlogic::kMainCaption,
               WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, 508, 404);
    postTo_ = window_;
    CreateMenus();
    CreateControls();
    // The window as designed: 524 x 462 with its frame.
    SetWindowPos(window_, nullptr, 0, 0, Scaled(window_, 524), Scaled(window_, 462),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    // Dropped folders: the source list takes them from now on, the destination list only while
    // a source is selected (UpdateListButtons). Each list's procedure is replaced by the drop
    // handling until the window closes.
    DragAcceptFiles(ListBox1, TRUE);
    DragAcceptFiles(ListBox2, FALSE);
    for (HWND list : {ListBox1, ListBox2}) {
        SetWindowLongPtrA(list, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    listProcedure1_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        ListBox1, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TForm1::ListProcedure)));
    listProcedure2_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        ListBox2, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TForm1::ListProcedure)));

    FormCreate();
}

TForm1::~TForm1() {
    if (worker_.joinable()) {
        Progress.Continue = false;
        worker_.join();
    }
    if (bold_ != nullptr) {
        DeleteObject(bold_);
    }
}

void TForm1::CreateMenus() {
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, IDM_Copythisapplicatio1,
                "&Copy and Run this application from a removable device");
    AppendMenuA(file, MF_STRING, IDM_Log1, "&Log");
    AppendMenuA(file, MF_STRING, IDM_Exit1, "&Exit");
    HMENU help = CreatePopupMenu();
    AppendMenuA(help, MF_STRING, IDM_Gettingstarted1, "&Getting started");
    AppendMenuA(help, MF_STRING, IDM_OnlineHelp1, "&Online documentation");
    AppendMenuA(help, MF_STRING, IDM_About1, "&About");
    HMENU bar = CreateMenu();
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), "&Help");
    SetMenu(window_, bar);
}

void TForm1::CreateControls() {
    HWND w = window_;
    Label3 = Label(w, IDC_Label3, "Source folders:");
    Label1 = Label(w, IDC_Label1, "Computer:  ", SS_RIGHT);
    lblComputer = Label(w, IDC_lblComputer, "", SS_RIGHT);
    ListBox1 = MakeControl(w, "LISTBOX", "",
                           LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP,
                           IDC_ListBox1, WS_EX_CLIENTEDGE);
    Label9 = Label(w, IDC_Label9, "Serial: ");
    lblSerial1 = Label(w, IDC_lblSerial1, " ");
    Label10 = Label(w, IDC_Label10, "          ");
    Label8 = Label(w, IDC_Label8, "Label: ");
    lblLabel1 = Label(w, IDC_lblLabel1, " ");
    lblType1 = Label(w, IDC_lblType1, " ", SS_RIGHT);

    Label5 = Label(w, IDC_Label5, "Destination folders:");
    ListBox2 = MakeControl(w, "LISTBOX", "",
                           LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP,
                           IDC_ListBox2, WS_EX_CLIENTEDGE);
    Label11 = Label(w, IDC_Label11, "Serial: ");
    lblSerial2 = Label(w, IDC_lblSerial2, " ");
    Label12 = Label(w, IDC_Label12, "          ");
    Label13 = Label(w, IDC_Label13, "Label: ");
    lblLabel2 = Label(w, IDC_lblLabel2, " ");
    lblType2 = Label(w, IDC_lblType2, " ", SS_RIGHT);

    // The tab order follows creation: each list, then its own buttons, then the run's buttons.
    SetWindowPos(ListBox2, ListBox1, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    bbtnNew1 = ListButton(w, IDC_bbtnNew1, STD_FILENEW, "+",
                          "New source folder");
    bbtnChange1 = ListButton(w, IDC_bbtnChange1, STD_PROPERTIES, "...",
                             "Change selected source folder");
    bbtnDel1 = ListButton(w, IDC_bbtnDel1, STD_DELETE, "X",
                          "Delete selected source folder");
    bbtnNew2 = ListButton(w, IDC_bbtnNew2, STD_FILENEW, "+",
                          "New destination folder");
    bbtnChange2 = ListButton(w, IDC_bbtnChange2, STD_PROPERTIES, "...",
                             "Change selected destination folder");
    bbtnDel2 = ListButton(w, IDC_bbtnDel2, STD_DELETE, "X",
                          "Delete selected destination folder");
    HWND after = ListBox1;
    for (HWND button : {bbtnNew1, bbtnChange1, bbtnDel1, ListBox2, bbtnNew2, bbtnChange2,
                        bbtnDel2}) {
        SetWindowPos(button, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = button;
    }

    Label2 = Label(w, IDC_Label2, "From:");
    Edit1 = MakeControl(w, "EDIT", "", ES_READONLY | ES_AUTOHSCROLL, IDC_Edit1, WS_EX_CLIENTEDGE);
    Label4 = Label(w, IDC_Label4, "To:");
    Edit2 = MakeControl(w, "EDIT", "", ES_READONLY | ES_AUTOHSCROLL, IDC_Edit2, WS_EX_CLIENTEDGE);
    Label6 = Label(w, IDC_Label6, "Synchronized files: ");
    lblCount = Label(w, IDC_lblCount, "000000");
    bbtnStart = MakeControl(w, "BUTTON", "&Synchronize ", BS_PUSHBUTTON | WS_TABSTOP,
                            IDC_bbtnStart);
    bbtnCancel = MakeControl(w, "BUTTON", "&Cancel", BS_PUSHBUTTON | WS_TABSTOP, IDC_bbtnCancel);
    ShowWindow(bbtnCancel, SW_HIDE);
    bbtnClose = MakeControl(w, "BUTTON", "&Exit", BS_PUSHBUTTON | WS_TABSTOP, IDC_bbtnClose);
    SetButtonGlyph(bbtnStart, Glyph::kRefresh);
    SetButtonGlyph(bbtnCancel, Glyph::kClose);
    SetButtonGlyph(bbtnClose, Glyph::kClose);

    // The headings and the computer's name in bold.
    LOGFONTA face{};
    GetObjectA(DialogFont(w), sizeof face, &face);
    face.lfWeight = FW_BOLD;
    bold_ = CreateFontIndirectA(&face);
    for (HWND bold : {Label3, Label5, lblComputer}) {
        SendMessageA(bold, WM_SETFONT, reinterpret_cast<WPARAM>(bold_), FALSE);
    }

    tips_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, w, nullptr,
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(w, GWLP_HINSTANCE)),
                            nullptr);
    AddTip(tips_, w, bbtnNew1, "New source folder");
    AddTip(tips_, w, bbtnChange1, "Change selected source folder");
    AddTip(tips_, w, bbtnDel1, "Delete selected source folder");
    AddTip(tips_, w, bbtnNew2, "New destination folder");
    AddTip(tips_, w, bbtnChange2, "Change selected destination folder");
    AddTip(tips_, w, bbtnDel2, "Delete selected destination folder");
    AddTip(tips_, w, bbtnClose, "Exit the application");
}

// One details line: "Serial: ", serial, ten blanks, "Label: ", label, each as wide as its text,
// and the drive-type sentence right-aligned in what is left of the line.
void TForm1::PlaceDetails(int line) {
    HWND parts[] = {line == 0 ? Label9 : Label11,  line == 0 ? lblSerial1 : lblSerial2,
                    line == 0 ? Label10 : Label12, line == 0 ? Label8 : Label13,
                    line == 0 ? lblLabel1 : lblLabel2};
    HWND type = line == 0 ? lblType1 : lblType2;
    RECT place{};
    GetWindowRect(parts[0], &place);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&place), 2);
    RECT client{};
    GetClientRect(window_, &client);
    const int right = client.right - Scaled(window_, kPanelButtonsWidth + 10);
    const int height = place.bottom - place.top;
    int left = Scaled(window_, 8);
    for (HWND part : parts) {
        const int width = std::min(TextWidth(part, WindowText(part)) + 1, std::max(0, right - left));
        MoveWindow(part, left, place.top, width, height, TRUE);
        left += width;
    }
    left += Scaled(window_, 6);
    const int needed = TextWidth(type, WindowText(type)) + 1;
    if (needed > right - left && IsWindowVisible(window_)) {
        // A larger desktop font can make the line longer than the window is wide: the window
        // widens rather than cut the sentence.
        RECT frame{};
        GetWindowRect(window_, &frame);
        SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left + needed - (right - left),
                     frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;  // laid out anew by the resize
    }
    MoveWindow(type, left, place.top, std::max(0, right - left), height, TRUE);
    RECT area{0, place.top, client.right, place.top + height};
    RedrawWindow(window_, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TForm1::FormResize() {
    RECT client{};
    GetClientRect(window_, &client);
    const auto s = [this](int value) { return Scaled(window_, value); };
    const int left = s(8);
    const int panelLeft = client.right - s(kPanelButtonsWidth);
    const int right = panelLeft - s(10);
    const int width = std::max(0, right - left);
    const int line = s(kLineHeight);

    // What is not the two lists' is fixed; they share the rest.
    const int fixed = s(6) + line + s(2) + s(2) + line + s(6) + line + s(2) + s(2) + line + s(6) +
                      2 * s(kEditHeight) + s(4) + s(6) + s(kButtonHeight) + s(8);
    const int lists = std::max(2 * s(24), static_cast<int>(client.bottom) - fixed);
    const int list1 = lists / 2;
    const int list2 = lists - list1;

    int y = s(6);
    const int computerWidth = TextWidth(lblComputer, WindowText(lblComputer)) + 2;
    const int computerCaption = TextWidth(Label1, WindowText(Label1)) + 2;
    MoveWindow(lblComputer, right - computerWidth, y, computerWidth, line, TRUE);
    MoveWindow(Label1, right - computerWidth - computerCaption, y, computerCaption, line, TRUE);
    MoveWindow(Label3, left, y, std::max(0, width - computerWidth - computerCaption - s(6)), line,
               TRUE);
    y += line + s(2);
    const int list1Top = y;
    MoveWindow(ListBox1, left, y, width, list1, TRUE);
    y += list1 + s(2);
    MoveWindow(Label9, left, y, 0, line, FALSE);
    PlaceDetails(0);
    y += line + s(6);
    MoveWindow(Label5, left, y, width, line, TRUE);
    y += line + s(2);
    const int list2Top = y;
    MoveWindow(ListBox2, left, y, width, list2, TRUE);
    y += list2 + s(2);
    MoveWindow(Label11, left, y, 0, line, FALSE);
    PlaceDetails(1);
    y += line + s(6);

    // The progress fields are 50 pixels narrower than their panel: 45 for the captions, 5 to the
    // right.
    const int caption = std::max({s(kCaptionWidth), TextWidth(Label2, "From:") + s(4),
                                  TextWidth(Label4, "To:") + s(4)});
    const int editWidth = std::max(0, width - caption - s(5));
    MoveWindow(Label2, left, y, caption, s(kEditHeight), TRUE);
    MoveWindow(Edit1, left + caption, y, editWidth, s(kEditHeight), TRUE);
    y += s(kEditHeight) + s(4);
    MoveWindow(Label4, left, y, caption, s(kEditHeight), TRUE);
    MoveWindow(Edit2, left + caption, y, editWidth, s(kEditHeight), TRUE);
    y += s(kEditHeight) + s(6);

    // Exit ends 10 pixels left of the button column; Synchronize and Cancel share one place.
    // Room for the picture beside each caption.
    const int closeWidth = std::max(s(85), TextWidth(bbtnClose, "Exit") + s(44));
    const int runWidth = std::max({s(85), TextWidth(bbtnStart, "Synchronize ") + s(44),
                                   TextWidth(bbtnCancel, "Cancel") + s(44)});
    const int closeLeft = panelLeft - closeWidth - s(10);
    MoveWindow(bbtnClose, closeLeft, y, closeWidth, s(kButtonHeight), TRUE);
    MoveWindow(bbtnStart, closeLeft - s(6) - runWidth, y, runWidth, s(kButtonHeight), TRUE);
    MoveWindow(bbtnCancel, closeLeft - s(6) - runWidth, y, runWidth, s(kButtonHeight), TRUE);
    const int countCaption = TextWidth(Label6, WindowText(Label6)) + 2;
    MoveWindow(Label6, left, y, countCaption, s(kButtonHeight), TRUE);
    MoveWindow(lblCount, left + countCaption, y, TextWidth(lblCount, "0000000000") + 2,
               s(kButtonHeight), TRUE);

    // Each group of three list buttons level with its list.
    const int size = s(kListButtonSize);
    const int buttonLeft = panelLeft + (s(kPanelButtonsWidth) - size) / 2 - s(2);
    int top = list1Top;
    for (HWND button : {bbtnNew1, bbtnChange1, bbtnDel1}) {
        MoveWindow(button, buttonLeft, top, size, size, TRUE);
        top += size + s(kListButtonGap);
    }
    top = list2Top;
    for (HWND button : {bbtnNew2, bbtnChange2, bbtnDel2}) {
        MoveWindow(button, buttonLeft, top, size, size, TRUE);
        top += size + s(kListButtonGap);
    }
}

// --- Creation, show and close ------------------------------------------------------------------

void TForm1::FormCreate() {
    LoadSourceList();
    SetWindowTextA(Edit1, "");
    SetWindowTextA(Edit2, "");
    SetWindowTextA(lblCount, "0");
}

void TForm1::FormShow() {
    if (!centred_) {
        centred_ = true;
        CentreOverOwner();
    }
    syncErrorFlag_ = false;
    if (log_ != nullptr) {
        log_->ClearLines();
    }
    UpdateListButtons();
    SetCaption(windowlogic::MainCaption(windowlogic::SplitExecutablePath()));
}

void TForm1::FormClose() {
    // The lists get their own procedures back: first the source list, then the destination list.
    if (listProcedure1_ != nullptr) {
        SetWindowLongPtrA(ListBox1, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProcedure1_));
        listProcedure1_ = nullptr;
    }
    if (listProcedure2_ != nullptr) {
        SetWindowLongPtrA(ListBox2, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProcedure2_));
        listProcedure2_ = nullptr;
    }
}

void TForm1::SetWindows(windowlogic::FolderDialog* folderDialog, TfrmAbout* about, TForm2* log) {
    folderDialog_ = folderDialog;
    about_ = about;
    log_ = log;
}

int TForm1::Run() {
    FormShow();
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_KEYDOWN && (message.hwnd == ListBox1 || message.hwnd == ListBox2) &&
            ListKey(message.hwnd, message.wParam)) {
            continue;
        }
        if (IsDialogMessageA(window_, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // A run still going was told to stop when the window closed; the program ends once its
    // worker is back (a file being copied is finished or its temporary file removed first).
    // Meanwhile the thread goes on taking its messages, so that a worker held by a volume that
    // stopped answering leaves no hung window behind for the programs that send to all windows.
    while (worker_.joinable() && !workerEnded_) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    return 0;
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            FormResize();
            return 0;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize = {Scaled(window_, 300), Scaled(window_, 300)};
            return 0;
        }
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            UseDialogFont(window_);
            LOGFONTA face{};
            GetObjectA(DialogFont(window_), sizeof face, &face);
            face.lfWeight = FW_BOLD;
            HFONT old = bold_;
            bold_ = CreateFontIndirectA(&face);
            for (HWND bold : {Label3, Label5, lblComputer}) {
                SendMessageA(bold, WM_SETFONT, reinterpret_cast<WPARAM>(bold_), FALSE);
            }
            DeleteObject(old);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            switch (id) {
                case IDC_ListBox1:
                    if (code == LBN_SELCHANGE) ListBox1Click();
                    if (code == LBN_DBLCLK) bbtnChange1Click();
                    return 0;
                case IDC_ListBox2:
                    if (code == LBN_SELCHANGE) ListBox2Click();
                    if (code == LBN_DBLCLK) bbtnChange2Click();
                    return 0;
                case IDC_bbtnNew1: bbtnNew1Click(); return 0;
                case IDC_bbtnChange1: bbtnChange1Click(); return 0;
                case IDC_bbtnDel1: bbtnDel1Click(); return 0;
                case IDC_bbtnNew2: bbtnNew2Click(); return 0;
                case IDC_bbtnChange2: bbtnChange2Click(); return 0;
                case IDC_bbtnDel2: bbtnDel2Click(); return 0;
                case IDC_bbtnStart: btnStartClick(); return 0;
                case IDC_bbtnCancel: bbtnCancelClick(); return 0;
                case IDC_bbtnClose: xbbtnCloseClick(); return 0;
                case IDM_Copythisapplicatio1: Copythisapplicatio1Click(); return 0;
                case IDM_Log1: Log1Click(); return 0;
                case IDM_Exit1: Exit1Click(); return 0;
                case IDM_Gettingstarted1: Gettingstarted1Click(); return 0;
                case IDM_OnlineHelp1: OnlineHelp1Click(); return 0;
                case IDM_About1: About1Click(); return 0;
                default: break;
            }
            break;
        }
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == ListBox1 ||
                reinterpret_cast<HWND>(wParam) == ListBox2) {
                ListContextMenu(reinterpret_cast<HWND>(wParam), lParam);
                return 0;
            }
            break;
        case WM_TIMER:
            if (wParam == IDT_Timer1) Timer1Timer();
            if (wParam == IDT_TimerError) TimerErrorTimer();
            return 0;
        case kDrainPosted:
            DrainPosted();
            return 0;
        case kWorkerEnded:
            WorkerEnded();
            return 0;
        case kOpenLog:
            OpenLogAfterError();
            return 0;
        case kChangeRead: {
            std::unique_ptr<ChangeRead> answer(reinterpret_cast<ChangeRead*>(lParam));
            ChangeAnswered(*answer);
            return 0;
        }
        case kDetailsAnswered: {
            std::unique_ptr<Details> details(reinterpret_cast<Details*>(lParam));
            DetailsAnswered(*details);
            return 0;
        }
        case WM_CLOSE:
            FormClose();
            // A run still going is told to stop; the windows go away at once.
            Progress.Continue = false;
            closing_ = true;
            KillTimer(window_, IDT_Timer1);
            KillTimer(window_, IDT_TimerError);
            DestroyWindow(window_);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

// --- The program's windows ---------------------------------------------------------------------

int RunProgramWindows(HINSTANCE instance) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // The main window's creation handling runs before the other windows exist.
    TForm1 Form1(instance);
    const std::unique_ptr<windowlogic::FolderDialog> frmFolder =
        CreateFolderDialog(instance, Form1.Handle());
    TTfrmFolderBrowse& TfrmFolderBrowse = FolderBrowser(instance);
    TfrmAbout frmAbout(instance, Form1.Handle());
    TForm2 Form2(instance, Form1.Handle());
    Form1.SetWindows(frmFolder.get(), &frmAbout, &Form2);
    Form1.SetChooseFolder([&TfrmFolderBrowse, owner = Form1.Handle()](const std::string& prompt,
                                                                      std::string& folder) {
        return TfrmFolderBrowse.ChooseFolder(owner, prompt, folder);
    });
    return Form1.Run();
}

}  // namespace tarnwick::winui
