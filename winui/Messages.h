#pragma once
// The main window's own messages: what its worker and its volume questions post to it.
#include <windows.h>

namespace tarnwick::winui {

inline constexpr UINT kDrainPosted = WM_APP + 1;
inline constexpr UINT kWorkerEnded = WM_APP + 2;
inline constexpr UINT kOpenLog = WM_APP + 3;
inline constexpr UINT kDetailsAnswered = WM_APP + 4;
inline constexpr UINT kChangeRead = WM_APP + 5;

}  // namespace tarnwick::winui
