// Start-up order of the windows, Copy and Run, the Help menu and the About window.
#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBrowser>

#include "main_window_test_support.h"
#include "ui/Fabout.h"
#include "ui/Flog.h"
#include "ui/Unit1.h"

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
using tarnwick::testing::ReadFile;
using tarnwick::testing::TempDir;
using tarnwick::testing::WriteFile;

TEST(StartupTest, WindowsAreCreatedHiddenInTheirOrderAndEndTogether) {
    {
        const ProgramWindows windows;
        ASSERT_NE(Form1, nullptr);
        EXPECT_EQ(Form1->findChildren<QDialog*>(Qt::FindDirectChildrenOnly),
                  QList<QDialog*>({frmFolder, TfrmFolderBrowse, frmAbout, Form2}));
        EXPECT_FALSE(Form1->isVisible() || frmFolder->isVisible() || Form2->isVisible());
        Form2->Memo1->setPlainText("Memo1");
        Form1->show();
        EXPECT_EQ(Form1->LogMemo.data(), Form2->Memo1);
        EXPECT_EQ(Form2->Memo1->toPlainText(), QString());
    }
    EXPECT_TRUE(Form1 == nullptr && Form2 == nullptr);
}

class CopyAndRunTest : public ::testing::Test, public testing::MainWindowFixture {
protected:
    CopyAndRunTest() {
        WriteFile(systemRoot / "Tools" / "Tarnwick.exe", "the program");
        fs::permissions(systemRoot / "Tools" / "Tarnwick.exe", fs::perms::owner_all);
        fs::create_directories(stickRoot / "run");
        SetStartProgramHookForTesting([this](const QString& program) {
            started << program;
            return startSucceeds;
        });
        form.show();
    }
    ~CopyAndRunTest() override { SetStartProgramHookForTesting({}); }

    TForm1 form;
    QStringList started;
    bool startSucceeds = true;
};

TEST_F(CopyAndRunTest, CopyStartAndTheirFailures) {
    const fs::path target = stickRoot / "run" / "Tarnwick.exe";
    const struct {
        std::string folder;  // empty: the browser is cancelled
        fs::perms existing;  // of a file already at the target; none: no file
        bool startSucceeds;
        QString caption, text;  // of the box shown
        std::string content;    // at the target afterwards
    } cases[] = {
        {"", fs::perms::none, true, "", "", ""},
        {"E:\\run", fs::perms::owner_read, true, "Could not copy the application",
         " Unable to copy the appliction to \n\n\"E:\\run\\Tarnwick.exe\".", "kept"},
        {"E:\\run", fs::perms::owner_all, false, "E:\\run\\Tarnwick.exe",
         "Could not run the application", "the program"},
        {"E:\\run", fs::perms::owner_all, true, "", "", "the program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder + "/" + std::to_string(c.startSucceeds));
        fs::remove(target);
        if (c.existing != fs::perms::none) {
            WriteFile(target, "kept");
            fs::permissions(target, c.existing);
        }
        startSucceeds = c.startSucceeds;
        started.clear();
        messages.clear();
        QString prompt;
        testing::WhenModal<TTfrmFolderBrowse>([&](TTfrmFolderBrowse* shown) {
            prompt = shown->Panel1->text() + "|" + ToQt(shown->FolderPath);
            shown->SelectPath(c.folder, false);
            // The walk to the folder and the Save check are answered off the UI thread.
            if (!c.folder.empty()) {
                EXPECT_TRUE(QTest::qWaitFor([shown] { return shown->bbtnSave->isEnabled(); }));
            }
            (c.folder.empty() ? shown->BitBtn2 : shown->bbtnSave)->click();
        });
        form.Copythisapplicatio1->trigger();

        EXPECT_EQ(prompt,
                  QString(" Please choose a folder where to copy & run Tarnwick.exe from|"));
        EXPECT_EQ(fs::exists(target) ? ReadFile(target) : "", c.content);
        EXPECT_EQ(messages.empty() ? "|" : messages[0].caption + "|" + messages[0].text,
                  c.caption + "|" + c.text);
        for (const auto& message : messages) {
            EXPECT_EQ(message.icon, BoxIcon::Error);
        }
        const bool copied = c.content == "the program";
        EXPECT_EQ(started,
                  copied ? QStringList({QString::fromStdString(target.string())}) : QStringList());
        EXPECT_EQ(form.isVisible(), !(copied && c.startSucceeds));
    }
    EXPECT_NE(fs::status(target).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_FALSE(fs::exists(stickRoot / "run" / "Tarnwick.INI"));
}

TEST_F(CopyAndRunTest, HelpPagesCarriedOrBesideTheProgramAndTheAboutWindow) {
    const fs::path help = systemRoot / "Tools" / "help";
    WriteFile(help / "getting-started.html", "<html/>");
    WriteFile(help / "online-documentation.html", "<html/>");
    form.Gettingstarted1->trigger();
    form.OnlineHelp1->trigger();
    const QString url = QUrl::fromLocalFile(QString::fromStdString(help.string())).toString();
    EXPECT_EQ(opened, std::vector<QString>(
                          {url + "/getting-started.html", url + "/online-documentation.html"}));

    // The pages the executable carries are written into the runtime folder (once, and again
    // where an older page lies there) and opened from there.
    opened.clear();
    const fs::path runtime = systemRoot / "run-user";
    platform::SetRuntimeFolderForTesting(runtime.string());
    WriteFile(runtime / "help" / "online-documentation.html", "an older page");
    form.Gettingstarted1->trigger();
    form.OnlineHelp1->trigger();
    const QString carried =
        QUrl::fromLocalFile(QString::fromStdString((runtime / "help").string())).toString();
    EXPECT_EQ(opened, std::vector<QString>({carried + "/getting-started.html",
                                            carried + "/online-documentation.html"}));
    for (const char* page : {"getting-started.html", "online-documentation.html"}) {
        EXPECT_EQ(ReadFile(runtime / "help" / page).rfind("<!DOCTYPE html>", 0), 0U) << page;
    }

    TfrmAbout about(&form);
    frmAbout = &about;
    testing::WhenModal<TfrmAbout>([](TfrmAbout* open) { open->bbtnOk->click(); });
    form.About1->trigger();
    frmAbout = nullptr;
    EXPECT_EQ(about.result(), 1);
}

TEST_F(CopyAndRunTest, WithoutABrowserTheHelpPageOpensInAWindowOfTheProgram) {
    // The desktop cannot start a browser: the program shows the page it carries, in one window.
    SetOpenDocumentHookForTesting([](const QString&) { return false; });
    for (QAction* command : {form.Gettingstarted1, form.OnlineHelp1}) {
        command->trigger();
    }
    const QList<QDialog*> windows = form.findChildren<QDialog*>("HelpWindow");
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows[0]->isVisible());
    EXPECT_EQ(windows[0]->windowTitle(), QString("Tarnwick: documentation"));
    const auto* page = windows[0]->findChild<QTextBrowser*>("HelpBrowser");
    EXPECT_TRUE(page->toPlainText().contains("Tarnwick")) << page->toPlainText().toStdString();
    QTest::keyClick(windows[0], Qt::Key_Escape);
    EXPECT_FALSE(windows[0]->isVisible());
}

TEST_F(CopyAndRunTest, AnOpenerThatFailsLeavesTheHelpPageToAWindowOfTheProgram) {
    // xdg-open is there but finds no browser ("no method available"): it starts, then fails.
    SetOpenDocumentHookForTesting({});
    const TempDir bin;
    const fs::path opener = bin.path() / "xdg-open";
    WriteFile(opener, "#!/bin/sh\necho \"$1\" >\"$0.called\"\nexit 3\n");
    fs::permissions(opener, fs::perms::owner_all);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin.str()) + ":" + path);
    const TempDir runtime;
    platform::SetRuntimeFolderForTesting(runtime.str());
    form.Gettingstarted1->trigger();
    QTRY_VERIFY(form.findChild<QDialog*>("HelpWindow") != nullptr);
    qputenv("PATH", path);
    platform::SetRuntimeFolderForTesting(std::nullopt);
    auto* window = form.findChild<QDialog*>("HelpWindow");
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(ReadFile(bin.path() / "xdg-open.called").ends_with("/getting-started.html\n"));
    window->close();
}

}  // namespace
}  // namespace tarnwick::ui
