#pragma once
// The folder dialog (frmFolder) and the folder browser it opens, on the platform's own controls.
// Both are created hidden once, at start-up, and shown modally each time they are asked for.
#include <windows.h>

#include <memory>

#include "windowlogic/folder_lists.h"

namespace tarnwick::winui {

// The folder dialog owned by `owner` (the main window), as the list commands use it.
std::unique_ptr<windowlogic::FolderDialog> CreateFolderDialog(HINSTANCE instance, HWND owner);

}  // namespace tarnwick::winui
