#pragma once
// The pictures of the Windows edition's windows, drawn with GDI at the DPI of the window they are
// for: the folder browser's node images (the index meanings of windowlogic/folder_browser.h) and
// the pictures of the buttons. Each is made once per DPI and kept for the program's life.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

namespace tarnwick::winui {

HIMAGELIST FolderImages(HWND window);

enum class Glyph { kSave, kClose, kRefresh, kNewFolder };

// Gives a push button its picture beside its text.
void SetButtonGlyph(HWND button, Glyph glyph);

// Gives a push button `icon` (of `pixels` × `pixels`) for each of its states, a pale grey copy
// while it is disabled: the system would draw a disabled picture as a flat grey outline.
// False where the button takes no pictures per state (it keeps the one it has).
bool SetButtonPictures(HWND button, HICON icon, int pixels);

}  // namespace tarnwick::winui
