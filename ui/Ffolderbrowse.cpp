#include "ui/Ffolderbrowse.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <utility>

#include "engine/queries.h"
#include "platform/files/files.h"
#include "platform/volumes/drives.h"
#include "ui/Look.h"
#include "ui/Shell.h"
#include "ui/Text.h"

namespace tarnwick::ui {

namespace {

constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kPlaceholderRole = Qt::UserRole + 2;

constexpr int kImageDot = 0;
constexpr int kImageClosedFolder = 1;
constexpr int kImageOpenFolder = 8;
constexpr int kImageCount = 20;

QPixmap BlankImage() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap RedDot() {
    QPixmap pixmap = BlankImage();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(128, 0, 0));
    painter.setBrush(QColor(220, 0, 0));
    painter.drawEllipse(QRectF(5, 5, 6, 6));
    return pixmap;
}

QPixmap MemoryChip() {
    QPixmap pixmap = BlankImage();
    QPainter painter(&pixmap);
    painter.setPen(QColor(150, 150, 150));
    for (int x = 3; x <= 12; x += 3) {
        painter.drawLine(x, 2, x, 13);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 40, 40));
    painter.drawRect(1, 4, 14, 8);
    painter.setBrush(QColor(200, 170, 60));
    painter.drawRect(3, 6, 2, 2);
    return pixmap;
}

// Nodes sort by their texts without regard to case, under every locale (the C locale's collation
// would put every capitalised name first); names that differ only in case follow the locale.
class FolderNode : public QTreeWidgetItem {
public:
    // Every label may be edited as far as the view is concerned; TreeView1Editing decides.
    template <typename... Parent>
    explicit FolderNode(Parent*... parent) : QTreeWidgetItem(parent...) {
        setFlags(flags() | Qt::ItemIsEditable);
    }
    bool operator<(const QTreeWidgetItem& other) const override {
        const QString mine = text(0);
        const QString theirs = other.text(0);
        if (const int order = mine.compare(theirs, Qt::CaseInsensitive); order != 0) {
            return order < 0;
        }
        if (const int order = QString::localeAwareCompare(mine, theirs); order != 0) {
            return order < 0;
        }
        return mine < theirs;
    }
};

// The tree control's notions that QTreeWidget lacks: a veto before a label edit starts, and
// context-menu requests that tell a click from a keyboard request.
class FolderTree : public QTreeWidget {
public:
    FolderTree(TTfrmFolderBrowse* form, QWidget* parent) : QTreeWidget(parent), form_(form) {}
    using QTreeWidget::itemFromIndex;

    // Ends a label edit that is still open, confirming the label typed so far, as the tree
    // control does when the dialog is closed under it.
    void FinishEditing() {
        if (state() != EditingState) {
            return;
        }
        if (QWidget* editor = indexWidget(editing_)) {
            commitData(editor);
            closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
    }

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override {
        QTreeWidgetItem* node = itemFromIndex(index);
        if (node && !form_->TreeView1Editing(node)) {
            return false;
        }
        const bool started = QTreeWidget::edit(index, trigger, event);
        if (started) {
            editing_ = index;
        }
        return started;
    }

    void contextMenuEvent(QContextMenuEvent* event) override {
        const bool fromMouse = event->reason() == QContextMenuEvent::Mouse;
        form_->TreeView1ContextPopup(fromMouse ? event->pos() : QPoint(-1, -1));
        event->accept();
    }

private:
    TTfrmFolderBrowse* form_;
    QPersistentModelIndex editing_;
};

// Hands a confirmed label to the form instead of writing it into the node.
class LabelDelegate : public QStyledItemDelegate {
public:
    LabelDelegate(TTfrmFolderBrowse* form, QObject* parent)
        : QStyledItemDelegate(parent), form_(form) {}

    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        if (const auto* line = qobject_cast<QLineEdit*>(editor)) {
            form_->LabelConfirmed(index, line->text());
        }
    }

private:
    TTfrmFolderBrowse* form_;
};

QWidget* MakePanel(QWidget* parent, const char* name) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    return panel;
}

}  // namespace

TTfrmFolderBrowse::TTfrmFolderBrowse(QWidget* parent) : TModalDialog(parent) {
    setObjectName("TfrmFolderBrowse");
    setWindowTitle(QStringLiteral("Browse for Folder"));
    resize(Scaled(QSize(353, 358)));
    setMinimumSize(Scaled(QSize(338, 200)));

    QStyle* const look = style();
    ImageList1.assign(kImageCount, QIcon(BlankImage()));
    ImageList1[0] = QIcon(RedDot());
    ImageList1[1] = look->standardIcon(QStyle::SP_DirClosedIcon);
    ImageList1[2] = look->standardIcon(QStyle::SP_DriveFDIcon);
    ImageList1[3] = look->standardIcon(QStyle::SP_DriveHDIcon);
    ImageList1[4] = look->standardIcon(QStyle::SP_DriveNetIcon);
    ImageList1[5] = look->standardIcon(QStyle::SP_DriveCDIcon);
    ImageList1[6] = QIcon(MemoryChip());
    ImageList1[7] = look->standardIcon(QStyle::SP_ComputerIcon);
    ImageList1[8] = look->standardIcon(QStyle::SP_DirOpenIcon);
    // The tree shows the red dot for whichever node is selected.
    const QPixmap dot = RedDot();
    for (const QIcon& image : ImageList1) {
        QIcon icon;
        icon.addPixmap(VisibleIcon(image, palette()).pixmap(16, 16), QIcon::Normal);
        icon.addPixmap(dot, QIcon::Selected);
        nodeIcons_.push_back(icon);
    }

    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);

    Panel1 = new QLabel(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(Scaled(65));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setTextFormat(Qt::PlainText);
    Panel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Panel1->setWordWrap(true);
    Panel1->setMargin(4);
    rows->addWidget(Panel1);

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    Panel3 = MakePanel(this, "Panel3");
    Panel3->setFixedWidth(Scaled(13));
    Panel4 = MakePanel(this, "Panel4");
    Panel4->setFixedWidth(Scaled(13));
    auto* tree = new FolderTree(this, this);
    TreeView1 = tree;
    TreeView1->setObjectName("TreeView1");
    TreeView1->setAccessibleName(QStringLiteral("Folders"));
    TreeView1->setColumnCount(1);
    TreeView1->header()->hide();
    TreeView1->setIndentation(Scaled(19));
    TreeView1->setIconSize(QSize(16, 16));
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setEditTriggers(QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::SelectedClicked);
    TreeView1->setItemDelegate(new LabelDelegate(this, tree));
    middle->addWidget(Panel3);
    middle->addWidget(TreeView1);
    middle->addWidget(Panel4);
    rows->addLayout(middle, 1);

    Panel2 = MakePanel(this, "Panel2");
    Panel2->setFixedHeight(Scaled(54));
    auto* buttonRow = new QHBoxLayout(Panel2);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->addStretch(1);
    Panel5 = MakePanel(Panel2, "Panel5");
    Panel5->setFixedWidth(Scaled(244));
    buttonRow->addWidget(Panel5);
    rows->addWidget(Panel2);

    // Created after Panel5 so that they stay above it where a narrow window makes them overlap.
    bbtnRefresh = MakeGlyphButton(Panel2, "bbtnRefresh", QStyle::SP_BrowserReload, QString(),
                                  QStringLiteral("Refresh"), Scaled(QRect(16, 16, 27, 25)));
    bbtnNewFolder =
        MakeGlyphButton(Panel2, "bbtnNewFolder", QStyle::SP_FileDialogNewFolder,
                        QStringLiteral("&Make New Folder"), QStringLiteral("Create a new folder"),
                        {std::max(Scaled(48), bbtnRefresh->geometry().right() + 6), Scaled(16),
                         Scaled(121), Scaled(25)});
    bbtnSave = MakeGlyphButton(
        Panel5, "bbtnSave", QStyle::SP_DialogSaveButton, QStringLiteral("&Save"),
        QStringLiteral("Return the selected folder"), Scaled(QRect(88, 16, 70, 25)));
    bbtnSave->setEnabled(false);
    // Enter chooses the selected folder (while it can be chosen); Escape closes as Close does.
    bbtnSave->setDefault(true);
    BitBtn2 =
        MakeGlyphButton(Panel5, "BitBtn2", QStyle::SP_DialogCloseButton, QStringLiteral("&Close"),
                        QStringLiteral("Close this window without returning selected folder"),
                        {std::max(Scaled(163), bbtnSave->geometry().right() + 6), Scaled(16),
                         Scaled(70), Scaled(25)});

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    Explore1 = PopupMenu1->addAction(QStringLiteral("Explore"));
    Explore1->setObjectName("Explore1");
    // The hint, shown nowhere like those of the main menu: the dialog has no status line.
    Explore1->setStatusTip(QStringLiteral("Launch Windows explorer to view selected folder"));
    Refresh1 = PopupMenu1->addAction(QStringLiteral("Refresh"));
    Refresh1->setObjectName("Refresh1");

    connect(TreeView1, &QTreeWidget::itemExpanded, this, &TTfrmFolderBrowse::OnItemExpanded);
    connect(TreeView1, &QTreeWidget::itemCollapsed, this, &TTfrmFolderBrowse::TreeView1Collapsed);
    connect(TreeView1, &QTreeWidget::itemSelectionChanged, this,
            &TTfrmFolderBrowse::TreeView1Change);
    connect(bbtnRefresh, &QPushButton::clicked, this, &TTfrmFolderBrowse::bbtnRefreshClick);
    connect(bbtnNewFolder, &QPushButton::clicked, this, &TTfrmFolderBrowse::bbtnNewFolderClick);
    connect(bbtnSave, &QPushButton::clicked, this, [this] { done(1); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { done(2); });
    connect(Explore1, &QAction::triggered, this, &TTfrmFolderBrowse::Explore1Click);
    connect(Refresh1, &QAction::triggered, this, &TTfrmFolderBrowse::Refresh1Click);
}

int TTfrmFolderBrowse::ChooseFolder(const QString& prompt, std::string& path) {
    FolderPath = path;
    Panel1->setText(prompt.isEmpty() ? QStringLiteral("Choose a folder") : PlainCaption(prompt));
    const int result = exec() == 1 ? 1 : 2;
    if (result == 1) {
        path = FolderPath;
    }
    return result;
}

int TTfrmFolderBrowse::ImageIndex(const QTreeWidgetItem* node) {
    return node ? node->data(0, kImageRole).toInt() : kImageDot;
}

bool TTfrmFolderBrowse::IsPlaceholder(const QTreeWidgetItem* node) {
    return node && node->data(0, kPlaceholderRole).toBool();
}

QTreeWidgetItem* TTfrmFolderBrowse::Selected() const {
    const QList<QTreeWidgetItem*> selected = TreeView1->selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

void TTfrmFolderBrowse::SetImage(QTreeWidgetItem* node, int index) {
    if (index < 0 || index >= kImageCount) {
        index = kImageDot;
    }
    node->setData(0, kImageRole, index);
    node->setIcon(0, nodeIcons_[static_cast<std::size_t>(index)]);
}

QTreeWidgetItem* TTfrmFolderBrowse::AddPlaceholder(QTreeWidgetItem* parent) {
    auto* placeholder = new FolderNode;
    placeholder->setText(0, QStringLiteral(">"));
    placeholder->setData(0, kPlaceholderRole, true);
    SetImage(placeholder, kImageDot);
    parent->insertChild(0, placeholder);
    return placeholder;
}

void TTfrmFolderBrowse::CollapseQuietly(QTreeWidgetItem* node) {
    const QSignalBlocker quiet(TreeView1);
    node->setExpanded(false);
}

void TTfrmFolderBrowse::FillDrives() {
    TreeView1->clear();
    for (const std::string& root : platform::LogicalDriveRoots()) {
        auto* drive = new FolderNode(TreeView1);
        drive->setText(0, ToQt(root.substr(0, 1)) + QLatin1Char(':'));
        SetImage(drive, static_cast<int>(GetDriveDescription(root.front())));
        AddPlaceholder(drive);
    }
    // Clearing the tree drops the selection without a notification.
    TreeView1Change();
}

bool TTfrmFolderBrowse::ListSubfolders(QTreeWidgetItem* placeholder) {
    QTreeWidgetItem* const parent = placeholder->parent();
    const std::string folder = NodePath(placeholder);
    std::optional<platform::Directory> listing = platform::Directory::Open(folder);
    if (!parent || !listing) {
        return false;
    }
    const std::string base = folder + '\\';
    bool anyEntry = false;
    while (const auto entry = listing->Next()) {
        anyEntry = true;
        // The listing tells folders from files: a folder of many files is listed without a
        // look at each of them.
        if (!listing->LastIsFolder(*entry)) {
            continue;
        }
        const std::string name(*entry);
        auto* node = new FolderNode(parent);
        node->setText(0, ToQt(name));
        SetImage(node, kImageClosedFolder);
        if (HasSubfolders(base + name)) {
            AddPlaceholder(node);
        }
    }
    // A drive whose root holds nothing at all (a freshly formatted stick) is refused like one
    // without a medium: it keeps its expander, so a folder made on it later can be reached.
    if (!anyEntry && !parent->parent()) {
        return false;
    }
    // Listed: the placeholder goes, also when no subfolder was found, so an empty folder shows
    // no expander and no stray ">" child.
    delete placeholder;
    parent->sortChildren(0, Qt::AscendingOrder);
    return true;
}

std::string TTfrmFolderBrowse::NodePath(const QTreeWidgetItem* node) const {
    std::string path;
    for (const QTreeWidgetItem* step = node; step; step = step->parent()) {
        if (IsPlaceholder(step)) {
            continue;
        }
        std::string part = FromQt(step->text(0));
        if (step->parent()) {
            part.insert(part.begin(), '\\');
        }
        path.insert(0, part);
    }
    return path;
}

namespace {

// The child of `parent` (the top level when null) whose text is `name`, byte for byte.
QTreeWidgetItem* FindChild(QTreeWidget* tree, QTreeWidgetItem* parent, std::string_view name) {
    const int count = parent ? parent->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < count; ++i) {
        QTreeWidgetItem* child = parent ? parent->child(i) : tree->topLevelItem(i);
        if (!TTfrmFolderBrowse::IsPlaceholder(child) && FromQt(child->text(0)) == name) {
            return child;
        }
    }
    return nullptr;
}

}  // namespace

void TTfrmFolderBrowse::SelectPath(const std::string& path, bool expandLast) {
    const auto select = [this](QTreeWidgetItem* node) {
        TreeView1->setCurrentItem(node);
        TreeView1->scrollToItem(node);
    };
    std::string_view rest = path;
    std::size_t separator = rest.find('\\');
    if (separator == std::string_view::npos) {
        if (rest.size() == 2 && rest[1] == ':') {
            if (QTreeWidgetItem* drive = FindChild(TreeView1, nullptr, rest)) {
                select(drive);
                if (expandLast) {
                    drive->setExpanded(true);
                }
            }
        }
        return;
    }
    // A path that begins with a backslash is taken whole as its first name: it names no drive.
    QTreeWidgetItem* current =
        FindChild(TreeView1, nullptr, separator == 0 ? rest : rest.substr(0, separator));
    if (!current) {
        return;
    }
    current->setExpanded(true);
    do {
        rest.remove_prefix(separator + 1);
        separator = rest.find('\\');
        QTreeWidgetItem* next = FindChild(TreeView1, current, rest.substr(0, separator));
        if (!next) {
            select(current);
            current->setExpanded(true);
            return;
        }
        next->setExpanded(true);
        current = next;
    } while (separator != std::string_view::npos);
    select(current);
    if (!expandLast) {
        current->setExpanded(false);
    }
}

void TTfrmFolderBrowse::FormShow() {
    FillDrives();
    if (FolderPath.size() >= 2) {
        SelectPath(FolderPath, true);
    }
    TreeView1->setFocus();
}

bool TTfrmFolderBrowse::FormClose(int modalResult) {
    // A label confirmed by this very click (or still open in its editor) is renamed first, so
    // that Save returns the folder under the name it has on disk.
    static_cast<FolderTree*>(TreeView1)->FinishEditing();
    RenameConfirmedLabel();
    FolderPath = modalResult == 1 ? NodePath(Selected()) : std::string();
    return true;
}

void TTfrmFolderBrowse::OnItemExpanded(QTreeWidgetItem* node) {
    // QTreeWidget reports an expansion only once it has happened: a refused one is taken back.
    if (!TreeView1Expanding(node)) {
        CollapseQuietly(node);
        return;
    }
    if (node->childCount() == 0) {
        // The listing found no subfolder: the node stays closed, like any folder without one.
        CollapseQuietly(node);
        return;
    }
    TreeView1Expanded(node);
}

bool TTfrmFolderBrowse::TreeView1Expanding(QTreeWidgetItem* node) {
    QTreeWidgetItem* const first = node->child(0);
    if (first && IsPlaceholder(first)) {
        return ListSubfolders(first);
    }
    return true;
}

void TTfrmFolderBrowse::TreeView1Expanded(QTreeWidgetItem* node) {
    if (node->parent()) {
        SetImage(node, kImageOpenFolder);
    }
}

void TTfrmFolderBrowse::TreeView1Collapsed(QTreeWidgetItem* node) {
    if (node->parent()) {
        SetImage(node, kImageClosedFolder);
    }
}

void TTfrmFolderBrowse::TreeView1Change() {
    const QTreeWidgetItem* const node = Selected();
    if (!node) {
        bbtnSave->setEnabled(false);
        return;
    }
    const std::string chosen = NodePath(node);
    std::string probe = chosen;
    if (probe.size() == 2 && probe[1] == ':') {
        probe.push_back('\\');
    }
    // A folder whose path would not fit the callers' buffers cannot be returned.
    bbtnSave->setEnabled(chosen.size() <= kMaxDialogPathLength && FolderExists(probe));
}

bool TTfrmFolderBrowse::TreeView1Editing(QTreeWidgetItem* node) {
    return node && node->parent() && !IsPlaceholder(node);
}

void TTfrmFolderBrowse::TreeView1Edited(QTreeWidgetItem* node, QString& label) {
    if (!node || !node->parent()) {
        return;
    }
    if (label.isEmpty() || label == node->text(0)) {
        label = node->text(0);
        return;
    }
    const std::string name = FromQt(label);
    const std::string newPath = NodePath(node->parent()) + '\\' + name;
    // A label is a name: separators or "." and ".." would move the folder somewhere else.
    const bool plainName = name.find_first_of(std::string_view("\\/\0", 3)) == std::string::npos &&
                           name != "." && name != "..";
    if (plainName && platform::MoveFile(NodePath(node), newPath)) {
        node->setText(0, label);
        node->parent()->sortChildren(0, Qt::AscendingOrder);
        TreeView1->scrollToItem(node);
        TreeView1Change();  // a longer name may no longer fit the callers' buffers
        return;
    }
    label = node->text(0);
    ShowMessageBox(this, BoxIcon::Error, QStringLiteral("Could not rename "),
                   QStringLiteral("Unable to rename to\n") + ToQt(newPath));
}

void TTfrmFolderBrowse::LabelConfirmed(const QModelIndex& node, const QString& label) {
    pendingRenameNode_ = node;
    pendingRenameLabel_ = label;
    // The rename runs once the editor is gone, so its message box cannot take the focus from a
    // live editor (which would commit the same label a second time).
    QMetaObject::invokeMethod(this, &TTfrmFolderBrowse::RenameConfirmedLabel, Qt::QueuedConnection);
}

void TTfrmFolderBrowse::RenameConfirmedLabel() {
    if (!pendingRenameNode_.isValid()) {
        return;
    }
    QTreeWidgetItem* const node =
        static_cast<FolderTree*>(TreeView1)->itemFromIndex(QModelIndex(pendingRenameNode_));
    QString label = std::exchange(pendingRenameLabel_, QString());
    pendingRenameNode_ = QPersistentModelIndex();
    TreeView1Edited(node, label);
}

bool TTfrmFolderBrowse::TreeView1ContextPopup(const QPoint& viewportPos) {
    QTreeWidgetItem* const node = TreeView1->viewport()->rect().contains(viewportPos)
                                      ? TreeView1->itemAt(viewportPos)
                                      : nullptr;
    if (!node) {
        return false;
    }
    TreeView1->setCurrentItem(node);
    PopupMenu1->popup(TreeView1->viewport()->mapToGlobal(viewportPos));
    return true;
}

void TTfrmFolderBrowse::bbtnNewFolderClick() {
    QTreeWidgetItem* const node = Selected();
    if (!node) {
        return;
    }
    const std::string newPath = NodePath(node) + "\\New Folder";
    if (!platform::CreateDirectory(newPath)) {
        ShowMessageBox(this, BoxIcon::Error, QStringLiteral("Could not create the directory"),
                       ToQt(newPath));
        return;
    }
    // List the node anew so the new folder takes its sorted place among the others.
    CollapseQuietly(node);
    qDeleteAll(node->takeChildren());
    AddPlaceholder(node);
    node->setExpanded(true);
    SelectPath(newPath, true);
}

void TTfrmFolderBrowse::bbtnRefreshClick() {
    const QTreeWidgetItem* const node = Selected();
    if (!node) {
        return;
    }
    const bool expanded = node->isExpanded();
    const std::string path = NodePath(node);
    FillDrives();
    if (path.size() >= 2) {
        SelectPath(path, expanded);
    }
    TreeView1->setFocus();
}

void TTfrmFolderBrowse::Refresh1Click() {
    bbtnRefreshClick();
}

void TTfrmFolderBrowse::Explore1Click() {
    const QTreeWidgetItem* const node = Selected();
    if (!node) {
        return;
    }
    // The file manager gets the folder's native path; a drive without a medium has none.
    if (const auto native = platform::ToNativePath(NodePath(node))) {
        OpenDocument(ToQt(*native));
    }
}

}  // namespace tarnwick::ui
