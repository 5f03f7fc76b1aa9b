#pragma once
// Helpers for the tests of the folder dialogs: a drive map over temporary folders, a recorder
// for message boxes and a way to act inside a modal dialog while it is open.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"
#include "ui/Shell.h"

namespace tarnwick::ui::testing {

using tarnwick::testing::FixtureDrive;
using tarnwick::testing::ScopedDriveMap;
using tarnwick::testing::TempDir;

// Processes events until `done` holds or the time is up; answers `done()`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Runs `action` once a modal widget of type T is open. The poll is a timer of the event loop
// that the modal dialog runs, so `action` runs inside that loop.
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

struct ShownBox {
    ui::BoxIcon icon;
    QString caption;
    QString text;
};

// Two drives over temporary folders: C: (fixed, labelled) and E: (removable).
class FolderDialogFixture {
public:
    FolderDialogFixture() {
        drives->Set('C', FixtureDrive{systemRoot.str(), platform::kDriveFixed, 0x1234ABCD, "SYSTEM",
                                      true, true});
        drives->Set('E', FixtureDrive{stickRoot.str(), platform::kDriveRemovable, 0xCAFE0001, "",
                                      true, true});
        SetMessageBoxHookForTesting(
            [this](BoxIcon icon, const QString& caption, const QString& text) {
                boxes.push_back({icon, caption, text});
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
    FolderDialogFixture(const FolderDialogFixture&) = delete;
    FolderDialogFixture& operator=(const FolderDialogFixture&) = delete;

    // A folder (with its parents) under the root of C:.
    std::filesystem::path MakeFolder(const std::string& relative) {
        const auto folder = systemRoot.path() / relative;
        std::filesystem::create_directories(folder);
        return folder;
    }

    TempDir systemRoot;
    TempDir stickRoot;
    ScopedDriveMap drives;
    std::vector<ShownBox> boxes;
    std::vector<QString> opened;
};

}  // namespace tarnwick::ui::testing
