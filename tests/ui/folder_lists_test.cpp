// The main window's folder lists: selection after each command, details lines, drops, and the
// settings file's write error.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <memory>

#include "engine/queries.h"
#include "main_window_test_support.h"
#include "settings/folder_groups.h"
#include "settings/settings_file.h"
#include "ui/Unit1.h"

static void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
using testing::FolderDialogAnswerer;

constexpr std::uint32_t kSystemSerial = 0x1234ABCD;
constexpr std::uint32_t kStickSerial = 0xCAFE0001;

class ListsTest : public ::testing::Test, public testing::MainWindowFixture {
protected:
    // Folders C:\a, C:\b, C:\c and E:\x, E:\y exist; groups are stored by each test.
    ListsTest() {
        for (const char* name : {"a", "b", "c"}) {
            MakeFolder(name);
        }
        for (const char* name : {"x", "y"}) {
            fs::create_directories(stickRoot / name);
        }
    }

    static void Store(int group, int entry, const std::string& path) {
        const bool stick = path[0] == 'E';
        const std::uint32_t serial = stick ? kStickSerial : kSystemSerial;
        ASSERT_TRUE(WriteFolderEntry(
            group, entry, {path, stick ? 2 : 3, std::to_string(serial), false, entry == 1}));
    }

    void Open() {
        form = std::make_unique<TForm1>();
        form->show();
    }

    // "path#number" of every item, and the selected row.
    static QStringList Items(const QListWidget* list) {
        QStringList items;
        for (int row = 0; row < list->count(); ++row) {
            items << list->item(row)->text() + "#" + list->item(row)->data(Qt::UserRole).toString();
        }
        return items;
    }
    static int Selected(const QListWidget* list) {
        const auto selected = list->selectedItems();
        return selected.isEmpty() ? -1 : list->row(selected.front());
    }
    void SelectSource(int row) { form->ListBox1->setCurrentRow(row); }

    QString Details2() const {
        return form->lblSerial2->text() + "|" + form->lblLabel2->text() + "|" +
               form->lblType2->text();
    }

    // Sends a drag-enter and, when it was accepted, the drop; answers whether the list took it.
    bool Drop(QListWidget* list, const QMimeData& data) {
        const QPoint at(5, 5);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &drop);
        QCoreApplication::processEvents();
        return drop.isAccepted();
    }

    static std::string Description(char letter) {
        std::string sentence;
        GetDriveDescription(letter, &sentence);
        return sentence;
    }

    FolderDialogAnswerer answerer;
    std::unique_ptr<TForm1> form;
};

TEST_F(ListsTest, ButtonsAndDropsFollowTheSelection) {
    Store(1, 1, "C:\\a");
    Store(1, 2, "C:\\b");
    Store(1, 3, "E:\\x");
    Store(1, 4, "E:\\y");
    Store(2, 1, "C:\\c");
    Open();
    EXPECT_EQ(Items(form->ListBox1), QStringList({"C:\\a#1", "C:\\c#2"}));
    EXPECT_EQ(Selected(form->ListBox1), -1);
    EXPECT_EQ(form->lblComputer->text(), QString("TESTPC"));
    EXPECT_EQ(form->lblCount->text(), QString("0"));
    const auto enabled = [this] {
        QString states;
        for (const QToolButton* button : {form->bbtnNew1, form->bbtnChange1, form->bbtnDel1,
                                          form->bbtnNew2, form->bbtnChange2, form->bbtnDel2}) {
            states += button->isEnabled() ? '1' : '0';
        }
        return states + (form->ListBox2->viewport()->acceptDrops() ? "+drop" : "");
    };
    EXPECT_EQ(enabled(), QString("100000"));

    SelectSource(0);
    EXPECT_EQ(Items(form->ListBox2), QStringList({"C:\\b#2", "E:\\x#3", "E:\\y#4"}));
    EXPECT_EQ(Selected(form->ListBox2), 0);
    EXPECT_EQ(form->lblLabel1->text(), QString("SYSTEM"));
    EXPECT_EQ(Details2(), QString::number(kSystemSerial) + "|SYSTEM|" + ToQt(Description('C')));
    EXPECT_EQ(enabled(), QString("111111+drop"));

    SelectSource(1);
    EXPECT_TRUE(Items(form->ListBox2).isEmpty());
    EXPECT_EQ(Details2(), QString(" | | "));
    EXPECT_EQ(enabled(), QString("111100+drop"));
}

TEST_F(ListsTest, SelectionAfterDeletingASourceOrADestination) {
    struct Case {
        bool source;
        int deleted;
        QStringList left;
        int selected;
    };
    const Case cases[] = {
        {true, 0, {"C:\\b#2", "C:\\c#3"}, 0},  // the new first
        {true, 1, {"C:\\a#1", "C:\\c#3"}, 0},  // the one before it
        {true, 2, {"C:\\a#1", "C:\\b#2"}, 1},  {false, 0, {"E:\\x#3", "E:\\y#4"}, 0},
        {false, 1, {"C:\\b#2", "E:\\y#4"}, 0}, {false, 2, {"C:\\b#2", "E:\\x#3"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.source ? "source " : "destination ") + std::to_string(c.deleted));
        fs::remove(SettingsPath());
        Store(1, 1, "C:\\a");
        Store(1, 2, "C:\\b");
        Store(1, 3, "E:\\x");
        Store(1, 4, "E:\\y");
        Store(2, 1, "C:\\b");
        Store(3, 1, "C:\\c");
        Open();
        SelectSource(c.source ? c.deleted : 0);
        QListWidget* list = c.source ? form->ListBox1 : form->ListBox2;
        if (!c.source) {
            list->setCurrentRow(c.deleted);
        }
        (c.source ? form->bbtnDel1 : form->bbtnDel2)->click();
        EXPECT_EQ(Items(list), c.left);
        EXPECT_EQ(Selected(list), c.selected);
        if (!c.source) {
            // The details line describes the destination now selected.
            const bool stick = c.left[c.selected].startsWith('E');
            EXPECT_EQ(form->lblSerial2->text(),
                      QString::number(stick ? kStickSerial : kSystemSerial));
        }
    }

    // The only source deleted: both lists empty, only New source left, no drops on destinations.
    fs::remove(SettingsPath());
    Store(1, 1, "C:\\a");
    Store(1, 2, "C:\\b");
    Open();
    SelectSource(0);
    form->bbtnDel1->click();
    EXPECT_EQ(form->ListBox1->count() + form->ListBox2->count(), 0);
    EXPECT_TRUE(form->bbtnNew1->isEnabled());
    EXPECT_FALSE(form->bbtnNew2->isEnabled() || form->bbtnDel1->isEnabled());
    EXPECT_FALSE(form->ListBox2->viewport()->acceptDrops());
    EXPECT_TRUE(answerer.openings.empty());  // no question asked
}

TEST_F(ListsTest, AddedFoldersAreSelectedAndDescribed) {
    Store(1, 1, "C:\\a");
    Store(1, 2, "C:\\b");
    Store(2, 1, "C:\\C");
    Open();

    // A second destination: selected, described, stored with the dialog's type and serial.
    SelectSource(0);
    answerer.plan = {"E:\\x"};
    form->bbtnNew2->click();
    ASSERT_EQ(answerer.openings.size(), 1u);
    EXPECT_EQ(answerer.openings[0].caption, QString("Please choose a new Destination Folder"));
    EXPECT_EQ(answerer.openings[0].path, QString());
    EXPECT_EQ(answerer.openings[0].folderType, 1);  // Backup
    EXPECT_EQ(Items(form->ListBox2), QStringList({"C:\\b#2", "E:\\x#3"}));
    EXPECT_EQ(Selected(form->ListBox2), 1);
    // A volume without a label: an empty label beside its real serial.
    EXPECT_EQ(Details2(), QString::number(kStickSerial) + "||" + ToQt(Description('E')));
    const tarnwick::SettingsFile file;
    EXPECT_EQ(file.ReadString("1_TESTPC", "3_TYPE", ""), "2");
    EXPECT_EQ(file.ReadString("1_TESTPC", "3_SERIAL", ""), std::to_string(kStickSerial));

    // A source equal to one in the list but for case makes a group of its own; the earlier
    // of the two is selected.
    answerer.plan = {"C:\\c"};
    form->bbtnNew1->click();
    ASSERT_EQ(answerer.openings.size(), 2u);
    EXPECT_EQ(answerer.openings[1].caption, QString("Please choose a new Source Folder "));
    EXPECT_TRUE(answerer.openings[1].subfolders);
    EXPECT_EQ(Items(form->ListBox1), QStringList({"C:\\a#1", "C:\\C#2", "C:\\c#3"}));
    EXPECT_EQ(Selected(form->ListBox1), 1);

    // Cancelled: nothing changes.
    form->bbtnNew1->click();
    EXPECT_EQ(form->ListBox1->count(), 3);
    EXPECT_EQ(Selected(form->ListBox1), 1);
}

TEST_F(ListsTest, MovedFixedSourceIsListedAsStoredAndChangedUnderItsNewLetter) {
    tarnwick::testing::TempDir disk;
    fs::create_directories(disk / "docs");
    drives->Set('D', {disk.str(), platform::kDriveFixed, 0xD15C0001, "DATA"});
    ASSERT_TRUE(WriteFolderEntry(1, 1, {"D:\\docs", 3, std::to_string(0xD15C0001u), false, true}));
    Store(1, 2, "C:\\b");
    Store(2, 1, "C:\\a");
    drives->Remove('D');
    drives->Set('G', {disk.str(), platform::kDriveFixed, 0xD15C0001, "DATA"});
    Open();
    EXPECT_EQ(form->ListBox1->item(0)->text(), QString("D:\\docs"));

    SelectSource(0);
    const QPoint item = form->ListBox1->visualItemRect(form->ListBox1->item(0)).center();
    QTest::mouseClick(form->ListBox1->viewport(), Qt::LeftButton, {}, item);
    QTest::mouseDClick(form->ListBox1->viewport(), Qt::LeftButton, {}, item);
    ASSERT_EQ(answerer.openings.size(), 1u);
    EXPECT_EQ(answerer.openings[0].caption,
              QString("Please specify the change for Source Folder "));
    EXPECT_EQ(answerer.openings[0].path, QString("G:\\docs"));
    EXPECT_EQ(form->ListBox1->item(0)->text(), QString("D:\\docs"));

    // Saved: same place, same group number, its destination kept; the new letter shows.
    answerer.plan = {FolderDialogAnswerer::kKeep};
    form->bbtnChange1->click();
    EXPECT_EQ(Items(form->ListBox1), QStringList({"G:\\docs#1", "C:\\a#2"}));
    EXPECT_EQ(Selected(form->ListBox1), 0);
    EXPECT_EQ(Items(form->ListBox2), QStringList({"C:\\b#2"}));
    EXPECT_EQ(form->lblLabel1->text(), QString("DATA"));
}

TEST_F(ListsTest, DroppedItems) {
    Store(1, 1, "C:\\a");
    Open();
    const auto url = [](const fs::path& path) {
        return QUrl::fromLocalFile(QString::fromStdString(path.string()));
    };
    tarnwick::testing::WriteFile(systemRoot / "a" / "file.txt", "file");

    // Two items, or one item that is not a folder, on the source list.
    QMimeData two;
    two.setUrls({url(systemRoot / "b"), url(systemRoot / "a" / "file.txt")});
    EXPECT_TRUE(Drop(form->ListBox1, two));
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].icon, BoxIcon::None);
    EXPECT_EQ(shownBoxes[0].text, QString("Only one folder at a time"));
    QMimeData file;
    file.setUrls({url(systemRoot / "a" / "file.txt")});
    EXPECT_TRUE(Drop(form->ListBox1, file));
    EXPECT_EQ(shownBoxes.size(), 1u);
    EXPECT_TRUE(answerer.openings.empty());

    // The destination list refuses drops until a source is selected.
    QMimeData nativePath;
    nativePath.setText(QString::fromStdString((stickRoot / "x").string()));
    EXPECT_FALSE(Drop(form->ListBox2, nativePath));
    EXPECT_TRUE(answerer.openings.empty());

    // One folder: the dialog opens with it, as a drive path.
    QMimeData folder;
    folder.setUrls({url(systemRoot / "b")});
    answerer.plan = {FolderDialogAnswerer::kKeep};
    EXPECT_TRUE(Drop(form->ListBox1, folder));
    ASSERT_EQ(answerer.openings.size(), 1u);
    EXPECT_EQ(answerer.openings[0].caption, QString("Please choose a new Source Folder "));
    EXPECT_EQ(answerer.openings[0].path, QString("C:\\b"));
    EXPECT_TRUE(answerer.openings[0].subfolders);
    EXPECT_EQ(Items(form->ListBox1), QStringList({"C:\\a#1", "C:\\b#2"}));

    ASSERT_EQ(Selected(form->ListBox1), 1);
    EXPECT_TRUE(Drop(form->ListBox2, nativePath));
    ASSERT_EQ(answerer.openings.size(), 2u);
    EXPECT_EQ(answerer.openings[1].caption, QString("Please choose a new Destination Folder"));
    EXPECT_EQ(answerer.openings[1].path, QString("E:\\x"));

    // After the close the lists take no drops.
    form->close();
    EXPECT_FALSE(Drop(form->ListBox1, folder));
    EXPECT_EQ(answerer.openings.size(), 2u);
}

TEST_F(ListsTest, DetailsOfADriveWithoutAMedium) {
    Open();
    drives->SetMedium('E', false);
    form->ShowFolderDetails("E:\\x", form->lblLabel2, form->lblSerial2, form->lblType2);
    EXPECT_EQ(Details2(), "0|E:|" + ToQt(Description('E')));
}

TEST_F(ListsTest, WriteErrorIsShownAndTheListsStayAsTheyWere) {
    Store(1, 1, "C:\\a");
    Store(1, 2, "C:\\b");
    Store(2, 1, "C:\\c");
    Open();
    SelectSource(1);
    fs::permissions(SettingsPath(), fs::perms::owner_read | fs::perms::group_read);
    const QString error("Unable to write to C:\\Tools\\Tarnwick.INI");

    // A real click on Delete: the error box, the lists untouched, the button not left pressed.
    QTest::mouseClick(form->bbtnDel1, Qt::LeftButton);
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(shownBoxes[0].text, error);
    EXPECT_EQ(Items(form->ListBox1), QStringList({"C:\\a#1", "C:\\c#2"}));
    EXPECT_EQ(Selected(form->ListBox1), 1);
    EXPECT_FALSE(form->bbtnDel1->isDown());

    SelectSource(0);
    answerer.plan = {"C:\\c"};
    QTest::mouseClick(form->bbtnNew2, Qt::LeftButton);
    ASSERT_EQ(shownBoxes.size(), 2u);
    EXPECT_EQ(shownBoxes[1].text, error);
    EXPECT_EQ(Items(form->ListBox2), QStringList({"C:\\b#2"}));
    EXPECT_TRUE(form->isVisible());
}

}  // namespace
}  // namespace tarnwick::ui
