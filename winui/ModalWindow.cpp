#include "winui/ModalWindow.h"

#include <commctrl.h>

#include "winui/Look.h"

namespace tarnwick::winui {

namespace {

constexpr const char* kClassName = "TarnwickModalWindow";

bool RegisterOnce(HINSTANCE instance) {
    static const bool registered = [instance] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES |
                                                           ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcA;  // replaced per window at WM_NCCREATE
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kClassName;
        return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

}  // namespace

ModalWindow::~ModalWindow() {
    if (hwnd_ != nullptr) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

bool ModalWindow::Create(HINSTANCE instance, const char* caption, HWND owner, SIZE size,
                         SIZE minimum) {
    if (!RegisterOnce(instance)) {
        return false;
    }
    minimum_ = minimum;
    hwnd_ = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName, caption,
                            WS_POPUP | WS_CAPTION | WS_THICKFRAME, CW_USEDEFAULT, CW_USEDEFAULT,
                            100, 100, owner, nullptr, instance, nullptr);
    if (hwnd_ == nullptr) {
        return false;
    }
    // The class's procedure is DefWindowProc; this window's own takes over once it exists.
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ModalWindow::Procedure));
    hints_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                             nullptr, instance, nullptr);
    SetWindowPos(hwnd_, nullptr, 0, 0, Scale(size.cx), Scale(size.cy),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

HWND ModalWindow::Child(const char* className, const char* text, DWORD style, int id,
                        DWORD exStyle) {
    HWND child = CreateWindowExA(
        exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hwnd_, GWLP_HINSTANCE)), nullptr);
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(hwnd_)), FALSE);
    return child;
}

void ModalWindow::AddHint(HWND control, const char* hint) {
    if (hints_ == nullptr) {
        return;
    }
    TTTOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<char*>(hint);
    SendMessageA(hints_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

int ModalWindow::Scale(int value) const {
    return Scaled(hwnd_, value);
}

void ModalWindow::Place(HWND control, int left, int top, int width, int height) const {
    MoveWindow(control, Scale(left), Scale(top), Scale(width), Scale(height), TRUE);
}

SIZE ModalWindow::ClientSize96() const {
    RECT client{};
    GetClientRect(hwnd_, &client);
    return {MulDiv(client.right, USER_DEFAULT_SCREEN_DPI, Scale(USER_DEFAULT_SCREEN_DPI)),
            MulDiv(client.bottom, USER_DEFAULT_SCREEN_DPI, Scale(USER_DEFAULT_SCREEN_DPI))};
}

void ModalWindow::Center(HWND owner) {
    RECT area{};
    if (owner == nullptr || !IsWindowVisible(owner) || !GetWindowRect(owner, &area)) {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    RECT mine{};
    GetWindowRect(hwnd_, &mine);
    const int width = mine.right - mine.left;
    const int height = mine.bottom - mine.top;
    int left = area.left + (area.right - area.left - width) / 2;
    int top = area.top + (area.bottom - area.top - height) / 2;
    // Never above or left of the screen, where the title bar could not be reached.
    left = left < 0 ? 0 : left;
    top = top < 0 ? 0 : top;
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int ModalWindow::RunModal(HWND owner) {
    if (hwnd_ == nullptr) {
        return 2;  // the window could not be made: as if closed at once
    }
    SetWindowLongPtrA(hwnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    Center(owner);
    const bool disableOwner = owner != nullptr && IsWindowEnabled(owner);
    if (disableOwner) {
        EnableWindow(owner, FALSE);
    }
    modal_ = true;
    done_ = false;
    result_ = 2;
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    Shown();
    MSG message{};
    while (!done_) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) {
                PostQuitMessage(static_cast<int>(message.wParam));  // for the loop outside
            }
            result_ = 2;
            break;
        }
        if (Intercepted(message)) {
            continue;
        }
        if (BypassesDialogKeys(message) || !IsDialogMessageA(hwnd_, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    modal_ = false;
    // The owner takes the activation back before this window goes, so no other program's
    // window comes to the front in between.
    if (disableOwner) {
        EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
    }
    ShowWindow(hwnd_, SW_HIDE);
    return result_;
}

void ModalWindow::EndModal(int result) {
    if (!modal_ || done_ || !CanClose(result)) {
        return;
    }
    result_ = result;
    done_ = true;
}

LRESULT ModalWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {Scale(minimum_.cx), Scale(minimum_.cy)};
            return 0;
        }
        case WM_SIZE:
            Layout();
            return 0;
        case WM_CLOSE:
            // Any other way of closing counts as Close.
            EndModal(2);
            return 0;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            UseDialogFont(hwnd_);
            SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            Layout();
            return 0;
        }
        default:
            return DefWindowProcA(hwnd_, message, wParam, lParam);
    }
}

LRESULT CALLBACK ModalWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ModalWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return self->OnMessage(message, wParam, lParam);
}

}  // namespace tarnwick::winui
