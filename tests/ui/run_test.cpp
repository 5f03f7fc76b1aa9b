// The main window's synchronisation run: run log, progress, cancel, close, failures.
// Every test that starts a worker has "Threading" in its name and runs under ThreadSanitizer too.
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>

#include "app/unattended.h"
#include "platform/system/system.h"
#include "platform/system/stop_signals.h"
#include "platform/volumes/drives.h"
#include "settings/folder_groups.h"
#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"
#include "ui/Flog.h"
#include "ui/Forms.h"
#include "ui/Text.h"
#include "ui/Unit1.h"

// Readable failure messages.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace tarnwick::ui {
namespace {

namespace fs = std::filesystem;
using testing::FixtureDrive;
using testing::FixtureDriveMap;
using testing::TempDir;
using testing::WriteFile;

// Processes events until `done` holds; false when it did not within the time limit.
bool WaitUntil(const std::function<bool()>& done, int limitMs = 120000) {
    const QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

// A drive map that hands every question to a fixture map, and first calls `hook` when the
// question comes from another thread than the test's (the run's worker).
class HookedDriveMap : public platform::DriveMap {
public:
    FixtureDriveMap fixture;
    std::function<void()> hook;  // set only while no worker runs

    std::vector<platform::Drive> Drives() override {
        Hook();
        return fixture.Drives();
    }
    std::optional<platform::Volume> VolumeOf(char letter) override {
        Hook();
        return fixture.VolumeOf(letter);
    }

private:
    void Hook() {
        if (hook && std::this_thread::get_id() != testThread_) {
            hook();
        }
    }
    const std::thread::id testThread_ = std::this_thread::get_id();
};

// Holds the worker at one point until the test lets it go.
class Gate {
public:
    void Block() {
        std::unique_lock lock(mutex_);
        if (reached_) {
            return;
        }
        reached_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    bool Reached() {
        const std::lock_guard lock(mutex_);
        return reached_;
    }
    void Release() {
        const std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool reached_ = false;
    bool released_ = false;
};

// Answers the log window whenever it is open modally: notes its caption and presses OK.
class LogCloser {
public:
    explicit LogCloser(TForm2& log) {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this, &log] {
            if (QApplication::activeModalWidget() == &log) {
                captions << log.windowTitle();
                log.Button1->click();
            }
        });
        timer_.start(10);
    }
    QStringList captions;

private:
    QTimer timer_;
};

struct DriveSetup {
    char letter;
    std::uint32_t type;
    std::uint32_t serial;
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        map_ = std::make_shared<HookedDriveMap>();
        platform::SetDriveMapForTesting(map_);
        AddDrive({'C', platform::kDriveFixed, 1000});
        AddDrive({'D', platform::kDriveFixed, 1001});
        AddDrive({'E', platform::kDriveFixed, 1002});
        platform::SetComputerNameForTesting("TESTPC");
        fs::create_directories(Native('C', "Tools"));
        platform::SetExecutablePathForTesting(Native('C', "Tools/Tarnwick.exe"));
        Form2 = &log_;
        form_ = std::make_unique<TForm1>();
        Form1 = form_.get();
        form_->show();
    }

    void TearDown() override {
        gate_.Release();
        form_.reset();
        Form1 = nullptr;
        Form2 = nullptr;
        SetSyncThreadStartFailsForTesting(false);
        platform::SetDriveMapForTesting(nullptr);
        platform::SetComputerNameForTesting(std::nullopt);
        platform::SetExecutablePathForTesting(std::nullopt);
    }

    void AddDrive(const DriveSetup& setup) {
        const fs::path root = drives_ / std::string(1, setup.letter);
        fs::create_directories(root);
        FixtureDrive drive;
        drive.root = root.string();
        drive.type = setup.type;
        drive.serial = setup.serial;
        map_->fixture.Set(setup.letter, drive);
    }

    std::string Native(char letter, const std::string& relative) const {
        return (drives_ / std::string(1, letter) / relative).string();
    }

    static void Store(int group, int entry, const std::string& path, bool merge = false,
                      bool subfolders = false, int type = 3, std::string serial = "") {
        if (serial.empty() && path.size() > 1) {
            serial = std::to_string(1000 + (path[0] - 'C'));
        }
        ASSERT_TRUE(WriteFolderEntry(group, entry, {path, type, serial, merge, subfolders}));
    }

    // Group 1 copies many files from D:\many to E:\many, group 2 one file from D:\later to
    // E:\later. The worker stops at its next drive question after the first file it copied,
    // until the gate is released.
    void StoreTwoGroupsAndHoldTheFirst() {
        for (int i = 0; i < 40; ++i) {
            WriteFile(Native('D', "many/file" + std::to_string(i)), std::string(1000, 'x'));
        }
        WriteFile(Native('D', "later/late.txt"), "late");
        fs::create_directories(Native('E', "many"));
        fs::create_directories(Native('E', "later"));
        Store(1, 1, "D:\\many", false, true);
        Store(1, 2, "E:\\many");
        Store(2, 1, "D:\\later", false, true);
        Store(2, 2, "E:\\later");
        map_->hook = [form = form_.get(), gate = &gate_] {
            if (form->Progress.FilesCopied.load() >= 1) {
                gate->Block();
            }
        };
    }

    // Presses Synchronize and waits until the worker has ended and its changes have arrived.
    void RunToEnd() {
        ASSERT_TRUE(form_->bbtnStart->isVisible());
        ASSERT_TRUE(form_->bbtnStart->isEnabled());
        form_->bbtnStart->click();
        ASSERT_TRUE(WaitUntil([this] { return !form_->SyncRunning(); }));
    }

    QStringList LogLines() const { return log_.Memo1->toPlainText().split('\n'); }

    // The date-time text with each digit replaced, to compare its shape with the locale's.
    static std::string Shape(std::string text) {
        for (char& c : text) {
            if (c >= '0' && c <= '9') {
                c = '9';
            }
        }
        return text;
    }

    // The frame lines carry the locale's date-time text between fixed pieces.
    static void ExpectFrame(const QString& line, const std::string& head) {
        const std::string text = FromQt(line);
        const std::string tail = " ------------";
        ASSERT_TRUE(text.starts_with(head) && text.ends_with(tail)) << text;
        const std::string when = text.substr(head.size(), text.size() - head.size() - tail.size());
        EXPECT_EQ(Shape(when), Shape(DateTimeText())) << text;
    }

    static void ExpectEndLines(const QStringList& lines, int total) {
        ASSERT_GE(lines.size(), 5);
        const auto n = lines.size();
        EXPECT_EQ(lines[n - 4], QString());
        EXPECT_EQ(lines[n - 3], QString("Total files copied : %1.").arg(total));
        EXPECT_EQ(lines[n - 2], QString());
        ExpectFrame(lines[n - 1], "------------ Logging Ends   ");
    }

    static void ExpectErrorLine(const QString& line, const std::string& folder) {
        const std::string text = FromQt(line);
        const std::string tail = " The folder \"" + folder + "\" was not found.";
        ASSERT_TRUE(text.starts_with("Error ") && text.ends_with(tail)) << text;
        const std::string when = text.substr(6, text.size() - 6 - tail.size());
        EXPECT_EQ(Shape(when), Shape(DateTimeText())) << text;
    }

    void ExpectIdle() const {
        EXPECT_TRUE(form_->bbtnStart->isVisible());
        EXPECT_TRUE(form_->bbtnStart->isEnabled());
        EXPECT_FALSE(form_->bbtnCancel->isVisible());
        EXPECT_FALSE(form_->Timer1->isActive());
        EXPECT_EQ(form_->Edit1->text(), QString());
        EXPECT_EQ(form_->Edit2->text(), QString());
    }

    static int CountFiles(const fs::path& folder) {
        int count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            count += entry.is_regular_file() ? 1 : 0;
        }
        return count;
    }

    // Every file in `copy` is a whole copy of its namesake in `original`: nothing half written,
    // no temporary file left.
    static void ExpectOnlyWholeCopies(const fs::path& original, const fs::path& copy) {
        for (const auto& entry : fs::recursive_directory_iterator(copy)) {
            if (!entry.is_regular_file()) {
                continue;
            }
            const fs::path source = original / fs::relative(entry.path(), copy);
            ASSERT_TRUE(fs::exists(source)) << "left over: " << entry.path();
            EXPECT_EQ(fs::file_size(entry.path()), fs::file_size(source)) << entry.path();
        }
    }

    TempDir drives_;
    std::shared_ptr<HookedDriveMap> map_;
    Gate gate_;
    TForm2 log_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(RunTest, MainWindowLayoutNamesAndCaptions) {
    TForm1& w = *form_;
    EXPECT_EQ(w.windowTitle(), QString("Tarnwick - Location C:\\Tools"));
    EXPECT_EQ(w.minimumSize(), QSize(300, 300));

    const std::pair<const char*, QString> captions[] = {{"Label3", "Source folders:"},
                                                        {"Label1", "Computer:  "},
                                                        {"Label9", "Serial: "},
                                                        {"Label10", QString(10, ' ')},
                                                        {"Label8", "Label: "},
                                                        {"Label5", "Destination folders:"},
                                                        {"Label11", "Serial: "},
                                                        {"Label12", QString(10, ' ')},
                                                        {"Label13", "Label: "},
                                                        {"Label2", "From:"},
                                                        {"Label4", "To:"},
                                                        {"Label6", "Synchronized files: "},
                                                        {"lblCount", "0"}};
    for (const auto& [name, caption] : captions) {
        const QLabel* found = w.findChild<QLabel*>(name);
        ASSERT_NE(found, nullptr) << name;
        EXPECT_EQ(found->text(), caption) << name;
    }
    EXPECT_TRUE(w.Label3->font().bold() && w.Label5->font().bold() && w.lblComputer->font().bold());
    EXPECT_EQ(w.lblType1->alignment() & Qt::AlignRight, Qt::AlignRight);
    EXPECT_EQ(w.findChild<QListWidget*>("ListBox1")->selectionMode(),
              QAbstractItemView::SingleSelection);
    EXPECT_FALSE(w.ListBox2->isSortingEnabled());

    const std::pair<const char*, const char*> hints[] = {
        {"bbtnNew1", "New source folder"},
        {"bbtnChange1", "Change selected source folder"},
        {"bbtnDel1", "Delete selected source folder"},
        {"bbtnNew2", "New destination folder"},
        {"bbtnChange2", "Change selected destination folder"},
        {"bbtnDel2", "Delete selected destination folder"}};
    for (const auto& [name, hint] : hints) {
        const QToolButton* button = w.PanelButtons->findChild<QToolButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->toolTip(), QString(hint));
        EXPECT_FALSE(button->icon().isNull());
    }
    EXPECT_EQ(w.findChild<QPushButton*>("bbtnStart")->text(), QString("&Synchronize "));
    EXPECT_EQ(w.bbtnCancel->text(), QString("&Cancel"));
    EXPECT_FALSE(w.bbtnCancel->isVisible());
    EXPECT_EQ(w.bbtnClose->text(), QString("&Exit"));
    EXPECT_EQ(w.bbtnClose->toolTip(), QString("Exit the application"));
    EXPECT_TRUE(w.findChild<QLineEdit*>("Edit1")->isReadOnly());
    EXPECT_TRUE(w.Edit2->isReadOnly());
    EXPECT_EQ(w.findChild<QTimer*>("Timer1")->interval(), 100);
    EXPECT_EQ(w.findChild<QTimer*>("TimerError")->interval(), 500);
    EXPECT_FALSE(w.Timer1->isActive());

    QStringList menu;
    for (const QAction* top : w.menuBar()->actions()) {
        menu << top->menu()->objectName() + "=" + top->text();
        // Six items and nothing between them.
        for (const QAction* item : top->menu()->actions()) {
            menu << (item->isSeparator() ? QStringLiteral("-")
                                         : item->objectName() + "=" + item->text());
        }
    }
    EXPECT_EQ(menu, QStringList({"File1=&File",
                                 "Copythisapplicatio1=&Copy and Run this application from a "
                                 "removable device",
                                 "Log1=&Log", "Exit1=&Exit", "Help1=&Help",
                                 "Gettingstarted1=&Getting started",
                                 "OnlineHelp1=&Online documentation", "About1=&About"}));

    // At every size: the progress fields 50 narrower than their panel, Exit 10 pixels left of
    // the button column, each group of list buttons level with its list.
    for (const QSize size : {QSize(524, 462), QSize(800, 600), QSize(300, 300)}) {
        w.resize(size);
        QTest::qWait(0);
        const auto at = [&](const QWidget* widget) { return widget->mapTo(&w, QPoint(0, 0)); };
        EXPECT_EQ(w.Edit1->width(), w.PanelEdit->width() - 50) << size.width();
        EXPECT_EQ(w.Edit2->width(), w.PanelEdit->width() - 50) << size.width();
        EXPECT_EQ(at(w.bbtnClose).x() + w.bbtnClose->width(), at(w.PanelButtons).x() - 10);
        EXPECT_EQ(at(w.bbtnNew1).y(), at(w.ListBox1).y()) << size.width();
        EXPECT_EQ(at(w.bbtnNew2).y(), at(w.ListBox2).y()) << size.width();
        EXPECT_LT(at(w.bbtnDel1).y() + w.bbtnDel1->height(), at(w.bbtnNew2).y());
        EXPECT_GT(at(w.bbtnNew1).x(), at(w.ListBox1).x() + w.ListBox1->width());
    }
}

TEST_F(RunTest, ShowSetsTheLogAndTheCaptionFromTheProgramsFolder) {
    log_.Memo1->setPlainText("Memo1");
    SyncErrorFlag = true;
    platform::SetExecutablePathForTesting(Native('E', "Tarnwick"));
    TForm1 fromRoot;
    fromRoot.show();
    EXPECT_EQ(fromRoot.LogMemo.data(), log_.Memo1);
    EXPECT_EQ(log_.Memo1->toPlainText(), QString());
    EXPECT_FALSE(SyncErrorFlag);
    EXPECT_EQ(fromRoot.windowTitle(), QString("Tarnwick - Location E:"));
    fromRoot.close();

    platform::SetExecutablePathForTesting("");
    TForm1 unknown;
    unknown.show();
    EXPECT_EQ(unknown.windowTitle(), QString("Tarnwick"));
    unknown.close();

    // The Log command opens the log window modally; Exit closes the main window.
    LogCloser closer(log_);
    form_->Log1->trigger();
    EXPECT_EQ(closer.captions, QStringList({"Log"}));
    form_->Exit1->trigger();
    EXPECT_FALSE(form_->isVisible());
    form_->show();
    form_->bbtnClose->click();
    EXPECT_FALSE(form_->isVisible());
}

TEST_F(RunTest, ThreadingRunWithoutGroupsWritesOnlyTheFrame) {
    RunToEnd();
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 5) << FromQt(lines.join('|'));
    ExpectFrame(lines[0], "------------ Logging Starts ");
    ExpectEndLines(lines, 0);
    EXPECT_EQ(form_->lblCount->text(), QString("0"));
    EXPECT_EQ(log_.windowTitle(), QString("Log"));
    EXPECT_FALSE(SyncErrorFlag);
    ExpectIdle();
}

TEST_F(RunTest, ThreadingPassLinesCountsMergeAndDeletedSlots) {
    using testing::kBaseTime;
    using testing::kOneSecond;
    WriteFile(Native('D', "src/a.txt"), "a", kBaseTime);
    WriteFile(Native('D', "src/b.txt"), "b", kBaseTime);
    WriteFile(Native('D', "src/sub/c.txt"), "c", kBaseTime);
    fs::create_directories(Native('E', "backup"));
    WriteFile(Native('E', "merge/m.txt"), "m", kBaseTime);
    WriteFile(Native('E', "merge/msub/n.txt"), "n", kBaseTime);
    WriteFile(Native('D', "three/x.txt"), "x", kBaseTime + 10 * kOneSecond);
    WriteFile(Native('E', "three/x.txt"), "x", kBaseTime + 10 * kOneSecond);
    fs::create_directories(Native('E', "three1"));

    // Group 1: the source without subfolders (its destinations' own value is never used), a
    // Backup destination, a deleted slot, a Merge destination.
    Store(1, 1, "D:\\src", false, false);
    Store(1, 2, "E:\\backup", false, true);
    Store(1, 3, "E:\\deleted", false, true);
    ASSERT_TRUE(DeleteFolderEntry(1, 3));
    Store(1, 4, "E:\\merge", true, true);
    // Group 2 is deleted with its destination; group 3 has one pass with nothing to copy.
    Store(2, 1, "D:\\src");
    Store(2, 2, "E:\\three1");
    ASSERT_TRUE(DeleteFolderGroup(2));
    Store(3, 1, "D:\\three");
    Store(3, 2, "E:\\three");
    Store(3, 3, "E:\\three1");

    RunToEnd();
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 14) << FromQt(lines.join('\n'));
    ExpectFrame(lines[0], "------------ Logging Starts ");
    EXPECT_EQ(
        lines.mid(1, 9),
        QStringList({"Synchronising from \"D:\\src\" to \"E:\\backup\"", "2 files copied.",
                     "Synchronising from \"D:\\src\" to \"E:\\merge\"", "2 files copied.",
                     "Synchronising from \"E:\\merge\" to \"D:\\src\"", "1 file copied.",
                     "Synchronising from \"D:\\three\" to \"E:\\three\"",
                     "Synchronising from \"D:\\three\" to \"E:\\three1\"", "1 file copied."}));
    ExpectEndLines(lines, 6);
    EXPECT_EQ(form_->lblCount->text(), QString("6"));
    ExpectIdle();

    // The source's subfolder flag held for every destination, in both directions.
    EXPECT_FALSE(fs::exists(Native('E', "backup/sub")));
    EXPECT_FALSE(fs::exists(Native('E', "merge/sub")));
    EXPECT_FALSE(fs::exists(Native('D', "src/msub")));
    EXPECT_TRUE(fs::exists(Native('D', "src/m.txt")));
    EXPECT_FALSE(fs::exists(Native('E', "deleted")));
    EXPECT_EQ(CountFiles(Native('E', "three1")), 1);

    // A second run keeps the log of one run only; the file that came back from the Merge
    // destination now goes to the Backup destination too.
    RunToEnd();
    const QStringList again = LogLines();
    ASSERT_EQ(again.size(), 11) << FromQt(again.join('\n'));
    EXPECT_EQ(again[2], QString("1 file copied."));
    ExpectEndLines(again, 1);
    EXPECT_EQ(form_->lblCount->text(), QString("1"));
    EXPECT_TRUE(fs::exists(Native('E', "backup/m.txt")));
}

TEST_F(RunTest, ThreadingMissingFoldersWriteErrorLinesAndOpenTheLog) {
    fs::create_directories(Native('E', "one"));
    fs::create_directories(Native('E', "two"));
    fs::create_directories(Native('D', "present"));
    Store(1, 1, "D:\\missing", false, true);
    Store(1, 2, "E:\\one");
    Store(1, 3, "E:\\two", true);
    Store(2, 1, "D:\\present");
    Store(2, 2, "E:\\gone", true);

    LogCloser closer(log_);
    RunToEnd();
    ASSERT_TRUE(WaitUntil([&] { return !form_->TimerError->isActive() && !log_.isVisible(); }));

    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 15) << FromQt(lines.join('\n'));
    EXPECT_EQ(lines[1], QString("Synchronising from \"D:\\missing\" to \"E:\\one\""));
    ExpectErrorLine(lines[2], "D:\\missing");
    EXPECT_EQ(lines[3], QString("Synchronising from \"D:\\missing\" to \"E:\\two\""));
    ExpectErrorLine(lines[4], "D:\\missing");
    EXPECT_EQ(lines[5], QString("Synchronising from \"E:\\two\" to \"D:\\missing\""));
    ExpectErrorLine(lines[6], "D:\\missing");
    EXPECT_EQ(lines[7], QString("Synchronising from \"D:\\present\" to \"E:\\gone\""));
    ExpectErrorLine(lines[8], "E:\\gone");
    EXPECT_EQ(lines[9], QString("Synchronising from \"E:\\gone\" to \"D:\\present\""));
    ExpectErrorLine(lines[10], "E:\\gone");
    ExpectEndLines(lines, 0);

    // The log window opened by itself, retitled; the caption and the flag outlast the run.
    ASSERT_FALSE(closer.captions.isEmpty());
    for (const QString& caption : closer.captions) {
        EXPECT_EQ(caption, QString("Error during synchronization"));
    }
    EXPECT_EQ(log_.windowTitle(), QString("Error during synchronization"));
    EXPECT_TRUE(SyncErrorFlag);
    EXPECT_FALSE(fs::exists(Native('D', "missing")));
    ExpectIdle();

    // The next run starts from a clean flag and caption.
    Store(1, 1, "!");
    Store(2, 1, "!");
    RunToEnd();
    EXPECT_EQ(log_.windowTitle(), QString("Log"));
    EXPECT_FALSE(SyncErrorFlag);
}

// Files a pass could not copy get a line after its count: an ordinary line while the
// destination took other copies, an error line that opens the log when it refused them all (a
// volume remounted read-only; the bind mount needs root).
TEST_F(RunTest, ThreadingFilesNotCopiedAreToldAndARefusingDestinationIsAnError) {
    WriteFile(Native('D', "src/a.txt"), "a");
    WriteFile(Native('D', "src/b.txt"), "b");
    WriteFile(Native('E', "dst/b.txt"), "old");
    testing::SetLastWrite(Native('E', "dst/b.txt"), testing::kBaseTime);
    fs::permissions(Native('E', "dst/b.txt"), fs::perms::owner_read | fs::perms::group_read);
    Store(1, 1, "D:\\src", false, true);
    Store(1, 2, "E:\\dst");

    RunToEnd();
    QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 8) << FromQt(lines.join('\n'));
    EXPECT_EQ(lines[2], QString("1 file copied."));
    EXPECT_EQ(lines[3], QString("1 file could not be copied to \"E:\\dst\" (read-only)."));
    EXPECT_FALSE(SyncErrorFlag);

    if (geteuid() != 0) {
        GTEST_SKIP() << "a read-only volume needs root for its bind mount";
    }
    const std::string ro = Native('E', "ro");
    fs::create_directories(ro);
    ASSERT_EQ(mount(ro.c_str(), ro.c_str(), nullptr, MS_BIND, nullptr), 0);
    const struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{ro};
    ASSERT_EQ(mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    Store(1, 2, "E:\\ro");

    LogCloser closer(log_);
    RunToEnd();
    ASSERT_TRUE(WaitUntil([&] { return !form_->TimerError->isActive() && !log_.isVisible(); }));
    lines = LogLines();
    ASSERT_EQ(lines.size(), 7) << FromQt(lines.join('\n'));
    const std::string error = FromQt(lines[2]);
    const std::string tail = " 2 files could not be copied to \"E:\\ro\" (read-only file system).";
    ASSERT_TRUE(error.starts_with("Error ") && error.ends_with(tail)) << error;
    ASSERT_FALSE(closer.captions.isEmpty());
    EXPECT_EQ(closer.captions.front(), QString("Error during synchronization"));
    EXPECT_TRUE(SyncErrorFlag);
}

// A run without a window writes the window's lines for the same settings, and copies the same.
TEST_F(RunTest, ThreadingUnattendedRunWritesTheLinesOfTheWindow) {
    using testing::kBaseTime;
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"no groups", [] {}},
        {"Backup, Merge, a deleted destination and a deleted group",
         [this] {
             WriteFile(Native('D', "src/a.txt"), "a", kBaseTime);
             WriteFile(Native('D', "src/sub/c.txt"), "c", kBaseTime);
             fs::create_directories(Native('E', "backup"));
             WriteFile(Native('E', "merge/m.txt"), "m", kBaseTime);
             Store(1, 1, "D:\\src", false, true);
             Store(1, 2, "E:\\backup");
             Store(1, 3, "E:\\deleted");
             ASSERT_TRUE(DeleteFolderEntry(1, 3));
             Store(1, 4, "E:\\merge", true);
             Store(2, 1, "D:\\src");
             Store(2, 2, "E:\\other");
             ASSERT_TRUE(DeleteFolderGroup(2));
         }},
        {"a missing source and a missing Merge destination",
         [this] {
             fs::create_directories(Native('E', "one"));
             fs::create_directories(Native('D', "present"));
             Store(1, 1, "D:\\missing");
             Store(1, 2, "E:\\one", true);
             Store(2, 1, "D:\\present");
             Store(2, 2, "E:\\gone", true);
         }},
    };
    // The date-time texts may differ between the two runs; nothing else may.
    const auto timeless = [](const std::string& line) {
        return line.starts_with("------------") || line.starts_with("Error ") ? Shape(line) : line;
    };
    const TempDir runtime;
    platform::SetRuntimeFolderForTesting(runtime.str());
    for (const auto& [name, setUp] : cases) {
        SCOPED_TRACE(name);
        const auto fresh = [&] {
            for (const char letter : {'D', 'E'}) {
                fs::remove_all(Native(letter, ""));
                fs::create_directories(Native(letter, ""));
            }
            fs::remove(Native('C', "Tools/Tarnwick.INI"));
            setUp();
        };
        fresh();
        LogCloser closer(log_);
        RunToEnd();
        ASSERT_TRUE(WaitUntil([&] { return !form_->TimerError->isActive() && !log_.isVisible(); }));
        std::vector<std::string> window;
        for (const QString& line : LogLines()) {
            window.push_back(timeless(FromQt(line)));
        }
        const bool windowErrors = SyncErrorFlag;
        const int windowCopies = CountFiles(drives_.path());

        fresh();
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* out = open_memstream(&text, &size);
        ASSERT_NE(out, nullptr);
        RunOutcome outcome;
        {
            platform::StopSignals stop;
            app::StreamRunSink sink(out);
            const app::UnattendedRun run = app::RunUnattended(stop, sink, nullptr, 1);
            EXPECT_EQ(run.Signal, 0);
            outcome = run.Outcome;
        }
        std::fclose(out);
        std::vector<std::string> unattended;
        const std::string written(text, size);
        std::free(text);
        ASSERT_TRUE(written.ends_with('\n'));
        for (std::size_t start = 0; start < written.size();) {
            const std::size_t end = written.find('\n', start);
            unattended.push_back(timeless(written.substr(start, end - start)));
            start = end + 1;
        }
        EXPECT_EQ(unattended, window);
        EXPECT_EQ(outcome.Errors, windowErrors);
        EXPECT_EQ(CountFiles(drives_.path()), windowCopies);
    }
    platform::SetRuntimeFolderForTesting(std::nullopt);
}

TEST_F(RunTest, ThreadingCancelEndsTheRunWithTheTotalSoFar) {
    StoreTwoGroupsAndHoldTheFirst();

    form_->bbtnStart->click();
    ASSERT_TRUE(WaitUntil([this] { return gate_.Reached(); }));
    EXPECT_TRUE(form_->bbtnCancel->isVisible());
    EXPECT_TRUE(form_->Timer1->isActive());

    // The progress display shows the pass's paths and the count once a destination is known.
    form_->Timer1Timer();
    EXPECT_TRUE(form_->Edit1->text().startsWith("D:\\many")) << FromQt(form_->Edit1->text());
    EXPECT_TRUE(form_->Edit2->text().startsWith("E:\\many")) << FromQt(form_->Edit2->text());
    EXPECT_EQ(form_->lblCount->text(), QString::number(form_->Progress.FilesCopied.load()));

    form_->bbtnCancel->click();
    EXPECT_FALSE(form_->bbtnCancel->isVisible());
    EXPECT_FALSE(form_->Timer1->isActive());
    // Back to Synchronize at once, but not available while the worker is still busy.
    EXPECT_TRUE(form_->bbtnStart->isVisible());
    EXPECT_FALSE(form_->bbtnStart->isEnabled());
    EXPECT_TRUE(form_->SyncRunning());
    form_->btnStartClick();
    EXPECT_FALSE(form_->bbtnCancel->isVisible());

    // The progress display no longer changes after Cancel.
    const QString shown = form_->lblCount->text();
    form_->Timer1Timer();
    EXPECT_EQ(form_->lblCount->text(), shown);

    gate_.Release();
    ASSERT_TRUE(WaitUntil([this] { return !form_->SyncRunning(); }));
    ExpectIdle();
    const int copied = CountFiles(Native('E', "many"));
    const QStringList lines = LogLines();
    ExpectEndLines(lines, copied);
    // The line before the end lines says that the run was stopped.
    const std::string stopped = FromQt(lines[lines.size() - 5]);
    const std::string tail = " The synchronization was stopped before its end.";
    ASSERT_TRUE(stopped.starts_with("Cancelled ") && stopped.ends_with(tail)) << stopped;
    EXPECT_EQ(Shape(stopped.substr(10, stopped.size() - 10 - tail.size())), Shape(DateTimeText()));
    EXPECT_EQ(form_->lblCount->text(), QString::number(copied));
    EXPECT_FALSE(lines.join('\n').contains("D:\\later"));
    EXPECT_EQ(CountFiles(Native('E', "later")), 0);
    ExpectOnlyWholeCopies(Native('D', "many"), Native('E', "many"));
}

TEST_F(RunTest, ThreadingMovedRemovableDriveIsSynchronisedUnderItsNewLetter) {
    // The stick was E: when the group was stored; it now carries the letter F:, and E: is a
    // different volume that also holds a folder of that name.
    AddDrive({'F', platform::kDriveRemovable, 0x5A5A0001});
    WriteFile(Native('D', "docs/report.txt"), "report");
    fs::create_directories(Native('F', "docs"));
    fs::create_directories(Native('E', "docs"));
    Store(1, 1, "D:\\docs", false, true);
    Store(1, 2, "E:\\docs", false, false, platform::kDriveRemovable, std::to_string(0x5A5A0001));

    RunToEnd();
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 7) << FromQt(lines.join('\n'));
    EXPECT_EQ(lines[1], QString("Synchronising from \"D:\\docs\" to \"F:\\docs\""));
    EXPECT_EQ(lines[2], QString("1 file copied."));
    EXPECT_TRUE(fs::exists(Native('F', "docs/report.txt")));
    EXPECT_FALSE(fs::exists(Native('E', "docs/report.txt")));
}

TEST_F(RunTest, ThreadingClosingDuringARunStopsAndWaitsForTheWorker) {
    StoreTwoGroupsAndHoldTheFirst();
    form_->bbtnStart->click();
    ASSERT_TRUE(WaitUntil([this] { return gate_.Reached(); }));

    // The worker is let go only once the close has asked it to stop, so the close must wait.
    std::thread releaser([this, form = form_.get()] {
        while (form->Progress.Continue.load()) {
            std::this_thread::yield();
        }
        gate_.Release();
    });
    form_->close();
    releaser.join();
    EXPECT_FALSE(form_->SyncRunning());
    EXPECT_EQ(CountFiles(Native('E', "later")), 0);
    ExpectOnlyWholeCopies(Native('D', "many"), Native('E', "many"));

    // The worker's last changes may still be queued: they reach a window that still exists, or
    // are dropped with it.
    QCoreApplication::processEvents();
    form_.reset();
    QCoreApplication::processEvents();
}

TEST_F(RunTest, ThreadingClosingWithAStuckWorkerEndsTheProgramAfterItsWait) {
    StoreTwoGroupsAndHoldTheFirst();
    form_->bbtnStart->click();
    ASSERT_TRUE(WaitUntil([this] { return gate_.Reached(); }));

    // The worker stays held until the program would end; the test's end lets it go.
    bool ended = false;
    SetStuckWorkerEndForTesting([&] {
        ended = true;
        gate_.Release();
    });
    form_->close();
    SetStuckWorkerEndForTesting([] {});
    EXPECT_TRUE(ended);
    EXPECT_FALSE(form_->SyncRunning());
    ExpectOnlyWholeCopies(Native('D', "many"), Native('E', "many"));
}

TEST_F(RunTest, ThreadingAClosedLogOpensAgainOnlyForANewErrorLine) {
    // Group 1 writes an error line, group 2 is held in its pass, group 3 writes another error.
    StoreTwoGroupsAndHoldTheFirst();
    Store(1, 1, "D:\\missing");
    Store(1, 2, "E:\\later");
    Store(2, 1, "D:\\many", false, true);
    Store(2, 2, "E:\\many");
    Store(3, 1, "D:\\later");
    Store(3, 2, "E:\\gone");

    LogCloser closer(log_);
    form_->bbtnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return gate_.Reached() && closer.captions.size() == 1; }));
    // Closed by the user while the run goes on, the log stays closed: Cancel can be reached.
    for (int tick = 0; tick < 5; ++tick) {
        form_->Timer1Timer();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(closer.captions.size(), 1);
    EXPECT_TRUE(form_->bbtnCancel->isVisible());

    gate_.Release();
    ASSERT_TRUE(WaitUntil([&] { return !form_->SyncRunning() && closer.captions.size() == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return !form_->TimerError->isActive() && !log_.isVisible(); }));
    EXPECT_EQ(closer.captions.size(), 2);
}

TEST_F(RunTest, ThreadingClosingDuringTheCopyOfABigFileLeavesNoPartialFile) {
    WriteFile(Native('D', "big/small.txt"), "small");
    WriteFile(Native('D', "big/big.bin"), std::string(64 << 20, 'b'));
    fs::create_directories(Native('E', "big"));
    Store(1, 1, "D:\\big", false, true);
    Store(1, 2, "E:\\big");

    form_->bbtnStart->click();
    // Closing while the big file is on its way is the case that matters; closing before or after
    // it must be just as clean.
    WaitUntil(
        [this] {
            const auto source = form_->Progress.SourcePath.Get();
            return !form_->SyncRunning() || (source && source->ends_with("big.bin"));
        },
        20000);
    form_->close();
    EXPECT_FALSE(form_->SyncRunning());
    ExpectOnlyWholeCopies(Native('D', "big"), Native('E', "big"));
    form_.reset();
}

TEST_F(RunTest, ThreadingWorkerExceptionEndsTheRunWithItsEndLines) {
    struct Unexpected {};
    Store(1, 1, "D:\\src", false, true);
    Store(1, 2, "E:\\dst");
    map_->hook = [] { throw Unexpected{}; };

    LogCloser closer(log_);
    RunToEnd();
    ASSERT_TRUE(WaitUntil([&] { return !form_->TimerError->isActive() && !log_.isVisible(); }));
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 6) << FromQt(lines.join('\n'));
    EXPECT_TRUE(lines[1].startsWith("Error "));
    EXPECT_TRUE(lines[1].endsWith(" The synchronization stopped after an unexpected error."));
    ExpectEndLines(lines, 0);
    EXPECT_TRUE(SyncErrorFlag);
    ExpectIdle();

    map_->hook = nullptr;
    RunToEnd();
    ExpectEndLines(LogLines(), 0);
}

TEST_F(RunTest, ThreadingAThreadThatCannotStartLeavesTheWindowRunningUntilCancel) {
    log_.Memo1->setPlainText("last run");
    SetSyncThreadStartFailsForTesting(true);
    const QRect startPlace = form_->bbtnStart->geometry();
    form_->bbtnStart->click();
    EXPECT_FALSE(form_->SyncRunning());
    QTest::qWait(0);
    EXPECT_EQ(form_->bbtnCancel->geometry(), startPlace);
    EXPECT_TRUE(form_->bbtnCancel->isVisible());
    EXPECT_FALSE(form_->bbtnStart->isVisible());
    EXPECT_TRUE(form_->Timer1->isActive());
    form_->Timer1Timer();
    EXPECT_EQ(form_->Edit1->text(), QString());
    EXPECT_EQ(log_.Memo1->toPlainText(), QString("last run"));

    form_->bbtnCancel->click();
    ExpectIdle();

    SetSyncThreadStartFailsForTesting(false);
    RunToEnd();
    EXPECT_EQ(LogLines().size(), 5);
}

}  // namespace
}  // namespace tarnwick::ui
