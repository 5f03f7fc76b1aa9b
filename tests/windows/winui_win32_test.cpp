// The Windows edition's folder dialog with real windows (run under wine on a virtual display by
// folder_dialog_e2e.sh): the disk information of a path is asked off the window's thread, an
// answer for a text that has changed since is dropped, and Save waits for the current one.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"
#include "windowlogic/folder_browser.h"
#include "windowlogic/folder_lists.h"
#include "winui/Background.h"
#include "winui/Ffolder.h"
#include "winui/Ffolderbrowse.h"
#include "winui/Form.h"

namespace tarnwick::winui {
namespace {

using namespace std::chrono_literals;

TEST(BackgroundQuestions, TheEndWaitsOnlyForQuestionsStillOut) {
    std::atomic<int> answered{0};
    AskInBackground([&] { ++answered; });
    EXPECT_TRUE(WaitForBackgroundQuestions(30s));
    EXPECT_EQ(answered, 1);
    std::promise<void> release;
    AskInBackground([held = release.get_future().share()] { held.wait(); });
    EXPECT_FALSE(WaitForBackgroundQuestions(50ms));
    release.set_value();
    EXPECT_TRUE(WaitForBackgroundQuestions(30s));
}

constexpr const char* kCaption = "Folder dialog under test";
constexpr std::uint32_t kSerial = 0x2468ACE0;

// The user, as a thread timer that the dialog's own message loop runs: a path on a volume that
// does not answer, then an existing folder; once Save is enabled the silent volume answers, and
// Save is pressed after that stale answer has come.
struct User {
    testing::FixtureDriveMap* drives = nullptr;
    std::string stuck;
    std::string folder;
    int step = 0;
    ULONGLONG next = 0;      // the next step not before
    ULONGLONG deadline = 0;  // for the answer of the folder
    bool saveEnabledBeforeAnswer = true;
    bool gaveUp = false;
};
User* gUser = nullptr;

void CALLBACK Act(HWND, UINT, UINT_PTR, DWORD) {
    User& user = *gUser;
    const HWND dialog = FindWindowA(nullptr, kCaption);
    if (dialog == nullptr || !IsWindowVisible(dialog) || GetTickCount64() < user.next) {
        return;
    }
    const HWND edit = FindWindowExA(dialog, nullptr, "Edit", nullptr);
    const HWND save = FindWindowExA(dialog, nullptr, "Button", "&Save");
    const ULONGLONG now = GetTickCount64();
    switch (user.step++) {
        case 0:
            SetWindowTextA(edit, user.stuck.c_str());
            user.next = now + 800;  // past the refresh: its question now waits for the volume
            return;
        case 1:
            SetWindowTextA(edit, user.folder.c_str());
            user.saveEnabledBeforeAnswer = IsWindowEnabled(save) != FALSE;
            user.deadline = now + 30'000;
            return;
        case 2:
            if (!IsWindowEnabled(save) && now < user.deadline) {
                --user.step;  // the answer for the folder has not come yet
                return;
            }
            user.drives->SetAnswering('Q', true);
            user.next = now + 500;
            return;
        case 3:
            SendMessageA(save, BM_CLICK, 0, 0);
            user.next = now + 10'000;
            return;
        default:
            user.gaveUp = true;  // Save did not close the dialog
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            return;
    }
}

TEST(FolderDialog, AnAnswerForAnEarlierTextIsDroppedAndSaveWaitsForTheCurrentOne) {
    testing::TempDir dir;
    const std::string folder = dir.str();
    testing::ScopedDriveMap drives;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(folder[0])));
    drives->Set(letter, {std::string{letter, ':', '\\'}, 3, kSerial, "SYSTEM", true, true});
    drives->Set('Q', {"Q:\\", 3, 77, "STUCK", true, true});
    drives->SetAnswering('Q', false);

    User user{&*drives, "Q:\\Photos", folder};
    gUser = &user;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &Act);
    const auto dialog = CreateFolderDialog(GetModuleHandleA(nullptr), nullptr);
    std::string path;
    bool merge = true;
    const bool saved = dialog->AskDestination(kCaption, path, merge);
    KillTimer(nullptr, timer);
    drives->SetAnswering('Q', true);
    EXPECT_TRUE(WaitForBackgroundQuestions(30s));

    EXPECT_FALSE(user.saveEnabledBeforeAnswer);
    EXPECT_FALSE(user.gaveUp);
    ASSERT_TRUE(saved);
    EXPECT_EQ(path, folder);
    EXPECT_TRUE(merge);
    EXPECT_EQ(dialog->SavedSerial(), std::to_string(kSerial));
    EXPECT_EQ(dialog->SavedDriveType(), 3);
}

// What the browser showed, read from its tree by a thread timer that its message loop runs.
struct TreeSeen {
    std::filesystem::path gone;  // removed from the disk once listed
    std::string opened;          // the folder the browser opens at
    std::string selected;
    bool selectedExpanded = false;
    std::vector<std::string> children;
    std::vector<bool> expanders;
    bool saveOnListed = false;
    bool saveOnRemoved = true;
    int step = 0;
};
TreeSeen* gSeen = nullptr;

HTREEITEM ChildNamed(HWND tree, HTREEITEM parent, const std::string& name) {
    for (HTREEITEM child = TreeView_GetChild(tree, parent); child != nullptr;
         child = TreeView_GetNextSibling(tree, child)) {
        if (TreeNodeText(tree, child) == name) {
            return child;
        }
    }
    return nullptr;
}

void CALLBACK Look(HWND, UINT, UINT_PTR, DWORD) {
    TreeSeen& seen = *gSeen;
    const HWND browser = FindWindowA(nullptr, "Browse for Folder");
    if (browser == nullptr || !IsWindowVisible(browser)) {
        return;
    }
    const HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    const HWND save = FindWindowExA(browser, nullptr, "Button", "&Save");
    const HTREEITEM selected = TreeView_GetSelection(tree);
    switch (seen.step++) {
        case 0:
            // The tree is walked to the folder one listing at a time.
            if (TreeNodeText(tree, selected) != seen.opened ||
                (TreeView_GetItemState(tree, selected, TVIS_EXPANDED) & TVIS_EXPANDED) == 0 ||
                !IsWindowEnabled(save)) {
                --seen.step;
                return;
            }
            seen.selected = TreeNodeText(tree, selected);
            seen.selectedExpanded =
                (TreeView_GetItemState(tree, selected, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
            for (HTREEITEM child = TreeView_GetChild(tree, selected); child != nullptr;
                 child = TreeView_GetNextSibling(tree, child)) {
                seen.children.push_back(TreeNodeText(tree, child));
                seen.expanders.push_back(TreeView_GetChild(tree, child) != nullptr);
            }
            seen.saveOnListed = IsWindowEnabled(save) != FALSE;
            std::filesystem::remove(seen.gone);
            TreeView_SelectItem(tree, ChildNamed(tree, selected, seen.gone.filename().string()));
            return;
        case 1:
            seen.saveOnRemoved = IsWindowEnabled(save) != FALSE;
            TreeView_SelectItem(tree,
                                ChildNamed(tree, TreeView_GetParent(tree, selected), "Alpha"));
            return;
        case 2:
            SendMessageA(save, BM_CLICK, 0, 0);
            return;
        default:
            PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);  // Save did not close it
            return;
    }
}

TEST(FolderBrowser, OpensAtTheFolderListsItsSubfoldersAndSavesOnlyAnExistingOne) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir / "Alpha" / "Deeper");
    std::filesystem::create_directories(dir / "Gamma");
    std::filesystem::create_directories(dir / "beta");
    testing::WriteFile(dir / "file.txt", "not a folder");

    TreeSeen seen;
    seen.gone = dir / "Gamma";
    seen.opened = dir.path().filename().string();
    gSeen = &seen;
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, &Look);
    std::string path = dir.str();
    const int result = FolderBrowser(GetModuleHandleA(nullptr)).ChooseFolder(nullptr, "", path);
    KillTimer(nullptr, timer);

    EXPECT_EQ(seen.selected, dir.path().filename().string());
    EXPECT_TRUE(seen.selectedExpanded);
    EXPECT_EQ(seen.children, (std::vector<std::string>{"Alpha", "beta", "Gamma"}));
    EXPECT_EQ(seen.expanders, (std::vector<bool>{true, false, false}));
    EXPECT_TRUE(seen.saveOnListed);
    EXPECT_FALSE(seen.saveOnRemoved);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(path, (dir / "Alpha").string());
}

// The user of a browser whose initial folder lies on a volume that does not answer: the keys
// move the selection, another drive opens, and Close closes.
struct StuckUser {
    int step = 0;
    int waits = 0;  // for C: to open
    std::vector<std::string> selected;
    std::vector<std::string> opened;  // the children of C: once it opened
    ULONGLONG closedAt = 0;
};
StuckUser* gStuck = nullptr;

void CALLBACK UseStuck(HWND, UINT, UINT_PTR, DWORD) {
    StuckUser& user = *gStuck;
    const HWND browser = FindWindowA(nullptr, "Browse for Folder");
    if (browser == nullptr || !IsWindowVisible(browser)) {
        return;
    }
    const HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    const HTREEITEM first = TreeView_GetRoot(tree);
    if (first == nullptr || TreeView_GetNextSibling(tree, first) == nullptr) {
        return;  // the drive level has not come yet
    }
    const auto key = [tree](WPARAM vk) { SendMessageA(tree, WM_KEYDOWN, vk, 0); };
    switch (user.step++) {
        case 0:
            TreeView_SelectItem(tree, first);
            key(VK_DOWN);
            user.selected.push_back(TreeNodeText(tree, TreeView_GetSelection(tree)));
            key(VK_UP);
            user.selected.push_back(TreeNodeText(tree, TreeView_GetSelection(tree)));
            key(VK_RIGHT);
            return;
        case 1:
            if ((TreeView_GetItemState(tree, first, TVIS_EXPANDED) & TVIS_EXPANDED) == 0 &&
                ++user.waits < 100) {
                --user.step;
                return;
            }
            for (HTREEITEM child = TreeView_GetChild(tree, first); child != nullptr;
                 child = TreeView_GetNextSibling(tree, child)) {
                user.opened.push_back(TreeNodeText(tree, child));
            }
            user.closedAt = GetTickCount64();
            PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
            return;
        default:
            return;
    }
}

TEST(FolderBrowser, AVolumeThatDoesNotAnswerLeavesTheBrowserAnswering) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir / "C" / "Data");
    std::filesystem::create_directories(dir / "Q" / "Photos");
    testing::ScopedDriveMap drives;
    drives->Set('C', {(dir / "C").string(), 3, kSerial, "SYSTEM", true, true});
    drives->Set('Q', {(dir / "Q").string(), 4, 77, "STUCK", true, true});
    // Every question about a folder on Q: waits until the volume answers again.
    auto answering = std::make_shared<std::promise<void>>();
    windowlogic::SetFolderQuestionGateForTesting(
        [held = answering->get_future().share()](const std::string& path) {
            if (path.starts_with("Q:")) {
                held.wait();
            }
        });

    StuckUser user;
    gStuck = &user;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, &UseStuck);
    std::string path = "Q:\\Photos";
    const int result = FolderBrowser(GetModuleHandleA(nullptr)).ChooseFolder(nullptr, "", path);
    const ULONGLONG closed = GetTickCount64();
    KillTimer(nullptr, timer);
    answering->set_value();
    windowlogic::SetFolderQuestionGateForTesting(nullptr);
    EXPECT_TRUE(WaitForBackgroundQuestions(30s));

    EXPECT_EQ(user.selected, (std::vector<std::string>{"Q:", "C:"}));
    EXPECT_EQ(user.opened, std::vector<std::string>{"Data"});
    EXPECT_EQ(result, 2);
    EXPECT_EQ(path, "Q:\\Photos");
    EXPECT_LT(closed - user.closedAt, 5000u);
}

}  // namespace
}  // namespace tarnwick::winui
