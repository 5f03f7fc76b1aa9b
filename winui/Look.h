#pragma once
// What every window of the Windows edition shares in its look: the system's message font, sizes
// given in 96-dpi units scaled to the window's DPI, and text in the code page the program's
// strings are kept in.
#include <windows.h>

namespace tarnwick::winui {

// The font the system uses for dialogs and message boxes, at the DPI of `window`. One per DPI,
// kept for the program's life.
HFONT DialogFont(HWND window);

// `value`, given for 96 dpi, at the DPI of `window` (the system's DPI where the window has none).
int Scaled(HWND window, int value);

// Gives `window` and all its children the dialog font.
void UseDialogFont(HWND window);

}  // namespace tarnwick::winui
