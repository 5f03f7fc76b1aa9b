#include "winui/Ffolderbrowse.h"

#include <shellapi.h>

#include <utility>
#include <vector>

#include "platform/volumes/drives.h"
#include "winui/Background.h"
#include "winui/Form.h"
#include "winui/Look.h"
#include "winui/Pictures.h"

namespace tarnwick::winui {

namespace {

// Control identifiers, by the designer names.
enum : int {
    kPanel1 = 100,
    kTreeView1,
    kbbtnRefresh,
    kbbtnNewFolder,
    kbbtnSave,
    kBitBtn2,
    kExplore1,
    kRefresh1,
};

// Posted by a refused rename: its message box waits until the label editor is gone, so that it
// does not take the focus from a live editor.
constexpr UINT kShowRenameFailure = WM_APP + 1;
// Posted by a question's thread once its answer waits in the mailbox.
constexpr UINT kAnswer = WM_APP + 2;

// A drive's image until its type has been read: none.
constexpr int kImageTypeNotRead = 9;

// lParam of a placeholder node. It is told by this mark, never by its text: ">" is a valid
// folder name on some file systems the program reaches.
constexpr LPARAM kPlaceholder = 1;

bool IsPlaceholder(HWND tree, HTREEITEM node) {
    TVITEMA item{};
    item.mask = TVIF_PARAM;
    item.hItem = node;
    return node != nullptr &&
           SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) &&
           item.lParam == kPlaceholder;
}

HTREEITEM Insert(HWND tree, HTREEITEM parent, const std::string& text, int image, LPARAM mark,
                 HTREEITEM after = TVI_LAST) {
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<char*>(text.c_str());
    insert.item.iImage = windowlogic::ImageOrDot(image);
    // Every node shows the red dot while it is the selected one.
    insert.item.iSelectedImage = windowlogic::kImageDot;
    insert.item.lParam = mark;
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void AddPlaceholder(HWND tree, HTREEITEM parent) {
    Insert(tree, parent, ">", windowlogic::kImageDot, kPlaceholder, TVI_FIRST);
}

void SetImage(HWND tree, HTREEITEM node, int image) {
    TVITEMA item{};
    item.mask = TVIF_IMAGE;
    item.hItem = node;
    item.iImage = windowlogic::ImageOrDot(image);
    SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

// The child of `parent` (the drive level when null) whose text is `name`, byte for byte.
HTREEITEM FindChild(HWND tree, HTREEITEM parent, std::string_view name) {
    HTREEITEM child = parent != nullptr ? TreeView_GetChild(tree, parent) : TreeView_GetRoot(tree);
    for (; child != nullptr; child = TreeView_GetNextSibling(tree, child)) {
        if (!IsPlaceholder(tree, child) && TreeNodeText(tree, child) == name) {
            return child;
        }
    }
    return nullptr;
}

bool IsExpanded(HWND tree, HTREEITEM node) {
    return (TreeView_GetItemState(tree, node, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}

HTREEITEM FindId(HWND tree, HTREEITEM first, LPARAM id) {
    for (HTREEITEM node = first; node != nullptr; node = TreeView_GetNextSibling(tree, node)) {
        TVITEMA item{};
        item.mask = TVIF_PARAM;
        item.hItem = node;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        if (item.lParam == id) {
            return node;
        }
        if (const HTREEITEM found = FindId(tree, TreeView_GetChild(tree, node), id)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

TTfrmFolderBrowse::TTfrmFolderBrowse(HINSTANCE instance) {
    if (!Create(instance, windowlogic::kBrowserCaption, nullptr, {353, 358}, {338, 200})) {
        return;
    }
    Panel1 = Child(kStatic, "", SS_LEFT, kPanel1);
    TreeView1 = Child(WC_TREEVIEWA, "",
                      WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                          TVS_EDITLABELS | TVS_SHOWSELALWAYS,
                      kTreeView1, WS_EX_CLIENTEDGE);
    SetWindowTextA(TreeView1, "Folders");  // the name a screen reader gives the tree
    bbtnRefresh = Child(kButton, "", WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, kbbtnRefresh);
    bbtnNewFolder = Child(kButton, "&Make New Folder", WS_TABSTOP | BS_PUSHBUTTON, kbbtnNewFolder);
    bbtnSave = Child(kButton, "&Save", WS_TABSTOP | BS_DEFPUSHBUTTON | WS_DISABLED, kbbtnSave);
    BitBtn2 = Child(kButton, "&Close", WS_TABSTOP | BS_PUSHBUTTON, kBitBtn2);
    AddHint(bbtnRefresh, "Refresh");
    AddHint(bbtnNewFolder, "Create a new folder");
    AddHint(bbtnSave, "Return the selected folder");
    AddHint(BitBtn2, "Close this window without returning selected folder");

    UsePictures();

    // The hint of Explore is shown nowhere: the dialog has no status line.
    PopupMenu1 = CreatePopupMenu();
    AppendMenuA(PopupMenu1, MF_STRING, kExplore1, "Explore");
    AppendMenuA(PopupMenu1, MF_STRING, kRefresh1, "Refresh");
    Layout();
}

void TTfrmFolderBrowse::UsePictures() {
    SetButtonGlyph(bbtnRefresh, Glyph::kRefresh);
    SetButtonGlyph(bbtnNewFolder, Glyph::kNewFolder);
    SetButtonGlyph(bbtnSave, Glyph::kSave);
    SetButtonGlyph(BitBtn2, Glyph::kClose);
    TreeView_SetImageList(TreeView1, FolderImages(Handle()), TVSIL_NORMAL);
    TreeView_SetIndent(TreeView1, Scale(19));
}

int TTfrmFolderBrowse::ChooseFolder(HWND owner, std::string_view prompt, std::string& path) {
    FolderPath = path;
    SetWindowTextA(
        Panel1, prompt.empty() ? windowlogic::kDefaultBrowserPrompt : std::string(prompt).c_str());
    const int result = RunModal(owner) == 1 ? 1 : 2;
    if (result == 1) {
        path = FolderPath;
    }
    return result;
}

void TTfrmFolderBrowse::Layout() {
    if (TreeView1 == nullptr) {
        return;
    }
    const SIZE client = ClientSize96();
    const int w = client.cx;
    const int buttons = client.cy - 54;  // Panel2, the button row
    // Panel1, 65 high: the prompt, left-justified, one line near its middle.
    Place(Panel1, 8, 12, w - 16, 45);
    Place(TreeView1, 13, 65, w - 26, buttons - 65);
    Place(bbtnRefresh, 16, buttons + 16, 27, 25);
    Place(bbtnNewFolder, 48, buttons + 16, 121, 25);
    // Panel5, 244 wide at the right, holds the two closing buttons.
    const int panel5 = w - 244;
    Place(bbtnSave, panel5 + 88, buttons + 16, 70, 25);
    Place(BitBtn2, panel5 + 163, buttons + 16, 70, 25);
    InvalidateRect(Handle(), nullptr, TRUE);
}

HTREEITEM TTfrmFolderBrowse::Selected() const {
    return TreeView_GetSelection(TreeView1);
}

template <typename Answer>
void TTfrmFolderBrowse::Ask(std::function<Answer()> question, std::function<void(Answer)> answer) {
    AskInBackground([mailbox = mailbox_, window = Handle(), question = std::move(question),
                     answer = std::move(answer)] {
        auto answered = std::make_shared<Answer>(question());
        {
            std::lock_guard lock(mailbox->mutex);
            mailbox->answers.push_back([answer, answered] { answer(std::move(*answered)); });
        }
        PostMessageA(window, kAnswer, 0, 0);
    });
}

void TTfrmFolderBrowse::RunAnswers() {
    std::vector<std::function<void()>> answers;
    {
        std::lock_guard lock(mailbox_->mutex);
        answers.swap(mailbox_->answers);
    }
    for (const auto& answer : answers) {
        answer();
    }
}

HTREEITEM TTfrmFolderBrowse::InsertNode(HTREEITEM parent, const std::string& text, int image) {
    return Insert(TreeView1, parent, text, image, nextId_++);
}

HTREEITEM TTfrmFolderBrowse::NodeById(LPARAM id) const {
    return id == 0 ? nullptr : FindId(TreeView1, TreeView_GetRoot(TreeView1), id);
}

LPARAM TTfrmFolderBrowse::IdOf(HTREEITEM node) const {
    TVITEMA item{};
    item.mask = TVIF_PARAM;
    item.hItem = node;
    return node != nullptr &&
                   SendMessageA(TreeView1, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))
               ? item.lParam
               : 0;
}

void TTfrmFolderBrowse::FillDrives() {
    const std::uint64_t generation = ++generation_;
    TreeView_DeleteAllItems(TreeView1);
    listing_.clear();
    road_ = {};
    roadAt_ = roadWaitsFor_ = 0;
    drivesListed_ = false;
    TreeView1Change();
    // Even the drive level may wait: the system asks each removable drive for a medium.
    Ask<std::vector<std::string>>(
        [] { return platform::LogicalDriveRoots(); },
        [this, generation](std::vector<std::string> roots) {
            if (generation != generation_) {
                return;  // for a tree rebuilt since
            }
            for (const std::string& root : roots) {
                const HTREEITEM node =
                    InsertNode(TVI_ROOT, windowlogic::DriveNodeText(root), kImageTypeNotRead);
                AddPlaceholder(TreeView1, node);
                const LPARAM id = IdOf(node);
                Ask<int>([root] { return windowlogic::DriveImage(root); },
                         [this, generation, id](int image) {
                             const HTREEITEM drive = NodeById(id);
                             if (generation == generation_ && drive != nullptr) {
                                 SetImage(TreeView1, drive, image);
                             }
                         });
            }
            drivesListed_ = true;
            StepRoad(false);
        });
}

void TTfrmFolderBrowse::ListInBackground(HTREEITEM node) {
    const LPARAM id = IdOf(node);
    if (!listing_.insert(id).second) {
        return;
    }
    // Dimmed while its folders are being listed; it keeps its placeholder until they come.
    TreeView_SetItemState(TreeView1, node, TVIS_CUT, TVIS_CUT);
    const std::uint64_t generation = generation_;
    const std::string path = NodePath(node);
    const bool driveRoot = TreeView_GetParent(TreeView1, node) == nullptr;
    using Listing = std::optional<std::vector<windowlogic::Subfolder>>;
    Ask<Listing>([path, driveRoot] { return windowlogic::ListSubfolders(path, driveRoot); },
                 [this, generation, id](Listing subfolders) {
                     if (generation == generation_) {
                         Listed(id, subfolders);
                     }
                 });
}

void TTfrmFolderBrowse::Listed(
    LPARAM id, const std::optional<std::vector<windowlogic::Subfolder>>& subfolders) {
    listing_.erase(id);
    const HTREEITEM node = NodeById(id);
    if (node == nullptr) {
        return;
    }
    TreeView_SetItemState(TreeView1, node, 0, TVIS_CUT);
    const HTREEITEM placeholder = TreeView_GetChild(TreeView1, node);
    const bool refused =
        !subfolders || placeholder == nullptr || !IsPlaceholder(TreeView1, placeholder);
    if (!refused) {
        SendMessageA(TreeView1, WM_SETREDRAW, FALSE, 0);
        for (const windowlogic::Subfolder& subfolder : *subfolders) {
            const HTREEITEM child =
                InsertNode(node, subfolder.name, windowlogic::kImageClosedFolder);
            if (subfolder.hasSubfolders) {
                AddPlaceholder(TreeView1, child);
            }
        }
        // Listed: the placeholder goes, also when no subfolder was found, so an empty folder
        // shows no expander and no stray ">" child.
        TreeView_DeleteItem(TreeView1, placeholder);
        TreeView_SortChildren(TreeView1, node, FALSE);
        SendMessageA(TreeView1, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(TreeView1, nullptr, TRUE);
        Open(node);
    }
    if (roadWaitsFor_ == id) {
        roadWaitsFor_ = 0;
        StepRoad(refused);
    }
}

std::string TTfrmFolderBrowse::NodePath(HTREEITEM node) const {
    std::vector<std::string> texts;
    for (HTREEITEM step = node; step != nullptr; step = TreeView_GetParent(TreeView1, step)) {
        if (!IsPlaceholder(TreeView1, step)) {
            texts.insert(texts.begin(), TreeNodeText(TreeView1, step));
        }
    }
    return windowlogic::NodePath(texts);
}

bool TTfrmFolderBrowse::Open(HTREEITEM node) {
    const HTREEITEM first = TreeView_GetChild(TreeView1, node);
    if (first != nullptr && IsPlaceholder(TreeView1, first)) {
        ListInBackground(node);
        return false;
    }
    // Expanded here rather than left to the expand notification, which the control sends only
    // for a node's first expansion.
    if (first != nullptr) {
        TreeView_Expand(TreeView1, node, TVE_EXPAND);
        TreeView1Expanded(node, true);
    }
    return true;
}

void TTfrmFolderBrowse::Collapse(HTREEITEM node) {
    TreeView_Expand(TreeView1, node, TVE_COLLAPSE);
    TreeView1Expanded(node, false);
}

void TTfrmFolderBrowse::StartRoad(const std::string& path, bool openLast) {
    road_ = windowlogic::FolderRoad(path, openLast);
    roadAt_ = roadWaitsFor_ = 0;
    if (drivesListed_) {
        StepRoad(false);
    }
}

void TTfrmFolderBrowse::StepRoad(bool refused) {
    HTREEITEM at = NodeById(roadAt_);
    if (roadAt_ != 0 && at == nullptr) {
        road_ = {};  // the node reached is gone
        return;
    }
    using Kind = windowlogic::FolderRoad::Step::Kind;
    windowlogic::FolderRoad::Step step =
        refused ? road_.Refused() : windowlogic::FolderRoad::Step{};
    while (!refused && road_.Next() != nullptr) {
        const HTREEITEM found = FindChild(TreeView1, at, *road_.Next());
        step = road_.Found(found != nullptr);
        if (found != nullptr) {
            at = found;
            roadAt_ = IdOf(found);
        }
        if (step.kind == Kind::kEnd) {
            break;
        }
        if (!Open(at)) {
            roadWaitsFor_ = roadAt_;
            return;  // on when its listing comes
        }
    }
    if (step.kind == Kind::kEnd && step.select && at != nullptr) {
        roadSelects_ = true;
        TreeView_SelectItem(TreeView1, at);
        roadSelects_ = false;
        TreeView_EnsureVisible(TreeView1, at);
        if (step.open) {
            Open(at);
        }
    }
}

void TTfrmFolderBrowse::Shown() {
    renameFailure_.clear();
    renaming_ = false;
    closeAfterRename_ = 0;
    FillDrives();
    if (FolderPath.size() >= 2) {
        StartRoad(FolderPath, true);
    }
    SetFocus(TreeView1);
}

bool TTfrmFolderBrowse::CanClose(int result) {
    // A label still open in its editor is confirmed first, so that Save returns the folder under
    // the name it has on disk.
    if (TreeView_GetEditControl(TreeView1) != nullptr) {
        TreeView_EndEditLabelNow(TreeView1, FALSE);
    }
    // Save waits for a rename still asked; Close does not (the volume may not answer).
    if (result == 1 && renaming_) {
        closeAfterRename_ = result;
        return false;
    }
    closeAfterRename_ = 0;
    ShowRenameFailure();
    FolderPath = result == 1 ? NodePath(Selected()) : std::string();
    return true;
}

bool TTfrmFolderBrowse::BypassesDialogKeys(const MSG& message) const {
    // Enter and Escape belong to an open label editor, not to Save and Close.
    if (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST &&
        TreeView_GetEditControl(TreeView1) != nullptr) {
        return true;
    }
    // A letter typed in the tree finds a node by its text: it is no accelerator of a button.
    return message.hwnd == TreeView1 && message.message == WM_CHAR && message.wParam != '\r' &&
           message.wParam != '\t' && message.wParam != 0x1b;
}

bool TTfrmFolderBrowse::Intercepted(const MSG& message) {
    // F2 edits the selected node's label, as in the system's file explorer.
    if (message.hwnd == TreeView1 && message.message == WM_KEYDOWN && message.wParam == VK_F2 &&
        Selected() != nullptr) {
        TreeView_EditLabel(TreeView1, Selected());
        return true;
    }
    return false;
}

bool TTfrmFolderBrowse::TreeView1Expanding(HTREEITEM node) {
    const HTREEITEM first = TreeView_GetChild(TreeView1, node);
    if (first != nullptr && IsPlaceholder(TreeView1, first)) {
        ListInBackground(node);
        return false;  // the node opens when its folders come
    }
    return true;
}

void TTfrmFolderBrowse::TreeView1Expanded(HTREEITEM node, bool expanded) {
    // Drive nodes keep their drive's image.
    if (TreeView_GetParent(TreeView1, node) != nullptr) {
        SetImage(TreeView1, node,
                 expanded ? windowlogic::kImageOpenFolder : windowlogic::kImageClosedFolder);
    }
}

void TTfrmFolderBrowse::TreeView1Change() {
    // Save waits for the answer whether the selected folder still exists.
    EnableWindow(bbtnSave, FALSE);
    const std::uint64_t selection = ++selections_;
    if (!roadSelects_) {
        // A folder the user chose: a walk still under way must not take it away.
        road_ = {};
        roadWaitsFor_ = 0;
    }
    const HTREEITEM node = Selected();
    if (node == nullptr) {
        return;
    }
    Ask<bool>([path = NodePath(node)] { return windowlogic::MayReturn(path); },
              [this, selection](bool mayReturn) {
                  if (selection == selections_) {
                      EnableWindow(bbtnSave, mayReturn ? TRUE : FALSE);
                  }
              });
}

bool TTfrmFolderBrowse::TreeView1Editing(HTREEITEM node) const {
    return !renaming_ && node != nullptr && TreeView_GetParent(TreeView1, node) != nullptr &&
           !IsPlaceholder(TreeView1, node);
}

void TTfrmFolderBrowse::TreeView1Edited(HTREEITEM node, const std::string& label) {
    const HTREEITEM parent = node != nullptr ? TreeView_GetParent(TreeView1, node) : nullptr;
    if (parent == nullptr) {
        return;
    }
    // The node keeps its text until the rename has been answered.
    renaming_ = true;
    const std::uint64_t generation = generation_;
    Ask<windowlogic::RenameResult>(
        [parentPath = NodePath(parent), oldName = TreeNodeText(TreeView1, node), label] {
            return windowlogic::RenameFolder(parentPath, oldName, label);
        },
        [this, generation, id = IdOf(node), label](windowlogic::RenameResult renamed) {
            if (generation == generation_) {
                Renamed(id, label, renamed);
            }
        });
}

void TTfrmFolderBrowse::Renamed(LPARAM id, const std::string& label,
                                const windowlogic::RenameResult& renamed) {
    renaming_ = false;
    const HTREEITEM node = NodeById(id);
    if (node != nullptr && renamed.kind == windowlogic::RenameResult::Kind::kRenamed) {
        TVITEMA item{};
        item.mask = TVIF_TEXT;
        item.hItem = node;
        item.pszText = const_cast<char*>(label.c_str());
        SendMessageA(TreeView1, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        TreeView_SortChildren(TreeView1, TreeView_GetParent(TreeView1, node), FALSE);
        TreeView_EnsureVisible(TreeView1, node);
        TreeView1Change();  // a longer name may no longer fit the callers' buffers
    } else if (renamed.kind == windowlogic::RenameResult::Kind::kRefused &&
               IsWindowVisible(Handle())) {
        renameFailure_ = windowlogic::RenameFailedText(renamed.newPath);
        PostMessageA(Handle(), kShowRenameFailure, 0, 0);
    }
    if (const int result = std::exchange(closeAfterRename_, 0); result != 0) {
        EndModal(result);
    }
}

void TTfrmFolderBrowse::ShowRenameFailure() {
    if (renameFailure_.empty()) {
        return;
    }
    const std::string text = std::move(renameFailure_);
    renameFailure_.clear();
    MessageBoxA(Handle(), text.c_str(), windowlogic::kRenameFailedCaption, MB_OK | MB_ICONHAND);
}

bool TTfrmFolderBrowse::TreeView1ContextPopup() {
    POINT cursor{};
    GetCursorPos(&cursor);
    TVHITTESTINFO hit{};
    hit.pt = cursor;
    ScreenToClient(TreeView1, &hit.pt);
    const HTREEITEM node = TreeView_HitTest(TreeView1, &hit);
    if (node == nullptr || (hit.flags & TVHT_ONITEM) == 0) {
        return false;
    }
    TreeView_SelectItem(TreeView1, node);
    const int command = TrackPopupMenu(PopupMenu1, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x,
                                       cursor.y, 0, Handle(), nullptr);
    if (command == kExplore1) {
        Explore1Click();
    } else if (command == kRefresh1) {
        Refresh1Click();
    }
    return true;
}

void TTfrmFolderBrowse::bbtnNewFolderClick() {
    const HTREEITEM node = Selected();
    if (node == nullptr) {
        return;
    }
    const std::uint64_t generation = generation_;
    Ask<windowlogic::NewFolderResult>(
        [path = NodePath(node)] { return windowlogic::MakeNewFolder(path); },
        [this, generation, id = IdOf(node)](windowlogic::NewFolderResult newFolder) {
            const HTREEITEM parent = NodeById(id);
            if (generation != generation_ || parent == nullptr) {
                return;
            }
            if (!newFolder.made) {
                MessageBoxA(Handle(), newFolder.path.c_str(), windowlogic::kNewFolderFailedCaption,
                            MB_OK | MB_ICONHAND);
                SetFocus(TreeView1);
                return;
            }
            // The node is listed anew so the new folder takes its sorted place among the others.
            Collapse(parent);
            while (const HTREEITEM child = TreeView_GetChild(TreeView1, parent)) {
                TreeView_DeleteItem(TreeView1, child);
            }
            listing_.erase(id);
            AddPlaceholder(TreeView1, parent);
            StartRoad(newFolder.path, true);
            SetFocus(TreeView1);  // where F2 renames the new folder
        });
}

void TTfrmFolderBrowse::bbtnRefreshClick() {
    const HTREEITEM node = Selected();
    if (node == nullptr) {
        return;
    }
    const bool expanded = IsExpanded(TreeView1, node);
    const std::string path = NodePath(node);
    FillDrives();
    if (path.size() >= 2) {
        StartRoad(path, expanded);
    }
    SetFocus(TreeView1);
}

void TTfrmFolderBrowse::Refresh1Click() {
    bbtnRefreshClick();
}

void TTfrmFolderBrowse::Explore1Click() {
    const HTREEITEM node = Selected();
    if (node == nullptr) {
        return;
    }
    const auto argument = windowlogic::ExplorerArgument(NodePath(node));
    char windows[MAX_PATH] = {};
    if (!argument || GetWindowsDirectoryA(windows, sizeof windows) == 0) {
        return;
    }
    // A failure shows nothing.
    ShellExecuteA(nullptr, "open", "explorer.exe", argument->c_str(), windows, SW_SHOWNORMAL);
}

LRESULT TTfrmFolderBrowse::TreeView1Notify(NMHDR* header) {
    switch (header->code) {
        case TVN_ITEMEXPANDINGA:
        case TVN_ITEMEXPANDINGW: {
            const auto* view = reinterpret_cast<const NMTREEVIEWA*>(header);
            if ((view->action & (TVE_EXPAND | TVE_COLLAPSE)) != TVE_EXPAND) {
                return FALSE;
            }
            return TreeView1Expanding(view->itemNew.hItem) ? FALSE : TRUE;
        }
        case TVN_ITEMEXPANDEDA:
        case TVN_ITEMEXPANDEDW: {
            const auto* view = reinterpret_cast<const NMTREEVIEWA*>(header);
            TreeView1Expanded(view->itemNew.hItem, IsExpanded(TreeView1, view->itemNew.hItem));
            return 0;
        }
        case TVN_SELCHANGEDA:
        case TVN_SELCHANGEDW:
            TreeView1Change();
            return 0;
        case TVN_BEGINLABELEDITA: {
            const auto* edit = reinterpret_cast<const NMTVDISPINFOA*>(header);
            return TreeView1Editing(edit->item.hItem) ? FALSE : TRUE;
        }
        case TVN_ENDLABELEDITA: {
            const auto* edit = reinterpret_cast<const NMTVDISPINFOA*>(header);
            if (edit->item.pszText != nullptr) {  // null: the edit was cancelled
                TreeView1Edited(edit->item.hItem, edit->item.pszText);
            }
            return FALSE;  // the node's text is set by the rename, never by the control
        }
        case NM_RCLICK:
            return TreeView1ContextPopup() ? TRUE : FALSE;
        default:
            return 0;
    }
}

LRESULT TTfrmFolderBrowse::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            if (header->hwndFrom == TreeView1) {
                return TreeView1Notify(header);
            }
            break;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case kbbtnSave:
                case IDOK:
                    if (IsWindowEnabled(bbtnSave)) {
                        EndModal(1);
                    }
                    return 0;
                case kBitBtn2:
                case IDCANCEL:
                    EndModal(2);
                    return 0;
                case kbbtnRefresh:
                    bbtnRefreshClick();
                    return 0;
                case kbbtnNewFolder:
                    bbtnNewFolderClick();
                    return 0;
                default:
                    break;
            }
            break;
        case WM_CONTEXTMENU:
            // A request from the keyboard carries no point on a node: no menu.
            return 0;
        case kShowRenameFailure:
            ShowRenameFailure();
            return 0;
        case kAnswer:
            RunAnswers();
            return 0;
        case WM_DPICHANGED: {
            const LRESULT result = ModalWindow::OnMessage(message, wParam, lParam);
            UsePictures();
            return result;
        }
        default:
            break;
    }
    return ModalWindow::OnMessage(message, wParam, lParam);
}

TTfrmFolderBrowse& FolderBrowser(HINSTANCE instance) {
    // Never destroyed: the window lives as long as the program.
    static TTfrmFolderBrowse* const browser = new TTfrmFolderBrowse(instance);
    return *browser;
}

}  // namespace tarnwick::winui
