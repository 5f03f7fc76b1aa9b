#include "ui/Ffolderbrowse.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <utility>

#include "platform/volumes/drives.h"
#include "ui/Look.h"
#include "ui/Shell.h"
#include "ui/Text.h"
#include "windowlogic/folder_browser.h"

namespace tarnwick::ui {

namespace {

constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kPlaceholderRole = Qt::UserRole + 2;
constexpr int kListingRole = Qt::UserRole + 3;  // the node's folders are being listed

using windowlogic::kImageClosedFolder;
using windowlogic::kImageCount;
using windowlogic::kImageDot;
using windowlogic::kImageOpenFolder;
// A picture-less image, shown by a drive until its type is known.
constexpr int kImageTypeNotRead = 9;

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
    using QTreeWidget::indexFromItem;
    using QTreeWidget::itemFromIndex;

    // True while the tree handles the user's mouse or keys, through which a node may open.
    bool ByUser() const { return byUser_; }

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

    void mousePressEvent(QMouseEvent* event) override {
        const QScopedValueRollback byUser(byUser_, true);
        QTreeWidget::mousePressEvent(event);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        const QScopedValueRollback byUser(byUser_, true);
        QTreeWidget::mouseDoubleClickEvent(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        const QScopedValueRollback byUser(byUser_, true);
        QTreeWidget::keyPressEvent(event);
    }

    void contextMenuEvent(QContextMenuEvent* event) override {
        const bool fromMouse = event->reason() == QContextMenuEvent::Mouse;
        form_->TreeView1ContextPopup(fromMouse ? event->pos() : QPoint(-1, -1));
        event->accept();
    }

private:
    TTfrmFolderBrowse* form_;
    QPersistentModelIndex editing_;
    bool byUser_ = false;
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
    setWindowTitle(ToQt(windowlogic::kBrowserCaption));
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
    Panel1->setText(prompt.isEmpty() ? ToQt(windowlogic::kDefaultBrowserPrompt)
                                     : PlainCaption(prompt));
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
    index = windowlogic::ImageOrDot(index);
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
    const std::uint64_t filling = ++fillings_;
    const std::vector<std::string> roots = platform::LogicalDriveRoots();
    typesPending_ = static_cast<int>(roots.size());
    for (const std::string& root : roots) {
        auto* drive = new FolderNode(TreeView1);
        const QString text = ToQt(windowlogic::DriveNodeText(root));
        drive->setText(0, text);
        SetImage(drive, kImageTypeNotRead);
        AddPlaceholder(drive);
        const auto setImage = [this, filling, text](int image) {
            if (filling != fillings_) {
                return;  // for a tree rebuilt since
            }
            --typesPending_;
            const QList<QTreeWidgetItem*> found =
                TreeView1->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (!found.isEmpty()) {
                SetImage(found.front(), image);
            }
        };
        questions_.Ask<int>([root] { return windowlogic::DriveImage(root); }, setImage);
    }
    // Clearing the tree drops the selection without a notification.
    TreeView1Change();
}

bool TTfrmFolderBrowse::ListSubfolders(QTreeWidgetItem* placeholder) {
    QTreeWidgetItem* const parent = placeholder->parent();
    if (!parent) {
        return false;
    }
    // A drive whose root holds nothing at all (a freshly formatted stick) is refused like one
    // without a medium: it keeps its expander, so a folder made on it later can be reached.
    const auto subfolders = windowlogic::ListSubfolders(NodePath(placeholder), !parent->parent());
    if (!subfolders) {
        return false;
    }
    AddListed(placeholder, *subfolders);
    return true;
}

void TTfrmFolderBrowse::AddListed(QTreeWidgetItem* placeholder,
                                  const std::vector<windowlogic::Subfolder>& subfolders) {
    QTreeWidgetItem* const parent = placeholder->parent();
    for (const windowlogic::Subfolder& subfolder : subfolders) {
        auto* node = new FolderNode(parent);
        node->setText(0, ToQt(subfolder.name));
        SetImage(node, kImageClosedFolder);
        if (subfolder.hasSubfolders) {
            AddPlaceholder(node);
        }
    }
    // Listed: the placeholder goes, also when no subfolder was found, so an empty folder shows
    // no expander and no stray ">" child.
    delete placeholder;
    parent->sortChildren(0, Qt::AscendingOrder);
}

void TTfrmFolderBrowse::ListInBackground(QTreeWidgetItem* node) {
    if (node->data(0, kListingRole).toBool()) {
        return;
    }
    node->setData(0, kListingRole, true);
    auto* const tree = static_cast<FolderTree*>(TreeView1);
    const QPersistentModelIndex index(tree->indexFromItem(node));
    const std::uint64_t filling = fillings_;
    const std::string path = NodePath(node);
    const bool driveRoot = !node->parent();
    using Listing = std::optional<std::vector<windowlogic::Subfolder>>;
    const auto open = [this, tree, index, filling](const Listing& subfolders) {
        if (filling != fillings_ || !index.isValid()) {
            return;  // the tree was rebuilt, or the node listed anew, since
        }
        QTreeWidgetItem* const listed = tree->itemFromIndex(QModelIndex(index));
        listed->setData(0, kListingRole, false);
        QTreeWidgetItem* const first = listed->child(0);
        // A listing that could not be made leaves the node as a refused expansion does.
        const bool refused = !subfolders || !first || !IsPlaceholder(first);
        if (!refused) {
            AddListed(first, *subfolders);
            if (listed->childCount() > 0) {
                listed->setExpanded(true);
            }
        }
        if (roadWaitsFor_.isValid() && roadWaitsFor_ == index) {
            roadWaitsFor_ = QPersistentModelIndex();
            StepRoad(refused);
        }
    };
    questions_.Ask<Listing>(
        [path, driveRoot] { return windowlogic::ListSubfolders(path, driveRoot); }, open);
}

std::string TTfrmFolderBrowse::NodePath(const QTreeWidgetItem* node) const {
    std::vector<std::string> texts;
    for (const QTreeWidgetItem* step = node; step; step = step->parent()) {
        if (!IsPlaceholder(step)) {
            texts.insert(texts.begin(), FromQt(step->text(0)));
        }
    }
    return windowlogic::NodePath(texts);
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
    road_ = windowlogic::FolderRoad(path, expandLast);
    roadAt_ = roadWaitsFor_ = QPersistentModelIndex();
    StepRoad(false);
}

bool TTfrmFolderBrowse::OpenNode(QTreeWidgetItem* node) {
    if (node->child(0) && IsPlaceholder(node->child(0))) {
        ListInBackground(node);
        return false;
    }
    node->setExpanded(true);
    return true;
}

void TTfrmFolderBrowse::StepRoad(bool refused) {
    auto* const tree = static_cast<FolderTree*>(TreeView1);
    QTreeWidgetItem* at = roadAt_.isValid() ? tree->itemFromIndex(QModelIndex(roadAt_)) : nullptr;
    using Kind = windowlogic::FolderRoad::Step::Kind;
    windowlogic::FolderRoad::Step step =
        refused ? road_.Refused() : windowlogic::FolderRoad::Step{};
    while (const std::string* next = road_.Next()) {
        QTreeWidgetItem* const found = FindChild(TreeView1, at, *next);
        step = road_.Found(found != nullptr);
        if (found) {
            at = found;
            roadAt_ = QPersistentModelIndex(tree->indexFromItem(found));
        }
        if (step.kind == Kind::kEnd) {
            break;
        }
        if (!OpenNode(at)) {
            roadWaitsFor_ = roadAt_;
            return;  // on when its listing comes
        }
    }
    if (step.kind != Kind::kEnd || !step.select || !at) {
        return;
    }
    {
        const QScopedValueRollback byRoad(roadSelects_, true);
        TreeView1->setCurrentItem(at);
    }
    TreeView1->scrollToItem(at);
    if (step.open) {
        if (!OpenNode(at)) {
            roadWaitsFor_ = roadAt_;  // the road has ended; this only tells that it still opens
        }
    } else {
        CollapseQuietly(at);
        TreeView1Collapsed(at);
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
    if (modalResult == 1 && renaming_) {
        closeAfterRename_ = modalResult;
        return false;
    }
    closeAfterRename_ = 0;
    FolderPath = modalResult == 1 ? NodePath(Selected()) : std::string();
    return true;
}

void TTfrmFolderBrowse::OnItemExpanded(QTreeWidgetItem* node) {
    // A node the user opens is listed off this thread (its volume may have stopped answering)
    // and opens when the listing comes. The dialog's own expansions (the initial folder, Make
    // New Folder, Refresh) need the folders listed by the time they return.
    if (static_cast<FolderTree*>(TreeView1)->ByUser() && node->child(0) &&
        IsPlaceholder(node->child(0))) {
        CollapseQuietly(node);
        ListInBackground(node);
        return;
    }
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
    // Save waits for the answer whether the selected folder exists (and fits the callers'
    // buffers); an answer for a selection changed since is dropped.
    bbtnSave->setEnabled(false);
    const std::uint64_t selection = ++selections_;
    if (!roadSelects_) {
        // A folder the user chose: a walk still under way must not take it away.
        road_ = {};
        roadWaitsFor_ = QPersistentModelIndex();
    }
    const QTreeWidgetItem* const node = Selected();
    if (!node) {
        return;
    }
    questions_.Ask<bool>([path = NodePath(node)] { return windowlogic::MayReturn(path); },
                         [this, selection](bool mayReturn) {
                             if (selection == selections_) {
                                 bbtnSave->setEnabled(mayReturn);
                             }
                         });
}

bool TTfrmFolderBrowse::TreeView1Editing(QTreeWidgetItem* node) {
    return !renaming_ && node && node->parent() && !IsPlaceholder(node);
}

void TTfrmFolderBrowse::TreeView1Edited(QTreeWidgetItem* node, const QString& label) {
    if (!node || !node->parent()) {
        return;
    }
    renaming_ = true;
    auto* const tree = static_cast<FolderTree*>(TreeView1);
    const QPersistentModelIndex index(tree->indexFromItem(node));
    const std::uint64_t filling = fillings_;
    const auto answered = [this, tree, index, filling,
                           label](const windowlogic::RenameResult& renamed) {
        renaming_ = false;
        QTreeWidgetItem* const node = filling == fillings_ && index.isValid()
                                          ? tree->itemFromIndex(QModelIndex(index))
                                          : nullptr;
        // A refusal answered after Close has no window to be told in.
        if (renamed.kind == windowlogic::RenameResult::Kind::kRefused && isVisible()) {
            ShowMessageBox(this, BoxIcon::Error, ToQt(windowlogic::kRenameFailedCaption),
                           ToQt(windowlogic::RenameFailedText(renamed.newPath)));
        } else if (node && renamed.kind == windowlogic::RenameResult::Kind::kRenamed) {
            node->setText(0, label);
            node->parent()->sortChildren(0, Qt::AscendingOrder);
            TreeView1->scrollToItem(node);
            TreeView1Change();  // a longer name may no longer fit the callers' buffers
        }
        if (const int result = std::exchange(closeAfterRename_, 0); result != 0) {
            done(result);
        }
    };
    questions_.Ask<windowlogic::RenameResult>(
        [parentPath = NodePath(node->parent()), oldName = FromQt(node->text(0)),
         name = FromQt(label)] { return windowlogic::RenameFolder(parentPath, oldName, name); },
        answered);
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
    const QString label = std::exchange(pendingRenameLabel_, QString());
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
    auto* const tree = static_cast<FolderTree*>(TreeView1);
    const QPersistentModelIndex index(tree->indexFromItem(node));
    const std::uint64_t filling = fillings_;
    const auto made = [this, tree, index, filling](const windowlogic::NewFolderResult& newFolder) {
        if (filling != fillings_ || !index.isValid()) {
            return;  // the tree was rebuilt, or the node removed, since
        }
        if (!newFolder.made) {
            ShowMessageBox(this, BoxIcon::Error, ToQt(windowlogic::kNewFolderFailedCaption),
                           ToQt(newFolder.path));
            return;
        }
        // List the node anew so the new folder takes its sorted place among the others.
        QTreeWidgetItem* const parent = tree->itemFromIndex(QModelIndex(index));
        CollapseQuietly(parent);
        qDeleteAll(parent->takeChildren());
        parent->setData(0, kListingRole, false);
        AddPlaceholder(parent);
        SelectPath(newFolder.path, true);
    };
    questions_.Ask<windowlogic::NewFolderResult>(
        [path = NodePath(node)] { return windowlogic::MakeNewFolder(path); }, made);
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
