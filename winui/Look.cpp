#include "winui/Look.h"

#include <map>

namespace tarnwick::winui {

namespace {

UINT DpiOf(HWND window) {
    const UINT dpi = window != nullptr ? GetDpiForWindow(window) : 0;
    return dpi != 0 ? dpi : GetDpiForSystem();
}

}  // namespace

HFONT DialogFont(HWND window) {
    static std::map<UINT, HFONT> fonts;  // UI thread only
    const UINT dpi = DpiOf(window);
    if (const auto found = fonts.find(dpi); found != fonts.end()) {
        return found->second;
    }
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    HFONT font = nullptr;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi) ||
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        font = CreateFontIndirectW(&metrics.lfMessageFont);
    }
    if (font == nullptr) {
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    fonts.emplace(dpi, font);
    return font;
}

int Scaled(HWND window, int value) {
    return MulDiv(value, static_cast<int>(DpiOf(window)), USER_DEFAULT_SCREEN_DPI);
}

void UseDialogFont(HWND window) {
    const HFONT font = DialogFont(window);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    EnumChildWindows(
        window,
        [](HWND child, LPARAM f) -> BOOL {
            SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(f), FALSE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(font));
}

}  // namespace tarnwick::winui
