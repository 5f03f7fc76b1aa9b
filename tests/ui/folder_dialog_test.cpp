#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

#include "folder_test_support.h"
#include "ui/Ffolder.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Forms.h"
#include "ui/Text.h"

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
using ui::testing::FolderDialogFixture;
using ui::testing::WhenModal;

const QString kSubfoldersText = " Files & all subfolders will be synchronised.";
const QString kOwnFilesText = " Only files in this folder will be synchronised.";
const QString kMergeText =
    " Files & folders will be copied TO and FROM this folder, if they do not exist or are newer.";
const QString kBackupText =
    " Files & folders will only be copied TO this folder, if they do not exist or are newer.";

// What the dialog showed while it was open.
struct Shown {
    QString title;
    QString label;
    QString serial;
    QString type;
    QString explanation;
    int driveType = -1;
    bool saveEnabled = false;
    bool timerRunning = true;
    bool stayedOpenOnSave = false;
};

class FolderDialogTest : public ::testing::Test, public FolderDialogFixture {
protected:
    FolderDialogTest() {
        frmFolder = &dialog;
        TfrmFolderBrowse = &browser;
    }
    ~FolderDialogTest() override {
        frmFolder = nullptr;
        TfrmFolderBrowse = nullptr;
    }

    static Shown Look(TfrmFolder* open) {
        return Shown{open->windowTitle(),          open->lblLabel->text(),
                     open->lblSerial->text(),      open->lblType->text(),
                     open->lblRadioText->text(),   open->DriveType,
                     open->bbtnVista->isEnabled(), open->Timer1->isActive()};
    }

    // Opens the dialog, looks at it, tries Save and closes it with Close if Save was refused.
    int SourceThenSave(const QString& caption, std::string& path, bool& subfolders, Shown& shown) {
        WhenModal<TfrmFolder>([&shown](TfrmFolder* open) { SaveOrClose(open, shown); });
        return dialog.ExecuteSource(caption, path, subfolders);
    }
    int DestinationThenSave(std::string& path, bool& merge, Shown& shown) {
        WhenModal<TfrmFolder>([&shown](TfrmFolder* open) { SaveOrClose(open, shown); });
        return dialog.ExecuteDestination(QString(), path, merge);
    }
    static void SaveOrClose(TfrmFolder* open, Shown& shown) {
        shown = Look(open);
        open->done(1);  // the Save button's action, also where the button is disabled
        shown.stayedOpenOnSave = open->isVisible();
        if (shown.stayedOpenOnSave) {
            open->bbtnClose->click();
        }
    }

    TfrmFolder dialog;
    TTfrmFolderBrowse browser;
};

TEST_F(FolderDialogTest, WindowAsDesigned) {
    EXPECT_EQ(dialog.windowTitle(), QString("Specify folder"));
    EXPECT_EQ(dialog.size(), QSize(653, 245));
    EXPECT_EQ(dialog.minimumSize(), QSize(653, 245));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_EQ(dialog.bbtnVista->toolTip(), QString("Save the selected folder"));
    EXPECT_EQ(dialog.bbtnClose->toolTip(), QString("Cancel and Close this window"));
    EXPECT_EQ(dialog.RadioGroup1->title(), QString("Folder type"));
    EXPECT_EQ(dialog.RadioGroup1ItemIndex(), -1);
    EXPECT_FALSE(dialog.chkSubfolders->isChecked());
    EXPECT_EQ(dialog.DriveType, 0);
    EXPECT_EQ(dialog.Timer1->interval(), 300);

    // The path field reaches up to the browse button, also after a resize.
    dialog.resize(900, 245);
    dialog.show();
    EXPECT_EQ(dialog.Edit1->geometry().right() + 1, dialog.PanelBrowse->x());
    EXPECT_EQ(dialog.PanelBrowse->geometry().right() + 1, 900);
}

TEST_F(FolderDialogTest, EmptyPathCannotBeSavedAndCloseKeepsTheCallersValues) {
    std::string path;
    bool subfolders = true;
    Shown shown;
    EXPECT_EQ(SourceThenSave("Please choose a new Source Folder ", path, subfolders, shown), 2);
    EXPECT_EQ(shown.title, QString("Please choose a new Source Folder "));
    EXPECT_EQ(shown.label, QString());
    EXPECT_EQ(shown.serial, QString());
    EXPECT_EQ(shown.type, QString());
    EXPECT_EQ(shown.driveType, 0);
    EXPECT_FALSE(shown.saveEnabled);
    EXPECT_TRUE(shown.stayedOpenOnSave);
    EXPECT_EQ(path, "");
    EXPECT_TRUE(subfolders);

    // Close with a good folder after changing everything: the caller's values stay.
    MakeFolder("Data");
    path = "C:\\Data";
    bool merge = true;
    WhenModal<TfrmFolder>([](TfrmFolder* open) {
        open->Edit1->setText("C:\\Other");
        open->RadioGroup1Backup->setChecked(true);
        open->bbtnClose->click();
    });
    EXPECT_EQ(dialog.ExecuteDestination("Please choose a new Destination Folder", path, merge), 2);
    EXPECT_EQ(path, "C:\\Data");
    EXPECT_TRUE(merge);
}

TEST_F(FolderDialogTest, ExistingFolderShowsItsDiskAtOnceAndIsSavedWithIt) {
    MakeFolder("Data");
    std::string path = "C:\\Data";
    bool merge = false;
    Shown shown;
    WhenModal<TfrmFolder>([&](TfrmFolder* open) {
        shown = Look(open);
        EXPECT_EQ(open->focusWidget(), open->Edit1);
        // Enter and Escape close nothing.
        QTest::keyClick(open->Edit1, Qt::Key_Escape);
        QTest::keyClick(open->Edit1, Qt::Key_Return);
        EXPECT_TRUE(open->isVisible());
        open->RadioGroup1Merge->click();
        open->bbtnVista->click();
    });
    EXPECT_EQ(dialog.ExecuteDestination(QString(), path, merge), 1);
    EXPECT_EQ(shown.title, QString("Specify folder"));
    EXPECT_EQ(shown.label, QString("SYSTEM"));
    EXPECT_EQ(shown.serial, QString::number(0x1234ABCDu));
    EXPECT_EQ(shown.type, QString("The disk cannot be removed from the drive."));
    EXPECT_EQ(shown.driveType, 3);
    EXPECT_TRUE(shown.saveEnabled);
    EXPECT_FALSE(shown.timerRunning);
    EXPECT_EQ(path, "C:\\Data");
    EXPECT_TRUE(merge);
    EXPECT_EQ(dialog.DriveType, 3);
    EXPECT_EQ(dialog.lblSerial->text(), QString::number(0x1234ABCDu));

    // Save right after typing: what the caller reads describes the final text.
    fs::create_directories(stickRoot / "Photos");
    WhenModal<TfrmFolder>([](TfrmFolder* open) {
        open->Edit1->setText("E:\\Photos");
        open->bbtnVista->click();
    });
    EXPECT_EQ(dialog.ExecuteDestination(QString(), path, merge), 1);
    EXPECT_EQ(path, "E:\\Photos");
    EXPECT_EQ(dialog.DriveType, 2);
    EXPECT_EQ(dialog.lblSerial->text(), QString::number(0xCAFE0001u));
}

TEST_F(FolderDialogTest, WhichPathsAndVolumesAreAccepted) {
    MakeFolder("Data");
    fs::create_directories(stickRoot / "Photos");
    struct Case {
        std::string path;
        bool saved;
        bool saveEnabled;
        QString label;
        QString serial;
    };
    const QString system = QString::number(0x1234ABCDu);
    const QString stick = QString::number(0xCAFE0001u);
    const Case cases[] = {
        {"C:\\", true, true, "SYSTEM", system},
        {"C:", true, true, "SYSTEM", system},  // what the browser gives for a drive
        {"C:\\Data\\", false, false, "SYSTEM", system},
        {"C:\\Missing", false, false, "SYSTEM", system},
        {"E:\\Photos", true, true, "", stick},  // a volume without a label
        {"Q:\\", false, false, "Q:", "0"},
        {"\\\\server\\share", false, false, "\\:", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string path = c.path;
        bool subfolders = false;
        Shown shown;
        EXPECT_EQ(SourceThenSave(QString(), path, subfolders, shown), c.saved ? 1 : 2);
        EXPECT_EQ(shown.saveEnabled, c.saveEnabled);
        EXPECT_EQ(shown.label, c.label);
        EXPECT_EQ(shown.serial, c.serial);
    }

    // A volume that reports no serial number: Save stays enabled, yet every Save is refused.
    drives->SetSerial('E', 0);
    std::string path = "E:\\Photos";
    bool subfolders = false;
    Shown shown;
    EXPECT_EQ(SourceThenSave(QString(), path, subfolders, shown), 2);
    EXPECT_TRUE(shown.saveEnabled);
    EXPECT_TRUE(shown.stayedOpenOnSave);
    EXPECT_EQ(shown.serial, QString("0"));
    // No medium: the label line shows the drive text.
    drives->SetMedium('E', false);
    EXPECT_EQ(SourceThenSave(QString(), path, subfolders, shown), 2);
    EXPECT_EQ(shown.label, QString("E:"));
    EXPECT_EQ(shown.driveType, 2);
}

TEST_F(FolderDialogTest, ExplanationDescribesTheShownControlAfterEveryOpening) {
    std::string path;
    bool on = true;
    bool off = false;
    Shown shown;
    SourceThenSave(QString(), path, on, shown);
    EXPECT_EQ(shown.explanation, kSubfoldersText);
    DestinationThenSave(path, off, shown);
    EXPECT_EQ(shown.explanation, kBackupText);
    SourceThenSave(QString(), path, on, shown);
    EXPECT_EQ(shown.explanation, kSubfoldersText);
    DestinationThenSave(path, on, shown);
    EXPECT_EQ(shown.explanation, kMergeText);
    SourceThenSave(QString(), path, off, shown);
    EXPECT_EQ(shown.explanation, kOwnFilesText);
    EXPECT_FALSE(dialog.RadioGroup1->isVisibleTo(&dialog));
    EXPECT_TRUE(dialog.chkSubfolders->isVisibleTo(&dialog));

    // The user's changes while open.
    MakeFolder("Data");
    path = "C:\\Data";
    bool merge = true;
    QStringList seen;
    WhenModal<TfrmFolder>([&](TfrmFolder* open) {
        EXPECT_TRUE(open->RadioGroup1->isVisible());
        EXPECT_FALSE(open->chkSubfolders->isVisible());
        open->RadioGroup1Backup->click();
        seen << open->lblRadioText->text();
        open->bbtnVista->click();
    });
    EXPECT_EQ(dialog.ExecuteDestination(QString(), path, merge), 1);
    EXPECT_EQ(seen, QStringList{kBackupText});
    EXPECT_FALSE(merge);
    bool subfolders = false;
    WhenModal<TfrmFolder>([&](TfrmFolder* open) {
        open->chkSubfolders->click();
        seen << open->lblRadioText->text();
        open->bbtnVista->click();
    });
    EXPECT_EQ(dialog.ExecuteSource(QString(), path, subfolders), 1);
    EXPECT_EQ(seen.last(), kSubfoldersText);
    EXPECT_TRUE(subfolders);
}

TEST_F(FolderDialogTest, BrowseTakesTheChosenFolderAndKeepsThePathOnClose) {
    MakeFolder("Data");
    std::string path = "C:\\Data";
    bool subfolders = true;
    QString afterClose;
    QString afterDrive;
    QString prompt;
    WhenModal<TfrmFolder>([&](TfrmFolder* open) {
        WhenModal<TTfrmFolderBrowse>([&](TTfrmFolderBrowse* shown) {
            prompt = shown->Panel1->text();
            shown->BitBtn2->click();
        });
        open->btnBrowse->click();
        afterClose = open->Edit1->text();

        WhenModal<TTfrmFolderBrowse>([](TTfrmFolderBrowse* shown) {
            shown->TreeView1->setCurrentItem(shown->TreeView1->topLevelItem(0));
            shown->bbtnSave->click();
        });
        open->btnBrowse->click();
        afterDrive = open->Edit1->text();
        EXPECT_TRUE(open->Timer1->isActive());
        open->bbtnVista->click();
    });
    EXPECT_EQ(dialog.ExecuteSource(QString(), path, subfolders), 1);
    EXPECT_EQ(prompt, QString("    Please choose a folder"));
    EXPECT_EQ(afterClose, QString("C:\\Data"));
    EXPECT_EQ(afterDrive, QString("C:"));
    EXPECT_EQ(path, "C:");
}

TEST_F(FolderDialogTest, NativePathsAndFileUrlsBecomeDrivePaths) {
    MakeFolder("My Photos/2009");
    std::string path = (systemRoot / "My Photos/2009").string();
    bool subfolders = false;
    Shown shown;
    EXPECT_EQ(SourceThenSave(QString(), path, subfolders, shown), 1);
    EXPECT_EQ(path, "C:\\My Photos\\2009");

    path = "file://" + systemRoot.str() + "/My%20Photos/";
    EXPECT_EQ(SourceThenSave(QString(), path, subfolders, shown), 1);
    EXPECT_EQ(path, "C:\\My Photos");

    // Typed while the dialog is open, the path is rewritten by the next refresh.
    WhenModal<TfrmFolder>([&](TfrmFolder* open) {
        open->Edit1->setText(ToQt(stickRoot.str()));
        open->Timer1Timer();
        EXPECT_EQ(open->Edit1->text(), QString("E:\\"));
        open->bbtnVista->click();
    });
    EXPECT_EQ(dialog.ExecuteSource(QString(), path, subfolders), 1);
    EXPECT_EQ(path, "E:\\");

    // A native path outside every drive, or a remote URL, stays as typed and cannot be saved.
    for (const std::string& typed :
         {std::string("/nowhere/at/all"), std::string("file://server/share/folder")}) {
        path = typed;
        EXPECT_EQ(SourceThenSave(QString(), path, subfolders, shown), 2);
        EXPECT_EQ(path, typed);
        EXPECT_FALSE(shown.saveEnabled);
    }
}

TEST_F(FolderDialogTest, TypingStartsTheRefreshTimerOnceWithoutRestartingIt) {
    dialog.Edit1->setText("C:\\");
    ASSERT_TRUE(dialog.Timer1->isActive());
    const int timer = dialog.Timer1->timerId();
    dialog.Edit1->setText("C:\\D");
    EXPECT_EQ(dialog.Timer1->timerId(), timer);
    dialog.Timer1Timer();
    EXPECT_FALSE(dialog.Timer1->isActive());
    EXPECT_EQ(dialog.DriveType, 3);
}

TEST_F(FolderDialogTest, PathsThatDoNotFitTheCallersBuffersAreRefusedNotCut) {
    // Two existing folders whose drive paths take 1,023 and 1,024 bytes.
    std::string relative;
    while (relative.size() + 3 < 1023 - 200) {
        relative += std::string(199, 'd') + '/';
    }
    const std::size_t last = 1023 - 3 - relative.size();
    MakeFolder(relative + std::string(last, 'f'));
    MakeFolder(relative + std::string(last + 1, 'f'));
    std::string fits = "C:\\" + relative + std::string(last, 'f');
    std::replace(fits.begin(), fits.end(), '/', '\\');
    ASSERT_EQ(fits.size(), 1023u);
    const std::string tooLong = fits + 'f';

    std::string path = fits;
    bool subfolders = false;
    Shown shown;
    EXPECT_EQ(SourceThenSave(QString(), path, subfolders, shown), 1);
    EXPECT_EQ(path, fits);

    path = tooLong;
    QString held;
    WhenModal<TfrmFolder>([&](TfrmFolder* open) {
        held = open->Edit1->text();
        shown = Look(open);
        open->bbtnVista->click();
        open->bbtnClose->click();
    });
    EXPECT_EQ(dialog.ExecuteSource(QString(), path, subfolders), 2);
    EXPECT_EQ(FromQt(held), tooLong);
    EXPECT_FALSE(shown.saveEnabled);

    // Typing stops at the limit; the browser cannot hand back what would not fit.
    EXPECT_EQ(dialog.Edit1->maxLength(), 1024);
    path = "C:\\";
    SourceThenSave(QString(), path, subfolders, shown);
    EXPECT_EQ(dialog.Edit1->maxLength(), 1023);
    browser.FillDrives();
    browser.SelectPath(tooLong, false);
    EXPECT_EQ(browser.NodePath(browser.Selected()), tooLong);
    EXPECT_FALSE(browser.bbtnSave->isEnabled());
    browser.SelectPath(fits, false);
    EXPECT_TRUE(browser.bbtnSave->isEnabled());
}

}  // namespace
}  // namespace tarnwick::ui
