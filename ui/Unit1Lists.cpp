// The main window's folder lists: their details lines, their six commands and dropped folders.
#include "ui/Unit1.h"

#include <QApplication>
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
#include "settings/settings_file.h"
#include "ui/Ffolder.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Forms.h"
#include "ui/Shell.h"
#include "ui/Text.h"
#include "windowlogic/folder_dialog.h"
#include "windowlogic/folder_lists.h"
#include "windowlogic/list_commands.h"

namespace tarnwick::ui {

namespace {

// The group number of a source item, the entry number of a destination item.
constexpr int kNumberRole = Qt::UserRole;

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

void AppendItem(QListWidget* list, int number, const std::string& path) {
    auto* item = new QListWidgetItem(ToQt(path), list);
    item->setData(kNumberRole, number);
}

void Fill(QListWidget* list, const windowlogic::ListItems& items) {
    const QSignalBlocker quiet(list);
    list->clear();
    for (const auto& [number, path] : items) {
        AppendItem(list, number, path);
    }
}

void BlankDetails(std::initializer_list<QLabel*> labels) {
    for (QLabel* label : labels) {
        label->setText(QStringLiteral(" "));
    }
}

// The list commands' view of the folder dialog.
class ListsFolderDialog final : public windowlogic::FolderDialog {
public:
    bool AskSource(const std::string& caption, std::string& path, bool& subfolders) override {
        return frmFolder->ExecuteSource(ToQt(caption), path, subfolders) == 1;
    }
    bool AskDestination(const std::string& caption, std::string& path, bool& merge) override {
        return frmFolder->ExecuteDestination(ToQt(caption), path, merge) == 1;
    }
    int SavedDriveType() const override { return frmFolder->DriveType; }
    std::string SavedSerial() const override { return FromQt(frmFolder->lblSerial->text()); }
};

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

// The lists and their details lines as the shared list commands see them.
class FormLists final : public windowlogic::ListsView {
public:
    explicit FormLists(TForm1& form) : form_(form) {}

    int SelectedRow(windowlogic::List list) const override { return ui::SelectedRow(Of(list)); }
    windowlogic::ListItems Items(windowlogic::List list) const override {
        windowlogic::ListItems items;
        const QListWidget* shown = Of(list);
        for (int row = 0; row < shown->count(); ++row) {
            items.push_back({NumberAt(shown, row), PathAt(shown, row)});
        }
        return items;
    }
    void Select(windowlogic::List list, int row) override { ui::Select(Of(list), row); }
    void Fill(windowlogic::List list, const windowlogic::ListItems& items) override {
        ui::Fill(Of(list), items);
    }
    void BlankDetails(windowlogic::List list) override {
        if (list == windowlogic::List::kSources) {
            ui::BlankDetails({form_.lblLabel1, form_.lblSerial1, form_.lblType1});
        } else {
            ui::BlankDetails({form_.lblLabel2, form_.lblSerial2, form_.lblType2});
        }
        // An answer still on its way is for a line no longer shown.
        ++form_.detailsAsked_[list == windowlogic::List::kSources ? 0 : 1];
    }
    void ShowFolderDetails(windowlogic::List list, const std::string& path) override {
        if (list == windowlogic::List::kSources) {
            form_.ShowFolderDetails(path, form_.lblLabel1, form_.lblSerial1, form_.lblType1);
        } else {
            form_.ShowFolderDetails(path, form_.lblLabel2, form_.lblSerial2, form_.lblType2);
        }
    }
    void ShowComputer() override {
        if (const auto computer = ComputerName()) {
            form_.lblComputer->setText(ToQt(*computer));
        }
    }
    void ShowCommands(const windowlogic::ListCommands& commands) override {
        form_.bbtnChange1->setEnabled(commands.changeSource);
        form_.bbtnDel1->setEnabled(commands.deleteSource);
        form_.bbtnNew2->setEnabled(commands.newDestination);
        form_.bbtnChange2->setEnabled(commands.changeDestination);
        form_.bbtnDel2->setEnabled(commands.deleteDestination);
        if (form_.dropFilter2_ != nullptr) {
            form_.ListBox2->viewport()->setAcceptDrops(commands.destinationDrops);
        }
    }
    void ResetCount() override { form_.lblCount->setText(QStringLiteral("0")); }

private:
    QListWidget* Of(windowlogic::List list) const {
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

void TForm1::ShowFolderDetails(const std::string& path, QLabel* labelLabel, QLabel* serialLabel,
                               QLabel* typeLabel) {
    using Details = windowlogic::DriveDetails;
    std::uint64_t& asked = detailsAsked_[typeLabel == lblType1 ? 0 : 1];
    const std::uint64_t question = ++asked;
    questions_.Ask<Details>(
        [driveText = path.substr(0, 2)] { return windowlogic::DriveDetailsOf(driveText); },
        [this, &asked, question, labelLabel, serialLabel, typeLabel](const Details& details) {
            if (asked != question) {
                return;
            }
            typeLabel->setText(ToQt(details.description));
            labelLabel->setText(ToQt(details.label));
            serialLabel->setText(QString::number(details.serial));
            // A larger desktop font can make the line longer than the window is wide: the
            // window widens rather than shorten the sentence.
            if (QLayout* lines = centralWidget()->layout()) {
                const int needed =
                    lines->minimumSize().width() + width() - centralWidget()->width();
                if (isVisible() && needed > width()) {
                    resize(needed, height());
                }
            }
        });
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
    if (frmFolder == nullptr) {
        return false;
    }
    FormLists lists(*this);
    ListsFolderDialog dialog;
    return windowlogic::AddSourceFolder(lists, dialog, dropped);
}

bool TForm1::AddDestinationFolder(const std::optional<std::string>& dropped) {
    if (frmFolder == nullptr) {
        return false;
    }
    FormLists lists(*this);
    ListsFolderDialog dialog;
    return windowlogic::AddDestinationFolder(lists, dialog, dropped);
}

void TForm1::bbtnNew1Click() {
    RunCommand([this] { AddSourceFolder(std::nullopt); });
}

void TForm1::bbtnNew2Click() {
    RunCommand([this] { AddDestinationFolder(std::nullopt); });
}

void TForm1::bbtnChange1Click() {
    const int source = SelectedRow(ListBox1);
    if (source >= 0 && frmFolder != nullptr) {
        ChangeFolder(NumberAt(ListBox1, source), 1);
    }
}

void TForm1::ChangeFolder(int group, int entry) {
    const std::uint64_t asked = ++changeAsked_;
    questions_.Ask<std::optional<windowlogic::ChangeStart>>(
        [group, entry]() -> std::optional<windowlogic::ChangeStart> {
            try {
                return windowlogic::ReadForChange(group, entry);
            } catch (const std::exception&) {
                return std::nullopt;
            }
        },
        [this, asked, group, entry](std::optional<windowlogic::ChangeStart> start) {
            // The dialog opens only in a window still open, never over another dialog, and for
            // the folder still selected (FinishSelectedChange).
            if (!start || asked != changeAsked_ || !isVisible() || frmFolder == nullptr ||
                QApplication::activeModalWidget() != nullptr) {
                return;
            }
            RunCommand([&] {
                FormLists lists(*this);
                ListsFolderDialog dialog;
                windowlogic::FinishSelectedChange(lists, dialog, group, entry, std::move(*start));
            });
        });
}

void TForm1::bbtnDel1Click() {
    RunCommand([this] {
        FormLists lists(*this);
        windowlogic::DeleteSelectedSource(lists);
    });
}

void TForm1::bbtnChange2Click() {
    const int source = SelectedRow(ListBox1);
    const int destination = SelectedRow(ListBox2);
    if (source >= 0 && destination >= 0 && frmFolder != nullptr) {
        ChangeFolder(NumberAt(ListBox1, source), NumberAt(ListBox2, destination));
    }
}

void TForm1::bbtnDel2Click() {
    RunCommand([this] {
        FormLists lists(*this);
        windowlogic::DeleteSelectedDestination(lists);
    });
}

void TForm1::FolderDropped(QListWidget* list, const std::vector<std::string>& items) {
    const windowlogic::DropAnswer answer = windowlogic::DroppedFolder(items);
    if (answer.kind == windowlogic::DropAnswer::Kind::kTooMany) {
        ShowMessageBox(this, BoxIcon::None, ToQt(windowlogic::kDropCaption),
                       ToQt(windowlogic::kTooManyDropped));
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

}  // namespace tarnwick::ui
