// The main window's menu commands: Copy and Run, the log, the help pages, About and Exit.
#include "winui/Unit1.h"

#include <shellapi.h>

#include "windowlogic/program.h"
#include "winui/Fabout.h"
#include "winui/Flog.h"
#include "winui/Resources.h"

namespace tarnwick::winui {

namespace {

// A page the executable carries: its resource and the file name it is opened under.
struct HelpPage {
    int resource;
    const char* fileName;
};
constexpr HelpPage kGettingStarted{TARNWICK_HELP_GETTING_STARTED, "getting-started.html"};
constexpr HelpPage kOnlineDocumentation{TARNWICK_HELP_ONLINE_DOCUMENTATION,
                                        "online-documentation.html"};

// Writes a carried page into a folder of the user's temporary folder (unless it lies there
// already as it is); the file's path, or empty when it cannot be had.
std::string WriteHelpPage(const HelpPage& page) {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(page.resource), MAKEINTRESOURCEA(10));
    HGLOBAL loaded = found != nullptr ? LoadResource(self, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return {};
    }
    const std::string content(static_cast<const char*>(bytes), SizeofResource(self, found));
    char temporary[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof temporary, temporary);
    if (length == 0 || length > MAX_PATH) {
        return {};
    }
    const std::string folder = std::string(temporary) + "Tarnwick";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string file = folder + '\\' + page.fileName;
    HANDLE existing = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        std::string before(content.size() + 1, '\0');
        DWORD read = 0;
        const bool same = ReadFile(existing, before.data(), static_cast<DWORD>(before.size()),
                                   &read, nullptr) &&
                          before.compare(0, read, content) == 0 && read == content.size();
        CloseHandle(existing);
        if (same) {
            return file;
        }
    }
    HANDLE written = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (written == INVALID_HANDLE_VALUE) {
        return {};
    }
    DWORD count = 0;
    const bool complete = WriteFile(written, content.data(), static_cast<DWORD>(content.size()),
                                    &count, nullptr) &&
                          count == content.size();
    CloseHandle(written);
    return complete ? file : std::string();
}

// Opens a page in the browser; the result is not looked at.
void OpenHelpPage(HWND owner, const HelpPage& page) {
    const std::string file = WriteHelpPage(page);
    if (!file.empty()) {
        ShellExecuteA(owner, "open", file.c_str(), nullptr, nullptr, SW_SHOW);
    }
}

}  // namespace

void TForm1::Copythisapplicatio1Click() {
    const bool started = windowlogic::CopyAndRun({
        [this](const std::string& prompt, std::string& folder) {
            return chooseFolder_ ? chooseFolder_(prompt, folder) : 2;
        },
        [](const std::string& from, const std::string& to) {
            return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
        },
        [this](const std::string& target) {
            return reinterpret_cast<INT_PTR>(ShellExecuteA(window_, "open", target.c_str(), nullptr,
                                                           nullptr, SW_SHOW)) > 32;
        },
        [this](const std::string& caption, const std::string& text) {
            MessageBoxA(window_, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
        },
    });
    if (started) {
        PostMessageA(window_, WM_CLOSE, 0, 0);
    }
}

void TForm1::Log1Click() {
    if (log_ != nullptr) {
        errorLines_.LogOpened();
        log_->ShowModal();
    }
}

void TForm1::About1Click() {
    if (about_ != nullptr) {
        about_->ShowModal();
    }
}

void TForm1::Exit1Click() {
    PostMessageA(window_, WM_CLOSE, 0, 0);
}

void TForm1::xbbtnCloseClick() {
    PostMessageA(window_, WM_CLOSE, 0, 0);
}

void TForm1::Gettingstarted1Click() {
    OpenHelpPage(window_, kGettingStarted);
}

void TForm1::OnlineHelp1Click() {
    OpenHelpPage(window_, kOnlineDocumentation);
}

}  // namespace tarnwick::winui
