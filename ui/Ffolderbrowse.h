#pragma once
// The folder browser: a lazily filled tree of the drives and their folders, in which the user
// picks a folder, creates "New Folder", renames a folder in place, opens one in the desktop's file
// manager or rebuilds the tree.

#include <QIcon>
#include <QPersistentModelIndex>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/Background.h"
#include "ui/ModalDialog.h"
#include "windowlogic/folder_browser.h"
#include "windowlogic/folder_dialog.h"

class QAction;
class QLabel;
class QMenu;
class QPoint;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnwick::ui {

using windowlogic::kMaxDialogPathLength;

class TTfrmFolderBrowse : public TModalDialog {
    Q_OBJECT
public:
    explicit TTfrmFolderBrowse(QWidget* parent = nullptr);

    // Shows the browser modally. `path` is the initial folder and, after Save (result 1), the
    // chosen folder; a drive comes back as its letter and a colon ("C:"). Any other result (2)
    // leaves `path` alone. An empty prompt shows "Choose a folder"; "&&" in it shows as one "&".
    int ChooseFolder(const QString& prompt, std::string& path);

    // The tree. FillDrives shows the drives at once; each drive's image follows when its type has
    // been read off this thread (the drive may have stopped answering).
    void FillDrives();
    // True while a drive of the tree still shows the image of a type not read yet.
    bool DriveTypesPending() const { return typesPending_ > 0; }
    bool ListSubfolders(QTreeWidgetItem* placeholder);
    std::string NodePath(const QTreeWidgetItem* node) const;
    // Walks the tree to `path`, listing each level off this thread, and selects the deepest node
    // found (opened when `expandLast`, and where the path goes on below it).
    void SelectPath(const std::string& path, bool expandLast);
    // True while that walk still waits for a listing.
    bool RoadPending() const { return roadWaitsFor_.isValid(); }

    // Event handlers.
    void FormShow() override;
    // Sets FolderPath to the chosen folder (Save) or the empty text. Save waits for the answer of
    // a rename asked before it (the dialog closes when it comes); Close never waits.
    bool FormClose(int modalResult) override;
    bool TreeView1Expanding(QTreeWidgetItem* node);
    void TreeView1Expanded(QTreeWidgetItem* node);
    void TreeView1Collapsed(QTreeWidgetItem* node);
    void TreeView1Change();
    bool TreeView1Editing(QTreeWidgetItem* node);
    // Asks for the rename off this thread; the node takes the label when the answer comes.
    void TreeView1Edited(QTreeWidgetItem* node, const QString& label);
    // True while a rename has been asked and not answered.
    bool RenamePending() const { return renaming_; }
    // The tree's editor confirmed a label: TreeView1Edited runs for it once the editor is gone,
    // or at the latest when the dialog closes.
    void LabelConfirmed(const QModelIndex& node, const QString& label);
    // `viewportPos` is in the tree viewport's coordinates; a request from the keyboard passes a
    // point outside the viewport. Answers whether the menu was shown.
    bool TreeView1ContextPopup(const QPoint& viewportPos);
    void bbtnNewFolderClick();
    void bbtnRefreshClick();
    void Refresh1Click();
    void Explore1Click();

    // The node the user has selected, or none.
    QTreeWidgetItem* Selected() const;

    // What a node carries besides its text: its image index, and whether it is the placeholder
    // child of an unlisted node. The placeholder is told by this mark, never by its text, since
    // ">" is a valid folder name here.
    static int ImageIndex(const QTreeWidgetItem* node);
    static bool IsPlaceholder(const QTreeWidgetItem* node);

    // Initial folder on entry, chosen folder (or the empty text) after closing.
    std::string FolderPath;

    QLabel* Panel1;
    QWidget* Panel3;
    QWidget* Panel4;
    QWidget* Panel2;
    QPushButton* bbtnRefresh;
    QPushButton* bbtnNewFolder;
    QWidget* Panel5;
    QPushButton* bbtnSave;
    QPushButton* BitBtn2;
    QTreeWidget* TreeView1;
    // Node images by index: 0 red dot, 1 closed folder, 2-6 the drive types, 8 open folder.
    std::vector<QIcon> ImageList1;
    QMenu* PopupMenu1;
    QAction* Explore1;
    QAction* Refresh1;

private:
    QTreeWidgetItem* AddPlaceholder(QTreeWidgetItem* parent);
    // Puts the listed folders in the place of a node's placeholder.
    void AddListed(QTreeWidgetItem* placeholder,
                   const std::vector<windowlogic::Subfolder>& subfolders);
    // Lists a node's folders off this thread and opens the node when they come.
    void ListInBackground(QTreeWidgetItem* node);
    void SetImage(QTreeWidgetItem* node, int index);
    // Collapses a node without running the collapse handling.
    void CollapseQuietly(QTreeWidgetItem* node);
    void OnItemExpanded(QTreeWidgetItem* node);
    void RenameConfirmedLabel();
    // Opens a node: at once when listed (true), else once its listing comes.
    bool OpenNode(QTreeWidgetItem* node);
    void StepRoad(bool refused);

    std::vector<QIcon> nodeIcons_;  // ImageList1, each showing the red dot while selected
    QPersistentModelIndex pendingRenameNode_;
    QString pendingRenameLabel_;
    // Each filling of the drive level, and the drive types it still waits for.
    std::uint64_t fillings_ = 0;
    int typesPending_ = 0;
    windowlogic::FolderRoad road_;
    QPersistentModelIndex roadAt_;        // the node the road has reached
    QPersistentModelIndex roadWaitsFor_;  // the node whose listing it waits for
    std::uint64_t selections_ = 0;        // each change of the selection, for its Save check
    bool roadSelects_ = false;  // while the walk selects its end
    bool renaming_ = false;
    int closeAfterRename_ = 0;  // Save pressed while a rename was asked
    BackgroundQuestions questions_{this};
};

}  // namespace tarnwick::ui
