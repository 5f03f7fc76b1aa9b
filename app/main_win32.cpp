// Tarnwick for Windows: one program for the window subsystem. Without an option it opens the
// windows; `tarnwick --synchronize` runs every group of this computer from the settings file
// beside the executable, with the run log on standard output and the exit statuses of the Linux
// edition (Ctrl+C cancels the run as the window's Cancel does). Started from a console, the
// options write to that console.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/unattended.h"
#include "winui/Background.h"
#include "winui/Unit1.h"

namespace {

using tarnwick::app::kExitDone;
using tarnwick::app::kExitErrors;
using tarnwick::app::kExitUsage;
using tarnwick::app::Write;

constexpr std::string_view kUsage =
    "Usage:\n"
    "  tarnwick                 open the main window\n"
    "  tarnwick --synchronize   synchronise every folder group of this computer, writing the\n"
    "                           run log to standard output (Ctrl+C cancels the run)\n"
    "  tarnwick --help          show this text\n"
    "  tarnwick --version       show the version\n"
    "\n"
    "Exit status of --synchronize: 0 for a complete run, 1 when it wrote an error line or left\n"
    "files behind, 130 when it was cancelled; 2 for a command line that is not understood.\n";

bool HasHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// A program of the window subsystem gets no console of its own. Where its output was not sent to
// a file or a pipe, it writes to the console of the program that started it, if there is one.
void UseParentConsole() {
    const bool out = HasHandle(STD_OUTPUT_HANDLE);
    const bool err = HasHandle(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    if (!out && std::freopen("CONOUT$", "w", stdout) != nullptr) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    }
    if (!err && std::freopen("CONOUT$", "w", stderr) != nullptr) {
        std::setvbuf(stderr, nullptr, _IONBF, 0);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 1) {
        const int status = tarnwick::winui::RunProgramWindows(GetModuleHandleA(nullptr));
        // A volume question still out after the windows closed (a volume that stopped answering)
        // keeps the program from ending through the destructors of the statics it uses.
        if (!tarnwick::winui::WaitForBackgroundQuestions(std::chrono::seconds(2))) {
            std::fflush(nullptr);
            std::_Exit(status);
        }
        return status;
    }
    UseParentConsole();
    if (argc != 2) {
        Write(stderr, kUsage);
        return kExitUsage;
    }
    const std::string_view option = argv[1];
    if (option == "--synchronize") {
        return tarnwick::app::Synchronize(stdout);
    }
    if (option == "--watch") {
        Write(stderr,
              "tarnwick: --watch is not available on Windows yet; run --synchronize from "
              "the Task Scheduler instead\n");
        return kExitErrors;
    }
    if (option == "--version") {
        return tarnwick::app::PrintVersion();
    }
    if (option == "--help") {
        Write(stdout, kUsage);
        return kExitDone;
    }
    Write(stderr, kUsage);
    return kExitUsage;
}
