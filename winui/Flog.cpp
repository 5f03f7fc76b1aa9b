#include "winui/Flog.h"

#include "winui/Look.h"

namespace tarnwick::winui {

TForm2::TForm2(HINSTANCE instance, HWND owner) {
    // A caption without a system menu: "OK" is the way out.
    CreateForm(instance, owner, "Log", WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN,
               WS_EX_DLGMODALFRAME, 456, 258);
    Memo1 = MakeControl(window_, "EDIT", "Memo1",
                        WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                        IDC_Memo1, WS_EX_CLIENTEDGE);
    SendMessageA(Memo1, EM_SETLIMITTEXT, 0, 0);
    Button1 = MakeControl(window_, "BUTTON", "OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDC_Button1);
    FormResize();
}

void TForm2::ClearLines() {
    SetWindowTextA(Memo1, "");
    empty_ = true;
}

void TForm2::AppendLine(std::string_view line) {
    std::string text = empty_ ? std::string(line) : "\r\n" + std::string(line);
    empty_ = false;
    const auto end = static_cast<WPARAM>(GetWindowTextLengthA(Memo1));
    SendMessageA(Memo1, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageA(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void TForm2::FormResize() {
    RECT client{};
    GetClientRect(window_, &client);
    const int margin = Scaled(window_, 25);
    const int buttonRow = Scaled(window_, 39);
    MoveWindow(Memo1, margin, margin, client.right - 2 * margin,
               client.bottom - margin - buttonRow, TRUE);
    // The button keeps its designed place in the button row.
    MoveWindow(Button1, Scaled(window_, 194), client.bottom - buttonRow + Scaled(window_, 7),
               Scaled(window_, 75), Scaled(window_, 25), TRUE);
}

// The text would take Enter, Escape and Tab for itself: Enter and Escape close the window as OK
// does, Tab goes on to OK. Ctrl+A selects all of it.
bool TForm2::PreTranslate(const MSG& message) {
    if (message.message != WM_KEYDOWN || message.hwnd != Memo1) {
        return false;
    }
    switch (message.wParam) {
        case VK_RETURN:
        case VK_ESCAPE:
            EndModal(2);
            return true;
        case VK_TAB:
            SetFocus(Button1);
            return true;
        case 'A':
            // Ctrl+A selects the whole log, to copy it.
            if (GetKeyState(VK_CONTROL) < 0) {
                SendMessageA(Memo1, EM_SETSEL, 0, -1);
                return true;
            }
            return false;
        default:
            return false;
    }
}

LRESULT TForm2::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            FormResize();
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_Button1 || LOWORD(wParam) == IDOK ||
                LOWORD(wParam) == IDCANCEL) {
                EndModal(2);
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
            // The read-only text in the colour of buttons and dialogs.
            if (reinterpret_cast<HWND>(lParam) == Memo1) {
                SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            }
            break;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            UseDialogFont(window_);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        default:
            break;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

}  // namespace tarnwick::winui
