#pragma once
// For the tests of the folder dialogs: drives over temporary folders, recorded message boxes and
// opened documents, and a way to act inside a modal dialog while it runs.

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"
#include "ui/Ffolder.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Shell.h"

namespace tarnwick::ui::testing {

// Runs `action` inside the event loop of the next modal widget of type T once it is open.
template <typename T>
void WhenModal(std::function<void(T*)> action) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            action(dialog);
        }
    });
    poll->start(10);
}

// Lets the folder dialog's disk information for its path arrive (read off the user-interface
// thread); false when it has not come within 5 s.
inline bool WaitForDiskInfo(const TfrmFolder& dialog) {
    return QTest::qWaitFor([&dialog] { return !dialog.DiskInfoPending(); }, 5000);
}

// Lets the folder browser's road to its chosen folder (listed off the user-interface thread)
// arrive; false when it has not come within 5 s.
inline bool WaitForRoad(const TTfrmFolderBrowse& browser) {
    return QTest::qWaitFor([&browser] { return !browser.RoadPending(); }, 5000);
}

// C: (fixed, labelled "SYSTEM", serial 1234ABCD) and E: (removable, no label, serial CAFE0001).
class FolderDialogFixture {
public:
    struct Box {
        QString caption, text;
    };

    FolderDialogFixture() {
        drives->Set('C', {systemRoot.str(), platform::kDriveFixed, 0x1234ABCD, "SYSTEM"});
        drives->Set('E', {stickRoot.str(), platform::kDriveRemovable, 0xCAFE0001, ""});
        SetMessageBoxHookForTesting([this](BoxIcon, const QString& caption, const QString& text) {
            boxes.push_back({caption, text});
        });
        SetOpenDocumentHookForTesting([this](const QString& target) {
            opened.push_back(target);
            return true;
        });
    }
    ~FolderDialogFixture() {
        SetMessageBoxHookForTesting({});
        SetOpenDocumentHookForTesting({});
    }

    void MakeFolder(const std::string& relative) {
        std::filesystem::create_directories(systemRoot / relative);
    }

    tarnwick::testing::TempDir systemRoot;
    tarnwick::testing::TempDir stickRoot;
    tarnwick::testing::ScopedDriveMap drives;
    std::vector<Box> boxes;
    std::vector<QString> opened;
};

}  // namespace tarnwick::ui::testing
