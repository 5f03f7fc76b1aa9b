#include "winui/Form.h"

#include "winui/Look.h"
#include "winui/Resources.h"

namespace tarnwick::winui {

namespace {

constexpr const char* kFormClass = "TarnwickForm";

ATOM RegisterFormClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXA type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = procedure;
    type.hInstance = instance;
    type.hCursor = LoadCursor(nullptr, IDC_ARROW);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = kFormClass;
    type.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(TARNWICK_ICON));
    if (type.hIcon == nullptr) {
        type.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    }
    return RegisterClassExA(&type);
}

}  // namespace

Form::~Form() {
    if (window_ != nullptr) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void Form::CreateForm(HINSTANCE instance, HWND owner, const char* caption, DWORD style,
                      DWORD exStyle, int clientWidth, int clientHeight) {
    static const ATOM registered = RegisterFormClass(instance, &Form::Procedure);
    (void)registered;
    const UINT dpi = owner != nullptr ? GetDpiForWindow(owner) : GetDpiForSystem();
    RECT frame{0, 0, MulDiv(clientWidth, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI),
               MulDiv(clientHeight, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI)};
    AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, dpi);
    CreateWindowExA(exStyle, kFormClass, caption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                    frame.right - frame.left, frame.bottom - frame.top, owner, nullptr, instance,
                    this);
}

LRESULT CALLBACK Form::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        form->window_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (form == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    const LRESULT result = form->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        form->window_ = nullptr;
    }
    return result;
}

LRESULT Form::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE && modal_) {
        EndModal(2);
        return 0;
    }
    return Default(message, wParam, lParam);
}

void Form::SetCaption(std::string_view caption) {
    SetWindowTextA(window_, std::string(caption).c_str());
}

void Form::CentreOverOwner() {
    RECT area{};
    HWND owner = GetWindow(window_, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner)) {
        GetWindowRect(owner, &area);
    } else {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    RECT own{};
    GetWindowRect(window_, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    SetWindowPos(window_, nullptr, (area.left + area.right - width) / 2,
                 (area.top + area.bottom - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Form::ShowModal() {
    if (modal_ || window_ == nullptr) {
        return 2;
    }
    HWND owner = GetWindow(window_, GW_OWNER);
    modal_ = true;
    modalResult_ = 0;
    FormShow();
    CentreOverOwner();
    // Another modal window may have disabled the owner already; it stays so for that one.
    const bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner) != FALSE;
    if (ownerWasEnabled) {
        EnableWindow(owner, FALSE);
    }
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    bool quit = false;
    WPARAM quitCode = 0;
    MSG message;
    while (modal_) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            quit = got == 0;
            quitCode = message.wParam;
            break;
        }
        if (PreTranslate(message) ||
            (window_ != nullptr && IsDialogMessageA(window_, &message))) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    modal_ = false;
    if (ownerWasEnabled) {
        EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
    }
    if (window_ != nullptr) {
        ShowWindow(window_, SW_HIDE);
    }
    if (quit) {
        PostQuitMessage(static_cast<int>(quitCode));
    }
    return modalResult_ != 0 ? modalResult_ : 2;
}

void Form::EndModal(int result) {
    modalResult_ = result;
    modal_ = false;
    // Wakes the loop of ShowModal should nothing else be queued.
    PostMessageA(window_, WM_NULL, 0, 0);
}

HWND MakeControl(HWND parent, const char* className, const char* text, DWORD style, int id,
                 DWORD exStyle) {
    HWND control = CreateWindowExA(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0,
                                   0, 0, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   reinterpret_cast<HINSTANCE>(
                                       GetWindowLongPtrA(parent, GWLP_HINSTANCE)),
                                   nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(parent)), FALSE);
    return control;
}

std::string WindowText(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string TreeNodeText(HWND tree, HTREEITEM node) {
    char text[2048] = {};
    TVITEMA item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return text;
}

int TextWidth(HWND window, std::string_view text) {
    HDC context = GetDC(window);
    auto font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    HGDIOBJ before = SelectObject(context, font != nullptr ? font : DialogFont(window));
    SIZE size{};
    GetTextExtentPoint32A(context, text.data(), static_cast<int>(text.size()), &size);
    SelectObject(context, before);
    ReleaseDC(window, context);
    return size.cx;
}

}  // namespace tarnwick::winui
