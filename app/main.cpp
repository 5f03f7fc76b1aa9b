// Tarnwick: without arguments the application, its five windows in their order, the message
// loop; with one (--synchronize, --watch, --help, --version) a run or an answer without a window.
#include <exception>

#include "app/unattended.h"
#include "platform/system/system.h"
#include "ui/Application.h"
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
    return 0;
}
