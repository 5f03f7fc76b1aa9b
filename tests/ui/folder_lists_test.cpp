// The main window's folder lists: selection after each command, details lines, drops, and the
// settings file's write error.
#include <gtest/gtest.h>

#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <chrono>
#include <memory>

#include "engine/queries.h"
#include "main_window_test_support.h"
#include "settings/folder_groups.h"
#include "settings/settings_file.h"
#include "ui/Unit1.h"

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
const QString kSystem = QString::number(0x1234ABCDu);
const QString kStick = QString::number(0xCAFE0001u);

class ListsTest : public ::testing::Test, public testing::MainWindowFixture {
protected:
    ListsTest() {
        for (const char* name : {"a", "b", "c"}) {
            MakeFolder(name);
        }
        fs::create_directories(stickRoot / "x");
    }

    // Stores the groups (a source, then its destinations) as the only ones, opens the window.
    void Open(const std::vector<std::vector<std::string>>& groups) {
        fs::remove(SettingsPath());
        for (std::size_t g = 0; g < groups.size(); ++g) {
            for (std::size_t e = 0; e < groups[g].size(); ++e) {
                const std::string& path = groups[g][e];
                const bool stick = path[0] == 'E';
                ASSERT_TRUE(WriteFolderEntry(
                    int(g + 1), int(e + 1),
                    {path, stick ? 2 : 3, FromQt(stick ? kStick : kSystem), false, e == 0}));
            }
        }
        form = std::make_unique<TForm1>();
        form->show();
    }

    // "path#number" of each item, the selected one marked with '*'.
    static QStringList Items(const QListWidget* list) {
        QStringList items;
        for (int row = 0; row < list->count(); ++row) {
            const QListWidgetItem* item = list->item(row);
            items << (item->isSelected() ? "*" : "") + item->text() + "#" +
                         item->data(Qt::UserRole).toString();
        }
        return items;
    }
    // Enabled list buttons, whether the destination list takes drops, its details line.
    QString State() const {
        QString state;
        for (const QToolButton* button : {form->bbtnNew1, form->bbtnChange1, form->bbtnDel1,
                                          form->bbtnNew2, form->bbtnChange2, form->bbtnDel2}) {
            state += button->isEnabled() ? '1' : '0';
        }
        return state + (form->ListBox2->viewport()->acceptDrops() ? "+" : "-") +
               form->lblSerial2->text() + "|" + form->lblLabel2->text() + "|" +
               form->lblType2->text();
    }
    // The details are read off the user-interface thread: waits until `text()` is `expected`.
    template <typename Text>
    static void ExpectShown(const Text& text, const QString& expected) {
        if (!QTest::qWaitFor([&] { return text() == expected; })) {
            EXPECT_EQ(text(), expected);
        }
    }
    void ExpectState(const QString& expected) const {
        ExpectShown([this] { return State(); }, expected);
    }
    static QString Sentence(char letter) {
        std::string sentence;
        GetDriveDescription(letter, &sentence);
        return ToQt(sentence);
    }

    // A drag that enters a list's viewport and, where it is accepted, is dropped.
    static bool Drop(QListWidget* list, const QMimeData& data) {
        QDragEnterEvent enter({5, 5}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &enter);
        if (enter.isAccepted()) {
            QDropEvent drop({5, 5}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &drop);
            QCoreApplication::processEvents();
        }
        return enter.isAccepted();
    }

    std::unique_ptr<TForm1> form;
};

TEST_F(ListsTest, SelectionAfterDeletingASourceOrADestination) {
    const struct {
        bool source;
        int row;
        QStringList left;
    } cases[] = {
        {true, 0, {"*C:\\b#2", "C:\\c#3"}},  {true, 1, {"*C:\\a#1", "C:\\c#3"}},
        {true, 2, {"C:\\a#1", "*C:\\b#2"}},  {false, 0, {"*E:\\x#3", "C:\\c#4"}},
        {false, 1, {"*C:\\b#2", "C:\\c#4"}}, {false, 2, {"C:\\b#2", "*E:\\x#3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        Open({{"C:\\a", "C:\\b", "E:\\x", "C:\\c"}, {"C:\\b"}, {"C:\\c"}});
        form->ListBox1->setCurrentRow(c.source ? c.row : 0);
        if (c.source) {
            form->bbtnDel1->click();
            EXPECT_EQ(Items(form->ListBox1), c.left);
            continue;
        }
        ExpectState("111111+" + kSystem + "|SYSTEM|" + Sentence('C'));
        form->ListBox2->setCurrentRow(c.row);
        form->bbtnDel2->click();
        EXPECT_EQ(Items(form->ListBox2), c.left);
        // The details line describes the destination now selected.
        ExpectShown([this] { return form->lblSerial2->text(); },
                    c.left.join("").contains("*E") ? kStick : kSystem);
    }
    // The only source deleted: nothing left to select, only New source available.
    Open({{"C:\\a", "C:\\b"}});
    form->ListBox1->setCurrentRow(0);
    form->bbtnDel1->click();
    EXPECT_EQ(form->ListBox1->count() + form->ListBox2->count(), 0);
    EXPECT_EQ(State(), QString("100000- | | "));
    EXPECT_TRUE(openings.empty());
}

TEST_F(ListsTest, AddedFoldersAreSelectedAndDescribed) {
    Open({{"C:\\a", "C:\\b"}, {"C:\\C"}, {"C:\\c"}});
    form->ListBox1->setCurrentRow(2);
    EXPECT_EQ(State(), QString("111100+ | | "));  // a source without destinations

    form->ListBox1->setCurrentRow(0);
    plan = {"E:\\x"};
    form->bbtnNew2->click();
    EXPECT_EQ(Items(form->ListBox2), QStringList({"C:\\b#2", "*E:\\x#3"}));
    // A volume without a label: an empty label beside its serial.
    ExpectState("111111+" + kStick + "||" + Sentence('E'));
    const SettingsFile file;
    EXPECT_EQ(file.ReadString("1_TESTPC", "3_TYPE", "") + "/" +
                  file.ReadString("1_TESTPC", "3_SERIAL", ""),
              "2/" + FromQt(kStick));

    // An equal source (but for case) makes a group of its own; the earlier one is selected.
    plan = {"C:\\c"};
    form->bbtnNew1->click();
    form->bbtnNew1->click();  // cancelled: nothing changes
    EXPECT_EQ(Items(form->ListBox1), QStringList({"C:\\a#1", "*C:\\C#2", "C:\\c#3", "C:\\c#4"}));
    ASSERT_EQ(openings.size(), 3u);
    EXPECT_EQ(openings[0].caption + openings[0].path + QString::number(openings[0].folderType),
              QString("Please choose a new Destination Folder1"));  // empty, Backup
    EXPECT_EQ(openings[1].caption, QString("Please choose a new Source Folder "));
    EXPECT_TRUE(openings[1].subfolders);
}

TEST_F(ListsTest, MovedFixedSourceIsListedAsStoredAndChangedUnderItsNewLetter) {
    tarnwick::testing::TempDir disk;
    fs::create_directories(disk / "docs");
    drives->Set('G', {disk.str(), platform::kDriveFixed, 0xD15C0001, "DATA"});
    ASSERT_TRUE(WriteFolderEntry(1, 1, {"D:\\docs", 3, std::to_string(0xD15C0001u), false, true}));
    ASSERT_TRUE(WriteFolderEntry(1, 2, {"C:\\b", 3, FromQt(kSystem), false, false}));
    form = std::make_unique<TForm1>();
    form->show();
    const QPoint first = form->ListBox1->visualItemRect(form->ListBox1->item(0)).center();
    QTest::mouseClick(form->ListBox1->viewport(), Qt::LeftButton, {}, first);
    QTest::mouseDClick(form->ListBox1->viewport(), Qt::LeftButton, {}, first);
    // The stored folder is read off this thread; the dialog opens when it has been read.
    ASSERT_TRUE(QTest::qWaitFor([this] { return !openings.empty(); }));
    ASSERT_EQ(openings.size(), 1u);
    EXPECT_EQ(openings[0].caption, QString("Please specify the change for Source Folder "));
    EXPECT_EQ(openings[0].path, QString("G:\\docs"));
    EXPECT_EQ(Items(form->ListBox1), QStringList({"*D:\\docs#1"}));

    plan = {""};
    form->bbtnChange1->click();
    ExpectShown([this] { return Items(form->ListBox1).join(""); }, "*G:\\docs#1");
    EXPECT_EQ(Items(form->ListBox2), QStringList({"*C:\\b#2"}));
    ExpectShown([this] { return form->lblLabel1->text(); }, QString("DATA"));
}

TEST_F(ListsTest, DroppedItems) {
    tarnwick::testing::WriteFile(systemRoot / "a" / "file.txt", "file");
    const auto urls = [this](std::initializer_list<const char*> names) {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> list;
        for (const char* name : names) {
            list << QUrl::fromLocalFile(QString::fromStdString((systemRoot / name).string()));
        }
        data->setUrls(list);
        return data;
    };
    QMimeData nativePath;
    nativePath.setText(QString::fromStdString((stickRoot / "x").string()));
    Open({{"C:\\a"}});

    EXPECT_FALSE(Drop(form->ListBox2, nativePath));  // no source selected
    EXPECT_TRUE(Drop(form->ListBox1, *urls({"b", "a/file.txt"})));
    EXPECT_TRUE(Drop(form->ListBox1, *urls({"a/file.txt"})));  // passed over without a word
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, BoxIcon::None);
    EXPECT_EQ(messages[0].text, QString("Only one folder at a time"));
    EXPECT_TRUE(openings.empty());

    plan = {""};
    EXPECT_TRUE(Drop(form->ListBox1, *urls({"b"})));
    EXPECT_EQ(Items(form->ListBox1), QStringList({"C:\\a#1", "*C:\\b#2"}));
    EXPECT_TRUE(Drop(form->ListBox2, nativePath));
    ASSERT_EQ(openings.size(), 2u);
    EXPECT_EQ(openings[0].caption + "|" + openings[0].path,
              QString("Please choose a new Source Folder |C:\\b"));
    EXPECT_TRUE(openings[0].subfolders);
    EXPECT_EQ(openings[1].caption + "|" + openings[1].path,
              QString("Please choose a new Destination Folder|E:\\x"));

    form->close();  // the lists no longer take drops
    EXPECT_FALSE(Drop(form->ListBox1, *urls({"b"})));
}

TEST_F(ListsTest, DetailsOfADriveWithoutAMedium) {
    Open({});
    drives->SetMedium('E', false);
    form->ShowFolderDetails("E:\\x", form->lblLabel2, form->lblSerial2, form->lblType2);
    ExpectState("100000-0|E:|" + Sentence('E'));
}

TEST_F(ListsTest, ThreadingAVolumeThatStoppedAnsweringLeavesTheWindowAnswering) {
    Open({{"E:\\x", "C:\\b"}, {"C:\\c"}});
    drives->SetAnswering('E', false);
    form->ListBox1->setCurrentRow(0);  // the source on the silent volume, its destination on C:
    ExpectShown([this] { return form->lblSerial2->text(); }, kSystem);
    EXPECT_EQ(form->lblSerial1->text(), QString(" "));
    // Change asks the silent volume for its serial (the folder may have moved to another letter).
    form->bbtnChange1->click();
    // The lists go on answering, and a late answer is not shown for the folder chosen since.
    form->ListBox1->setCurrentRow(1);
    ExpectShown([this] { return form->lblSerial1->text(); }, kSystem);
    EXPECT_EQ(Items(form->ListBox1), QStringList({"E:\\x#1", "*C:\\c#2"}));
    QTest::mouseClick(form->bbtnClose, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    drives->SetAnswering('E', true);
    form->ListBox1->setCurrentRow(0);
    ExpectShown([this] { return form->lblSerial1->text(); }, kStick);
    // The late answer to Change opens no dialog over a window that was closed.
    EXPECT_TRUE(WaitForBackgroundQuestions(std::chrono::seconds(5)));
    QCoreApplication::processEvents();
    EXPECT_TRUE(openings.empty());
}

TEST_F(ListsTest, WriteErrorIsShownAndTheListsStayAsTheyWere) {
    Open({{"C:\\a", "C:\\b"}, {"C:\\c"}});
    form->ListBox1->setCurrentRow(1);
    fs::permissions(SettingsPath(), fs::perms::owner_read);
    // Real clicks: the error must not unwind through the button's own handling.
    QTest::mouseClick(form->bbtnDel1, Qt::LeftButton);
    EXPECT_FALSE(form->bbtnDel1->isDown());
    form->ListBox1->setCurrentRow(0);
    plan = {"C:\\c"};
    QTest::mouseClick(form->bbtnNew2, Qt::LeftButton);
    EXPECT_EQ(Items(form->ListBox1), QStringList({"*C:\\a#1", "C:\\c#2"}));
    EXPECT_EQ(Items(form->ListBox2), QStringList({"*C:\\b#2"}));
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& message : messages) {
        EXPECT_EQ(message.icon, BoxIcon::Error);
        EXPECT_EQ(message.text, QString("Unable to write to C:\\Tools\\Tarnwick.INI"));
    }
}

}  // namespace
}  // namespace tarnwick::ui
