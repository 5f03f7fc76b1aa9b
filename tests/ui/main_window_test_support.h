#pragma once
// For the tests of the main window's lists and commands: the folder dialogs over the fixture
// drives, the settings file beside a test executable, recorded message boxes, and an answerer
// for the folder dialog that notes what each opening showed.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "folder_test_support.h"
#include "platform/system.h"
#include "ui/Ffolder.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Forms.h"
#include "ui/Shell.h"
#include "ui/Text.h"

namespace tarnwick::ui::testing {

// Answers every opening of frmFolder: Save with the next planned path (the shown one when the
// plan says so), or Close when nothing is planned.
class FolderDialogAnswerer {
public:
    struct Opening {
        QString caption, path;
        bool subfolders = false;
        int folderType = -1;  // 0 Merge, 1 Backup; only for a destination
    };
    static constexpr const char* kKeep = "\x01";  // Save with the path the dialog showed

    FolderDialogAnswerer() {
        QObject::connect(&poll_, &QTimer::timeout, &poll_, [this] {
            auto* open = qobject_cast<TfrmFolder*>(QApplication::activeModalWidget());
            if (open == nullptr) {
                return;
            }
            openings.push_back({open->windowTitle(), open->Edit1->text(),
                                open->chkSubfolders->isChecked(), open->RadioGroup1ItemIndex()});
            if (plan.empty()) {
                open->bbtnClose->click();
                return;
            }
            const std::string path = plan.front();
            plan.pop_front();
            if (path != kKeep) {
                open->Edit1->setText(ToQt(path));
            }
            open->done(1);
        });
        poll_.start(5);
    }

    std::deque<std::string> plan;
    std::vector<Opening> openings;

private:
    QTimer poll_;
};

// C: and E: of FolderDialogFixture; the program as C:\Tools\Tarnwick.exe, so the settings file is
// C:\Tools\Tarnwick.INI; the computer TESTPC; every message box recorded with its icon.
class MainWindowFixture : public FolderDialogFixture {
public:
    struct IconBox {
        BoxIcon icon;
        QString caption, text;
    };

    MainWindowFixture() {
        std::filesystem::create_directories(systemRoot / "Tools");
        platform::SetExecutablePathForTesting((systemRoot / "Tools" / "Tarnwick.exe").string());
        platform::SetComputerNameForTesting("TESTPC");
        SetMessageBoxHookForTesting(
            [this](BoxIcon icon, const QString& caption, const QString& text) {
                shownBoxes.push_back({icon, caption, text});
            });
        QGuiApplication::setQuitOnLastWindowClosed(false);
        frmFolder = &folderDialog;
        TfrmFolderBrowse = &browser;
    }
    ~MainWindowFixture() {
        frmFolder = nullptr;
        TfrmFolderBrowse = nullptr;
        platform::SetExecutablePathForTesting(std::nullopt);
        platform::SetComputerNameForTesting(std::nullopt);
    }

    std::filesystem::path SettingsPath() const { return systemRoot / "Tools" / "Tarnwick.INI"; }

    TfrmFolder folderDialog;
    TTfrmFolderBrowse browser;
    std::vector<IconBox> shownBoxes;
};

}  // namespace tarnwick::ui::testing
