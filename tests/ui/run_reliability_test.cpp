// The main window's run under stress: Cancel or close at seeded moments of a run with a Backup
// and a Merge destination, and start-up with settings files no version of the program wrote.
// Tests that start a worker have "Threading" in their name and run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <iostream>
#include <memory>
#include <random>

#include "platform/system/system.h"
#include "settings/folder_groups.h"
#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"
#include "support/tree.h"
#include "ui/Flog.h"
#include "ui/Forms.h"
#include "ui/Text.h"
#include "ui/Unit1.h"

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
using testing::CompareWithSource;
using testing::CopyOutcome;
using testing::Tree;

// Processes events until `done` holds; false when it did not within the limit (a hang).
bool WaitUntil(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(120000);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(2);
    }
    return true;
}

class RunReliability : public ::testing::Test {
protected:
    void SetUp() override {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        for (const char letter : {'C', 'D', 'E', 'F'}) {
            fs::create_directories(Root(letter));
            drives_->Set(letter, {Root(letter).string(), platform::kDriveFixed,
                                  0x7E570000U + static_cast<std::uint32_t>(letter), ""});
        }
        fs::create_directories(Root('C') / "Tools");
        platform::SetExecutablePathForTesting((Root('C') / "Tools" / "Tarnwick.exe").string());
        platform::SetComputerNameForTesting("TESTPC");
        Form2 = &log_;
        // The log opens by itself after an error line; it is answered at once.
        QObject::connect(&logCloser_, &QTimer::timeout, &logCloser_, [this] {
            if (QApplication::activeModalWidget() == &log_) {
                log_.Button1->click();
            }
        });
        logCloser_.start(10);
    }

    void TearDown() override {
        form_.reset();
        Form1 = nullptr;
        Form2 = nullptr;
        platform::SetComputerNameForTesting(std::nullopt);
        platform::SetExecutablePathForTesting(std::nullopt);
    }

    fs::path Root(char letter) const { return temp_ / std::string(1, letter); }

    void OpenWindow() {
        form_ = std::make_unique<TForm1>();
        Form1 = form_.get();
        form_->show();
    }

    // The count the run wrote into its log's total line; -1 when there is none.
    int LoggedTotal() const {
        const QString prefix = "Total files copied : ";
        for (const QString& line : log_.Memo1->toPlainText().split('\n')) {
            if (line.startsWith(prefix)) {
                return line.mid(prefix.size()).chopped(1).toInt();
            }
        }
        return -1;
    }

    testing::TempDir temp_;
    testing::ScopedDriveMap drives_;
    TForm2 log_;
    QTimer logCloser_;
    std::unique_ptr<TForm1> form_;
};

// Group 1: the source D:\src, a Backup destination E:\dst and a Merge destination F:\mrg. Both
// destinations hold older versions of some files and files of their own, which the Merge
// destination's pass back copies into the source.
TEST_F(RunReliability, ThreadingCancelOrCloseAtSeededMomentsLosesNothing) {
    ASSERT_TRUE(WriteFolderEntry(1, 1, {"D:\\src", 3, "", false, true}));
    ASSERT_TRUE(WriteFolderEntry(1, 2, {"E:\\dst", 3, "", false, false}));
    ASSERT_TRUE(WriteFolderEntry(1, 3, {"F:\\mrg", 3, "", true, false}));
    const fs::path source = Root('D') / "src";
    const fs::path backup = Root('E') / "dst";
    const fs::path merge = Root('F') / "mrg";

    constexpr unsigned kRuns = 16;
    unsigned interrupted = 0;
    for (unsigned seed = 1; seed <= kRuns; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        for (const fs::path& folder : {source, backup, merge}) {
            fs::remove_all(folder);
        }
        Tree sourceTree;
        Tree backupTree = {{"backup-only.txt", testing::File("stays", testing::kBaseTime)}};
        Tree mergeTree = {{"merge-only.txt", testing::File("comes back", testing::kBaseTime)},
                          {"m/inner.txt", testing::File("comes back too", testing::kBaseTime)}};
        for (const std::string folder : {"", "a/", "a/b/", "c/"}) {
            for (int file = 0; file < 5; ++file) {
                const std::string name = folder + "f" + std::to_string(file);
                const auto content = static_cast<unsigned>(random());
                sourceTree[name] = testing::File(testing::Pattern(random() % 100000, content),
                                                 testing::kBaseTime + 100 * testing::kOneSecond);
                if (random() % 2 == 0) {
                    backupTree[name] =
                        testing::File(testing::Pattern(100, content + 1), testing::kBaseTime);
                }
                if (random() % 2 == 0) {
                    mergeTree[name] =
                        testing::File(testing::Pattern(100, content + 2), testing::kBaseTime);
                }
            }
        }
        for (Tree* tree : {&sourceTree, &backupTree, &mergeTree}) {
            testing::AddParents(*tree);
        }
        testing::BuildTree(source, sourceTree);
        testing::BuildTree(backup, backupTree);
        testing::BuildTree(merge, mergeTree);
        const Tree sourceBefore = testing::ReadTree(source);
        const Tree backupBefore = testing::ReadTree(backup);
        const Tree mergeBefore = testing::ReadTree(merge);

        // Cancel, or close the window, once some files have been copied.
        OpenWindow();
        const bool closeWindow = seed % 2 == 0;
        const int copiesFirst = static_cast<int>(random() % 40);
        form_->bbtnStart->click();
        ASSERT_TRUE(WaitUntil([&] {
            return !form_->SyncRunning() || form_->Progress.FilesCopied.load() >= copiesFirst;
        }));
        if (closeWindow) {
            form_->close();
            EXPECT_FALSE(form_->SyncRunning()) << "the close did not wait for the worker";
        } else {
            form_->bbtnCancel->click();
            ASSERT_TRUE(WaitUntil([&] { return !form_->SyncRunning(); }));
        }
        QCoreApplication::processEvents();

        // The destinations hold old or whole new files; so does the source, whose new files can
        // only come from the Merge destination.
        const CopyOutcome toBackup =
            CompareWithSource(backupBefore, sourceBefore, testing::ReadTree(backup));
        const CopyOutcome toMerge =
            CompareWithSource(mergeBefore, sourceBefore, testing::ReadTree(merge));
        const Tree sourceAfter = testing::ReadTree(source);
        const CopyOutcome back = CompareWithSource(sourceBefore, mergeBefore, sourceAfter);
        EXPECT_EQ(toBackup.problems + toMerge.problems + back.problems, "");
        for (const fs::path& folder : {source, backup, merge}) {
            EXPECT_EQ(testing::TemporaryFiles(folder), std::vector<std::string>{});
        }
        if (!closeWindow) {
            EXPECT_EQ(LoggedTotal(), static_cast<int>(toBackup.copied.size() +
                                                      toMerge.copied.size() + back.copied.size()));
        }

        // A whole run afterwards brings every folder to where an uninterrupted run would have.
        form_.reset();
        OpenWindow();
        form_->bbtnStart->click();
        ASSERT_TRUE(WaitUntil([&] { return !form_->SyncRunning(); }));
        QCoreApplication::processEvents();
        interrupted += LoggedTotal() > 0 ? 1 : 0;
        // What the source held when it began: its files are newer than either destination's.
        Tree backupExpected = backupBefore;
        Tree mergeExpected = mergeBefore;
        Tree sourceExpected = sourceAfter;
        for (const auto& [name, entry] : sourceAfter) {
            backupExpected[name] = entry;
            mergeExpected[name] = entry;
        }
        for (const auto& [name, entry] : mergeBefore) {
            sourceExpected.emplace(name, entry);  // only what the source did not have
        }
        EXPECT_TRUE(testing::SameTree(testing::ReadTree(backup), backupExpected));
        EXPECT_TRUE(testing::SameTree(testing::ReadTree(merge), mergeExpected));
        EXPECT_TRUE(testing::SameTree(testing::ReadTree(source), sourceExpected));
        form_.reset();
    }
    // Where the moments fall depends on the scheduler; none inside a run would prove nothing.
    EXPECT_GT(interrupted, 0U);
    std::cout << interrupted << " of " << kRuns << " runs stopped before their end\n";
}

// The window starts, lists what the file allows and runs to its end with settings files that are
// cut off, binary, far too large or hold paths of 10,000 characters.
TEST_F(RunReliability, ThreadingStartUpAndRunWithHostileSettingsFiles) {
    const fs::path ini = Root('C') / "Tools" / "Tarnwick.INI";
    const std::string valid =
        "[1_TESTPC]\n1_PATH=D:\\src\n1_TYPE=3\n1_SERIAL=2119630916\n1_SUBDIR=1\n"  // D:'s serial
        "2_PATH=E:\\dst\n2_TYPE=2\n2_SERIAL=99999999999\n2_MERGE=-1\n"
        "[2_TESTPC]\n1_PATH=D:\\missing\n2_PATH=E:\\dst\n";
    std::string binary;
    for (int i = 0; i < 65536; ++i) {
        binary.push_back(static_cast<char>((i * 7919 + i / 256) % 256));
    }
    std::string huge = valid;
    while (huge.size() <= 17 << 20) {
        huge += std::string(4095, ';') + "\n";
    }
    const std::string longPath = "[1_TESTPC]\n1_PATH=D:\\" + std::string(10000, 'p') +
                                 "\n2_PATH=E:\\" + std::string(10000, 'q') + "\n";
    testing::WriteFile(Root('D') / "src" / "a.txt", "a", testing::kBaseTime);
    fs::create_directories(Root('E') / "dst");

    for (const std::string& text : {valid.substr(0, valid.size() / 2), valid, binary, huge,
                                    longPath, std::string("[1_TESTPC]\n1_PATH=\0\n", 20)}) {
        SCOPED_TRACE(text.substr(0, 40));
        testing::WriteFile(ini, text);
        OpenWindow();
        EXPECT_EQ(form_->ListBox1->count(), static_cast<int>(ListFolderGroups().size()));
        form_->bbtnStart->click();
        ASSERT_TRUE(WaitUntil([&] { return !form_->SyncRunning(); }));
        QCoreApplication::processEvents();
        EXPECT_GE(LoggedTotal(), 0) << FromQt(log_.Memo1->toPlainText());
        EXPECT_EQ(testing::ReadFile(ini), text) << "a run changed the settings file";
        form_.reset();
    }
    EXPECT_EQ(testing::ReadFile(Root('E') / "dst" / "a.txt"), "a");
}

}  // namespace
}  // namespace tarnwick::ui
