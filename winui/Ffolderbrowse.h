#pragma once
// The folder browser (TTfrmFolderBrowse) on the platform's own tree view: the drives and, listed
// when a node is first opened, their folders; New Folder, renames in place, the explorer, and a
// rebuilt tree. What the tree holds and what its commands do on the disk is windowlogic's.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "windowlogic/folder_browser.h"
#include "winui/ModalWindow.h"

namespace tarnwick::winui {

class TTfrmFolderBrowse final : public ModalWindow {
public:
    explicit TTfrmFolderBrowse(HINSTANCE instance);

    // Shows the browser modally over `owner`. `path` is the initial folder and, after Save
    // (result 1), the chosen folder; a drive comes back as "C:". Close (2) leaves `path` alone.
    // An empty prompt shows "Choose a folder"; "&&" in it shows as one "&".
    int ChooseFolder(HWND owner, std::string_view prompt, std::string& path);

    // Initial folder on entry, chosen folder (or the empty text) after closing.
    std::string FolderPath;

private:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Shown() override;
    bool CanClose(int result) override;
    void Layout() override;
    bool BypassesDialogKeys(const MSG& message) const override;
    bool Intercepted(const MSG& message) override;

    // The node images and the buttons' pictures, at the window's DPI.
    void UsePictures();

    // Asks `question` on a thread of its own; `answer` runs on this window's thread, posted
    // back, and checks itself that the tree or node it was asked for is still there.
    template <typename Answer>
    void Ask(std::function<Answer()> question, std::function<void(Answer)> answer);
    void RunAnswers();

    // The tree. The drive level and every listing come as answers; each filling of the tree is a
    // generation of its own, and each node has an id (its lParam) by which an answer finds it.
    void FillDrives();
    HTREEITEM InsertNode(HTREEITEM parent, const std::string& text, int image);
    HTREEITEM NodeById(LPARAM id) const;
    LPARAM IdOf(HTREEITEM node) const;
    void ListInBackground(HTREEITEM node);
    void Listed(LPARAM id, const std::optional<std::vector<windowlogic::Subfolder>>& subfolders);
    std::string NodePath(HTREEITEM node) const;
    // Opens a node: at once when listed (true), else when its listing comes.
    bool Open(HTREEITEM node);
    void Collapse(HTREEITEM node);
    // Walks the tree to `path` one answer at a time, then selects it.
    void StartRoad(const std::string& path, bool openLast);
    void StepRoad(bool refused);
    void Renamed(LPARAM id, const std::string& label, const windowlogic::RenameResult& renamed);

    // Event handlers.
    LRESULT TreeView1Notify(NMHDR* header);
    bool TreeView1Expanding(HTREEITEM node);
    void TreeView1Expanded(HTREEITEM node, bool expanded);
    void TreeView1Change();
    bool TreeView1Editing(HTREEITEM node) const;
    void TreeView1Edited(HTREEITEM node, const std::string& label);
    bool TreeView1ContextPopup();
    void bbtnNewFolderClick();
    void bbtnRefreshClick();
    void Refresh1Click();
    void Explore1Click();
    void ShowRenameFailure();

    HTREEITEM Selected() const;

    HWND Panel1 = nullptr;
    HWND TreeView1 = nullptr;
    HWND bbtnRefresh = nullptr;
    HWND bbtnNewFolder = nullptr;
    HWND bbtnSave = nullptr;
    HWND BitBtn2 = nullptr;
    HMENU PopupMenu1 = nullptr;
    std::string renameFailure_;  // the message of a refused rename, shown once the editor is gone

    struct Mailbox {
        std::mutex mutex;
        std::vector<std::function<void()>> answers;
    };
    std::shared_ptr<Mailbox> mailbox_ = std::make_shared<Mailbox>();
    std::uint64_t generation_ = 0;
    LPARAM nextId_ = 2;         // 1 marks a placeholder
    std::set<LPARAM> listing_;  // nodes whose folders are being listed
    windowlogic::FolderRoad road_;
    LPARAM roadAt_ = 0;        // the node the road has reached (0: none yet)
    LPARAM roadWaitsFor_ = 0;  // the node whose listing the road waits for
    bool drivesListed_ = false;
    std::uint64_t selections_ = 0;  // each change of the selection, for its Save check
    bool roadSelects_ = false;       // while the walk selects its end
    bool renaming_ = false;         // a rename was asked and has not been answered
    int closeAfterRename_ = 0;      // Save pressed while it was asked
};

// The one folder browser, created hidden on the first call and kept for the program's life; the
// folder dialog and Copy and Run share it.
TTfrmFolderBrowse& FolderBrowser(HINSTANCE instance);

}  // namespace tarnwick::winui
