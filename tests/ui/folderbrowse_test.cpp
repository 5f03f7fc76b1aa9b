#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "folder_test_support.h"
#include "support/temp_dir.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Text.h"

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
using ui::testing::FolderDialogFixture;
using ui::testing::WaitUntil;
using ui::testing::WhenModal;

class FolderBrowseTest : public ::testing::Test, public FolderDialogFixture {
protected:
    // The node reached by following a drive path's names through the tree as it is now.
    QTreeWidgetItem* Node(const std::string& path) {
        QTreeWidgetItem* node = nullptr;
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t end = std::min(path.find('\\', start), path.size());
            const QString name = ToQt(path.substr(start, end - start));
            QTreeWidgetItem* next = nullptr;
            const int count = node ? node->childCount() : browser.TreeView1->topLevelItemCount();
            for (int i = 0; i < count && !next; ++i) {
                QTreeWidgetItem* child = node ? node->child(i) : browser.TreeView1->topLevelItem(i);
                if (!TTfrmFolderBrowse::IsPlaceholder(child) && child->text(0) == name) {
                    next = child;
                }
            }
            if (!next) {
                return nullptr;
            }
            node = next;
            start = end + 1;
        }
        return node;
    }

    QStringList ChildTexts(const QTreeWidgetItem* node) {
        QStringList texts;
        for (int i = 0; i < node->childCount(); ++i) {
            texts << node->child(i)->text(0);
        }
        return texts;
    }

    std::string SelectedPath() { return browser.NodePath(browser.Selected()); }

    void Open() {
        browser.FillDrives();
        browser.SelectPath("C:\\Data", true);
    }

    TTfrmFolderBrowse browser;
};

TEST_F(FolderBrowseTest, WindowAsDesigned) {
    EXPECT_EQ(browser.windowTitle(), QString("Browse for Folder"));
    EXPECT_EQ(browser.size(), QSize(353, 358));
    EXPECT_EQ(browser.minimumSize(), QSize(338, 200));
    EXPECT_FALSE(browser.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(browser.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(browser.bbtnSave->isEnabled());
    EXPECT_EQ(browser.bbtnSave->text(), QString("&Save"));
    EXPECT_EQ(browser.bbtnSave->toolTip(), QString("Return the selected folder"));
    EXPECT_EQ(browser.BitBtn2->text(), QString("&Close"));
    EXPECT_EQ(browser.BitBtn2->toolTip(),
              QString("Close this window without returning selected folder"));
    EXPECT_EQ(browser.bbtnNewFolder->text(), QString("&Make New Folder"));
    EXPECT_EQ(browser.bbtnNewFolder->toolTip(), QString("Create a new folder"));
    EXPECT_EQ(browser.bbtnRefresh->toolTip(), QString("Refresh"));
    ASSERT_EQ(browser.PopupMenu1->actions().size(), 2);
    EXPECT_EQ(browser.PopupMenu1->actions()[0]->text(), QString("Explore"));
    EXPECT_EQ(browser.PopupMenu1->actions()[1]->text(), QString("Refresh"));

    // Shown over its parent, centred; "&&" in the prompt shows as one "&"; no prompt gives the
    // default one.
    QWidget mainWindow;
    mainWindow.setGeometry(100, 80, 700, 500);
    mainWindow.show();
    TTfrmFolderBrowse child(&mainWindow);
    std::string path;
    QString prompt;
    QPoint offset;
    WhenModal<TTfrmFolderBrowse>([&](TTfrmFolderBrowse* shown) {
        prompt = shown->Panel1->text();
        offset = shown->geometry().center() - mainWindow.geometry().center();
        shown->BitBtn2->click();
    });
    EXPECT_EQ(child.ChooseFolder(" Please choose a folder where to copy && run it", path), 2);
    EXPECT_EQ(prompt, QString(" Please choose a folder where to copy & run it"));
    EXPECT_LE(offset.manhattanLength(), 40);
    WhenModal<TTfrmFolderBrowse>([&](TTfrmFolderBrowse* shown) {
        prompt = shown->Panel1->text();
        shown->BitBtn2->click();
    });
    child.ChooseFolder(QString(), path);
    EXPECT_EQ(prompt, QString("Choose a folder"));
}

TEST_F(FolderBrowseTest, InitialFolderSelectsTheDeepestMatchingNode) {
    MakeFolder("Data/Photos");
    struct Case {
        std::string initial;
        std::string selected;  // empty: nothing selected
        bool expanded;
    };
    const Case cases[] = {
        {"", "", false},
        {"C", "", false},
        {"C:", "C:", true},
        {"C:\\", "C:", true},
        {"C:\\Data", "C:\\Data", true},
        {"C:\\Data\\", "C:\\Data", true},
        {"C:\\Data\\Missing\\Deeper", "C:\\Data", true},
        {"C:\\data", "C:", true},  // names match byte for byte
        {"c:\\Data", "", false},   // so does the drive
        {"\\\\server\\share", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.initial);
        std::string buffer = c.initial;
        std::string selected = "(not shown)";
        bool expanded = false;
        bool treeHasFocus = false;
        WhenModal<TTfrmFolderBrowse>([&](TTfrmFolderBrowse* shown) {
            selected = shown->NodePath(shown->Selected());
            expanded = shown->Selected() && shown->Selected()->isExpanded();
            treeHasFocus = shown->focusWidget() == shown->TreeView1;
            shown->BitBtn2->click();
        });
        EXPECT_EQ(browser.ChooseFolder("    Please choose a folder", buffer), 2);
        EXPECT_EQ(buffer, c.initial);  // Close leaves the caller's buffer alone
        EXPECT_EQ(selected, c.selected);
        EXPECT_EQ(expanded, c.expanded);
        EXPECT_TRUE(treeHasFocus);
    }
}

TEST_F(FolderBrowseTest, SaveReturnsTheSelectedFolderAndADriveWithoutBackslash) {
    MakeFolder("Data");
    const std::pair<std::string, std::string> cases[] = {{"C:\\", "C:"},
                                                         {"C:\\Data\\", "C:\\Data"}};
    for (const auto& [initial, chosen] : cases) {
        std::string buffer = initial;
        WhenModal<TTfrmFolderBrowse>([](TTfrmFolderBrowse* shown) {
            ASSERT_TRUE(shown->bbtnSave->isEnabled());
            shown->bbtnSave->click();
        });
        EXPECT_EQ(browser.ChooseFolder(QString(), buffer), 1);
        EXPECT_EQ(buffer, chosen);
        EXPECT_EQ(browser.FolderPath, chosen);
    }

    // A folder removed after it was listed cannot be saved.
    MakeFolder("Data/Gone");
    Open();
    fs::remove(systemRoot / "Data/Gone");
    browser.TreeView1->setCurrentItem(Node("C:\\Data\\Gone"));
    EXPECT_FALSE(browser.bbtnSave->isEnabled());
    browser.TreeView1->setCurrentItem(Node("C:\\Data"));
    EXPECT_TRUE(browser.bbtnSave->isEnabled());
}

TEST_F(FolderBrowseTest, DrivesAreListedOnlyWhenExpanded) {
    drives->SetMedium('E', false);
    browser.FillDrives();
    ASSERT_EQ(browser.TreeView1->topLevelItemCount(), 2);
    QTreeWidgetItem* c = browser.TreeView1->topLevelItem(0);
    QTreeWidgetItem* e = browser.TreeView1->topLevelItem(1);
    EXPECT_EQ(c->text(0), QString("C:"));
    EXPECT_EQ(e->text(0), QString("E:"));
    EXPECT_EQ(TTfrmFolderBrowse::ImageIndex(c), 3);
    EXPECT_EQ(TTfrmFolderBrowse::ImageIndex(e), 2);
    for (QTreeWidgetItem* drive : {c, e}) {
        ASSERT_EQ(drive->childCount(), 1);
        EXPECT_TRUE(TTfrmFolderBrowse::IsPlaceholder(drive->child(0)));
    }

    // No medium: the expansion is refused without a word, and tried again the next time.
    e->setExpanded(true);
    EXPECT_FALSE(e->isExpanded());
    ASSERT_EQ(e->childCount(), 1);
    EXPECT_TRUE(TTfrmFolderBrowse::IsPlaceholder(e->child(0)));
    EXPECT_TRUE(boxes.empty());
    fs::create_directories(stickRoot / "Photos");
    drives->SetMedium('E', true);
    e->setExpanded(true);
    EXPECT_TRUE(e->isExpanded());
    EXPECT_EQ(ChildTexts(e), QStringList{"Photos"});
    EXPECT_EQ(TTfrmFolderBrowse::ImageIndex(e), 2);  // drive nodes keep their image
}

TEST_F(FolderBrowseTest, ListingShowsFoldersSortedWithExpandersOnlyWhereSubfoldersAre) {
    MakeFolder("Data/beta/Inner");
    MakeFolder("Data/Alpha");
    MakeFolder("Data/.hidden");
    MakeFolder("Data/>");
    MakeFolder("Data/Only files");
    MakeFolder(std::string("Data/bad\xff name"));
    MakeFolder("Data/Fleeting/Sub");
    tarnwick::testing::WriteFile(systemRoot / "Data/Only files/a.txt", "a");
    tarnwick::testing::WriteFile(systemRoot / "Data/readme.txt", "r");
    Open();

    QTreeWidgetItem* data = Node("C:\\Data");
    ASSERT_NE(data, nullptr);
    QStringList expected = {"beta",    "Alpha", ".hidden", ">", "Only files", ToQt("bad\xff name"),
                            "Fleeting"};
    std::sort(expected.begin(), expected.end(), [](const QString& a, const QString& b) {
        return QString::localeAwareCompare(a, b) < 0;
    });
    EXPECT_EQ(ChildTexts(data), expected);

    // Only a folder with a subfolder gets an expander.
    EXPECT_EQ(Node("C:\\Data\\Only files")->childCount(), 0);
    EXPECT_EQ(Node("C:\\Data\\Alpha")->childCount(), 0);
    ASSERT_EQ(Node("C:\\Data\\beta")->childCount(), 1);
    EXPECT_TRUE(TTfrmFolderBrowse::IsPlaceholder(Node("C:\\Data\\beta")->child(0)));

    // A folder named ">" is a folder like any other; non-UTF-8 names keep their bytes.
    QTreeWidgetItem* arrow = Node("C:\\Data\\>");
    ASSERT_NE(arrow, nullptr);
    EXPECT_FALSE(TTfrmFolderBrowse::IsPlaceholder(arrow));
    browser.SelectPath("C:\\Data\\>", false);
    EXPECT_EQ(browser.Selected(), arrow);
    EXPECT_EQ(browser.NodePath(Node(std::string("C:\\Data\\bad\xff name"))),
              std::string("C:\\Data\\bad\xff name"));

    // Folder images follow expansion; a listing that finds nothing leaves the node closed.
    EXPECT_EQ(TTfrmFolderBrowse::ImageIndex(data), 8);
    QTreeWidgetItem* beta = Node("C:\\Data\\beta");
    EXPECT_EQ(TTfrmFolderBrowse::ImageIndex(beta), 1);
    beta->setExpanded(true);
    EXPECT_EQ(TTfrmFolderBrowse::ImageIndex(beta), 8);
    EXPECT_EQ(ChildTexts(beta), QStringList{"Inner"});
    beta->setExpanded(false);
    EXPECT_EQ(TTfrmFolderBrowse::ImageIndex(beta), 1);
    fs::remove(systemRoot / "Data/Fleeting/Sub");
    QTreeWidgetItem* fleeting = Node("C:\\Data\\Fleeting");
    fleeting->setExpanded(true);
    EXPECT_EQ(fleeting->childCount(), 0);
    EXPECT_FALSE(fleeting->isExpanded());
    EXPECT_EQ(TTfrmFolderBrowse::ImageIndex(fleeting), 1);
}

TEST_F(FolderBrowseTest, MakeNewFolderCreatesOnceThenReportsTheExistingOne) {
    MakeFolder("Data/Zulu");
    Open();
    browser.bbtnNewFolder->click();
    EXPECT_TRUE(fs::is_directory(systemRoot / "Data/New Folder"));
    EXPECT_EQ(SelectedPath(), "C:\\Data\\New Folder");
    EXPECT_EQ(ChildTexts(Node("C:\\Data")), (QStringList{"New Folder", "Zulu"}));
    EXPECT_TRUE(boxes.empty());

    browser.TreeView1->setCurrentItem(Node("C:\\Data"));
    browser.bbtnNewFolder->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(boxes[0].caption, QString("Could not create the directory"));
    EXPECT_EQ(boxes[0].text, QString("C:\\Data\\New Folder"));
    EXPECT_EQ(ChildTexts(Node("C:\\Data")), (QStringList{"New Folder", "Zulu"}));

    // Nothing selected: nothing happens.
    browser.TreeView1->clearSelection();
    browser.bbtnNewFolder->click();
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(FolderBrowseTest, RenameInPlaceNeverReplacesAFolder) {
    MakeFolder("Data/Old/Child");
    MakeFolder("Data/Taken");
    tarnwick::testing::WriteFile(systemRoot / "Data/Taken/keep.txt", "keep");
    tarnwick::testing::WriteFile(systemRoot / "Data/Old/mine.txt", "mine");
    browser.show();
    Open();
    QTreeWidgetItem* old = Node("C:\\Data\\Old");
    ASSERT_NE(old, nullptr);

    EXPECT_FALSE(browser.TreeView1Editing(Node("C:")));
    EXPECT_TRUE(browser.TreeView1Editing(old));

    QString label = "Taken";
    browser.TreeView1Edited(old, label);
    EXPECT_EQ(label, QString("Old"));
    EXPECT_EQ(old->text(0), QString("Old"));
    EXPECT_EQ(tarnwick::testing::ReadFile(systemRoot / "Data/Taken/keep.txt"), "keep");
    EXPECT_EQ(tarnwick::testing::ReadFile(systemRoot / "Data/Old/mine.txt"), "mine");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QString("Could not rename "));
    EXPECT_EQ(boxes[0].text, QString("Unable to rename to\nC:\\Data\\Taken"));

    // A label is a name: it cannot move the folder elsewhere.
    for (const QString& elsewhere : {QString("Taken\\Old"), QString("../Up"), QString("..")}) {
        label = elsewhere;
        browser.TreeView1Edited(old, label);
        EXPECT_EQ(label, QString("Old"));
    }
    EXPECT_EQ(boxes.size(), 4u);
    EXPECT_TRUE(fs::is_directory(systemRoot / "Data/Old/Child"));
    EXPECT_FALSE(fs::exists(systemRoot / "Up"));

    label = "";
    browser.TreeView1Edited(old, label);
    EXPECT_EQ(label, QString("Old"));
    EXPECT_EQ(boxes.size(), 4u);

    // Through the tree's own editor: the folder is renamed, re-sorted, and its listed children
    // follow the new name.
    old->setExpanded(true);
    browser.TreeView1->setCurrentItem(old);
    browser.TreeView1->editItem(old);
    auto* editor = browser.TreeView1->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("Zebra");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return old->text(0) == "Zebra"; }));
    EXPECT_TRUE(fs::is_directory(systemRoot / "Data/Zebra/Child"));
    EXPECT_FALSE(fs::exists(systemRoot / "Data/Old"));
    EXPECT_EQ(ChildTexts(Node("C:\\Data")), (QStringList{"Taken", "Zebra"}));
    EXPECT_EQ(browser.NodePath(old->child(0)), "C:\\Data\\Zebra\\Child");
    EXPECT_EQ(boxes.size(), 4u);

    // A drive's label cannot be edited.
    browser.TreeView1->editItem(Node("C:"));
    EXPECT_EQ(browser.TreeView1->viewport()->findChild<QLineEdit*>(), nullptr);
}

TEST_F(FolderBrowseTest, RefreshKeepsSelectionAndExpansion) {
    MakeFolder("Data/Early");
    Open();
    MakeFolder("Data/Late");
    browser.bbtnRefresh->click();
    EXPECT_EQ(SelectedPath(), "C:\\Data");
    EXPECT_TRUE(browser.Selected()->isExpanded());
    EXPECT_EQ(ChildTexts(browser.Selected()), (QStringList{"Early", "Late"}));

    browser.Selected()->setExpanded(false);
    browser.Refresh1->trigger();
    EXPECT_EQ(SelectedPath(), "C:\\Data");
    EXPECT_FALSE(browser.Selected()->isExpanded());

    // Nothing selected: the tree is not rebuilt.
    browser.TreeView1->clearSelection();
    QTreeWidgetItem* const drive = browser.TreeView1->topLevelItem(0);
    browser.bbtnRefresh->click();
    EXPECT_EQ(browser.TreeView1->topLevelItem(0), drive);
}

TEST_F(FolderBrowseTest, ContextMenuOnlyOnANodeAndExploreOpensTheNativeFolder) {
    MakeFolder("Data");
    browser.show();
    Open();
    browser.TreeView1->setCurrentItem(Node("C:"));
    const QRect row = browser.TreeView1->visualItemRect(Node("C:\\Data"));
    const QPoint belowAll(5, browser.TreeView1->viewport()->height() - 2);
    ASSERT_EQ(browser.TreeView1->itemAt(belowAll), nullptr);

    EXPECT_FALSE(browser.TreeView1ContextPopup(belowAll));
    EXPECT_FALSE(browser.PopupMenu1->isVisible());
    QContextMenuEvent fromKeyboard(QContextMenuEvent::Keyboard, row.center(),
                                   browser.TreeView1->viewport()->mapToGlobal(row.center()));
    QApplication::sendEvent(browser.TreeView1->viewport(), &fromKeyboard);
    EXPECT_FALSE(browser.PopupMenu1->isVisible());
    EXPECT_EQ(SelectedPath(), "C:");

    QContextMenuEvent click(QContextMenuEvent::Mouse, row.center(),
                            browser.TreeView1->viewport()->mapToGlobal(row.center()));
    QApplication::sendEvent(browser.TreeView1->viewport(), &click);
    EXPECT_TRUE(browser.PopupMenu1->isVisible());
    EXPECT_EQ(SelectedPath(), "C:\\Data");
    browser.PopupMenu1->hide();

    browser.Explore1->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], ToQt((systemRoot / "Data").string()));
    browser.TreeView1->clearSelection();
    browser.Explore1->trigger();
    EXPECT_EQ(opened.size(), 1u);
}

}  // namespace
}  // namespace tarnwick::ui
