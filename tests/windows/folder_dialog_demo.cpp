// The folder dialog and the folder browser without the main window: each is opened with no owner
// and what it answered is printed, so that they can be seen and driven under wine.
// Usage: folder_dialog_demo source|destination|browse [initial path] [--flag]
//   --flag starts a source with "Include subfolders", a destination as "Merge".
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "windowlogic/folder_dialog.h"
#include "windowlogic/folder_lists.h"
#include "winui/Background.h"
#include "winui/Ffolder.h"
#include "winui/Ffolderbrowse.h"

using namespace tarnwick;

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "destination";
    std::string path;
    bool flag = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--flag") == 0) {
            flag = true;
        } else {
            path = argv[i];
        }
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (mode == "browse") {
        const int result =
            winui::FolderBrowser(instance).ChooseFolder(nullptr, windowlogic::kBrowsePrompt, path);
        std::printf(result == 1 ? "chosen %s\n" : "closed\n", path.c_str());
        return 0;
    }
    const auto dialog = winui::CreateFolderDialog(instance, nullptr);
    const bool destination = mode == "destination";
    const bool saved = destination
                           ? dialog->AskDestination(windowlogic::kNewDestinationCaption, path, flag)
                           : dialog->AskSource(windowlogic::kNewSourceCaption, path, flag);
    if (saved) {
        std::printf("saved %s %s=%d type=%d serial=%s\n", path.c_str(),
                    destination ? "merge" : "subfolders", flag ? 1 : 0, dialog->SavedDriveType(),
                    dialog->SavedSerial().c_str());
    } else {
        std::printf("closed\n");
    }
    std::fflush(stdout);
    // As the program ends: a question still held by a volume keeps the statics it uses.
    if (!winui::WaitForBackgroundQuestions(std::chrono::seconds(2))) {
        std::_Exit(0);
    }
    return 0;
}
