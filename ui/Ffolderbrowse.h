#pragma once
// The folder browser: a lazily filled tree of the drives and their folders, in which the user
// picks a folder, creates "New Folder", renames a folder in place, opens one in the desktop's file
// manager or rebuilds the tree.

#include <QIcon>
#include <QPersistentModelIndex>
#include <QString>
#include <cstddef>
#include <string>
#include <vector>

#include "ui/ModalDialog.h"

class QAction;
class QLabel;
class QMenu;
class QPoint;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnwick::ui {

// Longest path, in bytes, that the dialogs hand back to their callers: the callers keep paths in
// buffers of 1,024 bytes with their terminator.
inline constexpr std::size_t kMaxDialogPathLength = 1023;

class TTfrmFolderBrowse : public TModalDialog {
    Q_OBJECT
public:
    explicit TTfrmFolderBrowse(QWidget* parent = nullptr);

    // Shows the browser modally. `path` is the initial folder and, after Save (result 1), the
    // chosen folder; a drive comes back as its letter and a colon ("C:"). Any other result (2)
    // leaves `path` alone. An empty prompt shows "Choose a folder"; "&&" in it shows as one "&".
    int ChooseFolder(const QString& prompt, std::string& path);

    // The tree.
    void FillDrives();
    bool ListSubfolders(QTreeWidgetItem* placeholder);
    std::string NodePath(const QTreeWidgetItem* node) const;
    void SelectPath(const std::string& path, bool expandLast);

    // Event handlers.
    void FormShow() override;
    // Sets FolderPath to the chosen folder (Save) or the empty text, after renaming a label that
    // was confirmed just before; never refuses.
    bool FormClose(int modalResult) override;
    bool TreeView1Expanding(QTreeWidgetItem* node);
    void TreeView1Expanded(QTreeWidgetItem* node);
    void TreeView1Collapsed(QTreeWidgetItem* node);
    void TreeView1Change();
    bool TreeView1Editing(QTreeWidgetItem* node);
    void TreeView1Edited(QTreeWidgetItem* node, QString& label);
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
    void SetImage(QTreeWidgetItem* node, int index);
    // Collapses a node without running the collapse handling.
    void CollapseQuietly(QTreeWidgetItem* node);
    void OnItemExpanded(QTreeWidgetItem* node);
    void RenameConfirmedLabel();

    std::vector<QIcon> nodeIcons_;  // ImageList1, each showing the red dot while selected
    QPersistentModelIndex pendingRenameNode_;
    QString pendingRenameLabel_;
};

}  // namespace tarnwick::ui
