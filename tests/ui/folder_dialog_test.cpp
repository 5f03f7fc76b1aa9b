#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>

#include "folder_test_support.h"
#include "platform/system/system.h"
#include "ui/Ffolder.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Forms.h"
#include "ui/Text.h"

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
using ui::testing::FolderDialogFixture;
using ui::testing::WaitForDiskInfo;
using ui::testing::WhenModal;

const QString kSystemSerial = QString::number(0x1234ABCDu);
const QString kStickSerial = QString::number(0xCAFE0001u);

// What the dialog showed when it had just opened, and whether it refused Save.
struct Shown {
    QString label, serial, type, explanation;
    int driveType = -1;
    bool saveEnabled = false;
    bool timerRunning = true;
    bool refusedSave = false;
};

class FolderDialogTest : public ::testing::Test, public FolderDialogFixture {
protected:
    FolderDialogTest() { TfrmFolderBrowse = &browser; }
    ~FolderDialogTest() override { TfrmFolderBrowse = nullptr; }

    // Opens the dialog in source (or destination) mode, looks at it and tries Save; closes it
    // with Close when Save is refused. `before` acts on the open dialog first.
    int Open(std::string& path, bool& flag, bool source = true,
             std::function<void(TfrmFolder*)> before = {}) {
        WhenModal<TfrmFolder>([this, before](TfrmFolder* open) {
            EXPECT_TRUE(WaitForDiskInfo(*open));
            shown = Shown{open->lblLabel->text(),  open->lblSerial->text(),
                          open->lblType->text(),   open->lblRadioText->text(),
                          open->DriveType,         open->bbtnVista->isEnabled(),
                          open->Timer1->isActive()};
            if (before) {
                before(open);
            }
            open->done(1);  // Save's action, also where the button is disabled
            shown.refusedSave = open->isVisible();
            if (shown.refusedSave) {
                open->bbtnClose->click();
            }
        });
        return source ? dialog.ExecuteSource(QString(), path, flag)
                      : dialog.ExecuteDestination(QString(), path, flag);
    }

    TfrmFolder dialog;
    TTfrmFolderBrowse browser;
    Shown shown;
};

TEST_F(FolderDialogTest, EmptyPathCannotBeSavedAndCloseKeepsTheCallersValues) {
    std::string path;
    bool subfolders = true;
    EXPECT_EQ(Open(path, subfolders), 2);
    EXPECT_EQ(shown.label + shown.serial + shown.type, QString());
    EXPECT_EQ(shown.driveType, 0);
    EXPECT_FALSE(shown.saveEnabled);
    EXPECT_TRUE(shown.refusedSave);
    EXPECT_EQ(path, "");

    MakeFolder("Data");
    path = "C:\\Data";
    bool merge = true;
    WhenModal<TfrmFolder>([](TfrmFolder* open) {
        EXPECT_EQ(open->windowTitle(), QString("Please choose a new Destination Folder"));
        open->Edit1->setText("C:\\");
        open->RadioGroup1Backup->setChecked(true);
        open->bbtnClose->click();
    });
    EXPECT_EQ(dialog.ExecuteDestination("Please choose a new Destination Folder", path, merge), 2);
    EXPECT_EQ(path, "C:\\Data");
    EXPECT_TRUE(merge);
}

TEST_F(FolderDialogTest, DiskInformationShowsAtOnceAndDescribesTheSavedText) {
    MakeFolder("Data");
    fs::create_directories(stickRoot / "Photos");
    std::string path = "C:\\Data";
    bool merge = false;
    EXPECT_EQ(Open(path, merge, false,
                   [](TfrmFolder* open) {
                       EXPECT_EQ(open->focusWidget(), open->Edit1);
                       open->RadioGroup1Merge->click();
                   }),
              1);
    EXPECT_EQ(shown.label, QString("SYSTEM"));
    EXPECT_EQ(shown.serial, kSystemSerial);
    EXPECT_EQ(shown.type, QString("The disk cannot be removed from the drive."));
    EXPECT_EQ(shown.driveType, 3);
    EXPECT_FALSE(shown.timerRunning);
    EXPECT_TRUE(merge);

    // Save right after typing waits for the final text's answer; what the caller reads then
    // describes that text.
    EXPECT_EQ(Open(path, merge, false,
                   [](TfrmFolder* open) {
                       open->Edit1->setText("E:\\Photos");
                       EXPECT_FALSE(open->bbtnVista->isEnabled());
                       open->done(1);
                       EXPECT_TRUE(open->isVisible());
                       EXPECT_TRUE(WaitForDiskInfo(*open));
                   }),
              1);
    EXPECT_EQ(path, "E:\\Photos");
    EXPECT_EQ(dialog.DriveType, 2);
    EXPECT_EQ(dialog.lblSerial->text(), kStickSerial);
}

TEST_F(FolderDialogTest, WhichPathsAndVolumesAreAccepted) {
    MakeFolder("Data");
    fs::create_directories(stickRoot / "Photos");
    struct Case {
        std::string path;
        bool saved, saveEnabled;
        QString label, serial;
    };
    const Case cases[] = {
        {"C:\\", true, true, "SYSTEM", kSystemSerial},
        {"C:", true, true, "SYSTEM", kSystemSerial},  // a drive as the browser gives it
        {"C:\\Data\\", false, false, "SYSTEM", kSystemSerial},
        {"C:\\Missing", false, false, "SYSTEM", kSystemSerial},
        {"E:\\Photos", true, true, "", kStickSerial},  // a volume without a label
        {"Q:\\", false, false, "Q:", "0"},
        {"\\\\server\\share", false, false, "\\:", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string path = c.path;
        bool subfolders = false;
        EXPECT_EQ(Open(path, subfolders), c.saved ? 1 : 2);
        EXPECT_EQ(shown.saveEnabled, c.saveEnabled);
        EXPECT_EQ(shown.label, c.label);
        EXPECT_EQ(shown.serial, c.serial);
    }

    // A volume without a serial number: Save stays enabled, yet every Save is refused.
    drives->SetSerial('E', 0);
    std::string path = "E:\\Photos";
    bool subfolders = false;
    EXPECT_EQ(Open(path, subfolders), 2);
    EXPECT_TRUE(shown.saveEnabled && shown.refusedSave);
    EXPECT_EQ(shown.serial, QString("0"));
}

TEST_F(FolderDialogTest, ExplanationDescribesTheShownControlAfterEveryOpening) {
    std::string path;
    bool on = true;
    bool off = false;
    const std::tuple<bool, bool*, QString> openings[] = {
        {true, &on, " Files & all subfolders will be synchronised."},
        {false, &off,
         " Files & folders will only be copied TO this folder, if they do not exist "
         "or are newer."},
        {true, &on, " Files & all subfolders will be synchronised."},
        {false, &on,
         " Files & folders will be copied TO and FROM this folder, if they do not "
         "exist or are newer."},
        {true, &off, " Only files in this folder will be synchronised."},
    };
    for (const auto& [source, flag, explanation] : openings) {
        Open(path, *flag, source);
        EXPECT_EQ(shown.explanation, explanation);
    }
}

TEST_F(FolderDialogTest, BrowseTakesTheChosenFolderAndKeepsThePathOnClose) {
    MakeFolder("Data");
    std::string path = "C:\\Data";
    bool subfolders = true;
    EXPECT_EQ(
        Open(path, subfolders, true,
             [](TfrmFolder* open) {
                 WhenModal<TTfrmFolderBrowse>([](TTfrmFolderBrowse* shown) {
                     EXPECT_EQ(shown->Panel1->text(), QString("    Please choose a folder"));
                     shown->BitBtn2->click();
                 });
                 open->btnBrowse->click();
                 EXPECT_EQ(open->Edit1->text(), QString("C:\\Data"));
                 WhenModal<TTfrmFolderBrowse>([](TTfrmFolderBrowse* shown) {
                     shown->TreeView1->setCurrentItem(shown->TreeView1->topLevelItem(0));
                     ASSERT_TRUE(QTest::qWaitFor([shown] { return shown->bbtnSave->isEnabled(); }));
                     shown->bbtnSave->click();
                 });
                 open->btnBrowse->click();
                 EXPECT_TRUE(open->Timer1->isActive());
                 open->Timer1Timer();
                 EXPECT_TRUE(WaitForDiskInfo(*open));
             }),
        1);
    EXPECT_EQ(path, "C:");
}

TEST_F(FolderDialogTest, NativePathsAndFileUrlsBecomeDrivePaths) {
    MakeFolder("My Photos/2009");
    bool subfolders = false;
    const std::pair<std::string, std::string> accepted[] = {
        {(systemRoot / "My Photos/2009").string(), "C:\\My Photos\\2009"},
        {"file://" + systemRoot.str() + "/My%20Photos/", "C:\\My Photos"},
        {stickRoot.str(), "E:\\"},
        {"C:/My Photos/2009", "C:\\My Photos\\2009"},
        {"~/My Photos/2009", "C:\\My Photos\\2009"},
        {"~", "C:\\"},
    };
    platform::SetHomeFolderForTesting(systemRoot.str());
    for (const auto& [typed, drivePath] : accepted) {
        std::string path = typed;
        EXPECT_EQ(Open(path, subfolders), 1);
        EXPECT_EQ(path, drivePath);
    }
    // A native path turned into a drive path while its first part was typed: the rest leads
    // into a stick mounted below that part, and the folder takes the stick's letter.
    MakeFolder("media/CARD/DCIM");
    drives->Set('F', {(systemRoot / "media/CARD").string(), platform::kDriveRemovable, 7, ""});
    std::string typedOn = "C:\\media/CARD/DCIM";
    EXPECT_EQ(Open(typedOn, subfolders), 1);
    EXPECT_EQ(typedOn, "F:\\DCIM");
    // Outside every drive, on another host, or in another user's home: kept as typed, not saved.
    for (const std::string typed : {"/nowhere/at/all", "file://server/share/folder", "~nobody/x"}) {
        std::string path = typed;
        EXPECT_EQ(Open(path, subfolders), 2);
        EXPECT_EQ(path, typed);
    }
    platform::SetHomeFolderForTesting(std::nullopt);
}

TEST_F(FolderDialogTest, TypingStartsTheRefreshTimerOnceWithoutRestartingIt) {
    dialog.Edit1->setText("C:\\");
    const int timer = dialog.Timer1->timerId();
    dialog.Edit1->setText("C:\\D");
    EXPECT_EQ(dialog.Timer1->timerId(), timer);
    dialog.Timer1Timer();
    EXPECT_FALSE(dialog.Timer1->isActive());
    EXPECT_TRUE(WaitForDiskInfo(dialog));
    EXPECT_EQ(dialog.DriveType, 3);
}

TEST_F(FolderDialogTest, ThreadingAVolumeThatStoppedAnsweringLeavesTheDialogAnswering) {
    MakeFolder("Data");
    fs::create_directories(stickRoot / "Photos");
    drives->SetAnswering('E', false);
    std::string path = "E:\\Photos";
    bool subfolders = false;
    WhenModal<TfrmFolder>([this](TfrmFolder* open) {
        EXPECT_TRUE(open->DiskInfoPending());
        EXPECT_FALSE(open->bbtnVista->isEnabled());
        open->done(1);  // no Save before the answer
        EXPECT_TRUE(open->isVisible());
        open->Edit1->selectAll();
        QTest::keyClicks(open->Edit1, "C:\\Data");
        EXPECT_TRUE(WaitForDiskInfo(*open));
        EXPECT_EQ(open->lblSerial->text(), kSystemSerial);
        EXPECT_TRUE(open->bbtnVista->isEnabled());
        // The stick's late answer is for a path no longer typed.
        drives->SetAnswering('E', true);
        EXPECT_TRUE(WaitForBackgroundQuestions(std::chrono::seconds(5)));
        QCoreApplication::processEvents();
        EXPECT_EQ(open->lblSerial->text(), kSystemSerial);
        QTest::mouseClick(open->bbtnClose, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.ExecuteSource(QString(), path, subfolders), 2);
    drives->SetAnswering('E', true);
}

TEST_F(FolderDialogTest, PathsThatDoNotFitTheCallersBuffersAreRefusedNotCut) {
    // Existing folders whose drive paths take 1,023 and 1,024 bytes.
    const std::string parent = std::string(199, 'd') + '/' + std::string(199, 'd') + '/' +
                               std::string(199, 'd') + '/' + std::string(199, 'd') + '/' +
                               std::string(199, 'd') + '/';
    const std::string name(1023 - 3 - parent.size(), 'f');
    MakeFolder(parent + name);
    MakeFolder(parent + name + 'f');
    std::string fits = "C:\\" + parent + name;
    std::replace(fits.begin(), fits.end(), '/', '\\');
    const std::string tooLong = fits + 'f';

    std::string path = fits;
    bool subfolders = false;
    EXPECT_EQ(Open(path, subfolders), 1);
    path = tooLong;
    EXPECT_EQ(Open(path, subfolders, true,
                   [&](TfrmFolder* open) { EXPECT_EQ(FromQt(open->Edit1->text()), tooLong); }),
              2);
    EXPECT_FALSE(shown.saveEnabled);

    // The browser cannot hand back what would not fit either.
    browser.FillDrives();
    browser.SelectPath(tooLong, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.RoadPending(); }));
    EXPECT_EQ(browser.NodePath(browser.Selected()), tooLong);
    EXPECT_FALSE(browser.bbtnSave->isEnabled());
}

}  // namespace
}  // namespace tarnwick::ui
