// The main window's folder lists: their details lines, their six commands, dropped folders and
// the lists' keys and context menu.
#include "winui/Unit1.h"

#include <exception>

#include "engine/queries.h"
#include "settings/settings_file.h"
#include "windowlogic/list_commands.h"
#include "winui/Background.h"
#include "winui/Messages.h"

#include <shellapi.h>
#include <windowsx.h>

namespace tarnwick::winui {

namespace {

// The row of the selected item; -1 when nothing is selected.
int SelectedRow(HWND list) {
    const auto row = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
    return row == LB_ERR ? -1 : row;
}

int NumberAt(HWND list, int row) {
    return static_cast<int>(SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(row), 0));
}

std::string PathAt(HWND list, int row) {
    const auto length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length == LB_ERR) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Selects a row (a row outside the list selects nothing). A selection made by the program sends
// no notification: the commands run the selection handlers themselves, in their order.
void Select(HWND list, int row) {
    const auto count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    SendMessageA(list, LB_SETCURSEL, row >= 0 && row < count ? static_cast<WPARAM>(row)
                                                             : static_cast<WPARAM>(-1),
                 0);
}

windowlogic::ListItems ItemsOf(HWND list) {
    windowlogic::ListItems items;
    const auto count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        items.push_back({NumberAt(list, row), PathAt(list, row)});
    }
    return items;
}

void Fill(HWND list, const windowlogic::ListItems& items) {
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const auto& [number, path] : items) {
        const auto row = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
        SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(row), number);
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

}  // namespace

// Runs a list command. An error it raises (the settings file could not be written) ends the
// command where it happened and is shown as the standard error display shows it.
template <typename Command>
void TForm1::RunCommand(Command&& command) {
    try {
        command();
    } catch (const std::exception& error) {
        MessageBoxA(window_, error.what(), "Tarnwick", MB_OK | MB_ICONERROR);
    }
}

// --- Folder lists and their commands -----------------------------------------------------------

// The lists and their details lines as the shared list commands see them.
class TForm1::FormLists final : public windowlogic::ListsView {
public:
    explicit FormLists(TForm1& form) : form_(form) {}

    int SelectedRow(windowlogic::List list) const override {
        return winui::SelectedRow(Of(list));
    }
    windowlogic::ListItems Items(windowlogic::List list) const override { return ItemsOf(Of(list)); }
    void Select(windowlogic::List list, int row) override { winui::Select(Of(list), row); }
    void Fill(windowlogic::List list, const windowlogic::ListItems& items) override {
        winui::Fill(Of(list), items);
    }
    void BlankDetails(windowlogic::List list) override {
        const bool source = list == windowlogic::List::kSources;
        for (HWND label : {source ? form_.lblLabel1 : form_.lblLabel2,
                           source ? form_.lblSerial1 : form_.lblSerial2,
                           source ? form_.lblType1 : form_.lblType2}) {
            SetWindowTextA(label, " ");
        }
        // An answer still on its way is for a line no longer shown.
        ++form_.detailsAsked_[source ? 0 : 1];
    }
    void ShowFolderDetails(windowlogic::List list, const std::string& path) override {
        form_.ShowFolderDetails(path, list == windowlogic::List::kSources ? 0 : 1);
    }
    void ShowComputer() override {
        if (const auto computer = ComputerName()) {
            SetWindowTextA(form_.lblComputer, computer->c_str());
            form_.FormResize();
        }
    }
    void ShowCommands(const windowlogic::ListCommands& commands) override {
        EnableWindow(form_.bbtnChange1, commands.changeSource);
        EnableWindow(form_.bbtnDel1, commands.deleteSource);
        EnableWindow(form_.bbtnNew2, commands.newDestination);
        EnableWindow(form_.bbtnChange2, commands.changeDestination);
        EnableWindow(form_.bbtnDel2, commands.deleteDestination);
        form_.destinationDrops_ = commands.destinationDrops;
        DragAcceptFiles(form_.ListBox2, commands.destinationDrops);
    }
    void ResetCount() override { SetWindowTextA(form_.lblCount, "0"); }

private:
    HWND Of(windowlogic::List list) const {
        return list == windowlogic::List::kSources ? form_.ListBox1 : form_.ListBox2;
    }

    TForm1& form_;
};

void TForm1::LoadSourceList() {
    FormLists lists(*this);
    windowlogic::LoadSourceList(lists);
}

void TForm1::LoadDestinationList(int group) {
    FormLists lists(*this);
    windowlogic::LoadDestinationList(lists, group);
}

// The volume is asked on a thread of its own (it may have stopped answering): the line fills in
// when the answer comes, unless another path was asked for the same line meanwhile.
void TForm1::ShowFolderDetails(const std::string& path, int line) {
    auto details = std::make_shared<Details>();
    details->line = line;
    details->question = ++detailsAsked_[line];
    HWND window = postTo_;
    AskInBackground([window, driveText = path.substr(0, 2), details] {
        details->drive = windowlogic::DriveDetailsOf(driveText);
        auto* posted = new Details(std::move(*details));
        if (!PostMessageA(window, kDetailsAnswered, 0, reinterpret_cast<LPARAM>(posted))) {
            delete posted;
        }
    });
}

void TForm1::DetailsAnswered(const Details& details) {
    if (detailsAsked_[details.line] != details.question) {
        return;
    }
    const bool source = details.line == 0;
    SetWindowTextA(source ? lblType1 : lblType2, details.drive.description.c_str());
    SetWindowTextA(source ? lblLabel1 : lblLabel2, details.drive.label.c_str());
    SetWindowTextA(source ? lblSerial1 : lblSerial2, std::to_string(details.drive.serial).c_str());
    PlaceDetails(details.line);
}

void TForm1::ListBox1Click() {
    FormLists lists(*this);
    windowlogic::SourceSelectionChanged(lists);
}

void TForm1::ListBox2Click() {
    FormLists lists(*this);
    windowlogic::DestinationSelectionChanged(lists);
}

void TForm1::UpdateListButtons() {
    FormLists lists(*this);
    windowlogic::UpdateListButtons(lists);
}

bool TForm1::AddSourceFolder(const std::optional<std::string>& dropped) {
    FormLists lists(*this);
    return folderDialog_ != nullptr &&
           windowlogic::AddSourceFolder(lists, *folderDialog_, dropped);
}

bool TForm1::AddDestinationFolder(const std::optional<std::string>& dropped) {
    FormLists lists(*this);
    return folderDialog_ != nullptr &&
           windowlogic::AddDestinationFolder(lists, *folderDialog_, dropped);
}

void TForm1::bbtnNew1Click() {
    RunCommand([this] { AddSourceFolder(std::nullopt); });
}

void TForm1::bbtnNew2Click() {
    RunCommand([this] { AddDestinationFolder(std::nullopt); });
}

void TForm1::bbtnChange1Click() {
    const int source = winui::SelectedRow(ListBox1);
    if (source >= 0 && folderDialog_ != nullptr) {
        ChangeFolder(NumberAt(ListBox1, source), 1);
    }
}

// The stored folder is read off this thread, since finding its drive again asks the volumes.
void TForm1::ChangeFolder(int group, int entry) {
    auto answer = std::make_shared<ChangeRead>();
    answer->question = ++changeAsked_;
    answer->group = group;
    answer->entry = entry;
    HWND window = postTo_;
    AskInBackground([window, answer] {
        try {
            answer->start = windowlogic::ReadForChange(answer->group, answer->entry);
        } catch (const std::exception&) {
            answer->start = std::nullopt;
        }
        auto* posted = new ChangeRead(std::move(*answer));
        if (!PostMessageA(window, kChangeRead, 0, reinterpret_cast<LPARAM>(posted))) {
            delete posted;
        }
    });
}

void TForm1::ChangeAnswered(ChangeRead& answer) {
    // The dialog opens only in a window still open, never over another dialog (which disables
    // this window), and for the folder still selected (FinishSelectedChange).
    if (!answer.start || answer.question != changeAsked_ || closing_ ||
        !IsWindowEnabled(window_) || folderDialog_ == nullptr) {
        return;
    }
    RunCommand([&] {
        FormLists lists(*this);
        windowlogic::FinishSelectedChange(lists, *folderDialog_, answer.group, answer.entry,
                                          std::move(*answer.start));
    });
}

void TForm1::bbtnDel1Click() {
    RunCommand([this] {
        FormLists lists(*this);
        windowlogic::DeleteSelectedSource(lists);
    });
}

void TForm1::bbtnChange2Click() {
    const int source = winui::SelectedRow(ListBox1);
    const int destination = winui::SelectedRow(ListBox2);
    if (source >= 0 && destination >= 0 && folderDialog_ != nullptr) {
        ChangeFolder(NumberAt(ListBox1, source), NumberAt(ListBox2, destination));
    }
}

void TForm1::bbtnDel2Click() {
    RunCommand([this] {
        FormLists lists(*this);
        windowlogic::DeleteSelectedDestination(lists);
    });
}

// --- Dropped folders, keys and the context menu ------------------------------------------------

LRESULT CALLBACK TForm1::ListProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(list, GWLP_USERDATA));
    WNDPROC previous = list == form->ListBox1 ? form->listProcedure1_ : form->listProcedure2_;
    if (message == WM_DROPFILES) {
        form->FolderDropped(list, reinterpret_cast<HDROP>(wParam));
        return 0;
    }
    return CallWindowProcA(previous, list, message, wParam, lParam);
}

void TForm1::FolderDropped(HWND list, HDROP drop) {
    std::vector<std::string> items;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::string name(DragQueryFileA(drop, i, nullptr, 0) + 1, '\0');
        name.resize(DragQueryFileA(drop, i, name.data(), static_cast<UINT>(name.size())));
        items.push_back(std::move(name));
    }
    DragFinish(drop);
    // The destination list takes drops only while a source is selected.
    if (list == ListBox2 && !destinationDrops_) {
        return;
    }
    const windowlogic::DropAnswer answer = windowlogic::DroppedFolder(items);
    if (answer.kind == windowlogic::DropAnswer::Kind::kTooMany) {
        MessageBoxA(window_, windowlogic::kTooManyDropped, windowlogic::kDropCaption, MB_OK);
        return;
    }
    if (answer.kind != windowlogic::DropAnswer::Kind::kFolder) {
        return;
    }
    const std::optional<std::string> folder = answer.folder;
    RunCommand([this, list, &folder] {
        if (list == ListBox1) {
            AddSourceFolder(folder);
        } else {
            AddDestinationFolder(folder);
        }
    });
}

bool TForm1::ListKey(HWND list, WPARAM key) {
    if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0 || GetKeyState(VK_SHIFT) < 0) {
        return false;
    }
    const bool source = list == ListBox1;
    HWND button = nullptr;
    switch (key) {
        case VK_INSERT:
            button = source ? bbtnNew1 : bbtnNew2;
            break;
        case VK_RETURN:
            button = source ? bbtnChange1 : bbtnChange2;
            break;
        case VK_DELETE:
            button = source ? bbtnDel1 : bbtnDel2;
            break;
        default:
            return false;
    }
    // A disabled button does nothing, and neither does its key.
    if (IsWindowEnabled(button)) {
        SendMessageA(window_, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
    return true;
}

void TForm1::ListContextMenu(HWND list, LPARAM where) {
    POINT at{GET_X_LPARAM(where), GET_Y_LPARAM(where)};
    if (at.x == -1 && at.y == -1) {
        // From the keyboard: at the selected item, or the list's corner.
        RECT item{};
        const int row = SelectedRow(list);
        if (row < 0 || SendMessageA(list, LB_GETITEMRECT, static_cast<WPARAM>(row),
                                    reinterpret_cast<LPARAM>(&item)) == LB_ERR) {
            item = {};
        }
        at = {item.left + 4, item.bottom};
        ClientToScreen(list, &at);
    } else {
        // A right click selects the item under it first, as a left click would.
        POINT inList = at;
        ScreenToClient(list, &inList);
        const auto hit = static_cast<DWORD>(SendMessageA(list, LB_ITEMFROMPOINT, 0,
                                                         MAKELPARAM(inList.x, inList.y)));
        if (HIWORD(hit) == 0 && static_cast<int>(LOWORD(hit)) != SelectedRow(list)) {
            Select(list, LOWORD(hit));
            list == ListBox1 ? ListBox1Click() : ListBox2Click();
        }
    }
    const bool source = list == ListBox1;
    HWND buttons[] = {source ? bbtnNew1 : bbtnNew2, source ? bbtnChange1 : bbtnChange2,
                      source ? bbtnDel1 : bbtnDel2};
    const char* captions[] = {"&New...\tIns", "&Change...\tEnter", "&Delete\tDel"};
    HMENU menu = CreatePopupMenu();
    for (int i = 0; i < 3; ++i) {
        AppendMenuA(menu, MF_STRING | (IsWindowEnabled(buttons[i]) ? 0u : MF_GRAYED),
                    static_cast<UINT_PTR>(GetDlgCtrlID(buttons[i])), captions[i]);
    }
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0,
                                      window_, nullptr);
    DestroyMenu(menu);
    if (chosen != 0) {
        SendMessageA(window_, WM_COMMAND, MAKEWPARAM(chosen, BN_CLICKED), 0);
    }
}

}  // namespace tarnwick::winui
