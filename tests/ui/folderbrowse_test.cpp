#include <gtest/gtest.h>

#include <future>

#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "folder_test_support.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Text.h"

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
using tarnwick::testing::ReadFile;
using tarnwick::testing::WriteFile;
using ui::testing::FolderDialogFixture;
using ui::testing::WhenModal;
using Browser = TTfrmFolderBrowse;

class FolderBrowseTest : public ::testing::Test, public FolderDialogFixture {
protected:
    // The listed node of a drive path, found without touching selection or expansion.
    QTreeWidgetItem* Node(const std::string& path) {
        for (QTreeWidgetItemIterator it(browser.TreeView1); *it; ++it) {
            if (!Browser::IsPlaceholder(*it) && browser.NodePath(*it) == path) {
                return *it;
            }
        }
        return nullptr;
    }
    static QStringList Children(const QTreeWidgetItem* node) {
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
        WaitForRoad(browser);
    }
    static void WaitForRoad(const Browser& shown) { ASSERT_TRUE(testing::WaitForRoad(shown)); }

    Browser browser;
};

TEST_F(FolderBrowseTest, InitialFolderSelectsTheDeepestMatchingNode) {
    MakeFolder("Data/Photos");
    QWidget mainWindow;
    mainWindow.setGeometry(100, 80, 700, 500);
    mainWindow.show();
    Browser child(&mainWindow);
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"", "", false},
        {"C", "", false},
        {"C:", "C:", true},
        {"C:\\", "C:", true},
        {"C:\\Data\\", "C:\\Data", true},
        {"C:\\Data\\Missing\\Deeper", "C:\\Data", true},
        {"C:\\data", "C:", true},  // names match byte for byte
        {"c:\\Data", "", false},   // so does the drive
        {"\\\\server\\share", "", false},
    };
    for (const auto& [initial, selected, expanded] : cases) {
        SCOPED_TRACE(initial);
        std::string buffer = initial;
        WhenModal<Browser>([&](Browser* shown) {
            EXPECT_EQ(shown->NodePath(shown->Selected()), selected);
            EXPECT_EQ(shown->Selected() && shown->Selected()->isExpanded(), expanded);
            EXPECT_EQ(shown->focusWidget(), shown->TreeView1);
            EXPECT_EQ(shown->Panel1->text(), QString(" Copy & run"));
            EXPECT_LE(
                (shown->geometry().center() - mainWindow.geometry().center()).manhattanLength(),
                40);
            shown->BitBtn2->click();
        });
        EXPECT_EQ(child.ChooseFolder(" Copy && run", buffer), 2);
        EXPECT_EQ(buffer, initial);  // Close leaves the caller's buffer alone
    }
}

TEST_F(FolderBrowseTest, SaveReturnsTheSelectedFolderAndADriveWithoutBackslash) {
    MakeFolder("Data/Gone");
    for (const auto& [initial, chosen] : {std::pair{"C:\\", "C:"}, {"C:\\Data\\", "C:\\Data"}}) {
        std::string buffer = initial;
        WhenModal<Browser>([](Browser* shown) {
            ASSERT_TRUE(QTest::qWaitFor([shown] { return shown->bbtnSave->isEnabled(); }));
            shown->bbtnSave->click();
        });
        EXPECT_EQ(browser.ChooseFolder(QString(), buffer), 1);
        EXPECT_EQ(buffer, chosen);
    }
    // A folder removed after it was listed cannot be saved.
    Open();
    fs::remove(systemRoot / "Data/Gone");
    browser.TreeView1->setCurrentItem(browser.Selected()->child(0));
    EXPECT_FALSE(browser.bbtnSave->isEnabled());
}

TEST_F(FolderBrowseTest, ThreadingAVolumeThatStoppedAnsweringLeavesTheBrowserAnswering) {
    MakeFolder("Data/Photos");
    fs::create_directories(stickRoot / "x");
    drives->SetAnswering('E', false);
    std::string buffer = "C:\\Data";
    WhenModal<Browser>([](Browser* shown) {
        // The walk to the initial folder ends first (C: answers; its listings come one by one).
        WaitForRoad(*shown);
        QTest::keyClick(shown->TreeView1, Qt::Key_Down);
        EXPECT_EQ(shown->NodePath(shown->Selected()), "C:\\Data\\Photos");
        QTest::keyClick(shown->TreeView1, Qt::Key_End);
        EXPECT_EQ(shown->NodePath(shown->Selected()), "E:");
        // A drive the user opens is listed off the user-interface thread and opens when listed.
        QTest::keyClick(shown->TreeView1, Qt::Key_Right);
        QTreeWidgetItem* const stick = shown->Selected();
        EXPECT_TRUE(QTest::qWaitFor([stick] { return stick->isExpanded(); }, 5000));
        EXPECT_EQ(stick->childCount() == 1 ? stick->child(0)->text(0) : QString(), QString("x"));
        QTest::mouseClick(shown->BitBtn2, Qt::LeftButton);
    });
    EXPECT_EQ(browser.ChooseFolder(QString(), buffer), 2);
    drives->SetAnswering('E', true);
}

TEST_F(FolderBrowseTest, AnInitialFolderOnAVolumeThatDoesNotAnswerLeavesTheBrowserAnswering) {
    MakeFolder("Data");
    fs::create_directories(stickRoot / "x");
    // Every question about a folder on E: waits until the volume answers again.
    std::promise<void> answering;
    windowlogic::SetFolderQuestionGateForTesting(
        [held = answering.get_future().share()](const std::string& path) {
            if (path.starts_with("E:")) {
                held.wait();
            }
        });
    std::string buffer = "E:\\x";
    QElapsedTimer closing;
    WhenModal<Browser>([&](Browser* shown) {
        EXPECT_TRUE(shown->RoadPending());
        shown->TreeView1->setCurrentItem(shown->TreeView1->topLevelItem(0));
        QTest::keyClick(shown->TreeView1, Qt::Key_End);
        EXPECT_EQ(shown->NodePath(shown->Selected()), "E:");
        QTest::keyClick(shown->TreeView1, Qt::Key_Home);
        EXPECT_EQ(shown->NodePath(shown->Selected()), "C:");
        QTest::keyClick(shown->TreeView1, Qt::Key_Right);  // another drive opens meanwhile
        QTreeWidgetItem* const system = shown->Selected();
        EXPECT_TRUE(QTest::qWaitFor([system] { return system->isExpanded(); }, 5000));
        closing.start();
        QTest::mouseClick(shown->BitBtn2, Qt::LeftButton);
    });
    EXPECT_EQ(browser.ChooseFolder(QString(), buffer), 2);
    EXPECT_LT(closing.elapsed(), 2000);
    EXPECT_EQ(buffer, "E:\\x");
    answering.set_value();
    windowlogic::SetFolderQuestionGateForTesting(nullptr);
    EXPECT_TRUE(WaitForBackgroundQuestions(std::chrono::seconds(30)));
}

TEST_F(FolderBrowseTest, DrivesAreListedOnlyWhenExpanded) {
    drives->SetMedium('E', false);
    browser.FillDrives();
    ASSERT_EQ(browser.TreeView1->topLevelItemCount(), 2);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !browser.DriveTypesPending(); }, 5000));
    QTreeWidgetItem* c = browser.TreeView1->topLevelItem(0);
    QTreeWidgetItem* e = browser.TreeView1->topLevelItem(1);
    EXPECT_EQ(c->text(0) + e->text(0), QString("C:E:"));
    EXPECT_EQ(Browser::ImageIndex(c), 3);
    EXPECT_EQ(Browser::ImageIndex(e), 2);
    EXPECT_TRUE(Browser::IsPlaceholder(c->child(0)) && Browser::IsPlaceholder(e->child(0)));

    // No medium: refused without a word, and tried again the next time.
    e->setExpanded(true);
    EXPECT_FALSE(e->isExpanded());
    EXPECT_TRUE(Browser::IsPlaceholder(e->child(0)));
    EXPECT_TRUE(boxes.empty());
    // An empty root, as on a freshly formatted stick, keeps its expander too.
    drives->SetMedium('E', true);
    e->setExpanded(true);
    EXPECT_FALSE(e->isExpanded());
    EXPECT_TRUE(Browser::IsPlaceholder(e->child(0)));
    fs::create_directories(stickRoot / "Photos");
    e->setExpanded(true);
    EXPECT_TRUE(e->isExpanded());
    EXPECT_EQ(Children(e), QStringList{"Photos"});
    EXPECT_EQ(Browser::ImageIndex(e), 2);  // drive nodes keep their image
}

TEST_F(FolderBrowseTest, ListingShowsFoldersSortedWithExpandersOnlyWhereSubfoldersAre) {
    for (const std::string name :
         {"beta/Inner", "Alpha", ".hidden", ">", "Only files", "bad\xff name", "Fleeting/Sub"}) {
        MakeFolder("Data/" + name);
    }
    WriteFile(systemRoot / "Data/Only files/a.txt", "a");
    WriteFile(systemRoot / "Data/readme.txt", "r");
    // Case is ignored under every locale, the C locale as much as any other.
    const QStringList expected = {".hidden", ">",        "Alpha",     ToQt("bad\xff name"),
                                  "beta",    "Fleeting", "Only files"};
    const QLocale before;
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
        QLocale::setDefault(locale);
        Open();
        EXPECT_EQ(Children(browser.Selected()), expected) << locale.name().toStdString();
    }
    QLocale::setDefault(before);
    QTreeWidgetItem* data = browser.Selected();
    EXPECT_EQ(Node("C:\\Data\\Only files")->childCount(), 0);
    EXPECT_TRUE(Browser::IsPlaceholder(Node("C:\\Data\\beta")->child(0)));
    // A folder named ">" is no placeholder; a name that is not UTF-8 keeps its bytes.
    EXPECT_FALSE(Browser::IsPlaceholder(Node("C:\\Data\\>")));
    EXPECT_NE(Node("C:\\Data\\bad\xff name"), nullptr);

    // Folder images follow expansion; a listing that finds nothing leaves the node closed.
    QTreeWidgetItem* beta = Node("C:\\Data\\beta");
    EXPECT_EQ(Browser::ImageIndex(data), 8);
    beta->setExpanded(true);
    EXPECT_EQ(Browser::ImageIndex(beta), 8);
    EXPECT_EQ(Children(beta), QStringList{"Inner"});
    beta->setExpanded(false);
    EXPECT_EQ(Browser::ImageIndex(beta), 1);
    fs::remove(systemRoot / "Data/Fleeting/Sub");
    QTreeWidgetItem* fleeting = Node("C:\\Data\\Fleeting");
    fleeting->setExpanded(true);
    EXPECT_EQ(fleeting->childCount(), 0);
    EXPECT_FALSE(fleeting->isExpanded());
}

TEST_F(FolderBrowseTest, MakeNewFolderCreatesOnceThenReportsTheExistingOne) {
    MakeFolder("Data/Zulu");
    Open();
    QTreeWidgetItem* data = browser.Selected();
    browser.bbtnNewFolder->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return SelectedPath() == "C:\\Data\\New Folder"; }));
    WaitForRoad(browser);
    EXPECT_TRUE(fs::is_directory(systemRoot / "Data/New Folder"));
    EXPECT_EQ(SelectedPath(), "C:\\Data\\New Folder");
    EXPECT_EQ(Children(data), (QStringList{"New Folder", "Zulu"}));

    browser.TreeView1->setCurrentItem(data);
    browser.bbtnNewFolder->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QString("Could not create the directory"));
    EXPECT_EQ(boxes[0].text, QString("C:\\Data\\New Folder"));
    EXPECT_EQ(Children(data), (QStringList{"New Folder", "Zulu"}));
}

TEST_F(FolderBrowseTest, RenameInPlaceNeverReplacesNorMovesAFolder) {
    MakeFolder("Data/Old/Child");
    WriteFile(systemRoot / "Data/Taken/keep.txt", "keep");
    browser.show();
    Open();
    QTreeWidgetItem* old = Node("C:\\Data\\Old");
    for (const QString refused : {"Taken", "Taken\\Old", "../Up", ".."}) {
        browser.TreeView1Edited(old, refused);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.RenamePending(); }));
        EXPECT_EQ(old->text(0), QString("Old"));
    }
    EXPECT_EQ(ReadFile(systemRoot / "Data/Taken/keep.txt"), "keep");
    EXPECT_TRUE(fs::is_directory(systemRoot / "Data/Old/Child"));
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].caption, QString("Could not rename "));
    EXPECT_EQ(boxes[0].text, QString("Unable to rename to\nC:\\Data\\Taken"));
    browser.TreeView1Edited(old, QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.RenamePending(); }));
    EXPECT_EQ(old->text(0), QString("Old"));
    EXPECT_EQ(boxes.size(), 4u);

    // Through the tree's own editor: renamed once, re-sorted, listed children follow.
    old->setExpanded(true);
    browser.TreeView1->editItem(old);
    auto* editor = browser.TreeView1->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("Zebra");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return old->text(0) == "Zebra"; }));
    EXPECT_TRUE(fs::is_directory(systemRoot / "Data/Zebra/Child"));
    EXPECT_EQ(Children(old->parent()), (QStringList{"Taken", "Zebra"}));
    EXPECT_EQ(browser.NodePath(old->child(0)), "C:\\Data\\Zebra\\Child");
    EXPECT_EQ(boxes.size(), 4u);

    browser.TreeView1->editItem(Node("C:"));  // a drive's label cannot be edited
    EXPECT_EQ(browser.TreeView1->viewport()->findChild<QLineEdit*>(), nullptr);

    // Save pressed while a label is being edited, by mouse or by its key: the folder is renamed
    // first and the new path is returned.
    browser.hide();
    for (const bool byMouse : {true, false}) {
        SCOPED_TRACE(byMouse);
        const std::string before = byMouse ? "Zebra" : "Yak";
        const std::string after = byMouse ? "Yak" : "Wolf";
        std::string buffer = "C:\\Data\\" + before;
        WhenModal<Browser>([&](Browser* shown) {
            WaitForRoad(*shown);
            ASSERT_TRUE(QTest::qWaitFor([shown] { return shown->bbtnSave->isEnabled(); }));
            shown->TreeView1->editItem(shown->Selected());
            auto* line = shown->TreeView1->viewport()->findChild<QLineEdit*>();
            ASSERT_NE(line, nullptr);
            line->setText(ToQt(after));
            if (byMouse) {
                QTest::mouseClick(shown->bbtnSave, Qt::LeftButton);
            } else {
                shown->bbtnSave->click();  // as its key does: the editor keeps the focus
            }
            // Save waits for the rename's answer.
            if (!QTest::qWaitFor([&] { return !shown->isVisible(); })) {
                ADD_FAILURE() << "Save did not close the browser";
                shown->BitBtn2->click();
            }
        });
        EXPECT_EQ(browser.ChooseFolder(QString(), buffer), 1);
        EXPECT_EQ(buffer, "C:\\Data\\" + after);
        EXPECT_TRUE(fs::is_directory(systemRoot / "Data" / after / "Child"));
    }
}

TEST_F(FolderBrowseTest, RefreshKeepsSelectionAndExpansion) {
    MakeFolder("Data/Early");
    Open();
    MakeFolder("Data/Late");
    browser.bbtnRefresh->click();
    WaitForRoad(browser);
    EXPECT_EQ(SelectedPath(), "C:\\Data");
    EXPECT_EQ(Children(browser.Selected()), (QStringList{"Early", "Late"}));
    browser.Selected()->setExpanded(false);
    browser.Refresh1->trigger();
    WaitForRoad(browser);
    EXPECT_EQ(SelectedPath(), "C:\\Data");
    EXPECT_FALSE(browser.Selected()->isExpanded());

    browser.TreeView1->clearSelection();  // nothing selected: the tree is not rebuilt
    QTreeWidgetItem* const drive = browser.TreeView1->topLevelItem(0);
    browser.bbtnRefresh->click();
    EXPECT_EQ(browser.TreeView1->topLevelItem(0), drive);
}

TEST_F(FolderBrowseTest, ContextMenuOnlyOnANodeAndExploreOpensTheNativeFolder) {
    MakeFolder("Data");
    browser.show();
    Open();
    QWidget* viewport = browser.TreeView1->viewport();
    const QPoint onData = browser.TreeView1->visualItemRect(browser.Selected()).center();
    browser.TreeView1->setCurrentItem(Node("C:"));
    const auto request = [&](QContextMenuEvent::Reason reason, QPoint at) {
        QContextMenuEvent event(reason, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &event);
        return browser.PopupMenu1->isVisible();
    };
    EXPECT_FALSE(request(QContextMenuEvent::Mouse, {5, viewport->height() - 2}));
    EXPECT_FALSE(request(QContextMenuEvent::Keyboard, onData));
    EXPECT_EQ(SelectedPath(), "C:");
    EXPECT_TRUE(request(QContextMenuEvent::Mouse, onData));
    EXPECT_EQ(SelectedPath(), "C:\\Data");
    EXPECT_FALSE(browser.PopupMenu1->toolTipsVisible());  // menu hints show nowhere
    browser.PopupMenu1->hide();

    browser.Explore1->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], ToQt((systemRoot / "Data").string()));
}

}  // namespace
}  // namespace tarnwick::ui
