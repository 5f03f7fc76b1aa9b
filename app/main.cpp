// Tarnwick: without arguments the application, its five windows in their order, the message
// loop; with one (--synchronize, --watch, --help, --version) a run or an answer without a window.
#include <chrono>
#include <cstdlib>
#include <exception>

#include "app/command_line.h"
#include "platform/system/system.h"
#include "ui/Application.h"
#include "ui/Background.h"
#include "ui/Forms.h"
#include "ui/Shell.h"
#include "ui/Text.h"
#include "ui/Unit1.h"

int main(int argc, char* argv[]) {
    // Before any thread starts: a copy pass keeps a descriptor for each folder it copies into.
    tarnwick::platform::RaiseOpenFileLimit();
    if (argc > 1) {
        return tarnwick::app::RunCommandLine(argc, argv);
    }
    tarnwick::ui::Application application(argc, argv);
    try {
        const tarnwick::ui::ProgramWindows windows;
        tarnwick::ui::Form1->show();
        tarnwick::ui::Application::exec();
    } catch (const std::exception& error) {
        tarnwick::ui::ShowErrorMessage(tarnwick::ui::ToQt(error.what()));
    }
    // A question about a drive that is still asked would meet the statics it uses destroyed; one
    // that a volume holds cannot end, so the program ends without them.
    if (!tarnwick::ui::WaitForBackgroundQuestions(std::chrono::seconds(2))) {
        std::_Exit(0);
    }
    return 0;
}
