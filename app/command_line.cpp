#include "app/command_line.h"

#include <clocale>
#include <string>
#include <string_view>

#include "app/unattended.h"
#include "app/watch.h"

namespace tarnwick::app {

int RunCommandLine(int& argc, char** argv) {
    const std::string_view option = argc == 2 ? std::string_view(argv[1]) : std::string_view();
    if (option == "--help") {
        Write(stdout, UsageText());
        return kExitDone;
    }
    if (option == "--version") {
        return PrintVersion();
    }
    if (option == "--synchronize" || option == "--watch") {
        // The date and time of the log lines as the user's locale writes them, as in the window.
        std::setlocale(LC_ALL, "");
        return option == "--watch" ? Watch(argc, argv, stdout) : Synchronize(stdout);
    }
    std::string message = "tarnwick: ";
    for (int i = 1; i < argc; ++i) {
        message += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    message += ": not understood\n\n";
    Write(stderr, message + std::string(UsageText()));
    return kExitUsage;
}

}  // namespace tarnwick::app
