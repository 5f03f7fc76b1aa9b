// Screen readers and the keyboard: every control that takes the focus has a name, Escape and
// Enter close each dialog as its buttons do, and the folder lists answer Insert, Enter and Delete.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <vector>

#include "main_window_test_support.h"
#include "ui/Fabout.h"
#include "ui/Flog.h"
#include "ui/Unit1.h"

namespace tarnwick::ui {
namespace {

QString AccessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

class KeyboardTest : public ::testing::Test, public testing::MainWindowFixture {
protected:
    KeyboardTest() { MakeFolder("Data"); }

    TfrmAbout about;
    TForm2 log;
};

TEST_F(KeyboardTest, EveryControlThatTakesTheFocusHasAName) {
    TForm1 form;
    for (QWidget* window :
         std::initializer_list<QWidget*>{&form, &folderDialog, &browser, &about, &log}) {
        for (QWidget* control : window->findChildren<QWidget*>()) {
            if (control->isWindow() || control->focusPolicy() == Qt::NoFocus) {
                continue;
            }
            EXPECT_FALSE(AccessibleName(control).trimmed().isEmpty())
                << window->objectName().toStdString() << " " << control->metaObject()->className()
                << " " << control->objectName().toStdString();
        }
    }
    const std::pair<QWidget*, const char*> names[] = {
        {form.bbtnNew1, "New source folder"},
        {form.bbtnDel2, "Delete selected destination folder"},
        {form.ListBox1, "Source folders"},
        {form.ListBox2, "Destination folders"},
        {form.Edit1, "From"},
        {form.Edit2, "To"},
        {folderDialog.Edit1, "Folder"},
        {browser.bbtnRefresh, "Refresh"},
        {log.Memo1, "Log"},
        {about.Edit1, "SWIFT"},
        {about.Edit2, "IBAN"},
    };
    for (const auto& [control, name] : names) {
        EXPECT_EQ(AccessibleName(control), QString(name));
    }
    // The read-only progress fields are read, not Tab stops.
    EXPECT_EQ(form.Edit1->focusPolicy() | form.Edit2->focusPolicy(), Qt::NoFocus);
    for (const QAction* item : form.File1->actions() + form.Help1->actions()) {
        EXPECT_TRUE(item->text().contains('&')) << item->text().toStdString();
    }
    EXPECT_EQ(log.Button1->text(), QString("&OK"));
}

TEST_F(KeyboardTest, InsertEnterAndDeleteInTheListsRunTheirCommands) {
    TForm1 form;
    form.show();
    plan = {"C:\\Data"};
    QTest::keyClick(form.ListBox1, Qt::Key_Insert);
    ASSERT_EQ(form.ListBox1->count(), 1);
    plan = {"E:\\"};
    QTest::keyClick(form.ListBox2, Qt::Key_Insert);
    ASSERT_EQ(form.ListBox2->count(), 1);
    // A Change opens once the stored folder has been read off the user-interface thread.
    QTest::keyClick(form.ListBox1, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([this] { return openings.size() == 3; }));
    QTest::keyClick(form.ListBox2, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(QTest::qWaitFor([this] { return openings.size() == 4; }));
    QStringList captions;
    for (const Opening& opening : openings) {
        captions << opening.caption;
    }
    EXPECT_EQ(captions, QStringList({"Please choose a new Source Folder ",
                                     "Please choose a new Destination Folder",
                                     "Please specify the change for Source Folder ",
                                     "Please specify the change for Destination Folder"}));
    QTest::keyClick(form.ListBox2, Qt::Key_Delete);
    EXPECT_EQ(form.ListBox2->count(), 0);
    QTest::keyClick(form.ListBox1, Qt::Key_Delete);
    EXPECT_EQ(form.ListBox1->count(), 0);
    // With nothing selected the keys do what the disabled buttons do: nothing.
    QTest::keyClick(form.ListBox2, Qt::Key_Insert);
    QTest::keyClick(form.ListBox1, Qt::Key_Return);
    EXPECT_EQ(openings.size(), 4U);
    form.close();
}

class DialogKeysTest : public ::testing::Test, public testing::FolderDialogFixture {
protected:
    DialogKeysTest() {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        MakeFolder("Data");
        TfrmFolderBrowse = &browser;
    }
    ~DialogKeysTest() override { TfrmFolderBrowse = nullptr; }

    TfrmFolder folder;
    TTfrmFolderBrowse browser;
    TfrmAbout about;
    TForm2 log;
};

TEST_F(DialogKeysTest, EscapeClosesEachDialogAndEnterPressesItsDefaultButton) {
    const auto source = [this](const char* start) {
        return [this, start] {
            std::string path = start;
            bool subfolders = true;
            return folder.ExecuteSource(QString(), path, subfolders);
        };
    };
    const auto browse = [this] {
        std::string path = "C:\\Data";
        return browser.ChooseFolder(QString(), path);
    };
    const auto showLog = [this] { return log.exec(); };
    const auto showAbout = [this] { return about.exec(); };
    const auto memo = [this]() -> QWidget* { return log.Memo1; };
    struct Case {
        const char* what;
        std::function<int()> open;
        std::function<QWidget*()> focus;  // none: where the opening puts the focus
        std::vector<Qt::Key> keys;
        int result;  // 0: the dialog is still open after the keys
    };
    const Case cases[] = {
        {"folder: Enter saves", source("C:\\Data"), {}, {Qt::Key_Return}, 1},
        {"folder: Enter while Save is disabled", source(""), {}, {Qt::Key_Return}, 0},
        {"folder: Enter on the focused Close",
         source("C:\\Data"),
         [this] { return folder.bbtnClose; },
         {Qt::Key_Return},
         2},
        {"folder: Escape", source("C:\\Data"), {}, {Qt::Key_Escape}, 2},
        {"browser: Escape", browse, {}, {Qt::Key_Escape}, 2},
        {"browser: Enter chooses the selected folder", browse, {}, {Qt::Key_Return}, 1},
        {"browser: Enter confirms a label, nothing more",
         browse,
         [this]() -> QWidget* {
             browser.TreeView1->editItem(browser.Selected());
             return browser.TreeView1->viewport()->findChild<QLineEdit*>();
         },
         {Qt::Key_Return},
         0},
        {"about: Enter", showAbout, {}, {Qt::Key_Return}, 1},
        {"about: Escape", showAbout, {}, {Qt::Key_Escape}, 2},
        {"log: Enter in the text", showLog, memo, {Qt::Key_Return}, 2},
        {"log: Tab, Enter", showLog, memo, {Qt::Key_Tab, Qt::Key_Return}, 2},
        {"log: Tab, Enter once more", showLog, memo, {Qt::Key_Tab, Qt::Key_Return}, 2},
        {"log: Escape", showLog, memo, {Qt::Key_Escape}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool stayedOpen = false;
        testing::WhenModal<TModalDialog>([&](TModalDialog* open) {
            if (auto* folderDialog = qobject_cast<TfrmFolder*>(open)) {
                EXPECT_TRUE(testing::WaitForDiskInfo(*folderDialog));
            }
            if (auto* browserDialog = qobject_cast<TTfrmFolderBrowse*>(open)) {
                // The road to C:\Data and its Save check are answered off the UI thread.
                EXPECT_TRUE(testing::WaitForRoad(*browserDialog));
                EXPECT_TRUE(QTest::qWaitFor([=] { return browserDialog->bbtnSave->isEnabled(); }));
            }
            if (c.focus) {
                c.focus()->setFocus();
            }
            for (const Qt::Key key : c.keys) {
                QTest::keyClick(open->focusWidget() ? open->focusWidget() : open, key);
            }
            stayedOpen = open->isVisible();
            if (stayedOpen) {
                open->done(2);
            }
        });
        const int result = c.open();
        EXPECT_EQ(stayedOpen ? 0 : result, c.result);
    }
}

}  // namespace
}  // namespace tarnwick::ui
