// Start-up order of the windows, Copy and Run, the Help menu and the About window.
#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <functional>

#include "main_window_test_support.h"
#include "ui/Fabout.h"
#include "ui/Flog.h"
#include "ui/Unit1.h"

static void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
using testing::WhenModal;

TEST(StartupTest, WindowsAreCreatedHiddenInTheirOrderAndEndTogether) {
    {
        const ProgramWindows windows;
        ASSERT_NE(Form1, nullptr);
        const QList<QDialog*> dialogs = Form1->findChildren<QDialog*>(Qt::FindDirectChildrenOnly);
        ASSERT_EQ(dialogs.size(), 4);
        EXPECT_EQ(dialogs[0], frmFolder);
        EXPECT_EQ(dialogs[1], TfrmFolderBrowse);
        EXPECT_EQ(dialogs[2], frmAbout);
        EXPECT_EQ(dialogs[3], Form2);
        EXPECT_FALSE(Form1->isVisible());
        for (const QDialog* dialog : dialogs) {
            EXPECT_FALSE(dialog->isVisible());
        }
        Form2->Memo1->setPlainText("Memo1");
        Form1->show();
        EXPECT_EQ(Form1->LogMemo.data(), Form2->Memo1);
        EXPECT_EQ(Form2->Memo1->toPlainText(), QString());
        Form1->close();
    }
    EXPECT_EQ(Form1, nullptr);
    EXPECT_EQ(Form2, nullptr);
}

class CopyAndRunTest : public ::testing::Test, public testing::MainWindowFixture {
protected:
    CopyAndRunTest() {
        tarnwick::testing::WriteFile(systemRoot / "Tools" / "Tarnwick.exe", "the program");
        fs::permissions(systemRoot / "Tools" / "Tarnwick.exe", fs::perms::owner_all);
        fs::create_directories(stickRoot / "run");
        SetStartProgramHookForTesting([this](const QString& program) {
            started << program;
            return startSucceeds;
        });
        form.show();
    }
    ~CopyAndRunTest() override { SetStartProgramHookForTesting({}); }

    // Runs Copy and Run; the browser answers with `folder`, or is cancelled when it is empty.
    void CopyAndRun(const std::string& folder) {
        WhenModal<TTfrmFolderBrowse>([this, folder](TTfrmFolderBrowse* shown) {
            prompt = shown->Panel1->text();
            initial = shown->FolderPath;
            if (folder.empty()) {
                shown->BitBtn2->click();
                return;
            }
            shown->SelectPath(folder, false);
            shown->bbtnSave->click();
        });
        form.Copythisapplicatio1->trigger();
    }

    fs::path Target() const { return stickRoot / "run" / "Tarnwick.exe"; }

    TForm1 form;
    QStringList started;
    bool startSucceeds = true;
    QString prompt;
    std::string initial = "unset";
};

TEST_F(CopyAndRunTest, CancelledBrowserDoesNothing) {
    CopyAndRun("");
    EXPECT_EQ(prompt, QString(" Please choose a folder where to copy & run Tarnwick.exe from"));
    EXPECT_EQ(initial, "");
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_TRUE(started.isEmpty() && shownBoxes.empty());
    EXPECT_TRUE(form.isVisible());
}

TEST_F(CopyAndRunTest, CopiesOverAnExistingFileStartsTheCopyAndCloses) {
    tarnwick::testing::WriteFile(Target(), "an older version");
    CopyAndRun("E:\\run");
    EXPECT_EQ(tarnwick::testing::ReadFile(Target()), "the program");
    EXPECT_NE(fs::status(Target()).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_FALSE(fs::exists(stickRoot / "run" / "Tarnwick.INI"));
    EXPECT_EQ(started, QStringList({QString::fromStdString(Target().string())}));
    EXPECT_TRUE(shownBoxes.empty());
    EXPECT_FALSE(form.isVisible());
}

TEST_F(CopyAndRunTest, FailuresAreToldAndTheProgramStaysOpen) {
    // A file of that name that may not be written.
    tarnwick::testing::WriteFile(Target(), "kept");
    fs::permissions(Target(), fs::perms::owner_read);
    CopyAndRun("E:\\run");
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(shownBoxes[0].caption, QString("Could not copy the application"));
    EXPECT_EQ(shownBoxes[0].text,
              QString(" Unable to copy the appliction to \n\n\"E:\\run\\Tarnwick.exe\"."));
    EXPECT_EQ(tarnwick::testing::ReadFile(Target()), "kept");
    EXPECT_TRUE(started.isEmpty());

    // Copied, but the copy does not start.
    fs::permissions(Target(), fs::perms::owner_all);
    startSucceeds = false;
    CopyAndRun("E:\\run");
    ASSERT_EQ(shownBoxes.size(), 2u);
    EXPECT_EQ(shownBoxes[1].icon, BoxIcon::Error);
    EXPECT_EQ(shownBoxes[1].caption, QString("E:\\run\\Tarnwick.exe"));
    EXPECT_EQ(shownBoxes[1].text, QString("Could not run the application"));
    EXPECT_EQ(tarnwick::testing::ReadFile(Target()), "the program");
    EXPECT_TRUE(form.isVisible());
}

TEST_F(CopyAndRunTest, HelpPagesBesideTheProgramAndTheAboutWindow) {
    tarnwick::testing::WriteFile(systemRoot / "Tools" / "help" / "getting-started.html", "<html/>");
    tarnwick::testing::WriteFile(systemRoot / "Tools" / "help" / "online-documentation.html",
                                 "<html/>");
    form.Gettingstarted1->trigger();
    form.OnlineHelp1->trigger();
    const QString help =
        QUrl::fromLocalFile(QString::fromStdString((systemRoot / "Tools" / "help").string()))
            .toString();
    EXPECT_EQ(opened, std::vector<QString>(
                          {help + "/getting-started.html", help + "/online-documentation.html"}));

    TfrmAbout about(&form);
    frmAbout = &about;
    bool shown = false;
    WhenModal<TfrmAbout>([&shown](TfrmAbout* open) {
        shown = true;
        open->bbtnOk->click();
    });
    form.About1->trigger();
    frmAbout = nullptr;
    EXPECT_TRUE(shown);
}

}  // namespace
}  // namespace tarnwick::ui
