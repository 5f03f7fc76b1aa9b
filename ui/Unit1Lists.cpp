// The main window's folder lists: their details lines, their six commands and dropped folders.
#include "ui/Unit1.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMimeData>
#include <QSignalBlocker>
#include <QToolButton>
#include <QUrl>
#include <exception>

#include "engine/queries.h"
#include "platform/volumes/drives.h"
#include "settings/folder_groups.h"
#include "settings/settings_file.h"
#include "ui/Ffolder.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Forms.h"
#include "ui/Shell.h"
#include "ui/Text.h"

namespace tarnwick::ui {

namespace {

// The group number of a source item, the entry number of a destination item.
constexpr int kNumberRole = Qt::UserRole;

// Longest folder path that a dropped item may hand to the folder dialog.
constexpr std::size_t kMaxDroppedPath = kMaxDialogPathLength;

// The row of the selected item; -1 when nothing is selected (an item that is only current, as
// after the list got the keyboard focus, is not selected).
int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

int NumberAt(const QListWidget* list, int row) {
    return list->item(row)->data(kNumberRole).toInt();
}

std::string PathAt(const QListWidget* list, int row) {
    return FromQt(list->item(row)->text());
}

// Selects a row without running the selection handlers (the commands run them themselves, in
// their order); a row outside the list selects nothing.
void Select(QListWidget* list, int row) {
    const QSignalBlocker quiet(list);
    if (row >= 0 && row < list->count()) {
        list->setCurrentRow(row);
    } else {
        list->clearSelection();
        list->setCurrentRow(-1);
    }
}

// Empties a list without running its selection handler.
void Clear(QListWidget* list) {
    const QSignalBlocker quiet(list);
    list->clear();
}

void AppendItem(QListWidget* list, int number, const std::string& path) {
    auto* item = new QListWidgetItem(ToQt(path), list);
    item->setData(kNumberRole, number);
}

// The first row whose text equals the path without regard to case; -1 when there is none.
int FindPath(const QListWidget* list, const std::string& path) {
    const QString wanted = ToQt(path);
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->text().compare(wanted, Qt::CaseInsensitive) == 0) {
            return row;
        }
    }
    return -1;
}

void BlankDetails(std::initializer_list<QLabel*> labels) {
    for (QLabel* label : labels) {
        label->setText(QStringLiteral(" "));
    }
}

// The folder the folder dialog has just saved: its path and flags with the drive type and the
// serial text that the dialog read for that path.
FolderEntry SavedFolder(const std::string& path, bool merge, bool subfolders) {
    return {path, frmFolder->DriveType, FromQt(frmFolder->lblSerial->text()), merge, subfolders};
}

// Runs a list command. An error it raises (the settings file could not be written) ends the
// command where it happened and is shown by the standard error display; it is caught here rather
// than in the application object so that it never unwinds through the toolkit's click handling.
template <typename Command>
void RunCommand(Command&& command) {
    try {
        command();
    } catch (const std::exception& error) {
        ShowErrorMessage(ToQt(error.what()));
    }
}

// The native path of a file:// URL of this computer, byte for byte; empty for any other URL.
std::string LocalPathOfUrl(const QUrl& url) {
    if (!url.isLocalFile() ||
        !(url.host().isEmpty() || url.host() == QStringLiteral("localhost"))) {
        return {};
    }
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

// The items of a drop: file managers offer file:// URLs (text/uri-list) or native paths, one a
// line (text/plain).
std::vector<std::string> DroppedItems(const QMimeData& data) {
    std::vector<std::string> items;
    if (data.hasUrls()) {
        for (const QUrl& url : data.urls()) {
            items.push_back(LocalPathOfUrl(url));
        }
    } else if (data.hasText()) {
        for (QString line : data.text().split('\n', Qt::SkipEmptyParts)) {
            if (line.endsWith('\r')) {
                line.chop(1);
            }
            if (line.isEmpty()) {
                continue;
            }
            items.push_back(line.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)
                                ? LocalPathOfUrl(QUrl(line))
                                : FromQt(line));
        }
    }
    return items;
}

}  // namespace

// Stands in for the lists' replaced window procedures: takes the drag and drop events of a
// list's viewport (where Qt delivers them) and hands every other event on unchanged.
class FolderDropFilter : public QObject {
public:
    FolderDropFilter(TForm1* form, QListWidget* list) : QObject(form), form_(form), list_(list) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDropEvent*>(event);
                if (Accepting() && drag->mimeData() != nullptr &&
                    !DroppedItems(*drag->mimeData()).empty()) {
                    drag->setDropAction(Qt::CopyAction);
                    drag->accept();
                } else {
                    drag->ignore();
                }
                return true;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                if (!Accepting() || drop->mimeData() == nullptr) {
                    drop->ignore();
                    return true;
                }
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                // The drop ends first: the file manager waits for its answer, and the dialog or the
                // message that follows would keep it waiting for as long as it is open.
                QMetaObject::invokeMethod(
                    form_,
                    [form = form_, list = list_, items = DroppedItems(*drop->mimeData())] {
                        form->FolderDropped(list, items);
                    },
                    Qt::QueuedConnection);
                return true;
            }
            default:
                return QObject::eventFilter(watched, event);
        }
    }

private:
    bool Accepting() const { return list_->viewport()->acceptDrops(); }

    TForm1* form_;
    QListWidget* list_;
};

void TForm1::InstallFolderDrops() {
    // Dropped folders: the source list takes them from now on, the destination list only while
    // a source is selected (UpdateListButtons).
    dropFilter1_ = new FolderDropFilter(this, ListBox1);
    dropFilter2_ = new FolderDropFilter(this, ListBox2);
    ListBox1->viewport()->setAcceptDrops(true);
    ListBox2->viewport()->setAcceptDrops(false);
    ListBox1->viewport()->installEventFilter(dropFilter1_);
    ListBox2->viewport()->installEventFilter(dropFilter2_);
}

// --- Folder lists and their commands -----------------------------------------------------------

void TForm1::LoadSourceList() {
    BlankDetails({lblLabel1, lblSerial1, lblType1, lblLabel2, lblSerial2, lblType2});
    lblCount->setText(QStringLiteral("0"));
    if (const auto computer = ComputerName()) {
        lblComputer->setText(ToQt(*computer));
    }
    Clear(ListBox1);
    for (const auto& [group, path] : ListFolderGroups()) {
        AppendItem(ListBox1, group, path);
    }
}

void TForm1::LoadDestinationList(int group) {
    if (const auto computer = ComputerName()) {
        lblComputer->setText(ToQt(*computer));
    }
    Clear(ListBox2);
    for (const auto& [entry, path] : ListFolderEntries(group)) {
        AppendItem(ListBox2, entry, path);
    }
}

void TForm1::ShowFolderDetails(const std::string& path, QLabel* labelLabel, QLabel* serialLabel,
                               QLabel* typeLabel) {
    const std::string driveText = path.substr(0, 2);
    std::string description;
    GetDriveDescription(path.empty() ? '\0' : path[0], &description);
    typeLabel->setText(ToQt(description));
    // An unreadable volume leaves the drive text itself in the label.
    std::string label = driveText;
    const std::uint32_t serial = GetVolumeSerial(driveText, label);
    labelLabel->setText(ToQt(label));
    serialLabel->setText(QString::number(serial));
    // A larger desktop font can make the line longer than the window is wide: the window widens
    // rather than shorten the sentence.
    if (QLayout* lines = centralWidget()->layout()) {
        const int needed = lines->minimumSize().width() + width() - centralWidget()->width();
        if (isVisible() && needed > width()) {
            resize(needed, height());
        }
    }
}

void TForm1::ListBox1Click() {
    BlankDetails({lblLabel1, lblSerial1, lblType1, lblLabel2, lblSerial2, lblType2});
    Clear(ListBox2);
    const int source = SelectedRow(ListBox1);
    if (source < 0) {
        UpdateListButtons();
        return;
    }
    ShowFolderDetails(PathAt(ListBox1, source), lblLabel1, lblSerial1, lblType1);
    LoadDestinationList(NumberAt(ListBox1, source));
    if (ListBox2->count() > 0) {
        Select(ListBox2, 0);
    }
    ListBox2Click();
}

void TForm1::ListBox2Click() {
    BlankDetails({lblLabel2, lblSerial2, lblType2});
    const int destination = SelectedRow(ListBox2);
    if (destination >= 0) {
        ShowFolderDetails(PathAt(ListBox2, destination), lblLabel2, lblSerial2, lblType2);
    }
    UpdateListButtons();
}

void TForm1::UpdateListButtons() {
    const bool source = SelectedRow(ListBox1) >= 0;
    const bool destination = SelectedRow(ListBox2) >= 0;
    bbtnChange1->setEnabled(source);
    bbtnDel1->setEnabled(source);
    bbtnNew2->setEnabled(source);
    bbtnChange2->setEnabled(destination);
    bbtnDel2->setEnabled(destination);
    if (dropFilter2_ != nullptr) {
        ListBox2->viewport()->setAcceptDrops(source);
    }
}

bool TForm1::AddSourceFolder(const std::optional<std::string>& dropped) {
    std::string path = dropped.value_or(std::string());
    bool subfolders = true;
    if (frmFolder == nullptr ||
        frmFolder->ExecuteSource(QStringLiteral("Please choose a new Source Folder "), path,
                                 subfolders) != 1) {
        return false;
    }
    const int group = AddFolderGroup(SavedFolder(path, false, subfolders));
    LoadSourceList();
    if (group <= 0) {
        return false;
    }
    Select(ListBox1, FindPath(ListBox1, path));
    ListBox1Click();
    return true;
}

bool TForm1::AddDestinationFolder(const std::optional<std::string>& dropped) {
    const int source = SelectedRow(ListBox1);
    if (source < 0 || frmFolder == nullptr) {
        return false;
    }
    const int group = NumberAt(ListBox1, source);
    std::string path = dropped.value_or(std::string());
    bool merge = false;
    if (frmFolder->ExecuteDestination(QStringLiteral("Please choose a new Destination Folder"),
                                      path, merge) != 1) {
        return false;
    }
    if (AddFolderEntry(group, SavedFolder(path, merge, false)) <= 0) {
        return false;
    }
    ListBox1Click();
    const int added = FindPath(ListBox2, path);
    if (added < 0) {
        return false;
    }
    Select(ListBox2, added);
    ListBox2Click();
    return true;
}

void TForm1::bbtnNew1Click() {
    RunCommand([this] { AddSourceFolder(std::nullopt); });
}

void TForm1::bbtnNew2Click() {
    RunCommand([this] { AddDestinationFolder(std::nullopt); });
}

void TForm1::bbtnChange1Click() {
    RunCommand([this] {
        const int source = SelectedRow(ListBox1);
        if (source < 0 || frmFolder == nullptr) {
            return;
        }
        const int group = NumberAt(ListBox1, source);
        std::string path;
        bool merge = false;
        bool subfolders = false;
        // Read anew, so a drive that moved opens under its new letter.
        if (!ReadFolderEntry(group, 1, path, merge, subfolders) ||
            frmFolder->ExecuteSource(QStringLiteral("Please specify the change for Source Folder "),
                                     path, subfolders) != 1) {
            return;
        }
        WriteFolderEntry(group, 1, SavedFolder(path, merge, subfolders));
        LoadSourceList();
        Select(ListBox1, source);
        ListBox1Click();
    });
}

void TForm1::bbtnDel1Click() {
    RunCommand([this] {
        const int source = SelectedRow(ListBox1);
        if (source < 0) {
            return;
        }
        DeleteFolderGroup(NumberAt(ListBox1, source));
        LoadSourceList();
        Select(ListBox1, source > 0 ? source - 1 : 0);
        ListBox1Click();
    });
}

void TForm1::bbtnChange2Click() {
    RunCommand([this] {
        const int source = SelectedRow(ListBox1);
        const int destination = SelectedRow(ListBox2);
        if (source < 0 || destination < 0 || frmFolder == nullptr) {
            return;
        }
        const int group = NumberAt(ListBox1, source);
        const int entry = NumberAt(ListBox2, destination);
        std::string path;
        bool merge = false;
        bool subfolders = false;
        if (!ReadFolderEntry(group, entry, path, merge, subfolders) ||
            frmFolder->ExecuteDestination(
                QStringLiteral("Please specify the change for Destination Folder"), path, merge) !=
                1) {
            return;
        }
        WriteFolderEntry(group, entry, SavedFolder(path, merge, subfolders));
        ListBox1Click();
        Select(ListBox2, destination);
        ListBox2Click();
    });
}

void TForm1::bbtnDel2Click() {
    RunCommand([this] {
        const int source = SelectedRow(ListBox1);
        const int destination = SelectedRow(ListBox2);
        if (source < 0 || destination < 0) {
            return;
        }
        DeleteFolderEntry(NumberAt(ListBox1, source), NumberAt(ListBox2, destination));
        ListBox1Click();
        Select(ListBox2, destination > 0 ? destination - 1 : 0);
        ListBox2Click();
    });
}

void TForm1::FolderDropped(QListWidget* list, const std::vector<std::string>& items) {
    if (items.size() != 1) {
        ShowMessageBox(this, BoxIcon::None, QStringLiteral("Tarnwick"),
                       QStringLiteral("Only one folder at a time"));
        return;
    }
    // Anything but an existing folder that the dialog can take is passed over without a word.
    const std::optional<std::string> folder =
        items.front().empty() ? std::nullopt : platform::ToDrivePath(items.front());
    if (!folder || folder->size() > kMaxDroppedPath || !FolderExists(*folder)) {
        return;
    }
    RunCommand([this, list, &folder] {
        if (list == ListBox1) {
            AddSourceFolder(folder);
        } else {
            AddDestinationFolder(folder);
        }
    });
}

}  // namespace tarnwick::ui
