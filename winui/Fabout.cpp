#include "winui/Fabout.h"

#include <algorithm>
#include <array>
#include <string>

#include "windowlogic/about.h"
#include "winui/Look.h"
#include "winui/Pictures.h"
#include "winui/Resources.h"

namespace tarnwick::winui {

namespace {

// Each control at its designed place (96 dpi, relative to the window's client area).
struct Placed {
    int id;
    const char* className;
    const char* text;
    DWORD style;
    DWORD exStyle;
    RECT place;  // left, top, width, height
};

constexpr DWORD kLabel = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
// A left-aligned label wraps its words at its width.
constexpr DWORD kWrapped = SS_LEFT | SS_NOPREFIX;

// The panels' contents are given with their panel's offset, (8, 8) and (8, 191); the group box's
// with (8 + 16, 191 + 48).
const std::array<Placed, 21> kControls = {{
    {TfrmAbout::IDC_Panel1, "STATIC", "", SS_ETCHEDFRAME, 0, {8, 8, 305, 185}},
    {TfrmAbout::IDC_Image1, "STATIC", "", SS_ICON, 0, {40, 24, 32, 32}},
    {TfrmAbout::IDC_ProductName, "STATIC", "Tarnwick", kLabel, 0, {80, 24, 200, 24}},
    {TfrmAbout::IDC_Label4, "STATIC", "2010", kLabel, 0, {88, 48, 28, 16}},
    {TfrmAbout::IDC_Label3, "STATIC", "Version", kLabel, 0, {116, 48, 37, 16}},
    {TfrmAbout::IDC_lblVersion, "STATIC", "1.0", kLabel, 0, {153, 48, 100, 16}},
    {TfrmAbout::IDC_RightsNotice, "STATIC", "All rights reserved.", kLabel, 0, {80, 72, 220, 16}},
    {TfrmAbout::IDC_Label2, "STATIC", "The Tarnwick developers", kLabel, 0, {96, 88, 210, 16}},
    {TfrmAbout::IDC_Comments, "STATIC", "Phone: not published", kLabel, 0, {96, 104, 210, 16}},
    {TfrmAbout::IDC_Label1, "STATIC", "Mobile: not published", kLabel, 0, {96, 120, 210, 16}},
    {TfrmAbout::IDC_Label8, "STATIC", "E-mail: not published", kLabel, 0, {96, 136, 210, 16}},
    {TfrmAbout::IDC_Label9, "STATIC",
     "When using Tarnwick, Always make sure your Windows system date and time are up-to-date.",
     kWrapped, 0, {32, 160, 229, 26}},
    {TfrmAbout::IDC_Label10, "STATIC", "Use at your own risk.", SS_RIGHT | SS_NOPREFIX, 0,
     {166, 10, 137, 14}},
    {TfrmAbout::IDC_Panel2, "STATIC", "", SS_ETCHEDFRAME, 0, {8, 191, 305, 138}},
    {TfrmAbout::IDC_Label5, "STATIC",
     "If Tarnwick is useful to you, please consider a small donation to keep it going.", kWrapped,
     0, {32, 199, 253, 26}},
    {TfrmAbout::IDC_GroupBox1, "BUTTON", "Bank account Information", BS_GROUPBOX, 0,
     {24, 239, 273, 73}},
    {TfrmAbout::IDC_Label6, "STATIC", "SWIFT (BIC):", kLabel, 0, {32, 266, 72, 16}},
    {TfrmAbout::IDC_Edit1, "EDIT", "not published", ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP,
     WS_EX_CLIENTEDGE, {104, 263, 185, 21}},
    {TfrmAbout::IDC_Label7, "STATIC", "IBAN Number:", kLabel, 0, {32, 290, 72, 16}},
    {TfrmAbout::IDC_Edit2, "EDIT", "not published", ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP,
     WS_EX_CLIENTEDGE, {104, 287, 185, 21}},
    {TfrmAbout::IDC_bbtnOk, "BUTTON", "&Close", BS_DEFPUSHBUTTON | WS_TABSTOP, 0,
     {127, 336, 75, 25}},
}};

int WrappedHeight(HWND label, int width);

}  // namespace

TfrmAbout::TfrmAbout(HINSTANCE instance, HWND owner) {
    // A fixed dialog border with the system menu: a close button, no resizing.
    CreateForm(instance, owner, "About", WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME, 329, 373);
    for (const Placed& control : kControls) {
        MakeControl(window_, control.className, control.text, control.style, control.id,
                    control.exStyle);
    }
    lblVersion = GetDlgItem(window_, IDC_lblVersion);
    Label9 = GetDlgItem(window_, IDC_Label9);
    bbtnOk = GetDlgItem(window_, IDC_bbtnOk);
    SetButtonGlyph(bbtnOk, Glyph::kClose);
    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(TARNWICK_ICON));
    SendDlgItemMessageA(window_, IDC_Image1, STM_SETICON,
                        reinterpret_cast<WPARAM>(icon != nullptr ? icon
                                                                 : LoadIcon(nullptr,
                                                                            IDI_APPLICATION)),
                        0);
    Place();
}

TfrmAbout::~TfrmAbout() {
    if (large_ != nullptr) {
        DeleteObject(large_);
    }
}

namespace {

// The height `label` needs for its text at `width`.
int WrappedHeight(HWND label, int width) {
    const std::string text = WindowText(label);
    HDC context = GetDC(label);
    HGDIOBJ before = SelectObject(
        context, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
    RECT area{0, 0, width, 0};
    DrawTextA(context, text.c_str(), static_cast<int>(text.size()), &area,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(context, before);
    ReleaseDC(label, context);
    return area.bottom;
}

}  // namespace

// Every control at its designed place. The places were laid out for a narrow 11-pixel face; with
// the system's font a label grows to the width of its text, the labels of one line move apart,
// and a wrapping note first widens (up to its panel's inner edge) and then grows
// downwards, so that no text is cut.
void TfrmAbout::Place() {
    const auto s = [this](int value) { return Scaled(window_, value); };
    for (const Placed& control : kControls) {
        HWND item = GetDlgItem(window_, control.id);
        int width = s(control.place.right);
        int height = s(control.place.bottom);
        if (control.style == kLabel) {
            width = std::max(width, TextWidth(item, WindowText(item)) + 2);
        } else if (control.style == kWrapped) {
            const int widest = s(8 + 305 - 8 - control.place.left);
            while (width < widest && WrappedHeight(item, width) > height) {
                ++width;
            }
            height = std::max(height, WrappedHeight(item, width));
        }
        MoveWindow(item, s(control.place.left), s(control.place.top), width, height, FALSE);
    }
    // "2010", "Version" and the version text read as one line.
    const auto placeAfter = [this, &s](int id, int afterId) {
        HWND item = GetDlgItem(window_, id);
        RECT before{};
        RECT own{};
        GetWindowRect(GetDlgItem(window_, afterId), &before);
        GetWindowRect(item, &own);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&before), 2);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&own), 2);
        const int left = std::max<int>(own.left, before.right + s(4));
        MoveWindow(item, left, own.top, own.right - own.left, own.bottom - own.top, FALSE);
    };
    placeAfter(IDC_Label3, IDC_Label4);
    placeAfter(IDC_lblVersion, IDC_Label3);
    // The two read-only fields start after the wider of their captions and end where designed.
    placeAfter(IDC_Edit1, IDC_Label7);
    placeAfter(IDC_Edit2, IDC_Label7);
    placeAfter(IDC_Edit1, IDC_Label6);
    placeAfter(IDC_Edit2, IDC_Label6);
    for (int id : {IDC_Edit1, IDC_Edit2}) {
        HWND field = GetDlgItem(window_, id);
        RECT own{};
        GetWindowRect(field, &own);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&own), 2);
        MoveWindow(field, own.left, own.top, std::max<int>(s(60), s(104 + 185) - own.left),
                   own.bottom - own.top, FALSE);
    }
    // The product name in a large face: 19 pixels high at 96 dpi.
    LOGFONTA face{};
    GetObjectA(DialogFont(window_), sizeof face, &face);
    face.lfHeight = -Scaled(window_, 19);
    face.lfWeight = FW_BOLD;
    if (large_ != nullptr) {
        DeleteObject(large_);
    }
    large_ = CreateFontIndirectA(&face);
    SendDlgItemMessageA(window_, IDC_ProductName, WM_SETFONT, reinterpret_cast<WPARAM>(large_),
                        FALSE);
    InvalidateRect(window_, nullptr, TRUE);
}

void TfrmAbout::FormShow() {
    SetWindowTextA(lblVersion, windowlogic::VersionText().c_str());
    SetFocus(bbtnOk);
}

LRESULT TfrmAbout::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_bbtnOk || LOWORD(wParam) == IDOK) {
                EndModal(1);
                return 0;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                // Escape, as the title bar's close button.
                EndModal(2);
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) == Label9) {
                const auto context = reinterpret_cast<HDC>(wParam);
                SetTextColor(context, RGB(0, 0, 255));
                SetBkColor(context, GetSysColor(COLOR_BTNFACE));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            }
            break;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            UseDialogFont(window_);
            Place();
            return 0;
        }
        default:
            break;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

}  // namespace tarnwick::winui
