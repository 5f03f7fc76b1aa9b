#pragma once
// Requests to stop a program that runs in a console: Ctrl+C, Ctrl+Break, the console closed, the
// user logging off or the system shutting down.

#include <functional>

namespace tarnwick::platform {

// Calls `onStop` (on a thread of the system's) at each request to stop, for as long as the
// program runs; the request does not end the program by itself. Only the last handler set is
// called. False when the handler cannot be installed.
bool OnConsoleStop(std::function<void()> onStop);

}  // namespace tarnwick::platform
