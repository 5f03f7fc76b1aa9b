#pragma once
// For the main window's tests: the drives of FolderDialogFixture, the program as
// C:\Tools\Tarnwick.exe (so the settings file is C:\Tools\Tarnwick.INI) on the computer TESTPC,
// message boxes recorded with their icons, and the folder dialog answered by plan.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <deque>
#include <ostream>

#include "folder_test_support.h"
#include "platform/system/system.h"
#include "ui/Ffolder.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Forms.h"
#include "ui/Text.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace tarnwick::ui::testing {

class MainWindowFixture : public FolderDialogFixture {
public:
    struct Opening {
        QString caption, path;
        bool subfolders;
        int folderType;  // 0 Merge, 1 Backup
    };
    struct IconBox {
        BoxIcon icon;
        QString caption, text;
    };

    MainWindowFixture() {
        std::filesystem::create_directories(systemRoot / "Tools");
        platform::SetExecutablePathForTesting((systemRoot / "Tools" / "Tarnwick.exe").string());
        platform::SetComputerNameForTesting("TESTPC");
        // No runtime folder unless a test gives one: the help pages are not written anywhere.
        platform::SetRuntimeFolderForTesting("");
        SetMessageBoxHookForTesting(
            [this](BoxIcon icon, const QString& caption, const QString& text) {
                messages.push_back({icon, caption, text});
            });
        QGuiApplication::setQuitOnLastWindowClosed(false);
        frmFolder = &folderDialog;
        TfrmFolderBrowse = &browser;
        // Every opening of the folder dialog is noted, then saved with the next planned path (an
        // empty one keeps the path shown), or closed when nothing is planned.
        QObject::connect(&poll_, &QTimer::timeout, &poll_, [this] {
            auto* open = qobject_cast<TfrmFolder*>(QApplication::activeModalWidget());
            if (open == nullptr || answering_) {
                return;
            }
            openings.push_back({open->windowTitle(), open->Edit1->text(),
                                open->chkSubfolders->isChecked(), open->RadioGroup1ItemIndex()});
            if (plan.empty()) {
                open->bbtnClose->click();
                return;
            }
            answering_ = true;
            if (!plan.front().empty()) {
                open->Edit1->setText(ToQt(plan.front()));
                open->Timer1Timer();
            }
            plan.pop_front();
            WaitForDiskInfo(*open);
            answering_ = false;
            open->done(1);
        });
        poll_.start(5);
    }
    ~MainWindowFixture() {
        frmFolder = nullptr;
        TfrmFolderBrowse = nullptr;
        platform::SetExecutablePathForTesting(std::nullopt);
        platform::SetComputerNameForTesting(std::nullopt);
        platform::SetRuntimeFolderForTesting(std::nullopt);
    }

    std::filesystem::path SettingsPath() const { return systemRoot / "Tools" / "Tarnwick.INI"; }

    TfrmFolder folderDialog;
    TTfrmFolderBrowse browser;
    std::vector<IconBox> messages;
    std::deque<std::string> plan;
    std::vector<Opening> openings;

private:
    QTimer poll_;
    bool answering_ = false;  // the dialog's disk information is awaited inside the poll
};

}  // namespace tarnwick::ui::testing
